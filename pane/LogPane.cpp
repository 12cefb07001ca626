// SPDX-License-Identifier: MIT
#include "pane/LogPane.h"

#include "log/Common.h"
#include "pane/FindBar.h"
#include "pane/LogPaneAccessible.h"
#include "pane/PaneFont.h"
#include "pane/PaneMimeData.h"
#include "pane/SteadyScrollBar.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QIODevice>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFrame>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <new>

namespace {

using namespace std::chrono_literals;

// About one frame at 60 Hz.
constexpr auto kRefreshDelay = 16ms;
// How long a passing notice stays.
constexpr auto kNoticeDuration = 5s;
// A drag held past an edge scrolls a line a tick for each line's height it is past it.
constexpr auto kAutoScrollInterval = 50ms;
constexpr int kMargin = 2;

constexpr auto kCopyCaption = "コピー";
constexpr auto kSelectAllCaption = "すべて選択";
constexpr auto kDiscardNoticeCaption = "（古い %1 行は破棄されました）";
constexpr auto kCopyRefusedCaption = "メモリが足りないため、コピーできませんでした";
// Heads a copy or a saved log that lacks its oldest lines, so that the hole is never silent.
constexpr auto kDiscardLine = "[%1 older lines discarded]\r\n";
// What keyboards without a Menu key press for a context menu.
constexpr QKeyCombination kContextMenuKey(Qt::ShiftModifier, Qt::Key_F10);
// Arrivals up to this size between two frames are passed on to assistive technology as text; a
// flood is only noted.
constexpr qint64 kLongestInsert = 4096;

qint64 floorDivide(qint64 value, qint64 divisor)
{
    return value >= 0 ? value / divisor : -((-value + divisor - 1) / divisor);
}

int clampToInt(qint64 value)
{
    return int(std::clamp<qint64>(value, INT_MIN / 2, INT_MAX / 2));
}

} // namespace

LogPane::LogPane(QWidget *parent, qint64 budget)
    : LogPane(std::make_shared<LogStore>(budget), parent)
{ }

LogPane::LogPane(std::shared_ptr<LogStore> store, QWidget *parent)
    : QAbstractScrollArea(parent)
    , m_store(std::move(store))
    , m_text(m_store->text())
    , m_seenBegin(m_text.begin())
    , m_seenEnd(m_text.end())
    , m_caret(m_text)
    , m_search(m_text)
    , m_findBar(new FindBar(this))
    , m_verticalBar(new SteadyScrollBar(Qt::Vertical, this))
    , m_contextMenu(new QMenu(this))
{
    installLogPaneAccessibility();
    setFont(paneFont());
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBar(m_verticalBar);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kRefreshDelay);
    connect(&m_refreshTimer, &QTimer::timeout, this, &LogPane::refresh);
    connect(m_store.get(), &LogStore::appended, this, [this] {
        catchUp();
        refresh();
    });
    connect(m_store.get(), &LogStore::cleared, this, &LogPane::storeCleared);
    m_autoScrollTimer.setInterval(kAutoScrollInterval);
    connect(&m_autoScrollTimer, &QTimer::timeout, this, [this] { dragTo(m_dragPoint); });
    m_noticeTimer.setSingleShot(true);
    m_noticeTimer.setInterval(kNoticeDuration);
    connect(&m_noticeTimer, &QTimer::timeout, this, [this] { showNotice({}); });

    m_findBar->hide();
    connect(m_findBar, &FindBar::findNext, this, &LogPane::findNext);
    connect(m_findBar, &FindBar::findPrevious, this, &LogPane::findPrevious);
    connect(m_findBar, &FindBar::closeRequested, this, &LogPane::closeFind);
    connect(&m_search, &TextSearch::found, this, &LogPane::showMatch);
    connect(&m_search, &TextSearch::notFound, this, [this] {
        m_findBar->setNotice(FindBar::Notice::NotFound);
        emit findFinished(false, false);
    });

    QAction *copyAction = m_contextMenu->addAction(QString::fromUtf8(kCopyCaption));
    connect(copyAction, &QAction::triggered, this, &LogPane::copy);
    QAction *selectAllAction = m_contextMenu->addAction(QString::fromUtf8(kSelectAllCaption));
    connect(selectAllAction, &QAction::triggered, this, &LogPane::selectAll);
    connect(m_contextMenu, &QMenu::aboutToShow, this,
        [this, copyAction] { copyAction->setEnabled(hasSelection()); });

    // A store that already holds text is shown from its end.
    m_caret.toEnd();
    m_reportedBegin = m_text.begin();
    m_reportedEnd = m_text.end();
    updateMetrics();
    m_topRow = lastTopRow();
}

