#include "framework/StreamControl.h"

#include <climits>
#include <evcode.h>

namespace {

// "Now": reached by the very next sample.
const REFERENCE_TIME Now = LLONG_MIN;
const REFERENCE_TIME Never = LLONG_MAX;

} // namespace

STDMETHODIMP StreamControl::StartAt(const REFERENCE_TIME* start, DWORD cookie)
{
    ScopedLock hold(&m_Lock);
    if (start && *start == Never) {
        m_Start.defined = false;
        m_Discarding = true;
        return S_OK;
    }
    m_Start.defined = true;
    m_Start.time = start ? *start : Now;
    m_Start.cookie = cookie;
    return S_OK;
}

STDMETHODIMP StreamControl::StopAt(const REFERENCE_TIME* stop, BOOL sendExtra, DWORD cookie)
{
    ScopedLock hold(&m_Lock);
    if (stop && *stop == Never) {
        m_Stop.defined = false;
        return S_OK;
    }
    m_Stop.defined = true;
    m_Stop.time = stop ? *stop : Now;
    m_Stop.cookie = cookie;
    m_SendExtra = sendExtra != FALSE;
    return S_OK;
}

STDMETHODIMP StreamControl::GetInfo(AM_STREAM_INFO* info)
{
    if (!info) return E_POINTER;
    ScopedLock hold(&m_Lock);
    ZeroMemory(info, sizeof(*info));
    if (m_Start.defined) {
        info->tStart = m_Start.time;
        info->dwStartCookie = m_Start.cookie;
        info->dwFlags |= AM_STREAM_INFO_START_DEFINED;
    }
    if (m_Stop.defined) {
        info->tStop = m_Stop.time;
        info->dwStopCookie = m_Stop.cookie;
        info->dwFlags |= AM_STREAM_INFO_STOP_DEFINED;
        if (m_SendExtra) info->dwFlags |= AM_STREAM_INFO_STOP_SEND_EXTRA;
    }
    if (m_Discarding) info->dwFlags |= AM_STREAM_INFO_DISCARDING;
    return S_OK;
}

bool StreamControl::Admit(REFERENCE_TIME time)
{
    struct Event {
        long code;
        DWORD cookie;
    } events[2];
    int eventCount = 0;
    bool extra = false;
    bool send;
    {
        ScopedLock hold(&m_Lock);
        for (;;) {
            const bool startReached = m_Start.defined && m_Start.time <= time;
            const bool stopReached = m_Stop.defined && m_Stop.time <= time;
            if (!startReached && !stopReached) break;
            // The earlier of the two first; a start and a stop at one time
            // leave the stream stopped.
            if (startReached && (!stopReached || m_Start.time <= m_Stop.time)) {
                m_Start.defined = false;
                m_Discarding = false;
                events[eventCount++] = {EC_STREAM_CONTROL_STARTED, m_Start.cookie};
            } else {
                m_Stop.defined = false;
                if (!m_Discarding) extra = m_SendExtra;
                m_Discarding = true;
                events[eventCount++] = {EC_STREAM_CONTROL_STOPPED, m_Stop.cookie};
            }
        }
        // Before a start that is still to come, nothing goes.
        send = (!m_Discarding && !m_Start.defined) || extra;
    }
    for (int i = 0; i < eventCount; ++i) PostStreamControlEvent(events[i].code, events[i].cookie);
    return send;
}
