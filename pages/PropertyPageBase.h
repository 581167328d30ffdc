// The generic property page: turns a dialog resource into a COM property page
// that a host's property frame can show. Concrete pages override the hooks.
#ifndef QUILLON_PROPERTY_PAGE_BASE_H
#define QUILLON_PROPERTY_PAGE_BASE_H

#include <windows.h>
#include <ocidl.h>

#include "framework/ObjectBase.h"
#include "framework/Raii.h"

class PropertyPageBase : public IPropertyPage, public ObjectBase {
public:
    PropertyPageBase(IUnknown* owner, int dialogResource, int titleResource);

    FORWARD_IUNKNOWN_TO_OWNER

    // IPropertyPage
    STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
    STDMETHODIMP Activate(HWND parent, LPCRECT rectangle, BOOL modal) override;
    STDMETHODIMP Deactivate() override;
    STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
    STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
    STDMETHODIMP Show(UINT command) override;
    STDMETHODIMP Move(LPCRECT rectangle) override;
    STDMETHODIMP IsPageDirty() override;
    STDMETHODIMP Apply() override;
    STDMETHODIMP Help(LPCOLESTR directory) override;
    STDMETHODIMP TranslateAccelerator(MSG* message) override;

    // Hooks for the concrete pages.
    virtual HRESULT OnAttachObject(IUnknown* object) = 0;
    virtual HRESULT OnDetachObject() = 0;
    virtual HRESULT OnPageActivate();
    virtual HRESULT OnPageDeactivate();
    virtual HRESULT OnCommit() = 0;
    // Every message of the page dialog once the page is known. Pages handle
    // their own messages first and then return this base rule.
    virtual INT_PTR OnPageMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // ObjectBase
    STDMETHODIMP InnerQueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) InnerAddRef() override;
    STDMETHODIMP_(ULONG) InnerRelease() override;
    ~PropertyPageBase() override;

    // The one dialog procedure of every page dialog.
    static INT_PTR CALLBACK PageDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // Records unapplied changes and tells the site.
    HRESULT MarkDirty();

protected:
    ComPtr<IPropertyPageSite> m_PageSite;
    HWND m_PageWindow;
    HWND m_DialogWindow;
    BOOL m_Dirty;
    int m_TitleResource;
    int m_DialogResource;
    BOOL m_ObjectSet;
};

#endif
