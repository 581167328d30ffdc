// Times the media source's frame conversion (camera BGR24, bottom-up, into
// NV12, RGB32 and RGB24, top-down) at one of the camera's sizes, against a
// plain memcpy of the camera frame in the same run.
#ifndef BRISCABENCH_CONVERSION_BENCH_H
#define BRISCABENCH_CONVERSION_BENCH_H

#include "mediasource/FrameConversion.h"

const int ConvertedFormatCount = 3;
extern const PixelFormat ConvertedFormats[ConvertedFormatCount];
extern const char* const ConvertedFormatNames[ConvertedFormatCount];

struct ConversionResult {
    bool converted = false; // every conversion succeeded
    int width = 0;
    int height = 0;
    double frameMB = 0;
    double memcpyMs = 0;                         // median of a memcpy of the camera frame
    double fastestMs[ConvertedFormatCount] = {}; // medians, ConversionPath::Fastest
    double scalarMs[ConvertedFormatCount] = {};  // medians, ConversionPath::Scalar
};

ConversionResult MeasureConversion(int width, int height, double millisecondsPerItem);

#endif
