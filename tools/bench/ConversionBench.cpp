#include "tools/bench/ConversionBench.h"

#include <cstring>
#include <vector>

#include "tools/bench/Measure.h"

const PixelFormat ConvertedFormats[ConvertedFormatCount] = {PixelFormat::Nv12, PixelFormat::Rgb32,
                                                            PixelFormat::Rgb24};
const char* const ConvertedFormatNames[ConvertedFormatCount] = {"NV12", "RGB32", "RGB24"};

namespace {

const int MinimumRuns = 15;

// Varied bytes, every page touched, so that no run pays for first-use page faults.
std::vector<unsigned char> NoiseFrame(size_t bytes)
{
    std::vector<unsigned char> frame(bytes);
    unsigned int state = 12345;
    for (unsigned char& byte : frame) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<unsigned char>(state >> 16);
    }
    return frame;
}

} // namespace

ConversionResult MeasureConversion(int width, int height, double millisecondsPerItem)
{
    ConversionResult result;
    result.width = width;
    result.height = height;
    const size_t frameBytes = static_cast<size_t>(width) * height * 3;
    result.frameMB = static_cast<double>(frameBytes) / 1048576.0;
    const std::vector<unsigned char> camera = NoiseFrame(frameBytes);
    std::vector<unsigned char> copy(frameBytes, 0x5A);
    const CameraFrameView source = {camera.data(), frameBytes, width, height, width * 3};

    std::vector<unsigned char> buffers[ConvertedFormatCount];
    ConvertedFrameView destinations[ConvertedFormatCount];
    for (int f = 0; f < ConvertedFormatCount; ++f) {
        const size_t bytes = FrameBufferBytes(ConvertedFormats[f], width, height);
        buffers[f].assign(bytes, 0x5A);
        destinations[f] = {buffers[f].data(),
                           bytes,
                           ConvertedFormats[f],
                           width,
                           height,
                           DefaultStride(ConvertedFormats[f], width)};
    }

    // Each round times every item once, so that a busy machine slows all of
    // them alike and the ratios stay fair.
    std::vector<double> memcpyRuns, fastestRuns[ConvertedFormatCount], scalarRuns[ConvertedFormatCount];
    bool allConverted = true;
    auto timeConversion = [&](std::vector<double>& runs, int f, ConversionPath path) {
        const long long before = CounterNow();
        const bool converted = ConvertCameraFrame(source, destinations[f], path);
        runs.push_back(ToMilliseconds(CounterNow() - before));
        allConverted = allConverted && converted;
    };
    const int items = 1 + 2 * ConvertedFormatCount;
    const long long start = CounterNow();
    while (static_cast<int>(memcpyRuns.size()) < MinimumRuns ||
           ToMilliseconds(CounterNow() - start) < millisecondsPerItem * items) {
        const long long before = CounterNow();
        memcpy(copy.data(), camera.data(), frameBytes);
        memcpyRuns.push_back(ToMilliseconds(CounterNow() - before));
        for (int f = 0; f < ConvertedFormatCount; ++f) {
            timeConversion(fastestRuns[f], f, ConversionPath::Fastest);
            timeConversion(scalarRuns[f], f, ConversionPath::Scalar);
        }
    }
    result.converted = allConverted;
    result.memcpyMs = Median(memcpyRuns);
    for (int f = 0; f < ConvertedFormatCount; ++f) {
        result.fastestMs[f] = Median(fastestRuns[f]);
        result.scalarMs[f] = Median(scalarRuns[f]);
    }
    return result;
}
