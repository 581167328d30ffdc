#include "tools/capture/VirtualCamera.h"

#include <cwctype>

#include "mediasource/MediaSourceClass.h"
#include "tools/capture/ConsoleOutput.h"
#include "tools/capture/ExitCodes.h"
#include "tools/capture/VirtualCameraApi.h"

const wchar_t VirtualCameraName[] = L"Brisca Virtual Camera";

namespace {

const wchar_t ApiMissing[] =
    L"briscacap: this system has no virtual camera API (no MFCreateVirtualCamera in mfsensorgroup.dll);\n"
    L"it comes with Windows 11 build 22000 and later. Media Foundation apps cannot use the camera here;\n"
    L"DirectShow apps still find \"Brisca Camera\".\n";

std::wstring SourceId()
{
    wchar_t text[39] = L"";
    StringFromGUID2(CLSID_BriscaMediaSource, text, 39);
    return text;
}

const wchar_t PlatformNameSuffix[] = L"Windows Virtual Camera";

std::wstring Lowered(std::wstring text)
{
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

// The name with separators (spaces, dashes, brackets) at both ends removed.
std::wstring TrimSeparators(const std::wstring& text)
{
    const wchar_t separators[] = L" \t-()[]";
    const size_t first = text.find_first_not_of(separators);
    if (first == std::wstring::npos) return std::wstring();
    return text.substr(first, text.find_last_not_of(separators) - first + 1);
}

virtualcamera::Access AccessOf(const ToolOptions& options)
{
    return options.allUsers ? virtualcamera::AllUsersAccess : virtualcamera::CurrentUserAccess;
}

const wchar_t* WhoseCamera(const ToolOptions& options)
{
    return options.allUsers ? L"for all users" : L"for the current user";
}

void ExplainFailure(const wchar_t* what, HRESULT result, const ToolOptions& options)
{
    PrintError(L"briscacap: %ls failed: %ls\n", what, DescribeResult(result).c_str());
    if (result == E_ACCESSDENIED && options.allUsers)
        PrintError(L"A camera for all users needs an administrator's command prompt.\n");
    if (result == REGDB_E_CLASSNOTREG)
        PrintError(L"Register the 64-bit module first: regsvr32 QuillonFilter.dll (in the 64-bit folder).\n");
}

// The camera as `add` made it: the same lifetime, access, name and source.
HRESULT OpenSameCamera(virtualcamera::Api& api, const ToolOptions& options,
                       ComPtr<virtualcamera::IMFVirtualCamera>& camera)
{
    RETURN_IF_FAILED(api.Start());
    return api.Create(virtualcamera::SystemLifetime, AccessOf(options), VirtualCameraName, SourceId().c_str(),
                      camera);
}

int AddCamera(virtualcamera::Api& api, const ToolOptions& options)
{
    ComPtr<virtualcamera::IMFVirtualCamera> camera;
    HRESULT result = OpenSameCamera(api, options, camera);
    if (FAILED(result)) {
        ExplainFailure(L"creating the virtual camera", result, options);
        return ExitCameraFailed;
    }
    result = camera->Start(nullptr);
    camera->Shutdown();
    if (FAILED(result)) {
        ExplainFailure(L"starting the virtual camera", result, options);
        return ExitCameraFailed;
    }
    PrintOut(L"\"%ls\" added %ls (source %ls); it stays until \"briscacap vcam remove%ls\".\n",
             VirtualCameraName, WhoseCamera(options), SourceId().c_str(),
             options.allUsers ? L" --all-users" : L"");
    return ExitSuccess;
}

int RemoveCamera(virtualcamera::Api& api, const ToolOptions& options)
{
    ComPtr<virtualcamera::IMFVirtualCamera> camera;
    HRESULT result = OpenSameCamera(api, options, camera);
    if (SUCCEEDED(result)) {
        result = camera->Remove();
        camera->Shutdown();
    }
    if (FAILED(result)) {
        ExplainFailure(L"removing the virtual camera", result, options);
        return ExitCameraFailed;
    }
    PrintOut(L"\"%ls\" removed %ls.\n", VirtualCameraName, WhoseCamera(options));
    return ExitSuccess;
}

int ShowStatus(virtualcamera::Api& api)
{
    PrintOut(L"Virtual camera API: available\n");
    bool supported = false;
    const HRESULT asked = api.IsSupported(supported);
    PrintOut(L"Software camera sources: %ls\n",
             FAILED(asked) ? DescribeResult(asked).c_str() : (supported ? L"supported" : L"not supported"));
    std::vector<virtualcamera::CaptureDevice> devices;
    HRESULT result = api.Start();
    if (SUCCEEDED(result)) result = api.VideoCaptureDevices(devices);
    if (FAILED(result)) {
        PrintError(L"briscacap: cannot list the video capture devices: %ls\n",
                   DescribeResult(result).c_str());
        return ExitCameraFailed;
    }
    for (const virtualcamera::CaptureDevice& device : devices) {
        if (!IsBriscaVirtualCamera(device)) continue;
        PrintOut(L"\"%ls\": registered, listed among the video capture devices as \"%ls\"\n",
                 VirtualCameraName, device.name.c_str());
        return ExitSuccess;
    }
    PrintOut(L"\"%ls\": not registered (not among the %u video capture devices)\n", VirtualCameraName,
             static_cast<unsigned>(devices.size()));
    return ExitNoDevice;
}

} // namespace

bool IsBriscaVirtualCamera(const virtualcamera::CaptureDevice& device)
{
    if (Lowered(device.symbolicLink).find(Lowered(SourceId())) != std::wstring::npos) return true;
    const std::wstring name = Lowered(device.name);
    const std::wstring ours = Lowered(VirtualCameraName);
    if (name.compare(0, ours.size(), ours) != 0) return false;
    const std::wstring rest = TrimSeparators(name.substr(ours.size()));
    return rest.empty() || rest == Lowered(PlatformNameSuffix);
}

int RunVirtualCameraCommand(const ToolOptions& options)
{
    virtualcamera::Api api;
    if (!api.Available()) {
        PrintError(L"%ls", ApiMissing);
        return ExitNoVirtualCamera;
    }
    switch (options.virtualCamera) {
    case VirtualCameraAction::Add:
        return AddCamera(api, options);
    case VirtualCameraAction::Remove:
        return RemoveCamera(api, options);
    default:
        return ShowStatus(api);
    }
}