void LogPane::clear()
{
    m_store->clear();
}

void LogPane::storeCleared()
{
    // The search reads the text; it must not go on over text that is gone.
    m_search.cancel();
    m_findBar->setNotice(FindBar::Notice::None);
    m_seenBegin = m_seenEnd = m_text.end();
    m_reportedBegin = m_reportedEnd = m_text.end();
    reportReplaced();
    m_caret.toEnd();
    m_topRow = firstRow();
    m_following = true;
    updateScrollBars();
    emit selectionChanged();
    scheduleRefresh();
}

void LogPane::append(QByteArrayView text)
{
    m_store->append(text);
    catchUp();
}

void LogPane::appendHexDump(QByteArrayView payload)
{
    m_store->appendHexDump(payload);
    catchUp();
}

void LogPane::catchUp()
{
    if (m_text.end() == m_seenEnd)
        return;
    m_seenEnd = m_text.end();
    if (m_text.begin() != m_seenBegin) {
        m_seenBegin = m_text.begin();
        if (m_caret.keepInText())
            emit selectionChanged();
        m_topRow = std::max(m_topRow, firstRow());
    }
    if (m_following)
        m_caret.toEnd();
}

void LogPane::setSelectionStart(qint64 position)
{
    moveCaret(position, false);
}

void LogPane::select(qint64 anchor, qint64 caret)
{
    const qint64 start = selectionStart();
    const qint64 end = selectionEnd();
    m_caret.select(anchor, caret);
    caretMoved(start, end);
}

void LogPane::selectAll()
{
    select(m_text.begin(), m_text.end());
    offerPrimarySelection();
}

void LogPane::copy()
{
    if (!hasSelection())
        return;
    // The log is ASCII: as bytes it is one copy of the selection, with nothing widened, and Qt
    // hands the same bytes to a program that asks for UTF8_STRING.
    QByteArray bytes;
    try {
        bytes = copyText(selectionStart(), selectionEnd());
    } catch (const std::bad_alloc &) {
        showNotice(QString::fromUtf8(kCopyRefusedCaption));
        return;
    }
    auto *data = new QMimeData;
    data->setData(QStringLiteral("text/plain"), bytes);
    QGuiApplication::clipboard()->setMimeData(data);
}

QByteArray LogPane::discardLine() const
{
    return QByteArray(kDiscardLine).replace("%1", QByteArray::number(m_text.firstLine()));
}

QByteArray LogPane::copyText(qint64 from, qint64 to) const
{
    from = std::clamp(from, m_text.begin(), m_text.end());
    QByteArray bytes
        = from == m_text.begin() && m_text.firstLine() > 0 ? discardLine() : QByteArray();
    m_text.appendTo(bytes, from, to);
    return bytes;
}

bool LogPane::save(QIODevice &device) const
{
    if (m_text.firstLine() > 0) {
        const QByteArray line = discardLine();
        if (device.write(line) != line.size())
            return false;
    }
    for (qint64 position = m_text.begin(); position < m_text.end();) {
        const QByteArrayView chunk = m_text.chunkAt(position);
        if (chunk.isEmpty() || device.write(chunk.data(), chunk.size()) != chunk.size())
            return false;
        position += chunk.size();
    }
    return true;
}

void LogPane::openFind()
{
    if (m_findBar->isHidden()) {
        m_findBar->show();
        placeFindBar();
    }
    m_findBar->activate();
}

void LogPane::findNext()
{
    find(TextSearch::Direction::Forward);
}

void LogPane::findPrevious()
{
    find(TextSearch::Direction::Backward);
}

void LogPane::find(TextSearch::Direction direction)
{
    const QByteArray needle = m_findBar->needle();
    if (needle.isEmpty())
        return;
    // From the selection, so that a match already shown is passed over.
    const bool forward = direction == TextSearch::Direction::Forward;
    m_searchDirection = direction;
    m_findBar->setNotice(FindBar::Notice::Searching);
    m_search.start(needle, forward ? selectionEnd() : selectionStart(), direction);
}

