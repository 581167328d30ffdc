#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "camera/CCamera.h"
#include "camera/SettingsFile.h"
#include "sdk/QuillonSim.h"
#include "tests/support/IsolatedTempDirectory.h"
#include "tests/support/ProcessCounters.h"
#include "tests/support/SimCallLog.h"
#include "tests/support/SimPicture.h"

namespace {

using Names = std::vector<std::string>;

const int FullWidth = 3032;
const int FullHeight = 2016;
const int FullFrameBytes = FullWidth * FullHeight * 3;

class CCameraTest : public testing::Test {
  protected:
    void SetUp() override { SimReset(); }
    void TearDown() override { SimReset(); }

    static bool WaitForFrames(CCamera& camera, LONG count)
    {
        return WaitUntil([&] { return camera.m_FramesReceived >= count; });
    }

    // Stops the simulated frames and waits until the frame messages already
    // posted have arrived, so that the controller's frame stays the same.
    static bool PauseFrames(CCamera& camera)
    {
        SimPauseFrames(1);
        LONG seen = -1;
        return WaitUntil([&] {
            const LONG now = camera.m_FramesReceived;
            if (now == seen) return true;
            seen = now;
            Sleep(200);
            return false;
        });
    }

    // Opens, plays until a frame arrived, stops and closes.
    static void RunOneCycle(CCamera& camera)
    {
        ASSERT_EQ(1, camera.Open());
        ASSERT_EQ(1, camera.Play());
        ASSERT_TRUE(WaitForFrames(camera, camera.m_FramesReceived + 1));
        EXPECT_EQ(1, camera.Stop());
        EXPECT_EQ(1, camera.Close());
    }

    static const QuillonSimCall* LastCall(const std::vector<QuillonSimCall>& calls, const char* name)
    {
        const QuillonSimCall* found = nullptr;
        for (const QuillonSimCall& call : calls)
            if (strcmp(call.function, name) == 0) found = &call;
        return found;
    }

    std::string SettingsPath() const { return m_Temp.Path() + "Brisca Camera.config"; }

