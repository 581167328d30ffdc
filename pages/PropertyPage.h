// The "Camera Set" property page: exposure and colour settings. Its controls
// sit on an inner dialog placed inside the otherwise empty page dialog; every
// slider movement goes straight to the camera library, and the page's copy of
// the settings goes to the filter on apply and on deactivation.
#ifndef QUILLON_PROPERTY_PAGE_H
#define QUILLON_PROPERTY_PAGE_H

#include "camera/ICameraConfig.h"
#include "pages/PropertyPageBase.h"

class PropertyPage : public PropertyPageBase {
public:
    static ObjectBase* Create(IUnknown* owner, HRESULT* result);

    explicit PropertyPage(IUnknown* owner);
    ~PropertyPage() override;

    HRESULT OnAttachObject(IUnknown* object) override;
    HRESULT OnDetachObject() override;
    HRESULT OnPageDeactivate() override;
    HRESULT OnCommit() override;
    INT_PTR OnPageMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Fills the inner dialog's controls from a record.
    void SetToDlg(const CameraConfig& config);
    // Reads the inner dialog's controls into a record.
    void GetFromDlg(CameraConfig& config);

    static INT_PTR CALLBACK SettingsDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

private:
    void SetUpSettingsDialog(HWND pageDialog);
    INT_PTR OnSliderNotify(int slider);
    INT_PTR OnCommand(WPARAM command);
    INT_PTR OnVerticalScroll(HWND window, WPARAM request);
    void OnAeEnableClicked();
    void OnAutoWhiteBalanceClicked();
    void OnEnhancementClicked();
    void OnDefaultsClicked();

    LRESULT SliderPosition(int slider) const;
    void SetSlider(int slider, int minimum, int maximum, LPARAM position);
    void SetSliderPosition(int slider, LPARAM position);
    void EnableControls(const int* ids, int count, bool enable);
    bool IsChecked(int id) const;
    void ShowText(int id, const char* text);

    ComPtr<ICameraConfig> m_ConfigIf;
    HWND m_myDlg;
    RECT m_ViewRect;
    RECT m_DlgRect;
    DWORD m_InitTick;
    CameraConfig m_Conf;
};

#endif
