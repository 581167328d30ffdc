// Records every call of the camera library's contract functions for tests.
#ifndef QUILLON_CALL_LOG_H
#define QUILLON_CALL_LOG_H

#include <deque>
#include <initializer_list>

#include "framework/Sync.h"
#include "sdk/QuillonSim.h"

// Keeps the most recent MaxEntries calls; older ones are dropped, so a long
// frame storm cannot eat the memory.
class CallLog {
public:
    static const size_t MaxEntries = 100000;

    void Record(const char* function, std::initializer_list<long long> args);
    int Count();
    bool Get(int index, QuillonSimCall* call);
    void Clear();

private:
    CriticalLock m_Lock;
    std::deque<QuillonSimCall> m_Calls;
};

// Widening helpers for the argument list: pointers and handles as their address.
inline long long LogArg(const void* pointer)
{
    return static_cast<long long>(reinterpret_cast<INT_PTR>(pointer));
}

#endif
