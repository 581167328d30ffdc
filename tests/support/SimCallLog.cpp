#include "tests/support/SimCallLog.h"

#include <cstring>

std::vector<QuillonSimCall> SimCallRecords()
{
    std::vector<QuillonSimCall> calls;
    const int count = SimGetCallCount();
    for (int i = 0; i < count; ++i) {
        QuillonSimCall call = {};
        if (!SimGetCall(i, &call)) break;
        calls.push_back(call);
    }
    return calls;
}

std::vector<std::string> SimCallNames()
{
    std::vector<std::string> names;
    for (const QuillonSimCall& call : SimCallRecords())
        names.emplace_back(call.function);
    return names;
}

std::vector<std::string> SimCallNamesAmong(std::initializer_list<const char*> wanted)
{
    std::vector<std::string> names;
    for (const QuillonSimCall& call : SimCallRecords()) {
        for (const char* name : wanted) {
            if (strcmp(call.function, name) == 0) {
                names.emplace_back(call.function);
                break;
            }
        }
    }
    return names;
}

std::vector<QuillonSimCall> SimCallsStartingWith(const char* prefix)
{
    std::vector<QuillonSimCall> calls;
    const size_t length = strlen(prefix);
    for (const QuillonSimCall& call : SimCallRecords()) {
        if (strncmp(call.function, prefix, length) == 0) calls.push_back(call);
    }
    return calls;
}

int SimCallCount(const char* name)
{
    int count = 0;
    for (const QuillonSimCall& call : SimCallRecords()) {
        if (strcmp(call.function, name) == 0) ++count;
    }
    return count;
}
