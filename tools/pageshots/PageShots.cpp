// pageshots: shows one of the module's property pages in the platform's
// property frame, the way a capture program does, and holds it open while a
// picture is taken.
//
//   pageshots settings|format READY_FILE
//
// The module (QuillonFilter.dll, beside this program) is loaded directly; its
// page classes are made known to COM for this process only, so no
// registration is needed. Once the frame has painted, its client rectangle on the screen
// ("left top width height") is written to READY_FILE; the frame is closed when
// that file is deleted again (or after a minute).
#include <windows.h>
#include <dshow.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "camera/ICameraConfig.h"
#include "framework/Raii.h"

namespace {

const DWORD PaintSettleMilliseconds = 1500;
const DWORD HoldLimitMilliseconds = 60000;

typedef HRESULT(STDAPICALLTYPE* GetClassObjectFunction)(REFCLSID, REFIID, void**);

struct Options {
    bool settingsPage = true;
    std::string readyFile;
};

bool ParseArguments(int argc, char** argv, Options* options)
{
    if (argc != 3) return false;
    if (std::strcmp(argv[1], "settings") == 0) {
        options->settingsPage = true;
    } else if (std::strcmp(argv[1], "format") == 0) {
        options->settingsPage = false;
    } else {
        return false;
    }
    options->readyFile = argv[2];
    return true;
}

// Registers a class factory of the module with COM for this process.
class ClassRegistration {
public:
    ClassRegistration(GetClassObjectFunction getClassObject, REFCLSID id)
    {
        ComPtr<IClassFactory> factory;
        m_Result = getClassObject(id, IID_IClassFactory, factory.putVoid());
        if (SUCCEEDED(m_Result))
            m_Result = CoRegisterClassObject(id, factory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_Cookie);
    }
    ~ClassRegistration()
    {
        if (SUCCEEDED(m_Result)) CoRevokeClassObject(m_Cookie);
    }
    ClassRegistration(const ClassRegistration&) = delete;
    ClassRegistration& operator=(const ClassRegistration&) = delete;
    HRESULT Result() const { return m_Result; }

private:
    HRESULT m_Result;
    DWORD m_Cookie = 0;
};

ComPtr<IPin> PinNamed(IBaseFilter* filter, const wchar_t* name)
{
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put()))) return ComPtr<IPin>();
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.put(), nullptr) == S_OK) {
        PIN_INFO info = {};
        if (FAILED(pin->QueryPinInfo(&info))) continue;
        if (info.pFilter) info.pFilter->Release();
        if (wcscmp(info.achName, name) == 0) return pin;
    }
    return ComPtr<IPin>();
}

// Watches for the frame on the thread that runs it, reports its rectangle
// once painted and closes it when told.
class FrameHolder {
public:
    FrameHolder(DWORD frameThread, std::string readyFile)
        : m_FrameThread(frameThread), m_ReadyFile(std::move(readyFile))
    {
        m_Thread.reset(CreateThread(nullptr, 0, Main, this, 0, nullptr));
    }
    ~FrameHolder() { WaitForSingleObject(m_Thread.get(), INFINITE); }
    FrameHolder(const FrameHolder&) = delete;
    FrameHolder& operator=(const FrameHolder&) = delete;

    bool Reported() const { return m_Reported; }

private:
    static DWORD WINAPI Main(void* holder)
    {
        static_cast<FrameHolder*>(holder)->Hold();
        return 0;
    }

    static BOOL CALLBACK FindFrame(HWND window, LPARAM found)
    {
        char className[16] = {};
        GetClassNameA(window, className, sizeof(className));
        if (std::strcmp(className, "#32770") == 0 && IsWindowVisible(window)) {
            *reinterpret_cast<HWND*>(found) = window;
            return FALSE;
        }
        return TRUE;
    }

