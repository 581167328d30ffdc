// Wine's filter graph with the camera filter and, behind each connected pin,
// a sample grabber (recording into a RecordingSink) and a null renderer.
#ifndef QUILLON_GRAPH_FIXTURE_H
#define QUILLON_GRAPH_FIXTURE_H

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include "framework/Raii.h"
#include "tests/support/RecordingSink.h"

extern const CLSID CLSID_SampleGrabberFilter;
extern const CLSID CLSID_NullRendererFilter;

class GraphFixture {
  public:
    GraphFixture();
    // Stops every filter before the graph goes, as a failed run requires.
    ~GraphFixture();
    GraphFixture(const GraphFixture&) = delete;
    GraphFixture& operator=(const GraphFixture&) = delete;

    // Makes the graph and adds the camera filter (one reference is taken).
    HRESULT Create(IBaseFilter* camera);
    // Connects the camera pin with this id ("1" "~Capture", "2" "Preview")
    // through a sample grabber to a null renderer, with the given type (as
    // IFilterGraph::ConnectDirect takes it) or the pins' own choice.
    HRESULT ConnectPin(const wchar_t* pinId, const AM_MEDIA_TYPE* type = nullptr);

    HRESULT Run() { return m_Control->Run(); }
    HRESULT Pause() { return m_Control->Pause(); }
    HRESULT Stop() { return m_Control->Stop(); }
    // Stops each filter of the graph directly.
    void StopEveryFilter();
    // Stops everything and releases the graph and its filters; the test's
    // own references stay.
    void Release();

    ComPtr<IGraphBuilder> m_Graph;
    ComPtr<IMediaControl> m_Control;
    ComPtr<IBaseFilter> m_Camera;
    ComPtr<IPin> m_Pins[2]; // the camera's pins "1" and "2", when connected
    ComPtr<IBaseFilter> m_Grabbers[2];
    ComPtr<IBaseFilter> m_Renderers[2];
    RecordingSink m_Sinks[2];
};

#endif
