#include "tools/capture/CaptureSession.h"

#include <uuids.h>

#include "tools/capture/ConsoleOutput.h"
#include "tools/capture/DeviceCatalog.h"
#include "tools/capture/ExitCodes.h"
#include "tools/capture/MediaTypes.h"
#include "tools/capture/PngSnapshot.h"
#include "tools/capture/PropertyFrames.h"

namespace {

// Without a frame for this long the camera counts as stalled.
const DWORD StallMilliseconds = 10000;
const DWORD ProgressMilliseconds = 500;

HRESULT CreateFilter(const CLSID& classId, ComPtr<IBaseFilter>& filter) {
    return CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, filter.putVoid());
}

// True when windows can be created, i.e. a display exists.
bool DisplayAvailable() {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    if (!probe) return false;
    DestroyWindow(probe);
    return true;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

const wchar_t* DescribeStop(int reason) {
    static const wchar_t* const Texts[] = {L"time reached",      L"frame limit reached", L"recording complete",
                                           L"stopped by Ctrl+C", L"stream ended",        L"stream failed",
                                           L"camera stalled"};
    return Texts[reason];
}

}  // namespace

CaptureSession::CaptureSession(IBaseFilter* camera, const ToolOptions& options, HANDLE stopEvent)
    : m_Camera(camera), m_Options(options), m_StopEvent(stopEvent) {}

CaptureSession::~CaptureSession() {
    if (m_Running) StopGraph();
    if (m_Capture.grabber) m_Capture.grabber->SetCallback(nullptr, 0);
    if (m_Preview.grabber) m_Preview.grabber->SetCallback(nullptr, 0);
}

int CaptureSession::Run() {
    HRESULT result = BuildGraph();
    if (FAILED(result)) {
        PrintError(L"briscacap: cannot build the capture graph: %ls\n", DescribeResult(result).c_str());
        return ExitCameraFailed;
    }
    PrintStreamedPictures();
    if (!m_Options.aviPath.empty() && !m_PlatformRecording) {
        result = OpenOwnRecording();
        if (FAILED(result)) {
            PrintError(L"briscacap: cannot write \"%ls\": %ls\n", m_Options.aviPath.c_str(),
                       DescribeResult(result).c_str());
            return ExitFileFailed;
        }
    }

    result = m_Control->Run();
    if (FAILED(result)) {
        // The graph must be stopped before it is released, also after a failed start.
        m_Control->Stop();
        PrintError(L"briscacap: the camera could not be started: %ls\n", DescribeResult(result).c_str());
        return ExitCameraFailed;
    }
    m_Running = true;
    m_StartTick = GetTickCount();

    PropertyFrameThread pages;
    if (m_Options.showPages) {
        ComPtr<IPin> capturePin;
        FindPinByCategory(m_Camera, PIN_CATEGORY_CAPTURE, capturePin);
        pages.Start(m_Camera, capturePin.get());
    }
    const StopReason reason = StreamUntilDone();
    m_Seconds = (GetTickCount() - m_StartTick) / 1000.0;
    m_FramesAtStop = CapturedFrames();
    m_DroppedAtStop = DroppedFrames();
    pages.CloseAndJoin(5000);
    return Finish(reason);
}

HRESULT CaptureSession::BuildGraph() {
    RETURN_IF_FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                      m_Graph.putVoid()));
    RETURN_IF_FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_ICaptureGraphBuilder2, m_Builder.putVoid()));
    RETURN_IF_FAILED(m_Builder->SetFiltergraph(m_Graph.get()));
    RETURN_IF_FAILED(m_Graph.queryInto(IID_IMediaControl, m_Control));
    RETURN_IF_FAILED(m_Graph.queryInto(IID_IMediaEventEx, m_Events));
    RETURN_IF_FAILED(m_Graph->AddFilter(m_Camera, L"Brisca Camera"));

    // The capture pin is connected first, so that the preview pin cannot be
    // mistaken for it.
    RETURN_IF_FAILED(ConnectCaptureBranch());
    const HRESULT preview = ConnectPreviewBranch();
    if (FAILED(preview))
        PrintError(L"briscacap: no preview (%ls); streaming the capture pin only\n", DescribeResult(preview).c_str());

    ComPtr<IPin> capturePin;
    if (SUCCEEDED(FindPinByCategory(m_Camera, PIN_CATEGORY_CAPTURE, capturePin)))
        capturePin.queryInto(IID_IAMDroppedFrames, m_DroppedFrames);
    return S_OK;
}

HRESULT CaptureSession::ConnectCaptureBranch() {
    if (!m_Options.aviPath.empty() && SUCCEEDED(TryPlatformRecording())) return S_OK;
    return ConnectGrabberBranch(PIN_CATEGORY_CAPTURE, L"Capture", CLSID_NullRenderer, m_Capture);
}

