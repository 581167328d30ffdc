#include "tools/capture/CameraSettings.h"

#include <cerrno>
#include <climits>
#include <cwchar>
#include <cwctype>

// Each range is the width of the record's field (or the meaning of a flag or
// an index), so no value is ever cut short on its way into the record.
const SettingField SettingFields[] = {
    {L"resolution", L"index: 0 3032x2016, 1 1600x1200, 2 1280x960, 3 800x600", 0, 3,
     [](const CameraConfig& c) -> long { return c.m_Format.m_Resolution; },
     [](CameraConfig& c, long v) { c.m_Format.m_Resolution = static_cast<unsigned char>(v); }},
    {L"auto-exposure", L"1 on, 0 off", 0, 1, [](const CameraConfig& c) -> long { return c.m_AeState; },
     [](CameraConfig& c, long v) { c.m_AeState = static_cast<int>(v); }},
    {L"ae-target", L"auto-exposure target brightness", 0, 255,
     [](const CameraConfig& c) -> long { return c.m_Target; },
     [](CameraConfig& c, long v) { c.m_Target = static_cast<unsigned char>(v); }},
    {L"exposure-time", L"in row times", 0, LONG_MAX,
     [](const CameraConfig& c) -> long { return static_cast<long>(c.m_ExposureTime); },
     [](CameraConfig& c, long v) { c.m_ExposureTime = static_cast<unsigned int>(v); }},
    {L"analog-gain", L"sensor gain", 0, 65535, [](const CameraConfig& c) -> long { return c.m_AnalogGain; },
     [](CameraConfig& c, long v) { c.m_AnalogGain = static_cast<unsigned short>(v); }},
    {L"red-gain", L"64 = 1.0", 0, 65535, [](const CameraConfig& c) -> long { return static_cast<long>(c.m_RedGain); },
     [](CameraConfig& c, long v) { c.m_RedGain = static_cast<unsigned int>(v); }},
    {L"green-gain", L"64 = 1.0", 0, 65535,
     [](const CameraConfig& c) -> long { return static_cast<long>(c.m_GreenGain); },
     [](CameraConfig& c, long v) { c.m_GreenGain = static_cast<unsigned int>(v); }},
    {L"blue-gain", L"64 = 1.0", 0, 65535,
     [](const CameraConfig& c) -> long { return static_cast<long>(c.m_BlueGain); },
     [](CameraConfig& c, long v) { c.m_BlueGain = static_cast<unsigned int>(v); }},
    {L"gamma", L"hundredths", 0, 255, [](const CameraConfig& c) -> long { return c.m_Gamma; },
     [](CameraConfig& c, long v) { c.m_Gamma = static_cast<unsigned char>(v); }},
    {L"contrast", L"", 0, 255, [](const CameraConfig& c) -> long { return c.m_Contrast; },
     [](CameraConfig& c, long v) { c.m_Contrast = static_cast<unsigned char>(v); }},
    {L"saturation", L"", 0, 255, [](const CameraConfig& c) -> long { return c.m_Saturation; },
     [](CameraConfig& c, long v) { c.m_Saturation = static_cast<unsigned char>(v); }},
    {L"color-enhancement", L"1 on, 0 off", 0, 1, [](const CameraConfig& c) -> long { return c.m_ColorEnhancement; },
     [](CameraConfig& c, long v) { c.m_ColorEnhancement = static_cast<int>(v); }},
};

const int SettingFieldCount = sizeof(SettingFields) / sizeof(SettingFields[0]);

const SettingField* FindSetting(const std::wstring& name) {
    for (int i = 0; i < SettingFieldCount; ++i) {
        if (_wcsicmp(SettingFields[i].name, name.c_str()) == 0) return &SettingFields[i];
    }
    return nullptr;
}

bool ApplySetting(const SettingField& field, const std::wstring& text, CameraConfig& config, std::wstring& error) {
    wchar_t* end = nullptr;
    errno = 0;
    const long value = text.empty() || iswspace(text[0]) ? 0 : wcstol(text.c_str(), &end, 10);
    if (text.empty() || iswspace(text[0]) || errno != 0 || *end != L'\0' || value < field.minimum ||
        value > field.maximum) {
        wchar_t range[64];
        swprintf(range, 64, L"%ld to %ld", field.minimum, field.maximum);
        error = std::wstring(field.name) + L" takes a whole number from " + range;
        return false;
    }
    field.write(config, value);
    return true;
}
