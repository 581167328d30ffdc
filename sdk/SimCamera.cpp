#include "sdk/SimCamera.h"

#include <mmsystem.h>

#include <algorithm>

#include "sdk/QuillonSDK.h"

namespace {

struct ImageSize {
    int width, height;
};

const ImageSize ResolutionSizes[SimCamera::ResolutionCount] = {
    {3032, 2016}, {1600, 1200}, {1280, 960}, {800, 600},
};

// CameraStop waits this long for the frame thread. The thread only ever
// waits for its stop event, so the limit matters only when a caller stops the
// camera while holding the loader lock, where the thread cannot finish.
const DWORD JoinMilliseconds = 2000;

// Any address inside this module, to pin the module while a frame thread runs.
const int ModuleAnchor = 0;

long long Now()
{
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    return counter.QuadPart;
}

template <class T>
T StepToward(T current, T wanted)
{
    const long long difference = (long long)wanted - (long long)current;
    long long step = difference / 4;
    if (step == 0) step = difference > 0 ? 1 : -1;
    return T((long long)current + step);
}

}  // namespace

struct SimCamera::ThreadStart {
    SimCamera* camera;
    HANDLE stopEvent;  // the thread's own duplicate, closed by the thread
    unsigned int generation;
    int framesPerSecond;
    HMODULE module;  // a module reference the thread gives back when it ends
};

SimCamera::~SimCamera()
{
    Session session;
    {
        ScopedLock hold(&m_Lock);
        session = TakeSession();
    }
    // No wait: a live frame thread pins this module, so this runs only at
    // process exit, when the thread is already gone.
    EndSession(session, 0);
}

bool SimCamera::ConsumeFailure(int& counter)
{
    if (counter < 0) return true;
    if (counter == 0) return false;
    --counter;
    return true;
}

int SimCamera::Init(unsigned char resolution, HWND window)
{
    Session previous;
    {
        ScopedLock hold(&m_Lock);
        if (ConsumeFailure(m_FailInit)) return 0;
        if (resolution >= ResolutionCount) return 0;
        // Opening again takes the camera over: a running stream ends.
        previous = TakeSession();
        m_Initialised = true;
        m_Width = ResolutionSizes[resolution].width;
        m_Height = ResolutionSizes[resolution].height;
        m_Window = window;
        m_FrameNumber = 0;
    }
    EndSession(previous, JoinMilliseconds);
    return 1;
}

int SimCamera::GetImageSize(int* width, int* height)
{
    ScopedLock hold(&m_Lock);
    if (ConsumeFailure(m_FailImageSize)) return 0;
    if (!width || !height) return 0;
    *width = m_Initialised ? m_Width : 0;
    *height = m_Initialised ? m_Height : 0;
    return m_Initialised ? 1 : 0;
}

int SimCamera::Play()
{
    ScopedLock hold(&m_Lock);
    if (ConsumeFailure(m_FailPlay)) return 0;
    if (!m_Initialised) return 0;
    if (m_Playing) return 1;
    return StartSession() ? 1 : 0;
}

// Called with m_Lock held. The new thread needs the lock for its first frame,
// so it waits until the caller has finished.
bool SimCamera::StartSession()
{
    HANDLE stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!stopEvent) return false;
    ThreadStart* start = new ThreadStart{this, nullptr, m_Generation + 1, m_FramesPerSecond, nullptr};
    const BOOL duplicated = DuplicateHandle(GetCurrentProcess(), stopEvent, GetCurrentProcess(), &start->stopEvent,
                                            0, FALSE, DUPLICATE_SAME_ACCESS);
    const BOOL pinned = GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                           reinterpret_cast<LPCWSTR>(&ModuleAnchor), &start->module);
    HANDLE thread = (duplicated && pinned) ? CreateThread(nullptr, 0, FrameThread, start, 0, nullptr) : nullptr;
    if (!thread) {
        if (start->stopEvent) CloseHandle(start->stopEvent);
        if (start->module) FreeLibrary(start->module);
        delete start;
        CloseHandle(stopEvent);
        return false;
    }
    m_Session.thread = thread;
    m_Session.stopEvent = stopEvent;
    m_Playing = true;
    ++m_Generation;
    m_FramesPosted = 0;
    m_FramesPulled = 0;
    m_Outstanding = 0;
    m_FramesSkipped = 0;
    return true;
}

