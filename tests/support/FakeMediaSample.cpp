#include "tests/support/FakeMediaSample.h"

#include <vfwmsgs.h>

FakeMediaSample::FakeMediaSample(long size, long guard)
    : m_Size(size), m_Buffer(static_cast<size_t>(size + guard), GuardByte)
{
}

bool FakeMediaSample::GuardIntact() const
{
    for (size_t i = static_cast<size_t>(m_Size); i < m_Buffer.size(); ++i)
        if (m_Buffer[i] != GuardByte) return false;
    return true;
}

STDMETHODIMP FakeMediaSample::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMediaSample)) {
        *out = static_cast<IMediaSample*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP FakeMediaSample::GetPointer(BYTE** out)
{
    if (!out) return E_POINTER;
    *out = m_Buffer.data();
    return S_OK;
}

STDMETHODIMP FakeMediaSample::GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end)
{
    if (!m_StartGiven) return VFW_E_SAMPLE_TIME_NOT_SET;
    if (start) *start = m_Start;
    if (end) *end = m_End;
    return m_EndGiven ? S_OK : VFW_S_NO_STOP_TIME;
}

STDMETHODIMP FakeMediaSample::SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end)
{
    ++m_SetTimeCalls;
    m_TimeSet = true;
    m_StartGiven = start != nullptr;
    m_EndGiven = end != nullptr;
    m_Start = start ? *start : 0;
    m_End = end ? *end : 0;
    return S_OK;
}

STDMETHODIMP FakeMediaSample::SetSyncPoint(BOOL syncPoint)
{
    m_SyncPoint = syncPoint != FALSE;
    return S_OK;
}

STDMETHODIMP FakeMediaSample::SetActualDataLength(long)
{
    m_ActualLengthSet = true;
    return S_OK;
}

STDMETHODIMP FakeMediaSample::GetMediaType(AM_MEDIA_TYPE** out)
{
    if (out) *out = nullptr;
    return S_FALSE;
}
