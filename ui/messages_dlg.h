// The messages window: every status text the phone engine has shown since
// start, one entry each, in order of arrival. Modeless and without an owner
// window; closing it (Close, Escape, the close box) only hides it.
#pragma once

#include <QDialog>
#include <QString>

class QListWidget;
class QPushButton;

namespace velnar {

class CMessagesDlg : public QDialog {
    Q_OBJECT
public:
    CMessagesDlg();

    // Appends text as a new entry, whether the window is shown or not. The
    // view is not scrolled to it. Beyond kMaxEntries the oldest entry goes:
    // strangers flooding the phone with calls add a text each, and the log
    // must not grow for as long as they do.
    void AddString(const QString& text);
    static constexpr int kMaxEntries = 10000;
    // Shows and activates the window, or brings it to the front.
    void ShowAndActivate();

    QListWidget* m_list;

private:
    QPushButton* m_closeButton;
};

}  // namespace velnar
