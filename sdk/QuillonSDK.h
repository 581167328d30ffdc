// The camera vendor's library interface: C linkage, __stdcall, every function
// returns a 32-bit integer (1 = success where the caller tests it).
#ifndef QUILLON_SDK_H
#define QUILLON_SDK_H

#include <windows.h>

#ifdef QUILLON_SDK_BUILD
#define QUILLON_SDK_API __declspec(dllexport)
#else
#define QUILLON_SDK_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

// Called by the library with one 32-bit value; returns 1.
typedef int(__stdcall* QuillonCallback)(int value);

// Message posted to the window given to CameraInit whenever a frame is ready.
#define QUILLON_FRAME_READY_MESSAGE (WM_USER + 101)

QUILLON_SDK_API int __stdcall CameraInit(QuillonCallback callback, unsigned char resolution, HWND window,
                                         HWND notifyWindow);
QUILLON_SDK_API int __stdcall CameraGetImageSize(int* width, int* height);
QUILLON_SDK_API int __stdcall CameraPlay(void);
QUILLON_SDK_API int __stdcall CameraStop(void);
QUILLON_SDK_API int __stdcall CameraUnInit(void);
QUILLON_SDK_API int __stdcall CameraGetImageDataRGB24(unsigned char* buffer);

QUILLON_SDK_API int __stdcall CameraSetAeState(int enabled);
QUILLON_SDK_API int __stdcall CameraGetAeState(int* enabled);
QUILLON_SDK_API int __stdcall CameraSetAeTarget(unsigned char target);
QUILLON_SDK_API int __stdcall CameraGetAeTarget(unsigned char* target);
QUILLON_SDK_API int __stdcall CameraSetAnalogGain(unsigned short gain);
QUILLON_SDK_API int __stdcall CameraGetAnalogGain(unsigned short* gain);
QUILLON_SDK_API int __stdcall CameraSetExposureTime(unsigned int rows);
QUILLON_SDK_API int __stdcall CameraGetExposureTime(unsigned int* rows);
QUILLON_SDK_API int __stdcall CameraSetGain(unsigned short red, unsigned short green, unsigned short blue);
QUILLON_SDK_API int __stdcall CameraGetGain(unsigned int* red, unsigned int* green, unsigned int* blue);
QUILLON_SDK_API int __stdcall CameraSetGamma(unsigned char gamma);
QUILLON_SDK_API int __stdcall CameraGetGamma(unsigned char* gamma);
QUILLON_SDK_API int __stdcall CameraSetContrast(unsigned char contrast);
QUILLON_SDK_API int __stdcall CameraGetContrast(unsigned char* contrast);
QUILLON_SDK_API int __stdcall CameraSetSaturation(unsigned char saturation);
QUILLON_SDK_API int __stdcall CameraGetSaturation(unsigned char* saturation);
QUILLON_SDK_API int __stdcall CameraSetColorEnhancement(int enabled);
QUILLON_SDK_API int __stdcall CameraGetColorEnhancement(int* enabled);
QUILLON_SDK_API int __stdcall CameraSetAWBState(int start);
QUILLON_SDK_API int __stdcall CameraGetRowTime(unsigned int* microseconds);

#ifdef __cplusplus
}
#endif

#endif
