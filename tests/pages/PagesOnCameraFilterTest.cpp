// The two pages attached to the real camera filter and its "~Capture" pin:
// first driven through their own interface with a test site, then shown in
// the platform's own property frame.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <dshow.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>
#include <string>
#include <vector>

#include "camera/CameraFilter.h"
#include "camera/ICameraConfig.h"
#include "camera/SettingsFile.h"
#include "framework/ObjectBase.h"
#include "framework/Raii.h"
#include "framework/Sync.h"
#include "pages/FormatPage.h"
#include "pages/PropertyPage.h"
#include "pages/resource.h"
#include "sdk/QuillonSim.h"
#include "tests/support/IsolatedTempDirectory.h"
#include "tests/support/PageTestDoubles.h"
#include "tests/support/SimCallLog.h"

namespace {

const DWORD PastQuietSecond = 1100;
const wchar_t FrameCaption[] = L"Page frame test";

// Creates one kind of page for COM, so that the property frame can create
// the pages by class identifier without a registered module.
class PageFactory : public IClassFactory {
public:
    explicit PageFactory(ObjectBase* (*create)(IUnknown*, HRESULT*)) : m_Create(create) {}

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&m_References)); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(InterlockedDecrement(&m_References)); }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        HRESULT result = S_OK;
        ObjectBase* page = m_Create(nullptr, &result);
        if (!page) return result;
        page->InnerAddRef();
        result = page->InnerQueryInterface(iid, out);
        page->InnerRelease();
        return result;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    ObjectBase* (*m_Create)(IUnknown*, HRESULT*);
    volatile LONG m_References = 1;
};

// Registers a factory for the lifetime of the object.
class FactoryRegistration {
public:
    FactoryRegistration(REFCLSID id, IClassFactory* factory)
    {
        m_Result = CoRegisterClassObject(id, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_Cookie);
    }
    ~FactoryRegistration()
    {
        if (SUCCEEDED(m_Result)) CoRevokeClassObject(m_Cookie);
    }
    HRESULT Result() const { return m_Result; }

private:
    DWORD m_Cookie = 0;
    HRESULT m_Result;
};

ComPtr<IPin> PinNamed(IBaseFilter* filter, const wchar_t* name)
{
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put()))) return ComPtr<IPin>();
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.put(), nullptr) == S_OK) {
        PIN_INFO info = {};
        pin->QueryPinInfo(&info);
        if (info.pFilter) info.pFilter->Release();
        if (wcscmp(info.achName, name) == 0) return pin;
    }
    return ComPtr<IPin>();
}

// What the watcher saw of the property frame before it closed it.
struct FrameSighting {
    bool frameFound = false;
    bool controlFound = false;
    bool controlVisible = false;
    std::string controlText;
    std::string tabTitle;
    std::string caption;
};

struct SearchState {
    int controlId;
    HWND control = nullptr;
    HWND tabs = nullptr;
};

BOOL CALLBACK FindInFrame(HWND window, LPARAM parameter)
{
    auto* state = reinterpret_cast<SearchState*>(parameter);
    char className[64] = {};
    GetClassNameA(window, className, sizeof(className));
    if (!state->tabs && lstrcmpiA(className, WC_TABCONTROLA) == 0) state->tabs = window;
    if (!state->control && GetDlgCtrlID(window) == state->controlId && lstrcmpiA(className, "#32770") != 0)
        state->control = window;
    return TRUE;
}

// Waits for the frame and for the page's control `controlId` in it, notes
// what it shows, then closes the frame as its Cancel button would.
class FrameWatcher {
public:
    FrameWatcher(DWORD frameThread, int controlId) : m_FrameThread(frameThread), m_ControlId(controlId)
    {
        m_Thread.reset(CreateThread(nullptr, 0, WatchMain, this, 0, nullptr));
    }
    ~FrameWatcher() { Join(); }

