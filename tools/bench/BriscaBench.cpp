// briscabench: measures the frame path of the camera controller, the media
// source's frame conversion and the filter in Wine's filter graph, and prints
// each figure beside its target.
//
// Usage: briscabench [--quick] [--seconds N] [--no-graph] [--conversion-only]
//   --quick            shorter runs (about 25 s in all), for a smoke check
//   --seconds          length of the graph run at full size (default 10)
//   --no-graph         the controller's frame path and the conversion only
//   --conversion-only  the frame conversion only
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/ModuleGlobals.h"
#include "tools/bench/ConversionBench.h"
#include "tools/bench/FramePathBench.h"
#include "tools/bench/GraphBench.h"

namespace {

// Targets.
const double MaxFramePathRatio = 2.2;
// The capture pin delivers every camera frame once: at 30 frames/s, within
// a frame over the run, and no repeats.
const double MinCaptureFps = 29.9;
const double MaxStopMs = 30.0;
const double MaxPreviewLatencyMs = 5.0;
const double MaxMemoryGrowthMB = 1.0;
const int MemoryRunFrames = 10000;
// Half the camera's frame interval at 30 frames a second.
const double MaxConversionMs = 1000.0 / 30 / 2;

const int CameraSizes[4][2] = {{3032, 2016}, {1600, 1200}, {1280, 960}, {800, 600}};

struct Options {
    bool quick = false;
    bool graph = true;
    bool onlyConversion = false;
    double seconds = 10;
};

bool ParseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--quick") == 0) {
            options.quick = true;
            options.seconds = 3;
        } else if (strcmp(argv[i], "--no-graph") == 0) {
            options.graph = false;
        } else if (strcmp(argv[i], "--conversion-only") == 0) {
            options.onlyConversion = true;
            options.graph = false;
        } else if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            options.seconds = atof(argv[++i]);
            if (options.seconds <= 0) return false;
        } else {
            return false;
        }
    }
    return true;
}

// Keeps the benchmark's settings file away from the user's.
void UsePrivateTempDirectory()
{
    char base[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, base);
    if (length == 0 || length >= MAX_PATH - 20) return;
    std::string directory = std::string(base) + "briscabench\\";
    CreateDirectoryA(directory.c_str(), nullptr);
    SetEnvironmentVariableA("TMP", directory.c_str());
    SetEnvironmentVariableA("TEMP", directory.c_str());
}

const char* Verdict(bool met) { return met ? "PASS" : "SHORT"; }

void PrintFramePath(const FramePathResult results[4], bool& allWithin)
{
    printf("## Frame path of the controller (median of repeated runs)\n\n");
    printf("frame path = the frame window's procedure for one frame message (library pull + copy into the\n"
           "frame held for the pins), run directly; 'sent' adds Wine's cross-thread SendMessage round trip.\n\n");
    printf("| res | size | MB | memcpy ms | frame path ms | ratio | sent ms | pull ms | CropCopy ms | "
           "CopyFrameNow ms | ratio |\n");
    printf("|---|---|---|---|---|---|---|---|---|---|---|\n");
    allWithin = true;
    for (int r = 0; r < 4; ++r) {
        const FramePathResult& f = results[r];
        if (!f.opened) {
            printf("| %d | camera did not open | | | | | | | | | |\n", r);
            allWithin = false;
            continue;
        }
        const double pathRatio = f.handlerMs / f.memcpyMs;
        const double copyRatio = f.copyNowMs / f.memcpyMs;
        if (pathRatio > MaxFramePathRatio) allWithin = false;
        printf("| %d | %dx%d | %.1f | %.3f | %.3f | %.2f | %.3f | %.3f | %.3f | %.3f | %.2f |\n", r, f.width,
               f.height, f.frameBytes / 1048576.0, f.memcpyMs, f.handlerMs, pathRatio, f.messagePathMs, f.pullMs,
               f.cropCopyMs, f.copyNowMs, copyRatio);
    }
    printf("\n");
}

// The slowest format's time at full size (the first size measured).
double SlowestFullSizeConversion(const ConversionResult& full)
{
    double slowest = 0;
    for (double ms : full.fastestMs)
        if (ms > slowest) slowest = ms;
    return slowest;
}

bool ConversionWithinTarget(const ConversionResult& full)
{
    return full.converted && SlowestFullSizeConversion(full) <= MaxConversionMs;
}

