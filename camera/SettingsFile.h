// The camera settings stored between runs: 51 raw bytes in the user's
// temporary directory.
#ifndef QUILLON_SETTINGS_FILE_H
#define QUILLON_SETTINGS_FILE_H

#include <string>
#include "camera/CameraConfig.h"

extern const char SettingsFileName[];

// Full path of the settings file, or an empty string when the temporary
// directory is unknown.
std::string SettingsFilePath();

// Loads the record from the file: 1 when the file was opened, 0 otherwise
// (the record is then untouched). A short file fills only what it covers.
int ReadSettingsFile(CameraConfig& record);

// Replaces the file with the record: 1 when written, 0 otherwise. The new
// contents appear at once or not at all.
int WriteSettingsFile(const CameraConfig& record);

#endif
