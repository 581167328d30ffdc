#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <string>
#include <vector>

#include "camera/CameraFilter.h"
#include "camera/CapturePin.h"
#include "sdk/QuillonSim.h"
#include "tests/support/FakeMediaSample.h"
#include "tests/support/GraphFixture.h"
#include "tests/support/IsolatedTempDirectory.h"
#include "tests/support/MessageBoxWatcher.h"
#include "tests/support/ProcessCounters.h"
#include "tests/support/SimCallLog.h"
#include "tests/support/SimPicture.h"

namespace {

using Names = std::vector<std::string>;

const int FullWidth = 3032;
const int FullHeight = 2016;
const long FullFrameBytes = FullWidth * FullHeight * 3;

// A tick count that follows a script, and a sleep that only records, for the
// pin's pacing. The first tick is read by OnThreadBegin, one more by each sample.
namespace ScriptedClock {
std::vector<DWORD> ticks;
std::atomic<int> reads(0);
CriticalLock sleepLock;
std::vector<DWORD> sleeps;

void Start(std::vector<DWORD> script)
{
    ticks = std::move(script);
    reads = 0;
    ScopedLock lock(&sleepLock);
    sleeps.clear();
}

DWORD WINAPI Tick()
{
    const int read = reads++;
    if (read < static_cast<int>(ticks.size())) return ticks[read];
    // Past the script, samples come 40 ms apart.
    return ticks.back() + 40 * (read - static_cast<int>(ticks.size()) + 1);
}

void WINAPI RecordSleep(DWORD milliseconds)
{
    ScopedLock lock(&sleepLock);
    sleeps.push_back(milliseconds);
}

std::vector<DWORD> Sleeps()
{
    ScopedLock lock(&sleepLock);
    return sleeps;
}
} // namespace ScriptedClock

// Elapsed 0, 33, 150 and 10 ms between the start and four samples.
const std::vector<DWORD> WorkedExampleTicks = {1000, 1000, 1033, 1183, 1193};
const REFERENCE_TIME WorkedExampleStamps[4][2] = {
    {126333, 126333}, {252666, 285666}, {411999, 435666}, {561999, 571999}};

class FrameProductionTest : public testing::Test {
  protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        SimReset();
        m_LiveBefore = LiveObjectCount;
        HRESULT result = E_UNEXPECTED;
        ObjectBase* object = CameraFilter::Create(nullptr, &result);
        ASSERT_NE(nullptr, object);
        ASSERT_EQ(S_OK, object->InnerQueryInterface(IID_IBaseFilter, m_Filter.putVoid()));
        m_Object = static_cast<CameraFilter*>(object);
        m_Capture = m_Object->PinInList(0);
        m_Preview = m_Object->PinInList(1);
    }
    void TearDown() override
    {
        m_Graph.Release();
        m_Filter.reset();
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
        SimReset();
        CoUninitialize();
    }

    bool WaitForFrames(LONG count)
    {
        return WaitUntil([&] { return m_Object->Camera()->m_FramesReceived >= count; });
    }

    IsolatedTempDirectory m_Temp;
    LONG m_LiveBefore = 0;
    ComPtr<IBaseFilter> m_Filter;
    CameraFilter* m_Object = nullptr;
    CapturePin* m_Capture = nullptr;
    CapturePin* m_Preview = nullptr;
    GraphFixture m_Graph;
};

