#include "camera/CameraControls.h"

#include <cmath>
#include <vfwmsgs.h>

#include "framework/Raii.h"

namespace {

const LONG AutoFlag = VideoProcAmp_Flags_Auto; // the same values for both interfaces
const LONG ManualFlag = VideoProcAmp_Flags_Manual;

// One property backed by one field of the settings record.
struct SettingProperty {
    LONG property;
    LONG minimum;
    LONG maximum;
    // Its Auto flag switches auto exposure, which drives the setting.
    bool followsAutoExposure;
    LONG (*read)(const CameraConfig&);
    void (*write)(CameraConfig&, LONG);
};

// The ranges of the "Camera Set" page's sliders.
const SettingProperty VideoProcAmpProperties[] = {
    {VideoProcAmp_Brightness, 40, 200, false, [](const CameraConfig& c) -> LONG { return c.m_Target; },
     [](CameraConfig& c, LONG v) { c.m_Target = static_cast<unsigned char>(v); }},
    {VideoProcAmp_Contrast, 0, 255, false, [](const CameraConfig& c) -> LONG { return c.m_Contrast; },
     [](CameraConfig& c, LONG v) { c.m_Contrast = static_cast<unsigned char>(v); }},
    {VideoProcAmp_Saturation, 0, 255, false, [](const CameraConfig& c) -> LONG { return c.m_Saturation; },
     [](CameraConfig& c, LONG v) { c.m_Saturation = static_cast<unsigned char>(v); }},
    {VideoProcAmp_Gamma, 20, 150, false, [](const CameraConfig& c) -> LONG { return c.m_Gamma; },
     [](CameraConfig& c, LONG v) { c.m_Gamma = static_cast<unsigned char>(v); }},
    {VideoProcAmp_ColorEnable, 0, 1, false,
     [](const CameraConfig& c) -> LONG { return c.m_ColorEnhancement ? 1 : 0; },
     [](CameraConfig& c, LONG v) { c.m_ColorEnhancement = v; }},
    {VideoProcAmp_Gain, 1, 80, true, [](const CameraConfig& c) -> LONG { return c.m_AnalogGain; },
     [](CameraConfig& c, LONG v) { c.m_AnalogGain = static_cast<unsigned short>(v); }},
};

const SettingProperty* FindProperty(LONG property)
{
    for (const SettingProperty& each : VideoProcAmpProperties)
        if (each.property == property) return &each;
    return nullptr;
}

LONG CapsOf(bool followsAutoExposure)
{
    return followsAutoExposure ? AutoFlag | ManualFlag : ManualFlag;
}

// A Set's flags name exactly one of the modes the property has; no flag at
// all means manual, as many programs send it.
bool FlagsAllowed(LONG flags, bool followsAutoExposure)
{
    return flags == 0 || flags == ManualFlag || (followsAutoExposure && flags == AutoFlag);
}

// Auto leaves the value to auto exposure; manual sets it and stops auto
// exposure where that drives it.
HRESULT ApplyMode(CCamera* camera, LONG flags, bool followsAutoExposure,
                  const std::function<void(CameraConfig&)>& setValue)
{
    camera->ChangeConfig([&](CameraConfig& settings) {
        if (flags == AutoFlag) {
            settings.m_AeState = 1;
            return;
        }
        if (followsAutoExposure) settings.m_AeState = 0;
        setValue(settings);
    });
    return S_OK;
}

} // namespace

STDMETHODIMP VideoProcAmpControl::GetRange(LONG property, LONG* minimum, LONG* maximum, LONG* step,
                                           LONG* byDefault, LONG* capsFlags)
{
    if (!minimum || !maximum || !step || !byDefault || !capsFlags) return E_POINTER;
    RETURN_IF_FAILED(CheckControlsUsable());
    const SettingProperty* entry = FindProperty(property);
    if (!entry) return E_PROP_ID_UNSUPPORTED;
    *minimum = entry->minimum;
    *maximum = entry->maximum;
    *step = 1;
    *byDefault = entry->read(CameraConfig());
    *capsFlags = CapsOf(entry->followsAutoExposure);
    return S_OK;
}

STDMETHODIMP VideoProcAmpControl::Set(LONG property, LONG value, LONG flags)
{
    RETURN_IF_FAILED(CheckControlsUsable());
    const SettingProperty* entry = FindProperty(property);
    if (!entry) return E_PROP_ID_UNSUPPORTED;
    if (!m_Camera) return E_UNEXPECTED;
    if (value < entry->minimum || value > entry->maximum) return E_INVALIDARG;
    if (!FlagsAllowed(flags, entry->followsAutoExposure)) return E_INVALIDARG;
    return ApplyMode(m_Camera, flags, entry->followsAutoExposure,
                     [&](CameraConfig& settings) { entry->write(settings, value); });
}

