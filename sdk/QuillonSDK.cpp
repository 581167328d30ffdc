// The exported functions of the simulated camera library: each contract call
// is logged, then handed to the one camera of the process.
#include "sdk/QuillonSDK.h"

#include <cstdlib>

#include "sdk/CallLog.h"
#include "sdk/QuillonSim.h"
#include "sdk/SimCamera.h"

namespace {

CallLog Calls;
SimCamera Camera;

// Tools set these before starting a program; read once when the library loads.
bool ReadEnvironmentNumber(const char* name, int* value)
{
    char text[32];
    const DWORD length = GetEnvironmentVariableA(name, text, sizeof(text));
    if (length == 0 || length >= sizeof(text)) return false;
    char* end = nullptr;
    const long number = std::strtol(text, &end, 10);
    if (end == text) return false;
    *value = int(number);
    return true;
}

struct EnvironmentSettings {
    EnvironmentSettings()
    {
        int value;
        if (ReadEnvironmentNumber("QUILLON_SIM_FPS", &value)) Camera.SetFrameRate(value);
        if (ReadEnvironmentNumber("QUILLON_SIM_FAIL_INIT", &value)) Camera.FailInit(value);
        if (ReadEnvironmentNumber("QUILLON_SIM_FAIL_IMAGE_SIZE", &value)) Camera.FailImageSize(value);
        if (ReadEnvironmentNumber("QUILLON_SIM_FAIL_PLAY", &value)) Camera.FailPlay(value);
        if (ReadEnvironmentNumber("QUILLON_SIM_PAUSE_FRAMES", &value)) Camera.PauseFrames(value != 0);
        if (ReadEnvironmentNumber("QUILLON_SIM_PULL_DELAY_MS", &value)) Camera.SetPullDelay(value);
    }
} ApplyEnvironment;

}  // namespace

