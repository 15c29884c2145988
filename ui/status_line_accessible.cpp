#include "ui/status_line_accessible.h"

#include "ui/status_line.h"

namespace velnar {

namespace {

QAccessibleInterface* MakeForStatusLine(const QString& className, QObject* object)
{
    if (className != QLatin1String("velnar::StatusLine"))
        return nullptr;
    return new StatusLineAccessible(static_cast<StatusLine*>(object));
}

}  // namespace

StatusLineAccessible::StatusLineAccessible(StatusLine* line)
    : QAccessibleWidget(line, QAccessible::StatusBar)
{}

void StatusLineAccessible::Install()
{
    static const bool installed = [] {
        QAccessible::installFactory(MakeForStatusLine);
        return true;
    }();
    (void)installed;
}

QString StatusLineAccessible::WholeText() const
{
    return static_cast<const StatusLine*>(widget())->text();
}

QString StatusLineAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Name || t == QAccessible::Value)
        return WholeText();
    return QAccessibleWidget::text(t);
}

QAccessible::State StatusLineAccessible::state() const
{
    QAccessible::State state = QAccessibleWidget::state();
    state.readOnly = true;
    return state;
}

void* StatusLineAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

void StatusLineAccessible::selection(int, int* startOffset, int* endOffset) const
{
    *startOffset = 0;
    *endOffset = 0;
}

QString StatusLineAccessible::text(int startOffset, int endOffset) const
{
    const QString whole = WholeText();
    if (startOffset < 0 || endOffset < startOffset || startOffset > whole.size())
        return {};
    return whole.mid(startOffset, endOffset - startOffset);
}

int StatusLineAccessible::characterCount() const
{
    return static_cast<int>(WholeText().size());
}

// Characters cut off by the elision have no place on the screen.
QRect StatusLineAccessible::characterRect(int) const
{
    return {};
}

int StatusLineAccessible::offsetAtPoint(const QPoint&) const
{
    return -1;
}

QString StatusLineAccessible::attributes(int offset, int* startOffset, int* endOffset) const
{
    *startOffset = offset;
    *endOffset = offset;
    return {};
}

}  // namespace velnar
