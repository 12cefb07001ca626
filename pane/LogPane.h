// SPDX-License-Identifier: MIT
#pragma once

#include "log/Caret.h"
#include "log/LogStore.h"
#include "log/TextSearch.h"
#include "pane/GlyphTable.h"

#include <QAbstractScrollArea>
#include <QTimer>

#include <memory>

class FindBar;
class SteadyScrollBar;
class QIODevice;
class QMenu;

// A read-only text pane made for logs: it shows a store of compact bytes, paints only what is
// in view and repaints at most once a frame, however fast lines arrive. Several panes may show
// one store, each with its own view, caret and selection.
//
// While nobody reads it, it follows its end: each repaint shows the newest line. Once the user
// moves the view or the caret away from the end, or selects something, it holds: lines are
// still added, but neither the view nor the selection moves until the user comes back to the
// last line with nothing selected.
class LogPane : public QAbstractScrollArea
{
    Q_OBJECT

public:
    // A pane with a store of its own.
    explicit LogPane(QWidget *parent = nullptr, qint64 budget = LogText::kNoLimit);
    // Another view of a store.
    explicit LogPane(std::shared_ptr<LogStore> store, QWidget *parent = nullptr);

    // Empties the store; every pane that shows it then follows its end again.
    void clear();
    // Adds text at the end of the store; the selection and a held view stay where they were.
    void append(QByteArrayView text);
    // The same as append(Common::HexDump(payload)), formatted straight into the store.
    void appendHexDump(QByteArrayView payload);
    const std::shared_ptr<LogStore> &store() const { return m_store; }

    // These act for the user, as a click or a key would: the caret is brought into view and
    // the pane follows or holds according to where that leaves it.
    // Collapses the selection at the position, clamped to the text.
    void setSelectionStart(qint64 position);
    void select(qint64 anchor, qint64 caret);
    void selectAll();
    // Puts the selection on the clipboard as bytes.
    void copy();
    // What a copy of the range holds: when lines were let go and it starts at the first line
    // held, a line that says so comes first. Throws std::bad_alloc when memory runs out.
    QByteArray copyText(qint64 from, qint64 to) const;
    // Writes the pane's text, after the same line when lines were let go, a block at a time.
    // False when the device would not take it all.
    bool save(QIODevice &device) const;

    // Opens the find field inside the pane (Ctrl+F); Escape there closes it again.
    void openFind();
    // Looks for the find field's text after or before the selection, a slice of the text per
    // pass of the event loop; a match is selected and shown, and the pane holds there.
    void findNext();
    void findPrevious();

    bool isFollowing() const { return m_following; }
    // The line shown in the top row.
    qint64 topLine() const { return m_topRow; }
    const LogText &content() const { return m_text; }
    QByteArray text() const { return m_text.mid(m_text.begin(), m_text.end()); }
    QByteArray selectedText() const { return m_text.mid(selectionStart(), selectionEnd()); }
    qint64 selectionStart() const { return m_caret.selectionStart(); }
    qint64 selectionEnd() const { return m_caret.selectionEnd(); }
    bool hasSelection() const { return m_caret.hasSelection(); }
    qint64 caret() const { return m_caret.position(); }
    int lineHeight() const { return m_lineHeight; }
    // Text position under a point of the viewport; points above or below it give lines above
    // or below the view.
    qint64 positionAt(QPoint point) const;
    QRect characterRect(qint64 position) const;
    void ensureVisible(qint64 position);
    // The lines in view, as assistive technology reads them.
    QByteArray visibleText() const;
    // How many lines were let go, as the pane says it above its first line; empty while none.
    QString discardNotice() const;
    // A position as assistive technology counts: from the first character held, up to what an
    // int can address.
    int accessibleOffset(qint64 position) const;
    // The caret's cell, where the Menu key and Shift+F10 open the context menu.
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

signals:
    void selectionChanged();
    void findFinished(bool found, bool wrapped);

protected:
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    // Takes in what the store added or let go of since this pane last looked: a pane that
    // follows moves its caret to the end. Runs when the store tells, and before anything the
    // user does, so that nothing works on a stale caret.
    void catchUp();
    void storeCleared();
    void scheduleRefresh();
    void refresh();
    void updateAppended(qint64 moved);
    void updateMetrics();
    void updateScrollBars();
    void userScrolled();
    void updateFollowing();
    void moveCaret(qint64 position, bool keepAnchor);
    // What follows any move of the caret, given the selection before it.
    void caretMoved(qint64 oldStart, qint64 oldEnd);
    bool moveByKey(const QKeyEvent *event);
    void move(Caret::Move move, bool keepAnchor);
    void dragTo(QPoint point);
    void offerPrimarySelection();
    // What the pane tells assistive technology; each costs nothing while none listens.
    void reportCaret(bool selectionChanged);
    // Text from `from` to the end arrived since the last report.
    void reportAppended(qint64 from);
    // Text was let go or cleared: every offset changed.
    void reportReplaced();
    int visibleRows() const;
    // Rows count lines by number; the row just above the first line held, when lines were let
    // go, says so.
    qint64 firstRow() const;
    qint64 lastTopRow() const;
    qreal columnX(qint64 column) const;
    QByteArray discardLine() const;
    void showNotice(const QString &notice);
    void find(TextSearch::Direction direction);
    void showMatch(qint64 start, qint64 end, bool wrapped);
    void closeFind();
    void placeFindBar();

    const std::shared_ptr<LogStore> m_store;
    const LogText &m_text;
    // The store's bounds when this pane last caught up.
    qint64 m_seenBegin = 0;
    qint64 m_seenEnd = 0;
    Caret m_caret;
    qint64 m_topRow = 0;
    // Changed by the user's actions only, never by an append.
    bool m_following = true;
    // Set while the pane itself moves its scroll bars, so that only the user's moves count.
    bool m_movingScrollBars = false;
    // Rows per step of the vertical scroll bar, more than one once the rows outgrow an int.
    qint64 m_rowsPerStep = 1;
    bool m_dragging = false;
    QPoint m_dragPoint;
    // Scrolls on while a drag is held past the top or the bottom edge.
    QTimer m_autoScrollTimer;
    int m_lineHeight = 1;
    qreal m_charWidth = 1;
    qreal m_ascent = 0;
    GlyphTable m_glyphs;
    // The text as assistive technology last heard of it.
    qint64 m_reportedBegin = 0;
    qint64 m_reportedEnd = 0;
    // Turns a burst of changes made here into one repaint.
    QTimer m_refreshTimer;
    // Lines in the store at the last refresh, or -1 before one.
    qint64 m_shownLines = -1;
    bool m_refreshing = false;
    // A passing notice painted over the top of the view, such as a refused copy.
    QString m_notice;
    QTimer m_noticeTimer;
    TextSearch m_search;
    TextSearch::Direction m_searchDirection = TextSearch::Direction::Forward;
    FindBar *const m_findBar;
    SteadyScrollBar *const m_verticalBar;
    QMenu *const m_contextMenu;
};
