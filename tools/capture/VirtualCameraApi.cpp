#include "tools/capture/VirtualCameraApi.h"

#include <mfapi.h>

namespace virtualcamera {

Api::Api()
    : m_SensorGroup(LoadLibraryW(L"mfsensorgroup.dll")), m_Platform(LoadLibraryW(L"mfplat.dll")),
      m_Foundation(LoadLibraryW(L"mf.dll"))
{
    m_Create = m_SensorGroup.find<CreateFunction>("MFCreateVirtualCamera");
    m_IsSupported = m_SensorGroup.find<IsSupportedFunction>("MFIsVirtualCameraTypeSupported");
    m_Startup = m_Platform.find<StartupFunction>("MFStartup");
    m_Shutdown = m_Platform.find<ShutdownFunction>("MFShutdown");
    m_CreateAttributes = m_Platform.find<CreateAttributesFunction>("MFCreateAttributes");
    m_EnumDevices = m_Foundation.find<EnumDevicesFunction>("MFEnumDeviceSources");
}

Api::~Api()
{
    if (m_Started) m_Shutdown();
}

HRESULT Api::Start()
{
    if (m_Started) return S_OK;
    if (!m_Startup || !m_Shutdown) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    RETURN_IF_FAILED(m_Startup(MF_VERSION, MFSTARTUP_FULL));
    m_Started = true;
    return S_OK;
}

HRESULT Api::IsSupported(bool& supported) const
{
    supported = false;
    if (!m_IsSupported) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    BOOL answer = FALSE;
    RETURN_IF_FAILED(m_IsSupported(SoftwareCameraSource, &answer));
    supported = answer != FALSE;
    return S_OK;
}

HRESULT Api::Create(Lifetime lifetime, Access access, const wchar_t* friendlyName, const wchar_t* sourceId,
                    ComPtr<IMFVirtualCamera>& camera) const
{
    if (!m_Create) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    // No categories: the platform's default video camera categories.
    return m_Create(SoftwareCameraSource, lifetime, access, friendlyName, sourceId, nullptr, 0, camera.put());
}

namespace {

std::wstring StringOf(IMFAttributes* attributes, REFGUID key)
{
    TaskMemory<wchar_t> text;
    UINT32 length = 0;
    if (FAILED(attributes->GetAllocatedString(key, text.put(), &length))) return std::wstring();
    return std::wstring(text.get(), length);
}

} // namespace

HRESULT Api::VideoCaptureDevices(std::vector<CaptureDevice>& devices) const
{
    devices.clear();
    if (!m_CreateAttributes || !m_EnumDevices) return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    ComPtr<IMFAttributes> query;
    RETURN_IF_FAILED(m_CreateAttributes(query.put(), 1));
    RETURN_IF_FAILED(
        query->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID));
    TaskMemory<IMFActivate*> listed;
    UINT32 count = 0;
    RETURN_IF_FAILED(m_EnumDevices(query.get(), listed.put(), &count));
    // Each device comes with a reference the caller releases.
    std::vector<ComPtr<IMFActivate>> owned;
    for (UINT32 i = 0; i < count; ++i)
        owned.emplace_back(listed.get()[i]);
    for (const ComPtr<IMFActivate>& device : owned)
        devices.push_back({StringOf(device.get(), MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME),
                           StringOf(device.get(), MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK)});
    return S_OK;
}

} // namespace virtualcamera
