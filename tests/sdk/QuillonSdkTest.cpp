// The simulated camera library through its exported functions: opening,
// frame messages, settings, white balance, failure controls and the call log.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <vector>

#include "sdk/QuillonSDK.h"
#include "sdk/QuillonSim.h"

namespace {

int __stdcall IgnoreValue(int) { return 1; }

// A message-only window on the test thread that counts frame messages and,
// like the controller, pulls one frame for each.
class FrameWindow {
public:
    explicit FrameWindow(bool pullFrames) : m_PullFrames(pullFrames)
    {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"QuillonSdkTestFrames";
        RegisterClassW(&windowClass);  // fails harmlessly when already registered
        m_Window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   windowClass.hInstance, this);
    }
    ~FrameWindow() { DestroyWindow(m_Window); }

    HWND Handle() const { return m_Window; }
    int Received() const { return m_Received; }
    int Unusual() const { return m_Unusual; }

    // Sizes the pull buffer for the open camera.
    void PrepareBuffer()
    {
        int width = 0, height = 0;
        CameraGetImageSize(&width, &height);
        m_Buffer.assign(size_t(width) * height * 3, 0);
    }

    void Pump(DWORD milliseconds)
    {
        const ULONGLONG end = GetTickCount64() + milliseconds;
        for (ULONGLONG now = GetTickCount64(); now < end; now = GetTickCount64()) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now), QS_ALLINPUT);
            MSG message;
            // A storm of frames can keep the queue busy forever: watch the clock.
            while (GetTickCount64() < end && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
        }
    }

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == WM_NCCREATE) {
            auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
            SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<FrameWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (self && message == QUILLON_FRAME_READY_MESSAGE) {
            ++self->m_Received;
            if (wParam != 0 || lParam != 0) ++self->m_Unusual;
            if (self->m_PullFrames && !self->m_Buffer.empty()) CameraGetImageDataRGB24(self->m_Buffer.data());
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    bool m_PullFrames;
    HWND m_Window = nullptr;
    int m_Received = 0;
    int m_Unusual = 0;
    std::vector<unsigned char> m_Buffer;
};

class QuillonSdkTest : public testing::Test {
protected:
    void SetUp() override { SimReset(); }
    void TearDown() override { SimReset(); }

    // Opens the smallest picture for the window and starts it.
    void OpenAndPlay(FrameWindow& window, int framesPerSecond)
    {
        SimSetFrameRate(framesPerSecond);
        ASSERT_EQ(1, CameraInit(IgnoreValue, 3, window.Handle(), window.Handle()));
        window.PrepareBuffer();
        ASSERT_EQ(1, CameraPlay());
    }
};

TEST_F(QuillonSdkTest, InitOpensEachResolutionAtItsSize)
{
    const struct {
        unsigned char resolution;
        int result, width, height;
    } cases[] = {{0, 1, 3032, 2016}, {1, 1, 1600, 1200}, {2, 1, 1280, 960}, {3, 1, 800, 600},
                 {4, 0, 0, 0},       {255, 0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.resolution));
        SimReset();
        EXPECT_EQ(c.result, CameraInit(IgnoreValue, c.resolution, nullptr, nullptr));
        EXPECT_EQ(c.result, SimIsInitialised());
        int width = -1, height = -1;
        EXPECT_EQ(c.result, CameraGetImageSize(&width, &height));
        EXPECT_EQ(c.width, width);
        EXPECT_EQ(c.height, height);
    }
    EXPECT_EQ(0, CameraGetImageSize(nullptr, nullptr));
}

TEST_F(QuillonSdkTest, FailureControlsFailTheNextCallsOrAll)
{
    int width, height;
    auto init = [] { return CameraInit(IgnoreValue, 1, nullptr, nullptr); };
    auto size = [&] { return CameraGetImageSize(&width, &height); };
    auto play = [] { return CameraPlay(); };
    const struct {
        const char* name;
        void(__stdcall* control)(int);
        std::function<int()> call;
    } cases[] = {{"init", SimFailInit, init}, {"image size", SimFailImageSize, size}, {"play", SimFailPlay, play}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimReset();
        ASSERT_EQ(1, init());
        c.control(2);
        EXPECT_EQ(0, c.call());
        EXPECT_EQ(0, c.call());
        EXPECT_EQ(1, c.call());
        CameraStop();
        c.control(-1);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(0, c.call());
        c.control(0);
        EXPECT_EQ(1, c.call());
    }
    // A failed call changes nothing: a failed play starts no stream, a failed
    // size query writes nothing.
    SimReset();
    ASSERT_EQ(1, init());
    SimFailPlay(1);
    EXPECT_EQ(0, CameraPlay());
    EXPECT_EQ(0, SimIsPlaying());
    SimFailImageSize(1);
    width = height = -7;
    EXPECT_EQ(0, CameraGetImageSize(&width, &height));
    EXPECT_EQ(-7, width);
    EXPECT_EQ(-7, height);
}

