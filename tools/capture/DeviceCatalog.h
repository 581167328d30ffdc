// Finding video input devices through the system device enumerator.
#ifndef BRISCACAP_DEVICE_CATALOG_H
#define BRISCACAP_DEVICE_CATALOG_H

#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

#include <string>
#include <vector>

#include "framework/Raii.h"

struct VideoDevice {
    std::wstring friendlyName;
    ComPtr<IMoniker> moniker;
};

// Lists the video input devices by friendly name; an empty category is S_OK
// with no devices.
HRESULT EnumerateVideoDevices(std::vector<VideoDevice>& devices);

// Binds the device with the given friendly name to its filter. A missing
// device gives VFW_E_NOT_FOUND.
HRESULT OpenVideoDevice(const std::wstring& friendlyName, ComPtr<IBaseFilter>& filter);

// The filter's output pin of the given category (PIN_CATEGORY_CAPTURE, ...).
HRESULT FindPinByCategory(IBaseFilter* filter, const GUID& category, ComPtr<IPin>& pin);

#endif