extern "C" {

int __stdcall CameraInit(QuillonCallback callback, unsigned char resolution, HWND window, HWND notifyWindow)
{
    Calls.Record("CameraInit", {LogArg(reinterpret_cast<const void*>(callback)), resolution, LogArg(window),
                                LogArg(notifyWindow)});
    return Camera.Init(resolution, window);
}

int __stdcall CameraGetImageSize(int* width, int* height)
{
    Calls.Record("CameraGetImageSize", {LogArg(width), LogArg(height)});
    return Camera.GetImageSize(width, height);
}

int __stdcall CameraPlay(void)
{
    Calls.Record("CameraPlay", {});
    return Camera.Play();
}

int __stdcall CameraStop(void)
{
    Calls.Record("CameraStop", {});
    return Camera.Stop();
}

int __stdcall CameraUnInit(void)
{
    Calls.Record("CameraUnInit", {});
    return Camera.UnInit();
}

int __stdcall CameraGetImageDataRGB24(unsigned char* buffer)
{
    Calls.Record("CameraGetImageDataRGB24", {LogArg(buffer)});
    return Camera.GetImageData(buffer);
}

int __stdcall CameraSetAeState(int enabled)
{
    Calls.Record("CameraSetAeState", {enabled});
    Camera.ChangeSettings([=](SimSettings& s) { s.aeState = enabled; });
    return 1;
}

int __stdcall CameraGetAeState(int* enabled)
{
    Calls.Record("CameraGetAeState", {LogArg(enabled)});
    if (!enabled) return 0;
    *enabled = Camera.Settings().aeState;
    return 1;
}

int __stdcall CameraSetAeTarget(unsigned char target)
{
    Calls.Record("CameraSetAeTarget", {target});
    Camera.ChangeSettings([=](SimSettings& s) { s.aeTarget = target; });
    return 1;
}

int __stdcall CameraGetAeTarget(unsigned char* target)
{
    Calls.Record("CameraGetAeTarget", {LogArg(target)});
    if (!target) return 0;
    *target = Camera.Settings().aeTarget;
    return 1;
}

int __stdcall CameraSetAnalogGain(unsigned short gain)
{
    Calls.Record("CameraSetAnalogGain", {gain});
    Camera.ChangeSettings([=](SimSettings& s) { s.analogGain = gain; });
    return 1;
}

int __stdcall CameraGetAnalogGain(unsigned short* gain)
{
    Calls.Record("CameraGetAnalogGain", {LogArg(gain)});
    if (!gain) return 0;
    *gain = Camera.Settings().analogGain;
    return 1;
}

int __stdcall CameraSetExposureTime(unsigned int rows)
{
    Calls.Record("CameraSetExposureTime", {rows});
    Camera.ChangeSettings([=](SimSettings& s) { s.exposure = rows; });
    return 1;
}

int __stdcall CameraGetExposureTime(unsigned int* rows)
{
    Calls.Record("CameraGetExposureTime", {LogArg(rows)});
    if (!rows) return 0;
    *rows = Camera.Settings().exposure;
    return 1;
}

int __stdcall CameraSetGain(unsigned short red, unsigned short green, unsigned short blue)
{
    Calls.Record("CameraSetGain", {red, green, blue});
    Camera.ChangeSettings([=](SimSettings& s) {
        s.redGain = red;
        s.greenGain = green;
        s.blueGain = blue;
    });
    return 1;
}

int __stdcall CameraGetGain(unsigned int* red, unsigned int* green, unsigned int* blue)
{
    Calls.Record("CameraGetGain", {LogArg(red), LogArg(green), LogArg(blue)});
    if (!red || !green || !blue) return 0;
    const SimSettings s = Camera.Settings();
    *red = s.redGain;
    *green = s.greenGain;
    *blue = s.blueGain;
    return 1;
}

int __stdcall CameraSetGamma(unsigned char gamma)
{
    Calls.Record("CameraSetGamma", {gamma});
    Camera.ChangeSettings([=](SimSettings& s) { s.gamma = gamma; });
    return 1;
}

int __stdcall CameraGetGamma(unsigned char* gamma)
{
    Calls.Record("CameraGetGamma", {LogArg(gamma)});
    if (!gamma) return 0;
    *gamma = Camera.Settings().gamma;
    return 1;
}

int __stdcall CameraSetContrast(unsigned char contrast)
{
    Calls.Record("CameraSetContrast", {contrast});
    Camera.ChangeSettings([=](SimSettings& s) { s.contrast = contrast; });
    return 1;
}

int __stdcall CameraGetContrast(unsigned char* contrast)
{
    Calls.Record("CameraGetContrast", {LogArg(contrast)});
    if (!contrast) return 0;
    *contrast = Camera.Settings().contrast;
    return 1;
}

int __stdcall CameraSetSaturation(unsigned char saturation)
{
    Calls.Record("CameraSetSaturation", {saturation});
    Camera.ChangeSettings([=](SimSettings& s) { s.saturation = saturation; });
    return 1;
}

int __stdcall CameraGetSaturation(unsigned char* saturation)
{
    Calls.Record("CameraGetSaturation", {LogArg(saturation)});
    if (!saturation) return 0;
    *saturation = Camera.Settings().saturation;
    return 1;
}

int __stdcall CameraSetColorEnhancement(int enabled)
{
    Calls.Record("CameraSetColorEnhancement", {enabled});
    Camera.ChangeSettings([=](SimSettings& s) { s.colorEnhancement = enabled; });
    return 1;
}

int __stdcall CameraGetColorEnhancement(int* enabled)
{
    Calls.Record("CameraGetColorEnhancement", {LogArg(enabled)});
    if (!enabled) return 0;
    *enabled = Camera.Settings().colorEnhancement;
    return 1;
}

int __stdcall CameraSetAWBState(int start)
{
    Calls.Record("CameraSetAWBState", {start});
    Camera.StartWhiteBalance(start != 0);
    return 1;
}

int __stdcall CameraGetRowTime(unsigned int* microseconds)
{
    Calls.Record("CameraGetRowTime", {LogArg(microseconds)});
    if (!microseconds) return 0;
    *microseconds = SimCamera::RowTimeMicroseconds;
    return 1;
}

// Control surface: not logged, since tests read the log to see what the
// product did.

void __stdcall SimReset(void)
{
    Camera.Reset();
    Calls.Clear();
}

void __stdcall SimSetFrameRate(int framesPerSecond) { Camera.SetFrameRate(framesPerSecond); }
void __stdcall SimFailInit(int count) { Camera.FailInit(count); }
void __stdcall SimFailImageSize(int count) { Camera.FailImageSize(count); }
void __stdcall SimFailPlay(int count) { Camera.FailPlay(count); }
void __stdcall SimPauseFrames(int paused) { Camera.PauseFrames(paused != 0); }
void __stdcall SimSetPullDelay(int milliseconds) { Camera.SetPullDelay(milliseconds); }
int __stdcall SimGetCallCount(void) { return Calls.Count(); }
int __stdcall SimGetCall(int index, QuillonSimCall* call) { return Calls.Get(index, call) ? 1 : 0; }
void __stdcall SimClearCalls(void) { Calls.Clear(); }
int __stdcall SimFramesPosted(void) { return Camera.FramesPosted(); }
int __stdcall SimFramesPulled(void) { return Camera.FramesPulled(); }
long long __stdcall SimLastFramePostCounter(void) { return Camera.LastFramePostCounter(); }
int __stdcall SimIsInitialised(void) { return Camera.IsInitialised() ? 1 : 0; }
int __stdcall SimIsPlaying(void) { return Camera.IsPlaying() ? 1 : 0; }

}  // extern "C"
