// SPDX-License-Identifier: MIT
#include "engine/Jitter.h"

std::optional<qint64> Jitter::observe(qint64 transitNs)
{
    const qint64 previous = m_previous;
    const bool hadPrevious = m_hasPrevious;
    m_previous = transitNs;
    m_hasPrevious = true;
    if (!hadPrevious)
        return std::nullopt;
    const qint64 d = transitNs >= previous ? transitNs - previous : previous - transitNs;
    m_scaled += d - ((m_scaled + (1 << (kScaleShift - 1))) >> kScaleShift);
    m_estimated = true;
    return d;
}
