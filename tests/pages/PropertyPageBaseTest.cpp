#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include <cstring>

#include "framework/ObjectBase.h"
#include "framework/Raii.h"
#include "pages/PropertyPageBase.h"
#include "pages/resource.h"
#include "tests/support/PageTestDoubles.h"
#include "tests/support/TaskMemorySpy.h"

namespace {

const int MissingDialog = 999;

INT_PTR CALLBACK IgnoringDialogProc(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// What the hooks saw; lives outside the page so that it survives the page.
struct HookLog {
    int attached = 0;
    int detached = 0;
    int activated = 0;
    int deactivated = 0;
    int commits = 0;
    IUnknown* lastObject = nullptr;
    bool pageWindowDuringActivate = false;
    LONG_PTR exStyleDuringDeactivate = -1;
    bool siteHeldAtDetach = false;
    HRESULT commitResult = S_OK;
};

class RecordingPage : public PropertyPageBase {
public:
    RecordingPage(HookLog* log, int dialog) : PropertyPageBase(nullptr, dialog, IDS_FORMAT_TITLE), m_Log(log) {}

    HRESULT OnAttachObject(IUnknown* object) override
    {
        ++m_Log->attached;
        m_Log->lastObject = object;
        return S_OK;
    }
    HRESULT OnDetachObject() override
    {
        ++m_Log->detached;
        m_Log->siteHeldAtDetach = static_cast<bool>(m_PageSite);
        return S_OK;
    }
    HRESULT OnPageActivate() override
    {
        ++m_Log->activated;
        m_Log->pageWindowDuringActivate = IsWindow(m_PageWindow) != FALSE;
        return S_OK;
    }
    HRESULT OnPageDeactivate() override
    {
        ++m_Log->deactivated;
        m_Log->exStyleDuringDeactivate = GetWindowLongPtrA(m_PageWindow, GWL_EXSTYLE);
        return S_OK;
    }
    HRESULT OnCommit() override
    {
        ++m_Log->commits;
        return m_Log->commitResult;
    }
    HWND PageWindow() const { return m_PageWindow; }

private:
    HookLog* m_Log;
};

class PropertyPageBaseTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_LiveBefore = LiveObjectCount;
        m_Page = new RecordingPage(&m_Log, IDD_FORMAT_PAGE);
        ASSERT_EQ(S_OK, m_Page->InnerQueryInterface(IID_IPropertyPage, m_PropertyPage.putVoid()));
    }

    void TearDown() override
    {
        m_PropertyPage.reset();
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
    }

    void Attach()
    {
        IUnknown* objects[] = {&m_Object};
        ASSERT_EQ(S_OK, m_PropertyPage->SetObjects(1, objects));
    }

    HRESULT ActivateInParent()
    {
        RECT place = {5, 6, 305, 206};
        return m_PropertyPage->Activate(m_Parent.Handle(), &place, FALSE);
    }

    LONG m_LiveBefore = 0;
    HookLog m_Log;
    RecordingPage* m_Page = nullptr;
    ComPtr<IPropertyPage> m_PropertyPage;
    TestPageSite m_Site;
    PlainObject m_Object;
    TestParentWindow m_Parent;
};

TEST_F(PropertyPageBaseTest, QueryGivesPropertyPageAndUnknownOnly)
{
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, m_PropertyPage->QueryInterface(IID_IUnknown, unknown.putVoid()));
    EXPECT_EQ(m_Page->InnerUnknown(), unknown.get());
    ComPtr<IUnknown> other;
    EXPECT_EQ(E_NOINTERFACE, m_PropertyPage->QueryInterface(IID_IPropertyPageSite, other.putVoid()));
    EXPECT_EQ(nullptr, other.get());
    EXPECT_EQ(E_POINTER, m_Page->InnerQueryInterface(IID_IPropertyPage, nullptr));
    unknown.reset();
    EXPECT_EQ(1u, ReferenceCount(m_PropertyPage.get()));
}