    // Waits until the watcher has closed the frame (or given up).
    void Join() { WaitForSingleObject(m_Thread.get(), INFINITE); }
    const FrameSighting& Sighting() const { return m_Sighting; }

private:
    static DWORD WINAPI WatchMain(void* parameter)
    {
        static_cast<FrameWatcher*>(parameter)->Watch();
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

    void Watch()
    {
        const DWORD start = GetTickCount();
        HWND frame = nullptr;
        SearchState state{m_ControlId};
        while (GetTickCount() - start < 20000) {
            frame = nullptr;
            EnumThreadWindows(m_FrameThread, FindFrame, reinterpret_cast<LPARAM>(&frame));
            if (frame) {
                m_Sighting.frameFound = true;
                EnumChildWindows(frame, FindInFrame, reinterpret_cast<LPARAM>(&state));
                if (state.control && IsWindowVisible(state.control)) break;
            }
            Sleep(50);
        }
        if (state.control) {
            m_Sighting.controlFound = true;
            m_Sighting.controlVisible = IsWindowVisible(state.control) != FALSE;
            m_Sighting.controlText = WindowText(state.control);
        }
        if (state.tabs) {
            char title[128] = {};
            TCITEMA item = {};
            item.mask = TCIF_TEXT;
            item.pszText = title;
            item.cchTextMax = sizeof(title);
            SendMessageA(state.tabs, TCM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
            m_Sighting.tabTitle = title;
        }
        if (frame) {
            char caption[128] = {};
            GetWindowTextA(frame, caption, sizeof(caption));
            m_Sighting.caption = caption;
            PostMessageA(frame, WM_COMMAND, IDCANCEL, 0);
        }
    }

    DWORD m_FrameThread;
    int m_ControlId;
    FrameSighting m_Sighting;
    UniqueHandle m_Thread;
};

class PagesOnCameraFilterTest : public testing::Test {
protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        SimReset();
        m_LiveBefore = LiveObjectCount;
        HRESULT result = S_OK;
        ObjectBase* filter = CameraFilter::Create(nullptr, &result);
        ASSERT_NE(nullptr, filter);
        ASSERT_EQ(S_OK, filter->InnerQueryInterface(IID_IBaseFilter, m_Filter.putVoid()));
        m_CapturePin = PinNamed(m_Filter.get(), L"~Capture");
        ASSERT_TRUE(m_CapturePin);
    }

    void TearDown() override
    {
        m_CapturePin.reset();
        m_Filter.reset();
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
        CoUninitialize();
    }

    // The page list an object hands out, as a host reads it.
    static std::vector<CLSID> PagesOf(IUnknown* object)
    {
        std::vector<CLSID> pages;
        ComPtr<ISpecifyPropertyPages> specify;
        if (FAILED(object->QueryInterface(IID_ISpecifyPropertyPages, specify.putVoid()))) return pages;
        CAUUID list = {};
        if (FAILED(specify->GetPages(&list))) return pages;
        pages.assign(list.pElems, list.pElems + list.cElems);
        CoTaskMemFree(list.pElems);
        return pages;
    }

    // The camera settings page on the filter, shown and painted; its inner
    // settings dialog, or null when something failed.
    HWND ShowSettingsPage(ComPtr<IPropertyPage>& page)
    {
        ObjectBase* object = PropertyPage::Create(nullptr, nullptr);
        if (!object || FAILED(object->InnerQueryInterface(IID_IPropertyPage, page.putVoid()))) return nullptr;
        IUnknown* objects[] = {m_Filter.get()};
        RECT place = {0, 0, 330, 500};
        EXPECT_EQ(S_OK, page->SetPageSite(&m_Site));
        EXPECT_EQ(S_OK, page->SetObjects(1, objects));
        if (page->Activate(m_Parent.Handle(), &place, FALSE) != S_OK) return nullptr;
        PaintNow(m_Parent.FirstChild());
        return GetWindow(m_Parent.FirstChild(), GW_CHILD);
    }

    static void ClosePage(IPropertyPage* page)
    {
        EXPECT_EQ(S_OK, page->Deactivate());
        EXPECT_EQ(S_OK, page->SetObjects(0, nullptr));
        EXPECT_EQ(S_OK, page->SetPageSite(nullptr));
    }

    IsolatedTempDirectory m_Temp;
    LONG m_LiveBefore = 0;
    ComPtr<IBaseFilter> m_Filter;
    ComPtr<IPin> m_CapturePin;
    TestPageSite m_Site;
    TestParentWindow m_Parent;
};

TEST_F(PagesOnCameraFilterTest, FormatPageOnCapturePinStoresTheNewResolution)
{
    CameraConfig stored;
    stored.m_Format.m_Resolution = 2;
    ASSERT_EQ(1, WriteSettingsFile(stored));

    ComPtr<IPropertyPage> page;
    ASSERT_EQ(S_OK, FormatPage::Create(nullptr, nullptr)->InnerQueryInterface(IID_IPropertyPage, page.putVoid()));
    ASSERT_EQ(S_OK, page->SetPageSite(&m_Site));
    IUnknown* objects[] = {m_CapturePin.get()};
    ASSERT_EQ(S_OK, page->SetObjects(1, objects));
    RECT place = {0, 0, 320, 200};
    ASSERT_EQ(S_OK, page->Activate(m_Parent.Handle(), &place, FALSE));
    HWND dialog = m_Parent.FirstChild();
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, IDC_RESOLUTION_1280));

    SimClearCalls();
    SendMessageA(GetDlgItem(dialog, IDC_RESOLUTION_3032), BM_CLICK, 0, 0);
    EXPECT_EQ(S_OK, page->Apply());
    CameraConfig written;
    written.m_Format.m_Resolution = 99;
    ASSERT_EQ(1, ReadSettingsFile(written));
    EXPECT_EQ(0, written.m_Format.m_Resolution);
    // A new resolution waits for the next opening: nothing goes to the camera now.
    EXPECT_TRUE(SimCallsStartingWith("CameraSet").empty());

    ClosePage(page.get());
}