// Called with m_Lock held: after this no frame thread posts again.
SimCamera::Session SimCamera::TakeSession()
{
    Session session = m_Session;
    m_Session = Session();
    m_Playing = false;
    ++m_Generation;
    return session;
}

void SimCamera::EndSession(Session& session, DWORD joinMilliseconds)
{
    if (session.stopEvent) SetEvent(session.stopEvent);
    if (session.thread) {
        if (joinMilliseconds) WaitForSingleObject(session.thread, joinMilliseconds);
        CloseHandle(session.thread);
    }
    if (session.stopEvent) CloseHandle(session.stopEvent);
    session = Session();
}

int SimCamera::Stop()
{
    Session session;
    {
        ScopedLock hold(&m_Lock);
        session = TakeSession();
    }
    EndSession(session, JoinMilliseconds);
    return 1;
}

int SimCamera::UnInit()
{
    Session session;
    {
        ScopedLock hold(&m_Lock);
        session = TakeSession();
        m_Initialised = false;
        m_Width = 0;
        m_Height = 0;
        m_Window = nullptr;
    }
    EndSession(session, JoinMilliseconds);
    return 1;
}

// Paces frames against deadlines a fixed period apart, so the rate holds on
// average even though each wait may overshoot by a little.
DWORD WINAPI SimCamera::FrameThread(void* parameter)
{
    const ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    // Millisecond waits, not the default scheduler tick, for a frame storm.
    timeBeginPeriod(1);
    int framesPerSecond = start.framesPerSecond;
    long long period = frequency.QuadPart / framesPerSecond;
    long long deadline = Now() + period;
    for (;;) {
        const long long remaining = deadline - Now();
        const DWORD wait = remaining <= 0 ? 0 : DWORD((remaining * 1000 + frequency.QuadPart - 1) / frequency.QuadPart);
        if (WaitForSingleObject(start.stopEvent, wait) != WAIT_TIMEOUT) break;
        int rate = framesPerSecond;
        if (!start.camera->Tick(start.generation, &rate)) break;
        if (rate != framesPerSecond) {
            framesPerSecond = rate;
            period = frequency.QuadPart / framesPerSecond;
            deadline = Now() + period;
            continue;
        }
        deadline += period;
        // Far behind (a stalled machine): carry on from now rather than burst.
        if (Now() - deadline > std::max(2 * period, frequency.QuadPart / 10)) deadline = Now() + period;
    }
    timeEndPeriod(1);
    CloseHandle(start.stopEvent);
    FreeLibraryAndExitThread(start.module, 0);
    return 0;
}

bool SimCamera::Tick(unsigned int generation, int* framesPerSecond)
{
    ScopedLock hold(&m_Lock);
    if (!m_Playing || generation != m_Generation) return false;
    *framesPerSecond = m_FramesPerSecond;
    if (m_Paused) return true;
    ++m_FrameNumber;
    SettleWhiteBalance();
    AdjustExposure();
    // Posting under the lock is safe (PostMessage never waits) and makes
    // CameraStop final: once it has taken the session, nothing is posted.
    const long long postedAt = Now();
    if (m_Window && m_Outstanding < MaxOutstandingFrames &&
        PostMessageW(m_Window, QUILLON_FRAME_READY_MESSAGE, 0, 0)) {
        ++m_FramesPosted;
        ++m_Outstanding;
        m_LastPostCounter = postedAt;
    } else {
        ++m_FramesSkipped;
    }
    return true;
}

// Auto exposure: moves exposure (then, at its limits, analog gain) a quarter
// of the way per frame toward the light that meets the target. At power-on
// values the target is met already, so nothing drifts.
void SimCamera::AdjustExposure()
{
    SimSettings& s = m_Settings;
    if (!s.aeState) return;
    const long long wanted = (long long)SimSettings::PowerOnExposure * SimSettings::PowerOnAnalogGain * s.aeTarget /
                             SimSettings::PowerOnAeTarget;
    s.exposure = std::min(MaxExposure, std::max(MinExposure, s.exposure));
    s.analogGain = std::min(MaxAnalogGain, std::max(MinAnalogGain, s.analogGain));
    const long long exposureForGain = std::min<long long>(
        MaxExposure, std::max<long long>(MinExposure, (wanted + s.analogGain / 2) / s.analogGain));
    if (exposureForGain != s.exposure) {
        s.exposure = StepToward<unsigned int>(s.exposure, (unsigned int)exposureForGain);
        return;
    }
    if (exposureForGain != MinExposure && exposureForGain != MaxExposure) return;
    const long long gainForExposure = std::min<long long>(
        MaxAnalogGain, std::max<long long>(MinAnalogGain, (wanted + s.exposure / 2) / s.exposure));
    if (gainForExposure != s.analogGain)
        s.analogGain = StepToward<unsigned short>(s.analogGain, (unsigned short)gainForExposure);
}

