// SPDX-License-Identifier: MIT
#include "log/LogStore.h"

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
    connect(&m_frameTimer, &QTimer::timeout, this, &LogStore::appended);
}

void LogStore::append(QByteArrayView text)
{
    m_text.append(text);
    if (!m_frameTimer.isActive())
        m_frameTimer.start();
}

void LogStore::clear()
{
    m_text.clear();
    emit cleared();
}
