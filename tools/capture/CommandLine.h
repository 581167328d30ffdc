// The capture tool's sub-commands and options.
#ifndef BRISCACAP_COMMAND_LINE_H
#define BRISCACAP_COMMAND_LINE_H

#include <string>
#include <vector>

enum class ToolCommand { Help, List, Info, Set, Stream, Pages, Controls, Control, VirtualCamera };
enum class VirtualCameraAction { Status, Add, Remove };
enum class PreviewMode { Automatic, Window, Null };

struct ToolOptions {
    ToolCommand command = ToolCommand::Help;
    std::wstring deviceName = L"Brisca Camera";
    // set NAME VALUE
    std::wstring settingName;
    std::wstring settingValue;
    // control NAME VALUE [auto|manual]
    std::wstring controlName;
    long controlValue = 0;
    bool controlAuto = false;
    // --resolution N: applied before anything else the command does; -1 = not given
    int resolution = -1;
    // stream
    double seconds = 0;        // 0 = not given
    long frameLimit = 0;       // 0 = no limit
    std::wstring aviPath;
    long aviFrames = 10;       // frames written to the AVI file
    long framesPerSecond = 0;  // --fps: 30, 15, 10 or 5; 0 = the camera's rate
    std::wstring snapshotPath;
    bool showPages = false;
    PreviewMode preview = PreviewMode::Automatic;
    // vcam add|remove|status [--all-users]
    VirtualCameraAction virtualCamera = VirtualCameraAction::Status;
    bool allUsers = false;
};

// Default length of a stream when neither --seconds nor --frames is given.
const double DefaultStreamSeconds = 5.0;

// Parses the arguments after the program name. On failure returns false and
// describes the problem in error.
bool ParseCommandLine(const std::vector<std::wstring>& arguments, ToolOptions& options, std::wstring& error);

const wchar_t* UsageText();

#endif
