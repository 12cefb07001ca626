// SPDX-License-Identifier: MIT
#pragma once

#include "LogText.h"

#include <QAbstractScrollArea>
#include <QTimer>

class QMenu;

// A read-only text pane made for logs: it holds its text as compact bytes, paints only the
// visible lines and repaints at most once a frame, however fast lines arrive.
class LogPane : public QAbstractScrollArea
{
    Q_OBJECT

public:
    explicit LogPane(QWidget *parent = nullptr);

    // The pane holds exactly this text; the caret goes to its start.
    void setText(QByteArrayView text);
    // Adds text at the end; the selection stays where it was.
    void append(QByteArrayView text);
    // Collapses the selection at the position, clamped to the text.
    void setSelectionStart(qint64 position);
    void select(qint64 anchor, qint64 caret);
    void selectAll();
    void copy() const;

    const LogText &content() const { return m_text; }
    QByteArray text() const { return m_text.mid(0, m_text.size()); }
    QByteArray selectedText() const { return m_text.mid(selectionStart(), selectionEnd()); }
    qint64 selectionStart() const { return std::min(m_anchor, m_caret); }
    qint64 selectionEnd() const { return std::max(m_anchor, m_caret); }
    qint64 caret() const { return m_caret; }
    int lineHeight() const { return m_lineHeight; }
    int charWidth() const { return m_charWidth; }
    // Text position under a point of the viewport.
    qint64 positionAt(QPoint point) const;
    QRect characterRect(qint64 position) const;
    void ensureVisible(qint64 position);

signals:
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void scheduleRefresh();
    void refresh();
    void updateMetrics();
    void updateScrollBars();
    void moveCaret(qint64 position, bool keepAnchor);
    void selectWordAt(qint64 position);
    int visibleRows() const;

    LogText m_text;
    qint64 m_anchor = 0;
    qint64 m_caret = 0;
    bool m_scrollToCaret = false;
    bool m_dragging = false;
    int m_lineHeight = 1;
    int m_charWidth = 1;
    int m_ascent = 0;
    // Appends only mark the pane dirty; this timer turns a burst of them into one repaint.
    QTimer m_refreshTimer;
    QMenu *const m_contextMenu;
};
