// The picture and exposure settings held by the simulated camera.
#ifndef QUILLON_SIM_SETTINGS_H
#define QUILLON_SIM_SETTINGS_H

// Power-on values equal the controller's record defaults, and the picture
// treats them as neutral: every change is applied relative to them.
struct SimSettings {
    static const unsigned short PowerOnRedGain = 100;
    static const unsigned short PowerOnGreenGain = 88;
    static const unsigned short PowerOnBlueGain = 88;
    static const unsigned char PowerOnGamma = 64;
    static const unsigned int PowerOnExposure = 20;
    static const unsigned short PowerOnAnalogGain = 40;
    static const unsigned char PowerOnAeTarget = 100;

    unsigned short redGain = PowerOnRedGain;  // 64 = 1.0
    unsigned short greenGain = PowerOnGreenGain;
    unsigned short blueGain = PowerOnBlueGain;
    unsigned char gamma = PowerOnGamma;  // hundredths
    unsigned char contrast = 0;
    unsigned char saturation = 128;
    int colorEnhancement = 1;
    int aeState = 1;
    unsigned char aeTarget = PowerOnAeTarget;
    unsigned int exposure = PowerOnExposure;  // in row times
    unsigned short analogGain = PowerOnAnalogGain;
};

// True when both settings produce the same picture (AE state and target only
// steer exposure and gain, they do not colour the picture themselves).
inline bool SameLook(const SimSettings& a, const SimSettings& b)
{
    return a.redGain == b.redGain && a.greenGain == b.greenGain && a.blueGain == b.blueGain &&
           a.gamma == b.gamma && a.contrast == b.contrast && a.saturation == b.saturation &&
           (a.colorEnhancement != 0) == (b.colorEnhancement != 0) && a.exposure == b.exposure &&
           a.analogGain == b.analogGain;
}

#endif
