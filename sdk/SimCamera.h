// The simulated camera: open state, settings, the frame clock thread that
// announces frames to the caller's window, and the failure controls.
#ifndef QUILLON_SIM_CAMERA_H
#define QUILLON_SIM_CAMERA_H

#include <windows.h>

#include "framework/Sync.h"
#include "sdk/SimSettings.h"
#include "sdk/TestPicture.h"

class SimCamera {
public:
    // Frame messages posted but not yet answered by a frame pull. Beyond this
    // the camera drops frames instead of flooding a slow window's queue.
    static const int MaxOutstandingFrames = 4;
    static const unsigned int RowTimeMicroseconds = 40;
    static const int DefaultFramesPerSecond = 30;
    static const int ResolutionCount = 4;
    // White balance settles this long after it is started, on these gains.
    static const unsigned int WhiteBalanceDelayMs = 100;
    static const unsigned short WhiteBalanceRed = 96;
    static const unsigned short WhiteBalanceGreen = 64;
    static const unsigned short WhiteBalanceBlue = 80;
    // Auto exposure keeps exposure and analog gain within these limits.
    static const unsigned int MinExposure = 1;
    static const unsigned int MaxExposure = 23100;
    static const unsigned short MinAnalogGain = 1;
    static const unsigned short MaxAnalogGain = 80;

    SimCamera() = default;
    ~SimCamera();
    SimCamera(const SimCamera&) = delete;
    SimCamera& operator=(const SimCamera&) = delete;

    int Init(unsigned char resolution, HWND window);
    int GetImageSize(int* width, int* height);
    int Play();
    int Stop();
    int UnInit();
    int GetImageData(unsigned char* buffer);

    // The current settings, with a finished white balance applied.
    SimSettings Settings();
    template <class Change>
    void ChangeSettings(Change change)
    {
        ScopedLock hold(&m_Lock);
        SettleWhiteBalance();
        change(m_Settings);
    }
    void StartWhiteBalance(bool start);

    void Reset();
    void SetFrameRate(int framesPerSecond);
    void FailInit(int count);
    void FailImageSize(int count);
    void FailPlay(int count);
    void PauseFrames(bool paused);
    void SetPullDelay(int milliseconds);
    int FramesPosted();
    int FramesPulled();
    long long LastFramePostCounter();
    bool IsInitialised();
    bool IsPlaying();

private:
    struct Session {
        HANDLE thread = nullptr;
        HANDLE stopEvent = nullptr;
    };
    struct ThreadStart;

    Session TakeSession();
    static void EndSession(Session& session, DWORD joinMilliseconds);
    bool StartSession();
    bool Tick(unsigned int generation, int* framesPerSecond);
    void AdjustExposure();
    void SettleWhiteBalance();
    static DWORD WINAPI FrameThread(void* parameter);
    static bool ConsumeFailure(int& counter);

    CriticalLock m_Lock;  // guards every field below; never held while waiting
    SimSettings m_Settings;
    bool m_Initialised = false;
    int m_Width = 0;
    int m_Height = 0;
    HWND m_Window = nullptr;
    bool m_Playing = false;
    unsigned int m_Generation = 0;  // a frame thread of an older generation posts nothing
    Session m_Session;
    int m_FramesPerSecond = DefaultFramesPerSecond;
    bool m_Paused = false;
    int m_PullDelay = 0;
    int m_FailInit = 0;
    int m_FailImageSize = 0;
    int m_FailPlay = 0;
    int m_FramesPosted = 0;
    int m_FramesPulled = 0;
    long long m_LastPostCounter = 0;
    int m_Outstanding = 0;
    int m_FramesSkipped = 0;
    unsigned int m_FrameNumber = 0;
    bool m_WhiteBalancePending = false;
    ULONGLONG m_WhiteBalanceDue = 0;
    TestPicture m_Picture;  // has its own lock, so frames render outside m_Lock
};

#endif
