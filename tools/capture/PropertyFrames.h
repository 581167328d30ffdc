// Showing an object's property pages in the platform's property frame.
#ifndef BRISCACAP_PROPERTY_FRAMES_H
#define BRISCACAP_PROPERTY_FRAMES_H

#include <windows.h>
#include <unknwn.h>

// Shows the pages the object lists (ISpecifyPropertyPages) in a modal frame
// and returns when the user closes it. S_FALSE when the object lists none.
HRESULT ShowPropertyPages(IUnknown* object, const wchar_t* caption);

// Shows the pages of one or two objects, one frame after the other, on a
// thread of its own, so the caller's thread stays free.
class PropertyFrameThread {
public:
    PropertyFrameThread() = default;
    ~PropertyFrameThread();
    PropertyFrameThread(const PropertyFrameThread&) = delete;
    PropertyFrameThread& operator=(const PropertyFrameThread&) = delete;

    bool Start(IUnknown* filter, IUnknown* pin);
    bool IsRunning() const;
    // Closes the open frame as its Cancel button would and waits for the
    // thread to end.
    void CloseAndJoin(DWORD milliseconds);

private:
    static DWORD WINAPI ThreadMain(LPVOID parameter);
    static BOOL CALLBACK CancelWindow(HWND window, LPARAM parameter);

    IUnknown* m_Filter = nullptr;
    IUnknown* m_Pin = nullptr;
    HANDLE m_Thread = nullptr;
    DWORD m_ThreadId = 0;
    volatile LONG m_Closing = 0;
};

#endif
