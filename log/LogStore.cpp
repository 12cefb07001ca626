// SPDX-License-Identifier: MIT
#include "log/LogStore.h"

#include "log/Common.h"

#include <algorithm>
#include <chrono>

namespace {

// About one frame at 60 Hz.
constexpr std::chrono::milliseconds kFrame { 16 };

} // namespace

LogStore::LogStore(qint64 budget, QObject *parent)
    : QObject(parent)
    , m_text(budget)
{
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setInterval(kFrame);
    connect(&m_frameTimer, &QTimer::timeout, this, [this] {
        m_sinceNotice.start();
        emit appended();
    });
}

void LogStore::append(QByteArrayView text)
{
    m_text.append(text);
    added();
}

void LogStore::appendHexDump(QByteArrayView payload)
{
    Common::appendHexDump(m_text, payload);
    added();
}

void LogStore::added()
{
    // A line at a human period is told in the same wake-up as it came; a flood still at most
    // once a frame.
    if (m_frameTimer.isActive())
        return;
    const qint64 since = m_sinceNotice.isValid() ? m_sinceNotice.elapsed() : kFrame.count();
    m_frameTimer.start(int(std::max<qint64>(0, kFrame.count() - since)));
}

void LogStore::clear()
{
    m_text.clear();
    emit cleared();
}
