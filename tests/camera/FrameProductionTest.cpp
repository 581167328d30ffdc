#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "camera/CameraFilter.h"
#include "camera/CapturePin.h"
#include "camera/SettingsFile.h"
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

const REFERENCE_TIME Second = 10000000;
// How far a reading of the graph's clock may lag the performance counter.
const REFERENCE_TIME ClockTickSlack = Second / 50;

void StoreResolution(int resolution)
{
    CameraConfig stored;
    stored.m_Format.m_Resolution = static_cast<unsigned char>(resolution);
    ASSERT_EQ(1, WriteSettingsFile(stored));
}

// The resolution index of the last CameraInit call, or -1.
long long LastInitResolution()
{
    long long resolution = -1;
    for (const QuillonSimCall& call : SimCallRecords())
        if (std::string(call.function) == "CameraInit") resolution = call.args[1];
    return resolution;
}

SIZE ConnectedSize(IPin* pin)
{
    SIZE size = {0, 0};
    MediaTypeRecord type;
    if (pin->ConnectionMediaType(&type) == S_OK && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
        const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
        size.cx = info->bmiHeader.biWidth;
        size.cy = info->bmiHeader.biHeight;
    }
    return size;
}

REFERENCE_TIME ArrivalSpan(const std::vector<RecordedSample>& samples)
{
    return samples.size() < 2 ? 0 : samples.back().arrival - samples.front().arrival;
}

// Capture stamps strictly increase and advance with real time within 1 %:
// the slope of the stamps over the arrival times, fitted over every sample,
// so that the clock's coarse ticks do not count.
void ExpectStampsFollowRealTime(const std::vector<RecordedSample>& samples)
{
    ASSERT_GE(samples.size(), 10u);
    size_t unordered = 0;
    double meanArrival = 0, meanStart = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(S_OK, samples[i].timeResult);
        if (i > 0 && samples[i].start <= samples[i - 1].start) ++unordered;
        meanArrival += double(samples[i].arrival - samples[0].arrival) / samples.size();
        meanStart += double(samples[i].start - samples[0].start) / samples.size();
    }
    EXPECT_EQ(0u, unordered);
    double covariance = 0, variance = 0;
    for (const RecordedSample& sample : samples) {
        const double arrival = double(sample.arrival - samples[0].arrival) - meanArrival;
        covariance += arrival * (double(sample.start - samples[0].start) - meanStart);
        variance += arrival * arrival;
    }
    EXPECT_NEAR(1.0, covariance / variance, 0.01);
}

// Each sample shows a frame the one before did not, starts after the one
// before and stops no later than the next one starts.
void ExpectEachFrameOnceWithoutOverlap(const std::vector<RecordedSample>& samples)
{
    std::vector<int> columns;
    for (size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_GE(samples[i].squareColumn, 0);
        columns.push_back(samples[i].squareColumn);
        EXPECT_LT(samples[i].start, samples[i].end);
        if (i > 0) {
            EXPECT_LE(samples[i - 1].end, samples[i].start);
        }
    }
    EXPECT_EQ(0u, CountRepeats(columns));
}

// The centre part of a bottom-up RGB24 picture, as a picture of its own.
std::vector<unsigned char> CentrePart(const std::vector<unsigned char>& picture, int width, int height,
                                      int partWidth, int partHeight)
{
    std::vector<unsigned char> part(static_cast<size_t>(partWidth) * partHeight * 3);
    const int left = (width - partWidth) / 2;
    const int top = (height - partHeight) / 2;
    for (int y = 0; y < partHeight; ++y) {
        const size_t from = (static_cast<size_t>(height - 1 - (top + y)) * width + left) * 3;
        const size_t to = static_cast<size_t>(partHeight - 1 - y) * partWidth * 3;
        memcpy(&part[to], &picture[from], static_cast<size_t>(partWidth) * 3);
    }
    return part;
}

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

    LONGLONG StreamTimeNow()
    {
        REFERENCE_TIME now = 0;
        return SUCCEEDED(m_Object->StreamTime(&now)) ? now : LLONG_MIN;
    }

    // A graph with both pins connected at the stored resolution.
    void ConnectBothPinsAt(int resolution)
    {
        StoreResolution(resolution);
        ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
        ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
        ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"2"));
    }

    // Streams the capture pin of a graph until its samples span `span`.
    void CaptureFor(REFERENCE_TIME span)
    {
        RecordingSink& sink = m_Graph.m_Sinks[0];
        ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
        EXPECT_TRUE(WaitUntil([&] { return ArrivalSpan(sink.Samples()) >= span; }, 30000));
        ASSERT_EQ(S_OK, m_Graph.Stop());
    }

    IsolatedTempDirectory m_Temp;
    LONG m_LiveBefore = 0;
    ComPtr<IBaseFilter> m_Filter;
    CameraFilter* m_Object = nullptr;
    CapturePin* m_Capture = nullptr;
    CapturePin* m_Preview = nullptr;
    GraphFixture m_Graph;
};

