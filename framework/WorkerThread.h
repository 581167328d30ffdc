// A thread driven by one command at a time: the controller posts a command
// and waits for the worker's reply.
#ifndef QUILLON_WORKER_THREAD_H
#define QUILLON_WORKER_THREAD_H

#include <windows.h>
#include "Sync.h"

class WorkerThread {
public:
    WorkerThread();
    virtual DWORD ThreadBody() = 0;
    virtual ~WorkerThread();

    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Controller side.
    bool Start();
    bool IsRunning() const { return m_ThreadHandle != nullptr; }
    HRESULT SendCommand(DWORD code);
    void Join();

    // Worker side.
    DWORD WaitCommand();
    bool PollCommand(DWORD* code);
    void ReplyCommand(HRESULT result);

private:
    static DWORD WINAPI ThreadEntry(LPVOID parameter);

    SignalEvent m_CommandEvent;  // manual reset: signalled while a command waits for its reply
    SignalEvent m_DoneEvent;     // auto reset: wakes the one waiting sender
    DWORD m_Command;
    HRESULT m_Result;
    HANDLE volatile m_ThreadHandle;
    CriticalLock m_CallLock;
};

// Joins the calling thread to the multithreaded apartment through ole32's
// CoInitializeEx, without loading ole32 itself.
HRESULT InitThreadCom();

#endif
