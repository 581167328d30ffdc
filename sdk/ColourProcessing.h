// Turns a colour of the simulated scene into the colour the camera delivers
// under its current settings.
#ifndef QUILLON_COLOUR_PROCESSING_H
#define QUILLON_COLOUR_PROCESSING_H

#include "sdk/SimSettings.h"

// One pixel in the byte order of RGB24 video.
struct BgrPixel {
    unsigned char blue;
    unsigned char green;
    unsigned char red;
};

inline bool operator==(const BgrPixel& a, const BgrPixel& b)
{
    return a.blue == b.blue && a.green == b.green && a.red == b.red;
}

// Exposure, channel gains, saturation, colour enhancement, contrast and gamma,
// in the order a sensor pipeline applies them. Power-on settings map every
// colour onto itself exactly.
BgrPixel ProcessColour(const SimSettings& settings, int red, int green, int blue);

#endif