TEST_F(FrameProductionTest, OnlyAPreviewSampleCloserThanThirtyMillisecondsToTheLastOneWaits)
{
    // Elapsed 0, 33, 150 and 10 ms between the start and four samples.
    ScriptedClock::Start({1000, 1000, 1033, 1183, 1193});
    m_Preview->SetClock(ScriptedClock::Tick, ScriptedClock::RecordSleep);
    ASSERT_EQ(S_OK, m_Preview->OnThreadBegin());
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        FakeMediaSample sample(FullFrameBytes);
        ASSERT_EQ(S_OK, m_Preview->FillSample(&sample));
        EXPECT_TRUE(sample.m_SyncPoint);
        EXPECT_EQ(i == 3 ? std::vector<DWORD>{30} : std::vector<DWORD>{}, ScriptedClock::Sleeps());
    }
    EXPECT_EQ(S_OK, m_Preview->OnThreadEnd());
    EXPECT_EQ(0, SimIsInitialised());
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

    const long sizes[] = {0L, 1000L, FullFrameBytes - 1, FullFrameBytes};
    for (long size : sizes) {
        SCOPED_TRACE(size);
        FakeMediaSample sample(size);
        ASSERT_EQ(S_OK, m_Preview->FillSample(&sample));
        EXPECT_TRUE(sample.GuardIntact());
        EXPECT_TRUE(std::equal(frame.begin(), frame.begin() + size, sample.Bytes().begin()));
        if (size == FullFrameBytes) {
            EXPECT_TRUE(ShowsSimPicture(sample.Bytes().data(), FullWidth, FullHeight));
        }
    }
    // The capture pin takes each new frame once.
    SimPauseFrames(0);
    for (long size : sizes) {
        SCOPED_TRACE(size);
        FakeMediaSample sample(size);
        ASSERT_EQ(S_OK, m_Capture->FillSample(&sample));
        EXPECT_TRUE(sample.GuardIntact());
        EXPECT_EQ(size, sample.GetActualDataLength());
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

        // Every sample, the first one included, holds a picture the camera took.
        const std::vector<RecordedSample> samples = sink.Samples();
        for (const RecordedSample& sample : samples) {
            EXPECT_TRUE(sample.showsPicture);
            EXPECT_TRUE(sample.syncPoint);
            EXPECT_EQ(FullFrameBytes, sample.size);
            EXPECT_EQ(FullFrameBytes, sample.actualLength);
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

// Every camera frame once, each sample stamped with the stream time of its
// frame's arrival: no repeated picture and no sample overlapping the next.
TEST_F(FrameProductionTest, CaptureSendsEachFrameOnceStampedWhenItArrived)
{
    for (int resolution : {3, 0}) {
        SCOPED_TRACE(resolution);
        const CameraResolution size = CameraResolutions[resolution];
        ASSERT_NO_FATAL_FAILURE(ConnectBothPinsAt(resolution));
        m_Graph.m_Sinks[0].Clear();
        m_Graph.m_Sinks[0].SetPictureSize(size.width, size.height);
        m_Graph.m_Sinks[0].SetProbe([this] { return StreamTimeNow(); });
        CaptureFor(3 * Second);

        const std::vector<RecordedSample> samples = m_Graph.m_Sinks[0].Samples();
        ExpectStampsFollowRealTime(samples);
        ExpectEachFrameOnceWithoutOverlap(samples);
        for (const RecordedSample& sample : samples) {
            SCOPED_TRACE(sample.start);
            // Nothing before the graph's start; stamped with the stream time of
            // the frame's arrival, a copy and a delivery before the sink saw it
            // (a full frame's copy waits for the preview's on a loaded machine).
            // The clock's coarse ticks may read a little behind the arrival's time.
            EXPECT_GE(sample.start, 0);
            EXPECT_GT(sample.probe - sample.start, -ClockTickSlack);
            EXPECT_LT(sample.probe - sample.start, 2 * CameraFrameInterval);
        }
        // The camera's 30 frames a second (a loaded machine may miss a few).
        EXPECT_GE(double(samples.size() - 1), 0.9 * 30.0 * ArrivalSpan(samples) / Second);
        m_Graph.Release();
    }
}

TEST_F(FrameProductionTest, WithoutAClockCaptureStampsCountRealTimeFromTheStart)
{
    StoreResolution(3);
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    ComPtr<IMediaFilter> graphFilter;
    ASSERT_EQ(S_OK, m_Graph.m_Graph.queryInto(IID_IMediaFilter, graphFilter));
    ASSERT_EQ(S_OK, graphFilter->SetSyncSource(nullptr));
    m_Graph.m_Sinks[0].SetPictureSize(800, 600);
    m_Graph.m_Sinks[0].SetProbe([this] {
        ComPtr<IReferenceClock> clock;
        m_Filter->GetSyncSource(clock.put());
        return clock ? 1 : 0;
    });
    CaptureFor(3 * Second);

    const std::vector<RecordedSample> samples = m_Graph.m_Sinks[0].Samples();
    ASSERT_FALSE(samples.empty());
    EXPECT_EQ(0, samples.front().probe);
    EXPECT_GE(samples.front().start, 0);
    EXPECT_LT(samples.front().start, Second);
    ExpectStampsFollowRealTime(samples);
}

TEST_F(FrameProductionTest, APausedGraphShowsThePreviewButCapturesOnlyOnceItRuns)
{
    ASSERT_NO_FATAL_FAILURE(ConnectBothPinsAt(3));
    for (RecordingSink& sink : m_Graph.m_Sinks)
        sink.SetPictureSize(800, 600);
    m_Graph.m_Sinks[0].SetProbe([this] { return StreamTimeNow(); });

    // A paused renderer holds the first sample it gets until the graph runs.
    ASSERT_TRUE(SUCCEEDED(m_Graph.Pause()));
    ASSERT_TRUE(m_Graph.m_Sinks[1].WaitForSamples(1));
    Sleep(500);
    EXPECT_EQ(0u, m_Graph.m_Sinks[0].Count());

    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(3));
    ASSERT_EQ(S_OK, m_Graph.Stop());
    const RecordedSample first = m_Graph.m_Sinks[0].Samples().front();
    EXPECT_TRUE(first.showsPicture);
    EXPECT_GE(first.start, 0);
    EXPECT_LT(std::llabs(first.probe - first.start), CameraFrameInterval);
}

TEST_F(FrameProductionTest, EveryStartDeliversOnlyPicturesTheCameraTook)
{
    StoreResolution(3);
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    RecordingSink& sink = m_Graph.m_Sinks[0];
    sink.SetPictureSize(800, 600);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        sink.Clear();
        // The first time the camera is slow to send its first frame.
        if (round == 0) SimPauseFrames(1);
        ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
        if (round == 0) {
            Sleep(1200);
            EXPECT_EQ(0u, sink.Count());
            SimPauseFrames(0);
        }
        ASSERT_TRUE(sink.WaitForSamples(3));
        ASSERT_EQ(S_OK, m_Graph.Stop());
        for (const RecordedSample& sample : sink.Samples())
            EXPECT_TRUE(sample.showsPicture);
    }
}

