#include "tests/support/CameraGraph.h"

#include "camera/ICameraConfig.h"

HRESULT CreateFilterFromModule(HMODULE module, IBaseFilter** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!module) return E_INVALIDARG;
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    // Through a plain address: function pointer types do not convert into each other.
    const auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!getClassObject) return E_NOINTERFACE;
    ComPtr<IClassFactory> factory;
    RETURN_IF_FAILED(getClassObject(CLSID_BriscaCamera, IID_IClassFactory, factory.putVoid()));
    return factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void**>(out));
}

CameraGraph::CameraGraph()
    : m_CaptureSink(new CountingRenderer(L"Capture sink")), m_PreviewSink(new CountingRenderer(L"Preview sink"))
{
}

CameraGraph::~CameraGraph() { Release(); }

void CameraGraph::Release()
{
    if (m_Control) {
        if (FAILED(m_Control->Stop())) StopEveryFilter();
        // A filter left running would make the graph's release spin.
        StopEveryFilter();
    }
    m_CapturePin.reset();
    m_PreviewPin.reset();
    m_Control.reset();
    m_Graph.reset();
    if (m_CaptureSink) m_CaptureSink->Release();
    if (m_PreviewSink) m_PreviewSink->Release();
    m_CaptureSink = nullptr;
    m_PreviewSink = nullptr;
}

void CameraGraph::CloseSinks(bool closed)
{
    m_CaptureSink->CloseToSamples(closed);
    m_PreviewSink->CloseToSamples(closed);
}

void CameraGraph::StopEveryFilter()
{
    if (m_CaptureSink) m_CaptureSink->Stop();
    if (m_PreviewSink) m_PreviewSink->Stop();
    if (m_Camera) m_Camera->Stop();
}

HRESULT CameraGraph::Build(IBaseFilter* camera, bool connectCapture, bool connectPreview)
{
    if (!camera) return E_POINTER;
    m_Camera = ComPtr<IBaseFilter>::share(camera);
    RETURN_IF_FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                      m_Graph.putVoid()));
    RETURN_IF_FAILED(m_Graph.queryInto(IID_IMediaControl, m_Control));
    RETURN_IF_FAILED(m_Graph->AddFilter(camera, L"Brisca Camera"));
    RETURN_IF_FAILED(m_Graph->AddFilter(m_CaptureSink, L"Capture sink"));
    RETURN_IF_FAILED(m_Graph->AddFilter(m_PreviewSink, L"Preview sink"));
    RETURN_IF_FAILED(camera->FindPin(L"1", m_CapturePin.put()));
    RETURN_IF_FAILED(camera->FindPin(L"2", m_PreviewPin.put()));
    if (connectCapture)
        RETURN_IF_FAILED(m_Graph->ConnectDirect(m_CapturePin.get(), m_CaptureSink->InputPin(), nullptr));
    if (connectPreview)
        RETURN_IF_FAILED(m_Graph->ConnectDirect(m_PreviewPin.get(), m_PreviewSink->InputPin(), nullptr));
    return S_OK;
}
