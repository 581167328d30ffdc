// The filter from the built module in Wine's filter graph, both pins to
// counting sinks: many state changes, and stopping while the frame path or
// the downstream filter is busy.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <algorithm>

#include "sdk/QuillonSim.h"
#include "tests/support/CameraGraph.h"
#include "tests/support/FilterModule.h"
#include "tests/support/ProcessCounters.h"

namespace {

// Generous limits for a loaded machine; a hang or a missed release takes far longer.
const DWORD PromptStopMs = 1500;
const DWORD SampleWaitMs = 5000;

// After Stop returned, nothing more may arrive downstream.
void ExpectNoSampleAfterStop(CameraGraph& rig)
{
    const LONG capture = rig.m_CaptureSink->Samples();
    const LONG preview = rig.m_PreviewSink->Samples();
    rig.CloseSinks(true);
    Sleep(300);
    EXPECT_EQ(capture, rig.m_CaptureSink->Samples());
    EXPECT_EQ(preview, rig.m_PreviewSink->Samples());
    EXPECT_EQ(0, rig.m_CaptureSink->SamplesWhileClosed());
    EXPECT_EQ(0, rig.m_PreviewSink->SamplesWhileClosed());
}

class CameraFilterStressTest : public FilterModuleTest {};

// One cycle of the mix: immediate stops, pauses, and full runs that stream.
void RunCycle(CameraGraph& rig, int cycle, DWORD& slowestStop)
{
    IMediaControl* control = rig.m_Control.get();
    rig.CloseSinks(false);
    switch (cycle % 5) {
    case 0:
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        break;
    case 1:
        EXPECT_TRUE(SUCCEEDED(control->Pause()));
        break;
    case 2:
        EXPECT_TRUE(SUCCEEDED(control->Pause()));
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        break;
    case 3:
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_TRUE(rig.m_CaptureSink->WaitForMoreSamples(1));
        EXPECT_TRUE(rig.m_PreviewSink->WaitForMoreSamples(1));
        EXPECT_TRUE(SUCCEEDED(control->Pause()));
        break;
    default:
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        EXPECT_TRUE(SUCCEEDED(control->Pause()));
        EXPECT_TRUE(SUCCEEDED(control->Run()));
        break;
    }
    HRESULT stopped = E_FAIL;
    slowestStop = std::max(slowestStop, MillisecondsOf([&] { stopped = control->Stop(); }));
    EXPECT_EQ(S_OK, stopped);
    // Until the next start, anything arriving downstream came after the stop.
    rig.CloseSinks(true);
}

TEST_F(CameraFilterStressTest, ThousandStateCyclesLeaveNothingBehind)
{
    const int Cycles = 1000;
    // Windows, threads and handles of a first stream (Wine's own helpers among
    // them) are in place before the counts are taken.
    {
        CameraGraph warmUp;
        ASSERT_EQ(S_OK, warmUp.Build(NewFilter().get()));
        DWORD ignored = 0;
        for (int i = 0; i < 5; ++i) RunCycle(warmUp, 3, ignored);
    }
    const int threads = ProcessThreadCount();
    const DWORD handles = ProcessHandleCount();
    const int windows = ProcessWindowCount();

    DWORD slowestStop = 0;
    {
        CameraGraph rig;
        ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
        for (int cycle = 0; cycle < Cycles && !HasFailure(); ++cycle) {
            SCOPED_TRACE(cycle);
            RunCycle(rig, cycle, slowestStop);
        }
        EXPECT_LT(0, rig.m_CaptureSink->Samples());
        EXPECT_LT(0, rig.m_PreviewSink->Samples());
        Sleep(100);
        EXPECT_EQ(0, rig.m_CaptureSink->SamplesWhileClosed());
        EXPECT_EQ(0, rig.m_PreviewSink->SamplesWhileClosed());
    }
    EXPECT_GT(PromptStopMs, slowestStop);
    EXPECT_TRUE(m_Boxes->ClosedTexts().empty());

    // Every filter and pin is gone with the graph; the module may unload.
    EXPECT_EQ(S_OK, CanUnloadNow());
    const int Slack = 2;
    EXPECT_TRUE(WaitUntil([&] { return ProcessThreadCount() <= threads + Slack; }))
        << threads << " threads before, " << ProcessThreadCount() << " after";
    EXPECT_TRUE(WaitUntil([&] { return ProcessHandleCount() <= handles + Slack; }))
        << handles << " handles before, " << ProcessHandleCount() << " after";
    EXPECT_TRUE(WaitUntil([&] { return ProcessWindowCount() <= windows; }))
        << windows << " windows before, " << ProcessWindowCount() << " after";
}

TEST_F(CameraFilterStressTest, AFilterNeverConnectedOrNeverRunLetsTheModuleUnload)
{
    {
        ComPtr<IBaseFilter> lonely = NewFilter();
        EXPECT_EQ(S_FALSE, CanUnloadNow());
    }
    EXPECT_EQ(S_OK, CanUnloadNow());
    {
        CameraGraph rig;
        ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
        EXPECT_EQ(S_FALSE, CanUnloadNow());
    }
    EXPECT_EQ(S_OK, CanUnloadNow());
}

TEST_F(CameraFilterStressTest, StopIsPromptWhileAFrameIsBeingPulled)
{
    const int PullDelayMs = 300;
    CameraGraph rig;
    ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
    ASSERT_TRUE(SUCCEEDED(rig.Run()));
    ASSERT_TRUE(rig.m_PreviewSink->WaitForMoreSamples(2));
    SimSetPullDelay(PullDelayMs);
    // Frames come faster than they are pulled: the window thread is now inside
    // a slow pull, holding the controller's lock, most of the time.
    ASSERT_TRUE(WaitUntil([] { return SimFramesPosted() > SimFramesPulled(); }));
    Sleep(PullDelayMs / 2);

    const DWORD took = MillisecondsOf([&] { EXPECT_EQ(S_OK, rig.Stop()); });
    EXPECT_GT(static_cast<DWORD>(PullDelayMs) + PromptStopMs, took);
    ExpectNoSampleAfterStop(rig);
    EXPECT_EQ(0, SimIsPlaying());
    EXPECT_EQ(0, SimIsInitialised());
}

TEST_F(CameraFilterStressTest, StopThroughTheGraphIsPromptWhileDownstreamHoldsASample)
{
    CameraGraph rig;
    ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
    rig.m_CaptureSink->HoldReceives(true);
    ASSERT_TRUE(SUCCEEDED(rig.Run()));
    ASSERT_TRUE(rig.m_CaptureSink->WaitUntilHolding(SampleWaitMs));
    ASSERT_TRUE(rig.m_PreviewSink->WaitForMoreSamples(2));

    // The graph stops the sinks first; a stopping renderer lets its sample go.
    const DWORD took = MillisecondsOf([&] { EXPECT_EQ(S_OK, rig.Stop()); });
    EXPECT_GT(PromptStopMs, took);
    EXPECT_EQ(0, rig.m_CaptureSink->HeldNow());
    ExpectNoSampleAfterStop(rig);
}

// A direct IBaseFilter::Stop cannot end a Receive that downstream holds; it
// returns as soon as downstream lets go, and nothing is delivered after it.
TEST_F(CameraFilterStressTest, DirectStopWaitsOnlyUntilDownstreamLetsGo)
{
    const DWORD HoldMs = 400;
    CameraGraph rig;
    ASSERT_EQ(S_OK, rig.Build(NewFilter().get()));
    rig.m_CaptureSink->HoldReceives(true);
    ASSERT_TRUE(SUCCEEDED(rig.Run()));
    ASSERT_TRUE(rig.m_CaptureSink->WaitUntilHolding(SampleWaitMs));

    struct Releaser {
        CountingRenderer* sink;
        DWORD delay;
        static DWORD WINAPI Main(void* parameter)
        {
            Releaser* self = static_cast<Releaser*>(parameter);
            Sleep(self->delay);
            self->sink->ReleaseReceives();
            return 0;
        }
    } releaser{rig.m_CaptureSink, HoldMs};
    UniqueHandle thread(CreateThread(nullptr, 0, Releaser::Main, &releaser, 0, nullptr));
    ASSERT_TRUE(thread);

    const DWORD took = MillisecondsOf([&] { EXPECT_EQ(S_OK, rig.m_Camera->Stop()); });
    WaitForSingleObject(thread.get(), INFINITE);
    EXPECT_LE(HoldMs - 50, took);
    EXPECT_GT(HoldMs + PromptStopMs, took);
    // The sinks still run: whatever came would be counted, and nothing does.
    const LONG capture = rig.m_CaptureSink->Samples();
    const LONG preview = rig.m_PreviewSink->Samples();
    Sleep(300);
    EXPECT_EQ(capture, rig.m_CaptureSink->Samples());
    EXPECT_EQ(preview, rig.m_PreviewSink->Samples());
    EXPECT_EQ(S_OK, rig.Stop());
}

}  // namespace