TEST_F(FrameProductionTest, EveryResolutionDeliversItsWholePicture)
{
    for (int resolution = 0; resolution < CameraResolutionCount; ++resolution) {
        const CameraResolution size = CameraResolutions[resolution];
        SCOPED_TRACE(resolution);
        StoreResolution(resolution);
        SimClearCalls();
        ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
        ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
        const SIZE connected = ConnectedSize(m_Graph.m_Pins[0].get());
        EXPECT_EQ(size.width, connected.cx);
        EXPECT_EQ(size.height, connected.cy);

        RecordingSink& sink = m_Graph.m_Sinks[0];
        sink.Clear();
        sink.SetPictureSize(size.width, size.height);
        ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
        ASSERT_TRUE(sink.WaitForSamples(2));
        ASSERT_EQ(S_OK, m_Graph.Stop());
        EXPECT_EQ(resolution, LastInitResolution());
        for (const RecordedSample& sample : sink.Samples()) {
            EXPECT_EQ(size.width * size.height * 3, sample.actualLength);
            EXPECT_TRUE(sample.showsPicture);
        }
        m_Graph.Release();
    }
}

TEST_F(FrameProductionTest, PinsConnectedAtDifferentSizesEachGetAWholePicture)
{
    StoreResolution(3);
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    StoreResolution(0);
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"2"));
    m_Graph.m_Sinks[0].SetPictureSize(800, 600);
    m_Graph.m_Sinks[1].KeepLastPicture(true);
    SimClearCalls();
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(3));
    ASSERT_TRUE(m_Graph.m_Sinks[1].WaitForSamples(3));
    ASSERT_EQ(S_OK, m_Graph.Stop());

    // The capture pin, first to start, opened the camera at its own size.
    EXPECT_EQ(1, SimCallCount("CameraInit"));
    EXPECT_EQ(3, LastInitResolution());
    for (const RecordedSample& sample : m_Graph.m_Sinks[0].Samples())
        EXPECT_TRUE(sample.showsPicture);
    // The preview frames the smaller picture in black.
    const std::vector<unsigned char> preview = m_Graph.m_Sinks[1].LastPicture();
    ASSERT_EQ(static_cast<size_t>(FullFrameBytes), preview.size());
    for (int corner : {0, FullWidth - 1}) {
        const SimPixel black = FramePixel(preview.data(), FullWidth, FullHeight, corner, 0);
        EXPECT_EQ(0, black.blue + black.green + black.red);
    }
    const std::vector<unsigned char> middle = CentrePart(preview, FullWidth, FullHeight, 800, 600);
    EXPECT_TRUE(ShowsSimPicture(middle.data(), 800, 600));
}