void LogPane::showMatch(qint64 start, qint64 end, bool wrapped)
{
    select(start, end);
    ensureVisible(start);
    const bool forward = m_searchDirection == TextSearch::Direction::Forward;
    m_findBar->setNotice(!wrapped ? FindBar::Notice::None
            : forward             ? FindBar::Notice::WrappedToStart
                                  : FindBar::Notice::WrappedToEnd);
    emit findFinished(true, wrapped);
}

void LogPane::closeFind()
{
    m_search.cancel();
    m_findBar->hide();
    placeFindBar();
    setFocus(Qt::OtherFocusReason);
}

void LogPane::placeFindBar()
{
    // The field takes rows from the bottom of the view, never room from the window.
    const int height = m_findBar->isHidden() ? 0 : m_findBar->sizeHint().height();
    setViewportMargins(0, 0, 0, height);
    const QRect view = viewport()->geometry();
    m_findBar->setGeometry(view.left(), view.bottom() + 1, view.width(), height);
    if (m_following)
        m_topRow = lastTopRow();
    updateScrollBars();
}

void LogPane::showNotice(const QString &notice)
{
    m_notice = notice;
    if (!notice.isEmpty())
        m_noticeTimer.start();
    viewport()->update();
}

void LogPane::moveCaret(qint64 position, bool keepAnchor)
{
    const qint64 start = selectionStart();
    const qint64 end = selectionEnd();
    m_caret.setPosition(position, keepAnchor);
    caretMoved(start, end);
}

void LogPane::caretMoved(qint64 oldStart, qint64 oldEnd)
{
    ensureVisible(caret());
    updateFollowing();
    emit selectionChanged();
    reportCaret((oldStart != oldEnd || hasSelection())
        && (oldStart != selectionStart() || oldEnd != selectionEnd()));
    viewport()->update();
}

void LogPane::updateFollowing()
{
    m_following = !hasSelection() && caret() == m_text.end() && m_topRow >= lastTopRow();
}

void LogPane::scheduleRefresh()
{
    // Appends reach the pane through its store, which already tells at most once a frame.
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void LogPane::refresh()
{
    const qint64 oldTop = m_topRow;
    if (m_following)
        m_topRow = lastTopRow();
    // The bars' move would repaint the whole view; what needs it is worked out just below.
    m_refreshing = true;
    updateScrollBars();
    m_refreshing = false;
    updateAppended(m_topRow - oldTop);
    if (m_text.begin() != m_reportedBegin) {
        reportReplaced();
    } else if (m_text.end() != m_reportedEnd) {
        reportAppended(m_reportedEnd);
        if (m_following)
            reportCaret(false);
    }
    m_reportedBegin = m_text.begin();
    m_reportedEnd = m_text.end();
}

void LogPane::updateAppended(qint64 moved)
{
    // Following, with nothing drawn over the lines, only what was appended is new: the rest
    // moves up as it is, from the last line already shown (whose end the caret was at).
    const qint64 lines = m_text.firstLine() + m_text.lineCount();
    if (m_following && m_shownLines >= 0 && lines >= m_shownLines && m_notice.isEmpty()
        && !hasSelection() && moved >= 0 && moved < visibleRows()
        && m_topRow >= m_text.firstLine()) {
        if (moved > 0)
            viewport()->scroll(0, int(-moved * m_lineHeight));
        const int y = int(std::max<qint64>(0, m_shownLines - 1 - m_topRow)) * m_lineHeight;
        viewport()->update(QRect(0, y, viewport()->width(), viewport()->height() - y));
    } else {
        viewport()->update();
    }
    m_shownLines = lines;
}

void LogPane::updateMetrics()
{
    const QFontMetricsF metrics(font());
    m_lineHeight = std::max(1, int(std::ceil(metrics.lineSpacing())));
    m_charWidth = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('0')));
    m_ascent = metrics.ascent();
    m_glyphs = GlyphTable(font());
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(int(std::ceil(m_charWidth)));
    updateScrollBars();
}

int LogPane::visibleRows() const
{
    return std::max(1, viewport()->height() / m_lineHeight);
}