TEST_F(QuillonSdkTest, StopAndUnInitInAnyOrderTwiceOrUnopened)
{
    EXPECT_EQ(1, CameraStop());
    EXPECT_EQ(1, CameraUnInit());
    EXPECT_EQ(0, CameraPlay());  // nothing open
    EXPECT_EQ(0, SimIsPlaying());

    FrameWindow window(true);
    OpenAndPlay(window, 200);
    EXPECT_EQ(1, CameraPlay());  // already playing
    EXPECT_EQ(1, CameraUnInit());
    EXPECT_EQ(0, SimIsPlaying());
    EXPECT_EQ(0, SimIsInitialised());
    EXPECT_EQ(1, CameraStop());
    EXPECT_EQ(1, CameraUnInit());

    OpenAndPlay(window, 200);
    EXPECT_EQ(1, CameraStop());
    EXPECT_EQ(1, CameraStop());
    EXPECT_EQ(1, SimIsInitialised());
    EXPECT_EQ(1, CameraPlay());  // a stopped camera starts again
    EXPECT_EQ(1, SimIsPlaying());
}

TEST_F(QuillonSdkTest, ReopeningTakesTheCameraOver)
{
    FrameWindow window(true);
    OpenAndPlay(window, 30);
    EXPECT_EQ(1, CameraInit(IgnoreValue, 1, window.Handle(), window.Handle()));
    EXPECT_EQ(0, SimIsPlaying());
    int width = 0, height = 0;
    EXPECT_EQ(1, CameraGetImageSize(&width, &height));
    EXPECT_EQ(1600, width);
    EXPECT_EQ(1200, height);
}

TEST_F(QuillonSdkTest, FramesArriveAtTheFrameRateAndAreAllPulled)
{
    FrameWindow window(true);
    OpenAndPlay(window, 30);
    window.Pump(1000);
    ASSERT_EQ(1, CameraStop());
    window.Pump(50);  // messages posted before the stop
    EXPECT_GE(window.Received(), 15);
    EXPECT_LE(window.Received(), 45);
    EXPECT_EQ(0, window.Unusual());
    EXPECT_EQ(window.Received(), SimFramesPosted());
    EXPECT_EQ(window.Received(), SimFramesPulled());

    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    EXPECT_GT(SimLastFramePostCounter(), 0);
    EXPECT_LE(SimLastFramePostCounter(), now.QuadPart);
    SimReset();
    EXPECT_EQ(0, SimLastFramePostCounter());
}

TEST_F(QuillonSdkTest, NothingIsPostedAfterStopOrUnInit)
{
    using StopFunction = int(__stdcall*)();
    const StopFunction stops[] = {CameraStop, CameraUnInit};
    for (StopFunction stop : stops) {
        FrameWindow window(true);
        OpenAndPlay(window, 500);
        window.Pump(100);
        ASSERT_EQ(1, stop());
        const int postedAtStop = SimFramesPosted();
        EXPECT_GT(postedAtStop, 0);
        window.Pump(300);
        EXPECT_EQ(postedAtStop, SimFramesPosted());
        EXPECT_EQ(postedAtStop, window.Received());
        SimReset();
    }
}

TEST_F(QuillonSdkTest, PausedCameraPostsNothingUntilResumed)
{
    FrameWindow window(true);
    OpenAndPlay(window, 100);
    SimPauseFrames(1);
    window.Pump(300);
    EXPECT_EQ(0, window.Received());
    SimPauseFrames(0);
    window.Pump(300);
    EXPECT_GT(window.Received(), 0);
}

TEST_F(QuillonSdkTest, UnansweredFramesStopPilingUp)
{
    FrameWindow window(false);  // receives, never pulls
    OpenAndPlay(window, 500);
    window.Pump(300);
    EXPECT_EQ(4, SimFramesPosted());
    EXPECT_EQ(4, window.Received());

    // Pulling a frame makes room for exactly one more message.
    std::vector<unsigned char> frame(800 * 600 * 3);
    ASSERT_EQ(1, CameraGetImageDataRGB24(frame.data()));
    window.Pump(200);
    EXPECT_EQ(5, SimFramesPosted());
}

