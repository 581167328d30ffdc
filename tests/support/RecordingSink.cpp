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

namespace {

REFERENCE_TIME RealTimeNow()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<REFERENCE_TIME>(static_cast<double>(now.QuadPart) * 1e7 / frequency.QuadPart);
}

} // namespace

void RecordingSink::SetPictureSize(int width, int height)
{
    ScopedLock lock(&m_Lock);
    m_Width = width;
    m_Height = height;
}

void RecordingSink::SetProbe(std::function<LONGLONG()> probe)
{
    ScopedLock lock(&m_Lock);
    m_Probe = std::move(probe);
}

void RecordingSink::SetDuringReceive(std::function<void()> action)
{
    ScopedLock lock(&m_Lock);
    m_DuringReceive = std::move(action);
}

void RecordingSink::KeepLastPicture(bool keep)
{
    ScopedLock lock(&m_Lock);
    m_KeepLast = keep;
}

std::vector<unsigned char> RecordingSink::LastPicture() const
{
    ScopedLock lock(&m_Lock);
    return m_LastPicture;
}

STDMETHODIMP RecordingSink::SampleCB(double, IMediaSample* sample)
{
    RecordedSample record = {};
    record.squareColumn = -1;
    record.arrival = RealTimeNow();
    std::function<LONGLONG()> probe;
    std::function<void()> duringReceive;
    int width, height;
    bool keep;
    {
        ScopedLock lock(&m_Lock);
        probe = m_Probe;
        duringReceive = m_DuringReceive;
        width = m_Width;
        height = m_Height;
        keep = m_KeepLast;
    }
    if (probe) record.probe = probe();
    record.timeResult = sample->GetTime(&record.start, &record.end);
    record.syncPoint = sample->IsSyncPoint() == S_OK;
    record.size = sample->GetSize();
    record.actualLength = sample->GetActualDataLength();
    record.threadId = GetCurrentThreadId();
    BYTE* data = nullptr;
    const long frameBytes = static_cast<long>(width) * height * 3;
    const bool readable = SUCCEEDED(sample->GetPointer(&data)) && data;
    if (readable && record.size >= frameBytes) {
        record.showsPicture = static_cast<bool>(ShowsSimPicture(data, width, height));
        record.squareColumn = SimSquareColumn(data, width, height);
    }
    if (duringReceive) duringReceive();
    ScopedLock lock(&m_Lock);
    if (keep && readable) m_LastPicture.assign(data, data + record.actualLength);
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
