#include "pages/PropertyPage.h"

#include <commctrl.h>

#include <cstdio>
#include <new>

#include "pages/resource.h"
#include "sdk/QuillonSDK.h"

namespace {

// Slider notifications during the first second after set-up come from the
// sliders drawing themselves; they reach the camera but are no user change.
const DWORD QuietMilliseconds = 1000;
const DWORD WhiteBalanceSettleMilliseconds = 200;

// Room left around the inner dialog inside the page dialog.
const LONG ViewWidthMargin = 6;
const LONG ViewHeightMargin = 50;

// The vertical scroll position runs from 0 to 100; a line moves by 10.
const int ScrollLine = 10;
const int ScrollMaximum = 100;
const int ScrollExtraPixels = 20;

const int AutoExposureControls[] = {IDC_AE_TARGET, IDC_AE_TARGET_TEXT};
const int AnalogGainControls[] = {IDC_ANALOG_GAIN, IDC_ANALOG_GAIN_TEXT};
const int ExposureTimeControls[] = {IDC_EXPOSURE_TIME, IDC_EXPOSURE_TIME_TEXT};
const int EnhancementControls[] = {IDC_SATURATION, IDC_SATURATION_TEXT};

template <class T, size_t N>
int CountOf(const T (&)[N])
{
    return static_cast<int>(N);
}

// Values of the "default" button; they differ from the record's own defaults.
void ApplyDefaultButtonValues(CameraConfig& config)
{
    config.m_RedGain = 88;
    config.m_GreenGain = 88;
    config.m_BlueGain = 88;
    config.m_AeState = 1;
    config.m_Target = 140;
    config.m_AnalogGain = 185;
    config.m_ExposureTime = 100;
    config.m_Contrast = 10;
    config.m_Saturation = 128;
    config.m_ColorEnhancement = 1;
    config.m_Gamma = 64;
}

} // namespace

ObjectBase* PropertyPage::Create(IUnknown* owner, HRESULT* result)
{
    auto* page = new (std::nothrow) PropertyPage(owner);
    if (!page) {
        if (result) *result = E_OUTOFMEMORY;
        return nullptr;
    }
    return page;
}

PropertyPage::PropertyPage(IUnknown* owner)
    : PropertyPageBase(owner, IDD_CAMERA_SET_PAGE, IDS_CAMERA_SET_TITLE),
      m_myDlg(nullptr),
      m_ViewRect(),
      m_DlgRect(),
      m_InitTick(0)
{
    InitCommonControls();
}

PropertyPage::~PropertyPage()
{
    // The page dialog (and the inner dialog with it) may outlive this object
    // for a moment when the host releases an active page; its procedure must
    // no longer find the page.
    if (m_myDlg) SetWindowLongPtrA(m_myDlg, GWLP_USERDATA, 0);
}

HRESULT PropertyPage::OnAttachObject(IUnknown* object)
{
    if (!object) return E_POINTER;
    const HRESULT result = object->QueryInterface(IID_ICameraConfig, m_ConfigIf.putVoid());
    if (m_ConfigIf) m_ConfigIf->GetConfig(&m_Conf);
    return result;
}

HRESULT PropertyPage::OnDetachObject()
{
    m_ConfigIf.reset();
    return S_OK;
}

HRESULT PropertyPage::OnPageDeactivate()
{
    // Hands on the page's copy as it stands: slider moves not applied are not part of it.
    if (m_ConfigIf) m_ConfigIf->SetConfig(&m_Conf);
    return S_OK;
}

HRESULT PropertyPage::OnCommit()
{
    GetFromDlg(m_Conf);
    if (m_ConfigIf) m_ConfigIf->SetConfig(&m_Conf);
    return S_OK;
}

INT_PTR PropertyPage::OnPageMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) SetUpSettingsDialog(window);
    return PropertyPageBase::OnPageMessage(window, message, wParam, lParam);
}

