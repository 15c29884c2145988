#include "ui/protocol_choice.h"

#include "ui/dialog_units.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace velnar {

namespace {

QString CodecTitle(Codec codec)
{
    switch (codec) {
    case Codec::Ulaw: return QStringLiteral(u"µ-law");
    case Codec::Alaw: return QStringLiteral("A-law");
    case Codec::Gsm: return QStringLiteral("GSM");
    }
    return {};
}

void PlaceNamedLabel(const QString& text, const QRect& rect, QWidget* field)
{
    auto* label = new QLabel(text, field->parentWidget());
    PlaceText(label, rect);
    label->setBuddy(field);
}

}  // namespace

ProtocolChoice::ProtocolChoice(QWidget* dialog, const DialogUnits& units, int top) : QObject(dialog)
{
    auto* group = new QGroupBox(QStringLiteral("Protocol"), dialog);
    group->setGeometry(units.ToPixels(7, top, 173, kHeightUnits));
    m_versionBox = new QComboBox(dialog);
    m_versionBox->addItem(QStringLiteral("IAX version 1"), 1);
    m_versionBox->addItem(QStringLiteral("IAX version 2"), 2);
    m_versionBox->setGeometry(units.ToPixels(55, top + 11, 117, 14));
    m_versionBox->setAccessibleName(QStringLiteral("Protocol version"));
    PlaceNamedLabel(QStringLiteral("Version"), units.ToPixels(15, top + 14, 38, 8), m_versionBox);
    m_registerCheck = new QCheckBox(QStringLiteral("Register to receive calls"), dialog);
    m_registerCheck->setGeometry(units.ToPixels(55, top + 28, 117, 12));
    m_registerCheck->setAccessibleDescription(
        QStringLiteral("The server then knows where to send calls for this phone"));
    CreateCodecControls(dialog, units, top);
    QWidget::setTabOrder(m_versionBox, m_registerCheck);
    QWidget::setTabOrder(m_registerCheck, m_codecList);
    QWidget::setTabOrder(m_codecList, m_upButton);
    QWidget::setTabOrder(m_upButton, m_downButton);
    connect(m_versionBox, &QComboBox::currentIndexChanged, this, &ProtocolChoice::UpdateEnabled);
    connect(m_codecList, &QListWidget::currentRowChanged, this, &ProtocolChoice::UpdateEnabled);
    connect(m_upButton, &QPushButton::clicked, this, [this] { MoveCodec(-1); });
    connect(m_downButton, &QPushButton::clicked, this, [this] { MoveCodec(1); });
}

void ProtocolChoice::CreateCodecControls(QWidget* dialog, const DialogUnits& units, int top)
{
    m_codecList = new QListWidget(dialog);
    m_codecList->setGeometry(units.ToPixels(55, top + 43, 70, 31));
    m_codecList->setAccessibleName(QStringLiteral("Codec order"));
    m_codecList->setAccessibleDescription(QStringLiteral("Codecs offered, most preferred first"));
    PlaceNamedLabel(QStringLiteral("Codecs"), units.ToPixels(15, top + 46, 38, 8), m_codecList);
    m_upButton = new QPushButton(QStringLiteral("Up"), dialog);
    m_upButton->setGeometry(units.ToPixels(129, top + 43, 43, 14));
    m_upButton->setAccessibleDescription(QStringLiteral("Prefer the selected codec more"));
    m_downButton = new QPushButton(QStringLiteral("Down"), dialog);
    m_downButton->setGeometry(units.ToPixels(129, top + 60, 43, 14));
    m_downButton->setAccessibleDescription(QStringLiteral("Prefer the selected codec less"));
    // Enter stays the dialog's OK.
    m_upButton->setAutoDefault(false);
    m_downButton->setAutoDefault(false);
}

void ProtocolChoice::Show(const ProtocolSettings& protocol)
{
    m_versionBox->setCurrentIndex(protocol.version == 2 ? 1 : 0);
    m_registerCheck->setChecked(protocol.registerForCalls);
    m_codecList->clear();
    for (Codec codec : protocol.codecs) {
        auto* item = new QListWidgetItem(CodecTitle(codec), m_codecList);
        item->setData(Qt::UserRole, static_cast<int>(codec));
    }
    m_codecList->setCurrentRow(0);
    UpdateEnabled();
}

ProtocolSettings ProtocolChoice::Chosen() const
{
    ProtocolSettings protocol;
    protocol.version = m_versionBox->currentData().toInt();
    protocol.registerForCalls = m_registerCheck->isChecked();
    protocol.codecs.clear();
    for (int row = 0; row < m_codecList->count(); ++row)
        protocol.codecs.push_back(
            static_cast<Codec>(m_codecList->item(row)->data(Qt::UserRole).toInt()));
    return protocol;
}

void ProtocolChoice::UpdateEnabled()
{
    const bool version2 = m_versionBox->currentData().toInt() == 2;
    const int row = m_codecList->currentRow();
    m_registerCheck->setEnabled(version2);
    m_codecList->setEnabled(version2);
    m_upButton->setEnabled(version2 && row > 0);
    m_downButton->setEnabled(version2 && row >= 0 && row + 1 < m_codecList->count());
}

void ProtocolChoice::MoveCodec(int rows)
{
    const int from = m_codecList->currentRow();
    const int to = from + rows;
    if (from < 0 || to < 0 || to >= m_codecList->count())
        return;
    m_codecList->insertItem(to, m_codecList->takeItem(from));
    m_codecList->setCurrentRow(to);
}

}  // namespace velnar
