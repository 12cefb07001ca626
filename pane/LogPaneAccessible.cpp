// SPDX-License-Identifier: MIT
#include "pane/LogPaneAccessible.h"

#include "log/Caret.h"
#include "pane/LogPane.h"

#include <algorithm>

namespace {

// A screen reader that asks for more gets this much: a log can be far larger than anyone
// listens to, and widened to UTF-16 it would take twice its size again.
constexpr qint64 kLongestText = 1024 * 1024;

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

qint64 LogPaneAccessible::toPosition(int offset) const
{
    const LogText &text = pane()->content();
    return std::clamp(text.begin() + offset, text.begin(), text.end());
}

int LogPaneAccessible::toOffset(qint64 position) const
{
    return pane()->accessibleOffset(position);
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
        return QString::fromLatin1(pane()->visibleText());
    if (t == QAccessible::Description && !pane()->discardNotice().isEmpty())
        return pane()->discardNotice();
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
    return pane()->hasSelection() ? 1 : 0;
}

void LogPaneAccessible::addSelection(int startOffset, int endOffset)
{
    setSelection(0, startOffset, endOffset);
}

void LogPaneAccessible::removeSelection(int selectionIndex)
{
    if (selectionIndex == 0)
        pane()->setSelectionStart(pane()->caret());
}

void LogPaneAccessible::setSelection(int selectionIndex, int startOffset, int endOffset)
{
    if (selectionIndex == 0)
        pane()->select(toPosition(startOffset), toPosition(endOffset));
}

int LogPaneAccessible::cursorPosition() const
{
    return toOffset(pane()->caret());
}

void LogPaneAccessible::setCursorPosition(int position)
{
    pane()->setSelectionStart(toPosition(position));
}

QString LogPaneAccessible::text(int startOffset, int endOffset) const
{
    const qint64 from = toPosition(startOffset);
    const qint64 to = std::min(toPosition(endOffset), from + kLongestText);
    return QString::fromLatin1(pane()->content().mid(from, to));
}

std::pair<qint64, qint64> LogPaneAccessible::unitAt(
    qint64 position, QAccessible::TextBoundaryType boundaryType) const
{
    const LogText &text = pane()->content();
    position = std::clamp(position, text.begin(), text.end());
    const qint64 line = text.lineOf(position);
    const qint64 start = text.lineStart(line);
    const qint64 next
        = line + 1 < text.firstLine() + text.lineCount() ? text.lineStart(line + 1) : text.end();
    switch (boundaryType) {
    case QAccessible::CharBoundary:
        return { position, std::min(position + 1, text.end()) };
    case QAccessible::WordBoundary:
        return Caret::runAt(text, position);
    case QAccessible::NoBoundary:
        return { text.begin(), text.end() };
    default: // a log's lines are its sentences and paragraphs too
        return { start, next };
    }
}

QString LogPaneAccessible::unitText(
    std::pair<qint64, qint64> unit, int *startOffset, int *endOffset) const
{
    *startOffset = toOffset(unit.first);
    *endOffset = toOffset(unit.second);
    return text(*startOffset, *endOffset);
}

QString LogPaneAccessible::textAtOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    return unitText(unitAt(toPosition(offset), boundaryType), startOffset, endOffset);
}

QString LogPaneAccessible::textBeforeOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    const qint64 start = unitAt(toPosition(offset), boundaryType).first;
    if (start <= pane()->content().begin()) {
        *startOffset = *endOffset = 0;
        return {};
    }
    return unitText(unitAt(start - 1, boundaryType), startOffset, endOffset);
}

QString LogPaneAccessible::textAfterOffset(
    int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset, int *endOffset) const
{
    const qint64 end = unitAt(toPosition(offset), boundaryType).second;
    if (end >= pane()->content().end()) {
        *startOffset = *endOffset = characterCount();
        return {};
    }
    return unitText(unitAt(end, boundaryType), startOffset, endOffset);
}

int LogPaneAccessible::characterCount() const
{
    return toOffset(pane()->content().end());
}

QRect LogPaneAccessible::characterRect(int offset) const
{
    const QRect local = pane()->characterRect(toPosition(offset));
    return QRect(pane()->viewport()->mapToGlobal(local.topLeft()), local.size());
}

int LogPaneAccessible::offsetAtPoint(const QPoint &point) const
{
    return toOffset(pane()->positionAt(pane()->viewport()->mapFromGlobal(point)));
}

void LogPaneAccessible::scrollToSubstring(int startIndex, int)
{
    pane()->ensureVisible(toPosition(startIndex));
}

QString LogPaneAccessible::attributes(int offset, int *startOffset, int *endOffset) const
{
    *startOffset = *endOffset = offset;
    return {};
}
