#include "pages/PropertyPageBase.h"

#include "framework/ModuleGlobals.h"
#include "framework/TextRoutines.h"

namespace {

const int TitleCapacity = 256;
const LONG DefaultPageWidth = 340;
const LONG DefaultPageHeight = 150;

ULONG AtLeastOne(LONG count)
{
    const ULONG value = static_cast<ULONG>(count);
    return value < 1 ? 1 : value;
}

} // namespace

PropertyPageBase::PropertyPageBase(IUnknown* owner, int dialogResource, int titleResource)
    : ObjectBase(L"PropertyPageBase", owner),
      m_PageWindow(nullptr),
      m_DialogWindow(nullptr),
      m_Dirty(FALSE),
      m_TitleResource(titleResource),
      m_DialogResource(dialogResource),
      m_ObjectSet(FALSE)
{
}

PropertyPageBase::~PropertyPageBase()
{
    // A host that releases an active page without deactivating it must not
    // leave a dialog behind whose procedure would reach a deleted page.
    if (m_PageWindow && IsWindow(m_PageWindow)) {
        SetWindowLongPtrA(m_PageWindow, DWLP_USER, 0);
        DestroyWindow(m_PageWindow);
    }
}

STDMETHODIMP PropertyPageBase::InnerQueryInterface(REFIID iid, void** out)
{
    if (IsEqualIID(iid, IID_IPropertyPage)) return ProvideInterface(static_cast<IPropertyPage*>(this), out);
    return ObjectBase::InnerQueryInterface(iid, out);
}

STDMETHODIMP_(ULONG) PropertyPageBase::InnerAddRef()
{
    InterlockedIncrement(&m_RefCount);
    return AtLeastOne(m_RefCount);
}

STDMETHODIMP_(ULONG) PropertyPageBase::InnerRelease()
{
    if (InterlockedDecrement(&m_RefCount) != 0) return AtLeastOne(m_RefCount);
    // Back to 1 so that references taken and dropped while detaching below
    // cannot start a second destruction.
    m_RefCount = 1;
    SetPageSite(nullptr);
    SetObjects(0, nullptr);
    delete this;
    return 0;
}

STDMETHODIMP PropertyPageBase::SetPageSite(IPropertyPageSite* site)
{
    if (site) {
        if (m_PageSite) return E_UNEXPECTED;
        m_PageSite = ComPtr<IPropertyPageSite>::share(site);
        return S_OK;
    }
    if (!m_PageSite) return E_UNEXPECTED;
    m_PageSite.reset();
    return S_OK;
}

STDMETHODIMP PropertyPageBase::Activate(HWND parent, LPCRECT rectangle, BOOL /*modal*/)
{
    if (!rectangle) return E_POINTER;
    if (!m_ObjectSet) return E_UNEXPECTED;
    if (m_PageWindow) return E_UNEXPECTED;

    m_PageWindow = CreateDialogParamA(ModuleInstance, MAKEINTRESOURCEA(m_DialogResource), parent, PageDialogProc,
                                      reinterpret_cast<LPARAM>(this));
    if (!m_PageWindow) return E_OUTOFMEMORY;

    OnPageActivate();
    Move(rectangle);
    return Show(SW_SHOWNORMAL);
}

STDMETHODIMP PropertyPageBase::Deactivate()
{
    if (!m_PageWindow) return E_UNEXPECTED;

    // With m_PageWindow cleared the message rule does not put the style back.
    const LONG_PTR style = GetWindowLongPtrA(m_PageWindow, GWL_EXSTYLE) & ~static_cast<LONG_PTR>(WS_EX_CONTROLPARENT);
    HWND window = m_PageWindow;
    m_PageWindow = nullptr;
    SetWindowLongPtrA(window, GWL_EXSTYLE, style);
    m_PageWindow = window;

    OnPageDeactivate();

    DestroyWindow(m_PageWindow);
    m_PageWindow = nullptr;
    // The controls are gone; nothing may read them any more.
    m_DialogWindow = nullptr;
    return S_OK;
}