void PrintConversion(const ConversionResult results[4])
{
    printf("## Frame conversion for the media source (median of repeated runs)\n\n");
    printf("camera frame (BGR24, bottom-up) -> top-down NV12 / RGB32 / RGB24 at the default stride, one thread;\n"
           "fast path %s, the plain C++ path beside it; ratio = ms / memcpy of the camera frame.\n\n",
           FastestPathIsVectorised() ? "SSE2" : "not vectorised on this processor");
    printf("| size | MB | memcpy ms |");
    for (const char* name : ConvertedFormatNames) printf(" %s ms | ratio |", name);
    for (const char* name : ConvertedFormatNames) printf(" %s plain ms |", name);
    printf("\n|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (int r = 0; r < 4; ++r) {
        const ConversionResult& c = results[r];
        printf("| %dx%d | %.1f | %.3f |", c.width, c.height, c.frameMB, c.memcpyMs);
        for (double ms : c.fastestMs) printf(" %.3f | %.2f |", ms, ms / c.memcpyMs);
        for (double ms : c.scalarMs) printf(" %.3f |", ms);
        printf("%s\n", c.converted ? "" : " (a conversion failed)");
    }
    const ConversionResult& full = results[0];
    printf("\nverdict: conversion at 3032 x 2016 keeps 30 frames/s with time to spare (<= %.1f ms, half the frame "
           "interval): slowest format %.2f ms -> %s\n\n",
           MaxConversionMs, SlowestFullSizeConversion(full), Verdict(ConversionWithinTarget(full)));
}

void PrintConversionTarget(const ConversionResult& full)
{
    printf("| conversion at 3032 x 2016 <= %.1f ms (30 frames/s with time to spare) | NV12 %.2f, RGB32 %.2f, "
           "RGB24 %.2f ms | %s |\n",
           MaxConversionMs, full.fastestMs[0], full.fastestMs[1], full.fastestMs[2],
           Verdict(ConversionWithinTarget(full)));
}

