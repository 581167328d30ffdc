#include "pages/FormatPage.h"

#include <commctrl.h>

#include <new>

#include "pages/resource.h"

namespace {

// Radio buttons for the resolution indexes 0 to 3, in index order.
const int ResolutionButtons[] = {IDC_RESOLUTION_3032, IDC_RESOLUTION_1600, IDC_RESOLUTION_1280, IDC_RESOLUTION_800};
const int ResolutionCount = sizeof(ResolutionButtons) / sizeof(ResolutionButtons[0]);

} // namespace

ObjectBase* FormatPage::Create(IUnknown* owner, HRESULT* result)
{
    auto* page = new (std::nothrow) FormatPage(owner);
    if (!page) {
        if (result) *result = E_OUTOFMEMORY;
        return nullptr;
    }
    return page;
}

FormatPage::FormatPage(IUnknown* owner) : PropertyPageBase(owner, IDD_FORMAT_PAGE, IDS_FORMAT_TITLE)
{
    InitCommonControls();
}

HRESULT FormatPage::OnAttachObject(IUnknown* object)
{
    if (!object) return E_POINTER;
    const HRESULT result = object->QueryInterface(IID_ICameraConfig, m_ConfigIf.putVoid());
    if (m_ConfigIf) m_ConfigIf->GetConfig(&m_Conf);
    return result;
}

HRESULT FormatPage::OnDetachObject()
{
    m_ConfigIf.reset();
    return S_OK;
}

HRESULT FormatPage::OnPageDeactivate()
{
    // Nothing is handed on here, but the choice is kept: an Apply that comes
    // after the dialog is gone must still hand back what the user picked.
    GetFromDlg(m_Conf);
    return S_OK;
}

HRESULT FormatPage::OnCommit()
{
    GetFromDlg(m_Conf);
    if (m_ConfigIf) m_ConfigIf->SetConfig(&m_Conf);
    return S_OK;
}

INT_PTR FormatPage::OnPageMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) SetToDlg(m_Conf);
    if (message == WM_COMMAND) MarkDirty();
    return PropertyPageBase::OnPageMessage(window, message, wParam, lParam);
}

void FormatPage::SetToDlg(const CameraConfig& config)
{
    const int index = config.m_Format.m_Resolution;
    const int button = index < ResolutionCount ? ResolutionButtons[index] : IDC_RESOLUTION_3032;
    CheckRadioButton(m_DialogWindow, IDC_RESOLUTION_3032, IDC_RESOLUTION_640, button);
}

void FormatPage::GetFromDlg(CameraConfig& config)
{
    // Without a dialog there is no choice to read; the record keeps its index.
    if (!m_DialogWindow) return;
    unsigned char index = 0;
    for (int i = 0; i < ResolutionCount; ++i) {
        if (IsDlgButtonChecked(m_DialogWindow, ResolutionButtons[i]) == BST_CHECKED) {
            index = static_cast<unsigned char>(i);
            break;
        }
    }
    config.m_Format.m_Resolution = index;
}
