// SPDX-License-Identifier: MIT
#include "LogPane.h"

#include "LogPaneAccessible.h"
#include "PaneFont.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <chrono>

namespace {

using namespace std::chrono_literals;

// About one frame at 60 Hz.
constexpr auto kRefreshDelay = 16ms;
constexpr int kMargin = 2;

constexpr auto kCopyCaption = "コピー";
constexpr auto kSelectAllCaption = "すべて選択";

bool isWordChar(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'
        || c == '-';
}

} // namespace

LogPane::LogPane(QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_contextMenu(new QMenu(this))
{
    installLogPaneAccessibility();
    setFont(paneFont());
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshDelay);
    connect(&m_refreshTimer, &QTimer::timeout, this, &LogPane::refresh);

    QAction *copyAction = m_contextMenu->addAction(QString::fromUtf8(kCopyCaption));
    connect(copyAction, &QAction::triggered, this, &LogPane::copy);
    QAction *selectAllAction = m_contextMenu->addAction(QString::fromUtf8(kSelectAllCaption));
    connect(selectAllAction, &QAction::triggered, this, &LogPane::selectAll);
    connect(m_contextMenu, &QMenu::aboutToShow, this,
        [this, copyAction] { copyAction->setEnabled(selectionEnd() > selectionStart()); });

    updateMetrics();
}

void LogPane::setText(QByteArrayView text)
{
    m_text.clear();
    m_text.append(text);
    m_anchor = m_caret = 0;
    m_scrollToCaret = true;
    emit selectionChanged();
    scheduleRefresh();
}

void LogPane::append(QByteArrayView text)
{
    m_text.append(text);
    scheduleRefresh();
}

void LogPane::setSelectionStart(qint64 position)
{
    moveCaret(position, false);
}

void LogPane::select(qint64 anchor, qint64 caret)
{
    m_anchor = std::clamp<qint64>(anchor, 0, m_text.size());
    moveCaret(caret, true);
}

void LogPane::selectAll()
{
    select(0, m_text.size());
}

void LogPane::copy() const
{
    if (selectionEnd() > selectionStart())
        QGuiApplication::clipboard()->setText(QString::fromLatin1(selectedText()));
}

void LogPane::moveCaret(qint64 position, bool keepAnchor)
{
    m_caret = std::clamp<qint64>(position, 0, m_text.size());
    if (!keepAnchor)
        m_anchor = m_caret;
    m_scrollToCaret = true;
    emit selectionChanged();
    scheduleRefresh();
}

void LogPane::scheduleRefresh()
{
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void LogPane::refresh()
{
    updateScrollBars();
    if (m_scrollToCaret) {
        m_scrollToCaret = false;
        ensureVisible(m_caret);
    }
    viewport()->update();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::TextUpdated);
        QAccessible::updateAccessibility(&event);
    }
}

void LogPane::updateMetrics()
{
    const QFontMetrics metrics(font());
    m_lineHeight = std::max(1, metrics.lineSpacing());
    m_charWidth = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
    m_ascent = metrics.ascent();
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(m_charWidth);
    updateScrollBars();
}

int LogPane::visibleRows() const
{
    return std::max(1, viewport()->height() / m_lineHeight);
}

void LogPane::updateScrollBars()
{
    // One scroll step is one line, so the range stays small enough for an int.
    const qint64 lines = m_text.lineCount();
    const int rows = visibleRows();
    QScrollBar *vertical = verticalScrollBar();
    vertical->setPageStep(rows);
    vertical->setRange(0, int(std::min<qint64>(std::max<qint64>(0, lines - rows), INT_MAX)));

    const qint64 width = m_text.longestLine() * m_charWidth + 2 * kMargin;
    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setPageStep(viewport()->width());
    horizontal->setRange(
        0, int(std::min<qint64>(std::max<qint64>(0, width - viewport()->width()), INT_MAX)));
}

void LogPane::ensureVisible(qint64 position)
{
    updateScrollBars();
    const qint64 line = m_text.lineOf(position);
    QScrollBar *vertical = verticalScrollBar();
    if (line < vertical->value())
        vertical->setValue(int(line));
    else if (line >= vertical->value() + visibleRows())
        vertical->setValue(int(std::min<qint64>(line - visibleRows() + 1, INT_MAX)));

    const qint64 column = position - m_text.lineStart(line);
    const qint64 x = column * m_charWidth;
    QScrollBar *horizontal = horizontalScrollBar();
    if (x < horizontal->value())
        horizontal->setValue(int(x));
    else if (x + m_charWidth + 2 * kMargin > horizontal->value() + viewport()->width())
        horizontal->setValue(int(x + m_charWidth + 2 * kMargin - viewport()->width()));
}

qint64 LogPane::positionAt(QPoint point) const
{
    const qint64 line
        = std::clamp<qint64>(verticalScrollBar()->value() + std::max(0, point.y()) / m_lineHeight,
            0, m_text.lineCount() - 1);
    const qint64 x = qint64(point.x()) + horizontalScrollBar()->value() - kMargin;
    const qint64 column
        = std::clamp<qint64>((x + m_charWidth / 2) / m_charWidth, 0, m_text.line(line).size());
    return m_text.lineStart(line) + column;
}

