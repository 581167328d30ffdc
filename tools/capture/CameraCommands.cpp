#include "tools/capture/CameraCommands.h"

#include <dshow.h>
#include <uuids.h>

#include "camera/ICameraConfig.h"
#include "framework/Raii.h"
#include "tools/capture/CameraSettings.h"
#include "tools/capture/CaptureSession.h"
#include "tools/capture/ConsoleOutput.h"
#include "tools/capture/DeviceCatalog.h"
#include "tools/capture/ExitCodes.h"
#include "tools/capture/MediaTypes.h"
#include "tools/capture/HostControls.h"
#include "tools/capture/MediaTypes.h"
#include "tools/capture/PropertyFrames.h"

namespace {

const wchar_t RegisterHint[] = L"Register the camera module first, for example: regsvr32 QuillonFilter.dll\n";

// Opens the named device and reports clearly why it cannot be opened.
int OpenCamera(const std::wstring& name, ComPtr<IBaseFilter>& filter) {
    const HRESULT result = OpenVideoDevice(name, filter);
    if (SUCCEEDED(result) && filter) return ExitSuccess;
    if (result == VFW_E_NOT_FOUND) {
        std::vector<VideoDevice> devices;
        EnumerateVideoDevices(devices);
        PrintError(L"briscacap: the video input device \"%ls\" was not found.\n", name.c_str());
        if (devices.empty()) {
            PrintError(L"No video input device is registered. %ls", RegisterHint);
        } else {
            PrintError(L"Devices found:\n");
            for (const VideoDevice& device : devices) PrintError(L"  %ls\n", device.friendlyName.c_str());
        }
        return ExitNoDevice;
    }
    PrintError(L"briscacap: the device \"%ls\" is listed but cannot be created: %ls\n", name.c_str(),
               DescribeResult(result).c_str());
    if (result == REGDB_E_CLASSNOTREG || result == CO_E_DLLNOTFOUND || result == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
        PrintError(L"%ls", RegisterHint);
    return ExitNoDevice;
}

// The settings interface: the filter hands out its first pin's, the capture pin has its own.
HRESULT FindCameraConfig(IBaseFilter* filter, ComPtr<ICameraConfig>& config) {
    if (SUCCEEDED(filter->QueryInterface(IID_ICameraConfig, config.putVoid()))) return S_OK;
    ComPtr<IPin> pin;
    RETURN_IF_FAILED(FindPinByCategory(filter, PIN_CATEGORY_CAPTURE, pin));
    return pin->QueryInterface(IID_ICameraConfig, config.putVoid());
}

int ReadConfig(IBaseFilter* filter, ComPtr<ICameraConfig>& config, CameraConfig& record) {
    HRESULT result = FindCameraConfig(filter, config);
    if (SUCCEEDED(result)) result = config->GetConfig(&record);
    if (FAILED(result)) {
        PrintError(L"briscacap: the device offers no camera settings: %ls\n", DescribeResult(result).c_str());
        return ExitCameraFailed;
    }
    return ExitSuccess;
}

int WriteConfig(ICameraConfig* config, CameraConfig& record) {
    const HRESULT result = config->SetConfig(&record);
    if (FAILED(result)) {
        PrintError(L"briscacap: the camera refused the settings: %ls\n", DescribeResult(result).c_str());
        return ExitCameraFailed;
    }
    return ExitSuccess;
}

// Applies --resolution when it was given.
int ApplyResolutionOption(IBaseFilter* filter, const ToolOptions& options) {
    if (options.resolution < 0) return ExitSuccess;
    ComPtr<ICameraConfig> config;
    CameraConfig record;
    int code = ReadConfig(filter, config, record);
    if (code != ExitSuccess) return code;
    record.m_Format.m_Resolution = static_cast<unsigned char>(options.resolution);
    code = WriteConfig(config.get(), record);
    if (code == ExitSuccess) PrintOut(L"resolution index set to %d\n", options.resolution);
    return code;
}

// Applies --fps to both pins the way a capture program picks a rate: the
// pin's current format with another frame interval, through SetFormat.
HRESULT SetPinFrameRate(IBaseFilter* filter, const GUID& category, long framesPerSecond) {
    ComPtr<IPin> pin;
    RETURN_IF_FAILED(FindPinByCategory(filter, category, pin));
    ComPtr<IAMStreamConfig> config;
    RETURN_IF_FAILED(pin->QueryInterface(IID_IAMStreamConfig, config.putVoid()));
    AM_MEDIA_TYPE* format = nullptr;
    RETURN_IF_FAILED(config->GetFormat(&format));
    if (!format) return E_UNEXPECTED;
    HRESULT result = E_UNEXPECTED;
    if (format->cbFormat >= sizeof(VIDEOINFOHEADER) && format->pbFormat) {
        // The camera's own interval for 30 frames a second, round ones below.
        const REFERENCE_TIME interval = framesPerSecond == 30 ? 333333 : 10000000 / framesPerSecond;
        reinterpret_cast<VIDEOINFOHEADER*>(format->pbFormat)->AvgTimePerFrame = interval;
        result = config->SetFormat(format);
    }
    DeleteMediaType(format);
    return result;
}

int ApplyFrameRateOption(IBaseFilter* filter, const ToolOptions& options) {
    if (options.framesPerSecond == 0) return ExitSuccess;
    for (const GUID* category : {&PIN_CATEGORY_CAPTURE, &PIN_CATEGORY_PREVIEW}) {
        const HRESULT result = SetPinFrameRate(filter, *category, options.framesPerSecond);
        if (FAILED(result)) {
            PrintError(L"briscacap: the camera refused %ld frames/s: %ls\n", options.framesPerSecond,
                       DescribeResult(result).c_str());
            return ExitCameraFailed;
        }
    }
    return ExitSuccess;
}

void PrintSettings(const CameraConfig& record) {
    PrintOut(L"Settings:\n");
    for (int i = 0; i < SettingFieldCount; ++i) {
        const SettingField& field = SettingFields[i];
        PrintOut(L"  %-18ls %10ld   %ls\n", field.name, field.read(record), field.meaning);
    }
}

void PrintPinFormats(IPin* pin) {
    ComPtr<IAMStreamConfig> config;
    if (FAILED(pin->QueryInterface(IID_IAMStreamConfig, config.putVoid()))) {
        PrintOut(L"  (the pin does not describe its formats)\n");
        return;
    }
    int count = 0;
    int size = 0;
    if (FAILED(config->GetNumberOfCapabilities(&count, &size)) || size != sizeof(VIDEO_STREAM_CONFIG_CAPS)) {
        PrintOut(L"  (no format list)\n");
        return;
    }
    for (int i = 0; i < count; ++i) {
        AM_MEDIA_TYPE* type = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps = {};
        if (config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)) != S_OK || !type) continue;
        if (const VIDEOINFOHEADER* info = VideoInfoOf(*type)) {
            const double fastest = caps.MinFrameInterval > 0 ? 1e7 / caps.MinFrameInterval : 0;
            const double slowest = caps.MaxFrameInterval > 0 ? 1e7 / caps.MaxFrameInterval : 0;
            PrintOut(L"  %d: %ld x %ld, %u-bit%ls, %lu bytes a frame, %.1f to %.1f frames a second\n", i,
                     info->bmiHeader.biWidth, info->bmiHeader.biHeight, info->bmiHeader.biBitCount,
                     type->subtype == MEDIASUBTYPE_RGB24 ? L" RGB" : L"", type->lSampleSize, slowest, fastest);
        }
        DeleteMediaType(type);
    }
    AM_MEDIA_TYPE* current = nullptr;
    if (SUCCEEDED(config->GetFormat(&current)) && current) {
        if (const VIDEOINFOHEADER* info = VideoInfoOf(*current))
            PrintOut(L"  current: %ld x %ld, %u-bit\n", info->bmiHeader.biWidth, info->bmiHeader.biHeight,
                     info->bmiHeader.biBitCount);
        DeleteMediaType(current);
    }
}

