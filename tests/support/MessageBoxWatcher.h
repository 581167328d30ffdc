// Closes the module's modal message boxes ("#32770" dialogs captioned
// "Brisca Camera") from a thread of its own, so a test that provokes one is
// not held by it, and records the text of each one it closed.
#ifndef QUILLON_MESSAGE_BOX_WATCHER_H
#define QUILLON_MESSAGE_BOX_WATCHER_H

#include <windows.h>

#include <string>
#include <vector>

#include "framework/Raii.h"
#include "framework/Sync.h"

class MessageBoxWatcher {
public:
    MessageBoxWatcher();
    // Stops watching; boxes still open stay open.
    ~MessageBoxWatcher();
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

    // Texts of the boxes closed so far, in order.
    std::vector<std::string> ClosedTexts();
    // Waits until at least `count` boxes were closed.
    bool WaitForClosed(size_t count, DWORD milliseconds);

private:
    static DWORD WINAPI WatchMain(void* watcher);
    static BOOL CALLBACK OnTopWindow(HWND window, LPARAM watcher);
    void CloseIfModuleBox(HWND window);

    SignalEvent m_Quit{true};
    CriticalLock m_Lock;
    std::vector<std::string> m_Texts;
    std::vector<HWND> m_Closing;  // boxes told to close and not yet gone
    UniqueHandle m_Thread;
};

#endif
