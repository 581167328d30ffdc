// A filter's registration record and the routines that enter it into (or
// remove it from) the platform's filter mapper.
#ifndef QUILLON_FILTER_SETUP_H
#define QUILLON_FILTER_SETUP_H

#include <windows.h>
#include <strmif.h>

struct FilterSetup {
    const CLSID* clsid;
    const wchar_t* name;
    DWORD merit;
    UINT pinCount;
    const REGFILTERPINS* pins;
};

// Legacy mapper: unregisters the filter, then (when registering) registers
// the filter, each pin and each pin's media types. A null setup gives
// S_FALSE; a final "file not found" result counts as success.
HRESULT UpdateFilterWithMapper(const FilterSetup* setup, IFilterMapper* mapper, bool registering);

// Current mapper: unregisters the filter from the default category, then
// (when registering) registers it there with all its pins. A null setup
// gives S_FALSE; a final "file not found" result counts as success.
HRESULT UpdateFilterWithMapper2(const FilterSetup* setup, IFilterMapper2* mapper, bool registering);

#endif
