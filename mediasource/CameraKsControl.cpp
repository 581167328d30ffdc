#include "mediasource/CameraKsControl.h"

#include "framework/Raii.h"

namespace {

const HRESULT SetNotFound = HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND);

} // namespace

STDMETHODIMP CameraKsControl::KsProperty(PKSPROPERTY property, ULONG propertyLength, void*, ULONG,
                                         ULONG* bytesReturned)
{
    if (!property || !bytesReturned) return E_POINTER;
    *bytesReturned = 0;
    RETURN_IF_FAILED(CheckControlsUsable());
    if (propertyLength < sizeof(KSPROPERTY)) return E_INVALIDARG;
    return SetNotFound;
}

STDMETHODIMP CameraKsControl::KsMethod(PKSMETHOD method, ULONG methodLength, void*, ULONG,
                                       ULONG* bytesReturned)
{
    if (!method || !bytesReturned) return E_POINTER;
    *bytesReturned = 0;
    RETURN_IF_FAILED(CheckControlsUsable());
    if (methodLength < sizeof(KSMETHOD)) return E_INVALIDARG;
    return SetNotFound;
}

// A null event asks to disable every event: none was ever enabled.
STDMETHODIMP CameraKsControl::KsEvent(PKSEVENT event, ULONG eventLength, void*, ULONG, ULONG* bytesReturned)
{
    if (!bytesReturned) return E_POINTER;
    *bytesReturned = 0;
    RETURN_IF_FAILED(CheckControlsUsable());
    if (!event) return S_OK;
    if (eventLength < sizeof(KSEVENT)) return E_INVALIDARG;
    return SetNotFound;
}