TEST_F(FrameProductionTest, CaptureSamplesFollowTheWorkedExample)
{
    ScriptedClock::Start(WorkedExampleTicks);
    m_Capture->SetClock(ScriptedClock::Tick, ScriptedClock::RecordSleep);
    ASSERT_EQ(S_OK, m_Capture->OnThreadBegin());
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        FakeMediaSample sample(16);
        ASSERT_EQ(S_OK, m_Capture->FillSample(&sample));
        ASSERT_TRUE(sample.m_StartGiven && sample.m_EndGiven);
        EXPECT_EQ(WorkedExampleStamps[i][0], sample.m_Start);
        EXPECT_EQ(WorkedExampleStamps[i][1], sample.m_End);
        EXPECT_TRUE(sample.m_SyncPoint);
        EXPECT_FALSE(sample.m_ActualLengthSet);
        // Only the last, 10 ms after the one before, waits.
        EXPECT_EQ(i == 3 ? std::vector<DWORD>{30} : std::vector<DWORD>{}, ScriptedClock::Sleeps());
    }
    EXPECT_EQ(S_OK, m_Capture->OnThreadEnd());
    EXPECT_EQ(0, SimIsInitialised());
}

TEST_F(FrameProductionTest, QualityLatenessBecomesTheGapBetweenSamples)
{
    ScriptedClock::Start({5000}); // the tick then advances 40 ms a read: no sleeps
    m_Capture->SetClock(ScriptedClock::Tick, ScriptedClock::RecordSleep);
    ASSERT_EQ(S_OK, m_Capture->OnThreadBegin());
    ComPtr<IQualityControl> quality;
    ASSERT_EQ(S_OK, m_Capture->PinInterface()->QueryInterface(IID_IQualityControl, quality.putVoid()));

    struct Case {
        REFERENCE_TIME late;
        REFERENCE_TIME gap; // between the previous end and the next start
    };
    REFERENCE_TIME previousEnd = 0;
    for (const Case& c :
         {Case{0, 126333}, Case{-5, 126333}, Case{400000, 400000}, Case{0, 400000}, Case{1, 1}}) {
        SCOPED_TRACE(c.late);
        Quality message = {Famine, 1000, c.late, 0};
        EXPECT_EQ(S_OK, quality->Notify(m_Filter.get(), message));
        FakeMediaSample sample(16);
        ASSERT_EQ(S_OK, m_Capture->FillSample(&sample));
        EXPECT_EQ(previousEnd + c.gap, sample.m_Start);
        previousEnd = sample.m_End;
    }
    // A new start forgets the lateness.
    m_Capture->OnThreadEnd();
    ASSERT_EQ(S_OK, m_Capture->OnThreadBegin());
    FakeMediaSample sample(16);
    ASSERT_EQ(S_OK, m_Capture->FillSample(&sample));
    EXPECT_EQ(126333, sample.m_Start);
    m_Capture->OnThreadEnd();
}

TEST_F(FrameProductionTest, PreviewSamplesCarryNoTimesButAreSyncPoints)
{
    ASSERT_EQ(S_OK, m_Preview->OnThreadBegin());
    FakeMediaSample sample(16);
    ASSERT_EQ(S_OK, m_Preview->FillSample(&sample));
    EXPECT_EQ(1, sample.m_SetTimeCalls);
    EXPECT_FALSE(sample.m_StartGiven);
    EXPECT_FALSE(sample.m_EndGiven);
    EXPECT_TRUE(sample.m_SyncPoint);
    m_Preview->OnThreadEnd();
}

TEST_F(FrameProductionTest, SamplesReceiveAtMostWhatTheyHold)
{
    ASSERT_EQ(S_OK, m_Capture->OnThreadBegin());
    ASSERT_TRUE(WaitForFrames(1));
    SimPauseFrames(1);
    Sleep(300); // let a frame message already posted arrive
    std::vector<unsigned char> frame(FullFrameBytes);
    m_Object->Camera()->CopyFrameNow(frame.data(), FullFrameBytes);

    for (CapturePin* pin : {m_Capture, m_Preview}) {
        for (long size : {0L, 1000L, FullFrameBytes - 1, FullFrameBytes}) {
            SCOPED_TRACE(size);
            FakeMediaSample sample(size);
            ASSERT_EQ(S_OK, pin->FillSample(&sample));
            EXPECT_TRUE(sample.GuardIntact());
            EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + size, sample.Bytes().begin()));
            if (size == FullFrameBytes) {
                EXPECT_TRUE(ShowsSimPicture(sample.Bytes().data(), FullWidth, FullHeight));
            }
        }
    }
    m_Capture->OnThreadEnd();
}

