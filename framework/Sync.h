// Events and locks used throughout the module.
#ifndef QUILLON_SYNC_H
#define QUILLON_SYNC_H

#include <windows.h>

// Owns one unnamed event, created not signalled. The handle is null when
// creation failed.
class SignalEvent {
public:
    explicit SignalEvent(bool manualReset);
    ~SignalEvent();
    SignalEvent(const SignalEvent&) = delete;
    SignalEvent& operator=(const SignalEvent&) = delete;

    HANDLE Handle() const { return m_Event; }
    void Set() { SetEvent(m_Event); }
    void Reset() { ResetEvent(m_Event); }
    // True when the event was signalled within the time limit.
    bool Wait(DWORD milliseconds = INFINITE) { return WaitForSingleObject(m_Event, milliseconds) == WAIT_OBJECT_0; }

private:
    HANDLE m_Event;
};

// A re-entrant critical section.
class CriticalLock {
public:
    CriticalLock() { InitializeCriticalSection(&m_Section); }
    ~CriticalLock() { DeleteCriticalSection(&m_Section); }
    CriticalLock(const CriticalLock&) = delete;
    CriticalLock& operator=(const CriticalLock&) = delete;

    void Enter() { EnterCriticalSection(&m_Section); }
    void Leave() { LeaveCriticalSection(&m_Section); }

private:
  friend class ConditionSignal;
  CRITICAL_SECTION m_Section;
};

// Lets threads that hold a CriticalLock wait until another thread tells
// them that something they are waiting for has changed.
class ConditionSignal {
  public:
    ConditionSignal() { InitializeConditionVariable(&m_Variable); }
    ConditionSignal(const ConditionSignal&) = delete;
    ConditionSignal& operator=(const ConditionSignal&) = delete;

    // Leaves the lock (held exactly once by the caller) while it waits, and
    // holds it again on return; false when the time ran out.
    bool Wait(CriticalLock& lock, DWORD milliseconds)
    {
        return SleepConditionVariableCS(&m_Variable, &lock.m_Section, milliseconds) != FALSE;
    }
    void WakeAll() { WakeAllConditionVariable(&m_Variable); }

  private:
    CONDITION_VARIABLE m_Variable;
};

// Holds a CriticalLock for the lifetime of the scope.
class ScopedLock {
public:
    explicit ScopedLock(CriticalLock* lock) : m_Lock(lock) { m_Lock->Enter(); }
    ~ScopedLock() { m_Lock->Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalLock* m_Lock;
};

#endif
