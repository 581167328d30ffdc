// Hands a filter's pins out through IEnumPins. A change of the filter's pin
// version makes Next start over (without handing out a pin twice) and makes
// Skip and Clone report that the enumerator is out of date.
#ifndef QUILLON_PIN_ENUMERATOR_H
#define QUILLON_PIN_ENUMERATOR_H

#include <windows.h>
#include <strmif.h>
#include "framework/PointerList.h"

class FilterBase;

class PinEnumerator : public IEnumPins {
public:
    // A fresh enumerator when source is null, otherwise a copy of source.
    // Holds one reference on the filter; starts with a reference count of 1.
    PinEnumerator(FilterBase* filter, const PinEnumerator* source);
    virtual ~PinEnumerator();

    PinEnumerator(const PinEnumerator&) = delete;
    PinEnumerator& operator=(const PinEnumerator&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** out) override;

private:
    void Refresh();

    LONG m_Position;
    LONG m_CachedCount;
    FilterBase* m_Filter;  // one reference, through its IBaseFilter
    LONG m_Version;
    volatile LONG m_RefCount;
    PointerList m_Seen;    // pins handed out since the last reset, no references
};

#endif
