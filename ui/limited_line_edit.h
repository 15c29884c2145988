// A line edit whose typing is limited to a number of characters, like a
// dialog edit with a text limit: the user cannot make the text longer than
// the limit (typing, pasting, dropping), but the program may set a longer
// text, and the user may then still delete from it.
//
// QLineEdit::setMaxLength would also cut the program's own texts, which the
// phone's keypad must be able to extend beyond the typing limit.
#pragma once

#include <QLineEdit>
#include <QString>

namespace velnar {

class LimitedLineEdit : public QLineEdit {
    Q_OBJECT
public:
    LimitedLineEdit(int maxChars, QWidget* parent = nullptr);

    int MaxChars() const { return m_maxChars; }
    // Sets a text of any length, bypassing the typing limit.
    void SetTextUnchecked(const QString& text);

    // The check made when a dialog's values are taken (OK): with more than
    // MaxChars characters present it shows "Please enter no more than N
    // characters." with an exclamation icon, puts the focus back on the edit
    // and returns false.
    bool CheckLength(QWidget* dialog);

private:
    friend class GrowthLimit;
    int m_maxChars;
    QString m_lastText;  // the text before the edit being validated
    bool m_bypassLimit = false;
};

}  // namespace velnar
