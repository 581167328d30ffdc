// The module's own interfaces and class identifiers.
#ifndef QUILLON_ICAMERA_CONFIG_H
#define QUILLON_ICAMERA_CONFIG_H

#include <windows.h>
#include <unknwn.h>
#include "CameraConfig.h"

// {BC322BD5-6359-47D4-9926-363FE6A11024}
inline const IID IID_ICameraConfig = {0xbc322bd5, 0x6359, 0x47d4, {0x99, 0x26, 0x36, 0x3f, 0xe6, 0xa1, 0x10, 0x24}};
// {A222643E-744A-46F8-85FE-02883EC5C2E3}
inline const IID IID_ICameraFilterTag = {0xa222643e, 0x744a, 0x46f8, {0x85, 0xfe, 0x02, 0x88, 0x3e, 0xc5, 0xc2, 0xe3}};

// "Brisca Camera" {FE4F5263-11D5-4724-95BA-A978983B6369}
inline const CLSID CLSID_BriscaCamera = {0xfe4f5263, 0x11d5, 0x4724, {0x95, 0xba, 0xa9, 0x78, 0x98, 0x3b, 0x63, 0x69}};
// Camera settings page "Property Page" {DDC012F8-A786-4584-856D-044BC1F49414}
inline const CLSID CLSID_CameraSettingsPage = {0xddc012f8, 0xa786, 0x4584, {0x85, 0x6d, 0x04, 0x4b, 0xc1, 0xf4, 0x94, 0x14}};
// Resolution page "Format Page" {DE2BA9C8-CF2E-41DF-8B64-441C516B64AE}
inline const CLSID CLSID_FormatPage = {0xde2ba9c8, 0xcf2e, 0x41df, {0x8b, 0x64, 0x44, 0x1c, 0x51, 0x6b, 0x64, 0xae}};

// Reads and writes the camera settings of the filter's capture pin.
struct ICameraConfig : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetConfig(CameraConfig* record) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetConfig(CameraConfig* record) = 0;
};

// A marker interface by which the module recognises its own filter.
struct ICameraFilterTag : public IUnknown {};

#endif
