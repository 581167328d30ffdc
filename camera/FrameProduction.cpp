// What the pin does on its worker thread: open and start the camera, pace,
// stamp and fill each sample with the latest frame, stop and close the camera.
#include "camera/CapturePin.h"

#include <uuids.h>

namespace {

const char MessageCaption[] = "Brisca Camera";
// Samples closer together than this are spaced out by one sleep of it.
const LONG MinimumSampleSpacing = 30;
// How often a capture pin that waits for the graph to run looks again.
const DWORD RunWaitSliceMilliseconds = 5;

} // namespace

HRESULT CapturePin::OnThreadBegin()
{
    if (!m_Camera) return E_FAIL;
    // The camera opens at the size of this connection; should the other pin
    // have opened it already, its picture is centred into this one's.
    int resolution = CCamera::StoredResolution;
    {
        ScopedLock lock(&m_TypeLock);
        const int entry = EntryMatching(m_ConnectionType, false);
        if (entry >= 0) resolution = EffectiveResolution(entry);
        const VIDEOINFOHEADER* videoInfo = VideoInfoOf(m_ConnectionType);
        m_SampleDuration =
            videoInfo && videoInfo->AvgTimePerFrame > 0 ? videoInfo->AvgTimePerFrame : CameraFrameInterval;
    }
    m_DeliveryLayout = DeliveryLayout();

    if (m_Camera->Open(resolution) != 1) {
        MessageBoxA(nullptr, "Camera init failed!", MessageCaption, MB_OK);
        return E_FAIL;
    }
    if (m_Camera->Play() != 1) {
        MessageBoxA(nullptr, "Camera play failed!", MessageCaption, MB_OK);
        return E_FAIL;
    }
    CameraConfig refreshed;
    m_Camera->GetConfig(refreshed);

    if (m_DeliveryLayout.IsEmpty()) {
        const PictureLayout camera = m_Camera->FrameLayout();
        m_DeliveryLayout = PictureLayout::Video(camera.width, camera.height);
    }
    m_LastStart = -1;
    m_LastSequence = 0;
    ForgetDeliveries();
    m_LastTick = m_TickSource();
    QueryPerformanceCounter(&m_RealTimeOrigin);
    return S_OK;
}

// A sample holds only pictures the camera took: before the first frame of
// this start there is nothing to deliver.
bool CapturePin::WaitForCameraFrame()
{
    if (IsCapture()) {
        return m_LastSequence != 0 || m_Camera->WaitForFrameAfter(0, FirstFrameWaitMilliseconds);
    }
    // The preview shows each new frame; without one for a while it shows the
    // one it has again.
    m_Camera->WaitForFrameAfter(m_LastSequence, CCamera::FrameWaitMilliseconds);
    return m_Camera->FrameSequence() != 0;
}

REFERENCE_TIME CapturePin::RealTimeSinceStart() const
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    const LONGLONG ticks = now.QuadPart - m_RealTimeOrigin.QuadPart;
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const LONGLONG seconds = ticks / frequency.QuadPart;
    const LONGLONG rest = ticks % frequency.QuadPart;
    return seconds * 10000000 + rest * 10000000 / frequency.QuadPart;
}

// With a clock, a capture sample starts at the stream time it was filled,
// so video lines up with every other live source of the graph; such a time
// exists only while the graph runs, from its start on. Without a clock the
// stamps count real time from the worker's start.
bool CapturePin::CaptureStartTime(REFERENCE_TIME* start)
{
    for (;;) {
        REFERENCE_TIME now = 0;
        const HRESULT hr = m_ParentFilter->StreamTime(&now);
        if (hr == VFW_E_NO_CLOCK) {
            *start = RealTimeSinceStart();
            return true;
        }
        if (SUCCEEDED(hr) && m_ParentFilter->State() == State_Running && now >= 0) {
            *start = now;
            return true;
        }
        if (PollCommand(nullptr)) return false;
        Sleep(RunWaitSliceMilliseconds);
    }
}

HRESULT CapturePin::FillSample(IMediaSample* sample)
{
    if (!sample) return E_POINTER;
    if (m_DeliveryLayout.IsEmpty()) m_DeliveryLayout = DeliveryLayout();
    if (!WaitForCameraFrame()) return SkipSample;

    const DWORD tick = m_TickSource();
    const LONG elapsed = static_cast<LONG>(tick - m_LastTick);
    if (elapsed > 0 && elapsed < MinimumSampleSpacing) m_Sleep(MinimumSampleSpacing);
    m_LastTick = tick;

    if (IsCapture()) {
        REFERENCE_TIME start;
        if (!CaptureStartTime(&start)) return SkipSample;
        // Two samples filled within one tick of the clock still follow each other.
        if (start <= m_LastStart) start = m_LastStart + 1;
        REFERENCE_TIME end = start + m_SampleDuration;
        m_LastStart = start;
        sample->SetTime(&start, &end);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    sample->SetSyncPoint(TRUE);

    BYTE* data = nullptr;
    const HRESULT pointer = sample->GetPointer(&data);
    if (FAILED(pointer)) return pointer;
    // Never more than the sample holds, whatever its allocator granted.
    const long size = sample->GetSize();
    const size_t capacity = size > 0 ? static_cast<size_t>(size) : 0;
    const LONG sequence = m_Camera->CopyLatestFrame(m_DeliveryLayout, data, capacity);
    if (sequence == 0) return SkipSample;
    m_LastSequence = sequence;
    if (IsCapture()) m_Camera->CountDelivery();
    NoteDelivery();
    const size_t picture = m_DeliveryLayout.Bytes();
    sample->SetActualDataLength(static_cast<long>(picture < capacity ? picture : capacity));
    return S_OK;
}

HRESULT CapturePin::OnThreadEnd()
{
    ForgetDeliveries();
    if (m_Camera) {
        m_Camera->Stop();
        m_Camera->Close();
    }
    return S_OK;
}

// A live source cannot make frames earlier or later; lateness downstream
// changes nothing here.
STDMETHODIMP CapturePin::Notify(IBaseFilter*, Quality)
{
    return S_OK;
}