void PropertyPage::SetUpSettingsDialog(HWND pageDialog)
{
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(pageDialog, GWLP_HINSTANCE));
    m_myDlg = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_CAMERA_SETTINGS), pageDialog, SettingsDlgProc, 0);
    m_DlgRect = RECT();
    if (!m_myDlg) return;
    SetWindowLongPtrA(m_myDlg, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));

    GetWindowRect(m_myDlg, &m_DlgRect);
    m_DlgRect.right -= m_DlgRect.left;
    m_DlgRect.bottom -= m_DlgRect.top;
    m_DlgRect.left = 0;
    m_DlgRect.top = 0;

    RECT client;
    GetClientRect(pageDialog, &client);
    const LONG viewWidth = client.right - client.left - ViewWidthMargin;
    const LONG viewHeight = client.bottom - client.top - ViewHeightMargin;
    m_ViewRect = {0, 0, viewWidth, viewHeight};

    m_InitTick = GetTickCount();
    SendMessageA(m_myDlg, WM_INITDIALOG, 0, 0);

    // The inner dialog is taller than this view; its bottom (the controls
    // that are never used) lies outside it.
    MoveWindow(m_myDlg, 0, 0, viewWidth, viewHeight, TRUE);
    ShowWindow(m_myDlg, SW_SHOW);
}

