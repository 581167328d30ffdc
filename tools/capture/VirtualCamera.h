// briscacap vcam: makes the Media Foundation source a camera every app of a
// Windows 11 system can use, through the platform's virtual camera API.
//   add      creates a virtual camera of system lifetime, which stays
//            registered (also across restarts) until removed
//   remove   creates the same camera again (same name, same source) and
//            removes it
//   status   whether the API exists and whether the camera is among the
//            video capture devices Media Foundation lists (see
//            IsBriscaVirtualCamera)
// --all-users makes (or removes) the camera for every user; it needs an
// administrator. Where the API is missing (Windows 10, Wine) every command
// says so and ends with ExitNoVirtualCamera.
#ifndef BRISCACAP_VIRTUAL_CAMERA_H
#define BRISCACAP_VIRTUAL_CAMERA_H

#include "tools/capture/CommandLine.h"
#include "tools/capture/VirtualCameraApi.h"

// The camera's name in the apps' camera lists, beside the filter's "Brisca Camera".
extern const wchar_t VirtualCameraName[];

// Whether a listed device is the camera `add` made: its symbolic link names
// the media source's class, or its name is the camera's name, alone or
// followed by the words the platform appends to a virtual camera's name
// ("Windows Virtual Camera").
bool IsBriscaVirtualCamera(const virtualcamera::CaptureDevice& device);

int RunVirtualCameraCommand(const ToolOptions& options);

#endif
