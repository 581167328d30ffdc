// The "Brisca Camera" source filter: one camera controller shared by two
// output pins, "~Capture" and "Preview", and a few small interfaces a host
// asks a capture source for.
#ifndef QUILLON_CAMERA_FILTER_H
#define QUILLON_CAMERA_FILTER_H

#include <windows.h>
#include <strmif.h>
#include <ocidl.h>

#include "camera/CCamera.h"
#include "camera/CameraControls.h"
#include "camera/FilterVideoControl.h"
#include "camera/ICameraConfig.h"
#include "framework/PointerList.h"
#include "framework/SourceFilterBase.h"

class CapturePin;

// Lists the camera settings page.
class FilterPropertyPages : public ISpecifyPropertyPages {
  public:
    virtual ~FilterPropertyPages() = default;
    STDMETHODIMP GetPages(CAUUID* pages) override;
};

// Marks the filter as a source.
class FilterMiscFlags : public IAMFilterMiscFlags {
  public:
    virtual ~FilterMiscFlags() = default;
    STDMETHODIMP_(ULONG) GetMiscFlags() override;
};

// Accepts every overlay notification and ignores it.
class OverlayNotifySink : public IOverlayNotify {
  public:
    virtual ~OverlayNotifySink() = default;
    STDMETHODIMP OnPaletteChange(DWORD colors, const PALETTEENTRY* palette) override;
    STDMETHODIMP OnClipChange(const RECT* source, const RECT* destination, const RGNDATA* region) override;
    STDMETHODIMP OnColorKeyChange(const COLORKEY* colorKey) override;
    STDMETHODIMP OnPositionChange(const RECT* source, const RECT* destination) override;
};

class CameraFilter : public SourceFilterBase,
                     public ICameraFilterTag,
                     public FilterPropertyPages,
                     public FilterMiscFlags,
                     public OverlayNotifySink,
                     public VideoProcAmpControl,
                     public ExposureControl,
                     public FilterVideoControl {
  public:
    static ObjectBase* Create(IUnknown* owner, HRESULT* result);

    explicit CameraFilter(IUnknown* owner);
    ~CameraFilter() override;

    FORWARD_IUNKNOWN_TO_OWNER
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;
    // Paused, a live source has no samples to cue: VFW_S_CANT_CUE tells the
    // graph not to wait for them before it runs.
    STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* out) override;

    // The pins in creation order ("~Capture" first); adds no reference.
    CapturePin* PinInList(int index) const;
    CCamera* Camera() { return &m_Camera; }

  protected:
    CapturePin* OwnPin(IPin* pin) override;

  private:
    HRESULT CreatePins();

    PointerList m_PinList; // CapturePin entries, owned
    CCamera m_Camera;
};

#endif