void PrintPins(IBaseFilter* filter) {
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put()))) return;
    ComPtr<IPin> pin;
    while (pins->Next(1, pin.put(), nullptr) == S_OK) {
        PIN_INFO info = {};
        if (FAILED(pin->QueryPinInfo(&info))) continue;
        if (info.pFilter) info.pFilter->Release();
        PrintOut(L"Pin \"%ls\"\n", info.achName);
        PrintPinFormats(pin.get());
    }
}

void PrintControl(const ControlAccess& access, const HostControl& control)
{
    long minimum = 0, maximum = 0, step = 0, byDefault = 0, caps = 0, value = 0, flags = 0;
    HRESULT result = access.GetRange(control, &minimum, &maximum, &step, &byDefault, &caps);
    if (SUCCEEDED(result)) result = access.Get(control, &value, &flags);
    if (FAILED(result)) {
        PrintOut(L"  %-13ls not supported\n", control.name);
        return;
    }
    PrintOut(L"  %-13ls %6ld %ls %6ld (step %ld)  default %6ld  current %6ld  %-6ls (can be %ls)\n",
             control.name, minimum, L"to", maximum, step, byDefault, value,
             DescribeControlFlags(flags).c_str(), DescribeControlFlags(caps).c_str());
}

// Creating the file tells early whether it can be written at all.
bool CheckWritable(const std::wstring& path, const wchar_t* what) {
    const bool existed = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        PrintError(L"briscacap: cannot write the %ls \"%ls\": %ls\n", what, path.c_str(),
                   DescribeResult(HRESULT_FROM_WIN32(GetLastError())).c_str());
        return false;
    }
    CloseHandle(file);
    if (!existed) DeleteFileW(path.c_str());
    return true;
}

}  // namespace