STDMETHODIMP VideoProcAmpControl::Get(LONG property, LONG* value, LONG* flags)
{
    if (!value || !flags) return E_POINTER;
    RETURN_IF_FAILED(CheckControlsUsable());
    const SettingProperty* entry = FindProperty(property);
    if (!entry) return E_PROP_ID_UNSUPPORTED;
    if (!m_Camera) return E_UNEXPECTED;
    CameraConfig settings;
    m_Camera->GetConfig(settings);
    *value = entry->read(settings);
    *flags = entry->followsAutoExposure && settings.m_AeState ? AutoFlag : ManualFlag;
    return S_OK;
}

namespace {

const double MicrosecondsASecond = 1e6;

// A camera that reports no row time would make every exposure infinite.
unsigned int UsableRowTime(unsigned int rowTime)
{
    return rowTime ? rowTime : 1;
}

double Seconds(unsigned int rows, unsigned int rowTime)
{
    return double(rows) * UsableRowTime(rowTime) / MicrosecondsASecond;
}

// The whole powers of two whose exposures lie within the camera's range.
void ExposureRange(unsigned int rowTime, LONG* minimum, LONG* maximum)
{
    *minimum = static_cast<LONG>(std::ceil(std::log2(Seconds(ExposureControl::ShortestExposure, rowTime))));
    *maximum = static_cast<LONG>(std::floor(std::log2(Seconds(ExposureControl::LongestExposure, rowTime))));
}

LONG Clamp(LONG value, LONG minimum, LONG maximum)
{
    return value < minimum ? minimum : (value > maximum ? maximum : value);
}

} // namespace

LONG ExposureControl::ExposureValue(unsigned int rows, unsigned int rowTime)
{
    LONG minimum, maximum;
    ExposureRange(rowTime, &minimum, &maximum);
    if (rows < ShortestExposure) rows = ShortestExposure;
    return Clamp(std::lround(std::log2(Seconds(rows, rowTime))), minimum, maximum);
}

unsigned int ExposureControl::ExposureRows(LONG value, unsigned int rowTime)
{
    const double rows = std::exp2(double(value)) * MicrosecondsASecond / UsableRowTime(rowTime);
    if (rows <= ShortestExposure) return ShortestExposure;
    if (rows >= LongestExposure) return LongestExposure;
    return static_cast<unsigned int>(std::lround(rows));
}

STDMETHODIMP ExposureControl::GetRange(LONG property, LONG* minimum, LONG* maximum, LONG* step,
                                       LONG* byDefault, LONG* capsFlags)
{
    if (!minimum || !maximum || !step || !byDefault || !capsFlags) return E_POINTER;
    RETURN_IF_FAILED(CheckControlsUsable());
    if (property != CameraControl_Exposure) return E_PROP_ID_UNSUPPORTED;
    if (!m_Camera) return E_UNEXPECTED;
    const unsigned int rowTime = m_Camera->RowTimeMicroseconds();
    ExposureRange(rowTime, minimum, maximum);
    *step = 1;
    *byDefault = ExposureValue(CameraConfig().m_ExposureTime, rowTime);
    *capsFlags = CapsOf(true);
    return S_OK;
}

STDMETHODIMP ExposureControl::Set(LONG property, LONG value, LONG flags)
{
    RETURN_IF_FAILED(CheckControlsUsable());
    if (property != CameraControl_Exposure) return E_PROP_ID_UNSUPPORTED;
    if (!m_Camera) return E_UNEXPECTED;
    const unsigned int rowTime = m_Camera->RowTimeMicroseconds();
    LONG minimum, maximum;
    ExposureRange(rowTime, &minimum, &maximum);
    if (value < minimum || value > maximum) return E_INVALIDARG;
    if (!FlagsAllowed(flags, true)) return E_INVALIDARG;
    return ApplyMode(m_Camera, flags, true,
                     [&](CameraConfig& settings) { settings.m_ExposureTime = ExposureRows(value, rowTime); });
}

STDMETHODIMP ExposureControl::Get(LONG property, LONG* value, LONG* flags)
{
    if (!value || !flags) return E_POINTER;
    RETURN_IF_FAILED(CheckControlsUsable());
    if (property != CameraControl_Exposure) return E_PROP_ID_UNSUPPORTED;
    if (!m_Camera) return E_UNEXPECTED;
    CameraConfig settings;
    m_Camera->GetConfig(settings);
    *value = ExposureValue(settings.m_ExposureTime, m_Camera->RowTimeMicroseconds());
    *flags = settings.m_AeState ? AutoFlag : ManualFlag;
    return S_OK;
}
