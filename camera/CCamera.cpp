#include "camera/CCamera.h"

#include <climits>
#include <cstring>
#include <new>
#include "camera/SettingsFile.h"
#include "framework/ModuleGlobals.h"
#include "sdk/QuillonSDK.h"

namespace {

// The frame window's procedure before OnFrameMessage replaced it. Every frame
// window is a "BUTTON", so one slot serves all controllers.
WNDPROC PreviousFrameWindowProc = nullptr;

const int ResolutionCount = 4;

// The library wants a callback; frames are announced by window message instead.
int __stdcall IgnoreCameraCallback(int)
{
    return 1;
}

// The library's notion of a picture that fits in memory as one 24-bit buffer.
bool PlausibleImageSize(int width, int height)
{
    if (width <= 0 || height <= 0) return false;
    return static_cast<long long>(width) * height * 3 <= INT_MAX;
}

} // namespace

CCamera::CCamera()
    : m_Opened(0), m_Playing(0), m_OutFrameBytes(0), m_Width(0), m_Height(0), m_OutWidth(0), m_OutHeight(0),
      m_Window(nullptr), m_FramesReceived(0), m_FramesDelivered(0)
{
}

CCamera::~CCamera()
{
    if (m_Opened) Close();
    WindowResources leftovers = DetachWindowResources();
    EndWindowThread(leftovers);
}

int CCamera::Open()
{
    WindowResources leftovers;
    int result;
    {
        ScopedLock lock(&m_CameraLock);
        result = OpenLocked();
        if (result != 1) leftovers = DetachWindowResources();
    }
    // A failed opening leaves no thread, window or event behind.
    EndWindowThread(leftovers);
    return result;
}

int CCamera::OpenLocked()
{
    if (m_Opened) return 1;

    m_ReadyEvent.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    m_FrameEvent.reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!m_ReadyEvent || !m_FrameEvent) return OpenFailed;

    m_Window = nullptr;
    m_WindowThread.reset(CreateThread(nullptr, 0, WindowThreadMain, this, 0, nullptr));
    if (!m_WindowThread) return OpenFailed;

    // The thread sets the ready event whether or not it made a window; should
    // it end without doing so, its handle ends the wait instead.
    const HANDLE readyOrGone[] = {m_ReadyEvent.get(), m_WindowThread.get()};
    WaitForMultipleObjects(2, readyOrGone, FALSE, INFINITE);
    ResetEvent(m_ReadyEvent.get());
    if (!m_Window) return OpenFailed;

    // An index the library does not know opens the largest picture; the
    // record keeps what was stored.
    const unsigned char stored = m_Config.m_Format.m_Resolution;
    const unsigned char resolution = stored < ResolutionCount ? stored : 0;
    if (CameraInit(IgnoreCameraCallback, resolution, m_Window, m_Window) != 1) return OpenFailed;

    // Compared with itself, the record sends nothing; this only rewrites the file.
    SetConfig(m_Config);

    if (CameraGetImageSize(&m_Width, &m_Height) != 1 || !PlausibleImageSize(m_Width, m_Height)) {
        CameraUnInit();
        return OpenFailed;
    }

    m_OutWidth = m_Width;
    m_OutHeight = m_Height;
    m_RawImage.reset();
    m_OutFrame.reset();
    m_OutFrameBytes = m_OutHeight * m_OutWidth * 3;
    m_RawImage.reset(new (std::nothrow) unsigned char[static_cast<size_t>(m_Width) * m_Height * 24 / 8]);
    m_OutFrame.reset(new (std::nothrow) unsigned char[m_OutFrameBytes]);
    if (!m_RawImage || !m_OutFrame) {
        m_RawImage.reset();
        m_OutFrame.reset();
        m_OutFrameBytes = 0;
        CameraUnInit();
        return OpenFailed;
    }
    m_Opened = 1;
    return 1;
}

int CCamera::Play()
{
    ScopedLock lock(&m_CameraLock);
    if (m_Playing) return 1;
    m_Playing = 1;
    return CameraPlay();
}

int CCamera::Stop()
{
    ScopedLock lock(&m_CameraLock);
    if (!m_Playing) return 1;
    m_Playing = 0;
    return CameraStop();
}

int CCamera::Close()
{
    WindowResources resources;
    int result;
    {
        ScopedLock lock(&m_CameraLock);
        if (!m_Opened) return 1;
        m_Opened = 0;
        // The library stops with its uninitialisation; a later Open must be
        // able to start it again.
        m_Playing = 0;
        result = CameraUnInit();
        resources = DetachWindowResources();
        // No frame comes any more: a pin waiting for one copies the held
        // frame now instead of after its full wait, so stopping is prompt.
        if (resources.frameEvent) SetEvent(resources.frameEvent.get());
    }
    // Outside the lock: the window thread may be waiting for it in OnFrameMessage.
    EndWindowThread(resources);
    return result;
}

