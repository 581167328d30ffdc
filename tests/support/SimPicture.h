// Checks frames against the simulated camera's test picture as it looks with
// the power-on settings: seven colour bars (white, yellow, cyan, green,
// magenta, red, blue) over the upper two thirds and a plain dark background
// (16, 16, 16) along the bottom row. Frames are RGB24: bottom row first,
// blue-green-red.
#ifndef QUILLON_SIM_PICTURE_H
#define QUILLON_SIM_PICTURE_H

#include <gtest/gtest.h>

#include "tests/support/SimSquare.h"

struct SimPixel {
    unsigned char blue, green, red;
};

// The colour of bar `bar` (0 = leftmost) of the picture.
SimPixel SimBarColour(int bar);

// The pixel at column x of picture row y (0 = top row) of a frame.
SimPixel FramePixel(const unsigned char* frame, int width, int height, int x, int y);

// Succeeds when every bar shows its colour in the top row and in the middle
// of the bars, and the bottom row shows the background at its centre and end.
testing::AssertionResult ShowsSimPicture(const unsigned char* frame, int width, int height);

#endif
