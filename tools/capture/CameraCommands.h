// The capture tool's sub-commands.
#ifndef BRISCACAP_CAMERA_COMMANDS_H
#define BRISCACAP_CAMERA_COMMANDS_H

#include <windows.h>

#include "tools/capture/CommandLine.h"

int ListDevices();
int ShowInfo(const ToolOptions& options);
int ChangeSetting(const ToolOptions& options);
int ShowPages(const ToolOptions& options);
int ShowControls(const ToolOptions& options);
int ChangeControl(const ToolOptions& options);
int StreamCamera(const ToolOptions& options, HANDLE stopEvent);

#endif
