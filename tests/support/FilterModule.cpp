#include "tests/support/FilterModule.h"

#include "sdk/QuillonSim.h"
#include "tests/support/CameraGraph.h"

HMODULE FilterModuleTest::s_Module = nullptr;

void FilterModuleTest::SetUpTestSuite()
{
    // Loaded once and kept: the tests read its unload answer, not unload it.
    if (!s_Module) s_Module = LoadLibraryW(L"QuillonFilter.dll");
}

void FilterModuleTest::SetUp()
{
    ASSERT_NE(nullptr, s_Module) << "QuillonFilter.dll did not load";
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    SimReset();
    m_Temp.reset(new IsolatedTempDirectory());
    m_Boxes.reset(new MessageBoxWatcher());
}

void FilterModuleTest::TearDown()
{
    m_Boxes.reset();
    SimReset();
    m_Temp.reset();
    CoUninitialize();
}

ComPtr<IBaseFilter> FilterModuleTest::NewFilter()
{
    ComPtr<IBaseFilter> filter;
    const HRESULT hr = CreateFilterFromModule(s_Module, filter.put());
    EXPECT_EQ(S_OK, hr);
    return filter;
}

HRESULT FilterModuleTest::CanUnloadNow()
{
    using CanUnload = HRESULT(STDAPICALLTYPE*)();
    const auto canUnload =
        reinterpret_cast<CanUnload>(reinterpret_cast<void*>(GetProcAddress(s_Module, "DllCanUnloadNow")));
    return canUnload ? canUnload() : E_NOTIMPL;
}

namespace {

BOOL CALLBACK CountOwnWindow(HWND window, LPARAM count)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

}  // namespace

int ProcessWindowCount()
{
    int count = 0;
    EnumWindows(CountOwnWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}
