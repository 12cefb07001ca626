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
    , m_notice(kFrame, [this] { emit appended(); })
{ }

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
    // A line at a human period is told in the same wake-up as it came; lines closer together
    // at most once a frame, mostly from the wake-up of a later line.
    m_notice.request(kFrame);
}

void LogStore::clear()
{
    m_text.clear();
    emit cleared();
}