int ListDevices() {
    std::vector<VideoDevice> devices;
    const HRESULT result = EnumerateVideoDevices(devices);
    if (FAILED(result)) {
        PrintError(L"briscacap: cannot enumerate video input devices: %ls\n", DescribeResult(result).c_str());
        return ExitNoDevice;
    }
    if (devices.empty()) {
        PrintOut(L"No video input devices.\n");
        return ExitSuccess;
    }
    PrintOut(L"Video input devices:\n");
    for (const VideoDevice& device : devices) PrintOut(L"  %ls\n", device.friendlyName.c_str());
    return ExitSuccess;
}

int ShowInfo(const ToolOptions& options) {
    ComPtr<IBaseFilter> filter;
    int code = OpenCamera(options.deviceName, filter);
    if (code == ExitSuccess) code = ApplyResolutionOption(filter.get(), options);
    if (code != ExitSuccess) return code;
    PrintOut(L"Device \"%ls\"\n", options.deviceName.c_str());
    PrintPins(filter.get());
    ComPtr<ICameraConfig> config;
    CameraConfig record;
    code = ReadConfig(filter.get(), config, record);
    if (code == ExitSuccess) PrintSettings(record);
    return code;
}

int ChangeSetting(const ToolOptions& options) {
    const SettingField* field = nullptr;
    if (!options.settingName.empty()) {
        field = FindSetting(options.settingName);
        if (!field) {
            PrintError(L"briscacap: unknown setting \"%ls\"; known settings:\n", options.settingName.c_str());
            for (int i = 0; i < SettingFieldCount; ++i) PrintError(L"  %ls\n", SettingFields[i].name);
            return ExitUsage;
        }
    }
    ComPtr<IBaseFilter> filter;
    int code = OpenCamera(options.deviceName, filter);
    if (code == ExitSuccess) code = ApplyResolutionOption(filter.get(), options);
    if (code != ExitSuccess || !field) return code;

    ComPtr<ICameraConfig> config;
    CameraConfig record;
    code = ReadConfig(filter.get(), config, record);
    if (code != ExitSuccess) return code;
    std::wstring error;
    if (!ApplySetting(*field, options.settingValue, record, error)) {
        PrintError(L"briscacap: %ls\n", error.c_str());
        return ExitUsage;
    }
    const long wanted = field->read(record);
    code = WriteConfig(config.get(), record);
    if (code != ExitSuccess) return code;
    CameraConfig stored;
    if (SUCCEEDED(config->GetConfig(&stored)) && field->read(stored) != wanted) {
        PrintError(L"briscacap: %ls was set to %ld but the camera reports %ld\n", field->name, wanted,
                   field->read(stored));
        return ExitCameraFailed;
    }
    PrintOut(L"%ls = %ld\n", field->name, wanted);
    return ExitSuccess;
}