TEST_F(PropertyPageBaseTest, SiteIsHeldOnceAndOnlyOnce)
{
    TestPageSite second;
    EXPECT_EQ(E_UNEXPECTED, m_PropertyPage->SetPageSite(nullptr));
    EXPECT_EQ(S_OK, m_PropertyPage->SetPageSite(&m_Site));
    EXPECT_EQ(2, m_Site.References());
    EXPECT_EQ(E_UNEXPECTED, m_PropertyPage->SetPageSite(&second));
    EXPECT_EQ(1, second.References());
    EXPECT_EQ(S_OK, m_PropertyPage->SetPageSite(nullptr));
    EXPECT_EQ(1, m_Site.References());
    EXPECT_EQ(E_UNEXPECTED, m_PropertyPage->SetPageSite(nullptr));
}

TEST_F(PropertyPageBaseTest, SetObjectsAcceptsOneObjectOrNone)
{
    IUnknown* objects[] = {&m_Object, &m_Object};
    IUnknown* missing[] = {nullptr};
    EXPECT_EQ(E_UNEXPECTED, m_PropertyPage->SetObjects(2, objects));
    EXPECT_EQ(E_POINTER, m_PropertyPage->SetObjects(1, nullptr));
    EXPECT_EQ(E_POINTER, m_PropertyPage->SetObjects(1, missing));
    EXPECT_EQ(0, m_Log.attached);

    EXPECT_EQ(S_OK, m_PropertyPage->SetObjects(1, objects));
    EXPECT_EQ(1, m_Log.attached);
    EXPECT_EQ(&m_Object, m_Log.lastObject);
    EXPECT_EQ(S_OK, m_PropertyPage->SetObjects(0, nullptr));
    EXPECT_EQ(1, m_Log.detached);
    // Without an object the page cannot be shown.
    EXPECT_EQ(E_UNEXPECTED, ActivateInParent());
}

TEST_F(PropertyPageBaseTest, ActivateNeedsRectangleObjectAndInactivePage)
{
    RECT place = {0, 0, 100, 100};
    EXPECT_EQ(E_UNEXPECTED, ActivateInParent());
    Attach();
    EXPECT_EQ(E_POINTER, m_PropertyPage->Activate(m_Parent.Handle(), nullptr, FALSE));
    EXPECT_EQ(0, m_Log.activated);

    ASSERT_EQ(S_OK, ActivateInParent());
    EXPECT_EQ(1, m_Log.activated);
    EXPECT_TRUE(m_Log.pageWindowDuringActivate);
    EXPECT_EQ(E_UNEXPECTED, m_PropertyPage->Activate(m_Parent.Handle(), &place, FALSE));

    HWND page = m_Page->PageWindow();
    EXPECT_EQ(m_Parent.FirstChild(), page);
    EXPECT_TRUE(IsWindowVisible(page));
    RECT bounds;
    GetWindowRect(page, &bounds);
    MapWindowPoints(HWND_DESKTOP, m_Parent.Handle(), reinterpret_cast<POINT*>(&bounds), 2);
    EXPECT_EQ(5, bounds.left);
    EXPECT_EQ(6, bounds.top);
    EXPECT_EQ(300, bounds.right - bounds.left);
    EXPECT_EQ(200, bounds.bottom - bounds.top);

    EXPECT_EQ(S_OK, m_PropertyPage->Deactivate());
    EXPECT_EQ(1, m_Log.deactivated);
    EXPECT_FALSE(IsWindow(page));
    EXPECT_EQ(E_UNEXPECTED, m_PropertyPage->Deactivate());
    // A page can be shown again after it was taken down.
    EXPECT_EQ(S_OK, ActivateInParent());
    EXPECT_EQ(S_OK, m_PropertyPage->Deactivate());
}

