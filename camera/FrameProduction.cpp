// What the pin does on its worker thread: open and start the camera, pace,
// stamp and fill each sample with the latest frame, stop and close the camera.
#include "camera/CapturePin.h"

#include <uuids.h>

namespace {

const char MessageCaption[] = "Brisca Camera";
// Samples closer together than this are spaced out by one sleep of it.
const LONG MinimumSampleSpacing = 30;

} // namespace

HRESULT CapturePin::OnThreadBegin()
{
    if (!m_Camera) return E_FAIL;
    if (m_Camera->Open() != 1) {
        MessageBoxA(nullptr, "Camera init failed!", MessageCaption, MB_OK);
        return E_FAIL;
    }
    if (m_Camera->Play() != 1) {
        MessageBoxA(nullptr, "Camera play failed!", MessageCaption, MB_OK);
        return E_FAIL;
    }
    CameraConfig refreshed;
    m_Camera->GetConfig(refreshed);

    m_StreamPosition = 0;
    m_LastTick = m_TickSource();
    InterlockedExchange64(&m_FrameDuration, InitialFrameDuration);
    return S_OK;
}

LONGLONG CapturePin::FrameDuration() const
{
    return InterlockedCompareExchange64(const_cast<volatile LONGLONG*>(&m_FrameDuration), 0, 0);
}

HRESULT CapturePin::FillSample(IMediaSample* sample)
{
    if (!sample) return E_POINTER;
    const DWORD tick = m_TickSource();
    const LONG elapsed = static_cast<LONG>(tick - m_LastTick);
    if (elapsed > 0 && elapsed < MinimumSampleSpacing) m_Sleep(MinimumSampleSpacing);
    m_LastTick = tick;

    if (IsCapture()) {
        const LONGLONG duration = FrameDuration();
        REFERENCE_TIME start = m_StreamPosition + duration;
        // The step is worked out in 32 bits, as a millisecond count times 1000.
        const LONG milliTicks = static_cast<LONG>(static_cast<ULONG>(elapsed) * 1000u);
        const LONGLONG x = milliTicks;
        const LONGLONG step =
            x > duration ? static_cast<LONG>(static_cast<ULONG>(milliTicks) - static_cast<ULONG>(duration))
                         : x;
        REFERENCE_TIME end = start + step;
        m_StreamPosition = end;
        sample->SetTime(&start, &end);
    } else {
        sample->SetTime(nullptr, nullptr);
    }
    sample->SetSyncPoint(TRUE);

    BYTE* data = nullptr;
    const HRESULT pointer = sample->GetPointer(&data);
    if (FAILED(pointer)) return pointer;
    // Never more than the sample holds, whatever format the host chose.
    const long size = sample->GetSize();
    if (IsCapture())
        m_Camera->CopyFrameNow(data, size);
    else
        m_Camera->CopyFrameWait(data, size);
    return S_OK;
}

HRESULT CapturePin::OnThreadEnd()
{
    if (m_Camera) {
        m_Camera->Stop();
        m_Camera->Close();
    }
    return S_OK;
}

STDMETHODIMP CapturePin::Notify(IBaseFilter*, Quality quality)
{
    if (quality.Late > 0) InterlockedExchange64(&m_FrameDuration, quality.Late);
    return S_OK;
}
