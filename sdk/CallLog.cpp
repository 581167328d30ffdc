#include "sdk/CallLog.h"

#include <cstring>

void CallLog::Record(const char* function, std::initializer_list<long long> args)
{
    QuillonSimCall call = {};
    std::strncpy(call.function, function, sizeof(call.function) - 1);
    for (long long arg : args) {
        if (call.argCount == 4) break;
        call.args[call.argCount++] = arg;
    }
    call.threadId = GetCurrentThreadId();

    ScopedLock hold(&m_Lock);
    if (m_Calls.size() == MaxEntries) m_Calls.pop_front();
    m_Calls.push_back(call);
}

int CallLog::Count()
{
    ScopedLock hold(&m_Lock);
    return static_cast<int>(m_Calls.size());
}

bool CallLog::Get(int index, QuillonSimCall* call)
{
    if (!call) return false;
    ScopedLock hold(&m_Lock);
    if (index < 0 || size_t(index) >= m_Calls.size()) return false;
    *call = m_Calls[size_t(index)];
    return true;
}

void CallLog::Clear()
{
    ScopedLock hold(&m_Lock);
    m_Calls.clear();
}
