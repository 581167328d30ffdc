// The camera controller: opens and closes the camera library, runs the hidden
// window that receives its frame messages, keeps the current settings and
// hands copies of the latest frame to the output pins.
#ifndef QUILLON_CCAMERA_H
#define QUILLON_CCAMERA_H

#include <windows.h>
#include <memory>
#include "camera/CameraConfig.h"
#include "framework/Raii.h"
#include "framework/Sync.h"

// Posted by the camera library to the frame window whenever a frame is ready.
const UINT FrameReadyMessage = WM_USER + 101;

class CCamera {
  public:
    // Open's result when the camera could not be opened.
    static constexpr int OpenFailed = 2;
    // How long CopyFrameWait waits for a new frame before copying the old one.
    static constexpr DWORD FrameWaitMilliseconds = 500;

    CCamera();
    virtual ~CCamera();
    CCamera(const CCamera&) = delete;
    CCamera& operator=(const CCamera&) = delete;

    int Open();
    int Play();
    int Stop();
    int Close();
    int GetConfig(CameraConfig& record);
    int SetConfig(const CameraConfig& record);
    int GetFormats(BITMAPINFOHEADER* formats, int& count);
    // Both copy at most `size` bytes of the latest frame to `destination` and
    // return 0; without a destination they return the frame size.
    int CopyFrameWait(unsigned char* destination, int size);
    int CopyFrameNow(unsigned char* destination, int size);

    // Copies the centre outputWidth x outputHeight part of a 24-bit source
    // picture (the whole picture when the sizes are equal).
    static void CropCopy(int sourceWidth, int sourceHeight, int outputWidth, int outputHeight,
                         const unsigned char* source, unsigned char* destination);

    std::unique_ptr<unsigned char[]> m_RawImage;
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

    int OpenLocked();
    void PullFrame();
    void CopyOutFrame(unsigned char* destination, int size);
    WindowResources DetachWindowResources();
    static void EndWindowThread(WindowResources& resources);
};

#endif