TEST_F(PropertyPageBaseTest, ActivateReportsOutOfMemoryWhenDialogCannotBeCreated)
{
    ComPtr<IPropertyPage> broken;
    HookLog log;
    auto* page = new RecordingPage(&log, MissingDialog);
    ASSERT_EQ(S_OK, page->InnerQueryInterface(IID_IPropertyPage, broken.putVoid()));
    IUnknown* objects[] = {&m_Object};
    ASSERT_EQ(S_OK, broken->SetObjects(1, objects));
    RECT place = {0, 0, 100, 100};
    EXPECT_EQ(E_OUTOFMEMORY, broken->Activate(m_Parent.Handle(), &place, FALSE));
    EXPECT_EQ(0, log.activated);
    EXPECT_EQ(E_UNEXPECTED, broken->Deactivate());
}

TEST_F(PropertyPageBaseTest, ShowAndMoveNeedAnActivePage)
{
    RECT place = {1, 2, 51, 42};
    EXPECT_EQ(E_UNEXPECTED, m_PropertyPage->Show(SW_SHOW));
    EXPECT_EQ(E_UNEXPECTED, m_PropertyPage->Move(&place));
    EXPECT_EQ(E_POINTER, m_PropertyPage->Move(nullptr));
    Attach();
    ASSERT_EQ(S_OK, ActivateInParent());
    HWND page = m_Page->PageWindow();

    const struct {
        UINT command;
        HRESULT expected;
        bool visibleAfter;
    } cases[] = {
        {SW_HIDE, S_OK, false},       {SW_SHOW, S_OK, true},        {SW_HIDE, S_OK, false},
        {SW_SHOWNORMAL, S_OK, true},  {SW_MINIMIZE, E_INVALIDARG, true}, {SW_MAXIMIZE, E_INVALIDARG, true},
        {SW_SHOWNA, E_INVALIDARG, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, m_PropertyPage->Show(c.command)) << "command " << c.command;
        EXPECT_EQ(c.visibleAfter, IsWindowVisible(page) != FALSE) << "command " << c.command;
    }

    EXPECT_EQ(S_OK, m_PropertyPage->Move(&place));
    RECT bounds;
    GetWindowRect(page, &bounds);
    MapWindowPoints(HWND_DESKTOP, m_Parent.Handle(), reinterpret_cast<POINT*>(&bounds), 2);
    EXPECT_EQ(1, bounds.left);
    EXPECT_EQ(2, bounds.top);
    EXPECT_EQ(50, bounds.right - bounds.left);
    EXPECT_EQ(40, bounds.bottom - bounds.top);
    EXPECT_EQ(E_POINTER, m_PropertyPage->Move(nullptr));
    EXPECT_EQ(S_OK, m_PropertyPage->Deactivate());
}

TEST_F(PropertyPageBaseTest, MarkDirtyTellsTheSite)
{
    EXPECT_EQ(S_FALSE, m_PropertyPage->IsPageDirty());
    EXPECT_EQ(S_OK, m_Page->MarkDirty());  // without a site
    EXPECT_EQ(S_OK, m_PropertyPage->IsPageDirty());

    ASSERT_EQ(S_OK, m_PropertyPage->SetPageSite(&m_Site));
    EXPECT_EQ(S_OK, m_Page->MarkDirty());
    ASSERT_EQ(1u, m_Site.m_StatusChanges.size());
    EXPECT_EQ(static_cast<DWORD>(PROPPAGESTATUS_DIRTY), m_Site.m_StatusChanges[0]);
    EXPECT_EQ(S_OK, m_PropertyPage->SetPageSite(nullptr));
}