TEST_F(FrameProductionTest, AResolutionChosenWhileConnectedWaitsForTheNextConnection)
{
    StoreResolution(0);
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    ComPtr<ICameraConfig> config;
    ASSERT_EQ(S_OK, m_Graph.m_Pins[0].queryInto(IID_ICameraConfig, config));
    CameraConfig settings;
    ASSERT_EQ(S_OK, config->GetConfig(&settings));
    settings.m_Format.m_Resolution = 3;
    ASSERT_EQ(S_OK, config->SetConfig(&settings));

    EXPECT_EQ(FullWidth, ConnectedSize(m_Graph.m_Pins[0].get()).cx);
    ComPtr<IAMStreamConfig> streamConfig;
    ASSERT_EQ(S_OK, m_Graph.m_Pins[0].queryInto(IID_IAMStreamConfig, streamConfig));
    AM_MEDIA_TYPE* format = nullptr;
    ASSERT_EQ(S_OK, streamConfig->GetFormat(&format));
    EXPECT_EQ(FullWidth, reinterpret_cast<VIDEOINFOHEADER*>(format->pbFormat)->bmiHeader.biWidth);
    DeleteTypeRecord(format);

    SimClearCalls();
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(2));
    ASSERT_EQ(S_OK, m_Graph.Stop());
    EXPECT_EQ(0, LastInitResolution());
    for (const RecordedSample& sample : m_Graph.m_Sinks[0].Samples())
        EXPECT_TRUE(sample.showsPicture);

    m_Graph.Release();
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    EXPECT_EQ(800, ConnectedSize(m_Graph.m_Pins[0].get()).cx);
}

