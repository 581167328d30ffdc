// Wine's filter graph with the camera filter and a counting sink on each of
// its two pins: the rig of the stress tests and of the benchmark.
#ifndef QUILLON_CAMERA_GRAPH_H
#define QUILLON_CAMERA_GRAPH_H

#include <windows.h>
#include <dshow.h>

#include "framework/Raii.h"
#include "tests/support/CountingRenderer.h"

// Creates the camera filter through a loaded module's DllGetClassObject,
// as a host does (no registration needed).
HRESULT CreateFilterFromModule(HMODULE module, IBaseFilter** out);

class CameraGraph {
public:
    CameraGraph();
    // Stops the graph (and every filter, should the graph refuse) before releasing it.
    ~CameraGraph();
    CameraGraph(const CameraGraph&) = delete;
    CameraGraph& operator=(const CameraGraph&) = delete;

    // Adds the camera filter and both sinks to a new graph and connects the
    // chosen pins ("~Capture" is pin "1", "Preview" pin "2").
    HRESULT Build(IBaseFilter* camera, bool connectCapture = true, bool connectPreview = true);

    HRESULT Run() { return m_Control->Run(); }
    HRESULT Pause() { return m_Control->Pause(); }
    HRESULT Stop() { return m_Control->Stop(); }
    // Marks both sinks closed (or open) to samples, see CountingRenderer.
    void CloseSinks(bool closed);
    // Stops every filter directly, downstream first, as the graph does.
    void StopEveryFilter();
    // Drops the graph and the sinks (stopping first); the camera reference stays.
    void Release();

    ComPtr<IGraphBuilder> m_Graph;
    ComPtr<IMediaControl> m_Control;
    ComPtr<IBaseFilter> m_Camera;
    ComPtr<IPin> m_CapturePin;
    ComPtr<IPin> m_PreviewPin;
    CountingRenderer* m_CaptureSink;  // one reference each
    CountingRenderer* m_PreviewSink;
};

#endif
