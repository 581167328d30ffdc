#include <gtest/gtest.h>

#include <windows.h>
#include <ocidl.h>

#include <vector>

#include "framework/ObjectBase.h"
#include "framework/Raii.h"
#include "pages/FormatPage.h"
#include "pages/resource.h"
#include "tests/support/PageTestDoubles.h"

namespace {

const int Buttons[] = {IDC_RESOLUTION_3032, IDC_RESOLUTION_1600, IDC_RESOLUTION_1280, IDC_RESOLUTION_800,
                       IDC_RESOLUTION_640};

class FormatPageTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_LiveBefore = LiveObjectCount;
        HRESULT result = S_OK;
        ObjectBase* page = FormatPage::Create(nullptr, &result);
        ASSERT_NE(nullptr, page);
        EXPECT_EQ(S_OK, result);
        ASSERT_EQ(S_OK, page->InnerQueryInterface(IID_IPropertyPage, m_Page.putVoid()));
        m_Config.m_Stored.m_Format.m_Resolution = 1;
        m_Config.m_Stored.m_Format.m_FormatValue = 77;
        m_Config.m_Stored.m_RedGain = 120;
        m_Config.m_Stored.m_Saturation = 5;
    }

    void TearDown() override
    {
        m_Page.reset();
        EXPECT_EQ(1, m_Site.References());
        EXPECT_EQ(1, m_Config.References());
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
    }

    // Attaches the page to the settings object with the given stored index and shows it.
    void ShowWithStoredIndex(unsigned char index)
    {
        m_Config.m_Stored.m_Format.m_Resolution = index;
        ASSERT_EQ(S_OK, m_Page->SetPageSite(&m_Site));
        IUnknown* objects[] = {&m_Config};
        ASSERT_EQ(S_OK, m_Page->SetObjects(1, objects));
        RECT place = {0, 0, 320, 200};
        ASSERT_EQ(S_OK, m_Page->Activate(m_Parent.Handle(), &place, FALSE));
        m_Dialog = m_Parent.FirstChild();
        ASSERT_NE(nullptr, m_Dialog);
        PumpMessages();
    }

    void Detach()
    {
        EXPECT_EQ(S_OK, m_Page->SetObjects(0, nullptr));
        EXPECT_EQ(S_OK, m_Page->SetPageSite(nullptr));
    }

    // The checked buttons in id order. A click checks its button and unchecks
    // only the visible ones of its group: hidden buttons keep their state.
    std::vector<int> CheckedButtons() const
    {
        std::vector<int> checked;
        for (int button : Buttons) {
            if (IsDlgButtonChecked(m_Dialog, button) == BST_CHECKED) checked.push_back(button);
        }
        return checked;
    }

    LONG m_LiveBefore = 0;
    ComPtr<IPropertyPage> m_Page;
    TestPageSite m_Site;
    FakeCameraConfig m_Config;
    TestParentWindow m_Parent;
    HWND m_Dialog = nullptr;
};

TEST_F(FormatPageTest, CreateGivesTheInnerIdentityAndTitle)
{
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, m_Page->GetPageInfo(&info));
    EXPECT_STREQ(L"Format", info.pszTitle);
    EXPECT_GT(info.size.cx, 0);
    EXPECT_NE(340, info.size.cx);  // measured from dialog 104, not the fallback
    CoTaskMemFree(info.pszTitle);

    ComPtr<IUnknown> unknown;
    EXPECT_EQ(S_OK, m_Page->QueryInterface(IID_IUnknown, unknown.putVoid()));
    HRESULT untouched = E_ABORT;
    ObjectBase* second = FormatPage::Create(nullptr, &untouched);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(E_ABORT, untouched);  // success leaves the result alone
    second->InnerAddRef();
    EXPECT_EQ(0u, second->InnerRelease());
}