int ShowPages(const ToolOptions& options) {
    ComPtr<IBaseFilter> filter;
    int code = OpenCamera(options.deviceName, filter);
    if (code == ExitSuccess) code = ApplyResolutionOption(filter.get(), options);
    if (code != ExitSuccess) return code;
    HRESULT result = ShowPropertyPages(filter.get(), L"Brisca Camera");
    if (SUCCEEDED(result)) {
        ComPtr<IPin> pin;
        if (SUCCEEDED(FindPinByCategory(filter.get(), PIN_CATEGORY_CAPTURE, pin)))
            result = ShowPropertyPages(pin.get(), L"~Capture");
    }
    if (FAILED(result)) {
        PrintError(L"briscacap: cannot show the property pages: %ls\n", DescribeResult(result).c_str());
        return ExitCameraFailed;
    }
    return ExitSuccess;
}

int StreamCamera(const ToolOptions& options, HANDLE stopEvent) {
    if (!options.aviPath.empty() && !CheckWritable(options.aviPath, L"recording")) return ExitFileFailed;
    if (!options.snapshotPath.empty() && !CheckWritable(options.snapshotPath, L"snapshot")) return ExitFileFailed;
    ComPtr<IBaseFilter> filter;
    int code = OpenCamera(options.deviceName, filter);
    if (code == ExitSuccess) code = ApplyResolutionOption(filter.get(), options);
    if (code == ExitSuccess) code = ApplyFrameRateOption(filter.get(), options);
    if (code != ExitSuccess) return code;
    CaptureSession session(filter.get(), options, stopEvent);
    return session.Run();
}

int ShowControls(const ToolOptions& options)
{
    ComPtr<IBaseFilter> filter;
    int code = OpenCamera(options.deviceName, filter);
    if (code == ExitSuccess) code = ApplyResolutionOption(filter.get(), options);
    if (code != ExitSuccess) return code;
    const ControlAccess access(filter.get());
    const struct {
        ControlInterface owner;
        const wchar_t* title;
    } Groups[] = {{ControlInterface::VideoProcAmp, L"Video processing (IAMVideoProcAmp)"},
                  {ControlInterface::CameraControl, L"Camera control (IAMCameraControl)"}};
    for (const auto& group : Groups) {
        PrintOut(L"%ls%ls\n", group.title,
                 access.Offers(group.owner) ? L":" : L": not offered by the device");
        if (!access.Offers(group.owner)) continue;
        for (int i = 0; i < HostControlCount; ++i)
            if (HostControls[i].owner == group.owner) PrintControl(access, HostControls[i]);
    }
    return ExitSuccess;
}

int ChangeControl(const ToolOptions& options)
{
    const HostControl* control = FindHostControl(options.controlName);
    if (!control) {
        PrintError(L"briscacap: unknown control \"%ls\"; known controls:\n", options.controlName.c_str());
        for (int i = 0; i < HostControlCount; ++i)
            PrintError(L"  %ls\n", HostControls[i].name);
        return ExitUsage;
    }
    ComPtr<IBaseFilter> filter;
    int code = OpenCamera(options.deviceName, filter);
    if (code == ExitSuccess) code = ApplyResolutionOption(filter.get(), options);
    if (code != ExitSuccess) return code;
    const ControlAccess access(filter.get());
    const long flags = options.controlAuto ? VideoProcAmp_Flags_Auto : VideoProcAmp_Flags_Manual;
    const HRESULT result = access.Set(*control, options.controlValue, flags);
    if (FAILED(result)) {
        long minimum = 0, maximum = 0, step = 0, byDefault = 0, caps = 0;
        PrintError(L"briscacap: the camera refused %ls %ld %ls: %ls\n", control->name, options.controlValue,
                   DescribeControlFlags(flags).c_str(), DescribeResult(result).c_str());
        if (SUCCEEDED(access.GetRange(*control, &minimum, &maximum, &step, &byDefault, &caps)))
            PrintError(L"  %ls takes %ld to %ld, %ls\n", control->name, minimum, maximum,
                       DescribeControlFlags(caps).c_str());
        return result == E_INVALIDARG || result == E_PROP_ID_UNSUPPORTED ? ExitUsage : ExitCameraFailed;
    }
    long value = 0, now = 0;
    access.Get(*control, &value, &now);
    PrintOut(L"%ls = %ld (%ls)\n", control->name, value, DescribeControlFlags(now).c_str());
    return ExitSuccess;
}