qint64 LogPane::firstRow() const
{
    return m_text.firstLine() > 0 ? m_text.firstLine() - 1 : 0;
}

qint64 LogPane::lastTopRow() const
{
    return std::max(firstRow(), m_text.firstLine() + m_text.lineCount() - visibleRows());
}

qreal LogPane::columnX(qint64 column) const
{
    return kMargin + qreal(column) * m_charWidth - horizontalScrollBar()->value();
}

void LogPane::updateScrollBars()
{
    const qint64 first = firstRow();
    const qint64 range = lastTopRow() - first;
    m_rowsPerStep = range > INT_MAX ? (range + INT_MAX - 1) / INT_MAX : 1;
    m_topRow = std::clamp(m_topRow, first, lastTopRow());

    m_movingScrollBars = true;
    m_verticalBar->setPosition(int(range / m_rowsPerStep),
        int(std::max<qint64>(1, visibleRows() / m_rowsPerStep)),
        int((m_topRow - first) / m_rowsPerStep));

    // One cell more than the longest line: room for the caret or a selected line break there.
    const qint64 width
        = qint64(std::ceil(qreal(m_text.longestLine() + 1) * m_charWidth)) + 2 * kMargin;
    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setPageStep(viewport()->width());
    const int overflow = clampToInt(std::max<qint64>(0, width - viewport()->width()));
    horizontal->setRange(0, overflow);
    // Shown only while a line is wider than the view. Qt's own as-needed policy would do the
    // same, but it also starts a timer on the bar at every vertical scroll, to flash it, and
    // so wakes the program once more for every line.
    const Qt::ScrollBarPolicy policy
        = overflow > 0 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    if (horizontalScrollBarPolicy() != policy)
        setHorizontalScrollBarPolicy(policy);
    m_movingScrollBars = false;
}

void LogPane::scrollContentsBy(int, int dy)
{
    if (dy != 0 && !m_movingScrollBars)
        userScrolled();
    if (!m_refreshing)
        viewport()->update();
}

void LogPane::userScrolled()
{
    const QScrollBar *vertical = verticalScrollBar();
    m_topRow = vertical->value() == vertical->maximum()
        ? lastTopRow()
        : firstRow() + qint64(vertical->value()) * m_rowsPerStep;
    // Scrolling to the end with nothing selected is how a reader asks to follow again.
    if (m_topRow >= lastTopRow() && !hasSelection() && caret() != m_text.end()) {
        m_caret.toEnd();
        emit selectionChanged();
    }
    updateFollowing();
}

void LogPane::ensureVisible(qint64 position)
{
    const qint64 line = m_text.lineOf(position);
    const int rows = visibleRows();
    if (line < m_topRow) {
        // At the first line held, also show the row that says what was let go above it.
        m_topRow = line == m_text.firstLine() ? firstRow() : line;
    } else if (line >= m_topRow + rows) {
        m_topRow = line - rows + 1;
    }
    m_topRow = std::clamp(m_topRow, firstRow(), lastTopRow());
    updateScrollBars();

    const qreal x = qreal(position - m_text.lineStart(line)) * m_charWidth;
    QScrollBar *horizontal = horizontalScrollBar();
    // Far along a long line x passes what an int holds; the scroll bar's range is clamped alike.
    if (x < horizontal->value())
        horizontal->setValue(clampToInt(qint64(std::floor(x))));
    else if (x + m_charWidth + 2 * kMargin > horizontal->value() + viewport()->width())
        horizontal->setValue(
            clampToInt(qint64(std::ceil(x + m_charWidth + 2 * kMargin)) - viewport()->width()));
}

qint64 LogPane::positionAt(QPoint point) const
{
    const qint64 row = m_topRow + floorDivide(point.y(), m_lineHeight);
    const qint64 line
        = std::clamp(row, m_text.firstLine(), m_text.firstLine() + m_text.lineCount() - 1);
    const qreal x = point.x() + horizontalScrollBar()->value() - kMargin;
    const auto column = qint64(std::floor(x / m_charWidth + 0.5));
    return m_text.lineStart(line) + std::clamp<qint64>(column, 0, m_text.line(line).size());
}

