// The frame rates of the filter's pins for capture programs: the rate of each
// offered type, and the rate a pin actually delivers while it streams. The
// camera can neither flip its picture nor be triggered, so no mode is offered.
#ifndef QUILLON_FILTER_VIDEO_CONTROL_H
#define QUILLON_FILTER_VIDEO_CONTROL_H

#include <windows.h>
#include <strmif.h>

class CapturePin;

// Implements IAMVideoControl's own operations; the filter that inherits it
// supplies IUnknown and finds its pins.
class FilterVideoControl : public IAMVideoControl {
  public:
    virtual ~FilterVideoControl() = default;

    STDMETHODIMP GetCaps(IPin* pin, LONG* flags) override;
    STDMETHODIMP SetMode(IPin* pin, LONG mode) override;
    STDMETHODIMP GetMode(IPin* pin, LONG* mode) override;
    STDMETHODIMP GetCurrentActualFrameRate(IPin* pin, LONGLONG* frameInterval) override;
    STDMETHODIMP GetMaxAvailableFrameRate(IPin* pin, LONG index, SIZE dimensions,
                                          LONGLONG* frameInterval) override;
    STDMETHODIMP GetFrameRateList(IPin* pin, LONG index, SIZE dimensions, LONG* listSize,
                                  LONGLONG** frameIntervals) override;

  protected:
    // The filter's own pin behind `pin`, or null for any other pin.
    virtual CapturePin* OwnPin(IPin* pin) = 0;

  private:
    HRESULT EntryInterval(IPin* pin, LONG index, SIZE dimensions, LONGLONG* frameInterval);
};

#endif