    IsolatedTempDirectory m_Temp;
};

TEST_F(CCameraTest, OpenPlayStopCloseCallTheLibraryInOrder)
{
    CCamera camera;
    ASSERT_EQ(1, camera.Open());
    EXPECT_EQ(1, camera.m_Opened);
    EXPECT_TRUE(IsWindow(camera.m_Window));
    EXPECT_FALSE(IsWindowVisible(camera.m_Window));
    EXPECT_EQ(FullWidth, camera.m_Width);
    EXPECT_EQ(FullHeight, camera.m_Height);
    EXPECT_EQ(FullFrameBytes, camera.m_OutFrameBytes);
    const HWND window = camera.m_Window;
    const DWORD windowThread = GetWindowThreadProcessId(window, nullptr);
    EXPECT_NE(GetCurrentThreadId(), windowThread);

    ASSERT_EQ(1, camera.Play());
    EXPECT_EQ(1, camera.m_Playing);
    ASSERT_TRUE(WaitForFrames(camera, 3));
    EXPECT_EQ(1, camera.Stop());
    EXPECT_EQ(1, camera.Close());
    EXPECT_EQ(0, camera.m_Opened);
    EXPECT_EQ(nullptr, camera.m_Window);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(0, SimIsInitialised());

    const Names streaming =
        SimCallNamesAmong({"CameraInit", "CameraGetImageSize", "CameraPlay", "CameraStop", "CameraUnInit"});
    EXPECT_EQ((Names{"CameraInit", "CameraGetImageSize", "CameraPlay", "CameraStop", "CameraUnInit"}),
              streaming);

    const std::vector<QuillonSimCall> calls = SimCallRecords();
    const QuillonSimCall* init = LastCall(calls, "CameraInit");
    ASSERT_NE(nullptr, init);
    EXPECT_EQ(0, init->args[1]);
    EXPECT_EQ(static_cast<long long>(reinterpret_cast<INT_PTR>(window)), init->args[2]);
    EXPECT_EQ(init->args[2], init->args[3]);
    // Frames are pulled on the window's thread, only while the camera plays.
    bool playing = false;
    int pulls = 0;
    for (const QuillonSimCall& call : calls) {
        const std::string name = call.function;
        if (name == "CameraPlay") playing = true;
        if (name == "CameraStop") playing = false;
        if (name == "CameraGetImageDataRGB24") {
            ++pulls;
            EXPECT_TRUE(playing);
            EXPECT_EQ(windowThread, call.threadId);
        }
    }
    EXPECT_GE(pulls, 3);
}

TEST_F(CCameraTest, OpenOnAnOpenCameraStartsNothing)
{
    CCamera camera;
    ASSERT_EQ(1, camera.Open());
    const HWND window = camera.m_Window;
    const int threads = ProcessThreadCount();
    const DWORD handles = ProcessHandleCount();
    EXPECT_EQ(1, camera.Open());
    EXPECT_EQ(window, camera.m_Window);
    EXPECT_EQ(threads, ProcessThreadCount());
    EXPECT_EQ(handles, ProcessHandleCount());
    EXPECT_EQ(1, SimCallCount("CameraInit"));
}

TEST_F(CCameraTest, RepeatedCyclesLeaveNoThreadsOrHandles)
{
    {
        CCamera warmUp; // the first window of a process sets up per-process state
        RunOneCycle(warmUp);
    }
    // The library and the runtime may keep a helper thread or handle of their
    // own for a while; a leak of the controller grows by one or more each cycle.
    const int Cycles = 10;
    const int Slack = 2;
    const int threads = ProcessThreadCount();
    const DWORD handles = ProcessHandleCount();
    CCamera camera;
    for (int i = 0; i < Cycles; ++i) {
        SCOPED_TRACE(i);
        RunOneCycle(camera);
    }
    EXPECT_TRUE(WaitUntil([&] { return ProcessThreadCount() <= threads + Slack; }))
        << threads << " before, " << ProcessThreadCount() << " after";
    EXPECT_TRUE(WaitUntil([&] { return ProcessHandleCount() <= handles + Slack; }))
        << handles << " before, " << ProcessHandleCount() << " after";
}

TEST_F(CCameraTest, DestroyingAnOpenPlayingCameraEndsItsThread)
{
    {
        CCamera warmUp;
        RunOneCycle(warmUp);
    }
    const int threads = ProcessThreadCount();
    HWND window;
    {
        CCamera camera;
        ASSERT_EQ(1, camera.Open());
        ASSERT_EQ(1, camera.Play());
        ASSERT_TRUE(WaitForFrames(camera, 1));
        window = camera.m_Window;
    }
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(0, SimIsInitialised());
    EXPECT_TRUE(WaitUntil([&] { return ProcessThreadCount() <= threads; }))
        << threads << " before, " << ProcessThreadCount() << " after";
}

TEST_F(CCameraTest, FramesReachBothCopiesWithThePicture)
{
    CCamera camera;
    ASSERT_EQ(1, camera.Open());
    ASSERT_EQ(1, camera.Play());
    ASSERT_TRUE(WaitForFrames(camera, 2));

    EXPECT_EQ(FullFrameBytes, camera.CopyFrameNow(nullptr, 0));
    EXPECT_EQ(FullFrameBytes, camera.CopyFrameWait(nullptr, 0));
    EXPECT_EQ(0, camera.m_FramesDelivered);

    std::vector<unsigned char> frame(FullFrameBytes);
    EXPECT_EQ(0, camera.CopyFrameNow(frame.data(), FullFrameBytes));
    EXPECT_TRUE(ShowsSimPicture(frame.data(), FullWidth, FullHeight));
    EXPECT_EQ(1, camera.m_FramesDelivered);

    std::vector<unsigned char> waited(FullFrameBytes);
    EXPECT_EQ(0, camera.CopyFrameWait(waited.data(), FullFrameBytes));
    EXPECT_TRUE(ShowsSimPicture(waited.data(), FullWidth, FullHeight));
    EXPECT_EQ(1, camera.m_FramesDelivered);
}

TEST_F(CCameraTest, CopyFrameWaitRepeatsThePreviousFrameAfterHalfASecond)
{
    CCamera camera;
    ASSERT_EQ(1, camera.Open());
    ASSERT_EQ(1, camera.Play());
    ASSERT_TRUE(WaitForFrames(camera, 2));
    ASSERT_TRUE(PauseFrames(camera)) << "frames still arrive while paused";
    const LONG settled = camera.m_FramesReceived;
    std::vector<unsigned char> previous(FullFrameBytes);
    camera.CopyFrameWait(previous.data(), FullFrameBytes);

    std::vector<unsigned char> repeated(FullFrameBytes, 0xCD);
    const DWORD start = GetTickCount();
    EXPECT_EQ(0, camera.CopyFrameWait(repeated.data(), FullFrameBytes));
    const DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 450u);
    EXPECT_TRUE(repeated == previous);
    EXPECT_TRUE(ShowsSimPicture(repeated.data(), FullWidth, FullHeight));

