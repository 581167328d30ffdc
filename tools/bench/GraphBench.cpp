#include "tools/bench/GraphBench.h"

#include <cstdio>
#include <vector>

#include "camera/ICameraConfig.h"
#include "framework/Raii.h"
#include "framework/Sync.h"
#include "sdk/QuillonSim.h"
#include "tests/support/CameraGraph.h"
#include "tests/support/SimSquare.h"
#include "tools/bench/Measure.h"

namespace {

// Latencies of the preview samples, collected on the delivering thread.
class LatencyLog {
public:
    LatencyLog() { m_Values.reserve(1 << 16); }
    void OnPreviewSample()
    {
        const long long posted = SimLastFramePostCounter();
        if (posted == 0 || !m_Recording) return;
        const double latency = ToMilliseconds(CounterNow() - posted);
        ScopedLock hold(&m_Lock);
        if (m_Values.size() < m_Values.capacity()) m_Values.push_back(latency);
    }
    void Record(bool on) { m_Recording = on; }
    std::vector<double> Values()
    {
        ScopedLock hold(&m_Lock);
        return m_Values;
    }

private:
    CriticalLock m_Lock;
    std::vector<double> m_Values;
    volatile bool m_Recording = false;
};

// Counts, on the delivering thread, the samples that show a new camera frame
// and those that repeat the one before (the same position of the moving square).
class RepeatCounter {
public:
    void SetPictureSize(const MediaTypeRecord& type)
    {
        if (type.cbFormat < sizeof(VIDEOINFOHEADER) || !type.pbFormat) return;
        const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        m_Width = info->bmiHeader.biWidth;
        m_Height = info->bmiHeader.biHeight;
    }
    void OnSample(IMediaSample* sample)
    {
        BYTE* data = nullptr;
        const long bytes = static_cast<long>(m_Width) * m_Height * 3;
        if (FAILED(sample->GetPointer(&data)) || !data || bytes <= 0 || sample->GetActualDataLength() < bytes)
            return;
        const int column = SimSquareColumn(data, m_Width, m_Height);
        if (m_Last >= 0 && column == m_Last)
            InterlockedIncrement(&m_Repeats);
        else
            InterlockedIncrement(&m_Distinct);
        m_Last = column;
    }
    LONG Distinct() const { return m_Distinct; }
    LONG Repeats() const { return m_Repeats; }

private:
    int m_Width = 0;
    int m_Height = 0;
    int m_Last = -1;
    volatile LONG m_Distinct = 0;
    volatile LONG m_Repeats = 0;
};

std::string Failure(const char* what, HRESULT hr)
{
    char text[128];
    snprintf(text, sizeof(text), "%s failed (0x%08lX)", what, static_cast<unsigned long>(hr));
    return text;
}

HRESULT SelectResolution(IBaseFilter* camera, int resolution)
{
    ComPtr<ICameraConfig> config;
    RETURN_IF_FAILED(camera->QueryInterface(IID_ICameraConfig, config.putVoid()));
    CameraConfig record;
    RETURN_IF_FAILED(config->GetConfig(&record));
    record.m_Format.m_Resolution = static_cast<unsigned char>(resolution);
    return config->SetConfig(&record);
}

bool WaitFor(LONG (CountingRenderer::*count)() const, CountingRenderer* sink, LONG wanted, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    while ((sink->*count)() < wanted) {
        if (GetTickCount() - start > milliseconds) return false;
        Sleep(10);
    }
    return true;
}

}  // namespace