INT_PTR CALLBACK PropertyPage::SettingsDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM /*lParam*/)
{
    auto* page = reinterpret_cast<PropertyPage*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    // Also the dialog's own WM_INITDIALOG during its creation: the page is not known yet.
    if (!page) return TRUE;

    switch (message) {
    case WM_INITDIALOG:
        page->SetToDlg(page->m_Conf);
        return TRUE;
    case WM_NOTIFY:
        // The notification code is not looked at: a trackbar notifies when it
        // draws itself and when the mouse releases it, and either way the
        // slider's value is applied again.
        return page->OnSliderNotify(static_cast<int>(wParam));
    case WM_COMMAND:
        return page->OnCommand(wParam);
    case WM_VSCROLL:
        return page->OnVerticalScroll(window, wParam);
    case WM_DESTROY:
        // The controls are going; later reads must not see an empty dialog.
        if (window == page->m_myDlg) page->m_myDlg = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR PropertyPage::OnSliderNotify(int slider)
{
    char text[64];
    switch (slider) {
    case IDC_AE_TARGET: {
        const LRESULT position = SliderPosition(slider);
        std::snprintf(text, sizeof(text), "%u", static_cast<unsigned>(position));
        ShowText(IDC_AE_TARGET_TEXT, text);
        CameraSetAeTarget(static_cast<unsigned char>(position));
        break;
    }
    case IDC_ANALOG_GAIN: {
        const LRESULT position = SliderPosition(slider);
        std::snprintf(text, sizeof(text), "%u", static_cast<unsigned>(position));
        ShowText(IDC_ANALOG_GAIN_TEXT, text);
        CameraSetAnalogGain(static_cast<unsigned short>(position));
        break;
    }
    case IDC_EXPOSURE_TIME: {
        const LRESULT position = SliderPosition(slider);
        unsigned int rowTime = 0;
        CameraGetRowTime(&rowTime);
        std::snprintf(text, sizeof(text), "%.3f ms", rowTime * static_cast<double>(position) * 0.001);
        ShowText(IDC_EXPOSURE_TIME_TEXT, text);
        CameraSetExposureTime(static_cast<unsigned int>(position));
        break;
    }
    case IDC_RED_GAIN:
    case IDC_GREEN_GAIN:
    case IDC_BLUE_GAIN: {
        const LRESULT red = SliderPosition(IDC_RED_GAIN);
        const LRESULT green = SliderPosition(IDC_GREEN_GAIN);
        const LRESULT blue = SliderPosition(IDC_BLUE_GAIN);
        std::snprintf(text, sizeof(text), "%5.2f", red / 64.0);
        ShowText(IDC_RED_GAIN_TEXT, text);
        std::snprintf(text, sizeof(text), "%5.2f", green / 64.0);
        ShowText(IDC_GREEN_GAIN_TEXT, text);
        std::snprintf(text, sizeof(text), "%5.2f", blue / 64.0);
        ShowText(IDC_BLUE_GAIN_TEXT, text);
        CameraSetGain(static_cast<unsigned short>(red), static_cast<unsigned short>(green),
                      static_cast<unsigned short>(blue));
        break;
    }
    case IDC_GAMMA: {
        const LRESULT position = SliderPosition(slider);
        std::snprintf(text, sizeof(text), "%5.2f", position * 0.01);
        ShowText(IDC_GAMMA_TEXT, text);
        CameraSetGamma(static_cast<unsigned char>(position));
        break;
    }
    case IDC_CONTRAST: {
        const LRESULT position = SliderPosition(slider);
        std::snprintf(text, sizeof(text), "%u", static_cast<unsigned>(position));
        ShowText(IDC_CONTRAST_TEXT, text);
        CameraSetContrast(static_cast<unsigned char>(position));
        break;
    }
    case IDC_SATURATION: {
        const LRESULT position = SliderPosition(slider);
        std::snprintf(text, sizeof(text), "%u", static_cast<unsigned>(position));
        ShowText(IDC_SATURATION_TEXT, text);
        CameraSetSaturation(static_cast<unsigned char>(position));
        break;
    }
    default:
        return TRUE;
    }
    if (GetTickCount() - m_InitTick > QuietMilliseconds) MarkDirty();
    return TRUE;
}

INT_PTR PropertyPage::OnCommand(WPARAM command)
{
    // Only plain clicks: the control id with BN_CLICKED (0) in the high word.
    switch (command) {
    case IDC_AE_ENABLE:
        OnAeEnableClicked();
        break;
    case IDC_AUTO_WHITE_BALANCE:
        OnAutoWhiteBalanceClicked();
        break;
    case IDC_ENHANCEMENT_ENABLE:
        OnEnhancementClicked();
        break;
    case IDC_DEFAULTS:
        OnDefaultsClicked();
        break;
    default:
        break;
    }
    return TRUE;
}

void PropertyPage::OnAeEnableClicked()
{
    const bool on = IsChecked(IDC_AE_ENABLE);
    CameraSetAeState(on ? 1 : 0);
    if (!on) {
        // Manual control starts from the values the automatic exposure reached.
        unsigned short gain = 0;
        CameraGetAnalogGain(&gain);
        SetSliderPosition(IDC_ANALOG_GAIN, gain);
        unsigned int time = 0;
        CameraGetExposureTime(&time);
        SetSliderPosition(IDC_EXPOSURE_TIME, static_cast<LPARAM>(time));
    }
    EnableControls(AutoExposureControls, CountOf(AutoExposureControls), on);
    EnableControls(AnalogGainControls, CountOf(AnalogGainControls), !on);
    EnableControls(ExposureTimeControls, CountOf(ExposureTimeControls), !on);
}

void PropertyPage::OnAutoWhiteBalanceClicked()
{
    CameraSetAWBState(1);
    Sleep(WhiteBalanceSettleMilliseconds);
    unsigned int red = 0;
    unsigned int green = 0;
    unsigned int blue = 0;
    CameraGetGain(&red, &green, &blue);
    SetSliderPosition(IDC_RED_GAIN, static_cast<LPARAM>(red));
    SetSliderPosition(IDC_GREEN_GAIN, static_cast<LPARAM>(green));
    SetSliderPosition(IDC_BLUE_GAIN, static_cast<LPARAM>(blue));
}

void PropertyPage::OnEnhancementClicked()
{
    const bool on = IsChecked(IDC_ENHANCEMENT_ENABLE);
    CameraSetColorEnhancement(on ? 1 : 0);
    EnableControls(EnhancementControls, CountOf(EnhancementControls), on);
}

void PropertyPage::OnDefaultsClicked()
{
    ApplyDefaultButtonValues(m_Conf);
    SetToDlg(m_Conf);
}

INT_PTR PropertyPage::OnVerticalScroll(HWND window, WPARAM request)
{
    const int oldPosition = GetScrollPos(window, SB_VERT);
    switch (LOWORD(request)) {
    case SB_LINEUP:
        SetScrollPos(window, SB_VERT, oldPosition - ScrollLine < 0 ? 0 : oldPosition - ScrollLine, TRUE);
        break;
    case SB_LINEDOWN:
        SetScrollPos(window, SB_VERT,
                     oldPosition + ScrollLine > ScrollMaximum ? ScrollMaximum : oldPosition + ScrollLine, TRUE);
        break;
    case SB_THUMBTRACK:
        SetScrollPos(window, SB_VERT, HIWORD(request), TRUE);
        break;
    case SB_THUMBPOSITION:
        break;
    default:
        return TRUE;
    }
    const int newPosition = GetScrollPos(window, SB_VERT);
    // Scrolls the part of the inner dialog below the view (plus a margin)
    // through the view as the position runs from 0 to 100.
    const LONG hiddenHeight = m_DlgRect.bottom - m_ViewRect.bottom + ScrollExtraPixels;
    const int distance = static_cast<int>((oldPosition - newPosition) * hiddenHeight / ScrollMaximum);
    ScrollWindow(window, 0, distance, nullptr, &m_ViewRect);
    return TRUE;
}

void PropertyPage::SetToDlg(const CameraConfig& config)
{
    const bool autoExposure = config.m_AeState != 0;
    if (autoExposure) CheckDlgButton(m_myDlg, IDC_AE_ENABLE, BST_CHECKED);

    SetSlider(IDC_AE_TARGET, 40, 200, config.m_Target);
    EnableControls(AutoExposureControls, CountOf(AutoExposureControls), autoExposure);

    SetSlider(IDC_ANALOG_GAIN, 1, 80, config.m_AnalogGain);
    EnableControls(AnalogGainControls, CountOf(AnalogGainControls), !autoExposure);
    SetSlider(IDC_EXPOSURE_TIME, 1, 23100, static_cast<LPARAM>(config.m_ExposureTime));
    EnableControls(ExposureTimeControls, CountOf(ExposureTimeControls), !autoExposure);

    SetSlider(IDC_RED_GAIN, 0, 255, static_cast<LPARAM>(config.m_RedGain));
    SetSlider(IDC_GREEN_GAIN, 0, 255, static_cast<LPARAM>(config.m_GreenGain));
    SetSlider(IDC_BLUE_GAIN, 0, 255, static_cast<LPARAM>(config.m_BlueGain));
    SetSlider(IDC_GAMMA, 20, 150, config.m_Gamma);
    SetSlider(IDC_CONTRAST, 0, 255, config.m_Contrast);

    const bool enhancement = config.m_ColorEnhancement != 0;
    if (enhancement) CheckDlgButton(m_myDlg, IDC_ENHANCEMENT_ENABLE, BST_CHECKED);
    SetSlider(IDC_SATURATION, 0, 255, config.m_Saturation);
    EnableControls(EnhancementControls, CountOf(EnhancementControls), enhancement);
}

void PropertyPage::GetFromDlg(CameraConfig& config)
{
    // Without the inner dialog there are no controls to read: reading them
    // would yield zeros for every setting.
    if (!m_myDlg) return;
    config.m_AeState = IsChecked(IDC_AE_ENABLE) ? 1 : 0;
    config.m_Target = static_cast<unsigned char>(SliderPosition(IDC_AE_TARGET));
    config.m_AnalogGain = static_cast<unsigned short>(SliderPosition(IDC_ANALOG_GAIN));
    config.m_ExposureTime = static_cast<unsigned int>(SliderPosition(IDC_EXPOSURE_TIME));
    config.m_RedGain = static_cast<unsigned int>(SliderPosition(IDC_RED_GAIN));
    config.m_GreenGain = static_cast<unsigned int>(SliderPosition(IDC_GREEN_GAIN));
    config.m_BlueGain = static_cast<unsigned int>(SliderPosition(IDC_BLUE_GAIN));
    config.m_Gamma = static_cast<unsigned char>(SliderPosition(IDC_GAMMA));
    config.m_Contrast = static_cast<unsigned char>(SliderPosition(IDC_CONTRAST));
    config.m_ColorEnhancement = IsChecked(IDC_ENHANCEMENT_ENABLE) ? 1 : 0;
    config.m_Saturation = static_cast<unsigned char>(SliderPosition(IDC_SATURATION));
}

LRESULT PropertyPage::SliderPosition(int slider) const
{
    return SendDlgItemMessageA(m_myDlg, slider, TBM_GETPOS, 0, 0);
}

void PropertyPage::SetSlider(int slider, int minimum, int maximum, LPARAM position)
{
    SendDlgItemMessageA(m_myDlg, slider, TBM_SETRANGE, TRUE, MAKELPARAM(minimum, maximum));
    SetSliderPosition(slider, position);
}

void PropertyPage::SetSliderPosition(int slider, LPARAM position)
{
    SendDlgItemMessageA(m_myDlg, slider, TBM_SETPOS, TRUE, position);
}

void PropertyPage::EnableControls(const int* ids, int count, bool enable)
{
    for (int i = 0; i < count; ++i) EnableWindow(GetDlgItem(m_myDlg, ids[i]), enable ? TRUE : FALSE);
}

bool PropertyPage::IsChecked(int id) const
{
    return IsDlgButtonChecked(m_myDlg, id) == BST_CHECKED;
}

void PropertyPage::ShowText(int id, const char* text)
{
    SetDlgItemTextA(m_myDlg, id, text);
}
