// Watches COM task memory while a test runs: records every block allocated
// with CoTaskMemAlloc and not yet freed, and can make the next allocations
// fail so that out-of-memory paths run deterministically.
#ifndef QUILLON_TASK_MEMORY_SPY_H
#define QUILLON_TASK_MEMORY_SPY_H

#include <windows.h>
#include <objidl.h>

#include <set>

#include "framework/Sync.h"

class TaskMemorySpy {
public:
    // Registers the spy with COM; only one may be active at a time.
    TaskMemorySpy();
    // Revokes the spy. Blocks still outstanding stay watched by COM until freed.
    ~TaskMemorySpy();
    TaskMemorySpy(const TaskMemorySpy&) = delete;
    TaskMemorySpy& operator=(const TaskMemorySpy&) = delete;

    bool Registered() const { return m_Registered; }
    // After letting `skip` non-empty allocations through, the next `count` return null.
    void FailNextAllocations(int count, int skip = 0);
    // Whether the block was allocated as task memory under this spy and is not freed yet.
    bool Owns(const void* block) const;
    size_t Outstanding() const;

private:
    class Hooks;
    friend class Hooks;

    bool m_Registered = false;
};

#endif
