#include "tests/support/PageTestDoubles.h"

#include <cstring>

STDMETHODIMP TestPageSite::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyPageSite)) {
        *out = static_cast<IPropertyPageSite*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TestPageSite::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_References));
}

STDMETHODIMP_(ULONG) TestPageSite::Release()
{
    return static_cast<ULONG>(InterlockedDecrement(&m_References));
}

STDMETHODIMP TestPageSite::OnStatusChange(DWORD flags)
{
    m_StatusChanges.push_back(flags);
    return S_OK;
}

STDMETHODIMP TestPageSite::GetLocaleID(LCID* locale)
{
    if (!locale) return E_POINTER;
    *locale = LOCALE_USER_DEFAULT;
    return S_OK;
}

STDMETHODIMP TestPageSite::GetPageContainer(IUnknown** container)
{
    if (container) *container = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP TestPageSite::TranslateAccelerator(MSG* /*message*/)
{
    return S_FALSE;
}

STDMETHODIMP FakeCameraConfig::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ICameraConfig)) {
        *out = static_cast<ICameraConfig*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeCameraConfig::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_References));
}

STDMETHODIMP_(ULONG) FakeCameraConfig::Release()
{
    return static_cast<ULONG>(InterlockedDecrement(&m_References));
}

STDMETHODIMP FakeCameraConfig::GetConfig(CameraConfig* record)
{
    if (!record) return E_POINTER;
    ++m_GetConfigCalls;
    *record = m_Stored;
    return S_OK;
}

STDMETHODIMP FakeCameraConfig::SetConfig(CameraConfig* record)
{
    if (!record) return E_POINTER;
    m_SetConfigRecords.push_back(*record);
    return S_OK;
}

STDMETHODIMP PlainObject::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) {
        *out = this;
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PlainObject::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_References));
}

STDMETHODIMP_(ULONG) PlainObject::Release()
{
    return static_cast<ULONG>(InterlockedDecrement(&m_References));
}

namespace {

const char ParentClassName[] = "QuillonPageTestParent";

void RegisterParentClass()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = ParentClassName;
    RegisterClassA(&windowClass);  // fails harmlessly when already registered
}

// Taking down a visible top-level window makes Wine wait two seconds for a
// window manager (there is none under Xvfb), so one top-level window lives
// for the whole test program and each test gets a fresh child of it.
HWND SharedTopLevelWindow()
{
    static HWND window = nullptr;
    if (!window) {
        RegisterParentClass();
        window = CreateWindowExA(0, ParentClassName, "page host", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 10, 10,
                                 520, 720, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    }
    return window;
}

} // namespace

TestParentWindow::TestParentWindow()
{
    m_Window = CreateWindowExA(0, ParentClassName, "page parent", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 500,
                               700, SharedTopLevelWindow(), nullptr, GetModuleHandleA(nullptr), nullptr);
    PumpMessages();
}

TestParentWindow::~TestParentWindow()
{
    if (m_Window) DestroyWindow(m_Window);
    PumpMessages();
}

void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void PaintNow(HWND window)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    PumpMessages();
}

std::string WindowText(HWND window)
{
    char text[256] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

ULONG ReferenceCount(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

bool SameConfig(const CameraConfig& a, const CameraConfig& b)
{
    return a.m_Format.m_Resolution == b.m_Format.m_Resolution && a.m_Format.m_FormatValue == b.m_Format.m_FormatValue &&
           std::memcmp(a.m_Format.m_FormatWords, b.m_Format.m_FormatWords, sizeof(a.m_Format.m_FormatWords)) == 0 &&
           a.m_RedGain == b.m_RedGain && a.m_GreenGain == b.m_GreenGain && a.m_BlueGain == b.m_BlueGain &&
           a.m_Gamma == b.m_Gamma && a.m_Contrast == b.m_Contrast && a.m_ColorEnhancement == b.m_ColorEnhancement &&
           a.m_Saturation == b.m_Saturation && a.m_AeState == b.m_AeState && a.m_Target == b.m_Target &&
           a.m_ExposureTime == b.m_ExposureTime && a.m_AnalogGain == b.m_AnalogGain;
}
