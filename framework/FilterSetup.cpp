#include "framework/FilterSetup.h"

#include <uuids.h>

namespace {

const HRESULT FileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// The mapper answers "file not found" for a filter that was never
// registered; that counts as success.
HRESULT FoundOrOk(HRESULT hr)
{
    return hr == FileNotFound ? S_OK : hr;
}

const CLSID& GuidOrNull(const CLSID* guid)
{
    return guid ? *guid : GUID_NULL;
}

HRESULT RegisterPins(const FilterSetup& setup, IFilterMapper* mapper)
{
    const CLSID& filter = *setup.clsid;
    for (UINT pinIndex = 0; pinIndex < setup.pinCount; ++pinIndex) {
        const REGFILTERPINS& pin = setup.pins[pinIndex];
        HRESULT hr = mapper->RegisterPin(filter, pin.strName, pin.bRendered, pin.bOutput, pin.bZero, pin.bMany,
                                         GuidOrNull(pin.clsConnectsToFilter), pin.strConnectsToPin);
        if (FAILED(hr)) return hr;
        for (UINT typeIndex = 0; typeIndex < pin.nMediaTypes; ++typeIndex) {
            const REGPINTYPES& type = pin.lpMediaType[typeIndex];
            hr = mapper->RegisterPinType(filter, pin.strName, GuidOrNull(type.clsMajorType),
                                         GuidOrNull(type.clsMinorType));
            if (FAILED(hr)) return hr;
        }
    }
    return S_OK;
}

} // namespace

HRESULT UpdateFilterWithMapper(const FilterSetup* setup, IFilterMapper* mapper, bool registering)
{
    if (!setup) return S_FALSE;
    if (!mapper || !setup->clsid) return E_POINTER;
    const HRESULT removed = mapper->UnregisterFilter(*setup->clsid);
    if (!registering) return FoundOrOk(removed);
    const HRESULT hr = mapper->RegisterFilter(*setup->clsid, setup->name, setup->merit);
    if (FAILED(hr)) return FoundOrOk(hr);
    return FoundOrOk(RegisterPins(*setup, mapper));
}

HRESULT UpdateFilterWithMapper2(const FilterSetup* setup, IFilterMapper2* mapper, bool registering)
{
    if (!setup) return S_FALSE;
    if (!mapper || !setup->clsid) return E_POINTER;
    const HRESULT removed = mapper->UnregisterFilter(nullptr, nullptr, *setup->clsid);
    if (!registering) return FoundOrOk(removed);
    REGFILTER2 record = {};
    record.dwVersion = 1;
    record.dwMerit = setup->merit;
    record.cPins = setup->pinCount;
    record.rgPins = setup->pins;
    return FoundOrOk(mapper->RegisterFilter(*setup->clsid, setup->name, nullptr, nullptr, nullptr, &record));
}