QRect LogPane::characterRect(qint64 position) const
{
    const qint64 line = m_text.lineOf(position);
    const qint64 x = qint64(std::floor(columnX(position - m_text.lineStart(line))));
    const qint64 y = (line - m_topRow) * m_lineHeight;
    return QRect(clampToInt(x), clampToInt(y), int(std::ceil(m_charWidth)), m_lineHeight);
}

QByteArray LogPane::visibleText() const
{
    const qint64 first = std::max(m_topRow, m_text.firstLine());
    const qint64 last = std::min(m_text.firstLine() + m_text.lineCount(), m_topRow + visibleRows());
    return m_text.mid(
        m_text.lineStart(first), last > first ? m_text.lineStart(last) : m_text.end());
}

QString LogPane::discardNotice() const
{
    if (m_text.firstLine() == 0)
        return {};
    return QString::fromUtf8(kDiscardNoticeCaption)
        .arg(QLocale(QLocale::Japanese, QLocale::Japan).toString(m_text.firstLine()));
}

int LogPane::accessibleOffset(qint64 position) const
{
    return int(std::clamp<qint64>(position - m_text.begin(), 0, INT_MAX));
}

QVariant LogPane::inputMethodQuery(Qt::InputMethodQuery query) const
{
    if (query != Qt::ImCursorRectangle)
        return QAbstractScrollArea::inputMethodQuery(query);
    // A caret scrolled out of view puts the menu at the nearest edge of the view, on the pane.
    const QRect view = viewport()->rect();
    const auto bound
        = [](int value, int low, int high) { return std::max(low, std::min(value, high)); };
    QRect cell = characterRect(caret());
    cell.moveCenter(QPoint(bound(cell.center().x(), view.left(), view.right()),
        bound(cell.center().y(), view.top(), view.bottom())));
    return cell.translated(viewport()->pos());
}

bool LogPane::viewportEvent(QEvent *event)
{
    catchUp();
    return QAbstractScrollArea::viewportEvent(event);
}

bool LogPane::event(QEvent *event)
{
    catchUp();
    if (event->type() != QEvent::Paint)
        return QAbstractScrollArea::event(event);
    // The frame is drawn as the style draws a text field's, which shows focus where a plain
    // panel would not.
    QPainter painter(this);
    QStyleOptionFrame option;
    initStyleOption(&option);
    style()->drawPrimitive(QStyle::PE_FrameLineEdit, &option, &painter, this);
    return true;
}

void LogPane::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.setFont(font());
    const QPalette &pal = palette();
    const qint64 firstLine = m_text.firstLine();
    const qint64 last = std::min(firstLine + m_text.lineCount(), m_topRow + visibleRows() + 1);
    const qint64 selStart = selectionStart();
    const qint64 selEnd = selectionEnd();
    // Only the columns in view are drawn: one long line would otherwise cost a frame or more.
    const qint64 firstColumn = std::max<qint64>(
        0, qint64(std::floor((horizontalScrollBar()->value() - kMargin) / m_charWidth)));
    const qint64 lastColumn
        = firstColumn + qint64(std::ceil(viewport()->width() / m_charWidth)) + 1;

    if (m_topRow < firstLine) {
        painter.setPen(pal.placeholderText().color());
        painter.drawText(QPointF(columnX(0), m_ascent), discardNotice());
    }
    // Only the rows that need it: after an append that is the new lines alone.
    const qint64 firstRowInRect = m_topRow + event->rect().top() / m_lineHeight;
    const qint64 lastRowInRect = m_topRow + event->rect().bottom() / m_lineHeight + 1;
    for (qint64 line = std::max({ m_topRow, firstLine, firstRowInRect });
         line < std::min(last, lastRowInRect); ++line) {
        const int y = int(line - m_topRow) * m_lineHeight;
        const qint64 start = m_text.lineStart(line);
        const QByteArrayView bytes = m_text.line(line);
        const qint64 from = std::clamp<qint64>(selStart - start, 0, bytes.size());
        const qint64 to = std::clamp<qint64>(selEnd - start, 0, bytes.size());
        // A selected line break shows as one selected cell past the line's end.
        const bool breakSelected
            = selStart <= start + bytes.size() && selEnd > start + bytes.size();
        if (to > from || breakSelected) {
            const qint64 cells = (to - from) + (breakSelected ? 1 : 0);
            painter.fillRect(QRectF(columnX(from), y, qreal(cells) * m_charWidth, m_lineHeight),
                pal.highlight());
        }
        if (bytes.isEmpty())
            continue;
        // Every run starts on the grid that hit-testing uses, so the glyphs, the selection
        // and the caret stay in the same cells however far the line goes.
        const auto drawRun = [&](qint64 runFrom, qint64 runTo, const QColor &color) {
            runFrom = std::max(runFrom, firstColumn);
            runTo = std::min(runTo, lastColumn);
            if (runTo <= runFrom)
                return;
            painter.setPen(color);
            const QPointF origin(columnX(runFrom), y + m_ascent);
            const QByteArrayView run = bytes.sliced(runFrom, runTo - runFrom);
            if (!m_glyphs.draw(painter, origin, run, m_charWidth))
                painter.drawText(origin, QString::fromLatin1(run));
        };
        drawRun(0, from, pal.text().color());
        drawRun(from, to, pal.highlightedText().color());
        drawRun(to, bytes.size(), pal.text().color());
    }

    if (hasFocus()) {
        const QRect caretRect = characterRect(caret());
        painter.fillRect(QRect(caretRect.left(), caretRect.top(), 1, m_lineHeight), pal.text());
    }

    if (!m_notice.isEmpty()) {
        const QFontMetrics metrics = painter.fontMetrics();
        const QRect box(kMargin, kMargin, metrics.horizontalAdvance(m_notice) + 4 * kMargin,
            metrics.height() + 2 * kMargin);
        painter.fillRect(box, pal.toolTipBase());
        painter.setPen(pal.toolTipText().color());
        painter.drawText(box, Qt::AlignCenter, m_notice);
    }
}