void PrintGraphRun(const char* title, const GraphRunResult& g)
{
    printf("## %s\n\n", title);
    if (!g.error.empty()) {
        printf("run failed: %s\n\n", g.error.c_str());
        return;
    }
    printf("| measure | value |\n|---|---|\n");
    printf("| measured for | %.1f s |\n", g.seconds);
    printf("| capture pin: samples / distinct frames | %.1f / %.1f frames/s, %ld repeats |\n", g.captureFps,
           g.captureDistinctFps, g.captureRepeats);
    printf("| preview pin: samples / distinct frames | %.1f / %.1f frames/s, %ld repeats |\n", g.previewFps,
           g.previewDistinctFps, g.previewRepeats);
    printf("| camera frames posted / pulled | %.1f / %.1f frames/s (%ld pulled) |\n", g.cameraPostedFps,
           g.cameraPulledFps, g.framesPulled);
    printf("| IAMDroppedFrames dropped / not dropped | %ld / %ld |\n", g.dropped, g.notDropped);
    printf("| preview latency median / 95th percentile | %.2f / %.2f ms (%ld samples) |\n", g.latencyMedianMs,
           g.latency95Ms, g.latencySamples);
    printf("| CPU time per delivered sample / per camera frame | %.2f / %.2f ms |\n", g.cpuMsPerFrame,
           g.cpuMsPerCameraFrame);
    printf("| working set start -> end | %.1f -> %.1f MB |\n", g.workingSetStartMB, g.workingSetEndMB);
    printf("| private bytes start -> end | %.1f -> %.1f MB |\n", g.privateStartMB, g.privateEndMB);
    printf("| IMediaControl::Stop | %.1f ms |\n\n", g.stopMs);
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        fprintf(stderr, "usage: briscabench [--quick] [--seconds N] [--no-graph] [--conversion-only]\n");
        return 2;
    }
    setvbuf(stdout, nullptr, _IONBF, 0);
    ModuleInstance = GetModuleHandleA(nullptr);
    PlatformId = VER_PLATFORM_WIN32_NT;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    UsePrivateTempDirectory();
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        fprintf(stderr, "briscabench: COM did not start\n");
        return 1;
    }
    printf("# briscabench (%d-bit)\n\n", static_cast<int>(sizeof(void*) * 8));

    const double perItemMs = options.quick ? 150 : 600;
    // The frame path goes first: after the conversion's large buffers have
    // come and gone, the controller's copies measured up to twice as slow.
    FramePathResult framePath[4];
    if (!options.onlyConversion)
        for (int r = 0; r < 4; ++r)
            framePath[r] = MeasureFramePath(r, perItemMs);
    ConversionResult conversion[4];
    for (int r = 0; r < 4; ++r)
        conversion[r] = MeasureConversion(CameraSizes[r][0], CameraSizes[r][1], perItemMs / 2);
    PrintConversion(conversion);
    if (options.onlyConversion) {
        printf("## Targets\n\n| target | measured | verdict |\n|---|---|---|\n");
        PrintConversionTarget(conversion[0]);
        printf("\n");
        CoUninitialize();
        return 0;
    }

    bool framePathWithin = false;
    PrintFramePath(framePath, framePathWithin);

    const WaitLatencyResult waited = MeasureWaitLatency(0, options.quick ? 2 : 5);
    printf("## The controller alone at 3032 x 2016, 30 frames/s: frame message -> CopyFrameWait returned\n\n");
    if (waited.opened)
        printf("median %.2f ms, 95th percentile %.2f ms (%ld frames)\n\n", waited.medianMs, waited.p95Ms,
               waited.samples);
    else
        printf("camera did not open\n\n");

    const OpenCloseResult cycle = MeasureOpenClose(options.quick ? 5 : 20);
    printf("## Starting and ending the controller (medians)\n\n");
    if (cycle.opened)
        printf("Open %.1f ms, Play %.1f ms, Stop %.1f ms, Close %.1f ms\n\n", cycle.openMs, cycle.playMs,
               cycle.stopMs, cycle.closeMs);
    else
        printf("camera did not open\n\n");

    GraphRunResult full, memory;
    bool graphRan = false;
    if (options.graph) {
        HMODULE module = LoadLibraryW(L"QuillonFilter.dll");
        if (!module) {
            printf("## Graph runs\n\nskipped: QuillonFilter.dll not found beside the program\n\n");
        } else {
            graphRan = true;
            GraphRunOptions fullRun;
            fullRun.seconds = options.seconds;
            full = RunCameraGraph(module, fullRun);
            PrintGraphRun("Graph run at 3032 x 2016, camera at 30 frames/s, both pins to counting sinks", full);

            GraphRunOptions previewOnly;
            previewOnly.seconds = options.quick ? 3 : 5;
            previewOnly.connectCapture = false;
            const GraphRunResult alone = RunCameraGraph(module, previewOnly);
            PrintGraphRun("For comparison: the preview pin alone at 3032 x 2016", alone);

            GraphRunOptions memoryRun;
            memoryRun.resolution = 3;
            memoryRun.cameraFramesPerSecond = 500;
            memoryRun.untilFramesPulled = options.quick ? MemoryRunFrames / 10 : MemoryRunFrames;
            memoryRun.seconds = 120;
            memory = RunCameraGraph(module, memoryRun);
            char title[160];
            snprintf(title, sizeof(title),
                     "Memory run: 800 x 600, camera at 500 frames/s, until %d frames pulled",
                     memoryRun.untilFramesPulled);
            PrintGraphRun(title, memory);
        }
    }

    printf("## Targets\n\n| target | measured | verdict |\n|---|---|---|\n");
    double worstRatio = 0;
    for (const FramePathResult& f : framePath)
        if (f.opened && f.memcpyMs > 0 && f.handlerMs / f.memcpyMs > worstRatio) worstRatio = f.handlerMs / f.memcpyMs;
    printf("| frame path <= %.1f x memcpy (worst resolution) | %.2f x | %s |\n", MaxFramePathRatio, worstRatio,
           Verdict(framePathWithin));
    PrintConversionTarget(conversion[0]);
    if (graphRan && full.error.empty()) {
        const bool everyFrameOnce = full.captureDistinctFps >= MinCaptureFps && full.captureRepeats == 0;
        printf("| capture pin: every camera frame once (>= %.1f distinct frames/s, 0 repeats) with preview "
               "running | %.1f frames/s, %ld repeats | %s |\n",
               MinCaptureFps, full.captureDistinctFps, full.captureRepeats, Verdict(everyFrameOnce));
        printf("| IMediaControl::Stop of the streaming graph <= %.0f ms | %.1f ms | %s |\n", MaxStopMs, full.stopMs,
               Verdict(full.stopMs <= MaxStopMs));
        printf("| preview latency median <= %.0f ms | %.2f ms | %s |\n", MaxPreviewLatencyMs, full.latencyMedianMs,
               Verdict(full.latencySamples > 0 && full.latencyMedianMs <= MaxPreviewLatencyMs));
    } else {
        printf("| capture pin: every camera frame once | not measured | SHORT |\n");
        printf("| IMediaControl::Stop of the streaming graph <= %.0f ms | not measured | SHORT |\n", MaxStopMs);
        printf("| preview latency median <= %.0f ms | not measured | SHORT |\n", MaxPreviewLatencyMs);
    }
    if (graphRan && memory.error.empty()) {
        const double privateGrowth = memory.privateEndMB - memory.privateStartMB;
        const double workingGrowth = memory.workingSetEndMB - memory.workingSetStartMB;
        const bool flat = privateGrowth <= MaxMemoryGrowthMB && workingGrowth <= MaxMemoryGrowthMB;
        printf("| memory flat within %.0f MB over %ld frames | private %+.2f MB, working set %+.2f MB | %s |\n",
               MaxMemoryGrowthMB, memory.framesPulled, privateGrowth, workingGrowth, Verdict(flat));
    } else {
        printf("| memory flat within %.0f MB over %d frames | not measured | SHORT |\n", MaxMemoryGrowthMB,
               MemoryRunFrames);
    }
    printf("\n");
    CoUninitialize();
    return 0;
}
