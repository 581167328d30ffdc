#include "sdk/ColourProcessing.h"

#include <algorithm>
#include <cmath>

namespace {

double Clip(double value)
{
    return std::min(255.0, std::max(0.0, value));
}

unsigned char ToByte(double value)
{
    return static_cast<unsigned char>(std::lround(Clip(value)));
}

// Light collected relative to power-on: exposure time times analog gain.
double ExposureFactor(const SimSettings& s)
{
    const double reference = double(SimSettings::PowerOnExposure) * SimSettings::PowerOnAnalogGain;
    return double(s.exposure) * double(s.analogGain) / reference;
}

void ApplySaturation(const SimSettings& s, double rgb[3])
{
    double amount = s.saturation / 128.0;
    if (!s.colorEnhancement) amount *= 0.75;  // without enhancement colours look a little washed out
    if (amount == 1.0) return;
    const double grey = 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2];
    for (int c = 0; c < 3; ++c) rgb[c] = Clip(grey + (rgb[c] - grey) * amount);
}

void ApplyContrast(const SimSettings& s, double rgb[3])
{
    if (s.contrast == 0) return;
    const double slope = (64.0 + s.contrast) / 64.0;
    for (int c = 0; c < 3; ++c) rgb[c] = Clip(128.0 + (rgb[c] - 128.0) * slope);
}

void ApplyGamma(const SimSettings& s, double rgb[3])
{
    if (s.gamma == SimSettings::PowerOnGamma) return;
    // A larger gamma value lifts the mid-tones; black and white stay put.
    const double exponent = double(SimSettings::PowerOnGamma) / std::max<int>(1, s.gamma);
    for (int c = 0; c < 3; ++c) rgb[c] = 255.0 * std::pow(rgb[c] / 255.0, exponent);
}

}  // namespace

BgrPixel ProcessColour(const SimSettings& s, int red, int green, int blue)
{
    const double exposure = ExposureFactor(s);
    double rgb[3] = {
        Clip(red * exposure * s.redGain / SimSettings::PowerOnRedGain),
        Clip(green * exposure * s.greenGain / SimSettings::PowerOnGreenGain),
        Clip(blue * exposure * s.blueGain / SimSettings::PowerOnBlueGain),
    };
    ApplySaturation(s, rgb);
    ApplyContrast(s, rgb);
    ApplyGamma(s, rgb);
    return BgrPixel{ToByte(rgb[2]), ToByte(rgb[1]), ToByte(rgb[0])};
}
