#include "tools/capture/CommandLine.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cwchar>

namespace {

bool ParseWhole(const std::wstring& text, long minimum, long maximum, long& value) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    errno = 0;
    const long parsed = wcstol(text.c_str(), &end, 10);
    if (errno != 0 || *end != L'\0' || parsed < minimum || parsed > maximum) return false;
    value = parsed;
    return true;
}

bool ParsePositiveSeconds(const std::wstring& text, double& value) {
    if (text.empty()) return false;
    wchar_t* end = nullptr;
    errno = 0;
    const double parsed = wcstod(text.c_str(), &end);
    if (errno != 0 || *end != L'\0' || !std::isfinite(parsed) || parsed <= 0 || parsed > 86400) return false;
    value = parsed;
    return true;
}

bool ParseCommandName(const std::wstring& word, ToolCommand& command) {
    static const struct {
        const wchar_t* name;
        ToolCommand command;
    } Commands[] = {
        {L"help", ToolCommand::Help},         {L"list", ToolCommand::List},
        {L"info", ToolCommand::Info},         {L"set", ToolCommand::Set},
        {L"stream", ToolCommand::Stream},     {L"pages", ToolCommand::Pages},
        {L"controls", ToolCommand::Controls}, {L"control", ToolCommand::Control},
    };
    for (const auto& entry : Commands) {
        if (word == entry.name) {
            command = entry.command;
            return true;
        }
    }
    return false;
}

bool TakesValue(const std::wstring& option) {
    return option == L"--device" || option == L"--resolution" || option == L"--seconds" || option == L"--frames" ||
           option == L"--avi" || option == L"--avi-frames" || option == L"--snapshot" || option == L"--preview" ||
           option == L"--fps";
}

// The rates the camera's pins deliver.
bool IsOfferedFrameRate(long framesPerSecond) {
    return framesPerSecond == 30 || framesPerSecond == 15 || framesPerSecond == 10 || framesPerSecond == 5;
}

// Options that only make sense for streaming.
bool IsStreamOption(const std::wstring& option) {
    return option == L"--seconds" || option == L"--frames" || option == L"--avi" || option == L"--avi-frames" ||
           option == L"--snapshot" || option == L"--pages" || option == L"--preview" || option == L"--fps";
}

// control NAME VALUE [auto|manual]; the value's range is the camera's to judge.
bool ParseControlArguments(const std::vector<std::wstring>& positional, ToolOptions& options,
                           std::wstring& error)
{
    if (positional.size() < 2 || positional.size() > 3) {
        error = L"control takes a control name, a value and optionally auto or manual";
        return false;
    }
    options.controlName = positional[0];
    if (!ParseWhole(positional[1], LONG_MIN, LONG_MAX, options.controlValue)) {
        error = L"the control value must be a whole number";
        return false;
    }
    if (positional.size() == 3) {
        if (positional[2] != L"auto" && positional[2] != L"manual") {
            error = L"the control mode is auto or manual";
            return false;
        }
        options.controlAuto = positional[2] == L"auto";
    }
    return true;
}

// vcam add|remove|status, and --all-users after add or remove.
bool ParseVirtualCameraCommand(const std::vector<std::wstring>& arguments, ToolOptions& options,
                               std::wstring& error)
{
    static const struct {
        const wchar_t* name;
        VirtualCameraAction action;
    } Actions[] = {
        {L"add", VirtualCameraAction::Add},
        {L"remove", VirtualCameraAction::Remove},
        {L"status", VirtualCameraAction::Status},
    };
    options.command = ToolCommand::VirtualCamera;
    bool known = false;
    for (const auto& entry : Actions) {
        if (arguments.size() > 1 && arguments[1] == entry.name) {
            options.virtualCamera = entry.action;
            known = true;
        }
    }
    if (!known) {
        error = L"vcam takes add, remove or status";
        return false;
    }
    for (size_t index = 2; index < arguments.size(); ++index) {
        if (arguments[index] == L"--all-users" && options.virtualCamera != VirtualCameraAction::Status) {
            options.allUsers = true;
            continue;
        }
        error = L"unexpected argument \"" + arguments[index] + L"\" for vcam " + arguments[1];
        return false;
    }
    return true;
}

}  // namespace

