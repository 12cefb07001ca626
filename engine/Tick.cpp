// SPDX-License-Identifier: MIT
#include "engine/Tick.h"

#include <chrono>
#include <ctime>

quint32 systemUptimeMilliseconds()
{
#if defined(CLOCK_BOOTTIME)
    // Unlike CLOCK_MONOTONIC, this one keeps counting while the machine is suspended, as an
    // uptime counter should.
    timespec now {};
    if (clock_gettime(CLOCK_BOOTTIME, &now) == 0) {
        const auto ms = quint64(now.tv_sec) * 1000u + quint64(now.tv_nsec) / 1000000u;
        return quint32(ms);
    }
#endif
    const auto sinceEpoch = std::chrono::steady_clock::now().time_since_epoch();
    return quint32(std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());
}
