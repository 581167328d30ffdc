// The video stream's formats: each of the camera's resolutions in NV12,
// RGB32 and RGB24, top-down with a positive stride, at the camera's 30 frames
// a second; the media types that describe them and the stream descriptor
// that lists them.
#ifndef QUILLON_STREAM_FORMATS_H
#define QUILLON_STREAM_FORMATS_H

#include "mediasource/FrameConversion.h"
#include "mediasource/MediaFoundation.h"

struct StreamFormat {
    int resolution = 0; // an index into CameraResolutions
    PixelFormat pixels = PixelFormat::Nv12;

    int Width() const;
    int Height() const;
    int Stride() const { return DefaultStride(pixels, Width()); }
    size_t FrameBytes() const { return FrameBufferBytes(pixels, Width(), Height()); }
    bool operator==(const StreamFormat& other) const
    {
        return resolution == other.resolution && pixels == other.pixels;
    }
    bool operator!=(const StreamFormat& other) const { return !(*this == other); }
};

// The formats in the order the stream lists them: resolution by resolution,
// each in NV12, RGB32 and RGB24; the resolution of the stream's first current
// type first, the others largest first. A reader that takes the first listed
// type for the current one (Wine's does) then agrees with the source.
const int PixelFormatCount = 3;
StreamFormat StreamFormatAt(int index, int firstResolution = 0);
int StreamFormatCount();

const GUID& SubtypeOf(PixelFormat pixels);

HRESULT CreateStreamMediaType(const StreamFormat& format, IMFMediaType** out);
// Which of the stream's formats a media type asks for: a video type of one of
// the three subtypes at one of the camera's sizes. A frame rate, stride or
// sample size it states must be the format's own.
bool FindStreamFormat(IMFMediaType* type, StreamFormat* found);

// The descriptor of the camera's one video stream (identifier 0): every
// format, listed from `current`'s resolution on, `current` as its current type, and the attributes that mark
// it as a colour video capture stream a frame server may share.
HRESULT CreateCameraStreamDescriptor(const StreamFormat& current, IMFStreamDescriptor** out);

#endif
