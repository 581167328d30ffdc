// The camera settings record shared by the controller, the pins and the pages.
#ifndef QUILLON_CAMERA_CONFIG_H
#define QUILLON_CAMERA_CONFIG_H

struct CameraFormat {
    unsigned char m_Resolution;      // index handed to CameraInit: 0 3032x2016, 1 1600x1200, 2 1280x960, 3 800x600
    unsigned int m_FormatValue;      // stored and restored, never interpreted
    unsigned int m_FormatWords[4];   // stored; GetConfig clears them
};

class CameraConfig {
public:
    CameraConfig();
    virtual ~CameraConfig();
    CameraConfig(const CameraConfig&) = default;
    CameraConfig& operator=(const CameraConfig&) = default;

    CameraFormat m_Format;
    unsigned int m_RedGain;       // colour gains, 64 = 1.0
    unsigned int m_GreenGain;
    unsigned int m_BlueGain;
    unsigned char m_Gamma;        // hundredths
    unsigned char m_Contrast;
    int m_ColorEnhancement;
    unsigned char m_Saturation;
    int m_AeState;
    unsigned char m_Target;       // auto-exposure target
    unsigned int m_ExposureTime;  // in row times
    unsigned short m_AnalogGain;
};

#endif