int SimCamera::GetImageData(unsigned char* buffer)
{
    if (!buffer) return 0;
    int delay;
    {
        ScopedLock hold(&m_Lock);
        delay = m_PullDelay;
    }
    if (delay > 0) Sleep(DWORD(delay));

    int width, height;
    SimSettings settings;
    unsigned int frameNumber;
    {
        ScopedLock hold(&m_Lock);
        if (!m_Initialised) return 0;
        SettleWhiteBalance();
        width = m_Width;
        height = m_Height;
        settings = m_Settings;
        frameNumber = m_FrameNumber;
    }
    m_Picture.Render(buffer, width, height, settings, frameNumber);

    ScopedLock hold(&m_Lock);
    ++m_FramesPulled;
    if (m_Outstanding > 0) --m_Outstanding;
    return 1;
}

SimSettings SimCamera::Settings()
{
    ScopedLock hold(&m_Lock);
    SettleWhiteBalance();
    return m_Settings;
}

void SimCamera::StartWhiteBalance(bool start)
{
    ScopedLock hold(&m_Lock);
    m_WhiteBalancePending = start;
    m_WhiteBalanceDue = GetTickCount64() + WhiteBalanceDelayMs;
}

// Called with m_Lock held: a white balance whose time has come sets the gains.
void SimCamera::SettleWhiteBalance()
{
    if (!m_WhiteBalancePending || GetTickCount64() < m_WhiteBalanceDue) return;
    m_WhiteBalancePending = false;
    m_Settings.redGain = WhiteBalanceRed;
    m_Settings.greenGain = WhiteBalanceGreen;
    m_Settings.blueGain = WhiteBalanceBlue;
}

void SimCamera::Reset()
{
    Session session;
    {
        ScopedLock hold(&m_Lock);
        session = TakeSession();
        m_Settings = SimSettings();
        m_Initialised = false;
        m_Width = 0;
        m_Height = 0;
        m_Window = nullptr;
        m_FramesPerSecond = DefaultFramesPerSecond;
        m_Paused = false;
        m_PullDelay = 0;
        m_FailInit = 0;
        m_FailImageSize = 0;
        m_FailPlay = 0;
        m_FramesPosted = 0;
        m_FramesPulled = 0;
        m_Outstanding = 0;
        m_FramesSkipped = 0;
        m_FrameNumber = 0;
        m_LastPostCounter = 0;
        m_WhiteBalancePending = false;
    }
    EndSession(session, JoinMilliseconds);
}

void SimCamera::SetFrameRate(int framesPerSecond)
{
    ScopedLock hold(&m_Lock);
    m_FramesPerSecond = std::min(1000, std::max(1, framesPerSecond));
}

void SimCamera::FailInit(int count)
{
    ScopedLock hold(&m_Lock);
    m_FailInit = count;
}

void SimCamera::FailImageSize(int count)
{
    ScopedLock hold(&m_Lock);
    m_FailImageSize = count;
}

void SimCamera::FailPlay(int count)
{
    ScopedLock hold(&m_Lock);
    m_FailPlay = count;
}

void SimCamera::PauseFrames(bool paused)
{
    ScopedLock hold(&m_Lock);
    m_Paused = paused;
}

void SimCamera::SetPullDelay(int milliseconds)
{
    ScopedLock hold(&m_Lock);
    m_PullDelay = std::max(0, milliseconds);
}

int SimCamera::FramesPosted()
{
    ScopedLock hold(&m_Lock);
    return m_FramesPosted;
}

int SimCamera::FramesPulled()
{
    ScopedLock hold(&m_Lock);
    return m_FramesPulled;
}

long long SimCamera::LastFramePostCounter()
{
    ScopedLock hold(&m_Lock);
    return m_LastPostCounter;
}

bool SimCamera::IsInitialised()
{
    ScopedLock hold(&m_Lock);
    return m_Initialised;
}

bool SimCamera::IsPlaying()
{
    ScopedLock hold(&m_Lock);
    return m_Playing;
}
