#include "tools/bench/FramePathBench.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "camera/CCamera.h"
#include "sdk/QuillonSim.h"
#include "tools/bench/Measure.h"

namespace {

const int MinimumRuns = 15;

// Touches every page so that no run pays for first-use page faults.
std::vector<unsigned char> WarmBuffer(size_t bytes)
{
    std::vector<unsigned char> buffer(bytes);
    memset(buffer.data(), 0x5A, bytes);
    return buffer;
}

}  // namespace

FramePathResult MeasureFramePath(int resolution, double millisecondsPerItem)
{
    FramePathResult result;
    result.resolution = resolution;
    SimReset();

    CCamera camera;
    camera.m_Config.m_Format.m_Resolution = static_cast<unsigned char>(resolution);
    if (camera.Open() != 1) return result;
    result.opened = true;
    result.width = camera.m_Width;
    result.height = camera.m_Height;
    result.frameBytes = camera.m_OutFrameBytes;
    const size_t bytes = static_cast<size_t>(result.frameBytes);

    // The camera is open but not playing: only the frames sent here are
    // handled, so nothing else competes for the controller's lock.
    const HWND window = camera.m_Window;
    auto handleOneFrame = [&] { SendMessageA(window, FrameReadyMessage, 0, 0); };
    for (int i = 0; i < 3; ++i) handleOneFrame();

    std::vector<unsigned char> source = WarmBuffer(bytes);
    std::vector<unsigned char> destination = WarmBuffer(bytes);
    std::vector<unsigned char> sample = WarmBuffer(bytes);

    // Each round times every item once, so that a busy machine slows all of
    // them alike and the ratios stay fair.
    const WNDPROC frameProcedure = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
    std::vector<double> memcpyRuns, sentRuns, handlerRuns, pullRuns, cropRuns, copyNowRuns;
    auto timeOnce = [](std::vector<double>& runs, auto body) {
        const long long before = CounterNow();
        body();
        runs.push_back(ToMilliseconds(CounterNow() - before));
    };
    const long long start = CounterNow();
    while (static_cast<int>(memcpyRuns.size()) < MinimumRuns ||
           ToMilliseconds(CounterNow() - start) < millisecondsPerItem * 6) {
        timeOnce(memcpyRuns, [&] { memcpy(destination.data(), source.data(), bytes); });
        timeOnce(sentRuns, handleOneFrame);
        // The frame window's own procedure, run on this thread: what the window
        // thread does for one frame message, without the message's delivery.
        timeOnce(handlerRuns, [&] { CallWindowProcA(frameProcedure, window, FrameReadyMessage, 0, 0); });
        timeOnce(pullRuns, [&] { CameraGetImageDataRGB24(destination.data()); });
        timeOnce(cropRuns, [&] {
            CCamera::CropCopy(result.width, result.height, result.width, result.height, source.data(),
                              destination.data());
        });
        timeOnce(copyNowRuns, [&] { camera.CopyFrameNow(sample.data(), result.frameBytes); });
    }
    result.memcpyMs = Median(memcpyRuns);
    result.messagePathMs = Median(sentRuns);
    result.handlerMs = Median(handlerRuns);
    result.pullMs = Median(pullRuns);
    result.cropCopyMs = Median(cropRuns);
    result.copyNowMs = Median(copyNowRuns);

    camera.Close();
    SimReset();
    return result;
}

WaitLatencyResult MeasureWaitLatency(int resolution, double seconds)
{
    WaitLatencyResult result;
    SimReset();
    CCamera camera;
    camera.m_Config.m_Format.m_Resolution = static_cast<unsigned char>(resolution);
    if (camera.Open() != 1 || camera.Play() != 1) return result;
    result.opened = true;
    std::vector<unsigned char> sample = WarmBuffer(static_cast<size_t>(camera.m_OutFrameBytes));
    std::vector<double> latencies;
    const long long start = CounterNow();
    while (ToMilliseconds(CounterNow() - start) < seconds * 1000) {
        camera.CopyFrameWait(sample.data(), camera.m_OutFrameBytes);
        const long long posted = SimLastFramePostCounter();
        if (posted != 0) latencies.push_back(ToMilliseconds(CounterNow() - posted));
    }
    camera.Stop();
    camera.Close();
    SimReset();
    result.samples = static_cast<long>(latencies.size());
    result.medianMs = Median(latencies);
    result.p95Ms = Percentile(latencies, 0.95);
    return result;
}

OpenCloseResult MeasureOpenClose(int cycles)
{
    OpenCloseResult result;
    SimReset();
    CCamera camera;
    std::vector<double> open, play, stop, close;
    for (int i = 0; i < cycles; ++i) {
        long long before = CounterNow();
        if (camera.Open() != 1) return result;
        open.push_back(ToMilliseconds(CounterNow() - before));
        before = CounterNow();
        camera.Play();
        play.push_back(ToMilliseconds(CounterNow() - before));
        before = CounterNow();
        camera.Stop();
        stop.push_back(ToMilliseconds(CounterNow() - before));
        before = CounterNow();
        camera.Close();
        close.push_back(ToMilliseconds(CounterNow() - before));
    }
    result.opened = true;
    result.openMs = Median(open);
    result.playMs = Median(play);
    result.stopMs = Median(stop);
    result.closeMs = Median(close);
    SimReset();
    return result;
}
