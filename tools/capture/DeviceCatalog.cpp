#include "tools/capture/DeviceCatalog.h"

#include <uuids.h>


namespace {

std::wstring ReadFriendlyName(IMoniker* moniker) {
    ComPtr<IPropertyBag> bag;
    if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.putVoid()))) return std::wstring();
    VARIANT value;
    VariantInit(&value);
    std::wstring name;
    if (SUCCEEDED(bag->Read(L"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR && value.bstrVal)
        name = value.bstrVal;
    VariantClear(&value);
    return name;
}

bool PinHasCategory(IPin* pin, const GUID& category) {
    ComPtr<IKsPropertySet> properties;
    if (FAILED(pin->QueryInterface(IID_IKsPropertySet, properties.putVoid()))) return false;
    GUID pinCategory = GUID_NULL;
    DWORD returned = 0;
    const HRESULT result = properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &pinCategory,
                                          sizeof(pinCategory), &returned);
    return SUCCEEDED(result) && returned == sizeof(pinCategory) && pinCategory == category;
}

}  // namespace

HRESULT EnumerateVideoDevices(std::vector<VideoDevice>& devices) {
    devices.clear();
    ComPtr<ICreateDevEnum> enumeratorFactory;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                      enumeratorFactory.putVoid()));
    ComPtr<IEnumMoniker> monikers;
    const HRESULT result = enumeratorFactory->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.put(), 0);
    RETURN_IF_FAILED(result);
    if (result == S_FALSE || !monikers) return S_OK;  // the category is empty

    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.put(), nullptr) == S_OK) {
        VideoDevice device;
        device.friendlyName = ReadFriendlyName(moniker.get());
        device.moniker = moniker;
        devices.push_back(device);
    }
    return S_OK;
}

HRESULT OpenVideoDevice(const std::wstring& friendlyName, ComPtr<IBaseFilter>& filter) {
    std::vector<VideoDevice> devices;
    RETURN_IF_FAILED(EnumerateVideoDevices(devices));
    for (const VideoDevice& device : devices) {
        if (device.friendlyName != friendlyName) continue;
        return device.moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.putVoid());
    }
    return VFW_E_NOT_FOUND;
}

HRESULT FindPinByCategory(IBaseFilter* filter, const GUID& category, ComPtr<IPin>& pin) {
    ComPtr<IEnumPins> pins;
    RETURN_IF_FAILED(filter->EnumPins(pins.put()));
    ComPtr<IPin> candidate;
    while (pins->Next(1, candidate.put(), nullptr) == S_OK) {
        PIN_DIRECTION direction;
        if (SUCCEEDED(candidate->QueryDirection(&direction)) && direction == PINDIR_OUTPUT &&
            PinHasCategory(candidate.get(), category)) {
            pin = candidate;
            return S_OK;
        }
    }
    return VFW_E_NOT_FOUND;
}
