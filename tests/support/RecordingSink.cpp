#include "tests/support/RecordingSink.h"

#include "tests/support/ProcessCounters.h"
#include "tests/support/SimPicture.h"

RecordingSink::RecordingSink(int width, int height) : m_Width(width), m_Height(height) {}

STDMETHODIMP RecordingSink::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(ISampleGrabberCB))) {
        *out = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP RecordingSink::SampleCB(double, IMediaSample* sample)
{
    RecordedSample record = {};
    record.timeResult = sample->GetTime(&record.start, &record.end);
    record.syncPoint = sample->IsSyncPoint() == S_OK;
    record.size = sample->GetSize();
    record.threadId = GetCurrentThreadId();
    BYTE* data = nullptr;
    const long frameBytes = static_cast<long>(m_Width) * m_Height * 3;
    if (SUCCEEDED(sample->GetPointer(&data)) && record.size >= frameBytes)
        record.showsPicture = static_cast<bool>(ShowsSimPicture(data, m_Width, m_Height));
    ScopedLock lock(&m_Lock);
    m_Samples.push_back(record);
    return S_OK;
}

STDMETHODIMP RecordingSink::BufferCB(double, BYTE*, long)
{
    return S_OK;
}

std::vector<RecordedSample> RecordingSink::Samples() const
{
    ScopedLock lock(&m_Lock);
    return m_Samples;
}

size_t RecordingSink::Count() const
{
    ScopedLock lock(&m_Lock);
    return m_Samples.size();
}

bool RecordingSink::WaitForSamples(size_t count, DWORD milliseconds) const
{
    return WaitUntil([&] { return Count() >= count; }, milliseconds);
}

void RecordingSink::Clear()
{
    ScopedLock lock(&m_Lock);
    m_Samples.clear();
}