void LogPane::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    placeFindBar();
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
    } else if (event == QKeySequence::Find) {
        openFind();
    } else if (event == QKeySequence::FindNext) {
        findNext();
    } else if (event == QKeySequence::FindPrevious) {
        findPrevious();
    } else if (moveByKey(event)) {
        // moved the caret
    } else if (event->keyCombination() == kContextMenuKey) {
        // As the platform does for the Menu key.
        const QPoint at = inputMethodQuery(Qt::ImCursorRectangle).toRect().center();
        QContextMenuEvent menuEvent(
            QContextMenuEvent::Keyboard, at, mapToGlobal(at), event->modifiers());
        QCoreApplication::sendEvent(this, &menuEvent);
    } else if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown
        || event->key() == Qt::Key_Up || event->key() == Qt::Key_Down
        || event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        // Other modifiers scroll without moving the caret.
        QAbstractScrollArea::keyPressEvent(event);
    } else {
        event->ignore();
    }
}

bool LogPane::moveByKey(const QKeyEvent *event)
{
    using Move = Caret::Move;
    struct KeyMove
    {
        QKeySequence::StandardKey key;
        Move move;
        bool select;
    };
    static constexpr KeyMove kKeyMoves[] = {
        { QKeySequence::MoveToPreviousChar, Move::Left, false },
        { QKeySequence::MoveToNextChar, Move::Right, false },
        { QKeySequence::MoveToPreviousWord, Move::WordLeft, false },
        { QKeySequence::MoveToNextWord, Move::WordRight, false },
        { QKeySequence::MoveToStartOfLine, Move::LineStart, false },
        { QKeySequence::MoveToEndOfLine, Move::LineEnd, false },
        { QKeySequence::MoveToStartOfBlock, Move::LineStart, false },
        { QKeySequence::MoveToEndOfBlock, Move::LineEnd, false },
        { QKeySequence::MoveToPreviousLine, Move::Up, false },
        { QKeySequence::MoveToNextLine, Move::Down, false },
        { QKeySequence::MoveToPreviousPage, Move::PageUp, false },
        { QKeySequence::MoveToNextPage, Move::PageDown, false },
        { QKeySequence::MoveToStartOfDocument, Move::Start, false },
        { QKeySequence::MoveToEndOfDocument, Move::End, false },
        { QKeySequence::SelectPreviousChar, Move::Left, true },
        { QKeySequence::SelectNextChar, Move::Right, true },
        { QKeySequence::SelectPreviousWord, Move::WordLeft, true },
        { QKeySequence::SelectNextWord, Move::WordRight, true },
        { QKeySequence::SelectStartOfLine, Move::LineStart, true },
        { QKeySequence::SelectEndOfLine, Move::LineEnd, true },
        { QKeySequence::SelectStartOfBlock, Move::LineStart, true },
        { QKeySequence::SelectEndOfBlock, Move::LineEnd, true },
        { QKeySequence::SelectPreviousLine, Move::Up, true },
        { QKeySequence::SelectNextLine, Move::Down, true },
        { QKeySequence::SelectPreviousPage, Move::PageUp, true },
        { QKeySequence::SelectNextPage, Move::PageDown, true },
        { QKeySequence::SelectStartOfDocument, Move::Start, true },
        { QKeySequence::SelectEndOfDocument, Move::End, true },
    };
    for (const KeyMove &keyMove : kKeyMoves) {
        if (event->matches(keyMove.key)) {
            move(keyMove.move, keyMove.select);
            if (keyMove.select)
                offerPrimarySelection();
            return true;
        }
    }
    return false;
}

