// SPDX-License-Identifier: MIT
#pragma once

#include <QAccessibleWidget>

class LogPane;

// Lets screen readers read a log pane, its caret and its selection. Offsets count from the
// first character the pane still holds, and stop at what an int can address; the value is the
// text in view, never the whole log.
class LogPaneAccessible : public QAccessibleWidget, public QAccessibleTextInterface
{
public:
    explicit LogPaneAccessible(QWidget *widget);

    void *interface_cast(QAccessible::InterfaceType type) override;
    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;

    void selection(int selectionIndex, int *startOffset, int *endOffset) const override;
    int selectionCount() const override;
    void addSelection(int startOffset, int endOffset) override;
    void removeSelection(int selectionIndex) override;
    void setSelection(int selectionIndex, int startOffset, int endOffset) override;
    int cursorPosition() const override;
    void setCursorPosition(int position) override;
    QString text(int startOffset, int endOffset) const override;
    QString textBeforeOffset(int offset, QAccessible::TextBoundaryType boundaryType,
        int *startOffset, int *endOffset) const override;
    QString textAfterOffset(int offset, QAccessible::TextBoundaryType boundaryType,
        int *startOffset, int *endOffset) const override;
    QString textAtOffset(int offset, QAccessible::TextBoundaryType boundaryType, int *startOffset,
        int *endOffset) const override;
    int characterCount() const override;
    QRect characterRect(int offset) const override;
    int offsetAtPoint(const QPoint &point) const override;
    void scrollToSubstring(int startIndex, int endIndex) override;
    QString attributes(int offset, int *startOffset, int *endOffset) const override;

private:
    LogPane *pane() const;
    qint64 toPosition(int offset) const;
    int toOffset(qint64 position) const;
    // The unit of text that holds a position, as [start, end) positions.
    std::pair<qint64, qint64> unitAt(
        qint64 position, QAccessible::TextBoundaryType boundaryType) const;
    QString unitText(std::pair<qint64, qint64> unit, int *startOffset, int *endOffset) const;
};

// Registers the factory once; a pane calls it when it is built.
void installLogPaneAccessibility();
