// Stand-ins for what a property page meets in a host: the page site, the
// attached object's settings interface and a parent window, plus helpers to
// let a page's windows paint and to read reference counts.
#ifndef QUILLON_PAGE_TEST_DOUBLES_H
#define QUILLON_PAGE_TEST_DOUBLES_H

#include <windows.h>
#include <ocidl.h>

#include <string>
#include <vector>

#include "camera/ICameraConfig.h"

// Counts OnStatusChange calls and keeps its own reference count.
class TestPageSite : public IPropertyPageSite {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP OnStatusChange(DWORD flags) override;
    STDMETHODIMP GetLocaleID(LCID* locale) override;
    STDMETHODIMP GetPageContainer(IUnknown** container) override;
    STDMETHODIMP TranslateAccelerator(MSG* message) override;

    LONG References() const { return m_References; }
    std::vector<DWORD> m_StatusChanges;

private:
    volatile LONG m_References = 1;  // the test's own
};

// Hands out a preset record on GetConfig and keeps a copy of every record
// given to SetConfig. Answers only IUnknown and ICameraConfig.
class FakeCameraConfig : public ICameraConfig {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConfig(CameraConfig* record) override;
    STDMETHODIMP SetConfig(CameraConfig* record) override;

    LONG References() const { return m_References; }
    CameraConfig m_Stored;
    int m_GetConfigCalls = 0;
    std::vector<CameraConfig> m_SetConfigRecords;

private:
    volatile LONG m_References = 1;  // the test's own
};

// An object that offers no ICameraConfig (like a filter without pins).
class PlainObject : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    LONG References() const { return m_References; }

private:
    volatile LONG m_References = 1;
};

// A visible top-level window that hosts a page, as a property frame would.
class TestParentWindow {
public:
    TestParentWindow();
    ~TestParentWindow();
    TestParentWindow(const TestParentWindow&) = delete;
    TestParentWindow& operator=(const TestParentWindow&) = delete;
    HWND Handle() const { return m_Window; }
    // The first child window (the page dialog once a page is active).
    HWND FirstChild() const { return GetWindow(m_Window, GW_CHILD); }

private:
    HWND m_Window = nullptr;
};

// Handles every message waiting for this thread's windows, painting included.
void PumpMessages();
// Paints a window and its children now, so that trackbars report themselves.
void PaintNow(HWND window);
// The window's text in ANSI.
std::string WindowText(HWND window);
// Reads an object's reference count by taking and dropping one reference.
ULONG ReferenceCount(IUnknown* object);
// The same record field by field (the record has no comparison of its own).
bool SameConfig(const CameraConfig& a, const CameraConfig& b);

#endif