TEST_F(FrameProductionTest, SetFormatReconnectsAConnectedPinOnlyWhileStopped)
{
    StoreResolution(0);
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_Graph.m_Pins[0].queryInto(IID_IAMStreamConfig, config));
    ComPtr<IPin> peerBefore;
    ASSERT_EQ(S_OK, m_Graph.m_Pins[0]->ConnectedTo(peerBefore.put()));

    // The host picks the 800 x 600 entry: the pin reconnects to the same peer with it.
    AM_MEDIA_TYPE* small = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, config->GetStreamCaps(3, &small, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(S_OK, config->SetFormat(small));
    EXPECT_EQ(800, ConnectedSize(m_Graph.m_Pins[0].get()).cx);
    ComPtr<IPin> peerAfter;
    ASSERT_EQ(S_OK, m_Graph.m_Pins[0]->ConnectedTo(peerAfter.put()));
    EXPECT_EQ(peerBefore.get(), peerAfter.get());

    // While streaming, the connection is left alone.
    m_Graph.m_Sinks[0].SetPictureSize(800, 600);
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(1));
    AM_MEDIA_TYPE* full = nullptr;
    ASSERT_EQ(S_OK, config->GetStreamCaps(0, &full, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(VFW_E_NOT_STOPPED, config->SetFormat(full));
    EXPECT_EQ(800, ConnectedSize(m_Graph.m_Pins[0].get()).cx);
    const size_t count = m_Graph.m_Sinks[0].Count();
    EXPECT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(count + 2));
    EXPECT_EQ(S_OK, m_Graph.Stop());
    EXPECT_TRUE(m_Graph.m_Sinks[0].Samples().back().showsPicture);
    DeleteTypeRecord(small);
    DeleteTypeRecord(full);
}

TEST_F(FrameProductionTest, StopReturnsWhileDownstreamAsksThePinAboutTypes)
{
    StoreResolution(3);
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    IPin* pin = m_Graph.m_Pins[0].get();
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, m_Graph.m_Pins[0].queryInto(IID_IAMStreamConfig, config));

    SignalEvent receiving(true), stopping(true);
    std::atomic<int> answered(0);
    // As renderers do when they check a format, once Stop holds the filter
    // and waits for this thread.
    m_Graph.m_Sinks[0].SetDuringReceive([&] {
        receiving.Set();
        if (!stopping.Wait(10000)) return;
        Sleep(100);
        MediaTypeRecord type;
        if (pin->ConnectionMediaType(&type) == S_OK && pin->QueryAccept(&type) == S_OK) ++answered;
        ComPtr<IEnumMediaTypes> types;
        AM_MEDIA_TYPE* proposed = nullptr;
        if (SUCCEEDED(pin->EnumMediaTypes(types.put())) && types->Next(1, &proposed, nullptr) == S_OK) {
            DeleteTypeRecord(proposed);
            ++answered;
        }
        AM_MEDIA_TYPE* format = nullptr;
        if (config->GetFormat(&format) == S_OK) {
            DeleteTypeRecord(format);
            ++answered;
        }
    });
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(receiving.Wait(10000));

    std::atomic<bool> stopped(false);
    std::thread stopper([&] {
        m_Graph.Stop();
        stopped = true;
    });
    stopping.Set();
    if (!WaitUntil([&] { return stopped.load(); }, 15000)) {
        fprintf(stderr, "Stop still waits after 15 s: the graph is deadlocked\n");
        ExitProcess(3);
    }
    stopper.join();
    m_Graph.m_Sinks[0].SetDuringReceive(nullptr);
    EXPECT_EQ(3, answered.load());
}

// The capture pin's type as a host would set it: an offered size at a rate.
struct ChosenType {
    ChosenType(IPin* pin, int index, REFERENCE_TIME interval)
    {
        ComPtr<IAMStreamConfig> config;
        VIDEO_STREAM_CONFIG_CAPS caps;
        if (SUCCEEDED(pin->QueryInterface(IID_IAMStreamConfig, config.putVoid())))
            config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps));
        if (type) reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame = interval;
    }
    ~ChosenType() { DeleteTypeRecord(type); }
    AM_MEDIA_TYPE* type = nullptr;
};