void LogPane::move(Caret::Move move, bool keepAnchor)
{
    const qint64 start = selectionStart();
    const qint64 end = selectionEnd();
    const qint64 line = m_text.lineOf(caret());
    if (!m_caret.move(move, keepAnchor, visibleRows()))
        return;
    // A page key scrolls the view by the lines the caret went.
    if (move == Caret::Move::PageUp || move == Caret::Move::PageDown)
        m_topRow += m_text.lineOf(caret()) - line;
    caretMoved(start, end);
    // Paging down to the last line is a scroll to the end: it follows again.
    if (move == Caret::Move::PageDown && !hasSelection() && m_topRow >= lastTopRow()) {
        m_caret.toEnd();
        updateFollowing();
    }
}

void LogPane::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    m_dragging = true;
    m_dragPoint = event->position().toPoint();
    moveCaret(positionAt(m_dragPoint), event->modifiers().testFlag(Qt::ShiftModifier));
}

void LogPane::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && event->buttons().testFlag(Qt::LeftButton))
        dragTo(event->position().toPoint());
}

void LogPane::dragTo(QPoint point)
{
    m_dragPoint = point;
    moveCaret(positionAt(point), true);
    const bool pastAnEdge = point.y() < 0 || point.y() >= viewport()->height();
    if (!pastAnEdge)
        m_autoScrollTimer.stop();
    else if (!m_autoScrollTimer.isActive())
        m_autoScrollTimer.start();
}

void LogPane::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    m_autoScrollTimer.stop();
    offerPrimarySelection();
}

void LogPane::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    if (const auto word = Caret::wordAt(m_text, positionAt(event->position().toPoint())))
        select(word->first, word->second);
    offerPrimarySelection();
}

void LogPane::offerPrimarySelection()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (hasSelection() && clipboard->supportsSelection()) {
        clipboard->setMimeData(
            new PaneMimeData(*this, selectionStart(), selectionEnd()), QClipboard::Selection);
    }
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

void LogPane::reportCaret(bool selectionChanged)
{
    if (!QAccessible::isActive())
        return;
    if (selectionChanged) {
        QAccessibleTextSelectionEvent event(
            this, accessibleOffset(selectionStart()), accessibleOffset(selectionEnd()));
        event.setCursorPosition(accessibleOffset(caret()));
        QAccessible::updateAccessibility(&event);
    } else {
        QAccessibleTextCursorEvent event(this, accessibleOffset(caret()));
        QAccessible::updateAccessibility(&event);
    }
}

void LogPane::reportAppended(qint64 from)
{
    if (!QAccessible::isActive())
        return;
    from = std::max(from, m_text.begin());
    if (m_text.end() - from > kLongestInsert || m_text.size() > INT_MAX) {
        reportReplaced();
        return;
    }
    QAccessibleTextInsertEvent event(
        this, accessibleOffset(from), QString::fromLatin1(m_text.mid(from, m_text.end())));
    QAccessible::updateAccessibility(&event);
}

void LogPane::reportReplaced()
{
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(this, QAccessible::VisibleDataChanged);
    QAccessible::updateAccessibility(&event);
    QAccessibleEvent description(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&description);
}
