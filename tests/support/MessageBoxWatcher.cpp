#include "tests/support/MessageBoxWatcher.h"

#include <algorithm>

namespace {

const char ModuleCaption[] = "Brisca Camera";
const DWORD PollMilliseconds = 20;

// The text of a message box: its static control's text.
std::string BoxText(HWND box)
{
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[32] = {};
        GetClassNameA(child, className, sizeof(className));
        if (lstrcmpiA(className, "Static") != 0) continue;
        char buffer[256] = {};
        GetWindowTextA(child, buffer, sizeof(buffer));
        if (buffer[0]) text = buffer;
    }
    return text;
}

}  // namespace

MessageBoxWatcher::MessageBoxWatcher() : m_Thread(CreateThread(nullptr, 0, WatchMain, this, 0, nullptr)) {}

MessageBoxWatcher::~MessageBoxWatcher()
{
    m_Quit.Set();
    if (m_Thread) WaitForSingleObject(m_Thread.get(), INFINITE);
}

std::vector<std::string> MessageBoxWatcher::ClosedTexts()
{
    ScopedLock hold(&m_Lock);
    return m_Texts;
}

bool MessageBoxWatcher::WaitForClosed(size_t count, DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (ClosedTexts().size() >= count) return true;
        if (GetTickCount() - start > milliseconds) return false;
        Sleep(PollMilliseconds);
    }
}

DWORD WINAPI MessageBoxWatcher::WatchMain(void* parameter)
{
    MessageBoxWatcher* watcher = static_cast<MessageBoxWatcher*>(parameter);
    while (!watcher->m_Quit.Wait(PollMilliseconds)) {
        EnumWindows(OnTopWindow, reinterpret_cast<LPARAM>(watcher));
        ScopedLock hold(&watcher->m_Lock);
        watcher->m_Closing.erase(std::remove_if(watcher->m_Closing.begin(), watcher->m_Closing.end(),
                                                [](HWND box) { return !IsWindow(box); }),
                                 watcher->m_Closing.end());
    }
    return 0;
}

BOOL CALLBACK MessageBoxWatcher::OnTopWindow(HWND window, LPARAM parameter)
{
    reinterpret_cast<MessageBoxWatcher*>(parameter)->CloseIfModuleBox(window);
    return TRUE;
}

void MessageBoxWatcher::CloseIfModuleBox(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId()) return;
    char className[16] = {};
    GetClassNameA(window, className, sizeof(className));
    if (lstrcmpA(className, "#32770") != 0) return;
    char caption[64] = {};
    GetWindowTextA(window, caption, sizeof(caption));
    if (lstrcmpA(caption, ModuleCaption) != 0) return;

    ScopedLock hold(&m_Lock);
    // A box is counted once, however long it takes to go.
    if (std::find(m_Closing.begin(), m_Closing.end(), window) != m_Closing.end()) return;
    m_Closing.push_back(window);
    m_Texts.push_back(BoxText(window));
    PostMessageA(window, WM_CLOSE, 0, 0);
}