TEST_F(PagesOnCameraFilterTest, SettingsPageOnFilterWritesTheSettingsFile)
{
    ComPtr<IPropertyPage> page;
    const HWND settings = ShowSettingsPage(page);
    ASSERT_NE(nullptr, settings);
    // The page took the camera's own values: contrast 0 at power-on.
    HWND contrast = GetDlgItem(settings, IDC_CONTRAST);
    EXPECT_EQ(0, SendMessageA(contrast, TBM_GETPOS, 0, 0));

    Sleep(PastQuietSecond);
    SendMessageA(contrast, WM_KEYDOWN, VK_RIGHT, 0);
    PaintNow(contrast);
    ASSERT_EQ(S_OK, page->IsPageDirty());
    EXPECT_EQ(S_OK, page->Apply());
    CameraConfig written;
    ASSERT_EQ(1, ReadSettingsFile(written));
    EXPECT_EQ(1, written.m_Contrast);
    EXPECT_EQ(100u, written.m_RedGain);  // the power-on red gain, handed back unchanged

    ClosePage(page.get());
}

// A capture program's controls and the page go the same way: what one sets,
// the other shows.
TEST_F(PagesOnCameraFilterTest, ThePageAndTheStandardControlsSeeEachOthersValues)
{
    ComPtr<IAMVideoProcAmp> procAmp;
    ASSERT_EQ(S_OK, m_Filter.queryInto(IID_IAMVideoProcAmp, procAmp));
    ASSERT_EQ(S_OK, procAmp->Set(VideoProcAmp_Contrast, 77, VideoProcAmp_Flags_Manual));
    ASSERT_EQ(S_OK, procAmp->Set(VideoProcAmp_Brightness, 150, VideoProcAmp_Flags_Manual));

    ComPtr<IPropertyPage> page;
    const HWND settings = ShowSettingsPage(page);
    ASSERT_NE(nullptr, settings);
    HWND contrast = GetDlgItem(settings, IDC_CONTRAST);
    EXPECT_EQ(77, SendMessageA(contrast, TBM_GETPOS, 0, 0));
    EXPECT_EQ(150, SendMessageA(GetDlgItem(settings, IDC_AE_TARGET), TBM_GETPOS, 0, 0));

    // A slider's move reaches the camera at once, and the controls read it.
    SendMessageA(contrast, TBM_SETPOS, TRUE, 90);
    NMHDR released = {contrast, IDC_CONTRAST, static_cast<UINT>(NM_RELEASEDCAPTURE)};
    SendMessageA(settings, WM_NOTIFY, IDC_CONTRAST, reinterpret_cast<LPARAM>(&released));
    LONG value = 0, flags = 0;
    ASSERT_EQ(S_OK, procAmp->Get(VideoProcAmp_Contrast, &value, &flags));
    EXPECT_EQ(90, value);

    ClosePage(page.get());
}