TEST_F(FrameProductionTest, CameraFailuresAreShownInAMessageBox)
{
    struct Case {
        void(__stdcall* fail)(int);
        const char* text;
    };
    for (const Case& c :
         {Case{SimFailInit, "Camera init failed!"}, Case{SimFailPlay, "Camera play failed!"}}) {
        SCOPED_TRACE(c.text);
        MessageBoxWatcher watcher;
        c.fail(1);
        EXPECT_EQ(E_FAIL, m_Capture->OnThreadBegin());
        EXPECT_EQ(std::vector<std::string>{c.text}, watcher.ClosedTexts());
        EXPECT_EQ(S_OK, m_Capture->OnThreadEnd());
        EXPECT_EQ(0, SimIsInitialised());
        EXPECT_EQ(0, SimIsPlaying());
    }
}

TEST_F(FrameProductionTest, EachPinDeliversThePictureDownstream)
{
    for (const wchar_t* id : {L"1", L"2"}) {
        const int slot = id[0] == L'1' ? 0 : 1;
        SCOPED_TRACE(slot);
        SimClearCalls();
        ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
        ASSERT_EQ(S_OK, m_Graph.ConnectPin(id));
        ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
        RecordingSink& sink = m_Graph.m_Sinks[slot];
        ASSERT_TRUE(sink.WaitForSamples(3));
        ASSERT_EQ(S_OK, m_Graph.Stop());
        EXPECT_EQ(0, SimIsInitialised());

        // A capture sample taken before the first frame arrived holds no picture yet.
        const std::vector<RecordedSample> samples = sink.Samples();
        EXPECT_TRUE(samples.back().showsPicture);
        for (const RecordedSample& sample : samples) {
            EXPECT_TRUE(sample.syncPoint);
            EXPECT_EQ(FullFrameBytes, sample.size);
            EXPECT_EQ(slot == 0 ? S_OK : VFW_E_SAMPLE_TIME_NOT_SET, sample.timeResult);
        }
        EXPECT_EQ((Names{"CameraInit", "CameraGetImageSize", "CameraPlay", "CameraStop", "CameraUnInit"}),
                  SimCallNamesAmong(
                      {"CameraInit", "CameraGetImageSize", "CameraPlay", "CameraStop", "CameraUnInit"}));
        m_Graph.Release();
    }
}

TEST_F(FrameProductionTest, BothPinsStreamAtOnceFromOneCamera)
{
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"2"));
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(3));
    ASSERT_TRUE(m_Graph.m_Sinks[1].WaitForSamples(3));
    EXPECT_EQ(1, SimCallCount("CameraInit"));
    EXPECT_EQ(1, SimIsPlaying());
    ASSERT_EQ(S_OK, m_Graph.Stop());
    EXPECT_EQ(0, SimIsInitialised());

    const RecordedSample capture = m_Graph.m_Sinks[0].Samples().back();
    const RecordedSample preview = m_Graph.m_Sinks[1].Samples().back();
    EXPECT_NE(capture.threadId, preview.threadId);
    EXPECT_TRUE(capture.showsPicture);
    EXPECT_TRUE(preview.showsPicture);
    EXPECT_EQ(S_OK, capture.timeResult);
    EXPECT_EQ(VFW_E_SAMPLE_TIME_NOT_SET, preview.timeResult);
    EXPECT_EQ((Names{"CameraInit", "CameraPlay", "CameraStop", "CameraUnInit"}),
              SimCallNamesAmong({"CameraInit", "CameraPlay", "CameraStop", "CameraUnInit"}));
}