TEST_F(QuillonSdkTest, FrameStormWithConcurrentPullsStopsPromptly)
{
    FrameWindow window(true);
    OpenAndPlay(window, 500);
    struct Puller {
        volatile LONG stop = 0;
        static DWORD WINAPI Run(void* p)
        {
            auto* self = static_cast<Puller*>(p);
            std::vector<unsigned char> frame(800 * 600 * 3);
            while (!self->stop) CameraGetImageDataRGB24(frame.data());
            return 0;
        }
    } puller;
    HANDLE thread = CreateThread(nullptr, 0, Puller::Run, &puller, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    for (int cycle = 0; cycle < 10; ++cycle) {
        window.Pump(30);
        const ULONGLONG before = GetTickCount64();
        EXPECT_EQ(1, CameraStop());
        EXPECT_LT(GetTickCount64() - before, 1000u);
        EXPECT_EQ(1, CameraPlay());
    }
    window.Pump(200);
    EXPECT_GT(SimFramesPosted(), 20);
    InterlockedExchange(&puller.stop, 1);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
}

TEST_F(QuillonSdkTest, PullDelaySlowsEveryPull)
{
    ASSERT_EQ(1, CameraInit(IgnoreValue, 3, nullptr, nullptr));
    std::vector<unsigned char> frame(800 * 600 * 3);
    SimSetPullDelay(60);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(1, CameraGetImageDataRGB24(frame.data()));
    EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(55));
    EXPECT_EQ(1, SimFramesPulled());
}

TEST_F(QuillonSdkTest, PullWritesNothingWhileClosed)
{
    std::vector<unsigned char> frame(16, 0xAB);
    EXPECT_EQ(0, CameraGetImageDataRGB24(frame.data()));
    EXPECT_EQ(std::vector<unsigned char>(16, 0xAB), frame);
    EXPECT_EQ(0, CameraGetImageDataRGB24(nullptr));
    EXPECT_EQ(0, SimFramesPulled());
}

// The getters' fields sit between guard bytes that must survive.
template <class T>
struct Guarded {
    unsigned char before[4];
    T value;
    unsigned char after[4];
    Guarded() { std::memset(this, 0xCD, sizeof(*this)); }
    bool GuardsIntact() const
    {
        for (int i = 0; i < 4; ++i)
            if (before[i] != 0xCD || after[i] != 0xCD) return false;
        return true;
    }
};

TEST_F(QuillonSdkTest, GettersReadPowerOnValuesAndWriteOnlyTheirField)
{
    Guarded<int> ae, enhancement;
    Guarded<unsigned char> target, gamma, contrast, saturation;
    Guarded<unsigned short> analogGain;
    Guarded<unsigned int> exposure, red, green, blue, rowTime;
    EXPECT_EQ(1, CameraGetAeState(&ae.value));
    EXPECT_EQ(1, CameraGetAeTarget(&target.value));
    EXPECT_EQ(1, CameraGetAnalogGain(&analogGain.value));
    EXPECT_EQ(1, CameraGetExposureTime(&exposure.value));
    EXPECT_EQ(1, CameraGetGain(&red.value, &green.value, &blue.value));
    EXPECT_EQ(1, CameraGetGamma(&gamma.value));
    EXPECT_EQ(1, CameraGetContrast(&contrast.value));
    EXPECT_EQ(1, CameraGetSaturation(&saturation.value));
    EXPECT_EQ(1, CameraGetColorEnhancement(&enhancement.value));
    EXPECT_EQ(1, CameraGetRowTime(&rowTime.value));

    EXPECT_EQ(1, ae.value);
    EXPECT_EQ(100, target.value);
    EXPECT_EQ(40, analogGain.value);
    EXPECT_EQ(20u, exposure.value);
    EXPECT_EQ(100u, red.value);
    EXPECT_EQ(88u, green.value);
    EXPECT_EQ(88u, blue.value);
    EXPECT_EQ(64, gamma.value);
    EXPECT_EQ(0, contrast.value);
    EXPECT_EQ(128, saturation.value);
    EXPECT_EQ(1, enhancement.value);
    EXPECT_EQ(40u, rowTime.value);
    for (bool intact : {ae.GuardsIntact(), enhancement.GuardsIntact(), target.GuardsIntact(), gamma.GuardsIntact(),
                        contrast.GuardsIntact(), saturation.GuardsIntact(), analogGain.GuardsIntact(),
                        exposure.GuardsIntact(), red.GuardsIntact(), green.GuardsIntact(), blue.GuardsIntact(),
                        rowTime.GuardsIntact()})
        EXPECT_TRUE(intact);

    EXPECT_EQ(0, CameraGetGamma(nullptr));
    EXPECT_EQ(0, CameraGetGain(&red.value, nullptr, &blue.value));
}

