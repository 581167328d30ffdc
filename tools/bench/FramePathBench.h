// Times the controller's frame path at one resolution of the simulated camera:
// the frame message handled on the window thread (pull from the library and
// copy into the frame held for the pins), and one pin's copy into a sample
// buffer, each against a plain memcpy of the same bytes in the same run.
#ifndef BRISCABENCH_FRAME_PATH_BENCH_H
#define BRISCABENCH_FRAME_PATH_BENCH_H

struct FramePathResult {
    bool opened = false;
    int resolution = 0;
    int width = 0;
    int height = 0;
    int frameBytes = 0;
    double memcpyMs = 0;       // median of a plain memcpy of frameBytes
    double messagePathMs = 0;  // median of FrameReadyMessage sent to the frame window (includes
                               // the platform's cross-thread message round trip)
    double handlerMs = 0;      // median of the frame window's procedure called directly: pull + copy
    double pullMs = 0;         // median of the library's pull alone (bench thread)
    double cropCopyMs = 0;     // median of the controller's CropCopy alone
    double copyNowMs = 0;      // median of CopyFrameNow into a sample-sized buffer
};

FramePathResult MeasureFramePath(int resolution, double millisecondsPerItem);

// The controller alone, playing at 30 frames a second: a thread copies each
// new frame with CopyFrameWait, as the preview pin does. Latency is from the
// library's frame message to the copy's return.
struct WaitLatencyResult {
    bool opened = false;
    long samples = 0;
    double medianMs = 0;
    double p95Ms = 0;
};

WaitLatencyResult MeasureWaitLatency(int resolution, double seconds);

// Medians of the controller's Open, Play, Stop and Close, as one pin's
// thread start and end run them.
struct OpenCloseResult {
    bool opened = false;
    double openMs = 0, playMs = 0, stopMs = 0, closeMs = 0;
};

OpenCloseResult MeasureOpenClose(int cycles);

#endif
