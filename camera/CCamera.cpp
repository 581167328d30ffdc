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

// The controller that has the camera library open. The library drives one
// camera for the whole process: a second opening would take the camera away
// from the first controller and send its frames to the wrong window.
CCamera* volatile LibraryHolder = nullptr;

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

const CameraResolution CameraResolutions[CameraResolutionCount] = {
    {3032, 2016}, {1600, 1200}, {1280, 960}, {800, 600}};

int EffectiveResolution(int stored)
{
    return (stored >= 0 && stored < CameraResolutionCount) ? stored : 0;
}

CCamera::CCamera()
    : m_Opened(0), m_Playing(0), m_OutFrameBytes(0), m_Width(0), m_Height(0), m_OutWidth(0), m_OutHeight(0),
      m_Window(nullptr), m_FramesReceived(0), m_FramesDelivered(0), m_FrameSequence(0)
{
}

CCamera::~CCamera()
{
    if (m_Opened) Close();
    WindowResources leftovers = DetachWindowResources();
    EndWindowThread(leftovers);
    ReleaseLibrary();
}

int CCamera::Open(int resolution)
{
    WindowResources leftovers;
    int result;
    {
        ScopedLock lock(&m_CameraLock);
        result = OpenLocked(resolution);
        if (result != 1) leftovers = DetachWindowResources();
    }
    // A failed opening leaves no thread, window or event behind.
    EndWindowThread(leftovers);
    return result;
}

bool CCamera::ClaimLibrary()
{
    CCamera* const holder = static_cast<CCamera*>(
        InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&LibraryHolder), this, nullptr));
    return holder == nullptr || holder == this;
}

void CCamera::ReleaseLibrary()
{
    InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&LibraryHolder), nullptr, this);
}

int CCamera::OpenLocked(int resolution)
{
    if (m_Opened) return 1;
    if (!ClaimLibrary()) return OpenFailed;
    const int chosen = resolution == StoredResolution ? m_Config.m_Format.m_Resolution : resolution;
    const int result = OpenLibrary(static_cast<unsigned char>(EffectiveResolution(chosen)));
    if (result != 1) ReleaseLibrary();
    return result;
}

int CCamera::OpenLibrary(unsigned char resolution)
{
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

    if (CameraInit(IgnoreCameraCallback, resolution, m_Window, m_Window) != 1) return OpenFailed;

    // Handing the record back as it is sends nothing to the camera; it only
    // rewrites the file. The file is written directly, since the settings
    // lock must not be taken while m_CameraLock is held.
    WriteSettingsFile(m_Config);

    if (CameraGetImageSize(&m_Width, &m_Height) != 1 || !PlausibleImageSize(m_Width, m_Height)) {
        CameraUnInit();
        return OpenFailed;
    }

    m_OutWidth = m_Width;
    m_OutHeight = m_Height;
    m_OutFrame.reset();
    m_OutFrameBytes = m_OutHeight * m_OutWidth * 3;
    m_OutFrame.reset(new (std::nothrow) unsigned char[m_OutFrameBytes]);
    if (!m_OutFrame) {
        m_OutFrameBytes = 0;
        CameraUnInit();
        return OpenFailed;
    }
    m_FrameSequence = 0;
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
        ReleaseLibrary();
        resources = DetachWindowResources();
        // No frame comes any more: a pin waiting for one copies the held
        // frame now instead of after its full wait, so stopping is prompt.
        if (resources.frameEvent) SetEvent(resources.frameEvent.get());
        m_FrameArrived.WakeAll();
    }
    // Outside the lock: the window thread may be waiting for it in OnFrameMessage.
    EndWindowThread(resources);
    return result;
}

CCamera::WindowResources CCamera::DetachWindowResources()
{
    WindowResources resources;
    resources.window = m_Window;
    // A frame message still queued finds no controller behind the window.
    if (m_Window) SetWindowLongPtrA(m_Window, GWLP_USERDATA, 0);
    m_Window = nullptr;
    resources.thread = std::move(m_WindowThread);
    resources.readyEvent = std::move(m_ReadyEvent);
    resources.frameEvent = std::move(m_FrameEvent);
    return resources;
}

