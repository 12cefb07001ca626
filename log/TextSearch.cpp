// SPDX-License-Identifier: MIT
#include "log/TextSearch.h"

#include "log/LogText.h"

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>

namespace {

using namespace std::chrono_literals;

// One slice of the search: short beside a frame, long enough that the timer's round trip
// costs nothing against the scan.
constexpr auto kSliceTime = 2ms;
// The scan checks the clock after each window of this many bytes.
constexpr qint64 kWindow = 1024 * 1024;

} // namespace

TextSearch::TextSearch(const LogText &text, QObject *parent)
    : QObject(parent)
    , m_text(text)
{
    m_sliceTimer.setSingleShot(true);
    m_sliceTimer.setInterval(0);
    connect(&m_sliceTimer, &QTimer::timeout, this, &TextSearch::searchSlice);
}

void TextSearch::start(const QByteArray &needle, qint64 from, Direction direction)
{
    // Lines never hold a line break, so such a needle cannot match; the empty one neither.
    m_needle = needle.contains('\n') || needle.contains('\r') ? QByteArray() : needle;
    m_direction = direction;
    m_from = std::clamp(from, m_text.begin(), m_text.end());
    m_position = m_from;
    m_wrapped = false;
    m_running = true;
    m_sliceTimer.start();
}

void TextSearch::cancel()
{
    m_sliceTimer.stop();
    m_running = false;
}

void TextSearch::searchSlice()
{
    if (m_needle.isEmpty()) {
        m_running = false;
        emit notFound();
        return;
    }
    QElapsedTimer clock;
    clock.start();
    do {
        const Step step = m_direction == Direction::Forward ? stepForward() : stepBackward();
        if (step == Step::Done)
            return;
    } while (clock.nsecsElapsed() < std::chrono::nanoseconds(kSliceTime).count());
    m_sliceTimer.start();
}

TextSearch::Step TextSearch::stepForward()
{
    const qint64 length = m_needle.size();
    m_position = std::max(m_position, m_text.begin());
    const QByteArrayView chunk = m_text.chunkAt(m_position);
    qint64 window = std::min(chunk.size(), std::max(kWindow, 2 * length));
    if (m_wrapped) // matches from m_from on were the first pass's
        window = std::clamp(m_from + length - 1 - m_position, qint64(0), window);
    if (window >= length) {
        const qsizetype match = chunk.first(window).indexOf(m_needle);
        if (match >= 0)
            return report(m_position + match);
    }
    // No match spans the end of a block, but one may span where the window stopped or where
    // the text ends for now.
    const bool blockEnds = window == chunk.size() && m_position + window < m_text.end();
    const qint64 advance = blockEnds ? window : std::max(qint64(0), window - length + 1);
    if (advance == 0)
        return passOver(m_text.begin());
    m_position += advance;
    return Step::Again;
}

TextSearch::Step TextSearch::stepBackward()
{
    const qint64 length = m_needle.size();
    const QByteArrayView chunk = m_text.chunkBefore(m_position);
    qint64 window = std::min(chunk.size(), std::max(kWindow, 2 * length));
    if (m_wrapped) // matches that end by m_from were the first pass's
        window = std::clamp(m_position - (m_from - length + 1), qint64(0), window);
    if (window >= length) {
        const qsizetype match = chunk.last(window).lastIndexOf(m_needle);
        if (match >= 0)
            return report(m_position - window + match);
    }
    const bool blockStarts = window == chunk.size();
    const qint64 advance = blockStarts ? window : std::max(qint64(0), window - length + 1);
    if (advance == 0)
        return passOver(m_text.end());
    m_position -= advance;
    return Step::Again;
}

TextSearch::Step TextSearch::passOver(qint64 wrapTo)
{
    if (!m_wrapped) {
        m_wrapped = true;
        m_position = wrapTo;
        return Step::Again;
    }
    m_running = false;
    emit notFound();
    return Step::Done;
}

TextSearch::Step TextSearch::report(qint64 start)
{
    m_running = false;
    emit found(start, start + m_needle.size(), m_wrapped);
    return Step::Done;
}
