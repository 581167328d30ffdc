#include "tests/support/ChildProcess.h"

#include <string>
#include <vector>

#include "framework/Raii.h"

namespace {

const wchar_t ChildVariable[] = L"QUILLON_CHILD_TEST";

} // namespace

bool InChildProcess()
{
    return GetEnvironmentVariableW(ChildVariable, nullptr, 0) > 0;
}

DWORD RunTestInChildProcess(const char* testName, DWORD milliseconds)
{
    wchar_t program[MAX_PATH];
    if (!GetModuleFileNameW(nullptr, program, MAX_PATH)) return 0xFFFFFFFF;
    std::wstring command = L"\"" + std::wstring(program) + L"\" --gtest_filter=";
    for (const char* c = testName; *c; ++c)
        command += static_cast<wchar_t>(*c);
    std::vector<wchar_t> line(command.begin(), command.end());
    line.push_back(L'\0');

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    SetEnvironmentVariableW(ChildVariable, L"1");
    const BOOL started = CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                        &startup, &process);
    SetEnvironmentVariableW(ChildVariable, nullptr);
    if (!started) return 0xFFFFFFFF;
    UniqueHandle child(process.hProcess);
    UniqueHandle thread(process.hThread);
    if (WaitForSingleObject(child.get(), milliseconds) != WAIT_OBJECT_0) {
        TerminateProcess(child.get(), 0xFFFFFFFE);
        WaitForSingleObject(child.get(), 5000);
        return 0xFFFFFFFE;
    }
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(child.get(), &code);
    return code;
}
