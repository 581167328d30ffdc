// Runs the camera filter in Wine's filter graph with a counting sink on each
// pin and measures rates, latency, CPU time and memory.
#ifndef BRISCABENCH_GRAPH_BENCH_H
#define BRISCABENCH_GRAPH_BENCH_H

#include <windows.h>

#include <string>

struct GraphRunOptions {
    int resolution = 0;
    int cameraFramesPerSecond = 30;
    double seconds = 10;
    // When above 0, the run lasts until the controller has pulled this many
    // frames (or `seconds` have passed, whichever comes first).
    int untilFramesPulled = 0;
    bool connectCapture = true;
};

struct GraphRunResult {
    std::string error;  // empty when the run worked
    double seconds = 0;
    double captureFps = 0;         // samples a second
    double previewFps = 0;
    double captureDistinctFps = 0; // samples showing a frame the one before did not
    double previewDistinctFps = 0;
    long captureRepeats = 0;       // samples repeating the picture before them
    long previewRepeats = 0;
    double cameraPostedFps = 0;
    double cameraPulledFps = 0;
    long framesPulled = 0;
    long dropped = 0;      // IAMDroppedFrames over the run
    long notDropped = 0;
    double latencyMedianMs = 0;  // frame message posted -> preview sample received
    double latency95Ms = 0;
    long latencySamples = 0;
    double cpuMsPerFrame = 0;    // per sample delivered on either pin
    double cpuMsPerCameraFrame = 0;
    double workingSetStartMB = 0, workingSetEndMB = 0;
    double privateStartMB = 0, privateEndMB = 0;
    double stopMs = 0;           // IMediaControl::Stop at the end
};

GraphRunResult RunCameraGraph(HMODULE module, const GraphRunOptions& options);

#endif
