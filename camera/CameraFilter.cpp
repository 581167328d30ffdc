#include "camera/CameraFilter.h"

#include <new>
#include <uuids.h>
#include "camera/CapturePin.h"

namespace {

struct PinDescription {
    const wchar_t* name;
    const GUID* category;
};

const PinDescription FilterPins[] = {
    {L"~Capture", &PIN_CATEGORY_CAPTURE},
    {L"Preview", &PIN_CATEGORY_PREVIEW},
};

} // namespace

STDMETHODIMP FilterPropertyPages::GetPages(CAUUID* pages)
{
    if (!pages) return E_POINTER;
    pages->cElems = 1;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->pElems[0] = CLSID_CameraSettingsPage;
    return S_OK;
}

STDMETHODIMP_(ULONG) FilterMiscFlags::GetMiscFlags()
{
    return AM_FILTER_MISC_FLAGS_IS_SOURCE;
}

STDMETHODIMP OverlayNotifySink::OnPaletteChange(DWORD, const PALETTEENTRY*)
{
    return S_OK;
}
STDMETHODIMP OverlayNotifySink::OnClipChange(const RECT*, const RECT*, const RGNDATA*)
{
    return S_OK;
}
STDMETHODIMP OverlayNotifySink::OnColorKeyChange(const COLORKEY*)
{
    return S_OK;
}
STDMETHODIMP OverlayNotifySink::OnPositionChange(const RECT*, const RECT*)
{
    return S_OK;
}

ObjectBase* CameraFilter::Create(IUnknown* owner, HRESULT* result)
{
    CameraFilter* filter = new (std::nothrow) CameraFilter(owner);
    if (result) *result = filter ? S_OK : E_OUTOFMEMORY;
    return filter;
}

// The controls keep the address of the camera member, constructed after them.
CameraFilter::CameraFilter(IUnknown* owner)
    : SourceFilterBase(nullptr, owner, CLSID_BriscaCamera), VideoProcAmpControl(&m_Camera),
      ExposureControl(&m_Camera)
{
    // A pin that cannot be made leaves the filter with fewer pins; hosts and
    // pages cope with that.
    CreatePins();
}

HRESULT CameraFilter::CreatePins()
{
    HRESULT result = E_FAIL;
    for (const PinDescription& description : FilterPins) {
        HRESULT attached = E_FAIL;
        CapturePin* pin = new (std::nothrow) CapturePin(this, &attached, description.name);
        if (!pin) return E_OUTOFMEMORY;
        pin->AttachCamera(&m_Camera, *description.category);
        pin->SetupPin();
        if (!m_PinList.Append(pin)) {
            delete pin;
            return E_OUTOFMEMORY;
        }
        result = S_OK;
    }
    return result;
}

CameraFilter::~CameraFilter()
{
    StopBeforeDestruction();
    // The pins go first, "~Capture" before "Preview", while the camera they
    // point to still exists; each detaches itself from the pin array.
    PointerList::Position position = m_PinList.First();
    while (position)
        delete static_cast<CapturePin*>(m_PinList.Next(position));
    m_PinList.Clear();
}

STDMETHODIMP CameraFilter::GetState(DWORD timeout, FILTER_STATE* out)
{
    const HRESULT hr = SourceFilterBase::GetState(timeout, out);
    return hr == S_OK && *out == State_Paused ? VFW_S_CANT_CUE : hr;
}

CapturePin* CameraFilter::PinInList(int index) const
{
    PointerList::Position position = m_PinList.First();
    for (int i = 0; position; ++i) {
        void* pin = m_PinList.Next(position);
        if (i == index) return static_cast<CapturePin*>(pin);
    }
    return nullptr;
}

CapturePin* CameraFilter::OwnPin(IPin* pin)
{
    if (!pin) return nullptr;
    PointerList::Position position = m_PinList.First();
    while (position) {
        CapturePin* own = static_cast<CapturePin*>(m_PinList.Next(position));
        if (own->PinInterface() == pin) return own;
    }
    return nullptr;
}

HRESULT STDMETHODCALLTYPE CameraFilter::InnerQueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_ICameraFilterTag))
        return ProvideInterface(static_cast<ICameraFilterTag*>(this), out);
    // The pin category belongs to each pin; the filter has none to report.
    if (IsEqualIID(iid, IID_IKsPropertySet)) {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    if (IsEqualIID(iid, IID_IAMFilterMiscFlags))
        return ProvideInterface(static_cast<IAMFilterMiscFlags*>(this), out);
    if (IsEqualIID(iid, IID_ISpecifyPropertyPages))
        return ProvideInterface(static_cast<ISpecifyPropertyPages*>(this), out);
    if (IsEqualIID(iid, IID_IOverlayNotify)) return ProvideInterface(static_cast<IOverlayNotify*>(this), out);
    if (IsEqualIID(iid, IID_ICameraConfig)) {
        // The settings belong to the capture pin; the camera settings page,
        // attached to the filter, reaches them here.
        CapturePin* first = PinInList(0);
        if (!first) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return first->InnerQueryInterface(iid, out);
    }
    if (IsEqualIID(iid, IID_IAMVideoProcAmp))
        return ProvideInterface(static_cast<IAMVideoProcAmp*>(this), out);
    if (IsEqualIID(iid, IID_IAMCameraControl))
        return ProvideInterface(static_cast<IAMCameraControl*>(this), out);
    if (IsEqualIID(iid, IID_IAMVideoControl))
        return ProvideInterface(static_cast<IAMVideoControl*>(this), out);
    return SourceFilterBase::InnerQueryInterface(iid, out);
}
