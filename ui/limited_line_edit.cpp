#include "ui/limited_line_edit.h"

#include <QMessageBox>
#include <QValidator>

namespace velnar {

// Refuses an edit that makes the text longer than the limit; an edit that
// shortens an over-long text (set by the program) is allowed.
class GrowthLimit : public QValidator {
public:
    explicit GrowthLimit(LimitedLineEdit& edit) : QValidator(&edit), m_edit(edit) {}

    State validate(QString& input, int&) const override
    {
        if (m_edit.m_bypassLimit || input.size() <= m_edit.m_maxChars)
            return Acceptable;
        return input.size() > m_edit.m_lastText.size() ? Invalid : Acceptable;
    }

private:
    LimitedLineEdit& m_edit;
};

LimitedLineEdit::LimitedLineEdit(int maxChars, QWidget* parent)
    : QLineEdit(parent), m_maxChars(maxChars)
{
    // Validation runs before textChanged, so m_lastText still holds the
    // previous text while an edit is checked.
    connect(this, &QLineEdit::textChanged, this,
            [this](const QString& text) { m_lastText = text; });
    setValidator(new GrowthLimit(*this));
}

void LimitedLineEdit::SetTextUnchecked(const QString& text)
{
    m_bypassLimit = true;
    setText(text);
    m_bypassLimit = false;
}

bool LimitedLineEdit::CheckLength(QWidget* dialog)
{
    if (text().size() <= m_maxChars)
        return true;
    QMessageBox::warning(
        dialog, QStringLiteral("Velnar"),
        QStringLiteral("Please enter no more than %1 characters.").arg(m_maxChars));
    setFocus();
    selectAll();
    return false;
}

}  // namespace velnar
