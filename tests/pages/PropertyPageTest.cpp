#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <ocidl.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/ObjectBase.h"
#include "framework/Raii.h"
#include "pages/PropertyPage.h"
#include "pages/resource.h"
#include "sdk/QuillonSim.h"
#include "tests/support/PageTestDoubles.h"
#include "tests/support/SimCallLog.h"

namespace {

// Long enough after set-up for slider notifications to count as user changes.
const DWORD PastQuietSecond = 1100;

// The camera calls since the log was cleared, setters with their arguments:
// "CameraSetGain(88,64,160)", getters by name only.
std::vector<std::string> CameraCalls()
{
    std::vector<std::string> calls;
    for (const QuillonSimCall& call : SimCallRecords()) {
        std::string text = call.function;
        if (std::strncmp(call.function, "CameraSet", 9) == 0) {
            text += "(";
            for (int i = 0; i < call.argCount; ++i) text += (i ? "," : "") + std::to_string(call.args[i]);
            text += ")";
        }
        calls.push_back(text);
    }
    return calls;
}

// The last call of a setter with its arguments, or "" when it was not called.
std::string LastCallOf(const char* function)
{
    std::string last;
    for (const std::string& call : CameraCalls()) {
        if (call.compare(0, std::strlen(function) + 1, std::string(function) + "(") == 0) last = call;
    }
    return last;
}

CameraConfig StoredRecord()
{
    CameraConfig config;
    config.m_Format.m_Resolution = 2;
    config.m_Format.m_FormatValue = 77;
    config.m_AeState = 0;
    config.m_Target = 120;
    config.m_AnalogGain = 30;
    config.m_ExposureTime = 100;
    config.m_RedGain = 88;
    config.m_GreenGain = 64;
    config.m_BlueGain = 128;
    config.m_Gamma = 64;
    config.m_Contrast = 10;
    config.m_Saturation = 200;
    config.m_ColorEnhancement = 1;
    return config;
}

class PropertyPageTest : public testing::Test {
protected:
    void SetUp() override
    {
        SimReset();
        m_LiveBefore = LiveObjectCount;
        HRESULT result = S_OK;
        ObjectBase* page = PropertyPage::Create(nullptr, &result);
        ASSERT_NE(nullptr, page);
        ASSERT_EQ(S_OK, page->InnerQueryInterface(IID_IPropertyPage, m_Page.putVoid()));
        m_Config.m_Stored = StoredRecord();
    }

    void TearDown() override
    {
        m_Page.reset();
        EXPECT_EQ(1, m_Site.References());
        EXPECT_EQ(1, m_Config.References());
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
    }

    // Attaches to `object`, shows the page and lets its sliders draw themselves.
    void Show(IUnknown* object)
    {
        ASSERT_EQ(S_OK, m_Page->SetPageSite(&m_Site));
        IUnknown* objects[] = {object};
        m_Page->SetObjects(1, objects);
        RECT place = {0, 0, 330, 500};
        ASSERT_EQ(S_OK, m_Page->Activate(m_Parent.Handle(), &place, FALSE));
        m_PageDialog = m_Parent.FirstChild();
        ASSERT_NE(nullptr, m_PageDialog);
        m_Dialog = GetWindow(m_PageDialog, GW_CHILD);
        ASSERT_NE(nullptr, m_Dialog);
        PaintNow(m_PageDialog);
    }
    void Show() { Show(&m_Config); }

    void Close()
    {
        if (m_Parent.FirstChild()) {
            EXPECT_EQ(S_OK, m_Page->Deactivate());
        }
        EXPECT_EQ(S_OK, m_Page->SetObjects(0, nullptr));
        EXPECT_EQ(S_OK, m_Page->SetPageSite(nullptr));
    }

    HWND Control(int id) const { return GetDlgItem(m_Dialog, id); }
    LRESULT Position(int slider) const { return SendMessageA(Control(slider), TBM_GETPOS, 0, 0); }
    std::string Text(int id) const { return WindowText(Control(id)); }
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
    bool Checked(int id) const { return IsDlgButtonChecked(m_Dialog, id) == BST_CHECKED; }

