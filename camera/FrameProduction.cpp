// What the pin does on its worker thread: open and start the camera, wait
// for each frame its rate asks for, stamp it and fill a sample with it, stop
// and close the camera.
#include "camera/CapturePin.h"

#include <uuids.h>

namespace {

const char MessageCaption[] = "Brisca Camera";
// Preview samples closer together than this are spaced out by one sleep of it.
const LONG MinimumSampleSpacing = 30;
// How often a waiting pin looks for commands: a stop is answered this soon.
const DWORD WaitSliceMilliseconds = 5;

REFERENCE_TIME CounterSpan(LONGLONG ticks)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const LONGLONG seconds = ticks / frequency.QuadPart;
    const LONGLONG rest = ticks % frequency.QuadPart;
    return seconds * 10000000 + rest * 10000000 / frequency.QuadPart;
}

LONGLONG CounterNow()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

HRESULT CapturePin::OnThreadBegin()
{
    if (!m_Camera) return E_FAIL;
    // The camera opens at the size of this connection; should the other pin
    // have opened it already, its picture is centred into this one's.
    int resolution = CCamera::StoredResolution;
    REFERENCE_TIME interval = 0;
    {
        ScopedLock lock(&m_TypeLock);
        const int entry = EntryMatching(m_ConnectionType, false);
        if (entry >= 0) resolution = EffectiveResolution(entry);
        const VIDEOINFOHEADER* videoInfo = VideoInfoOf(m_ConnectionType);
        if (videoInfo) interval = videoInfo->AvgTimePerFrame;
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
    m_Schedule.Start(interval);
    m_LastSeen = 0;
    m_LastDelivered = 0;
    m_StreamFloor = 0;
    ForgetDeliveries();
    m_LastTick = m_TickSource();
    QueryPerformanceCounter(&m_RealTimeOrigin);
    return S_OK;
}

REFERENCE_TIME CapturePin::PinTime(LONGLONG counter) const
{
    return CounterSpan(counter - m_RealTimeOrigin.QuadPart);
}

// With a clock, the graph's stream time of the moment the frame arrived, so
// video lines up with every other live source of the graph; without one, the
// pin's own time since its worker began.
REFERENCE_TIME CapturePin::StreamTimeOf(LONGLONG arrivalCounter)
{
    REFERENCE_TIME now = 0;
    if (FAILED(m_ParentFilter->StreamTime(&now))) return PinTime(arrivalCounter);
    return now - CounterSpan(CounterNow() - arrivalCounter);
}

REFERENCE_TIME CapturePin::StreamTimeForControl()
{
    REFERENCE_TIME now = 0;
    const HRESULT hr = m_ParentFilter->StreamTime(&now);
    if (hr == VFW_E_NO_CLOCK) return PinTime(CounterNow());
    if (FAILED(hr) || m_ParentFilter->State() != State_Running) return StreamControl::UnknownTime;
    return now;
}

// A stream time exists only while the graph runs, from its start on. Frames
// from before that moment are not captured.
bool CapturePin::WaitUntilRunning()
{
    bool waited = false;
    for (;;) {
        REFERENCE_TIME now = 0;
        const HRESULT hr = m_ParentFilter->StreamTime(&now);
        if (hr == VFW_E_NO_CLOCK) return true;
        if (SUCCEEDED(hr) && m_ParentFilter->State() == State_Running && now >= 0) {
            if (waited) {
                m_StreamFloor = now;
                m_Schedule.Resume();
            }
            return true;
        }
        if (PollCommand(nullptr)) return false;
        waited = true;
        Sleep(WaitSliceMilliseconds);
    }
}

bool CapturePin::IsWanted(LONGLONG arrivalCounter)
{
    if (IsCapture() && StreamTimeOf(arrivalCounter) < m_StreamFloor) return false;
    return m_Schedule.IsDue(PinTime(arrivalCounter));
}

CapturePin::FrameWait CapturePin::WaitForDueFrame(DWORD milliseconds)
{
    const DWORD began = GetTickCount();
    for (;;) {
        if (PollCommand(nullptr)) return FrameWait::Command;
        if (m_Camera->WaitForFrameAfter(m_LastSeen, WaitSliceMilliseconds)) {
            const CCamera::FrameStamp latest = m_Camera->LatestFrameStamp();
            if (latest.sequence > m_LastSeen) {
                if (IsWanted(latest.arrivalCounter)) return FrameWait::Due;
                m_LastSeen = latest.sequence;
            }
        } else if (m_Camera->FrameLayout().IsEmpty()) {
            // The camera closed under the pin (the other pin stopped first).
            Sleep(WaitSliceMilliseconds);
        }
        if (GetTickCount() - began >= milliseconds) return FrameWait::TimedOut;
    }
}

LONG CapturePin::CopyFrameInto(IMediaSample* sample, LONGLONG* arrivalCounter)
{
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data))) return 0;
    // Never more than the sample holds, whatever its allocator granted.
    const long size = sample->GetSize();
    const size_t capacity = size > 0 ? static_cast<size_t>(size) : 0;
    const LONG sequence = m_Camera->CopyLatestFrame(m_DeliveryLayout, data, capacity, arrivalCounter);
    if (sequence == 0) return 0;
    const size_t picture = m_DeliveryLayout.Bytes();
    sample->SetActualDataLength(static_cast<long>(picture < capacity ? picture : capacity));
    sample->SetSyncPoint(TRUE);
    return sequence;
}