TEST_F(PropertyPageBaseTest, ApplyCommitsOnlyDirtyPagesWithObjectAndSite)
{
    EXPECT_EQ(E_UNEXPECTED, m_PropertyPage->Apply());
    Attach();
    EXPECT_EQ(E_UNEXPECTED, m_PropertyPage->Apply());  // no site yet
    ASSERT_EQ(S_OK, m_PropertyPage->SetPageSite(&m_Site));

    EXPECT_EQ(S_OK, m_PropertyPage->Apply());
    EXPECT_EQ(0, m_Log.commits);

    // A failing commit keeps the changes pending and reports its result.
    m_Page->MarkDirty();
    m_Log.commitResult = E_FAIL;
    EXPECT_EQ(E_FAIL, m_PropertyPage->Apply());
    EXPECT_EQ(1, m_Log.commits);
    EXPECT_EQ(S_OK, m_PropertyPage->IsPageDirty());

    m_Log.commitResult = S_FALSE;
    EXPECT_EQ(S_FALSE, m_PropertyPage->Apply());
    EXPECT_EQ(2, m_Log.commits);
    EXPECT_EQ(S_FALSE, m_PropertyPage->IsPageDirty());

    // The page need not be active to apply.
    EXPECT_EQ(S_OK, m_PropertyPage->Apply());
    EXPECT_EQ(2, m_Log.commits);
    EXPECT_EQ(S_OK, m_PropertyPage->SetPageSite(nullptr));
}

TEST_F(PropertyPageBaseTest, HelpAndAcceleratorsAreNotImplemented)
{
    MSG message = {};
    EXPECT_EQ(E_NOTIMPL, m_PropertyPage->Help(L"x"));
    EXPECT_EQ(E_NOTIMPL, m_PropertyPage->TranslateAccelerator(&message));
}

TEST_F(PropertyPageBaseTest, PageInfoHasTitleAndDialogSizeInPixels)
{
    EXPECT_EQ(E_POINTER, m_PropertyPage->GetPageInfo(nullptr));

    // The dialog's size in pixels, found independently of the page.
    HWND reference = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FORMAT_PAGE), GetDesktopWindow(),
                                        IgnoringDialogProc, 0);
    ASSERT_NE(nullptr, reference);
    RECT expected = {0, 0, 210, 124};
    MapDialogRect(reference, &expected);
    DestroyWindow(reference);

    TaskMemorySpy spy;
    ASSERT_TRUE(spy.Registered());
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, m_PropertyPage->GetPageInfo(&info));
    EXPECT_EQ(sizeof(PROPPAGEINFO), info.cb);
    ASSERT_NE(nullptr, info.pszTitle);
    EXPECT_STREQ(L"Format", info.pszTitle);
    EXPECT_TRUE(spy.Owns(info.pszTitle));
    EXPECT_EQ(nullptr, info.pszDocString);
    EXPECT_EQ(nullptr, info.pszHelpFile);
    EXPECT_EQ(0u, info.dwHelpContext);
    EXPECT_EQ(expected.right, info.size.cx);
    EXPECT_EQ(expected.bottom, info.size.cy);
    CoTaskMemFree(info.pszTitle);
    EXPECT_EQ(0u, spy.Outstanding());
    // Measuring leaves no window behind and runs no hook.
    EXPECT_EQ(nullptr, m_Parent.FirstChild());
    EXPECT_EQ(0, m_Log.activated);
}

TEST_F(PropertyPageBaseTest, PageInfoFallsBackToDefaultSizeWithoutDialog)
{
    HookLog log;
    ComPtr<IPropertyPage> broken;
    auto* page = new RecordingPage(&log, MissingDialog);
    ASSERT_EQ(S_OK, page->InnerQueryInterface(IID_IPropertyPage, broken.putVoid()));
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, broken->GetPageInfo(&info));
    EXPECT_EQ(340, info.size.cx);
    EXPECT_EQ(150, info.size.cy);
    EXPECT_STREQ(L"Format", info.pszTitle);
    CoTaskMemFree(info.pszTitle);
}