GraphRunResult RunCameraGraph(HMODULE module, const GraphRunOptions& options)
{
    GraphRunResult result;
    SimReset();
    SimSetFrameRate(options.cameraFramesPerSecond);

    ComPtr<IBaseFilter> camera;
    HRESULT hr = CreateFilterFromModule(module, camera.put());
    if (FAILED(hr)) {
        result.error = Failure("creating the filter", hr);
        return result;
    }
    hr = SelectResolution(camera.get(), options.resolution);
    if (FAILED(hr)) {
        result.error = Failure("selecting the resolution", hr);
        return result;
    }

    LatencyLog latencies;
    // Before the rig, which may still deliver while it stops.
    RepeatCounter captureFrames, previewFrames;
    CameraGraph rig;
    hr = rig.Build(camera.get(), options.connectCapture, true);
    if (FAILED(hr)) {
        result.error = Failure("building the graph", hr);
        return result;
    }
    captureFrames.SetPictureSize(rig.m_CaptureSink->ConnectedType());
    previewFrames.SetPictureSize(rig.m_PreviewSink->ConnectedType());
    rig.m_CaptureSink->SetSampleHook([&](IMediaSample* sample) { captureFrames.OnSample(sample); });
    rig.m_PreviewSink->SetSampleHook([&](IMediaSample* sample) {
        latencies.OnPreviewSample();
        previewFrames.OnSample(sample);
    });
    ComPtr<IAMDroppedFrames> dropped;
    rig.m_CapturePin.queryInto(IID_IAMDroppedFrames, dropped);

    hr = rig.Run();
    if (FAILED(hr)) {
        result.error = Failure("IMediaControl::Run", hr);
        return result;
    }
    // Measure from the moment both pins deliver.
    if ((options.connectCapture && !WaitFor(&CountingRenderer::Samples, rig.m_CaptureSink, 5, 10000)) ||
        !WaitFor(&CountingRenderer::Samples, rig.m_PreviewSink, 5, 10000)) {
        result.error = "no samples within 10 s of Run";
        return result;
    }

    const MemoryUse memoryStart = ProcessMemory();
    const double cpuStart = ProcessCpuMilliseconds();
    const long long start = CounterNow();
    const LONG captureStart = rig.m_CaptureSink->Samples();
    const LONG previewStart = rig.m_PreviewSink->Samples();
    const LONG captureDistinctStart = captureFrames.Distinct(), captureRepeatsStart = captureFrames.Repeats();
    const LONG previewDistinctStart = previewFrames.Distinct(), previewRepeatsStart = previewFrames.Repeats();
    const int postedStart = SimFramesPosted();
    const int pulledStart = SimFramesPulled();
    long droppedStart = 0, notDroppedStart = 0;
    if (dropped) {
        dropped->GetNumDropped(&droppedStart);
        dropped->GetNumNotDropped(&notDroppedStart);
    }
    latencies.Record(true);

    for (;;) {
        Sleep(50);
        const double elapsed = ToMilliseconds(CounterNow() - start) / 1000.0;
        if (elapsed >= options.seconds) break;
        if (options.untilFramesPulled > 0 && SimFramesPulled() - pulledStart >= options.untilFramesPulled) break;
    }

    latencies.Record(false);
    const long long end = CounterNow();
    const double cpuEnd = ProcessCpuMilliseconds();
    const LONG captureCount = rig.m_CaptureSink->Samples() - captureStart;
    const LONG previewCount = rig.m_PreviewSink->Samples() - previewStart;
    const LONG captureDistinct = captureFrames.Distinct() - captureDistinctStart;
    const LONG previewDistinct = previewFrames.Distinct() - previewDistinctStart;
    result.captureRepeats = captureFrames.Repeats() - captureRepeatsStart;
    result.previewRepeats = previewFrames.Repeats() - previewRepeatsStart;
    const int posted = SimFramesPosted() - postedStart;
    const int pulled = SimFramesPulled() - pulledStart;
    if (dropped) {
        long droppedEnd = 0, notDroppedEnd = 0;
        dropped->GetNumDropped(&droppedEnd);
        dropped->GetNumNotDropped(&notDroppedEnd);
        result.dropped = droppedEnd - droppedStart;
        result.notDropped = notDroppedEnd - notDroppedStart;
    }
    const MemoryUse memoryEnd = ProcessMemory();

    const long long stopStart = CounterNow();
    rig.Stop();
    result.stopMs = ToMilliseconds(CounterNow() - stopStart);

    result.seconds = ToMilliseconds(end - start) / 1000.0;
    result.captureFps = captureCount / result.seconds;
    result.previewFps = previewCount / result.seconds;
    result.captureDistinctFps = captureDistinct / result.seconds;
    result.previewDistinctFps = previewDistinct / result.seconds;
    result.cameraPostedFps = posted / result.seconds;
    result.cameraPulledFps = pulled / result.seconds;
    result.framesPulled = pulled;
    const std::vector<double> values = latencies.Values();
    result.latencySamples = static_cast<long>(values.size());
    result.latencyMedianMs = Median(values);
    result.latency95Ms = Percentile(values, 0.95);
    const long delivered = captureCount + previewCount;
    result.cpuMsPerFrame = delivered > 0 ? (cpuEnd - cpuStart) / delivered : 0;
    result.cpuMsPerCameraFrame = pulled > 0 ? (cpuEnd - cpuStart) / pulled : 0;
    result.workingSetStartMB = memoryStart.workingSetMB;
    result.workingSetEndMB = memoryEnd.workingSetMB;
    result.privateStartMB = memoryStart.privateMB;
    result.privateEndMB = memoryEnd.privateMB;

    rig.Release();
    camera.reset();
    SimReset();
    return result;
}