TEST_F(FrameProductionTest, CaptureStampsReachTheGraphExactly)
{
    ScriptedClock::Start(WorkedExampleTicks);
    m_Capture->SetClock(ScriptedClock::Tick, ScriptedClock::RecordSleep);
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(4));
    ASSERT_EQ(S_OK, m_Graph.Stop());
    const std::vector<RecordedSample> samples = m_Graph.m_Sinks[0].Samples();
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(S_OK, samples[i].timeResult);
        EXPECT_EQ(WorkedExampleStamps[i][0], samples[i].start);
        EXPECT_EQ(WorkedExampleStamps[i][1], samples[i].end);
    }
    const std::vector<DWORD> sleeps = ScriptedClock::Sleeps();
    ASSERT_FALSE(sleeps.empty());
    EXPECT_EQ(30u, sleeps.front());
}

TEST_F(FrameProductionTest, ACameraThatCannotOpenFailsTheGraphUntilItWorksAgain)
{
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"2"));
    {
        MessageBoxWatcher watcher;
        SimFailInit(-1);
        SimClearCalls();
        // Wine's graph answers the run as still in progress and reports the
        // failure when asked for its state.
        EXPECT_NE(S_OK, m_Graph.Run());
        OAFilterState state;
        EXPECT_EQ(E_FAIL, m_Graph.m_Control->GetState(5000, &state));
        // One box for each pin thread that tried to open the camera.
        const std::vector<std::string> texts = watcher.ClosedTexts();
        EXPECT_FALSE(texts.empty());
        EXPECT_EQ(static_cast<size_t>(SimCallCount("CameraInit")), texts.size());
        for (const std::string& text : texts)
            EXPECT_EQ("Camera init failed!", text);
        m_Graph.StopEveryFilter();
        m_Graph.Stop();
    }
    EXPECT_EQ(0u, m_Graph.m_Sinks[0].Count());
    EXPECT_EQ(0u, m_Graph.m_Sinks[1].Count());

    SimFailInit(0);
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    EXPECT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(2));
    EXPECT_TRUE(m_Graph.m_Sinks[1].WaitForSamples(2));
    EXPECT_EQ(S_OK, m_Graph.Stop());
}

TEST_F(FrameProductionTest, SetFormatReconnectsAConnectedPinOnlyWhileStopped)
{
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_Graph.m_Pins[0].queryInto(IID_IAMStreamConfig, config));
    ComPtr<IPin> peerBefore;
    ASSERT_EQ(S_OK, m_Graph.m_Pins[0]->ConnectedTo(peerBefore.put()));

    // A type the pin would not propose: it stays only if nobody reconnects.
    AM_MEDIA_TYPE* type = nullptr;
    ASSERT_EQ(S_OK, config->GetFormat(&type));
    reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame = 333333;
    EXPECT_EQ(S_OK, config->SetFormat(type));
    AM_MEDIA_TYPE* after = nullptr;
    ASSERT_EQ(S_OK, config->GetFormat(&after));
    EXPECT_EQ(0, reinterpret_cast<VIDEOINFOHEADER*>(after->pbFormat)->AvgTimePerFrame);
    DeleteTypeRecord(after);
    ComPtr<IPin> peerAfter;
    ASSERT_EQ(S_OK, m_Graph.m_Pins[0]->ConnectedTo(peerAfter.put()));
    EXPECT_EQ(peerBefore.get(), peerAfter.get());

    // While streaming, the connection is left alone.
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(1));
    EXPECT_EQ(VFW_E_NOT_STOPPED, config->SetFormat(type));
    ASSERT_EQ(S_OK, config->GetFormat(&after));
    EXPECT_EQ(0, reinterpret_cast<VIDEOINFOHEADER*>(after->pbFormat)->AvgTimePerFrame);
    DeleteTypeRecord(after);
    const size_t count = m_Graph.m_Sinks[0].Count();
    EXPECT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(count + 2));
    DeleteTypeRecord(type);
    EXPECT_EQ(S_OK, m_Graph.Stop());
}

} // namespace
