#include "tests/support/GraphFixture.h"

#include <cwchar>

// {C1F400A0-3F08-11D3-9F0B-006008039E37}
const CLSID CLSID_SampleGrabberFilter = {
    0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
// {C1F400A4-3F08-11D3-9F0B-006008039E37}
const CLSID CLSID_NullRendererFilter = {
    0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

namespace {

HRESULT FirstPin(IBaseFilter* filter, PIN_DIRECTION direction, IPin** out)
{
    ComPtr<IEnumPins> pins;
    RETURN_IF_FAILED(filter->EnumPins(pins.put()));
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.put(), nullptr) == S_OK) {
        PIN_DIRECTION found;
        if (SUCCEEDED(pin->QueryDirection(&found)) && found == direction) {
            *out = pin.detach();
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}

} // namespace

GraphFixture::GraphFixture() {}

GraphFixture::~GraphFixture()
{
    Release();
}

HRESULT GraphFixture::Create(IBaseFilter* camera)
{
    RETURN_IF_FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                      m_Graph.putVoid()));
    RETURN_IF_FAILED(m_Graph.queryInto(IID_IMediaControl, m_Control));
    m_Camera = ComPtr<IBaseFilter>::share(camera);
    return m_Graph->AddFilter(camera, L"Brisca Camera");
}

HRESULT GraphFixture::ConnectPin(const wchar_t* pinId, const AM_MEDIA_TYPE* type)
{
    const int slot = wcscmp(pinId, L"1") == 0 ? 0 : 1;
    RETURN_IF_FAILED(m_Camera->FindPin(pinId, m_Pins[slot].put()));

    RETURN_IF_FAILED(CoCreateInstance(CLSID_SampleGrabberFilter, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IBaseFilter, m_Grabbers[slot].putVoid()));
    RETURN_IF_FAILED(CoCreateInstance(CLSID_NullRendererFilter, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IBaseFilter, m_Renderers[slot].putVoid()));
    RETURN_IF_FAILED(
        m_Graph->AddFilter(m_Grabbers[slot].get(), slot == 0 ? L"Capture grabber" : L"Preview grabber"));
    RETURN_IF_FAILED(
        m_Graph->AddFilter(m_Renderers[slot].get(), slot == 0 ? L"Capture renderer" : L"Preview renderer"));

    ComPtr<ISampleGrabber> grabber;
    RETURN_IF_FAILED(m_Grabbers[slot].queryInto(__uuidof(ISampleGrabber), grabber));
    RETURN_IF_FAILED(grabber->SetBufferSamples(FALSE));
    RETURN_IF_FAILED(grabber->SetOneShot(FALSE));
    RETURN_IF_FAILED(grabber->SetCallback(&m_Sinks[slot], 0));

    ComPtr<IPin> grabberIn, grabberOut, rendererIn;
    RETURN_IF_FAILED(FirstPin(m_Grabbers[slot].get(), PINDIR_INPUT, grabberIn.put()));
    RETURN_IF_FAILED(FirstPin(m_Grabbers[slot].get(), PINDIR_OUTPUT, grabberOut.put()));
    RETURN_IF_FAILED(FirstPin(m_Renderers[slot].get(), PINDIR_INPUT, rendererIn.put()));
    RETURN_IF_FAILED(m_Graph->ConnectDirect(m_Pins[slot].get(), grabberIn.get(), type));
    return m_Graph->ConnectDirect(grabberOut.get(), rendererIn.get(), nullptr);
}

void GraphFixture::StopEveryFilter()
{
    if (!m_Graph) return;
    ComPtr<IEnumFilters> filters;
    if (FAILED(m_Graph->EnumFilters(filters.put()))) return;
    ComPtr<IBaseFilter> filter;
    while (filters->Next(1, filter.put(), nullptr) == S_OK)
        filter->Stop();
}

void GraphFixture::Release()
{
    if (m_Control) m_Control->Stop();
    StopEveryFilter();
    for (int slot = 0; slot < 2; ++slot) {
        if (m_Grabbers[slot]) {
            ComPtr<ISampleGrabber> grabber;
            if (SUCCEEDED(m_Grabbers[slot].queryInto(__uuidof(ISampleGrabber), grabber)))
                grabber->SetCallback(nullptr, 0);
        }
        m_Pins[slot].reset();
        m_Grabbers[slot].reset();
        m_Renderers[slot].reset();
    }
    m_Control.reset();
    m_Graph.reset();
    m_Camera.reset();
}