TEST_F(FormatPageTest, StoredIndexChecksItsButton)
{
    const struct {
        unsigned char index;
        int button;
    } cases[] = {
        {0, IDC_RESOLUTION_3032}, {1, IDC_RESOLUTION_1600}, {2, IDC_RESOLUTION_1280},
        {3, IDC_RESOLUTION_800},  {4, IDC_RESOLUTION_3032}, {255, IDC_RESOLUTION_3032},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.index));
        ShowWithStoredIndex(c.index);
        EXPECT_EQ(std::vector<int>{c.button}, CheckedButtons());
        // Only the first choice can be seen; the others keep their state hidden.
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(m_Dialog, IDC_RESOLUTION_3032)));
        for (int hidden : {IDC_RESOLUTION_1600, IDC_RESOLUTION_1280, IDC_RESOLUTION_800, IDC_RESOLUTION_640})
            EXPECT_FALSE(IsWindowVisible(GetDlgItem(m_Dialog, hidden)));
        // Showing the stored choice is no change.
        EXPECT_EQ(S_FALSE, m_Page->IsPageDirty());
        EXPECT_EQ(S_OK, m_Page->Apply());
        EXPECT_EQ(S_OK, m_Page->Deactivate());
        Detach();
    }
    EXPECT_TRUE(m_Config.m_SetConfigRecords.empty());
    EXPECT_TRUE(m_Site.m_StatusChanges.empty());
}

TEST_F(FormatPageTest, ClickingTheVisibleChoiceAppliesIndexZero)
{
    ShowWithStoredIndex(2);
    SendMessageA(GetDlgItem(m_Dialog, IDC_RESOLUTION_3032), BM_CLICK, 0, 0);
    PumpMessages();
    EXPECT_EQ((std::vector<int>{IDC_RESOLUTION_3032, IDC_RESOLUTION_1280}), CheckedButtons());
    EXPECT_EQ(S_OK, m_Page->IsPageDirty());
    ASSERT_FALSE(m_Site.m_StatusChanges.empty());
    EXPECT_EQ(static_cast<DWORD>(PROPPAGESTATUS_DIRTY), m_Site.m_StatusChanges.back());

    EXPECT_EQ(S_OK, m_Page->Apply());
    ASSERT_EQ(1u, m_Config.m_SetConfigRecords.size());
    CameraConfig expected = m_Config.m_Stored;
    expected.m_Format.m_Resolution = 0;
    EXPECT_TRUE(SameConfig(expected, m_Config.m_SetConfigRecords[0]));
    EXPECT_EQ(S_FALSE, m_Page->IsPageDirty());

    // Nothing more is handed on: not by a clean Apply, not by deactivation.
    EXPECT_EQ(S_OK, m_Page->Apply());
    EXPECT_EQ(S_OK, m_Page->Deactivate());
    EXPECT_EQ(1u, m_Config.m_SetConfigRecords.size());
    Detach();
}

TEST_F(FormatPageTest, AnyCommandMakesThePageDirtyAndHandsBackTheCheckedIndex)
{
    ShowWithStoredIndex(2);
    // A notification that changes no button still counts as a change.
    SendMessageA(m_Dialog, WM_COMMAND, MAKEWPARAM(IDC_RESOLUTION_1600, BN_SETFOCUS),
                 reinterpret_cast<LPARAM>(GetDlgItem(m_Dialog, IDC_RESOLUTION_1600)));
    EXPECT_EQ(S_OK, m_Page->IsPageDirty());
    EXPECT_EQ(std::vector<int>{IDC_RESOLUTION_1280}, CheckedButtons());
    EXPECT_EQ(S_OK, m_Page->Apply());
    ASSERT_EQ(1u, m_Config.m_SetConfigRecords.size());
    EXPECT_EQ(2, m_Config.m_SetConfigRecords[0].m_Format.m_Resolution);
    EXPECT_EQ(S_OK, m_Page->Deactivate());
    Detach();
}

TEST_F(FormatPageTest, CheckedLastButtonIsNoIndexOfItsOwn)
{
    ShowWithStoredIndex(3);
    // The last button stands for no index: with it alone checked the page
    // reads index 0. (It is hidden, so no user can click it; it is set here
    // the way a program would, and reported the way a click is.)
    HWND last = GetDlgItem(m_Dialog, IDC_RESOLUTION_640);
    CheckRadioButton(m_Dialog, IDC_RESOLUTION_3032, IDC_RESOLUTION_640, IDC_RESOLUTION_640);
    SendMessageA(m_Dialog, WM_COMMAND, MAKEWPARAM(IDC_RESOLUTION_640, BN_CLICKED), reinterpret_cast<LPARAM>(last));
    EXPECT_EQ(std::vector<int>{IDC_RESOLUTION_640}, CheckedButtons());
    EXPECT_EQ(S_OK, m_Page->IsPageDirty());
    EXPECT_EQ(S_OK, m_Page->Apply());
    ASSERT_EQ(1u, m_Config.m_SetConfigRecords.size());
    EXPECT_EQ(0, m_Config.m_SetConfigRecords[0].m_Format.m_Resolution);
    EXPECT_EQ(S_OK, m_Page->Deactivate());
    Detach();
}

