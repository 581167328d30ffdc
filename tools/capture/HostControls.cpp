#include "tools/capture/HostControls.h"

#include <cwctype>

const HostControl HostControls[] = {
    {L"brightness", ControlInterface::VideoProcAmp, VideoProcAmp_Brightness},
    {L"contrast", ControlInterface::VideoProcAmp, VideoProcAmp_Contrast},
    {L"hue", ControlInterface::VideoProcAmp, VideoProcAmp_Hue},
    {L"saturation", ControlInterface::VideoProcAmp, VideoProcAmp_Saturation},
    {L"sharpness", ControlInterface::VideoProcAmp, VideoProcAmp_Sharpness},
    {L"gamma", ControlInterface::VideoProcAmp, VideoProcAmp_Gamma},
    {L"colorenable", ControlInterface::VideoProcAmp, VideoProcAmp_ColorEnable},
    {L"whitebalance", ControlInterface::VideoProcAmp, VideoProcAmp_WhiteBalance},
    {L"backlight", ControlInterface::VideoProcAmp, VideoProcAmp_BacklightCompensation},
    {L"gain", ControlInterface::VideoProcAmp, VideoProcAmp_Gain},
    {L"pan", ControlInterface::CameraControl, CameraControl_Pan},
    {L"tilt", ControlInterface::CameraControl, CameraControl_Tilt},
    {L"roll", ControlInterface::CameraControl, CameraControl_Roll},
    {L"zoom", ControlInterface::CameraControl, CameraControl_Zoom},
    {L"exposure", ControlInterface::CameraControl, CameraControl_Exposure},
    {L"iris", ControlInterface::CameraControl, CameraControl_Iris},
    {L"focus", ControlInterface::CameraControl, CameraControl_Focus},
};
const int HostControlCount = sizeof(HostControls) / sizeof(HostControls[0]);

const HostControl* FindHostControl(const std::wstring& name)
{
    for (const HostControl& control : HostControls) {
        const std::wstring known = control.name;
        if (known.size() != name.size()) continue;
        bool same = true;
        for (size_t i = 0; i < known.size() && same; ++i)
            same = known[i] == static_cast<wchar_t>(towlower(name[i]));
        if (same) return &control;
    }
    return nullptr;
}

ControlAccess::ControlAccess(IBaseFilter* filter)
{
    if (!filter) return;
    filter->QueryInterface(IID_IAMVideoProcAmp, m_VideoProcAmp.putVoid());
    filter->QueryInterface(IID_IAMCameraControl, m_CameraControl.putVoid());
}

bool ControlAccess::Offers(ControlInterface owner) const
{
    return owner == ControlInterface::VideoProcAmp ? static_cast<bool>(m_VideoProcAmp)
                                                   : static_cast<bool>(m_CameraControl);
}

HRESULT ControlAccess::GetRange(const HostControl& control, long* minimum, long* maximum, long* step,
                                long* byDefault, long* caps) const
{
    if (!Offers(control.owner)) return E_NOINTERFACE;
    if (control.owner == ControlInterface::VideoProcAmp)
        return m_VideoProcAmp->GetRange(control.property, minimum, maximum, step, byDefault, caps);
    return m_CameraControl->GetRange(control.property, minimum, maximum, step, byDefault, caps);
}

HRESULT ControlAccess::Get(const HostControl& control, long* value, long* flags) const
{
    if (!Offers(control.owner)) return E_NOINTERFACE;
    if (control.owner == ControlInterface::VideoProcAmp)
        return m_VideoProcAmp->Get(control.property, value, flags);
    return m_CameraControl->Get(control.property, value, flags);
}

HRESULT ControlAccess::Set(const HostControl& control, long value, long flags) const
{
    if (!Offers(control.owner)) return E_NOINTERFACE;
    if (control.owner == ControlInterface::VideoProcAmp)
        return m_VideoProcAmp->Set(control.property, value, flags);
    return m_CameraControl->Set(control.property, value, flags);
}

std::wstring DescribeControlFlags(long flags)
{
    const bool automatic = (flags & VideoProcAmp_Flags_Auto) != 0;
    const bool manual = (flags & VideoProcAmp_Flags_Manual) != 0;
    if (automatic && manual) return L"auto/manual";
    if (automatic) return L"auto";
    if (manual) return L"manual";
    return L"-";
}
