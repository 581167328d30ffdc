// The "Format" property page: picks the camera's resolution index.
#ifndef QUILLON_FORMAT_PAGE_H
#define QUILLON_FORMAT_PAGE_H

#include "camera/ICameraConfig.h"
#include "pages/PropertyPageBase.h"

class FormatPage : public PropertyPageBase {
public:
    static ObjectBase* Create(IUnknown* owner, HRESULT* result);

    explicit FormatPage(IUnknown* owner);

    HRESULT OnAttachObject(IUnknown* object) override;
    HRESULT OnDetachObject() override;
    HRESULT OnPageDeactivate() override;
    HRESULT OnCommit() override;
    INT_PTR OnPageMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // Checks the button that stands for the record's resolution index.
    void SetToDlg(const CameraConfig& config);
    // Reads the checked button into the record's resolution index.
    void GetFromDlg(CameraConfig& config);

private:
    ComPtr<ICameraConfig> m_ConfigIf;
    CameraConfig m_Conf;
};

#endif
