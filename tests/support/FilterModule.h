// The built module, loaded as a host loads it, with what a streaming test of
// the filter needs around it: COM, a fresh simulated camera, a private
// settings directory and a watcher that closes the module's message boxes.
#ifndef QUILLON_FILTER_MODULE_H
#define QUILLON_FILTER_MODULE_H

#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <memory>

#include "framework/Raii.h"
#include "tests/support/IsolatedTempDirectory.h"
#include "tests/support/MessageBoxWatcher.h"

class FilterModuleTest : public testing::Test {
protected:
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;

    // A new camera filter from the module's class factory.
    ComPtr<IBaseFilter> NewFilter();
    // DllCanUnloadNow of the module.
    HRESULT CanUnloadNow();
    std::string SettingsPath() const { return m_Temp->Path() + "Brisca Camera.config"; }

    static HMODULE s_Module;
    std::unique_ptr<IsolatedTempDirectory> m_Temp;
    std::unique_ptr<MessageBoxWatcher> m_Boxes;
};

// Top-level windows of this process.
int ProcessWindowCount();
// Milliseconds an operation takes.
template <class Body>
DWORD MillisecondsOf(Body body)
{
    const DWORD start = GetTickCount();
    body();
    return GetTickCount() - start;
}

#endif