CCamera::WindowResources CCamera::DetachWindowResources()
{
    WindowResources resources;
    resources.window = m_Window;
    m_Window = nullptr;
    resources.thread = std::move(m_WindowThread);
    resources.readyEvent = std::move(m_ReadyEvent);
    resources.frameEvent = std::move(m_FrameEvent);
    return resources;
}

void CCamera::EndWindowThread(WindowResources& resources)
{
    // The message loop ends on a posted WM_DESTROY and then destroys its
    // window on its own thread, as a window must be.
    if (resources.window) PostMessageA(resources.window, WM_DESTROY, 0, 0);
    if (resources.thread) WaitForSingleObject(resources.thread.get(), INFINITE);
    resources.window = nullptr;
    resources.thread.reset();
    resources.readyEvent.reset();
    resources.frameEvent.reset();
}

DWORD WINAPI CCamera::WindowThreadMain(void* controller)
{
    CCamera* camera = static_cast<CCamera*>(controller);
    if (!camera) return static_cast<DWORD>(-1);
    const HANDLE ready = camera->m_ReadyEvent.get();
    if (!ModuleInstance) {
        SetEvent(ready);
        return static_cast<DWORD>(-1);
    }

    HWND window =
        CreateWindowExA(0, "BUTTON", "", WS_POPUP, 0, 0, 200, 80, nullptr, nullptr, ModuleInstance, nullptr);
    camera->m_Window = window;
    if (!window) {
        SetEvent(ready);
        return static_cast<DWORD>(-1);
    }

    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(camera));
    PreviousFrameWindowProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OnFrameMessage)));

    // Only a failure of the window's own start-up counts, not an error code
    // some earlier call left behind.
    SetLastError(0);
    ShowWindow(window, SW_HIDE);
    SendMessageA(window, WM_INITDIALOG, 0, 0);
    if (GetLastError() != 0) {
        DestroyWindow(window);
        camera->m_Window = nullptr;
        SetEvent(ready);
        return static_cast<DWORD>(-1);
    }
    SetEvent(ready);

    MSG message;
    for (;;) {
        const BOOL got = GetMessageA(&message, window, 0, 0);
        if (got <= 0 || message.message == WM_DESTROY) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (IsWindow(window)) DestroyWindow(window);
    return 0;
}

LRESULT CALLBACK CCamera::OnFrameMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CCamera* camera = reinterpret_cast<CCamera*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (camera && message == FrameReadyMessage) {
        try {
            camera->PullFrame();
        } catch (...) {
            // The lock is released by unwinding; the library still gets its answer.
        }
        return 1;
    }
    return CallWindowProcA(PreviousFrameWindowProc, window, message, wParam, lParam);
}

void CCamera::PullFrame()
{
    ScopedLock lock(&m_CameraLock);
    // A message still queued when the camera closed finds no camera to read.
    if (!m_Opened || !m_RawImage || !m_OutFrame) return;
    ++m_FramesReceived;
    if (m_Width == m_OutWidth && m_Height == m_OutHeight) {
        // The whole picture is handed on: pulling straight into the frame held
        // for the pins saves a copy, and the lock keeps the pins from seeing
        // a half-written frame either way.
        CameraGetImageDataRGB24(m_OutFrame.get());
    } else {
        CameraGetImageDataRGB24(m_RawImage.get());
        CropCopy(m_Width, m_Height, m_OutWidth, m_OutHeight, m_RawImage.get(), m_OutFrame.get());
    }
    SetEvent(m_FrameEvent.get());
}

void CCamera::CropCopy(int sourceWidth, int sourceHeight, int outputWidth, int outputHeight,
                       const unsigned char* source, unsigned char* destination)
{
    if (sourceWidth == outputWidth && sourceHeight == outputHeight) {
        if (sourceWidth > 0 && sourceHeight > 0)
            memcpy(destination, source, static_cast<size_t>(sourceWidth) * sourceHeight * 3);
        return;
    }
    // Only a part of the source can be taken; a larger output would read
    // outside the source picture.
    if (outputWidth > sourceWidth || outputHeight > sourceHeight || outputWidth <= 0) return;
    const int columnOffset = (sourceWidth - outputWidth) >> 1;
    const int rowOffset = (sourceHeight - outputHeight) >> 1;
    const unsigned char* row = source + 3 * (static_cast<size_t>(rowOffset) * sourceWidth + columnOffset);
    const size_t rowBytes = static_cast<size_t>(outputWidth) * 3;
    for (int y = 0; y < outputHeight; ++y) {
        memcpy(destination, row, rowBytes);
        row += static_cast<size_t>(sourceWidth) * 3;
        destination += rowBytes;
    }
}