bool ParseCommandLine(const std::vector<std::wstring>& arguments, ToolOptions& options, std::wstring& error) {
    options = ToolOptions();
    size_t index = 0;
    if (arguments.empty()) return true;  // help
    if (arguments[0] == L"vcam") return ParseVirtualCameraCommand(arguments, options, error);
    if (arguments[0] == L"--resolution") {
        // "briscacap --resolution N" on its own changes the resolution index.
        options.command = ToolCommand::Set;
    } else if (arguments[0] == L"-h" || arguments[0] == L"--help" || arguments[0] == L"/?") {
        return true;
    } else {
        if (!ParseCommandName(arguments[0], options.command)) {
            error = L"unknown command \"" + arguments[0] + L"\"";
            return false;
        }
        index = 1;
    }

    std::vector<std::wstring> positional;
    for (; index < arguments.size(); ++index) {
        const std::wstring& word = arguments[index];
        if (word.size() < 2 || word.compare(0, 2, L"--") != 0) {
            positional.push_back(word);
            continue;
        }
        if (word != L"--pages" && !TakesValue(word)) {
            error = L"unknown option " + word;
            return false;
        }
        if (IsStreamOption(word) && options.command != ToolCommand::Stream) {
            error = word + L" applies to the stream command only";
            return false;
        }
        if (word == L"--pages") {
            options.showPages = true;
            continue;
        }
        if (index + 1 >= arguments.size()) {
            error = word + L" needs a value";
            return false;
        }
        const std::wstring& value = arguments[++index];
        long number = 0;
        if (word == L"--device") {
            if (value.empty()) {
                error = L"--device needs a name";
                return false;
            }
            options.deviceName = value;
        } else if (word == L"--resolution") {
            if (!ParseWhole(value, 0, 3, number)) {
                error = L"--resolution takes an index from 0 to 3";
                return false;
            }
            options.resolution = static_cast<int>(number);
        } else if (word == L"--seconds") {
            if (!ParsePositiveSeconds(value, options.seconds)) {
                error = L"--seconds takes a positive number of seconds (at most 86400)";
                return false;
            }
        } else if (word == L"--frames") {
            if (!ParseWhole(value, 1, 100000000, options.frameLimit)) {
                error = L"--frames takes a positive whole number";
                return false;
            }
        } else if (word == L"--avi") {
            options.aviPath = value;
        } else if (word == L"--avi-frames") {
            if (!ParseWhole(value, 1, 1000, options.aviFrames)) {
                error = L"--avi-frames takes a number from 1 to 1000";
                return false;
            }
        } else if (word == L"--fps") {
            if (!ParseWhole(value, 1, 30, number) || !IsOfferedFrameRate(number)) {
                error = L"--fps takes one of the camera's frame rates: 30, 15, 10 or 5";
                return false;
            }
            options.framesPerSecond = number;
        } else if (word == L"--snapshot") {
            options.snapshotPath = value;
        } else if (value == L"auto") {  // --preview
            options.preview = PreviewMode::Automatic;
        } else if (value == L"window") {
            options.preview = PreviewMode::Window;
        } else if (value == L"null") {
            options.preview = PreviewMode::Null;
        } else {
            error = L"--preview takes auto, window or null";
            return false;
        }
    }

    if (options.command == ToolCommand::Set) {
        if (positional.empty() && options.resolution >= 0) return true;
        if (positional.size() != 2) {
            error = L"set takes a setting name and a value (or --resolution N)";
            return false;
        }
        options.settingName = positional[0];
        options.settingValue = positional[1];
        return true;
    }
    if (options.command == ToolCommand::Control) return ParseControlArguments(positional, options, error);
    if (!positional.empty()) {
        error = L"unexpected argument \"" + positional[0] + L"\"";
        return false;
    }
    if (options.command == ToolCommand::Stream && options.seconds == 0 && options.frameLimit == 0)
        options.seconds = DefaultStreamSeconds;
    return true;
}

const wchar_t* UsageText() {
    return L"briscacap: the Brisca Camera capture tool\n"
           L"\n"
           L"  briscacap list                      video input devices\n"
           L"  briscacap info                      formats and current settings of the camera\n"
           L"  briscacap set NAME VALUE            change one setting (briscacap info lists them)\n"
           L"  briscacap set --resolution N        choose the resolution index 0..3\n"
           L"  briscacap pages                     show the camera's property pages\n"
           L"  briscacap controls                  the standard camera controls: range, default, value\n"
           L"  briscacap control NAME VALUE [auto|manual]   set one (manual unless auto is given)\n"
           L"  briscacap stream [options]          stream from both pins and print a summary\n"
           L"      --seconds S       stream for S seconds (default 5 unless --frames is given)\n"
           L"      --frames N        stop after N captured frames\n"
           L"      --fps N           stream at 30, 15, 10 or 5 frames a second (default 30)\n"
           L"      --avi FILE        record uncompressed video into FILE\n"
           L"      --avi-frames N    frames to record (default 10; a frame is about 18 MB)\n"
           L"      --snapshot FILE   save the latest frame as a PNG picture\n"
           L"      --preview MODE    auto (a window when there is a display), window or null\n"
           L"      --pages           show the property pages while streaming\n"
           L"\n"
           L"  briscacap vcam add [--all-users]    make the camera a Windows 11 virtual camera, for the\n"
           L"                                      apps that use Media Foundation (--all-users: for\n"
           L"                                      every user, from an administrator's prompt)\n"
           L"  briscacap vcam remove [--all-users] remove that virtual camera again\n"
           L"  briscacap vcam status               whether the system has virtual cameras and whether\n"
           L"                                      ours is registered (exit code 0: registered)\n"
           L"\n"
           L"  Every device command takes --device NAME (default \"Brisca Camera\") and\n"
           L"  --resolution N, applied before the command runs. Ctrl+C stops a stream.\n";
}
