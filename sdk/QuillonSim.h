// Control surface of the simulated camera library, for tests and tools only.
// These exports are not part of the camera library's contract: the product
// never calls them, so the vendor's library can replace the simulation.
#ifndef QUILLON_SIM_H
#define QUILLON_SIM_H

#include "QuillonSDK.h"

#ifdef __cplusplus
extern "C" {
#endif

// One recorded library call. Arguments are widened to 64 bits (pointers as
// their address); argCount says how many are meaningful.
typedef struct QuillonSimCall {
    char function[40];
    long long args[4];
    int argCount;
    unsigned long threadId;
} QuillonSimCall;

// Back to the defaults (30 frames a second, no failures, frames flowing,
// settings at power-on values) and an empty call log. Stops a running camera.
QUILLON_SDK_API void __stdcall SimReset(void);

QUILLON_SDK_API void __stdcall SimSetFrameRate(int framesPerSecond);
// The next `count` calls fail (return 0); -1 fails every call until set to 0.
QUILLON_SDK_API void __stdcall SimFailInit(int count);
QUILLON_SDK_API void __stdcall SimFailImageSize(int count);
QUILLON_SDK_API void __stdcall SimFailPlay(int count);
// While paused, the camera posts no frame messages (a stalled camera).
QUILLON_SDK_API void __stdcall SimPauseFrames(int paused);
// CameraGetImageDataRGB24 takes this many milliseconds (a slow frame pull).
QUILLON_SDK_API void __stdcall SimSetPullDelay(int milliseconds);

QUILLON_SDK_API int __stdcall SimGetCallCount(void);
// Copies entry `index` of the call log; returns 1, or 0 past the end.
QUILLON_SDK_API int __stdcall SimGetCall(int index, QuillonSimCall* call);
QUILLON_SDK_API void __stdcall SimClearCalls(void);

// Frame messages posted since the last CameraPlay, and frames pulled.
QUILLON_SDK_API int __stdcall SimFramesPosted(void);
QUILLON_SDK_API int __stdcall SimFramesPulled(void);
QUILLON_SDK_API int __stdcall SimIsInitialised(void);
QUILLON_SDK_API int __stdcall SimIsPlaying(void);

#ifdef __cplusplus
}
#endif

#endif