    void Click(int id)
    {
        SendMessageA(Control(id), BM_CLICK, 0, 0);
        PumpMessages();
    }

    // A key press on a slider, as the user gives it, then the redraw that reports it.
    void PressKey(int slider, WPARAM key)
    {
        SendMessageA(Control(slider), WM_KEYDOWN, key, 0);
        SendMessageA(Control(slider), WM_KEYUP, key, 0);
        PaintNow(Control(slider));
    }

    // The slider reporting itself to its parent, as it does on release and redraw.
    void Notify(int slider, UINT code = NM_RELEASEDCAPTURE)
    {
        NMHDR header = {};
        header.hwndFrom = Control(slider);
        header.idFrom = static_cast<UINT_PTR>(slider);
        header.code = code;
        SendMessageA(m_Dialog, WM_NOTIFY, static_cast<WPARAM>(slider), reinterpret_cast<LPARAM>(&header));
    }

    LONG m_LiveBefore = 0;
    ComPtr<IPropertyPage> m_Page;
    TestPageSite m_Site;
    FakeCameraConfig m_Config;
    TestParentWindow m_Parent;
    HWND m_PageDialog = nullptr;
    HWND m_Dialog = nullptr;
};

struct SliderExpectation {
    int slider;
    int minimum;
    int maximum;
    int position;
    int textId;
    const char* text;
    const char* cameraCall;
};

TEST_F(PropertyPageTest, SlidersStartFromTheRecordAndReachTheCamera)
{
    Show();
    const SliderExpectation sliders[] = {
        {IDC_AE_TARGET, 40, 200, 120, IDC_AE_TARGET_TEXT, "120", "CameraSetAeTarget(120)"},
        {IDC_ANALOG_GAIN, 1, 80, 30, IDC_ANALOG_GAIN_TEXT, "30", "CameraSetAnalogGain(30)"},
        // The simulated camera's row time is 40 microseconds.
        {IDC_EXPOSURE_TIME, 1, 23100, 100, IDC_EXPOSURE_TIME_TEXT, "4.000 ms", "CameraSetExposureTime(100)"},
        {IDC_RED_GAIN, 0, 255, 88, IDC_RED_GAIN_TEXT, " 1.38", "CameraSetGain(88,64,128)"},
        {IDC_GREEN_GAIN, 0, 255, 64, IDC_GREEN_GAIN_TEXT, " 1.00", "CameraSetGain(88,64,128)"},
        {IDC_BLUE_GAIN, 0, 255, 128, IDC_BLUE_GAIN_TEXT, " 2.00", "CameraSetGain(88,64,128)"},
        {IDC_GAMMA, 20, 150, 64, IDC_GAMMA_TEXT, " 0.64", "CameraSetGamma(64)"},
        {IDC_CONTRAST, 0, 255, 10, IDC_CONTRAST_TEXT, "10", "CameraSetContrast(10)"},
        {IDC_SATURATION, 0, 255, 200, IDC_SATURATION_TEXT, "200", "CameraSetSaturation(200)"},
    };
    for (const SliderExpectation& s : sliders) {
        SCOPED_TRACE(s.slider);
        EXPECT_EQ(s.minimum, SendMessageA(Control(s.slider), TBM_GETRANGEMIN, 0, 0));
        EXPECT_EQ(s.maximum, SendMessageA(Control(s.slider), TBM_GETRANGEMAX, 0, 0));
        EXPECT_EQ(s.position, Position(s.slider));
        EXPECT_EQ(s.text, Text(s.textId));
        const std::string call = s.cameraCall;
        EXPECT_EQ(call, LastCallOf(call.substr(0, call.find('(')).c_str()));
    }
    // The sliders drawing themselves in the first second is no change by the user.
    EXPECT_EQ(S_FALSE, m_Page->IsPageDirty());
    EXPECT_TRUE(m_Site.m_StatusChanges.empty());
    Close();
}

TEST_F(PropertyPageTest, ControlsAreEnabledByTheRecordsSwitches)
{
    const struct {
        int aeState;
        int enhancement;
    } cases[] = {{0, 1}, {1, 0}, {1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.aeState * 10 + c.enhancement);
        m_Config.m_Stored.m_AeState = c.aeState;
        m_Config.m_Stored.m_ColorEnhancement = c.enhancement;
        Show();
        const bool automatic = c.aeState != 0;
        EXPECT_EQ(automatic, Checked(IDC_AE_ENABLE));
        EXPECT_EQ(automatic, Enabled(IDC_AE_TARGET));
        EXPECT_EQ(automatic, Enabled(IDC_AE_TARGET_TEXT));
        for (int manual : {IDC_ANALOG_GAIN, IDC_ANALOG_GAIN_TEXT, IDC_EXPOSURE_TIME, IDC_EXPOSURE_TIME_TEXT})
            EXPECT_EQ(!automatic, Enabled(manual)) << manual;
        const bool enhanced = c.enhancement != 0;
        EXPECT_EQ(enhanced, Checked(IDC_ENHANCEMENT_ENABLE));
        EXPECT_EQ(enhanced, Enabled(IDC_SATURATION));
        EXPECT_EQ(enhanced, Enabled(IDC_SATURATION_TEXT));
        Close();
    }
}

TEST_F(PropertyPageTest, EachSliderReportSetsItsTextAndCamera)
{
    Show();
    const struct {
        int slider;
        int newPosition;
        int textId;
        const char* text;
        std::vector<std::string> calls;
    } cases[] = {
        {IDC_AE_TARGET, 45, IDC_AE_TARGET_TEXT, "45", {"CameraSetAeTarget(45)"}},
        {IDC_ANALOG_GAIN, 200, IDC_ANALOG_GAIN_TEXT, "80", {"CameraSetAnalogGain(80)"}},  // clamped to the range
        {IDC_EXPOSURE_TIME,
         250,
         IDC_EXPOSURE_TIME_TEXT,
         "10.000 ms",
         {"CameraGetRowTime", "CameraSetExposureTime(250)"}},
        {IDC_RED_GAIN, 32, IDC_RED_GAIN_TEXT, " 0.50", {"CameraSetGain(32,64,128)"}},
        {IDC_GREEN_GAIN, 255, IDC_GREEN_GAIN_TEXT, " 3.98", {"CameraSetGain(32,255,128)"}},
        {IDC_BLUE_GAIN, 160, IDC_BLUE_GAIN_TEXT, " 2.50", {"CameraSetGain(32,255,160)"}},
        {IDC_GAMMA, 150, IDC_GAMMA_TEXT, " 1.50", {"CameraSetGamma(150)"}},
        {IDC_CONTRAST, 0, IDC_CONTRAST_TEXT, "0", {"CameraSetContrast(0)"}},
        {IDC_SATURATION, 255, IDC_SATURATION_TEXT, "255", {"CameraSetSaturation(255)"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.slider);
        SendMessageA(Control(c.slider), TBM_SETPOS, FALSE, c.newPosition);
        SimClearCalls();
        Notify(c.slider);
        EXPECT_EQ(c.calls, CameraCalls());
        EXPECT_EQ(c.text, Text(c.textId));
    }
    // Any notification code counts, custom drawing included.
    SimClearCalls();
    Notify(IDC_CONTRAST, NM_CUSTOMDRAW);
    EXPECT_EQ(std::vector<std::string>{"CameraSetContrast(0)"}, CameraCalls());
    // The gain texts all follow one gain slider's report.
    EXPECT_EQ(" 0.50", Text(IDC_RED_GAIN_TEXT));
    EXPECT_EQ(" 3.98", Text(IDC_GREEN_GAIN_TEXT));
    Close();
}

TEST_F(PropertyPageTest, ReportsFromOtherControlsAreIgnored)
{
    Show();
    SimClearCalls();
    Notify(IDC_BLACK_LEVEL);
    Notify(IDC_AE_ENABLE);
    SendMessageA(m_Dialog, WM_HSCROLL, SB_LINEDOWN, reinterpret_cast<LPARAM>(Control(IDC_CONTRAST)));
    EXPECT_TRUE(CameraCalls().empty());
    Close();
}

TEST_F(PropertyPageTest, KeyboardMovesCountAsChangesOnlyAfterTheFirstSecond)
{
    Show();
    SimClearCalls();
    PressKey(IDC_CONTRAST, VK_RIGHT);
    EXPECT_EQ(11, Position(IDC_CONTRAST));
    EXPECT_EQ("CameraSetContrast(11)", LastCallOf("CameraSetContrast"));
    EXPECT_EQ("11", Text(IDC_CONTRAST_TEXT));
    EXPECT_EQ(S_FALSE, m_Page->IsPageDirty());

    Sleep(PastQuietSecond);
    PressKey(IDC_CONTRAST, VK_RIGHT);
    EXPECT_EQ("CameraSetContrast(12)", LastCallOf("CameraSetContrast"));
    EXPECT_EQ(S_OK, m_Page->IsPageDirty());
    ASSERT_FALSE(m_Site.m_StatusChanges.empty());
    EXPECT_EQ(static_cast<DWORD>(PROPPAGESTATUS_DIRTY), m_Site.m_StatusChanges.back());
    Close();
}

TEST_F(PropertyPageTest, MouseDragOnASliderReachesTheCamera)
{
    Show();
    HWND slider = Control(IDC_SATURATION);
    RECT thumb = {};
    SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
    RECT client = {};
    GetClientRect(slider, &client);
    const int y = (thumb.top + thumb.bottom) / 2;
    const LPARAM grab = MAKELPARAM((thumb.left + thumb.right) / 2, y);
    const LPARAM drop = MAKELPARAM(client.left + 2, y);
    SimClearCalls();
    SendMessageA(slider, WM_LBUTTONDOWN, MK_LBUTTON, grab);
    SendMessageA(slider, WM_MOUSEMOVE, MK_LBUTTON, drop);
    SendMessageA(slider, WM_LBUTTONUP, 0, drop);
    PumpMessages();
    const LRESULT position = Position(IDC_SATURATION);
    EXPECT_LT(position, 200);
    EXPECT_EQ("CameraSetSaturation(" + std::to_string(position) + ")", LastCallOf("CameraSetSaturation"));
    EXPECT_EQ(std::to_string(position), Text(IDC_SATURATION_TEXT));
    Close();
}

TEST_F(PropertyPageTest, AutoExposureSwitchHandsControlBetweenSliders)
{
    m_Config.m_Stored.m_AeState = 1;
    Show();
    // What the automatic exposure has reached by now.
    CameraSetAnalogGain(33);
    CameraSetExposureTime(777);
    SimClearCalls();

    Click(IDC_AE_ENABLE);
    EXPECT_FALSE(Checked(IDC_AE_ENABLE));
    EXPECT_EQ((std::vector<std::string>{"CameraSetAeState", "CameraGetAnalogGain", "CameraGetExposureTime"}),
              SimCallNamesAmong({"CameraSetAeState", "CameraGetAnalogGain", "CameraGetExposureTime"}));
    EXPECT_EQ("CameraSetAeState(0)", LastCallOf("CameraSetAeState"));
    EXPECT_EQ(33, Position(IDC_ANALOG_GAIN));
    EXPECT_EQ(777, Position(IDC_EXPOSURE_TIME));
    EXPECT_FALSE(Enabled(IDC_AE_TARGET));
    EXPECT_FALSE(Enabled(IDC_AE_TARGET_TEXT));
    for (int manual : {IDC_ANALOG_GAIN, IDC_ANALOG_GAIN_TEXT, IDC_EXPOSURE_TIME, IDC_EXPOSURE_TIME_TEXT})
        EXPECT_TRUE(Enabled(manual)) << manual;

    SimClearCalls();
    Click(IDC_AE_ENABLE);
    EXPECT_TRUE(Checked(IDC_AE_ENABLE));
    EXPECT_EQ(std::vector<std::string>{"CameraSetAeState"},
              SimCallNamesAmong({"CameraSetAeState", "CameraGetAnalogGain", "CameraGetExposureTime"}));
    EXPECT_EQ("CameraSetAeState(1)", LastCallOf("CameraSetAeState"));
    EXPECT_TRUE(Enabled(IDC_AE_TARGET));
    EXPECT_TRUE(Enabled(IDC_AE_TARGET_TEXT));
    for (int manual : {IDC_ANALOG_GAIN, IDC_ANALOG_GAIN_TEXT, IDC_EXPOSURE_TIME, IDC_EXPOSURE_TIME_TEXT})
        EXPECT_FALSE(Enabled(manual)) << manual;
    Close();
}

TEST_F(PropertyPageTest, EnhancementSwitchTogglesCameraAndSaturation)
{
    Show();
    SimClearCalls();
    Click(IDC_ENHANCEMENT_ENABLE);
    // The saturation slider redraws when it is disabled and reports itself again.
    EXPECT_EQ((std::vector<std::string>{"CameraSetColorEnhancement(0)", "CameraSetSaturation(200)"}), CameraCalls());
    EXPECT_FALSE(Enabled(IDC_SATURATION));
    EXPECT_FALSE(Enabled(IDC_SATURATION_TEXT));
    SimClearCalls();
    Click(IDC_ENHANCEMENT_ENABLE);
    EXPECT_EQ((std::vector<std::string>{"CameraSetColorEnhancement(1)", "CameraSetSaturation(200)"}), CameraCalls());
    EXPECT_TRUE(Enabled(IDC_SATURATION));
    EXPECT_TRUE(Enabled(IDC_SATURATION_TEXT));
    // Switches are no slider changes; nothing is pending.
    EXPECT_EQ(S_FALSE, m_Page->IsPageDirty());
    Close();
}

TEST_F(PropertyPageTest, AutoWhiteBalanceMovesGainSlidersToTheCamerasGains)
{
    Show();
    SimClearCalls();
    Click(IDC_AUTO_WHITE_BALANCE);
    const std::vector<std::string> calls = CameraCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ("CameraSetAWBState(1)", calls[0]);
    EXPECT_EQ("CameraGetGain", calls[1]);
    // The simulated white balance settles on 96, 64, 80.
    EXPECT_EQ(96, Position(IDC_RED_GAIN));
    EXPECT_EQ(64, Position(IDC_GREEN_GAIN));
    EXPECT_EQ(80, Position(IDC_BLUE_GAIN));
    Close();
}

TEST_F(PropertyPageTest, DefaultButtonShowsItsValuesAndDeactivationHandsThemOn)
{
    Show();
    Click(IDC_DEFAULTS);
    PaintNow(m_PageDialog);
    const struct {
        int slider;
        int position;
    } expected[] = {
        {IDC_AE_TARGET, 140}, {IDC_ANALOG_GAIN, 80}, {IDC_EXPOSURE_TIME, 100}, {IDC_RED_GAIN, 88},
        {IDC_GREEN_GAIN, 88}, {IDC_BLUE_GAIN, 88},   {IDC_GAMMA, 64},          {IDC_CONTRAST, 10},
        {IDC_SATURATION, 128},
    };
    for (const auto& e : expected) EXPECT_EQ(e.position, Position(e.slider)) << e.slider;
    EXPECT_TRUE(Checked(IDC_AE_ENABLE));
    EXPECT_TRUE(Checked(IDC_ENHANCEMENT_ENABLE));
    EXPECT_TRUE(Enabled(IDC_AE_TARGET));
    EXPECT_FALSE(Enabled(IDC_ANALOG_GAIN));
    EXPECT_EQ("CameraSetGain(88,88,88)", LastCallOf("CameraSetGain"));

    ASSERT_EQ(S_OK, m_Page->Deactivate());
    ASSERT_EQ(1u, m_Config.m_SetConfigRecords.size());
    const CameraConfig& handed = m_Config.m_SetConfigRecords[0];
    CameraConfig wanted = StoredRecord();
    wanted.m_RedGain = wanted.m_GreenGain = wanted.m_BlueGain = 88;
    wanted.m_AeState = 1;
    wanted.m_Target = 140;
    wanted.m_AnalogGain = 185;  // the record keeps what the slider cannot show
    wanted.m_ExposureTime = 100;
    wanted.m_Contrast = 10;
    wanted.m_Saturation = 128;
    wanted.m_ColorEnhancement = 1;
    wanted.m_Gamma = 64;
    EXPECT_TRUE(SameConfig(wanted, handed));
    Close();
}

TEST_F(PropertyPageTest, ApplyHandsOnWhatTheControlsShow)
{
    Show();
    Click(IDC_DEFAULTS);
    Sleep(PastQuietSecond);
    PressKey(IDC_CONTRAST, VK_RIGHT);
    ASSERT_EQ(S_OK, m_Page->IsPageDirty());

    EXPECT_EQ(S_OK, m_Page->Apply());
    ASSERT_EQ(1u, m_Config.m_SetConfigRecords.size());
    const CameraConfig handed = m_Config.m_SetConfigRecords[0];
    EXPECT_EQ(11, handed.m_Contrast);
    EXPECT_EQ(80, handed.m_AnalogGain);  // read back from the slider
    EXPECT_EQ(140, handed.m_Target);
    EXPECT_EQ(1, handed.m_AeState);
    EXPECT_EQ(2, handed.m_Format.m_Resolution);  // never touched by this page
    EXPECT_EQ(77u, handed.m_Format.m_FormatValue);
    EXPECT_EQ(S_FALSE, m_Page->IsPageDirty());

    // Deactivation hands on the page's copy as the apply left it.
    ASSERT_EQ(S_OK, m_Page->Deactivate());
    ASSERT_EQ(2u, m_Config.m_SetConfigRecords.size());
    EXPECT_TRUE(SameConfig(handed, m_Config.m_SetConfigRecords[1]));
    Close();
}

TEST_F(PropertyPageTest, DeactivationLeavesUnappliedSliderMovesOut)
{
    Show();
    Sleep(PastQuietSecond);
    PressKey(IDC_GAMMA, VK_RIGHT);
    EXPECT_EQ("CameraSetGamma(65)", LastCallOf("CameraSetGamma"));
    ASSERT_EQ(S_OK, m_Page->Deactivate());
    ASSERT_EQ(1u, m_Config.m_SetConfigRecords.size());
    EXPECT_TRUE(SameConfig(StoredRecord(), m_Config.m_SetConfigRecords[0]));

    // An apply after the page was taken down must not read the vanished
    // controls: it hands on the page's copy, not a record of zeros.
    ASSERT_EQ(S_OK, m_Page->IsPageDirty());
    EXPECT_EQ(S_OK, m_Page->Apply());
    ASSERT_EQ(2u, m_Config.m_SetConfigRecords.size());
    EXPECT_TRUE(SameConfig(StoredRecord(), m_Config.m_SetConfigRecords[1]));
    Close();
}

TEST_F(PropertyPageTest, RestartAndDisabledControlsDoNothing)
{
    Show();
    for (int id : {IDC_SPEED_NORMAL, IDC_SPEED_HIGH, IDC_LIGHT_50HZ, IDC_LIGHT_60HZ, IDC_HORIZONTAL_FLIP,
                   IDC_VERTICAL_FLIP, IDC_MONO, IDC_BLACK_LEVEL, IDC_BLACK_LEVEL_TEXT})
        EXPECT_FALSE(Enabled(id)) << id;
    SimClearCalls();
    Click(IDC_RESTART);
    // A disabled control takes no click; its command, should one arrive, is ignored.
    for (int id : {IDC_SPEED_NORMAL, IDC_SPEED_HIGH, IDC_LIGHT_50HZ, IDC_LIGHT_60HZ, IDC_HORIZONTAL_FLIP,
                   IDC_VERTICAL_FLIP, IDC_MONO})
        SendMessageA(m_Dialog, WM_COMMAND, static_cast<WPARAM>(id), reinterpret_cast<LPARAM>(Control(id)));
    PumpMessages();
    EXPECT_TRUE(CameraCalls().empty());
    EXPECT_EQ(S_FALSE, m_Page->IsPageDirty());
    ASSERT_EQ(S_OK, m_Page->Deactivate());
    ASSERT_EQ(1u, m_Config.m_SetConfigRecords.size());
    EXPECT_TRUE(SameConfig(StoredRecord(), m_Config.m_SetConfigRecords[0]));
    Close();
}

TEST_F(PropertyPageTest, ScrollingMovesTheSettingsThroughTheView)
{
    Show();
    const struct {
        int start;
        WPARAM request;
        int expected;
    } cases[] = {
        {95, SB_LINEDOWN, 100},
        {5, SB_LINEUP, 0},
        {50, SB_LINEDOWN, 60},
        {50, SB_LINEUP, 40},
        {50, SB_PAGEUP, 50},
        {50, SB_PAGEDOWN, 50},
        {50, SB_THUMBPOSITION, 50},
        {50, MAKEWPARAM(SB_THUMBTRACK, 70), 70},
        {50, SB_ENDSCROLL, 50},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.start * 1000 + static_cast<int>(c.request & 0xFFFF));
        SendMessageA(m_Dialog, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, c.start), 0);
        ASSERT_EQ(c.start, GetScrollPos(m_Dialog, SB_VERT));
        SendMessageA(m_Dialog, WM_VSCROLL, c.request, 0);
        EXPECT_EQ(c.expected, GetScrollPos(m_Dialog, SB_VERT));
    }

