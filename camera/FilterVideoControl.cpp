#include "camera/FilterVideoControl.h"

#include "camera/CapturePin.h"

STDMETHODIMP FilterVideoControl::GetCaps(IPin* pin, LONG* flags)
{
    if (!flags) return E_POINTER;
    if (!OwnPin(pin)) return E_INVALIDARG;
    *flags = 0;
    return S_OK;
}

STDMETHODIMP FilterVideoControl::SetMode(IPin* pin, LONG mode)
{
    if (!OwnPin(pin)) return E_INVALIDARG;
    // Only the plain mode, without flips or triggers, is there to choose.
    return mode == 0 ? S_OK : E_INVALIDARG;
}

STDMETHODIMP FilterVideoControl::GetMode(IPin* pin, LONG* mode)
{
    if (!mode) return E_POINTER;
    if (!OwnPin(pin)) return E_INVALIDARG;
    *mode = 0;
    return S_OK;
}

STDMETHODIMP FilterVideoControl::GetCurrentActualFrameRate(IPin* pin, LONGLONG* frameInterval)
{
    if (!frameInterval) return E_POINTER;
    CapturePin* own = OwnPin(pin);
    if (!own) return E_INVALIDARG;
    if (!own->IsConnected()) return VFW_E_NOT_CONNECTED;
    return own->ActualFrameInterval(frameInterval);
}

HRESULT FilterVideoControl::EntryInterval(IPin* pin, LONG index, SIZE dimensions, LONGLONG* frameInterval)
{
    CapturePin* own = OwnPin(pin);
    if (!own) return E_INVALIDARG;
    SIZE size;
    if (!own->EntryAt(index, &size, frameInterval)) return E_INVALIDARG;
    return size.cx == dimensions.cx && size.cy == dimensions.cy ? S_OK : E_INVALIDARG;
}

STDMETHODIMP FilterVideoControl::GetMaxAvailableFrameRate(IPin* pin, LONG index, SIZE dimensions,
                                                          LONGLONG* frameInterval)
{
    if (!frameInterval) return E_POINTER;
    return EntryInterval(pin, index, dimensions, frameInterval);
}

namespace {

// The rates every size is offered at, fastest first: the camera's own 30
// frames a second, then 15, 10 and 5 (every second, third and sixth frame).
const LONGLONG FrameRateIntervals[] = {CameraFrameInterval, 666666, 1000000, 2000000};
const LONG FrameRateCount = sizeof(FrameRateIntervals) / sizeof(FrameRateIntervals[0]);

} // namespace

STDMETHODIMP FilterVideoControl::GetFrameRateList(IPin* pin, LONG index, SIZE dimensions, LONG* listSize,
                                                  LONGLONG** frameIntervals)
{
    if (!listSize) return E_POINTER;
    LONGLONG interval = 0;
    RETURN_IF_FAILED(EntryInterval(pin, index, dimensions, &interval));
    *listSize = FrameRateCount;
    if (!frameIntervals) return S_OK;
    *frameIntervals = static_cast<LONGLONG*>(CoTaskMemAlloc(sizeof(FrameRateIntervals)));
    if (!*frameIntervals) return E_OUTOFMEMORY;
    CopyMemory(*frameIntervals, FrameRateIntervals, sizeof(FrameRateIntervals));
    return S_OK;
}