HRESULT CaptureSession::TryPlatformRecording() {
    ComPtr<IBaseFilter> multiplexer;
    ComPtr<IFileSinkFilter> fileSink;
    const HRESULT result =
        m_Builder->SetOutputFileName(&MEDIASUBTYPE_Avi, m_Options.aviPath.c_str(), multiplexer.put(), fileSink.put());
    if (SUCCEEDED(result)) {
        if (SUCCEEDED(m_Builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, m_Camera, nullptr,
                                              multiplexer.get()))) {
            m_PlatformRecording = true;
            return S_OK;
        }
        // Take the unconnected writer filters out again; the tool records itself.
        ComPtr<IBaseFilter> writer;
        if (fileSink && SUCCEEDED(fileSink.queryInto(IID_IBaseFilter, writer))) m_Graph->RemoveFilter(writer.get());
        if (multiplexer) m_Graph->RemoveFilter(multiplexer.get());
    }
    return FAILED(result) ? result : E_FAIL;
}

HRESULT CaptureSession::ConnectPreviewBranch() {
    if (WantsWindow()) {
        if (SUCCEEDED(ConnectGrabberBranch(PIN_CATEGORY_PREVIEW, L"Preview", CLSID_VideoRenderer, m_Preview))) {
            m_PreviewInWindow = true;
            PlaceVideoWindow();
            return S_OK;
        }
        PrintError(L"briscacap: no preview window; the preview goes to a null renderer\n");
    }
    return ConnectGrabberBranch(PIN_CATEGORY_PREVIEW, L"Preview", CLSID_NullRenderer, m_Preview);
}

bool CaptureSession::WantsWindow() const {
    switch (m_Options.preview) {
    case PreviewMode::Window:
        return true;
    case PreviewMode::Null:
        return false;
    default:
        return DisplayAvailable();
    }
}

HRESULT CaptureSession::ConnectGrabberBranch(const GUID& category, const wchar_t* label, const CLSID& rendererClass,
                                             GrabberBranch& branch) {
    RETURN_IF_FAILED(CreateFilter(CLSID_SampleGrabber, branch.grabberFilter));
    RETURN_IF_FAILED(branch.grabberFilter.queryInto(IID_ISampleGrabber, branch.grabber));
    RETURN_IF_FAILED(CreateFilter(rendererClass, branch.renderer));

    AM_MEDIA_TYPE wanted = {};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    wanted.formattype = FORMAT_VideoInfo;
    RETURN_IF_FAILED(branch.grabber->SetMediaType(&wanted));
    branch.grabber->SetOneShot(FALSE);
    branch.grabber->SetBufferSamples(FALSE);
    branch.sink.reset(new FrameSink());
    RETURN_IF_FAILED(branch.grabber->SetCallback(branch.sink.get(), 0));

    const std::wstring grabberName = std::wstring(label) + L" Grabber";
    const std::wstring rendererName = std::wstring(label) + L" Renderer";
    HRESULT result = m_Graph->AddFilter(branch.grabberFilter.get(), grabberName.c_str());
    if (SUCCEEDED(result)) result = m_Graph->AddFilter(branch.renderer.get(), rendererName.c_str());
    if (SUCCEEDED(result))
        result = m_Builder->RenderStream(&category, &MEDIATYPE_Video, m_Camera, branch.grabberFilter.get(),
                                         branch.renderer.get());
    if (FAILED(result)) {
        RemoveBranch(branch);
        return result;
    }

    AM_MEDIA_TYPE connected = {};
    if (SUCCEEDED(branch.grabber->GetConnectedMediaType(&connected))) {
        if (const VIDEOINFOHEADER* info = VideoInfoOf(connected)) {
            branch.width = info->bmiHeader.biWidth;
            branch.height = info->bmiHeader.biHeight < 0 ? -info->bmiHeader.biHeight : info->bmiHeader.biHeight;
            branch.frameInterval = info->AvgTimePerFrame > 0 ? info->AvgTimePerFrame : 0;
            branch.sink->SetLayout(branch.width, branch.height, info->bmiHeader.biHeight < 0);
        }
        ClearMediaType(connected);
    }
    return S_OK;
}

void CaptureSession::RemoveBranch(GrabberBranch& branch) {
    if (branch.grabber) branch.grabber->SetCallback(nullptr, 0);
    if (branch.grabberFilter) m_Graph->RemoveFilter(branch.grabberFilter.get());
    if (branch.renderer) m_Graph->RemoveFilter(branch.renderer.get());
    branch = GrabberBranch();
}