void CCamera::EndWindowThread(WindowResources& resources)
{
    // The message loop ends on a posted WM_DESTROY and then destroys its
    // window on its own thread, as a window must be. The thread no longer
    // reaches the controller, so a thread that does not end in time is left
    // to end by itself rather than holding up the caller for good.
    if (resources.window) PostMessageA(resources.window, WM_DESTROY, 0, 0);
    if (resources.thread) WaitForSingleObject(resources.thread.get(), WindowThreadEndMilliseconds);
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
    if (!m_Opened || !m_OutFrame) return;
    ++m_FramesReceived;
    // The whole picture is handed on, so it is pulled straight into the frame
    // held for the pins; the lock keeps them from seeing a half-written frame.
    CameraGetImageDataRGB24(m_OutFrame.get());
    LARGE_INTEGER pulled;
    QueryPerformanceCounter(&pulled);
    m_FrameArrivalCounter = pulled.QuadPart;
    ++m_FrameSequence;
    SetEvent(m_FrameEvent.get());
    m_FrameArrived.WakeAll();
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
    ScopedLock settings(&m_SettingsLock);
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
    ScopedLock settings(&m_SettingsLock);
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

int CCamera::ChangeConfig(const std::function<void(CameraConfig&)>& change)
{
    ScopedLock settings(&m_SettingsLock);
    CameraConfig record;
    GetConfig(record);
    change(record);
    return SetConfig(record);
}

unsigned int CCamera::RowTimeMicroseconds()
{
    unsigned int rowTime = 0;
    CameraGetRowTime(&rowTime);
    return rowTime;
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
    // One entry for each resolution index; the last one, which stands for
    // no index, repeats the first.
    for (int i = 0; i < count; ++i) {
        const CameraResolution& size = CameraResolutions[EffectiveResolution(i)];
        BITMAPINFOHEADER& header = formats[i];
        memset(&header, 0, sizeof(header));
        header.biSize = sizeof(BITMAPINFOHEADER);
        header.biWidth = size.width;
        header.biHeight = size.height;
        header.biPlanes = 1;
        header.biBitCount = 24;
        header.biSizeImage = static_cast<DWORD>(PictureLayout::Video(size.width, size.height).Bytes());
    }
    return 1;
}

LONG CCamera::FrameSequence()
{
    ScopedLock lock(&m_CameraLock);
    return m_FrameSequence;
}

bool CCamera::WaitForFrameAfter(LONG sequence, DWORD milliseconds)
{
    const DWORD started = GetTickCount();
    ScopedLock lock(&m_CameraLock);
    while (m_Opened && m_FrameSequence <= sequence) {
        const DWORD waited = GetTickCount() - started;
        if (waited >= milliseconds) break;
        m_FrameArrived.Wait(m_CameraLock, milliseconds - waited);
    }
    return m_FrameSequence > sequence;
}

LONG CCamera::CopyLatestFrame(const PictureLayout& layout, unsigned char* pixels, size_t bytes,
                              LONGLONG* arrivalCounter)
{
    ScopedLock lock(&m_CameraLock);
    if (m_FrameSequence == 0 || !m_OutFrame || !pixels) return 0;
    CopyCentred(PictureLayout::Packed(m_OutWidth, m_OutHeight), m_OutFrame.get(), layout, pixels, bytes);
    if (arrivalCounter) *arrivalCounter = m_FrameArrivalCounter;
    return m_FrameSequence;
}

CCamera::FrameStamp CCamera::LatestFrameStamp()
{
    ScopedLock lock(&m_CameraLock);
    const FrameStamp stamp = {m_FrameSequence, m_FrameArrivalCounter};
    return stamp;
}

PictureLayout CCamera::FrameLayout()
{
    ScopedLock lock(&m_CameraLock);
    return m_Opened ? PictureLayout::Packed(m_OutWidth, m_OutHeight) : PictureLayout();
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
