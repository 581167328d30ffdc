#include "tests/support/SimPicture.h"

#include <cstring>

namespace {

const int BarCount = 7;
const SimPixel BarColours[BarCount] = {
    {255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0}, {255, 0, 255}, {0, 0, 255}, {255, 0, 0},
};
const SimPixel Background = {16, 16, 16};

bool Same(const SimPixel& a, const SimPixel& b)
{
    return a.blue == b.blue && a.green == b.green && a.red == b.red;
}

testing::AssertionResult Mismatch(const char* where, int x, int y, const SimPixel& want, const SimPixel& got)
{
    return testing::AssertionFailure()
           << where << " at (" << x << ", " << y << "): expected BGR (" << int(want.blue) << ", "
           << int(want.green) << ", " << int(want.red) << "), got (" << int(got.blue) << ", "
           << int(got.green) << ", " << int(got.red) << ")";
}

} // namespace

SimPixel SimBarColour(int bar)
{
    return BarColours[bar];
}

SimPixel FramePixel(const unsigned char* frame, int width, int height, int x, int y)
{
    SimPixel pixel;
    const unsigned char* at = frame + (static_cast<size_t>(height - 1 - y) * width + x) * 3;
    memcpy(&pixel, at, 3);
    return pixel;
}

testing::AssertionResult ShowsSimPicture(const unsigned char* frame, int width, int height)
{
    if (!frame || width < BarCount || height < 3) return testing::AssertionFailure() << "no frame to check";
    const int barRows = height * 2 / 3;
    for (int bar = 0; bar < BarCount; ++bar) {
        const int x = (bar * width / BarCount + (bar + 1) * width / BarCount) / 2;
        for (int y : {0, barRows / 2}) {
            const SimPixel got = FramePixel(frame, width, height, x, y);
            if (!Same(got, BarColours[bar])) return Mismatch("bar", x, y, BarColours[bar], got);
        }
    }
    for (int x : {width / 2, width - 1}) {
        const SimPixel got = FramePixel(frame, width, height, x, height - 1);
        if (!Same(got, Background)) return Mismatch("background", x, height - 1, Background, got);
    }
    return testing::AssertionSuccess();
}