QRect LogPane::characterRect(qint64 position) const
{
    const qint64 line = m_text.lineOf(position);
    const qint64 column = position - m_text.lineStart(line);
    const qint64 x = kMargin + column * m_charWidth - horizontalScrollBar()->value();
    const qint64 y = (line - verticalScrollBar()->value()) * m_lineHeight;
    return QRect(int(std::clamp<qint64>(x, INT_MIN / 2, INT_MAX / 2)),
        int(std::clamp<qint64>(y, INT_MIN / 2, INT_MAX / 2)), m_charWidth, m_lineHeight);
}

void LogPane::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette &pal = palette();
    const qint64 first = verticalScrollBar()->value();
    const qint64 last = std::min(m_text.lineCount(), first + visibleRows() + 1);
    const int xOffset = kMargin - horizontalScrollBar()->value();
    const qint64 selStart = selectionStart();
    const qint64 selEnd = selectionEnd();

    for (qint64 line = first; line < last; ++line) {
        const int y = int(line - first) * m_lineHeight;
        const qint64 start = m_text.lineStart(line);
        const QByteArrayView bytes = m_text.line(line);
        const qint64 from = std::clamp(selStart - start, qint64(0), qint64(bytes.size()));
        const qint64 to = std::clamp(selEnd - start, qint64(0), qint64(bytes.size()));
        // A selected line break shows as one selected cell past the line's end.
        const bool breakSelected
            = selStart <= start + bytes.size() && selEnd > start + bytes.size();
        if (to > from || breakSelected) {
            const qint64 width = (to - from) + (breakSelected ? 1 : 0);
            painter.fillRect(
                QRect(xOffset + int(from * m_charWidth), y, int(width * m_charWidth), m_lineHeight),
                pal.highlight());
        }
        if (bytes.isEmpty())
            continue;
        // Drawn in three runs so that selected characters are not painted twice.
        const auto drawRun = [&](qint64 runFrom, qint64 runTo, const QColor &color) {
            if (runTo <= runFrom)
                return;
            painter.setPen(color);
            painter.drawText(xOffset + int(runFrom * m_charWidth), y + m_ascent,
                QString::fromLatin1(bytes.sliced(runFrom, runTo - runFrom)));
        };
        drawRun(0, from, pal.text().color());
        drawRun(from, to, pal.highlightedText().color());
        drawRun(to, bytes.size(), pal.text().color());
    }

    if (hasFocus()) {
        const QRect caretRect = characterRect(m_caret);
        painter.fillRect(QRect(caretRect.left(), caretRect.top(), 1, m_lineHeight), pal.text());
    }
}

void LogPane::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBars();
}

void LogPane::changeEvent(QEvent *event)
{
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        updateMetrics();
}

void LogPane::keyPressEvent(QKeyEvent *event)
{
    if (event == QKeySequence::SelectAll) {
        selectAll();
    } else if (event == QKeySequence::Copy) {
        copy();
    } else if (event == QKeySequence::MoveToStartOfDocument) {
        moveCaret(0, false);
    } else if (event == QKeySequence::MoveToEndOfDocument) {
        moveCaret(m_text.size(), false);
    } else if (event == QKeySequence::SelectStartOfDocument) {
        moveCaret(0, true);
    } else if (event == QKeySequence::SelectEndOfDocument) {
        moveCaret(m_text.size(), true);
    } else if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown
        || event->key() == Qt::Key_Up || event->key() == Qt::Key_Down
        || event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        // Scrolling only: the pane is read-only, so there is nowhere for a caret to type.
        QAbstractScrollArea::keyPressEvent(event);
    } else {
        event->ignore();
    }
}

void LogPane::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    moveCaret(
        positionAt(event->position().toPoint()), event->modifiers().testFlag(Qt::ShiftModifier));
}

void LogPane::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && event->buttons().testFlag(Qt::LeftButton))
        moveCaret(positionAt(event->position().toPoint()), true);
}

void LogPane::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}

void LogPane::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        selectWordAt(positionAt(event->position().toPoint()));
}

void LogPane::selectWordAt(qint64 position)
{
    const qint64 line = m_text.lineOf(position);
    const qint64 start = m_text.lineStart(line);
    const QByteArrayView bytes = m_text.line(line);
    qint64 column = position - start;
    if (column >= bytes.size() || !isWordChar(bytes[column])) {
        // The click may land just after a word's last character.
        if (column > 0 && isWordChar(bytes[column - 1]))
            --column;
        else
            return;
    }
    qint64 from = column;
    qint64 to = column;
    while (from > 0 && isWordChar(bytes[from - 1]))
        --from;
    while (to < bytes.size() && isWordChar(bytes[to]))
        ++to;
    select(start + from, start + to);
}

void LogPane::contextMenuEvent(QContextMenuEvent *event)
{
    m_contextMenu->popup(event->globalPos());
}

void LogPane::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LogPane::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}
