// The camera settings the tool can show and change, by name.
#ifndef BRISCACAP_CAMERA_SETTINGS_H
#define BRISCACAP_CAMERA_SETTINGS_H

#include <string>

#include "camera/CameraConfig.h"

struct SettingField {
    const wchar_t* name;
    const wchar_t* meaning;
    long minimum;
    long maximum;
    long (*read)(const CameraConfig& config);
    void (*write)(CameraConfig& config, long value);
};

extern const SettingField SettingFields[];
extern const int SettingFieldCount;

// Finds a field by name (case does not matter); null when there is none.
const SettingField* FindSetting(const std::wstring& name);

// Stores text as the field's value when it is a whole number in the field's
// range; otherwise leaves config alone and describes the problem.
bool ApplySetting(const SettingField& field, const std::wstring& text, CameraConfig& config, std::wstring& error);

#endif
