// briscacap: lists, inspects, configures and streams the Brisca Camera the
// way a capture program does, through the platform's device enumerator and
// capture graph builder.
#include <windows.h>
#include <ole2.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "tools/capture/CameraCommands.h"
#include "tools/capture/CommandLine.h"
#include "tools/capture/ConsoleOutput.h"
#include "tools/capture/ExitCodes.h"
#include "tools/capture/VirtualCamera.h"

namespace {

HANDLE StopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT || type == CTRL_CLOSE_EVENT) {
        if (StopEvent) SetEvent(StopEvent);
        return TRUE;
    }
    return FALSE;
}

std::vector<std::wstring> Arguments() {
    std::vector<std::wstring> arguments;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!words) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(words[i]);
    LocalFree(words);
    return arguments;
}

int RunCommand(const ToolOptions& options) {
    switch (options.command) {
    case ToolCommand::List:
        return ListDevices();
    case ToolCommand::Info:
        return ShowInfo(options);
    case ToolCommand::Set:
        return ChangeSetting(options);
    case ToolCommand::Pages:
        return ShowPages(options);
    case ToolCommand::Controls:
        return ShowControls(options);
    case ToolCommand::Control:
        return ChangeControl(options);
    case ToolCommand::Stream:
        return StreamCamera(options, StopEvent);
    case ToolCommand::VirtualCamera:
        return RunVirtualCameraCommand(options);
    default:
        PrintOut(L"%ls", UsageText());
        return ExitSuccess;
    }
}

}  // namespace

int main() {
    ToolOptions options;
    std::wstring error;
    if (!ParseCommandLine(Arguments(), options, error)) {
        PrintError(L"briscacap: %ls\n\n%ls", error.c_str(), UsageText());
        return ExitUsage;
    }

    StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
    // A single-threaded apartment: the property frame and the preview window need one.
    const HRESULT initialised = OleInitialize(nullptr);
    if (FAILED(initialised)) {
        PrintError(L"briscacap: cannot initialise COM: %ls\n", DescribeResult(initialised).c_str());
        return ExitCameraFailed;
    }
    const int code = RunCommand(options);
    OleUninitialize();
    SetConsoleCtrlHandler(&OnConsoleControl, FALSE);
    CloseHandle(StopEvent);
    return code;
}
