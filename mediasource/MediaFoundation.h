// The Media Foundation declarations the media source uses, and the values
// of the device-stream attributes that the mingw-w64 headers lack.
#ifndef QUILLON_MEDIA_FOUNDATION_H
#define QUILLON_MEDIA_FOUNDATION_H

// IMFMediaSourceEx is declared for Windows 8 and later only; the build raises
// the version for the media source's files and their tests alone, so that the
// rest of the module keeps to the Windows 7 declarations.
#if !defined(WINVER) || WINVER < 0x0602
#error "the media source needs WINVER 0x0602 or later (see cmake/QuillonTargets.cmake)"
#endif

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>

namespace DeviceStream {

// MF_DEVICESTREAM_STREAM_CATEGORY: what a device stream carries.
inline const GUID CategoryKey = {
    0x2939e7b8, 0xa62e, 0x4579, {0xb6, 0x74, 0xd4, 0x07, 0x3d, 0xfa, 0xbb, 0xba}};
// PINNAME_VIDEO_CAPTURE: the category value of a video capture stream.
inline const GUID VideoCaptureCategory = {
    0xfb6c4281, 0x0353, 0x11d1, {0x90, 0x5f, 0x00, 0x00, 0xc0, 0xcc, 0x16, 0xba}};
// MF_DEVICESTREAM_STREAM_ID: the stream's index (UINT32).
inline const GUID StreamIdKey = {
    0x11bd5120, 0xd124, 0x446b, {0x88, 0xe6, 0x17, 0x06, 0x02, 0x57, 0xff, 0xf9}};
// MF_DEVICESTREAM_FRAMESERVER_SHARED: 1 when several apps may share the stream.
inline const GUID FrameServerSharedKey = {
    0x1cb378e9, 0xb279, 0x41d4, {0xaf, 0x97, 0x34, 0xa2, 0x43, 0xe6, 0x83, 0x20}};
// MF_DEVICESTREAM_ATTRIBUTE_FRAMESOURCE_TYPES: what kind of frames (UINT32).
inline const GUID FrameSourceTypesKey = {
    0x17145fd1, 0x1b2b, 0x423c, {0x80, 0x01, 0x2b, 0x68, 0x33, 0xed, 0x35, 0x88}};
// Its value for colour frames (MFFrameSourceTypes_Color).
const UINT32 ColourFrames = 1;

} // namespace DeviceStream

#endif
