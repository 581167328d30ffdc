// Control surface of the simulated camera library, for tests and tools only.
// These exports are not part of the camera library's contract: the product
// never calls them, so the vendor's library can replace the simulation.
//
// The simulated camera
// - CameraInit: resolution 0 3032x2016, 1 1600x1200, 2 1280x960, 3 800x600;
//   any other index fails (0). Opening an open camera takes it over: a running
//   stream stops and the new size and window apply. The callback is never called.
// - CameraGetImageSize: the open size and 1; 0x0 and 0 while not open.
// - CameraPlay starts a thread of the library that posts
//   QUILLON_FRAME_READY_MESSAGE (wParam and lParam 0) to the CameraInit window
//   at the frame rate, paced against fixed deadlines. It fails (0) while not
//   open. At most 4 frame messages are outstanding (posted, not yet answered by
//   CameraGetImageDataRGB24); while 4 are, new frames are dropped instead of
//   posted, so a stalled window's queue cannot grow without bound. Each
//   CameraPlay starts the count afresh.
// - CameraGetImageDataRGB24 renders the current frame (also when not playing)
//   and returns 1; while not open, or for a null buffer, it writes nothing and
//   returns 0.
// - CameraStop and CameraUnInit (which also stops) end the thread before they
//   return; no message is posted after that. Both may be called in any order,
//   twice, or without CameraInit, and return 1.
// - Setters store any value of their type and return 1; getters return 1 and
//   write only their own fields (0 and nothing written for a null pointer).
//   Settings live in the library and survive CameraUnInit; SimReset restores
//   the power-on values: gains 100, 88, 88; gamma 64; contrast 0; saturation
//   128; colour enhancement 1; AE 1; AE target 100; exposure 20; analog gain 40.
// - CameraGetRowTime: 40 microseconds.
// - CameraSetAWBState(1): 100 ms later the gains become 96, 64, 80 (read them
//   after 200 ms); CameraSetAWBState(0) cancels a white balance still pending.
// - Auto exposure (AE on) acts only while frames flow: each frame moves the
//   exposure (and, once the exposure reaches 1 or 23100, the analog gain, kept
//   in 1..80) a quarter of the way toward exposure x gain = 800 x target / 100.
//   At power-on values that holds already, so nothing drifts; switch AE off
//   before setting exposure or gain that must stay put while playing.
//
// The picture (CameraGetImageDataRGB24 writes width x height x 3 bytes)
// - RGB24 video layout: the first row in memory is the BOTTOM row of the
//   picture (picture row y is memory row height - 1 - y); each pixel is blue,
//   green, red.
// - Bars: picture rows [0, height * 2 / 3) hold seven vertical bars; bar k
//   spans columns [k * width / 7, (k + 1) * width / 7): white, yellow, cyan,
//   green, magenta, red, blue. At power-on settings the bars are exact 0/255
//   colours (e.g. yellow is blue 0, green 255, red 255), and every bar row is
//   the same.
// - Below the bars (picture rows [height * 2 / 3, height)): a dark background
//   (16, 16, 16 at power-on), a white square moving right by width / 100
//   columns per frame, and the frame number in white 5x7 dot digits at the
//   left. The frame number counts frames since CameraInit.
// - Settings act relative to power-on: brightness scales with exposure x
//   analog gain / 800 (values above 255 clip, so a brighter setting keeps
//   255 bars at 255), each colour gain scales its channel by gain / power-on
//   gain, saturation below 128 mixes toward grey (more so with colour
//   enhancement 0), contrast above 0 steepens around 128, and gamma other
//   than 64 bends the mid-tones (0 and 255 stay).
//
// Environment variables, read once when the library loads (tools):
//   QUILLON_SIM_FPS=n               frames a second (1..1000)
//   QUILLON_SIM_FAIL_INIT=n         as SimFailInit(n): 1 fails the first call
//   QUILLON_SIM_FAIL_IMAGE_SIZE=n   as SimFailImageSize(n)
//   QUILLON_SIM_FAIL_PLAY=n         as SimFailPlay(n)
//   QUILLON_SIM_PAUSE_FRAMES=1      as SimPauseFrames(1)
//   QUILLON_SIM_PULL_DELAY_MS=n     as SimSetPullDelay(n)
// SimReset returns to the built-in defaults, not to these.
#ifndef QUILLON_SIM_H
#define QUILLON_SIM_H

#include "QuillonSDK.h"

#ifdef __cplusplus
extern "C" {
#endif

// One recorded library call (every Camera* function, in call order, also
// failing calls; the Sim* functions are not recorded). The log keeps the most
// recent 100000 calls. Arguments are widened to 64 bits (pointers as
// their address); argCount says how many are meaningful.
typedef struct QuillonSimCall {
    char function[40];
    long long args[4];
    int argCount;
    unsigned long threadId;
} QuillonSimCall;

// Back to the defaults (30 frames a second, no failures, frames flowing, no
// pull delay, settings at power-on values) and an empty call log. Stops and
// closes the camera.
QUILLON_SDK_API void __stdcall SimReset(void);

// Frames a second, limited to 1..1000; takes effect at once, also while playing.
QUILLON_SDK_API void __stdcall SimSetFrameRate(int framesPerSecond);
// The next `count` calls fail (return 0); -1 fails every call until set to 0.
QUILLON_SDK_API void __stdcall SimFailInit(int count);
QUILLON_SDK_API void __stdcall SimFailImageSize(int count);
QUILLON_SDK_API void __stdcall SimFailPlay(int count);
// While paused, the camera posts no frame messages (a stalled camera) and the
// frame number stands still.
QUILLON_SDK_API void __stdcall SimPauseFrames(int paused);
// CameraGetImageDataRGB24 takes this many milliseconds (a slow frame pull).
QUILLON_SDK_API void __stdcall SimSetPullDelay(int milliseconds);

QUILLON_SDK_API int __stdcall SimGetCallCount(void);
// Copies entry `index` of the call log; returns 1, or 0 past the end.
QUILLON_SDK_API int __stdcall SimGetCall(int index, QuillonSimCall* call);
QUILLON_SDK_API void __stdcall SimClearCalls(void);

// Frame messages posted since the last CameraPlay, and frames pulled (successful
// CameraGetImageDataRGB24 calls) since then.
QUILLON_SDK_API int __stdcall SimFramesPosted(void);
QUILLON_SDK_API int __stdcall SimFramesPulled(void);
// The performance counter (QueryPerformanceCounter) at the moment the last
// frame message was posted, 0 before the first; for latency measurements.
QUILLON_SDK_API long long __stdcall SimLastFramePostCounter(void);
QUILLON_SDK_API int __stdcall SimIsInitialised(void);
QUILLON_SDK_API int __stdcall SimIsPlaying(void);

#ifdef __cplusplus
}
#endif

#endif
