#include "camera/FrameSchedule.h"

#include "camera/CCamera.h"

namespace {

// A frame this much before its turn still counts as on time: half the time
// between two camera frames, so the timing of a frame's arrival may waver
// without making the schedule take the neighbouring frame instead.
const REFERENCE_TIME DueTolerance = CameraFrameInterval / 2;

} // namespace

void FrameSchedule::Start(REFERENCE_TIME interval)
{
    m_Interval = interval > CameraFrameInterval ? interval : CameraFrameInterval;
    m_HasTaken = false;
    m_NextDue = 0;
    m_LastSequence = 0;
    m_HasStamped = false;
    m_LastStart = 0;
    m_LastStop = 0;
    InterlockedExchange(&m_Delivered, 0);
    InterlockedExchange(&m_Dropped, 0);
}

// At the camera's own rate every frame is wanted. Slower, frames are due on a
// grid one interval apart, so 15 frames a second take every other frame
// evenly, and a rate that is no whole fraction of the camera's still keeps
// its average.
bool FrameSchedule::IsDue(REFERENCE_TIME arrival) const
{
    if (!m_HasTaken || m_Interval <= CameraFrameInterval) return true;
    return arrival >= m_NextDue - DueTolerance;
}

void FrameSchedule::Take(LONG sequence, REFERENCE_TIME arrival)
{
    if (m_HasTaken && sequence > m_LastSequence) {
        // The camera frames since the last one taken, in intervals of the
        // pin's rate: all but one of those turns were missed.
        const double turns = double(sequence - m_LastSequence) * CameraFrameInterval / m_Interval;
        const LONG missed = static_cast<LONG>(turns + 0.5) - 1;
        if (missed > 0) InterlockedExchangeAdd(&m_Dropped, missed);
    }
    // Keep to the grid unless the frame came more than half a turn late (a
    // stalled camera or a slow downstream filter): then it starts again here.
    if (!m_HasTaken || arrival > m_NextDue + m_Interval / 2)
        m_NextDue = arrival + m_Interval;
    else
        m_NextDue += m_Interval;
    m_HasTaken = true;
    m_LastSequence = sequence;
}

void FrameSchedule::Stamp(REFERENCE_TIME arrival, REFERENCE_TIME* start, REFERENCE_TIME* stop)
{
    REFERENCE_TIME begin = arrival;
    if (m_HasStamped) {
        if (begin < m_LastStop) begin = m_LastStop;
        if (begin <= m_LastStart) begin = m_LastStart + 1;
    }
    REFERENCE_TIME end = arrival + m_Interval;
    if (end <= begin) end = begin + 1;
    m_HasStamped = true;
    m_LastStart = begin;
    m_LastStop = end;
    *start = begin;
    *stop = end;
}