TEST_F(QuillonSdkTest, SettersKeepTheirValuesWithoutAnOpenCamera)
{
    EXPECT_EQ(1, CameraSetAeState(0));
    EXPECT_EQ(1, CameraSetAeTarget(170));
    EXPECT_EQ(1, CameraSetAnalogGain(77));
    EXPECT_EQ(1, CameraSetExposureTime(23100));
    EXPECT_EQ(1, CameraSetGain(255, 0, 64));
    EXPECT_EQ(1, CameraSetGamma(150));
    EXPECT_EQ(1, CameraSetContrast(255));
    EXPECT_EQ(1, CameraSetSaturation(3));
    EXPECT_EQ(1, CameraSetColorEnhancement(0));

    int ae = -1, enhancement = -1;
    unsigned char target = 0, gamma = 0, contrast = 0, saturation = 0;
    unsigned short analogGain = 0;
    unsigned int exposure = 0, red = 1, green = 1, blue = 1;
    CameraGetAeState(&ae);
    CameraGetAeTarget(&target);
    CameraGetAnalogGain(&analogGain);
    CameraGetExposureTime(&exposure);
    CameraGetGain(&red, &green, &blue);
    CameraGetGamma(&gamma);
    CameraGetContrast(&contrast);
    CameraGetSaturation(&saturation);
    CameraGetColorEnhancement(&enhancement);
    EXPECT_EQ(0, ae);
    EXPECT_EQ(170, target);
    EXPECT_EQ(77, analogGain);
    EXPECT_EQ(23100u, exposure);
    EXPECT_EQ(255u, red);
    EXPECT_EQ(0u, green);
    EXPECT_EQ(64u, blue);
    EXPECT_EQ(150, gamma);
    EXPECT_EQ(255, contrast);
    EXPECT_EQ(3, saturation);
    EXPECT_EQ(0, enhancement);

    SimReset();
    CameraGetExposureTime(&exposure);
    EXPECT_EQ(20u, exposure);
}

TEST_F(QuillonSdkTest, WhiteBalanceChoosesGainsWithin200Milliseconds)
{
    unsigned int red, green, blue;
    ASSERT_EQ(1, CameraSetGain(10, 20, 30));
    ASSERT_EQ(1, CameraSetAWBState(1));
    Sleep(200);
    ASSERT_EQ(1, CameraGetGain(&red, &green, &blue));
    EXPECT_EQ(96u, red);
    EXPECT_EQ(64u, green);
    EXPECT_EQ(80u, blue);

    // Cancelled before it settles, it leaves the gains alone.
    ASSERT_EQ(1, CameraSetGain(10, 20, 30));
    ASSERT_EQ(1, CameraSetAWBState(1));
    ASSERT_EQ(1, CameraSetAWBState(0));
    Sleep(200);
    ASSERT_EQ(1, CameraGetGain(&red, &green, &blue));
    EXPECT_EQ(10u, red);
    EXPECT_EQ(20u, green);
    EXPECT_EQ(30u, blue);
}

TEST_F(QuillonSdkTest, AutoExposureSettledAtPowerOnAndSeeksTheTarget)
{
    FrameWindow window(true);
    OpenAndPlay(window, 200);
    window.Pump(300);
    unsigned int exposure = 0;
    unsigned short gain = 0;
    CameraGetExposureTime(&exposure);
    CameraGetAnalogGain(&gain);
    EXPECT_EQ(20u, exposure);
    EXPECT_EQ(40, gain);

    // A doubled target doubles the light: exposure 40 at gain 40.
    CameraSetAeTarget(200);
    window.Pump(400);
    CameraGetExposureTime(&exposure);
    EXPECT_EQ(40u, exposure);

    // With auto exposure off, a manual exposure stays, even out of the AE range.
    CameraSetAeState(0);
    CameraSetExposureTime(50000);
    window.Pump(200);
    CameraGetExposureTime(&exposure);
    EXPECT_EQ(50000u, exposure);

    // Switched back on, it pulls the exposure into range and toward the target.
    CameraSetAeState(1);
    window.Pump(600);
    CameraGetExposureTime(&exposure);
    CameraGetAnalogGain(&gain);
    EXPECT_EQ(40u, exposure);
    EXPECT_EQ(40, gain);
}

