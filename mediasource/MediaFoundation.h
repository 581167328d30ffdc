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

// Interfaces of the Windows 10 headers that the mingw-w64 headers lack, as
// the platform declares them: what a frame server asks a camera source for.
namespace FrameServer {

// IMFMediaStream2's stream states.
enum StreamState : int { StreamStopped = 0, StreamPaused = 1, StreamRunning = 2 };

// IMFSampleAllocatorControl's answers: the source allocates from the
// allocator it was given, from its own, or not at all.
enum AllocatorUsage : int { UsesProvidedAllocator = 0, UsesCustomAllocator = 1, DoesNotAllocate = 2 };

// {FBB03414-D13B-4786-8319-5AC51FC0A136}
inline const IID MediaSource2Id = {
    0xfbb03414, 0xd13b, 0x4786, {0x83, 0x19, 0x5a, 0xc5, 0x1f, 0xc0, 0xa1, 0x36}};
struct IMFMediaSource2 : public IMFMediaSourceEx {
    virtual HRESULT STDMETHODCALLTYPE SetMediaType(DWORD streamId, IMFMediaType* type) = 0;
};

// {C5BC37D6-75C7-46A1-A132-81B5F723C20F}
inline const IID MediaStream2Id = {
    0xc5bc37d6, 0x75c7, 0x46a1, {0xa1, 0x32, 0x81, 0xb5, 0xf7, 0x23, 0xc2, 0x0f}};
struct IMFMediaStream2 : public IMFMediaStream {
    virtual HRESULT STDMETHODCALLTYPE SetStreamState(StreamState state) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStreamState(StreamState* state) = 0;
};

// {DA62B958-3A38-4A97-BD27-149C640C0771}
inline const IID SampleAllocatorControlId = {
    0xda62b958, 0x3a38, 0x4a97, {0xbd, 0x27, 0x14, 0x9c, 0x64, 0x0c, 0x07, 0x71}};
struct IMFSampleAllocatorControl : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetDefaultAllocator(DWORD outputStreamId, IUnknown* allocator) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllocatorUsage(DWORD outputStreamId, DWORD* inputStreamId,
                                                        AllocatorUsage* usage) = 0;
};

} // namespace FrameServer

#endif
