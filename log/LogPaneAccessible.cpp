// SPDX-License-Identifier: MIT
#include "LogPaneAccessible.h"

#include "LogPane.h"

#include <algorithm>
#include <climits>

namespace {

// Screen readers speak in int offsets; a longer log is cut off at what they can address.
int toOffset(qint64 position)
{
    return int(std::min<qint64>(position, INT_MAX));
}

QAccessibleInterface *logPaneFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("LogPane") && object && object->isWidgetType())
        return new LogPaneAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

} // namespace

void installLogPaneAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(logPaneFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

LogPaneAccessible::LogPaneAccessible(QWidget *widget)
    : QAccessibleWidget(widget, QAccessible::EditableText)
{ }

LogPane *LogPaneAccessible::pane() const
{
    return static_cast<LogPane *>(widget());
}

void *LogPaneAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TextInterface)
        return static_cast<QAccessibleTextInterface *>(this);
    return QAccessibleWidget::interface_cast(type);
}

QString LogPaneAccessible::text(QAccessible::Text t) const
{
    if (t == QAccessible::Value)
        return QString::fromLatin1(pane()->text());
    return QAccessibleWidget::text(t);
}

QAccessible::State LogPaneAccessible::state() const
{
    QAccessible::State s = QAccessibleWidget::state();
    s.readOnly = true;
    s.multiLine = true;
    s.selectableText = true;
    return s;
}

void LogPaneAccessible::selection(int selectionIndex, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = 0;
    if (selectionIndex == 0 && selectionCount() == 1) {
        *startOffset = toOffset(pane()->selectionStart());
        *endOffset = toOffset(pane()->selectionEnd());
    }
}

int LogPaneAccessible::selectionCount() const
{
    return pane()->selectionEnd() > pane()->selectionStart() ? 1 : 0;
}

void LogPaneAccessible::addSelection(int startOffset, int endOffset)
{
    pane()->select(startOffset, endOffset);
}

void LogPaneAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        pane()->setSelectionStart(pane()->caret());
}

void LogPaneAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        pane()->select(startOffset, endOffset);
}

int LogPaneAccessible::cursorPosition() const
{
    return toOffset(pane()->caret());
}

void LogPaneAccessible::setCursorPosition(int position)
{
    pane()->setSelectionStart(position);
}

QString LogPaneAccessible::text(int startOffset, int endOffset) const
{
    return QString::fromLatin1(pane()->content().mid(startOffset, endOffset));
}

int LogPaneAccessible::characterCount() const
{
    return toOffset(pane()->content().size());
}

QRect LogPaneAccessible::characterRect(int offset) const
{
    const QRect local = pane()->characterRect(offset);
    return QRect(pane()->viewport()->mapToGlobal(local.topLeft()), local.size());
}

int LogPaneAccessible::offsetAtPoint(const QPoint &point) const
{
    return toOffset(pane()->positionAt(pane()->viewport()->mapFromGlobal(point)));
}

void LogPaneAccessible::scrollToSubstring(int startIndex, int)
{
    pane()->ensureVisible(startIndex);
}

QString LogPaneAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = offset;
    return {};
}
