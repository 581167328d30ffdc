// The capture tool's exit codes.
#ifndef BRISCACAP_EXIT_CODES_H
#define BRISCACAP_EXIT_CODES_H

enum ExitCode {
    ExitSuccess = 0,
    ExitUsage = 1,          // the command line could not be understood
    ExitNoDevice = 2,       // the device is missing, not registered or cannot be created
    ExitCameraFailed = 3,   // the camera or the graph failed
    ExitFileFailed = 4,     // a recording or picture could not be written
    // vcam: the system has no virtual camera API (Windows 11 build 22000 and later have it)
    ExitNoVirtualCamera = 5,
};

#endif