void CaptureSession::PlaceVideoWindow() {
    ComPtr<IVideoWindow> window;
    if (FAILED(m_Preview.renderer.queryInto(IID_IVideoWindow, window))) return;
    BSTR caption = SysAllocString(L"Brisca Camera preview");
    window->put_Caption(caption);
    SysFreeString(caption);
    // A full frame is larger than most screens: show it scaled to 800 wide.
    long width = m_Preview.width > 0 ? m_Preview.width : 800;
    long height = m_Preview.height > 0 ? m_Preview.height : 600;
    if (width > 800) {
        height = height * 800 / width;
        width = 800;
    }
    window->SetWindowPosition(40, 40, width, height);
}

HRESULT CaptureSession::OpenOwnRecording() {
    if (!m_Capture.sink || m_Capture.width <= 0 || m_Capture.height <= 0) return VFW_E_NOT_CONNECTED;
    const uint32_t rowBytes = (static_cast<uint32_t>(m_Capture.width) * 3 + 3) & ~3u;
    RETURN_IF_FAILED(m_Writer.Open(m_Options.aviPath, m_Capture.width, m_Capture.height,
                                   rowBytes * static_cast<uint32_t>(m_Capture.height)));
    m_Capture.sink->StartRecording(&m_Writer, static_cast<uint32_t>(m_Options.aviFrames),
                                   m_Capture.frameInterval);
    return S_OK;
}

CaptureSession::StopReason CaptureSession::StreamUntilDone() {
    const bool timeLimited = m_Options.seconds > 0;
    DWORD lastProgress = GetTickCount();
    for (;;) {
        const DWORD wait = MsgWaitForMultipleObjects(1, &m_StopEvent, FALSE, 100, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) return StopReason::Interrupted;
        PumpMessages();

        StopReason reason;
        if (CheckGraphEvents(reason)) return reason;
        const DWORD now = GetTickCount();
        m_Seconds = (now - m_StartTick) / 1000.0;
        if (timeLimited && m_Seconds >= m_Options.seconds) return StopReason::TimeReached;
        if (m_Options.frameLimit > 0 && CapturedFrames() >= m_Options.frameLimit) return StopReason::FrameLimit;
        // The platform's writer records the whole stream: end it with the recording.
        if (m_PlatformRecording && DeliveredFrames() >= m_Options.aviFrames) return StopReason::RecordingDone;
        const FrameSink* watched = m_Capture.sink ? m_Capture.sink.get() : m_Preview.sink.get();
        if (watched && watched->QuietMilliseconds() > StallMilliseconds) return StopReason::Stalled;
        if (now - lastProgress >= ProgressMilliseconds) {
            lastProgress = now;
            PrintProgress(m_Seconds, false);
        }
    }
}

bool CaptureSession::CheckGraphEvents(StopReason& reason) {
    long code = 0;
    LONG_PTR first = 0;
    LONG_PTR second = 0;
    bool stop = false;
    while (m_Events->GetEvent(&code, &first, &second, 0) == S_OK) {
        switch (code) {
        case EC_ERRORABORT:
        case EC_ERRORABORTEX:
            m_StreamError = static_cast<HRESULT>(first);
            reason = StopReason::StreamFailed;
            stop = true;
            break;
        case EC_COMPLETE:
        case EC_USERABORT:
            if (!stop) reason = StopReason::StreamEnded;
            stop = true;
            break;
        default:
            break;
        }
        m_Events->FreeEventParams(code, first, second);
    }
    return stop;
}

LONG CaptureSession::CapturedFrames() const {
    if (m_Capture.sink) return m_Capture.sink->FrameCount();
    return DeliveredFrames();
}

long CaptureSession::DeliveredFrames() const {
    long delivered = 0;
    if (m_DroppedFrames && SUCCEEDED(m_DroppedFrames->GetNumNotDropped(&delivered))) return delivered;
    return 0;
}

long CaptureSession::DroppedFrames() const {
    long dropped = 0;
    if (m_DroppedFrames && SUCCEEDED(m_DroppedFrames->GetNumDropped(&dropped))) return dropped;
    return 0;
}

void CaptureSession::PrintStreamedPictures()
{
    for (const GrabberBranch* branch : {&m_Capture, &m_Preview}) {
        if (!branch->sink || branch->width <= 0) continue;
        PrintOut(L"%ls %d x %d, 24-bit RGB", branch == &m_Capture ? L"capture" : L"preview", branch->width,
                 branch->height);
        if (branch->frameInterval > 0) PrintOut(L", %.1f frames/s", 1e7 / double(branch->frameInterval));
        PrintOut(L"\n");
    }
}