    // A new frame ends the wait.
    SimPauseFrames(0);
    ASSERT_TRUE(WaitForFrames(camera, settled + 1));
    std::vector<unsigned char> fresh(FullFrameBytes);
    EXPECT_EQ(0, camera.CopyFrameWait(fresh.data(), FullFrameBytes));
    EXPECT_TRUE(ShowsSimPicture(fresh.data(), FullWidth, FullHeight));
}

TEST_F(CCameraTest, CopiesNeverWriteBeyondTheDestination)
{
    CCamera camera;
    ASSERT_EQ(1, camera.Open());
    ASSERT_EQ(1, camera.Play());
    ASSERT_TRUE(WaitForFrames(camera, 1));
    ASSERT_TRUE(PauseFrames(camera)) << "frames still arrive while paused";

    std::vector<unsigned char> whole(FullFrameBytes);
    camera.CopyFrameNow(whole.data(), FullFrameBytes);

    const int Guard = 64;
    for (int size : {0, -5, 1, 100, FullFrameBytes - 1, FullFrameBytes, FullFrameBytes + 1000}) {
        SCOPED_TRACE(size);
        const int held = size > 0 ? size : 0;
        for (bool wait : {false, true}) {
            std::vector<unsigned char> buffer(held + Guard, 0xCD);
            const int result =
                wait ? camera.CopyFrameWait(buffer.data(), size) : camera.CopyFrameNow(buffer.data(), size);
            EXPECT_EQ(0, result);
            const int copied = held < FullFrameBytes ? held : FullFrameBytes;
            EXPECT_EQ(0, memcmp(buffer.data(), whole.data(), copied));
            for (size_t i = copied; i < buffer.size(); ++i) {
                if (buffer[i] != 0xCD) {
                    ADD_FAILURE() << "byte " << i << " written";
                    break;
                }
            }
        }
    }
}

TEST_F(CCameraTest, CopiesWriteNothingWithoutAFrameBuffer)
{
    CCamera camera;
    std::vector<unsigned char> buffer(64, 0xCD);
    EXPECT_EQ(0, camera.CopyFrameNow(nullptr, 64));
    EXPECT_EQ(0, camera.CopyFrameNow(buffer.data(), 64));
    EXPECT_EQ(0, camera.CopyFrameWait(buffer.data(), 64));
    EXPECT_EQ(std::vector<unsigned char>(64, 0xCD), buffer);
}

TEST_F(CCameraTest, CopiesAfterCloseStillHandOutTheLastFrame)
{
    CCamera camera;
    RunOneCycle(camera);
    std::vector<unsigned char> frame(FullFrameBytes);
    const DWORD start = GetTickCount();
    EXPECT_EQ(0, camera.CopyFrameWait(frame.data(), FullFrameBytes));
    EXPECT_LT(GetTickCount() - start, 450u) << "a closed camera has no frame to wait for";
    EXPECT_TRUE(ShowsSimPicture(frame.data(), FullWidth, FullHeight));
}

