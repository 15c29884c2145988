#include "ui/call_stats_dlg.h"

#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace velnar {

namespace {

constexpr int kRefreshMs = 1000;

const char* const kRowNames[CCallStatsDlg::kRows] = {
    "Duration:",    "Voice format:", "Frames sent:", "Frames received:",
    "Frames lost:", "Jitter:",       "Round trip:",  "Jitter buffer:",
};

QString Milliseconds(int ms)
{
    return ms < 0 ? QStringLiteral("-") : QStringLiteral("%1 ms").arg(ms);
}

// The figures as the rows show them; before any call every row says "-".
QStringList RowTexts(const CallFigures& f)
{
    if (!f.started)
        return QStringList(CCallStatsDlg::kRows, QStringLiteral("-"));
    return {QString::fromStdString(FormatDuration(f.durationMs)) +
                (f.connected ? QString() : QStringLiteral(" (ended)")),
            QString::fromStdString(VoiceFormatName(f.voiceFormat)),
            QString::number(f.framesSent),
            QString::number(f.framesReceived),
            QString::number(f.framesLost),
            QStringLiteral("%1 ms").arg(f.jitterMs, 0, 'f', 1),
            Milliseconds(f.roundTripMs),
            Milliseconds(f.bufferDelayMs)};
}

}  // namespace

CCallStatsDlg::CCallStatsDlg(FiguresFn figures)
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_figures(std::move(figures))
{
    setWindowTitle(QStringLiteral("Call statistics"));
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    auto* rows = new QFormLayout;
    for (int i = 0; i < kRows; ++i) {
        auto* name = new QLabel(QString::fromLatin1(kRowNames[i]), this);
        m_values[i] = new QLabel(this);
        m_values[i]->setTextInteractionFlags(Qt::TextSelectableByKeyboard |
                                             Qt::TextSelectableByMouse);
        // A reader that lands on a value hears which figure it is.
        m_values[i]->setAccessibleName(name->text().chopped(1));
        name->setBuddy(m_values[i]);
        rows->addRow(name, m_values[i]);
    }
    layout->addLayout(rows);
    m_closeButton = new QPushButton(QStringLiteral("Close"), this);
    m_closeButton->setDefault(true);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(m_closeButton, 0, Qt::AlignHCenter);
    m_refreshTimer.setInterval(kRefreshMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &CCallStatsDlg::Refresh);
    Refresh();
}

void CCallStatsDlg::Refresh()
{
    const QStringList texts = RowTexts(m_figures ? m_figures() : CallFigures());
    for (int i = 0; i < kRows; ++i) {
        if (m_values[i]->text() != texts[i])
            m_values[i]->setText(texts[i]);
    }
}

void CCallStatsDlg::ShowAndActivate()
{
    show();
    raise();
    activateWindow();
}

void CCallStatsDlg::showEvent(QShowEvent* event)
{
    Refresh();
    m_refreshTimer.start();
    QDialog::showEvent(event);
}

void CCallStatsDlg::hideEvent(QHideEvent* event)
{
    m_refreshTimer.stop();
    QDialog::hideEvent(event);
}

}  // namespace velnar
