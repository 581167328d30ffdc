#include "framework/WorkerThread.h"

#include <objbase.h>

WorkerThread::WorkerThread()
    : m_CommandEvent(true), m_DoneEvent(false), m_Command(0), m_Result(S_OK), m_ThreadHandle(nullptr)
{
}

WorkerThread::~WorkerThread()
{
    Join();
}

bool WorkerThread::Start()
{
    ScopedLock hold(&m_CallLock);
    if (m_ThreadHandle) return false;
    m_ThreadHandle = CreateThread(nullptr, 0, &WorkerThread::ThreadEntry, this, 0, nullptr);
    return m_ThreadHandle != nullptr;
}

HRESULT WorkerThread::SendCommand(DWORD code)
{
    ScopedLock hold(&m_CallLock);
    if (!m_ThreadHandle) return E_FAIL;
    m_Command = code;
    m_CommandEvent.Set();
    // Also watch the thread: a body that has already ended will never reply,
    // and waiting for that reply would block the sender for good.
    const HANDLE waits[2] = {m_DoneEvent.Handle(), m_ThreadHandle};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        m_CommandEvent.Reset();
        return E_FAIL;
    }
    return m_Result;
}

void WorkerThread::Join()
{
    HANDLE thread = InterlockedExchangePointer(&m_ThreadHandle, nullptr);
    if (!thread) return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

DWORD WorkerThread::WaitCommand()
{
    m_CommandEvent.Wait(INFINITE);
    return m_Command;
}

bool WorkerThread::PollCommand(DWORD* code)
{
    if (!m_CommandEvent.Wait(0)) return false;
    if (code) *code = m_Command;
    return true;
}

void WorkerThread::ReplyCommand(HRESULT result)
{
    m_Result = result;
    m_CommandEvent.Reset();
    m_DoneEvent.Set();
}

DWORD WINAPI WorkerThread::ThreadEntry(LPVOID parameter)
{
    WorkerThread* self = static_cast<WorkerThread*>(parameter);
    const HRESULT com = InitThreadCom();
    const DWORD exitCode = self->ThreadBody();
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}

HRESULT InitThreadCom()
{
    typedef HRESULT(WINAPI * InitializeEx)(LPVOID, DWORD);
    HMODULE ole = GetModuleHandleA("ole32.dll");
    if (!ole) return E_FAIL;
    auto initialize = reinterpret_cast<InitializeEx>(reinterpret_cast<void*>(GetProcAddress(ole, "CoInitializeEx")));
    if (!initialize) return E_FAIL;
    return initialize(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE);
}