STDMETHODIMP PropertyPageBase::GetPageInfo(PROPPAGEINFO* info)
{
    if (!info) return E_POINTER;

    wchar_t title[TitleCapacity];
    LoadResourceText(title, m_TitleResource);
    wchar_t* taskTitle = nullptr;
    RETURN_IF_FAILED(DuplicateWideToTask(title, &taskTitle));

    info->cb = sizeof(PROPPAGEINFO);
    info->pszTitle = taskTitle;
    info->pszDocString = nullptr;
    info->pszHelpFile = nullptr;
    info->dwHelpContext = 0;
    info->size.cx = DefaultPageWidth;
    info->size.cy = DefaultPageHeight;
    MeasureDialog(m_DialogResource, PageDialogProc, 0, &info->size);
    return S_OK;
}

STDMETHODIMP PropertyPageBase::SetObjects(ULONG count, IUnknown** objects)
{
    if (count == 1) {
        if (!objects || !objects[0]) return E_POINTER;
        m_ObjectSet = TRUE;
        return OnAttachObject(objects[0]);
    }
    if (count == 0) {
        m_ObjectSet = FALSE;
        return OnDetachObject();
    }
    return E_UNEXPECTED;
}

STDMETHODIMP PropertyPageBase::Show(UINT command)
{
    if (!m_PageWindow) return E_UNEXPECTED;
    if (command != SW_HIDE && command != SW_SHOWNORMAL && command != SW_SHOW) return E_INVALIDARG;
    ShowWindow(m_PageWindow, static_cast<int>(command));
    InvalidateRect(m_PageWindow, nullptr, TRUE);
    return S_OK;
}

STDMETHODIMP PropertyPageBase::Move(LPCRECT rectangle)
{
    if (!rectangle) return E_POINTER;
    if (!m_PageWindow) return E_UNEXPECTED;
    MoveWindow(m_PageWindow, rectangle->left, rectangle->top, rectangle->right - rectangle->left,
               rectangle->bottom - rectangle->top, TRUE);
    return S_OK;
}

STDMETHODIMP PropertyPageBase::IsPageDirty()
{
    return m_Dirty ? S_OK : S_FALSE;
}

STDMETHODIMP PropertyPageBase::Apply()
{
    if (!m_ObjectSet) return E_UNEXPECTED;
    if (!m_PageSite) return E_UNEXPECTED;
    if (!m_Dirty) return S_OK;
    const HRESULT result = OnCommit();
    if (SUCCEEDED(result)) m_Dirty = FALSE;
    return result;
}

STDMETHODIMP PropertyPageBase::Help(LPCOLESTR /*directory*/)
{
    return E_NOTIMPL;
}

STDMETHODIMP PropertyPageBase::TranslateAccelerator(MSG* /*message*/)
{
    return E_NOTIMPL;
}

HRESULT PropertyPageBase::OnPageActivate()
{
    return S_OK;
}

HRESULT PropertyPageBase::OnPageDeactivate()
{
    return S_OK;
}

HRESULT PropertyPageBase::MarkDirty()
{
    m_Dirty = TRUE;
    if (m_PageSite) m_PageSite->OnStatusChange(PROPPAGESTATUS_DIRTY);
    return S_OK;
}

INT_PTR CALLBACK PropertyPageBase::PageDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        // lParam is the page, or none while GetPageInfo measures the dialog.
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        if (!lParam) return TRUE;
        reinterpret_cast<PropertyPageBase*>(lParam)->m_DialogWindow = window;
    }
    auto* page = reinterpret_cast<PropertyPageBase*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!page) return TRUE;
    return page->OnPageMessage(window, message, wParam, lParam);
}

INT_PTR PropertyPageBase::OnPageMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // Still being created inside Activate, or Deactivate is changing the style.
    if (!m_PageWindow) return 0;

    // Keep WS_EX_CONTROLPARENT whenever the host changes the extended style,
    // so that the tab key can move into the page.
    if (message == WM_STYLECHANGING && static_cast<int>(wParam) == GWL_EXSTYLE) {
        reinterpret_cast<STYLESTRUCT*>(lParam)->styleNew |= WS_EX_CONTROLPARENT;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}
