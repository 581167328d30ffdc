// A filter that produces samples itself: owns its state lock and an array
// of source pins, and answers pin count, pin lookup and FindPin.
#ifndef QUILLON_SOURCE_FILTER_BASE_H
#define QUILLON_SOURCE_FILTER_BASE_H

#include <windows.h>
#include <strmif.h>
#include "framework/FilterBase.h"
#include "framework/Sync.h"

class SourceStreamPin;

class SourceFilterBase : public FilterBase {
public:
    SourceFilterBase(const wchar_t* objectName, IUnknown* owner, REFCLSID classId);
    // Deletes the remaining pins, last first.
    ~SourceFilterBase() override;

    int PinCount() override;
    PinBase* PinAt(int index) override;
    // Pin identifiers are the decimal numbers 1, 2, ...
    STDMETHODIMP FindPin(LPCWSTR id, IPin** out) override;

    // Called by the pin's constructor: the pin goes last.
    HRESULT AttachPin(SourceStreamPin* pin);
    // Called by the pin's destructor; S_FALSE when the pin is not here.
    HRESULT DetachPin(SourceStreamPin* pin);
    // Index of the pin with this IPin interface, or -1.
    int IndexOfPin(IPin* pin);

    CriticalLock* FilterLock() { return &m_FilterLock; }

protected:
  // Stops the filter when it goes while paused or running: a host may
  // release it without stopping it, and its pins' workers must end before
  // the pins do. A derived filter that deletes pins calls this first.
  void StopBeforeDestruction();

  int m_PinCount;
  SourceStreamPin** m_Pins;  // m_PinCount entries, never null; or null
  CriticalLock m_FilterLock; // the state lock of the filter and all its pins
};

#endif
