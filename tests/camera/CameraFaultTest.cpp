// The filter from the built module in Wine's filter graph while the simulated
// camera misbehaves: failing to open or start, stalling, flooding the frame
// window, and pulling frames slowly.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <string>
#include <vector>

#include "framework/Sync.h"
#include "sdk/QuillonSim.h"
#include "tests/support/CameraGraph.h"
#include "tests/support/FilterModule.h"
#include "tests/support/ProcessCounters.h"

namespace {

const DWORD PromptStopMs = 1500;
const DWORD SampleWaitMs = 5000;

// A cheap fingerprint of a sample's bytes (every 97th 32-bit word).
unsigned long long Fingerprint(IMediaSample* sample)
{
    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return 0;
    const long words = sample->GetSize() / 4;
    const unsigned int* word = reinterpret_cast<const unsigned int*>(data);
    unsigned long long hash = 1469598103934665603ull;
    for (long i = 0; i < words; i += 97) hash = (hash ^ word[i]) * 1099511628211ull;
    return hash;
}

class CameraFaultTest : public FilterModuleTest {
protected:
    // Starts the graph while the camera fails; the graph's start fails and
    // each pin thread shows the message once.
    void ExpectFailedStart(CameraGraph& rig, const std::string& message)
    {
        const HRESULT ran = rig.Run();
        EXPECT_TRUE(FAILED(ran)) << std::hex << ran;
        ASSERT_TRUE(m_Boxes->WaitForClosed(1, SampleWaitMs));
        // The graph's start stops at the first pin that fails, or goes on to the
        // second: either way no pin shows a message twice.
        EXPECT_TRUE(SUCCEEDED(rig.Stop()));
        rig.StopEveryFilter();
        Sleep(200);
        const std::vector<std::string> texts = m_Boxes->ClosedTexts();
        EXPECT_LE(texts.size(), 2u);
        for (const std::string& text : texts) EXPECT_EQ(message, text);
        EXPECT_EQ(0, SimIsPlaying());
    }

