// The camera controller: opens and closes the camera library, runs the hidden
// window that receives its frame messages, keeps the current settings and
// hands copies of the latest frame to the output pins.
#ifndef QUILLON_CCAMERA_H
#define QUILLON_CCAMERA_H

#include <windows.h>
#include <functional>
#include <memory>
#include "camera/CameraConfig.h"
#include "camera/PictureLayout.h"
#include "framework/Raii.h"
#include "framework/Sync.h"

// Posted by the camera library to the frame window whenever a frame is ready.
const UINT FrameReadyMessage = WM_USER + 101;

// The picture size of each of the camera's resolution indexes.
struct CameraResolution {
    int width;
    int height;
};
const int CameraResolutionCount = 4;
extern const CameraResolution CameraResolutions[CameraResolutionCount];
// The index a stored value stands for: indexes the camera does not know open
// the largest picture.
int EffectiveResolution(int stored);

// The camera sends 30 frames a second; in 100 ns units.
const LONGLONG CameraFrameInterval = 333333;

class CCamera {
  public:
    // Open's result when the camera could not be opened.
    static constexpr int OpenFailed = 2;
    // Open's argument for "the resolution of the current settings".
    static constexpr int StoredResolution = -1;
    // How long CopyFrameWait waits for a new frame before copying the old one.
    static constexpr DWORD FrameWaitMilliseconds = 500;
    // How long Close waits for the frame window's thread to end.
    static constexpr DWORD WindowThreadEndMilliseconds = 5000;

    CCamera();
    virtual ~CCamera();
    CCamera(const CCamera&) = delete;
    CCamera& operator=(const CCamera&) = delete;

    // Opens the camera at a resolution index, or at the stored one. Only one
    // controller of the process holds the camera library at a time: while
    // another one does, opening fails.
    int Open(int resolution = StoredResolution);
    int Play();
    int Stop();
    int Close();
    int GetConfig(CameraConfig& record);
    int SetConfig(const CameraConfig& record);
    // Reads the settings, lets `change` alter them and hands them back, with
    // no other reading or handing back in between, so that two threads that
    // each change one setting do not undo each other's change.
    int ChangeConfig(const std::function<void(CameraConfig&)>& change);
    // The time the camera takes for one row of a picture, in microseconds.
    unsigned int RowTimeMicroseconds();
    int GetFormats(BITMAPINFOHEADER* formats, int& count);
    // Both copy at most `size` bytes of the latest frame to `destination` and
    // return 0; without a destination they return the frame size.
    int CopyFrameWait(unsigned char* destination, int size);
    int CopyFrameNow(unsigned char* destination, int size);

    // Frames pulled since the camera was last opened; each frame's number.
    LONG FrameSequence();
    // Waits until a frame numbered above `sequence` has arrived, the camera
    // closes, or the time runs out; true when there is such a frame. The
    // caller must not hold m_CameraLock.
    bool WaitForFrameAfter(LONG sequence, DWORD milliseconds);
    // Copies the latest frame, centred, into a picture of the given layout
    // (at most `bytes` bytes) and returns its number, and its arrival
    // (QueryPerformanceCounter) when asked; 0, with nothing written, while no
    // frame has arrived since the camera was opened.
    LONG CopyLatestFrame(const PictureLayout& layout, unsigned char* pixels, size_t bytes,
                         LONGLONG* arrivalCounter = nullptr);
    // The number of the latest frame (0 for none) and when it arrived.
    struct FrameStamp {
        LONG sequence;
        LONGLONG arrivalCounter;
    };
    FrameStamp LatestFrameStamp();
    // The latest frame as the library wrote it: bottom-up BGR24 rows, packed.
    struct FrameView {
        const unsigned char* pixels;
        PictureLayout layout;
        LONG sequence;
        // QueryPerformanceCounter when the frame was pulled from the library.
        LONGLONG arrivalCounter;
    };
    // Calls reader(const FrameView&) with the latest frame while the lock
    // keeps the frame window from overwriting it, and returns the frame's
    // number; 0, without calling the reader, while the camera is closed or
    // no frame has arrived since it opened. The reader must not call the
    // controller.
    template <class Reader> LONG ReadLatestFrame(Reader&& reader);
    // The size of the open camera's picture; empty while closed.
    PictureLayout FrameLayout();

    // Copies the centre outputWidth x outputHeight part of a 24-bit source
    // picture (the whole picture when the sizes are equal).
    static void CropCopy(int sourceWidth, int sourceHeight, int outputWidth, int outputHeight,
                         const unsigned char* source, unsigned char* destination);

    // The frame handed to the pins; the camera library writes each frame
    // straight into it, so no second buffer is needed.
    std::unique_ptr<unsigned char[]> m_OutFrame;
    int m_Opened;
    int m_Playing;
    int m_OutFrameBytes;
    int m_Width;
    int m_Height;
    int m_OutWidth;
    int m_OutHeight;
    HWND m_Window;
    volatile LONG m_FramesReceived;
    volatile LONG m_FramesDelivered;
    CriticalLock m_CameraLock;
    UniqueHandle m_ReadyEvent;
    UniqueHandle m_FrameEvent;
    CameraConfig m_Config;
    // The window thread, kept so that Close can wait for it to end.
    UniqueHandle m_WindowThread;

  private:
    // What one opening created: released together once the window thread is
    // told to end, outside the lock, since that thread may be waiting for it.
    struct WindowResources {
        HWND window = nullptr;
        UniqueHandle thread;
        UniqueHandle readyEvent;
        UniqueHandle frameEvent;
    };

    static DWORD WINAPI WindowThreadMain(void* controller);
    static LRESULT CALLBACK OnFrameMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    int OpenLocked(int resolution);
    int OpenLibrary(unsigned char resolution);
    bool ClaimLibrary();
    void ReleaseLibrary();
    void PullFrame();
    void CopyOutFrame(unsigned char* destination, int size);
    WindowResources DetachWindowResources();
    static void EndWindowThread(WindowResources& resources);

    LONG m_FrameSequence;
    LONGLONG m_FrameArrivalCounter = 0;
    ConditionSignal m_FrameArrived;
    // Held by GetConfig, SetConfig and ChangeConfig. It is taken before
    // m_CameraLock, never while holding it.
    CriticalLock m_SettingsLock;
};

template <class Reader> LONG CCamera::ReadLatestFrame(Reader&& reader)
{
    ScopedLock lock(&m_CameraLock);
    if (!m_Opened || m_FrameSequence == 0 || !m_OutFrame) return 0;
    const FrameView view = {m_OutFrame.get(), PictureLayout::Packed(m_OutWidth, m_OutHeight), m_FrameSequence,
                            m_FrameArrivalCounter};
    reader(view);
    return m_FrameSequence;
}

#endif
