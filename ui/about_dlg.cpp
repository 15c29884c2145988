#include "ui/about_dlg.h"

#include "ui/app_icon.h"
#include "ui/dialog_units.h"

#include <QLabel>
#include <QPushButton>

namespace velnar {

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_icon(new QLabel(this)),
      m_version(new QLabel(QStringLiteral("Velnar Version 1.0"), this)),
      m_okButton(new QPushButton(QStringLiteral("OK"), this))
{
    setWindowTitle(QStringLiteral("About Velnar"));
    const DialogUnits units(font());
    setFixedSize(units.ToPixels(QSize(235, 55)));

    const QRect iconRect = units.ToPixels(11, 17, 20, 20);
    m_icon->setGeometry(iconRect);
    m_icon->setPixmap(AppIcon().pixmap(iconRect.size()));
    PlaceText(m_version, units.ToPixels(40, 10, 119, 8));
    m_okButton->setGeometry(units.ToPixels(178, 7, 50, 14));
    m_okButton->setDefault(true);
    connect(m_okButton, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace velnar