    // After a failure, the next start streams on both pins.
    void ExpectNextRunStreams(CameraGraph& rig)
    {
        const size_t boxes = m_Boxes->ClosedTexts().size();
        ASSERT_TRUE(SUCCEEDED(rig.Run()));
        EXPECT_TRUE(rig.m_CaptureSink->WaitForMoreSamples(3));
        EXPECT_TRUE(rig.m_PreviewSink->WaitForMoreSamples(3));
        EXPECT_EQ(S_OK, rig.Stop());
        EXPECT_EQ(boxes, m_Boxes->ClosedTexts().size());
    }
};

TEST_F(CameraFaultTest, FailedInitShowsItsMessageAndTheNextRunStreams)
{
    CameraGraph rig;
    ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
    SimFailInit(-1);
    ExpectFailedStart(rig, "Camera init failed!");
    EXPECT_EQ(0, SimIsInitialised());
    SimFailInit(0);
    ExpectNextRunStreams(rig);
}

TEST_F(CameraFaultTest, FailedImageSizeCountsAsAFailedInit)
{
    CameraGraph rig;
    ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
    SimFailImageSize(-1);
    ExpectFailedStart(rig, "Camera init failed!");
    // The camera opened by the failed attempt was closed again.
    EXPECT_EQ(0, SimIsInitialised());
    SimFailImageSize(0);
    ExpectNextRunStreams(rig);
}

TEST_F(CameraFaultTest, FailedPlayShowsItsMessageAndTheNextRunStreams)
{
    CameraGraph rig;
    ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
    SimFailPlay(-1);
    ExpectFailedStart(rig, "Camera play failed!");
    EXPECT_EQ(0, SimIsInitialised());
    SimFailPlay(0);
    ExpectNextRunStreams(rig);
}

TEST_F(CameraFaultTest, StalledCameraRepeatsTheHeldFrameOnPreviewAndCaptureSendsNothing)
{
    std::atomic<bool> stalled(false);
    CriticalLock fingerprintsLock;
    std::set<unsigned long long> stalledPreviewFrames;
    CameraGraph rig;
    rig.m_PreviewSink->SetSampleHook([&](IMediaSample* sample) {
        if (!stalled) return;
        const unsigned long long print = Fingerprint(sample);
        ScopedLock hold(&fingerprintsLock);
        stalledPreviewFrames.insert(print);
    });
    ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
    ASSERT_TRUE(SUCCEEDED(rig.Run()));
    ASSERT_TRUE(rig.m_PreviewSink->WaitForMoreSamples(3));

    SimPauseFrames(1);
    // A frame already on its way may still come; then the camera is silent.
    Sleep(300);
    stalled = true;
    const LONG capture = rig.m_CaptureSink->Samples();
    const LONG preview = rig.m_PreviewSink->Samples();
    Sleep(2000);
    stalled = false;
    const LONG captured = rig.m_CaptureSink->Samples() - capture;
    const LONG previewed = rig.m_PreviewSink->Samples() - preview;
    // Capture never sends a frame twice; preview repeats the held frame
    // after each half-second wait for a new one.
    EXPECT_EQ(0, captured);
    EXPECT_LE(2, previewed);
    EXPECT_GE(6, previewed);
    {
        ScopedLock hold(&fingerprintsLock);
        EXPECT_EQ(1u, stalledPreviewFrames.size());
    }

    const DWORD took = MillisecondsOf([&] { EXPECT_EQ(S_OK, rig.Stop()); });
    EXPECT_GT(PromptStopMs, took);
}

TEST_F(CameraFaultTest, FrameStormBuildsNoBacklogAndLeavesNothingBehind)
{
    CameraGraph rig;
    ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
    ASSERT_TRUE(SUCCEEDED(rig.Run()));
    ASSERT_TRUE(rig.m_PreviewSink->WaitForMoreSamples(3));
    const int threads = ProcessThreadCount();
    const DWORD handles = ProcessHandleCount();
    ComPtr<IAMDroppedFrames> dropped;
    ASSERT_EQ(S_OK, rig.m_CapturePin.queryInto(IID_IAMDroppedFrames, dropped));
    // The frames the capture pin has delivered or dropped so far.
    auto accounted = [&] {
        long droppedCount = 0, delivered = 0;
        dropped->GetNumDropped(&droppedCount);
        dropped->GetNumNotDropped(&delivered);
        return droppedCount + delivered;
    };

    SimSetFrameRate(500);
    const int posted = SimFramesPosted();
    int largestBacklog = 0;
    long accountedBefore = 0, pulledBefore = 0;
    for (int i = 0; i < 60; ++i) {
        Sleep(50);
        largestBacklog = std::max(largestBacklog, SimFramesPosted() - SimFramesPulled());
        if (i == 10) {
            accountedBefore = accounted();
            pulledBefore = SimFramesPulled();
        }
    }
    const long accountedDuring = accounted() - accountedBefore;
    const long pulledDuring = SimFramesPulled() - pulledBefore;
    // The frame window keeps up, or the camera holds back: never a queue.
    EXPECT_GE(4, largestBacklog);
    EXPECT_LT(300, SimFramesPosted() - posted);
    EXPECT_TRUE(rig.m_CaptureSink->WaitForMoreSamples(3));
    EXPECT_TRUE(rig.m_PreviewSink->WaitForMoreSamples(3));
    EXPECT_GE(threads + 1, ProcessThreadCount());
    EXPECT_GE(handles + 4, ProcessHandleCount());

    // Every frame pulled meanwhile was either delivered by the capture pin or
    // dropped (but the few on their way at either end).
    EXPECT_NEAR(double(pulledDuring), double(accountedDuring), 15.0);
    const DWORD took = MillisecondsOf([&] { EXPECT_EQ(S_OK, rig.Stop()); });
    EXPECT_GT(PromptStopMs, took);
    long droppedCount = -1;
    EXPECT_EQ(S_OK, dropped->GetNumDropped(&droppedCount));
    EXPECT_LT(0, droppedCount);
}

TEST_F(CameraFaultTest, SlowFramePullsKeepBothPinsGoingAndStopPrompt)
{
    const int PullDelayMs = 100;
    CameraGraph rig;
    ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
    SimSetPullDelay(PullDelayMs);
    ASSERT_TRUE(SUCCEEDED(rig.Run()));
    ASSERT_TRUE(rig.m_PreviewSink->WaitForMoreSamples(2));

    const LONG capture = rig.m_CaptureSink->Samples();
    const LONG preview = rig.m_PreviewSink->Samples();
    // At most ten frames a second come out of the library; both pins still
    // get them, and no backlog of frame messages builds up meanwhile.
    const LONG wanted = 8;
    int largestBacklog = 0;
    for (int i = 0; i < 60; ++i) {
        Sleep(100);
        largestBacklog = std::max(largestBacklog, SimFramesPosted() - SimFramesPulled());
        if (i >= 20 && rig.m_PreviewSink->Samples() - preview >= wanted &&
            rig.m_CaptureSink->Samples() - capture >= wanted)
            break;
    }
    EXPECT_GE(4, largestBacklog);
    EXPECT_LE(wanted, rig.m_PreviewSink->Samples() - preview);
    EXPECT_LE(wanted, rig.m_CaptureSink->Samples() - capture);

    const DWORD took = MillisecondsOf([&] { EXPECT_EQ(S_OK, rig.Stop()); });
    EXPECT_GT(PullDelayMs + PromptStopMs, took);
    EXPECT_EQ(0, SimIsInitialised());
}

}  // namespace