TEST_F(PropertyPageBaseTest, PageInfoLeavesInfoUntouchedWhenTitleCannotBeCopied)
{
    TaskMemorySpy spy;
    ASSERT_TRUE(spy.Registered());
    PROPPAGEINFO info;
    memset(&info, 0xA5, sizeof(info));
    PROPPAGEINFO before = info;
    spy.FailNextAllocations(1);
    EXPECT_EQ(E_OUTOFMEMORY, m_PropertyPage->GetPageInfo(&info));
    EXPECT_EQ(0, memcmp(&before, &info, sizeof(info)));
}

TEST_F(PropertyPageBaseTest, TitleIsFoundWhateverTheUserInterfaceLanguage)
{
    // The string table is Chinese (Simplified) only; an English thread must still find it.
    const LANGID english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
    const LANGID previous = GetThreadUILanguage();
    SetThreadUILanguage(english);
    wchar_t text[64] = {};
    EXPECT_EQ(10, LoadStringW(GetModuleHandleA(nullptr), IDS_CAMERA_SET_TITLE, text, 64));
    EXPECT_STREQ(L"Camera Set", text);
    EXPECT_EQ(6, LoadStringW(GetModuleHandleA(nullptr), IDS_FORMAT_TITLE, text, 64));
    EXPECT_STREQ(L"Format", text);
    SetThreadUILanguage(previous);
}

TEST_F(PropertyPageBaseTest, ActivePageKeepsControlParentStyleUntilDeactivated)
{
    Attach();
    ASSERT_EQ(S_OK, ActivateInParent());
    HWND page = m_Page->PageWindow();

    SetWindowLongPtrA(page, GWL_EXSTYLE, WS_EX_CLIENTEDGE);
    const LONG_PTR style = GetWindowLongPtrA(page, GWL_EXSTYLE);
    EXPECT_EQ(WS_EX_CONTROLPARENT, style & WS_EX_CONTROLPARENT);
    EXPECT_EQ(WS_EX_CLIENTEDGE, style & WS_EX_CLIENTEDGE);

    // Other style changes pass through untouched.
    SetWindowLongPtrA(page, GWL_STYLE, GetWindowLongPtrA(page, GWL_STYLE) | WS_BORDER);
    EXPECT_EQ(WS_BORDER, GetWindowLongPtrA(page, GWL_STYLE) & WS_BORDER);

    ASSERT_EQ(S_OK, m_PropertyPage->Deactivate());
    EXPECT_EQ(0, m_Log.exStyleDuringDeactivate & WS_EX_CONTROLPARENT);
    EXPECT_EQ(WS_EX_CLIENTEDGE, m_Log.exStyleDuringDeactivate & WS_EX_CLIENTEDGE);
}

TEST_F(PropertyPageBaseTest, LastReleaseDetachesSiteAndObject)
{
    Attach();
    ASSERT_EQ(S_OK, m_PropertyPage->SetPageSite(&m_Site));
    EXPECT_EQ(2, m_Site.References());
    m_PropertyPage.reset();
    EXPECT_EQ(1, m_Site.References());
    EXPECT_EQ(1, m_Log.detached);
    // The site is let go before the object is detached.
    EXPECT_FALSE(m_Log.siteHeldAtDetach);
    EXPECT_EQ(m_LiveBefore, LiveObjectCount);
}

TEST_F(PropertyPageBaseTest, ReleasingAnActivePageTakesItsDialogDown)
{
    Attach();
    ASSERT_EQ(S_OK, ActivateInParent());
    HWND page = m_Page->PageWindow();
    m_PropertyPage.reset();
    EXPECT_FALSE(IsWindow(page));
    // The parent's later messages reach no page.
    PaintNow(m_Parent.Handle());
    EXPECT_EQ(nullptr, m_Parent.FirstChild());
}

TEST_F(PropertyPageBaseTest, AddRefAndReleaseReportTheCount)
{
    EXPECT_EQ(2u, m_PropertyPage->AddRef());
    EXPECT_EQ(1u, m_PropertyPage->Release());
    EXPECT_EQ(2u, m_Page->InnerAddRef());
    EXPECT_EQ(1u, m_Page->InnerRelease());
}

} // namespace