// Close must not hold the lock while the window thread, pulling a slow frame
// or waiting for the lock with more frames queued, is told to end.
TEST_F(CCameraTest, CloseDuringSlowFramesDoesNotDeadlock)
{
    CCamera camera;
    SimSetFrameRate(60);
    SimSetPullDelay(100);
    ASSERT_EQ(1, camera.Open());
    ASSERT_EQ(1, camera.Play());
    ASSERT_TRUE(WaitForFrames(camera, 2));
    const HWND window = camera.m_Window;

    struct Closer {
        static DWORD WINAPI Run(void* camera)
        {
            static_cast<CCamera*>(camera)->Stop();
            static_cast<CCamera*>(camera)->Close();
            return 0;
        }
    };
    UniqueHandle closer(CreateThread(nullptr, 0, Closer::Run, &camera, 0, nullptr));
    ASSERT_TRUE(closer);
    if (WaitForSingleObject(closer.get(), 10000) != WAIT_OBJECT_0) {
        ADD_FAILURE() << "Close did not return within 10 s";
        TerminateProcess(GetCurrentProcess(), 3);
    }
    EXPECT_EQ(0, camera.m_Opened);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(CCameraTest, FailedOpenLeavesNothingBehind)
{
    {
        CCamera warmUp;
        RunOneCycle(warmUp);
    }
    struct Case {
        const char* name;
        void(__stdcall* fail)(int);
        bool initialised; // whether the library was initialised before the failure
    };
    const Case cases[] = {{"init", SimFailInit, false}, {"image size", SimFailImageSize, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int threads = ProcessThreadCount();
        const DWORD handles = ProcessHandleCount();
        CCamera camera;
        SimClearCalls();
        c.fail(1);
        EXPECT_EQ(CCamera::OpenFailed, camera.Open());
        EXPECT_EQ(0, camera.m_Opened);
        EXPECT_EQ(nullptr, camera.m_Window);
        EXPECT_EQ(0, SimIsInitialised());
        EXPECT_EQ(c.initialised ? 1 : 0, SimCallCount("CameraUnInit"));
        EXPECT_TRUE(WaitUntil([&] { return ProcessThreadCount() <= threads; }))
            << threads << " before, " << ProcessThreadCount() << " after";
        EXPECT_TRUE(WaitUntil([&] { return ProcessHandleCount() <= handles; }))
            << handles << " before, " << ProcessHandleCount() << " after";

        // The next opening works.
        RunOneCycle(camera);
    }
}

TEST_F(CCameraTest, CloseWithoutStopLetsTheNextOpenPlay)
{
    CCamera camera;
    ASSERT_EQ(1, camera.Open());
    ASSERT_EQ(1, camera.Play());
    ASSERT_TRUE(WaitForFrames(camera, 1));
    ASSERT_EQ(1, camera.Close());
    ASSERT_EQ(1, camera.Open());
    ASSERT_EQ(1, camera.Play());
    EXPECT_EQ(2, SimCallCount("CameraPlay"));
    const LONG before = camera.m_FramesReceived;
    EXPECT_TRUE(WaitForFrames(camera, before + 2));
}

TEST_F(CCameraTest, PlayStopAndCloseTestTheirFlags)
{
    CCamera camera;
    EXPECT_EQ(1, camera.Stop());
    EXPECT_EQ(1, camera.Close());
    EXPECT_EQ(0, SimCallCount("CameraStop"));
    EXPECT_EQ(0, SimCallCount("CameraUnInit"));

    ASSERT_EQ(1, camera.Open());
    SimFailPlay(1);
    EXPECT_EQ(0, camera.Play()); // the library's answer, but the flag stays set
    EXPECT_EQ(1, camera.m_Playing);
    EXPECT_EQ(1, camera.Play());
    EXPECT_EQ(1, SimCallCount("CameraPlay"));
    EXPECT_EQ(1, camera.Stop());
    EXPECT_EQ(1, SimCallCount("CameraStop"));
    EXPECT_EQ(1, camera.Stop());
    EXPECT_EQ(1, SimCallCount("CameraStop"));
}

TEST_F(CCameraTest, OpenPassesOnlyKnownResolutionsToTheLibrary)
{
    struct Case {
        unsigned char stored;
        long long passed;
    };
    for (const Case& c : {Case{0, 0}, Case{2, 2}, Case{3, 3}, Case{4, 0}, Case{255, 0}}) {
        SCOPED_TRACE(int(c.stored));
        CCamera camera;
        camera.m_Config.m_Format.m_Resolution = c.stored;
        SimClearCalls();
        ASSERT_EQ(1, camera.Open());
        const std::vector<QuillonSimCall> calls = SimCallRecords();
        const QuillonSimCall* init = LastCall(calls, "CameraInit");
        ASSERT_NE(nullptr, init);
        EXPECT_EQ(c.passed, init->args[1]);
        EXPECT_EQ(c.stored, camera.m_Config.m_Format.m_Resolution);
        EXPECT_EQ(c.stored, ReadWholeFile(SettingsPath()).at(0));
        EXPECT_EQ(1, camera.Close());
    }
}

TEST_F(CCameraTest, OpenAtAResolutionLeavesTheStoredOneAlone)
{
    CCamera camera;
    camera.m_Config.m_Format.m_Resolution = 1;
    for (int resolution : {3, 2, 0}) {
        SCOPED_TRACE(resolution);
        SimClearCalls();
        ASSERT_EQ(1, camera.Open(resolution));
        const QuillonSimCall* init = LastCall(SimCallRecords(), "CameraInit");
        ASSERT_NE(nullptr, init);
        EXPECT_EQ(resolution, init->args[1]);
        const PictureLayout layout = camera.FrameLayout();
        EXPECT_EQ(CameraResolutions[resolution].width, layout.width);
        EXPECT_EQ(CameraResolutions[resolution].height, layout.height);
        EXPECT_EQ(1, camera.m_Config.m_Format.m_Resolution);
        EXPECT_EQ(1, camera.Close());
    }
}

// The library drives one camera for the whole process.
TEST_F(CCameraTest, OnlyOneControllerHoldsTheCameraAtATime)
{
    CCamera first, second;
    ASSERT_EQ(1, first.Open(3));
    ASSERT_EQ(1, first.Play());
    SimClearCalls();
    EXPECT_EQ(CCamera::OpenFailed, second.Open(0));
    EXPECT_EQ(0, SimCallCount("CameraInit"));
    EXPECT_EQ(0, second.m_Opened);

    // The first one keeps its frames, whole and of its own size.
    const LONG received = first.m_FramesReceived;
    ASSERT_TRUE(WaitForFrames(first, received + 3));
    std::vector<unsigned char> frame(800 * 600 * 3);
    EXPECT_NE(0, first.CopyLatestFrame(PictureLayout::Video(800, 600), frame.data(), frame.size()));
    EXPECT_TRUE(ShowsSimPicture(frame.data(), 800, 600));
    EXPECT_EQ(0, second.m_FramesReceived);

    EXPECT_EQ(1, first.Stop());
    EXPECT_EQ(1, first.Close());
    {
        // A holder destroyed while open lets go too.
        CCamera dropped;
        ASSERT_EQ(1, dropped.Open(0));
    }
    ASSERT_EQ(1, second.Open(0));
    ASSERT_EQ(1, second.Play());
    EXPECT_TRUE(WaitForFrames(second, 1));
    EXPECT_EQ(1, second.Close());
}

TEST_F(CCameraTest, TheLatestFrameIsCopiedOnlyOnceOneArrived)
{
    CCamera camera;
    SimPauseFrames(1);
    ASSERT_EQ(1, camera.Open(3));
    ASSERT_EQ(1, camera.Play());
    std::vector<unsigned char> picture(800 * 600 * 3, 0xCD);
    const PictureLayout layout = PictureLayout::Video(800, 600);
    EXPECT_EQ(0, camera.CopyLatestFrame(layout, picture.data(), picture.size()));
    EXPECT_FALSE(camera.WaitForFrameAfter(0, 100));
    EXPECT_EQ(std::vector<unsigned char>(picture.size(), 0xCD), picture);

    SimPauseFrames(0);
    ASSERT_TRUE(camera.WaitForFrameAfter(0, 5000));
    const LONG first = camera.CopyLatestFrame(layout, picture.data(), picture.size());
    EXPECT_GE(first, 1);
    EXPECT_TRUE(ShowsSimPicture(picture.data(), 800, 600));
    ASSERT_TRUE(camera.WaitForFrameAfter(first, 5000));
    EXPECT_GT(camera.CopyLatestFrame(layout, picture.data(), picture.size()), first);

    // A waiter learns at once that a closing camera sends nothing more.
    const LONG last = camera.FrameSequence();
    SimPauseFrames(1);
    std::thread closer([&camera] {
        Sleep(200);
        camera.Close();
    });
    const DWORD started = GetTickCount();
    camera.WaitForFrameAfter(last + 1000, 10000);
    EXPECT_LT(GetTickCount() - started, 5000u);
    closer.join();
}

TEST_F(CCameraTest, OpenRewritesTheSettingsFileAndSendsNoSetting)
{
    CCamera camera;
    ASSERT_EQ(1, camera.Open());
    EXPECT_EQ(51u, ReadWholeFile(SettingsPath()).size());
    EXPECT_TRUE(SimCallsStartingWith("CameraSet").empty());
}

TEST_F(CCameraTest, SetConfigSendsEachChangedSettingInOrder)
{
    struct Case {
        const char* name;
        std::function<void(CameraConfig&)> change;
        Names calls;
    };
    const Case cases[] = {
        {"nothing", [](CameraConfig&) {}, {}},
        {"AE state", [](CameraConfig& r) { r.m_AeState = 0; }, {"CameraSetAeState"}},
        {"AE target", [](CameraConfig& r) { r.m_Target = 90; }, {"CameraSetAeTarget"}},
        {"analog gain", [](CameraConfig& r) { r.m_AnalogGain = 41; }, {"CameraSetAnalogGain"}},
        {"exposure", [](CameraConfig& r) { r.m_ExposureTime = 300; }, {"CameraSetExposureTime"}},
        {"red gain", [](CameraConfig& r) { r.m_RedGain = 70; }, {"CameraSetGain"}},
        {"green gain", [](CameraConfig& r) { r.m_GreenGain = 70; }, {"CameraSetGain"}},
        {"blue gain", [](CameraConfig& r) { r.m_BlueGain = 70; }, {"CameraSetGain"}},
        {"gamma", [](CameraConfig& r) { r.m_Gamma = 100; }, {"CameraSetGamma"}},
        {"contrast", [](CameraConfig& r) { r.m_Contrast = 5; }, {"CameraSetContrast"}},
        {"saturation", [](CameraConfig& r) { r.m_Saturation = 5; }, {"CameraSetSaturation"}},
        {"colour enhancement",
         [](CameraConfig& r) { r.m_ColorEnhancement = 0; },
         {"CameraSetColorEnhancement"}},
        {"format value only", [](CameraConfig& r) { r.m_Format.m_FormatValue = 9; }, {}},
        {"all",
         [](CameraConfig& r) {
             r.m_ColorEnhancement = 0;
             r.m_Saturation = 1;
             r.m_Contrast = 1;
             r.m_Gamma = 1;
             r.m_RedGain = r.m_GreenGain = r.m_BlueGain = 1;
             r.m_ExposureTime = 1;
             r.m_AnalogGain = 1;
             r.m_Target = 1;
             r.m_AeState = 0;
         },
         {"CameraSetAeState", "CameraSetAeTarget", "CameraSetAnalogGain", "CameraSetExposureTime",
          "CameraSetGain", "CameraSetGamma", "CameraSetContrast", "CameraSetSaturation",
          "CameraSetColorEnhancement"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CCamera camera;
        CameraConfig record;
        c.change(record);
        DeleteFileA(SettingsPath().c_str());
        SimClearCalls();
        EXPECT_EQ(1, camera.SetConfig(record));
        Names sent;
        for (const QuillonSimCall& call : SimCallsStartingWith("CameraSet"))
            sent.emplace_back(call.function);
        EXPECT_EQ(c.calls, sent);
        EXPECT_EQ(record.m_RedGain, camera.m_Config.m_RedGain);
        EXPECT_EQ(record.m_Format.m_FormatValue, camera.m_Config.m_Format.m_FormatValue);
        EXPECT_EQ(record.m_AeState, camera.m_Config.m_AeState);
        // Every call rewrites the file, also one that changes nothing.
        EXPECT_EQ(51u, ReadWholeFile(SettingsPath()).size());
    }
}

TEST_F(CCameraTest, SetConfigSendsAllThreeGainsWhenAnyChanges)
{
    CCamera camera;
    CameraConfig record;
    record.m_GreenGain = 77;
    SimClearCalls();
    camera.SetConfig(record);
    const std::vector<QuillonSimCall> gains = SimCallsStartingWith("CameraSetGain");
    ASSERT_EQ(1u, gains.size());
    EXPECT_EQ(100, gains[0].args[0]);
    EXPECT_EQ(77, gains[0].args[1]);
    EXPECT_EQ(88, gains[0].args[2]);
}

TEST_F(CCameraTest, SetConfigWithANewResolutionOnlyStoresIt)
{
    CCamera camera;
    CameraConfig record;
    record.m_Format.m_Resolution = 2;
    record.m_RedGain = 70;
    record.m_Gamma = 90;
    SimClearCalls();
    EXPECT_EQ(1, camera.SetConfig(record));
    EXPECT_TRUE(SimCallsStartingWith("Camera").empty());
    EXPECT_EQ(2, camera.m_Config.m_Format.m_Resolution);
    EXPECT_EQ(70u, camera.m_Config.m_RedGain);
    EXPECT_EQ(90, camera.m_Config.m_Gamma);
    EXPECT_EQ(2, ReadWholeFile(SettingsPath()).at(0));

    ASSERT_EQ(1, camera.Open());
    const std::vector<QuillonSimCall> calls = SimCallRecords();
    const QuillonSimCall* init = LastCall(calls, "CameraInit");
    ASSERT_NE(nullptr, init);
    EXPECT_EQ(2, init->args[1]);
}

TEST_F(CCameraTest, GetConfigTakesSettingsFromTheCameraAndFormatFromTheCaller)
{
    CameraSetGain(70, 71, 72);
    CameraSetGamma(99);
    CCamera camera;
    CameraConfig record;
    record.m_Format.m_Resolution = 3;
    record.m_Format.m_FormatValue = 77;
    for (unsigned int& word : record.m_Format.m_FormatWords)
        word = 5;
    record.m_RedGain = record.m_GreenGain = record.m_BlueGain = 1;
    record.m_Saturation = 3;

    EXPECT_EQ(1, camera.GetConfig(record));
    EXPECT_EQ(3, record.m_Format.m_Resolution);
    EXPECT_EQ(77u, record.m_Format.m_FormatValue);
    for (unsigned int word : record.m_Format.m_FormatWords)
        EXPECT_EQ(0u, word);
    EXPECT_EQ(70u, record.m_RedGain);
    EXPECT_EQ(71u, record.m_GreenGain);
    EXPECT_EQ(72u, record.m_BlueGain);
    EXPECT_EQ(99, record.m_Gamma);
    EXPECT_EQ(128, record.m_Saturation);
    EXPECT_EQ(1, record.m_AeState);
    EXPECT_EQ(100, record.m_Target);
    EXPECT_EQ(40, record.m_AnalogGain);
    EXPECT_EQ(20u, record.m_ExposureTime);
    EXPECT_EQ(0, record.m_Contrast);
    EXPECT_EQ(1, record.m_ColorEnhancement);
    EXPECT_EQ(3, camera.m_Config.m_Format.m_Resolution);
    EXPECT_EQ(70u, camera.m_Config.m_RedGain);
    EXPECT_EQ(Names({"CameraGetAeState", "CameraGetAeTarget", "CameraGetAnalogGain", "CameraGetExposureTime",
                     "CameraGetGain", "CameraGetGamma", "CameraGetContrast", "CameraGetSaturation",
                     "CameraGetColorEnhancement"}),
              [] {
                  Names got;
                  for (const QuillonSimCall& call : SimCallsStartingWith("CameraGet"))
                      got.emplace_back(call.function);
                  return got;
              }());
}

TEST_F(CCameraTest, GetConfigTakesTheResolutionFromTheFile)
{
    CameraConfig stored;
    stored.m_Format.m_Resolution = 2;
    stored.m_Format.m_FormatValue = 5;
    ASSERT_EQ(1, WriteSettingsFile(stored));
    CCamera camera;
    CameraConfig record;
    camera.GetConfig(record);
    EXPECT_EQ(2, record.m_Format.m_Resolution);
    EXPECT_EQ(5u, record.m_Format.m_FormatValue);

    SimClearCalls();
    ASSERT_EQ(1, camera.Open());
    const std::vector<QuillonSimCall> calls = SimCallRecords();
    const QuillonSimCall* init = LastCall(calls, "CameraInit");
    ASSERT_NE(nullptr, init);
    EXPECT_EQ(2, init->args[1]);
}

TEST_F(CCameraTest, GetFormatsFillsAtMostFiveEntries)
{
    struct Case {
        int asked, filled;
    };
    for (const Case& c : {Case{10, 5}, Case{5, 5}, Case{3, 3}, Case{1, 1}, Case{0, 0}, Case{-4, 0}}) {
        SCOPED_TRACE(c.asked);
        CCamera camera;
        BITMAPINFOHEADER formats[8];
        memset(formats, 0xCD, sizeof(formats));
        int count = c.asked;
        EXPECT_EQ(1, camera.GetFormats(formats, count));
        EXPECT_EQ(c.filled, count);
        // Entry i is resolution index i; the fifth, for no index, repeats the first.
        const LONG widths[5] = {3032, 1600, 1280, 800, 3032};
        const LONG heights[5] = {2016, 1200, 960, 600, 2016};
        for (int i = 0; i < 8; ++i) {
            const BITMAPINFOHEADER& header = formats[i];
            if (i < c.filled) {
                EXPECT_EQ(40u, header.biSize);
                EXPECT_EQ(widths[i], header.biWidth);
                EXPECT_EQ(heights[i], header.biHeight);
                EXPECT_EQ(1, header.biPlanes);
                EXPECT_EQ(24, header.biBitCount);
                EXPECT_EQ(0u, header.biCompression);
                EXPECT_EQ(static_cast<DWORD>(widths[i] * heights[i] * 3), header.biSizeImage);
                EXPECT_EQ(0, header.biXPelsPerMeter);
                EXPECT_EQ(0u, header.biClrUsed);
            } else {
                EXPECT_EQ(0xCDCDCDCDu, header.biSize) << "entry " << i << " written";
            }
        }
    }
}

TEST(CropCopyTest, TakesTheCentreOfTheSource)
{
    // A 5 x 4 source whose pixel (x, y) holds bytes 10y+x, 100+10y+x, 200+x.
    const int W = 5, H = 4;
    unsigned char source[W * H * 3];
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            unsigned char* p = source + (y * W + x) * 3;
            p[0] = static_cast<unsigned char>(10 * y + x);
            p[1] = static_cast<unsigned char>(100 + 10 * y + x);
            p[2] = static_cast<unsigned char>(200 + x);
        }

    unsigned char whole[W * H * 3] = {};
    CCamera::CropCopy(W, H, W, H, source, whole);
    EXPECT_EQ(0, memcmp(source, whole, sizeof(whole)));

    // 2 x 2 out of 5 x 4: columns 1-2 (offset 3 >> 1), rows 1-2.
    unsigned char centre[2 * 2 * 3 + 3];
    memset(centre, 0xEE, sizeof(centre));
    CCamera::CropCopy(W, H, 2, 2, source, centre);
    const unsigned char expected[] = {11, 111, 201, 12, 112, 202, 21, 121, 201, 22, 122, 202};
    EXPECT_EQ(0, memcmp(expected, centre, sizeof(expected)));
    EXPECT_EQ(0xEE, centre[12]);

    unsigned char untouched[6];
    memset(untouched, 0xEE, sizeof(untouched));
    CCamera::CropCopy(W, H, 2, 0, source, untouched);
    CCamera::CropCopy(W, H, 6, 1, source, untouched); // wider than the source
    for (unsigned char byte : untouched)
        EXPECT_EQ(0xEE, byte);
}

} // namespace