HRESULT SetFormat(IPin* pin, AM_MEDIA_TYPE* type)
{
    ComPtr<IAMStreamConfig> config;
    RETURN_IF_FAILED(pin->QueryInterface(IID_IAMStreamConfig, config.putVoid()));
    return config->SetFormat(type);
}

REFERENCE_TIME ConnectedInterval(IPin* pin)
{
    MediaTypeRecord type;
    if (pin->ConnectionMediaType(&type) != S_OK || type.cbFormat < sizeof(VIDEOINFOHEADER)) return -1;
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat)->AvgTimePerFrame;
}

// 15 frames a second chosen by SetFormat, 5 by the type of the connection:
// the pin delivers every second (sixth) camera frame, evenly, and says so.
TEST_F(FrameProductionTest, ThePinDeliversTheFrameRateItsTypeAsksFor)
{
    struct Case {
        bool bySetFormat;
        REFERENCE_TIME interval;
        int framesApart;
    };
    for (const Case& c : {Case{true, 666666, 2}, Case{false, 2000000, 6}}) {
        SCOPED_TRACE(c.interval);
        ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
        ComPtr<IPin> pin;
        ASSERT_EQ(S_OK, m_Filter->FindPin(L"1", pin.put()));
        ChosenType small(pin.get(), 3, c.interval);
        ASSERT_NE(nullptr, small.type);
        if (c.bySetFormat) {
            ASSERT_EQ(S_OK, SetFormat(pin.get(), small.type));
            ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
        } else {
            ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1", small.type));
        }
        EXPECT_EQ(c.interval, ConnectedInterval(pin.get()));
        RecordingSink& sink = m_Graph.m_Sinks[0];
        sink.Clear();
        sink.SetPictureSize(800, 600);
        CaptureFor(3 * Second);

        const std::vector<RecordedSample> samples = sink.Samples();
        ASSERT_GE(samples.size(), 3u);
        ExpectEachFrameOnceWithoutOverlap(samples);
        const double rate = (samples.size() - 1) * double(Second) / (samples.back().start - samples.front().start);
        EXPECT_NEAR(1e7 / c.interval, rate, 0.1 * 1e7 / c.interval);
        // The square moves 8 columns a frame at 800 x 600, starting again on
        // the left after 726: the samples are so many frames apart.
        const int travel = 726;
        for (size_t i = 1; i < samples.size(); ++i) {
            const int moved = (samples[i].squareColumn - samples[i - 1].squareColumn + travel) % travel;
            EXPECT_EQ(8 * c.framesApart, moved) << i;
        }
        LONG dropped = -1;
        ComPtr<IAMDroppedFrames> counts;
        ASSERT_EQ(S_OK, pin.queryInto(IID_IAMDroppedFrames, counts));
        EXPECT_EQ(S_OK, counts->GetNumDropped(&dropped));
        EXPECT_EQ(0, dropped);
        m_Graph.Release();
    }
}

// The counts are the pin's own: frames it delivered, and frames its rate
// wanted that went by while downstream was still busy.
TEST_F(FrameProductionTest, DroppedFramesAreTheOnesASlowSinkMissed)
{
    ASSERT_NO_FATAL_FAILURE(ConnectBothPinsAt(3));
    m_Graph.m_Sinks[0].SetDuringReceive([] { Sleep(100); });
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(15));
    ASSERT_EQ(S_OK, m_Graph.Stop());

    LONG dropped[2] = {-1, -1}, delivered[2] = {-1, -1};
    for (int pin = 0; pin < 2; ++pin) {
        ComPtr<IAMDroppedFrames> counts;
        ASSERT_EQ(S_OK, m_Graph.m_Pins[pin].queryInto(IID_IAMDroppedFrames, counts));
        ASSERT_EQ(S_OK, counts->GetNumDropped(&dropped[pin]));
        ASSERT_EQ(S_OK, counts->GetNumNotDropped(&delivered[pin]));
    }
    EXPECT_EQ(static_cast<LONG>(m_Graph.m_Sinks[0].Count()), delivered[0]);
    // About two of every three frames went by during each 100 ms delivery.
    const LONG made = dropped[0] + delivered[0];
    EXPECT_GT(dropped[0], delivered[0]);
    EXPECT_LE(made, m_Object->Camera()->m_FramesReceived);
    // The preview kept up, and counts only distinct frames.
    EXPECT_LE(dropped[1], delivered[1] / 10);
    EXPECT_GT(delivered[1], delivered[0]);
    m_Graph.m_Sinks[0].SetDuringReceive(nullptr);
}