struct ThreadCall {
    static DWORD WINAPI Run(void* window)
    {
        CameraInit(IgnoreValue, 2, static_cast<HWND>(window), static_cast<HWND>(window));
        return 0;
    }
};

TEST_F(QuillonSdkTest, CallLogRecordsEveryContractCall)
{
    CameraSetGamma(70);
    SimClearCalls();
    EXPECT_EQ(0, SimGetCallCount());

    const HWND fakeWindow = reinterpret_cast<HWND>(0x1234);
    DWORD otherThread = 0;
    HANDLE thread = CreateThread(nullptr, 0, ThreadCall::Run, fakeWindow, 0, &otherThread);
    ASSERT_NE(nullptr, thread);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    SimFailPlay(1);  // failing calls are logged too, control calls are not
    CameraPlay();
    CameraSetGain(1, 2, 65535);
    CameraSetExposureTime(0xFFFFFFFFu);
    CameraSetAeState(-1);
    unsigned int rowTime;
    CameraGetRowTime(&rowTime);

    const struct {
        const char* function;
        int argCount;
        long long args[4];
        DWORD threadId;
    } expected[] = {
        {"CameraInit", 4, {(long long)(INT_PTR)IgnoreValue, 2, 0x1234, 0x1234}, otherThread},
        {"CameraPlay", 0, {}, GetCurrentThreadId()},
        {"CameraSetGain", 3, {1, 2, 65535}, GetCurrentThreadId()},
        {"CameraSetExposureTime", 1, {4294967295LL}, GetCurrentThreadId()},
        {"CameraSetAeState", 1, {-1}, GetCurrentThreadId()},
        {"CameraGetRowTime", 1, {(long long)(INT_PTR)&rowTime}, GetCurrentThreadId()},
    };
    ASSERT_EQ(int(sizeof(expected) / sizeof(expected[0])), SimGetCallCount());
    for (int i = 0; i < SimGetCallCount(); ++i) {
        SCOPED_TRACE(i);
        QuillonSimCall call;
        ASSERT_EQ(1, SimGetCall(i, &call));
        EXPECT_STREQ(expected[i].function, call.function);
        EXPECT_EQ(expected[i].argCount, call.argCount);
        for (int a = 0; a < expected[i].argCount; ++a) EXPECT_EQ(expected[i].args[a], call.args[a]) << a;
        EXPECT_EQ(expected[i].threadId, call.threadId);
    }
    QuillonSimCall call;
    EXPECT_EQ(0, SimGetCall(SimGetCallCount(), &call));
    EXPECT_EQ(0, SimGetCall(-1, &call));
    EXPECT_EQ(0, SimGetCall(0, nullptr));

    SimClearCalls();
    EXPECT_EQ(0, SimGetCallCount());
    CameraStop();
    SimReset();
    EXPECT_EQ(0, SimGetCallCount());
}

TEST_F(QuillonSdkTest, EveryFunctionIsExportedUnderItsPlainName)
{
    HMODULE library = GetModuleHandleW(L"QuillonSDK.dll");
    ASSERT_NE(nullptr, library);
    const char* names[] = {
        "CameraInit", "CameraGetImageSize", "CameraPlay", "CameraStop", "CameraUnInit", "CameraGetImageDataRGB24",
        "CameraSetAeState", "CameraGetAeState", "CameraSetAeTarget", "CameraGetAeTarget", "CameraSetAnalogGain",
        "CameraGetAnalogGain", "CameraSetExposureTime", "CameraGetExposureTime", "CameraSetGain", "CameraGetGain",
        "CameraSetGamma", "CameraGetGamma", "CameraSetContrast", "CameraGetContrast", "CameraSetSaturation",
        "CameraGetSaturation", "CameraSetColorEnhancement", "CameraGetColorEnhancement", "CameraSetAWBState",
        "CameraGetRowTime", "SimReset", "SimSetFrameRate", "SimFailInit", "SimFailImageSize", "SimFailPlay",
        "SimPauseFrames", "SimSetPullDelay", "SimGetCallCount", "SimGetCall", "SimClearCalls", "SimFramesPosted",
        "SimFramesPulled", "SimLastFramePostCounter", "SimIsInitialised", "SimIsPlaying",
    };
    for (const char* name : names) EXPECT_NE(nullptr, GetProcAddress(library, name)) << name;
    // The import library binds to the same functions.
    EXPECT_EQ(reinterpret_cast<void*>(&CameraInit), reinterpret_cast<void*>(GetProcAddress(library, "CameraInit")));
    EXPECT_EQ(nullptr, GetProcAddress(library, "CameraInit@16"));
}

}  // namespace
