// Streams from a capture filter's two pins in a graph built the way capture
// programs build it, with progress, optional recording and a snapshot.
#ifndef BRISCACAP_CAPTURE_SESSION_H
#define BRISCACAP_CAPTURE_SESSION_H

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <string>

#include "framework/Raii.h"
#include "tools/capture/AviFileWriter.h"
#include "tools/capture/CommandLine.h"
#include "tools/capture/FrameSink.h"

class CaptureSession {
public:
    // stopEvent ends the stream early when it becomes signalled (Ctrl+C).
    CaptureSession(IBaseFilter* camera, const ToolOptions& options, HANDLE stopEvent);
    ~CaptureSession();
    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

    // Builds, runs and tears down the graph; returns the tool's exit code.
    int Run();

private:
    // One pin's way downstream: Sample Grabber with our sink, then a renderer.
    struct GrabberBranch {
        ComPtr<IBaseFilter> grabberFilter;
        ComPtr<ISampleGrabber> grabber;
        ComPtr<IBaseFilter> renderer;
        ComPtr<FrameSink> sink;
        int width = 0;
        int height = 0;
        LONGLONG frameInterval = 0; // of the connected type, 100 ns; 0 when it gives none
    };

    enum class StopReason { TimeReached, FrameLimit, RecordingDone, Interrupted, StreamEnded, StreamFailed, Stalled };

    HRESULT BuildGraph();
    HRESULT ConnectCaptureBranch();
    HRESULT ConnectPreviewBranch();
    HRESULT TryPlatformRecording();
    HRESULT ConnectGrabberBranch(const GUID& category, const wchar_t* label, const CLSID& rendererClass,
                                 GrabberBranch& branch);
    void RemoveBranch(GrabberBranch& branch);
    HRESULT OpenOwnRecording();
    bool WantsWindow() const;
    void PlaceVideoWindow();

    StopReason StreamUntilDone();
    bool CheckGraphEvents(StopReason& reason);
    // The size (and rate) of what each pin streams, as connected.
    void PrintStreamedPictures();
    void PrintProgress(double seconds, bool final);
    LONG CapturedFrames() const;
    long DroppedFrames() const;
    long DeliveredFrames() const;
    void StopGraph();
    int Finish(StopReason reason);

    IBaseFilter* m_Camera;
    ToolOptions m_Options;
    HANDLE m_StopEvent;

    ComPtr<IGraphBuilder> m_Graph;
    ComPtr<ICaptureGraphBuilder2> m_Builder;
    ComPtr<IMediaControl> m_Control;
    ComPtr<IMediaEventEx> m_Events;
    ComPtr<IAMDroppedFrames> m_DroppedFrames;
    GrabberBranch m_Capture;
    GrabberBranch m_Preview;
    bool m_PreviewInWindow = false;
    bool m_PlatformRecording = false;
    AviFileWriter m_Writer;
    bool m_Running = false;
    HRESULT m_StreamError = S_OK;
    DWORD m_StartTick = 0;
    double m_Seconds = 0;
    LONG m_FramesAtStop = 0;
    long m_DroppedAtStop = 0;
};

#endif