// A host's SetFormat is that pin's choice only: the other pin, the settings
// file and the next filter keep the stored resolution.
TEST_F(FrameProductionTest, EachPinAndEachFilterConnectsAtItsOwnChoice)
{
    StoreResolution(2);
    const std::vector<unsigned char> stored = ReadWholeFile(m_Temp.Path() + "Brisca Camera.config");
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ComPtr<IPin> capture, preview;
    ASSERT_EQ(S_OK, m_Filter->FindPin(L"1", capture.put()));
    ASSERT_EQ(S_OK, m_Filter->FindPin(L"2", preview.put()));
    ChosenType small(capture.get(), 3, 0), large(preview.get(), 1, 0);
    ASSERT_EQ(S_OK, SetFormat(capture.get(), small.type));
    ASSERT_EQ(S_OK, SetFormat(preview.get(), large.type));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"2"));
    EXPECT_EQ(800, ConnectedSize(capture.get()).cx);
    EXPECT_EQ(1600, ConnectedSize(preview.get()).cx);
    EXPECT_EQ(stored, ReadWholeFile(m_Temp.Path() + "Brisca Camera.config"));
    m_Graph.Release();

    HRESULT created = E_FAIL;
    ObjectBase* object = CameraFilter::Create(nullptr, &created);
    ASSERT_NE(nullptr, object);
    ComPtr<IBaseFilter> next;
    ASSERT_EQ(S_OK, object->InnerQueryInterface(IID_IBaseFilter, next.putVoid()));
    GraphFixture other;
    ASSERT_EQ(S_OK, other.Create(next.get()));
    ASSERT_EQ(S_OK, other.ConnectPin(L"1"));
    EXPECT_EQ(1280, ConnectedSize(other.m_Pins[0].get()).cx);
    other.Release();
}

// A host may connect with any type the pin lists as a capability.
TEST_F(FrameProductionTest, EveryCapabilityTypeConnectsAndDeliversItsPicture)
{
    ComPtr<IPin> pin;
    ASSERT_EQ(S_OK, m_Filter->FindPin(L"1", pin.put()));
    for (int index = 0; index < 5; ++index) {
        SCOPED_TRACE(index);
        ChosenType entry(pin.get(), index, CameraFrameInterval);
        ASSERT_NE(nullptr, entry.type);
        const BITMAPINFOHEADER& header = reinterpret_cast<VIDEOINFOHEADER*>(entry.type->pbFormat)->bmiHeader;
        EXPECT_EQ(S_OK, pin->QueryAccept(entry.type));
        ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
        ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1", entry.type));
        EXPECT_EQ(header.biWidth, ConnectedSize(pin.get()).cx);
        RecordingSink& sink = m_Graph.m_Sinks[0];
        sink.Clear();
        sink.SetPictureSize(header.biWidth, header.biHeight);
        ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
        ASSERT_TRUE(sink.WaitForSamples(2));
        ASSERT_EQ(S_OK, m_Graph.Stop());
        for (const RecordedSample& sample : sink.Samples())
            EXPECT_TRUE(sample.showsPicture);
        m_Graph.Release();
    }
}

