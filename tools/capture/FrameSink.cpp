#include "tools/capture/FrameSink.h"

#include <cstring>
#include <vfwmsgs.h>

FrameSink::FrameSink() : m_LastFrameTick(GetTickCount()), m_SnapshotTaken(true) {}

void FrameSink::SetLayout(int width, int height, bool topDown) {
    ScopedLock lock(&m_Lock);
    m_Width = width;
    m_Height = height;
    m_TopDown = topDown;
}

void FrameSink::StartRecording(AviFileWriter* writer, uint32_t frameLimit, LONGLONG frameInterval)
{
    ScopedLock lock(&m_Lock);
    m_Writer = writer;
    m_RecordLimit = frameLimit;
    m_Recorded = 0;
    m_RecordResult = S_OK;
    m_FrameInterval = frameInterval;
    m_Stamped = false;
}

void FrameSink::StopRecording() {
    ScopedLock lock(&m_Lock);
    m_Writer = nullptr;
}

bool FrameSink::RecordingComplete() {
    ScopedLock lock(&m_Lock);
    return !m_Writer || FAILED(m_RecordResult) || m_Recorded >= m_RecordLimit;
}

HRESULT FrameSink::RecordingResult() {
    ScopedLock lock(&m_Lock);
    return m_RecordResult;
}

double FrameSink::RecordedFramesPerSecond() {
    ScopedLock lock(&m_Lock);
    if (m_Stamped) return 1e7 / double(m_FrameInterval);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const uint32_t frames = m_Recorded;
    const double seconds = double(m_LastRecordTime.QuadPart - m_FirstRecordTime.QuadPart) / double(frequency.QuadPart);
    if (frames < 2 || seconds <= 0) return 0;
    return (frames - 1) / seconds;
}

bool FrameSink::CaptureSnapshot(DWORD milliseconds, FrameImage& image) {
    {
        ScopedLock lock(&m_Lock);
        m_SnapshotTaken.Reset();
        m_SnapshotWanted = true;
    }
    const bool taken = m_SnapshotTaken.Wait(milliseconds);
    ScopedLock lock(&m_Lock);
    m_SnapshotWanted = false;
    if (!taken) return false;
    image = std::move(m_Snapshot);
    m_Snapshot = FrameImage();
    return true;
}

STDMETHODIMP FrameSink::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_ISampleGrabberCB) return E_NOINTERFACE;
    *out = static_cast<ISampleGrabberCB*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) FrameSink::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_RefCount));
}

STDMETHODIMP_(ULONG) FrameSink::Release() {
    const LONG remaining = InterlockedDecrement(&m_RefCount);
    if (remaining == 0) delete this;
    return static_cast<ULONG>(remaining);
}

STDMETHODIMP FrameSink::SampleCB(double /*sampleTime*/, IMediaSample* sample) {
    if (!sample) return E_POINTER;
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return S_OK;
    REFERENCE_TIME start = 0, end = 0;
    const HRESULT timed = sample->GetTime(&start, &end);
    const bool stamped = timed == S_OK || timed == VFW_S_NO_STOP_TIME;
    OnFrame(data, sample->GetActualDataLength(), stamped ? &start : nullptr);
    return S_OK;
}

STDMETHODIMP FrameSink::BufferCB(double /*sampleTime*/, BYTE* buffer, long length) {
    if (buffer) OnFrame(buffer, length, nullptr);
    return S_OK;
}

void FrameSink::OnFrame(const BYTE* data, long length, const LONGLONG* stamp)
{
    InterlockedIncrement(&m_FrameCount);
    m_LastFrameTick = GetTickCount();
    if (length < 0) length = 0;

    ScopedLock lock(&m_Lock);
    Record(data, length, stamp);
    if (m_SnapshotWanted && m_Width > 0 && m_Height > 0) {
        m_Snapshot.width = m_Width;
        m_Snapshot.height = m_Height;
        m_Snapshot.topDown = m_TopDown;
        // A short sample leaves the rest of the picture black.
        m_Snapshot.pixels.assign(m_Snapshot.RowBytes() * m_Height, 0);
        const size_t copied = size_t(length) < m_Snapshot.pixels.size() ? size_t(length) : m_Snapshot.pixels.size();
        std::memcpy(m_Snapshot.pixels.data(), data, copied);
        m_SnapshotWanted = false;
        m_SnapshotTaken.Set();
    }
}

void FrameSink::Record(const BYTE* data, long length, const LONGLONG* stamp)
{
    if (!m_Writer || FAILED(m_RecordResult) || m_Recorded >= m_RecordLimit) return;
    if (m_Recorded == 0) m_Stamped = stamp && m_FrameInterval > 0;
    if (m_Stamped) {
        if (stamp) RecordAtFixedRate(data, length, *stamp);
        return;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    if (m_Recorded == 0) m_FirstRecordTime = now;
    m_LastRecordTime = now;
    m_RecordResult = m_Writer->WriteFrame(data, static_cast<size_t>(length));
    if (SUCCEEDED(m_RecordResult)) ++m_Recorded;
}

void FrameSink::RecordAtFixedRate(const BYTE* data, long length, LONGLONG stamp)
{
    if (m_Recorded == 0) m_FirstStamp = stamp;
    if (stamp < m_FirstStamp) return;
    // The frame slot the sample's start falls in, rounded to the nearest.
    const LONGLONG slot = (stamp - m_FirstStamp + m_FrameInterval / 2) / m_FrameInterval;
    while (static_cast<LONGLONG>(m_Recorded) <= slot && m_Recorded < m_RecordLimit) {
        m_RecordResult = m_Writer->WriteFrame(data, static_cast<size_t>(length));
        if (FAILED(m_RecordResult)) return;
        ++m_Recorded;
    }
}