    // From top to bottom the contents move up by the part of the dialog
    // below the view plus 20 pixels.
    SendMessageA(m_Dialog, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, 0), 0);
    RECT before;
    GetWindowRect(Control(IDC_AE_ENABLE), &before);
    SendMessageA(m_Dialog, WM_VSCROLL, MAKEWPARAM(SB_THUMBTRACK, 100), 0);
    RECT after;
    GetWindowRect(Control(IDC_AE_ENABLE), &after);

    RECT dialogUnits = {0, 0, 210, 352};
    MapDialogRect(m_Dialog, &dialogUnits);
    // The view is the page dialog's own size less a margin, taken before the
    // host moved the page.
    RECT pageUnits = {0, 0, 210, 302};
    MapDialogRect(m_PageDialog, &pageUnits);
    RECT view;
    GetClientRect(m_Dialog, &view);
    EXPECT_EQ(pageUnits.right - 6, view.right);
    EXPECT_EQ(pageUnits.bottom - 50, view.bottom);
    EXPECT_EQ(-(dialogUnits.bottom - view.bottom + 20), after.top - before.top);
    Close();
}

TEST_F(PropertyPageTest, ObjectWithoutSettingsStillDrivesTheCamera)
{
    PlainObject object;
    Show(&object);
    EXPECT_EQ(1, object.References());
    // The record's own defaults fill the controls.
    EXPECT_EQ(100, Position(IDC_AE_TARGET));
    EXPECT_EQ(128, Position(IDC_SATURATION));
    EXPECT_EQ("CameraSetAeTarget(100)", LastCallOf("CameraSetAeTarget"));
    EXPECT_EQ(S_OK, m_Page->Deactivate());
    EXPECT_TRUE(m_Config.m_SetConfigRecords.empty());
    Close();
}

TEST_F(PropertyPageTest, TrackbarsAreHorizontalWithoutTicksAndReachableByTab)
{
    Show();
    for (int id : {IDC_AE_TARGET, IDC_ANALOG_GAIN, IDC_EXPOSURE_TIME, IDC_RED_GAIN, IDC_GREEN_GAIN, IDC_BLUE_GAIN,
                   IDC_GAMMA, IDC_CONTRAST, IDC_SATURATION, IDC_BLACK_LEVEL}) {
        char className[64] = {};
        GetClassNameA(Control(id), className, sizeof(className));
        EXPECT_STREQ(TRACKBAR_CLASSA, className) << id;
        const LONG_PTR style = GetWindowLongPtrA(Control(id), GWL_STYLE);
        EXPECT_EQ(TBS_NOTICKS | TBS_TOP | WS_TABSTOP, style & (TBS_VERT | TBS_NOTICKS | TBS_TOP | TBS_BOTH | WS_TABSTOP))
            << id;
    }
    PROPPAGEINFO info = {};
    ASSERT_EQ(S_OK, m_Page->GetPageInfo(&info));
    EXPECT_STREQ(L"Camera Set", info.pszTitle);
    CoTaskMemFree(info.pszTitle);
    Close();
}

} // namespace
