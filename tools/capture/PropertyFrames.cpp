#include "tools/capture/PropertyFrames.h"

#include <ocidl.h>
#include <olectl.h>

#include "framework/Raii.h"

HRESULT ShowPropertyPages(IUnknown* object, const wchar_t* caption) {
    if (!object) return E_POINTER;
    ComPtr<ISpecifyPropertyPages> specify;
    RETURN_IF_FAILED(object->QueryInterface(IID_ISpecifyPropertyPages, specify.putVoid()));
    CAUUID pages = {0, nullptr};
    RETURN_IF_FAILED(specify->GetPages(&pages));
    TaskMemory<GUID> pageList(pages.pElems);
    if (pages.cElems == 0) return S_FALSE;
    return OleCreatePropertyFrame(nullptr, 0, 0, caption, 1, &object, pages.cElems, pageList.get(), LOCALE_USER_DEFAULT,
                                  0, nullptr);
}

PropertyFrameThread::~PropertyFrameThread() {
    CloseAndJoin(5000);
}

bool PropertyFrameThread::Start(IUnknown* filter, IUnknown* pin) {
    if (m_Thread) return false;
    m_Filter = filter;
    m_Pin = pin;
    if (m_Filter) m_Filter->AddRef();
    if (m_Pin) m_Pin->AddRef();
    m_Thread = CreateThread(nullptr, 0, &PropertyFrameThread::ThreadMain, this, 0, &m_ThreadId);
    return m_Thread != nullptr;
}

bool PropertyFrameThread::IsRunning() const {
    return m_Thread && WaitForSingleObject(m_Thread, 0) == WAIT_TIMEOUT;
}

void PropertyFrameThread::CloseAndJoin(DWORD milliseconds) {
    if (m_Thread) {
        InterlockedExchange(&m_Closing, 1);
        // The frame closes on its Cancel command; ask again until the thread
        // has left its last frame.
        const DWORD start = GetTickCount();
        while (WaitForSingleObject(m_Thread, 100) == WAIT_TIMEOUT && GetTickCount() - start < milliseconds)
            EnumThreadWindows(m_ThreadId, &PropertyFrameThread::CancelWindow, 0);
        if (WaitForSingleObject(m_Thread, 0) == WAIT_OBJECT_0) {
            CloseHandle(m_Thread);
            m_Thread = nullptr;
        }
    }
    if (!m_Thread) {
        if (m_Filter) m_Filter->Release();
        if (m_Pin) m_Pin->Release();
        m_Filter = m_Pin = nullptr;
    }
}

BOOL CALLBACK PropertyFrameThread::CancelWindow(HWND window, LPARAM) {
    if (IsWindowVisible(window)) PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

DWORD WINAPI PropertyFrameThread::ThreadMain(LPVOID parameter) {
    PropertyFrameThread* self = static_cast<PropertyFrameThread*>(parameter);
    if (FAILED(OleInitialize(nullptr))) return 1;
    if (self->m_Filter && !self->m_Closing) ShowPropertyPages(self->m_Filter, L"Brisca Camera");
    if (self->m_Pin && !self->m_Closing) ShowPropertyPages(self->m_Pin, L"~Capture");
    OleUninitialize();
    return 0;
}