TEST_F(PagesOnCameraFilterTest, FilterAndPinListThePages)
{
    EXPECT_EQ(std::vector<CLSID>{CLSID_CameraSettingsPage}, PagesOf(m_Filter.get()));
    EXPECT_EQ(std::vector<CLSID>{CLSID_FormatPage}, PagesOf(m_CapturePin.get()));
}

struct FrameCase {
    const char* name;
    bool onFilter;
    int controlId;
    const char* controlText;
    const char* title;
    bool writesSettings;
};

class PropertyFrameTest : public PagesOnCameraFilterTest, public testing::WithParamInterface<FrameCase> {};

TEST_P(PropertyFrameTest, PageShowsInThePlatformFrameAndLeavesNothingHeld)
{
    const FrameCase& c = GetParam();
    PageFactory settingsFactory(PropertyPage::Create);
    PageFactory formatFactory(FormatPage::Create);
    FactoryRegistration settingsRegistration(CLSID_CameraSettingsPage, &settingsFactory);
    FactoryRegistration formatRegistration(CLSID_FormatPage, &formatFactory);
    ASSERT_EQ(S_OK, settingsRegistration.Result());
    ASSERT_EQ(S_OK, formatRegistration.Result());

    IUnknown* object = c.onFilter ? static_cast<IUnknown*>(m_Filter.get()) : m_CapturePin.get();
    std::vector<CLSID> pages = PagesOf(object);
    ASSERT_EQ(1u, pages.size());
    const ULONG filterReferences = ReferenceCount(m_Filter.get());
    const LONG liveObjects = LiveObjectCount;

    FrameWatcher watcher(GetCurrentThreadId(), c.controlId);
    const HRESULT result = OleCreatePropertyFrame(m_Parent.Handle(), 0, 0, FrameCaption, 1, &object,
                                                  static_cast<ULONG>(pages.size()), pages.data(), 0, 0, nullptr);
    watcher.Join();
    EXPECT_EQ(S_OK, result);
    const FrameSighting& seen = watcher.Sighting();
    EXPECT_TRUE(seen.frameFound);
    EXPECT_NE(std::string::npos, seen.caption.find("Page frame test")) << seen.caption;
    EXPECT_TRUE(seen.controlFound);
    EXPECT_TRUE(seen.controlVisible);
    EXPECT_EQ(c.controlText, seen.controlText);
    EXPECT_EQ(c.title, seen.tabTitle);

    // The frame released every page it created and every reference it took.
    EXPECT_EQ(filterReferences, ReferenceCount(m_Filter.get()));
    EXPECT_EQ(liveObjects, LiveObjectCount);
    // Closing the frame deactivates the page: the settings page hands its
    // copy on (and the settings file is written), the format page does not.
    EXPECT_EQ(c.writesSettings, !ReadWholeFile(SettingsFilePath()).empty());
}

const FrameCase FrameCases[] = {
    {"SettingsPageOnFilter", true, IDC_AUTO_WHITE_BALANCE, "Auto White Balance", "Camera Set", true},
    {"FormatPageOnCapturePin", false, IDC_RESOLUTION_3032, "3032 x 2016", "Format", false},
};

INSTANTIATE_TEST_SUITE_P(Pages, PropertyFrameTest, testing::ValuesIn(FrameCases),
                         [](const testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

} // namespace
