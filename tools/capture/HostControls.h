// The camera's standard controls as a capture program reads them: every
// property of the platform's video-processing and camera-control interfaces,
// by name.
#ifndef BRISCACAP_HOST_CONTROLS_H
#define BRISCACAP_HOST_CONTROLS_H

#include <windows.h>
#include <strmif.h>

#include <string>

#include "framework/Raii.h"

enum class ControlInterface { VideoProcAmp, CameraControl };

struct HostControl {
    const wchar_t* name;
    ControlInterface owner;
    long property;
};

extern const HostControl HostControls[];
extern const int HostControlCount;

// Finds a control by name (case does not matter); null when there is none.
const HostControl* FindHostControl(const std::wstring& name);

// The control's interface calls on a filter, whichever interface it belongs to.
class ControlAccess {
  public:
    explicit ControlAccess(IBaseFilter* filter);
    bool Offers(ControlInterface owner) const;
    HRESULT GetRange(const HostControl& control, long* minimum, long* maximum, long* step, long* byDefault,
                     long* caps) const;
    HRESULT Get(const HostControl& control, long* value, long* flags) const;
    HRESULT Set(const HostControl& control, long value, long flags) const;

  private:
    ComPtr<IAMVideoProcAmp> m_VideoProcAmp;
    ComPtr<IAMCameraControl> m_CameraControl;
};

// "auto", "manual", "auto/manual" or "-" for a flags value.
std::wstring DescribeControlFlags(long flags);

#endif
