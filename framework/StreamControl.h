// A pin's stream control: a host tells it at which stream times to start and
// stop sending samples (so a recording can start and stop while the pin, and
// the preview beside it, keep running), and hears back through graph events
// carrying its cookies. The pin asks Admit for each sample it has made.
#ifndef QUILLON_STREAM_CONTROL_H
#define QUILLON_STREAM_CONTROL_H

#include <windows.h>
#include <strmif.h>
#include <climits>

#include "framework/Sync.h"

// Implements IAMStreamControl's own operations; the pin that inherits it
// supplies IUnknown and posts the events.
class StreamControl : public IAMStreamControl {
  public:
    virtual ~StreamControl() = default;

    // A null time means now; MAXLONGLONG means never (for a start: the stream
    // stops until the next start; for a stop: the pending stop is cancelled).
    STDMETHODIMP StartAt(const REFERENCE_TIME* start, DWORD cookie) override;
    STDMETHODIMP StopAt(const REFERENCE_TIME* stop, BOOL sendExtra, DWORD cookie) override;
    STDMETHODIMP GetInfo(AM_STREAM_INFO* info) override;

    // Whether a sample at stream time `time` is to be sent. Carries out the
    // start and stop whose times it has reached, in time order, and posts
    // EC_STREAM_CONTROL_STARTED or EC_STREAM_CONTROL_STOPPED with their cookies.
    bool Admit(REFERENCE_TIME time);

    // The time to give Admit when the stream time is not known (a paused
    // graph): after "now", before every time a host can name.
    static constexpr REFERENCE_TIME UnknownTime = LLONG_MIN + 1;

  protected:
    // Posts one stream control event with its cookie to the filter graph.
    virtual void PostStreamControlEvent(long code, DWORD cookie) = 0;

  private:
    struct Pending {
        bool defined = false;
        REFERENCE_TIME time = 0;
        DWORD cookie = 0;
    };

    CriticalLock m_Lock;
    Pending m_Start;
    Pending m_Stop;
    bool m_SendExtra = false;
    bool m_Discarding = false;
};

#endif
