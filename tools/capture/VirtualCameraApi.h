// The platform's virtual camera API (Windows 11 build 22000 and later),
// declared here since the SDK headers of the build lack it, and found at run
// time in mfsensorgroup.dll, so that the tool still starts where it is missing.
#ifndef BRISCACAP_VIRTUAL_CAMERA_API_H
#define BRISCACAP_VIRTUAL_CAMERA_API_H

#include <windows.h>
#include <devpropdef.h>
#include <mfobjects.h>
#include <mfidl.h>

#include <string>
#include <vector>

#include "framework/Raii.h"

namespace virtualcamera {

enum Type : int { SoftwareCameraSource = 0 };
enum Lifetime : int { SessionLifetime = 0, SystemLifetime = 1 };
enum Access : int { CurrentUserAccess = 0, AllUsersAccess = 1 };

// {6338B23A-3042-49D2-A3EA-EC0FED815407}
struct IMFCameraSyncObject : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE WaitOnSignal(DWORD milliseconds) = 0;
    virtual void STDMETHODCALLTYPE Shutdown() = 0;
};

// {1C08A864-EF6C-4C75-AF59-5F2D68DA9563}
struct IMFVirtualCamera : public IMFAttributes {
    virtual HRESULT STDMETHODCALLTYPE AddDeviceSourceInfo(LPCWSTR deviceSourceInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddProperty(const DEVPROPKEY* key, DEVPROPTYPE type, const BYTE* data,
                                                  ULONG bytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddRegistryEntry(LPCWSTR name, LPCWSTR subkey, DWORD type,
                                                       const BYTE* data, ULONG bytes) = 0;
    virtual HRESULT STDMETHODCALLTYPE Start(IMFAsyncCallback* callback) = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    virtual HRESULT STDMETHODCALLTYPE Remove() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMediaSource(IMFMediaSource** source) = 0;
    virtual HRESULT STDMETHODCALLTYPE SendCameraProperty(REFGUID propertySet, ULONG id, ULONG flags,
                                                         void* payload, ULONG payloadBytes, void* data,
                                                         ULONG dataBytes, ULONG* written) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSyncEvent(REFGUID kernelEventSet, ULONG id, ULONG flags,
                                                      HANDLE event, IMFCameraSyncObject** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateSyncSemaphore(REFGUID kernelEventSet, ULONG id, ULONG flags,
                                                          HANDLE semaphore, LONG count,
                                                          IMFCameraSyncObject** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
};

// A video capture device as Media Foundation lists it.
struct CaptureDevice {
    std::wstring name;         // its friendly name
    std::wstring symbolicLink; // the device's path, empty when the list gives none
};

// The functions, where the system has them. Media Foundation is started for
// the object's lifetime once Start succeeded.
class Api {
  public:
    Api();
    ~Api();
    Api(const Api&) = delete;
    Api& operator=(const Api&) = delete;

    // True when the system exports the virtual camera functions.
    bool Available() const { return m_Create != nullptr && m_IsSupported != nullptr; }
    HRESULT Start();
    HRESULT IsSupported(bool& supported) const;
    HRESULT Create(Lifetime lifetime, Access access, const wchar_t* friendlyName, const wchar_t* sourceId,
                   ComPtr<IMFVirtualCamera>& camera) const;
    // The video capture devices Media Foundation lists.
    HRESULT VideoCaptureDevices(std::vector<CaptureDevice>& devices) const;

  private:
    typedef HRESULT(WINAPI* CreateFunction)(Type, Lifetime, Access, LPCWSTR, LPCWSTR, const GUID*, ULONG,
                                            IMFVirtualCamera**);
    typedef HRESULT(WINAPI* IsSupportedFunction)(Type, BOOL*);
    typedef HRESULT(WINAPI* StartupFunction)(ULONG, DWORD);
    typedef HRESULT(WINAPI* ShutdownFunction)();
    typedef HRESULT(WINAPI* CreateAttributesFunction)(IMFAttributes**, UINT32);
    typedef HRESULT(WINAPI* EnumDevicesFunction)(IMFAttributes*, IMFActivate***, UINT32*);

    UniqueLibrary m_SensorGroup;
    UniqueLibrary m_Platform;
    UniqueLibrary m_Foundation;
    CreateFunction m_Create = nullptr;
    IsSupportedFunction m_IsSupported = nullptr;
    StartupFunction m_Startup = nullptr;
    ShutdownFunction m_Shutdown = nullptr;
    CreateAttributesFunction m_CreateAttributes = nullptr;
    EnumDevicesFunction m_EnumDevices = nullptr;
    bool m_Started = false;
};

} // namespace virtualcamera

#endif