void CaptureSession::PrintProgress(double seconds, bool final) {
    const LONG frames = final ? m_FramesAtStop : CapturedFrames();
    const double rate = seconds > 0 ? frames / seconds : 0;
    wchar_t line[160];
    swprintf(line, 160, L"elapsed %6.1f s   frames %6ld   %5.1f frames/s   dropped %ld", seconds,
             static_cast<long>(frames), rate, final ? m_DroppedAtStop : DroppedFrames());
    // A console shows one line updated in place; a file or pipe gets lines.
    if (OutputIsConsole())
        PrintOut(final ? L"\r%ls\n" : L"\r%ls   ", line);
    else if (!final)
        PrintOut(L"%ls\n", line);
}

void CaptureSession::StopGraph() {
    if (!m_Running) return;
    m_Running = false;
    // Pausing first lets writers finish what is in flight before stopping.
    if (m_PlatformRecording) m_Control->Pause();
    m_Control->Stop();
    OAFilterState state;
    m_Control->GetState(5000, &state);
}

int CaptureSession::Finish(StopReason reason) {
    PrintProgress(m_Seconds, true);

    int exitCode = ExitSuccess;
    FrameImage snapshot;
    bool haveSnapshot = false;
    if (!m_Options.snapshotPath.empty()) {
        FrameSink* source = m_Capture.sink ? m_Capture.sink.get() : m_Preview.sink.get();
        haveSnapshot = source && reason != StopReason::StreamFailed && source->CaptureSnapshot(3000, snapshot);
    }
    if (m_Capture.sink) m_Capture.sink->StopRecording();
    StopGraph();
    if (m_Capture.grabber) m_Capture.grabber->SetCallback(nullptr, 0);
    if (m_Preview.grabber) m_Preview.grabber->SetCallback(nullptr, 0);

    PrintOut(L"\nSummary\n");
    PrintOut(L"  streamed    %.2f s (%ls)\n", m_Seconds, DescribeStop(static_cast<int>(reason)));
    PrintOut(L"  frames      %ld captured (%.1f a second)", static_cast<long>(m_FramesAtStop),
             m_Seconds > 0 ? m_FramesAtStop / m_Seconds : 0.0);
    if (m_Preview.sink)
        PrintOut(L", %ld preview (%ls)\n", static_cast<long>(m_Preview.sink->FrameCount()),
                 m_PreviewInWindow ? L"window" : L"null renderer");
    else
        PrintOut(L", no preview\n");
    PrintOut(L"  dropped     %ld\n", m_DroppedAtStop);

    if (reason == StopReason::StreamFailed) {
        PrintError(L"briscacap: the stream failed: %ls\n", DescribeResult(m_StreamError).c_str());
        exitCode = ExitCameraFailed;
    } else if (reason == StopReason::Stalled) {
        PrintError(L"briscacap: no frame arrived for %lu seconds; is the camera working?\n", StallMilliseconds / 1000);
        exitCode = ExitCameraFailed;
    } else if (m_FramesAtStop == 0) {
        PrintError(L"briscacap: the camera delivered no frame\n");
        exitCode = ExitCameraFailed;
    }

    if (m_PlatformRecording) {
        PrintOut(L"  recording   %ls (written by the platform)\n", m_Options.aviPath.c_str());
    } else if (m_Writer.IsOpen()) {
        const HRESULT recorded = m_Capture.sink->RecordingResult();
        const double rate = m_Capture.sink->RecordedFramesPerSecond();
        const HRESULT closed = m_Writer.Close(rate > 0 ? rate : (m_Seconds > 0 ? m_FramesAtStop / m_Seconds : 0));
        PrintOut(L"  recording   %ls: %lu frames of %d x %d, %.1f MB\n", m_Options.aviPath.c_str(),
                 static_cast<unsigned long>(m_Writer.FramesWritten()), m_Capture.width, m_Capture.height,
                 m_Writer.FileSize() / 1e6);
        const HRESULT failure = FAILED(recorded) ? recorded : closed;
        if (FAILED(failure)) {
            PrintError(L"briscacap: writing \"%ls\" failed: %ls\n", m_Options.aviPath.c_str(),
                       DescribeResult(failure).c_str());
            if (exitCode == ExitSuccess) exitCode = ExitFileFailed;
        }
    }

    if (!m_Options.snapshotPath.empty()) {
        if (!haveSnapshot) {
            PrintError(L"briscacap: no frame for the snapshot\n");
            if (exitCode == ExitSuccess) exitCode = ExitCameraFailed;
        } else {
            const HRESULT saved = SavePng(m_Options.snapshotPath, snapshot);
            if (SUCCEEDED(saved)) {
                PrintOut(L"  snapshot    %ls (%d x %d)\n", m_Options.snapshotPath.c_str(), snapshot.width,
                         snapshot.height);
            } else {
                PrintError(L"briscacap: cannot save the snapshot \"%ls\": %ls\n", m_Options.snapshotPath.c_str(),
                           DescribeResult(saved).c_str());
                if (exitCode == ExitSuccess) exitCode = ExitFileFailed;
            }
        }
    }
    return exitCode;
}
