#include "camera/CameraConfig.h"

CameraConfig::CameraConfig()
    : m_Format{0, 0, {0, 0, 0, 0}}, m_RedGain(100), m_GreenGain(88), m_BlueGain(88), m_Gamma(64),
      m_Contrast(0), m_ColorEnhancement(1), m_Saturation(128), m_AeState(1), m_Target(100),
      m_ExposureTime(20), m_AnalogGain(40)
{
}

CameraConfig::~CameraConfig() = default;
