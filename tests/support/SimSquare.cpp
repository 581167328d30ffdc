#include "tests/support/SimSquare.h"

int SimSquareColumn(const unsigned char* frame, int width, int height)
{
    if (!frame || width <= 0 || height <= 0) return -1;
    // The square's middle row (counted from the top), as the camera draws it below the bars.
    const int barRows = height * 2 / 3;
    const int lowerRows = height - barRows;
    const int row = barRows + lowerRows / 16 + lowerRows * 3 / 16;
    if (row >= height) return -1;
    const unsigned char* pixels = frame + static_cast<size_t>(height - 1 - row) * width * 3;
    for (int x = 0; x < width; ++x, pixels += 3)
        if (pixels[0] > 128 && pixels[1] > 128 && pixels[2] > 128) return x;
    return -1;
}
