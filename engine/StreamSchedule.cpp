// SPDX-License-Identifier: MIT
#include "engine/StreamSchedule.h"

#include "net/TestPattern.h"

namespace {

constexpr int kCounterRange = TestPattern::kLargestCounter + 1;

} // namespace

StreamSchedule::Place StreamSchedule::place(int counter, qint64 arrivalNs, bool afterOutage)
{
    const bool lostPlace
        = m_periodNs > 0 && arrivalNs - m_newestArrivalNs > kPlaceablePeriods * m_periodNs;
    if (!m_started || afterOutage || lostPlace) {
        m_started = true;
        m_pointCount = 0;
        m_newestPlace = m_previousPlace = counter;
        m_newestArrivalNs = m_previousArrivalNs = arrivalNs;
        m_transitNs = 0;
        addPoint(counter, arrivalNs);
        return { 0, false };
    }

    const int ahead
        = int((counter - m_newestPlace % kCounterRange + kCounterRange) % kCounterRange);
    const qint64 place
        = m_newestPlace + (ahead < kCounterRange / 2 ? ahead : ahead - kCounterRange);
    bool continues = false;
    if (m_pointCount < 2) {
        m_transitNs = 0;
    } else {
        // The period as the exact ratio of the two spans, so no rounding of it is multiplied.
        const Point &oldest = oldestPoint();
        const qint64 due = (place - m_previousPlace) * (m_newestArrivalNs - oldest.arrivalNs)
            / (m_newestPlace - oldest.place);
        m_transitNs += arrivalNs - m_previousArrivalNs - due;
        continues = true;
    }
    m_previousPlace = place;
    m_previousArrivalNs = arrivalNs;
    if (place > m_newestPlace) {
        m_newestPlace = place;
        m_newestArrivalNs = arrivalNs;
        addPoint(place, arrivalNs);
    }
    return { m_transitNs, continues };
}

void StreamSchedule::addPoint(qint64 place, qint64 arrivalNs)
{
    m_points[size_t(m_nextPoint)] = { place, arrivalNs };
    m_nextPoint = (m_nextPoint + 1) % kPeriodPoints;
    if (m_pointCount < kPeriodPoints)
        ++m_pointCount;
    if (m_pointCount >= 2) {
        const Point &oldest = oldestPoint();
        m_periodNs = (arrivalNs - oldest.arrivalNs) / (place - oldest.place);
    }
}

const StreamSchedule::Point &StreamSchedule::oldestPoint() const
{
    return m_points[size_t((m_nextPoint - m_pointCount + kPeriodPoints) % kPeriodPoints)];
}