TEST_F(FormatPageTest, ApplyAfterDeactivationKeepsTheChoice)
{
    // A host may apply a page it has already taken down (another tab is
    // showing): the page hands back what was checked, not what a vanished
    // dialog would read.
    const struct {
        const char* name;
        bool clickVisibleChoice;
        int expectedIndex;
    } cases[] = {{"unchanged", false, 2}, {"clicked", true, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        m_Config.m_SetConfigRecords.clear();
        ShowWithStoredIndex(2);
        if (c.clickVisibleChoice)
            SendMessageA(GetDlgItem(m_Dialog, IDC_RESOLUTION_3032), BM_CLICK, 0, 0);
        else
            SendMessageA(m_Dialog, WM_COMMAND, MAKEWPARAM(IDC_RESOLUTION_1280, BN_SETFOCUS), 0);
        EXPECT_EQ(S_OK, m_Page->Deactivate());
        EXPECT_TRUE(m_Config.m_SetConfigRecords.empty());
        EXPECT_EQ(S_OK, m_Page->Apply());
        ASSERT_EQ(1u, m_Config.m_SetConfigRecords.size());
        EXPECT_EQ(c.expectedIndex, m_Config.m_SetConfigRecords[0].m_Format.m_Resolution);
        Detach();
    }
}

TEST_F(FormatPageTest, ChoiceSurvivesSwitchingAwayAndBack)
{
    ShowWithStoredIndex(3);
    SendMessageA(GetDlgItem(m_Dialog, IDC_RESOLUTION_3032), BM_CLICK, 0, 0);
    EXPECT_EQ(S_OK, m_Page->Deactivate());
    RECT place = {0, 0, 320, 200};
    ASSERT_EQ(S_OK, m_Page->Activate(m_Parent.Handle(), &place, FALSE));
    m_Dialog = m_Parent.FirstChild();
    EXPECT_EQ(std::vector<int>{IDC_RESOLUTION_3032}, CheckedButtons());
    EXPECT_EQ(S_OK, m_Page->Deactivate());
    EXPECT_TRUE(m_Config.m_SetConfigRecords.empty());
    Detach();
}

TEST_F(FormatPageTest, ObjectWithoutSettingsStillShowsAndHandsNothingOn)
{
    PlainObject object;
    ASSERT_EQ(S_OK, m_Page->SetPageSite(&m_Site));
    IUnknown* objects[] = {&object};
    EXPECT_EQ(E_NOINTERFACE, m_Page->SetObjects(1, objects));
    EXPECT_EQ(1, object.References());
    RECT place = {0, 0, 320, 200};
    ASSERT_EQ(S_OK, m_Page->Activate(m_Parent.Handle(), &place, FALSE));
    m_Dialog = m_Parent.FirstChild();
    EXPECT_EQ(std::vector<int>{IDC_RESOLUTION_3032}, CheckedButtons());  // the record's default index 0
    SendMessageA(GetDlgItem(m_Dialog, IDC_RESOLUTION_3032), BM_CLICK, 0, 0);
    EXPECT_EQ(S_OK, m_Page->Apply());
    EXPECT_EQ(S_FALSE, m_Page->IsPageDirty());
    EXPECT_EQ(S_OK, m_Page->Deactivate());
    Detach();
    EXPECT_EQ(0, m_Config.m_GetConfigCalls);
}

TEST_F(FormatPageTest, AttachTakesOneReferenceAndOneCopy)
{
    IUnknown* objects[] = {&m_Config};
    EXPECT_EQ(E_POINTER, m_Page->SetObjects(1, nullptr));
    ASSERT_EQ(S_OK, m_Page->SetObjects(1, objects));
    EXPECT_EQ(2, m_Config.References());
    EXPECT_EQ(1, m_Config.m_GetConfigCalls);
    // Attaching again replaces the held interface rather than leaking it.
    ASSERT_EQ(S_OK, m_Page->SetObjects(1, objects));
    EXPECT_EQ(2, m_Config.References());
    EXPECT_EQ(S_OK, m_Page->SetObjects(0, nullptr));
    EXPECT_EQ(1, m_Config.References());
    EXPECT_EQ(S_OK, m_Page->SetObjects(0, nullptr));
}

} // namespace