    HWND WaitForFrame() const
    {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < HoldLimitMilliseconds) {
            HWND frame = nullptr;
            EnumThreadWindows(m_FrameThread, FindFrame, reinterpret_cast<LPARAM>(&frame));
            if (frame) return frame;
            Sleep(50);
        }
        return nullptr;
    }

    bool WriteReadyFile(HWND frame) const
    {
        // The client area: without a window manager nobody draws the frame's border.
        RECT bounds;
        if (!GetClientRect(frame, &bounds)) return false;
        MapWindowPoints(frame, HWND_DESKTOP, reinterpret_cast<POINT*>(&bounds), 2);
        // Written under another name first, so that the reader never sees half a line.
        const std::string partial = m_ReadyFile + ".partial";
        FILE* file = std::fopen(partial.c_str(), "w");
        if (!file) return false;
        std::fprintf(file, "%ld %ld %ld %ld\n", bounds.left, bounds.top, bounds.right - bounds.left,
                     bounds.bottom - bounds.top);
        std::fclose(file);
        return MoveFileExA(partial.c_str(), m_ReadyFile.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
    }

    void Hold()
    {
        HWND frame = WaitForFrame();
        if (!frame) return;
        Sleep(PaintSettleMilliseconds);
        m_Reported = WriteReadyFile(frame);
        const DWORD start = GetTickCount();
        while (m_Reported && GetFileAttributesA(m_ReadyFile.c_str()) != INVALID_FILE_ATTRIBUTES &&
               GetTickCount() - start < HoldLimitMilliseconds)
            Sleep(50);
        // The frame closes on its Cancel command.
        PostMessageA(frame, WM_COMMAND, IDCANCEL, 0);
    }

    DWORD m_FrameThread;
    std::string m_ReadyFile;
    volatile bool m_Reported = false;
    UniqueHandle m_Thread;
};

int ShowPage(const Options& options)
{
    HMODULE module = LoadLibraryA("QuillonFilter.dll");
    if (!module) {
        std::fprintf(stderr, "pageshots: cannot load QuillonFilter.dll\n");
        return 2;
    }
    auto getClassObject =
        reinterpret_cast<GetClassObjectFunction>(reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!getClassObject) {
        std::fprintf(stderr, "pageshots: the module exports no DllGetClassObject\n");
        return 2;
    }

    int status = 0;
    {
        ClassRegistration settingsPage(getClassObject, CLSID_CameraSettingsPage);
        ClassRegistration formatPage(getClassObject, CLSID_FormatPage);
        ComPtr<IClassFactory> filterFactory;
        ComPtr<IBaseFilter> filter;
        HRESULT result = getClassObject(CLSID_BriscaCamera, IID_IClassFactory, filterFactory.putVoid());
        if (SUCCEEDED(result)) result = filterFactory->CreateInstance(nullptr, IID_IBaseFilter, filter.putVoid());
        if (FAILED(settingsPage.Result()) || FAILED(formatPage.Result()) || FAILED(result)) {
            std::fprintf(stderr, "pageshots: cannot create the module's objects (0x%08lx)\n",
                         static_cast<unsigned long>(FAILED(result) ? result : E_FAIL));
            return 2;
        }

        // The settings page is listed by the filter, the format page by the "~Capture" pin.
        ComPtr<IUnknown> object;
        if (options.settingsPage) {
            filter->QueryInterface(IID_IUnknown, object.putVoid());
        } else {
            ComPtr<IPin> pin = PinNamed(filter.get(), L"~Capture");
            if (pin) pin->QueryInterface(IID_IUnknown, object.putVoid());
        }
        ComPtr<ISpecifyPropertyPages> specify;
        CAUUID pages = {0, nullptr};
        if (!object || FAILED(object->QueryInterface(IID_ISpecifyPropertyPages, specify.putVoid())) ||
            FAILED(specify->GetPages(&pages)) || pages.cElems == 0) {
            std::fprintf(stderr, "pageshots: the object lists no property page\n");
            return 2;
        }
        TaskMemory<GUID> pageList(pages.pElems);

        IUnknown* objects[] = {object.get()};
        const wchar_t* caption = options.settingsPage ? L"Brisca Camera" : L"~Capture";
        FrameHolder holder(GetCurrentThreadId(), options.readyFile);
        result = OleCreatePropertyFrame(nullptr, 0, 0, caption, 1, objects, pages.cElems, pageList.get(),
                                        LOCALE_USER_DEFAULT, 0, nullptr);
        if (FAILED(result)) {
            std::fprintf(stderr, "pageshots: the property frame failed (0x%08lx)\n", static_cast<unsigned long>(result));
            status = 3;
        }
        // The holder's destructor waits until it has closed the frame.
    }
    FreeLibrary(module);
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseArguments(argc, argv, &options)) {
        std::fprintf(stderr, "usage: pageshots settings|format READY_FILE\n");
        return 1;
    }
    if (FAILED(OleInitialize(nullptr))) {
        std::fprintf(stderr, "pageshots: OLE cannot start\n");
        return 2;
    }
    const int status = ShowPage(options);
    OleUninitialize();
    return status;
}
