// Which of the camera's frames a pin delivers, and how it stamps them: at the
// pin's frame interval, each camera frame at most once, with time stamps that
// follow the frames' arrival and never overlap; and the pin's counts of the
// frames it delivered and dropped. Pure bookkeeping: times are given to it.
#ifndef QUILLON_FRAME_SCHEDULE_H
#define QUILLON_FRAME_SCHEDULE_H

#include <windows.h>
#include <strmif.h>

class FrameSchedule {
  public:
    // Starts afresh at a frame interval (100 ns); 0 or less means the camera's.
    void Start(REFERENCE_TIME interval);
    // Goes on after the stream paused: the frames made meanwhile count as
    // neither delivered nor dropped.
    void Resume() { m_HasTaken = false; }
    REFERENCE_TIME Interval() const { return m_Interval; }

    // Whether a frame that arrived at `arrival` is one the pin's rate wants.
    // Any fixed time origin serves, as long as it is the same for every call.
    bool IsDue(REFERENCE_TIME arrival) const;
    // Takes camera frame `sequence`, which arrived at `arrival`, for the next
    // sample: counts the due frames passed over since the previous one as
    // dropped and moves the schedule on.
    void Take(LONG sequence, REFERENCE_TIME arrival);
    // The sample times of a frame that arrived at stream time `arrival`: it
    // starts at its arrival, or where the previous sample stopped should the
    // camera's timing waver, and stops when the next frame is expected (one
    // interval after its arrival), so no two samples overlap.
    void Stamp(REFERENCE_TIME arrival, REFERENCE_TIME* start, REFERENCE_TIME* stop);
    // Counts the frame taken last as delivered downstream.
    void CountDelivered() { InterlockedIncrement(&m_Delivered); }

    LONG Delivered() const { return m_Delivered; }
    LONG Dropped() const { return m_Dropped; }

  private:
    REFERENCE_TIME m_Interval = 0;
    // When the next frame is due on the schedule's grid; unset before the first.
    bool m_HasTaken = false;
    REFERENCE_TIME m_NextDue = 0;
    LONG m_LastSequence = 0;
    bool m_HasStamped = false;
    REFERENCE_TIME m_LastStart = 0;
    REFERENCE_TIME m_LastStop = 0;
    volatile LONG m_Delivered = 0;
    volatile LONG m_Dropped = 0;
};

#endif