// Recording starts and stops at stream times while the preview streams on;
// the graph hears of both, with the host's cookies.
TEST_F(FrameProductionTest, StreamControlMakesARecordingWindowWithItsEvents)
{
    ASSERT_NO_FATAL_FAILURE(ConnectBothPinsAt(3));
    ComPtr<IAMStreamControl> control;
    ASSERT_EQ(S_OK, m_Graph.m_Pins[0].queryInto(IID_IAMStreamControl, control));
    const REFERENCE_TIME start = Second / 2, stop = 3 * Second / 2;
    ASSERT_EQ(S_OK, control->StartAt(&start, 41));
    ASSERT_EQ(S_OK, control->StopAt(&stop, FALSE, 42));
    ComPtr<IMediaEventEx> events;
    ASSERT_EQ(S_OK, m_Graph.m_Graph.queryInto(IID_IMediaEventEx, events));

    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    std::vector<std::pair<long, LONG_PTR>> heard;
    const DWORD began = GetTickCount();
    while (heard.size() < 2 && GetTickCount() - began < 10000) {
        long code = 0;
        LONG_PTR first = 0, second = 0;
        if (events->GetEvent(&code, &first, &second, 100) != S_OK) continue;
        if (code == EC_STREAM_CONTROL_STARTED || code == EC_STREAM_CONTROL_STOPPED) {
            EXPECT_EQ(reinterpret_cast<LONG_PTR>(m_Graph.m_Pins[0].get()), first);
            heard.push_back({code, second});
        }
        events->FreeEventParams(code, first, second);
    }
    const size_t previewBefore = m_Graph.m_Sinks[1].Count();
    EXPECT_TRUE(m_Graph.m_Sinks[1].WaitForSamples(previewBefore + 5));
    ASSERT_EQ(S_OK, m_Graph.Stop());

    using Heard = std::vector<std::pair<long, LONG_PTR>>;
    EXPECT_EQ((Heard{{EC_STREAM_CONTROL_STARTED, 41}, {EC_STREAM_CONTROL_STOPPED, 42}}), heard);
    const std::vector<RecordedSample> recorded = m_Graph.m_Sinks[0].Samples();
    ASSERT_FALSE(recorded.empty());
    EXPECT_NEAR(30.0, double(recorded.size()), 4.0);
    for (const RecordedSample& sample : recorded) {
        EXPECT_GE(sample.start, start);
        EXPECT_LT(sample.start, stop);
    }
}

TEST_F(FrameProductionTest, ASecondFilterCannotTakeTheCameraFromTheFirst)
{
    StoreResolution(3);
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    m_Graph.m_Sinks[0].SetPictureSize(800, 600);

    HRESULT created = E_FAIL;
    ObjectBase* object = CameraFilter::Create(nullptr, &created);
    ASSERT_NE(nullptr, object);
    ComPtr<IBaseFilter> other;
    ASSERT_EQ(S_OK, object->InnerQueryInterface(IID_IBaseFilter, other.putVoid()));
    GraphFixture second;
    StoreResolution(0);
    ASSERT_EQ(S_OK, second.Create(other.get()));
    ASSERT_EQ(S_OK, second.ConnectPin(L"1"));

    SimClearCalls();
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(3));
    {
        MessageBoxWatcher watcher;
        EXPECT_NE(S_OK, second.Run());
        OAFilterState state;
        EXPECT_EQ(E_FAIL, second.m_Control->GetState(5000, &state));
        EXPECT_EQ(std::vector<std::string>{"Camera init failed!"}, watcher.ClosedTexts());
        second.StopEveryFilter();
        second.Stop();
    }
    EXPECT_EQ(1, SimCallCount("CameraInit"));
    EXPECT_EQ(0u, second.m_Sinks[0].Count());

    // The first filter streams on, unharmed.
    const LONG received = m_Object->Camera()->m_FramesReceived;
    const size_t delivered = m_Graph.m_Sinks[0].Count();
    EXPECT_TRUE(m_Graph.m_Sinks[0].WaitForSamples(delivered + 10));
    EXPECT_TRUE(WaitUntil([&] { return m_Object->Camera()->m_FramesReceived > received + 5; }));
    EXPECT_TRUE(m_Graph.m_Sinks[0].Samples().back().showsPicture);
    ASSERT_EQ(S_OK, m_Graph.Stop());

    // Once it has let go, the second one starts.
    ASSERT_TRUE(SUCCEEDED(second.Run()));
    EXPECT_TRUE(second.m_Sinks[0].WaitForSamples(2));
    EXPECT_EQ(S_OK, second.Stop());
    EXPECT_TRUE(second.m_Sinks[0].Samples().back().showsPicture);
    second.Release();
}

} // namespace