int CCamera::GetConfig(CameraConfig& record)
{
    ReadSettingsFile(record);

    ScopedLock lock(&m_CameraLock);
    CameraGetAeState(&record.m_AeState);
    CameraGetAeTarget(&record.m_Target);
    CameraGetAnalogGain(&record.m_AnalogGain);
    CameraGetExposureTime(&record.m_ExposureTime);
    CameraGetGain(&record.m_RedGain, &record.m_GreenGain, &record.m_BlueGain);
    CameraGetGamma(&record.m_Gamma);
    CameraGetContrast(&record.m_Contrast);
    CameraGetSaturation(&record.m_Saturation);
    CameraGetColorEnhancement(&record.m_ColorEnhancement);
    memset(record.m_Format.m_FormatWords, 0, sizeof(record.m_Format.m_FormatWords));
    m_Config = record;
    return 1;
}

int CCamera::SetConfig(const CameraConfig& record)
{
    WriteSettingsFile(record);

    ScopedLock lock(&m_CameraLock);
    // A new resolution takes effect at the next Open; nothing goes to the camera.
    if (m_Config.m_Format.m_Resolution != record.m_Format.m_Resolution) {
        m_Config = record;
        return 1;
    }

    const CameraConfig& current = m_Config;
    if (record.m_AeState != current.m_AeState) CameraSetAeState(record.m_AeState);
    if (record.m_Target != current.m_Target) CameraSetAeTarget(record.m_Target);
    if (record.m_AnalogGain != current.m_AnalogGain) CameraSetAnalogGain(record.m_AnalogGain);
    if (record.m_ExposureTime != current.m_ExposureTime) CameraSetExposureTime(record.m_ExposureTime);
    if (record.m_RedGain != current.m_RedGain || record.m_GreenGain != current.m_GreenGain ||
        record.m_BlueGain != current.m_BlueGain) {
        CameraSetGain(static_cast<unsigned short>(record.m_RedGain),
                      static_cast<unsigned short>(record.m_GreenGain),
                      static_cast<unsigned short>(record.m_BlueGain));
    }
    if (record.m_Gamma != current.m_Gamma) CameraSetGamma(record.m_Gamma);
    if (record.m_Contrast != current.m_Contrast) CameraSetContrast(record.m_Contrast);
    if (record.m_Saturation != current.m_Saturation) CameraSetSaturation(record.m_Saturation);
    if (record.m_ColorEnhancement != current.m_ColorEnhancement)
        CameraSetColorEnhancement(record.m_ColorEnhancement);
    m_Config = record;
    return 1;
}

int CCamera::GetFormats(BITMAPINFOHEADER* formats, int& count)
{
    ScopedLock lock(&m_CameraLock);
    if (count < 1) {
        count = 0;
        return 1;
    }
    const int MaxFormats = 5;
    if (count > MaxFormats) count = MaxFormats;
    if (!formats) {
        count = 0;
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        BITMAPINFOHEADER& header = formats[i];
        memset(&header, 0, sizeof(header));
        header.biSize = sizeof(BITMAPINFOHEADER);
        header.biWidth = 3032;
        header.biHeight = 2016;
        header.biPlanes = 1;
        header.biBitCount = 24;
        header.biSizeImage = 3032 * 2016 * 24 / 8;
    }
    return 1;
}

int CCamera::CopyFrameWait(unsigned char* destination, int size)
{
    HANDLE frameEvent = nullptr;
    {
        ScopedLock lock(&m_CameraLock);
        if (!destination) return m_OutFrameBytes;
        // A private handle to the event: Close may release the controller's
        // own while this thread waits.
        if (m_FrameEvent)
            DuplicateHandle(GetCurrentProcess(), m_FrameEvent.get(), GetCurrentProcess(), &frameEvent, 0,
                            FALSE, DUPLICATE_SAME_ACCESS);
    }
    UniqueHandle waitEvent(frameEvent);
    if (waitEvent && WaitForSingleObject(waitEvent.get(), FrameWaitMilliseconds) == WAIT_OBJECT_0)
        ResetEvent(waitEvent.get());
    CopyOutFrame(destination, size);
    return 0;
}

int CCamera::CopyFrameNow(unsigned char* destination, int size)
{
    if (!destination) {
        ScopedLock lock(&m_CameraLock);
        return m_OutFrameBytes;
    }
    InterlockedIncrement(&m_FramesDelivered);
    CopyOutFrame(destination, size);
    return 0;
}

void CCamera::CopyOutFrame(unsigned char* destination, int size)
{
    ScopedLock lock(&m_CameraLock);
    if (!m_OutFrame || size <= 0) return;
    const int bytes = size < m_OutFrameBytes ? size : m_OutFrameBytes;
    memcpy(destination, m_OutFrame.get(), static_cast<size_t>(bytes));
}