void CapturePin::CountDelivery()
{
    m_Schedule.CountDelivered();
    NoteDelivery();
}

HRESULT CapturePin::FillSample(IMediaSample* sample)
{
    if (!sample) return E_POINTER;
    if (m_DeliveryLayout.IsEmpty()) m_DeliveryLayout = DeliveryLayout();
    return IsCapture() ? FillCaptureSample(sample) : FillPreviewSample(sample);
}

// Each camera frame at most once: the pin waits for a frame newer than the
// one it looked at last that its rate asks for, and stamps it with the stream
// time of its arrival. When the camera sends nothing, nothing is sent.
HRESULT CapturePin::FillCaptureSample(IMediaSample* sample)
{
    if (!WaitUntilRunning()) return SkipSample;
    if (WaitForDueFrame(FrameWaitMilliseconds) != FrameWait::Due) return SkipSample;
    LONGLONG arrivalCounter = 0;
    const LONG sequence = CopyFrameInto(sample, &arrivalCounter);
    if (sequence == 0) return SkipSample;
    m_LastSeen = sequence;
    // The graph may have paused meanwhile: a frame from the pause is not sent.
    if (!WaitUntilRunning()) return SkipSample;
    const REFERENCE_TIME arrival = StreamTimeOf(arrivalCounter);
    if (arrival < m_StreamFloor) return SkipSample;

    m_Schedule.Take(sequence, PinTime(arrivalCounter));
    REFERENCE_TIME start, stop;
    m_Schedule.Stamp(arrival, &start, &stop);
    if (!Admit(start)) return SkipSample;
    sample->SetTime(&start, &stop);
    CountDelivery();
    return S_OK;
}

void CapturePin::KeepPreviewSpacing()
{
    const DWORD tick = m_TickSource();
    const LONG elapsed = static_cast<LONG>(tick - m_LastTick);
    if (elapsed > 0 && elapsed < MinimumSampleSpacing) m_Sleep(MinimumSampleSpacing);
    m_LastTick = tick;
}

// The preview shows each frame its rate asks for; without one for a while it
// shows the one it has again. Its samples carry no time stamps.
HRESULT CapturePin::FillPreviewSample(IMediaSample* sample)
{
    const REFERENCE_TIME interval = m_Schedule.Interval() / 10000;
    const DWORD patience = interval > FrameWaitMilliseconds ? static_cast<DWORD>(interval) : FrameWaitMilliseconds;
    // Spaced before the wait, so that a frame arriving during the pause is
    // still the one shown next.
    KeepPreviewSpacing();
    if (WaitForDueFrame(patience) == FrameWait::Command) return SkipSample;

    LONGLONG arrivalCounter = 0;
    const LONG sequence = CopyFrameInto(sample, &arrivalCounter);
    if (sequence == 0) return SkipSample;
    m_LastSeen = sequence;
    const bool fresh = sequence != m_LastDelivered;
    if (fresh) m_Schedule.Take(sequence, PinTime(arrivalCounter));
    if (!Admit(StreamTimeForControl())) return SkipSample;
    sample->SetTime(nullptr, nullptr);
    m_LastDelivered = sequence;
    if (fresh) CountDelivery();
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
