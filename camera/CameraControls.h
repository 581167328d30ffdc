// The camera's exposure and colour through the platform's standard camera
// interfaces, for capture and video-call programs that show their own
// sliders: each property is a setting of the camera's settings record, read
// from the camera and handed back the way the "Camera Set" page does it, so
// the camera, the settings file and the page all see the same values.
//
// Each class implements its interface's own operations; the object that
// inherits it supplies IUnknown.
#ifndef QUILLON_CAMERA_CONTROLS_H
#define QUILLON_CAMERA_CONTROLS_H

#include <windows.h>
#include <strmif.h>

#include "camera/CCamera.h"

// Brightness (the auto-exposure target), contrast, saturation, gamma,
// colour enhancement and analog gain, whose Auto flag is auto exposure.
class VideoProcAmpControl : public IAMVideoProcAmp {
  public:
    explicit VideoProcAmpControl(CCamera* camera) : m_Camera(camera) {}
    virtual ~VideoProcAmpControl() = default;

    STDMETHODIMP GetRange(LONG property, LONG* minimum, LONG* maximum, LONG* step, LONG* byDefault,
                          LONG* capsFlags) override;
    STDMETHODIMP Set(LONG property, LONG value, LONG flags) override;
    STDMETHODIMP Get(LONG property, LONG* value, LONG* flags) override;

  protected:
    // S_OK while the controls may be used; an object that can be shut down
    // answers its shut-down error here.
    virtual HRESULT CheckControlsUsable() { return S_OK; }

  private:
    CCamera* m_Camera;
};

// The exposure, as the log base 2 of its length in seconds; its Auto flag is
// auto exposure.
class ExposureControl : public IAMCameraControl {
  public:
    // The exposure lengths the camera takes, in row times.
    static constexpr unsigned int ShortestExposure = 1;
    static constexpr unsigned int LongestExposure = 23100;

    explicit ExposureControl(CCamera* camera) : m_Camera(camera) {}
    virtual ~ExposureControl() = default;

    STDMETHODIMP GetRange(LONG property, LONG* minimum, LONG* maximum, LONG* step, LONG* byDefault,
                          LONG* capsFlags) override;
    STDMETHODIMP Set(LONG property, LONG value, LONG flags) override;
    STDMETHODIMP Get(LONG property, LONG* value, LONG* flags) override;

    // Conversions between row times and the interface's log2 seconds, for a
    // row time in microseconds.
    static LONG ExposureValue(unsigned int rows, unsigned int rowTime);
    static unsigned int ExposureRows(LONG value, unsigned int rowTime);

  protected:
    // As VideoProcAmpControl's: one override serves both.
    virtual HRESULT CheckControlsUsable() { return S_OK; }

  private:
    CCamera* m_Camera;
};

#endif
