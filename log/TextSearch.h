// SPDX-License-Identifier: MIT
#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

class LogText;

// Finds a byte string in a log text a slice at a time, a zero-time timer between slices, so
// that a search through millions of lines never holds up the event loop for long. Matches are
// case-sensitive and lie within one line: a needle with '\n' or '\r' in it finds nothing.
//
// The text may grow and let go of old blocks while a search runs: a forward search also covers
// what was appended, up to the end it finds when it gets there, and a scan position whose text
// was let go moves to begin(). After LogText::clear() the owner must call cancel().
class TextSearch : public QObject
{
    Q_OBJECT

public:
    enum class Direction { Forward, Backward };

    explicit TextSearch(const LogText &text, QObject *parent = nullptr);

    // Forward: the first match that starts at or after `from`, else (wrapping once) the first
    // from begin(). Backward: the last match that ends at or before `from`, else (wrapping) the
    // last one in the text. A search already running is abandoned. Either signal comes from
    // the event loop, never from within start().
    void start(const QByteArray &needle, qint64 from, Direction direction);
    void cancel();
    bool isRunning() const { return m_running; }

signals:
    void found(qint64 start, qint64 end, bool wrapped);
    void notFound();

private:
    enum class Step { Again, Done };

    void searchSlice();
    Step stepForward();
    Step stepBackward();
    Step passOver(qint64 wrapTo);
    Step report(qint64 start);

    const LogText &m_text;
    QTimer m_sliceTimer;
    QByteArray m_needle;
    Direction m_direction = Direction::Forward;
    qint64 m_from = 0;
    qint64 m_position = 0; // where the scan goes on
    bool m_wrapped = false;
    bool m_running = false;
};
