// The About box: the icon, the program's name and version, and OK.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

namespace velnar {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QLabel* m_icon;
    QLabel* m_version;
    QPushButton* m_okButton;
};

}  // namespace velnar
