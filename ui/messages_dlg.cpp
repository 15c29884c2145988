#include "ui/messages_dlg.h"

#include "ui/dialog_units.h"

#include <QListWidget>
#include <QPushButton>

namespace velnar {

CMessagesDlg::CMessagesDlg()
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_list(new QListWidget(this)),
      m_closeButton(new QPushButton(QStringLiteral("Close"), this))
{
    setWindowTitle(QStringLiteral("Dialog"));
    const DialogUnits units(font());
    setFixedSize(units.ToPixels(QSize(187, 160)));

    m_closeButton->setGeometry(units.ToPixels(65, 139, 50, 14));
    m_closeButton->setDefault(true);
    connect(m_closeButton, &QPushButton::clicked, this, &QDialog::accept);

    m_list->setGeometry(units.ToPixels(7, 7, 173, 125));
    m_list->setSortingEnabled(false);
    m_list->setAccessibleName(QStringLiteral("Messages"));
    // Every row is as wide as its own text and nothing is elided: a long
    // text widens the list's contents and the horizontal scroll bar reaches
    // its end.
    m_list->setUniformItemSizes(false);
    m_list->setTextElideMode(Qt::ElideNone);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    // Template order: the button, then the list.
    setTabOrder(m_closeButton, m_list);
}

void CMessagesDlg::AddString(const QString& text)
{
    if (m_list->count() >= kMaxEntries)
        delete m_list->takeItem(0);
    m_list->addItem(text);
}

void CMessagesDlg::ShowAndActivate()
{
    show();
    raise();
    activateWindow();
}

}  // namespace velnar
