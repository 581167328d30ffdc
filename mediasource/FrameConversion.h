// Converts one camera frame into the formats the media source offers.
//
// The camera library delivers 24-bit RGB in the video (DIB) layout: the first
// row in memory is the BOTTOM row of the picture, each pixel blue, green, red.
// Every output is top-down (the first row in memory is the TOP row) with a
// positive stride:
//   Nv12   the Y plane (stride bytes a row, height rows), then at
//          stride * height the interleaved U,V plane at half resolution in
//          each direction ((height + 1) / 2 rows of (width + 1) / 2 pairs).
//          BT.601 limited range with the usual integer approximation:
//            Y = ((66 R + 129 G + 25 B + 128) >> 8) + 16
//            U = ((-38 R - 74 G + 112 B + 128) >> 8) + 128
//            V = ((112 R - 94 G - 18 B + 128) >> 8) + 128
//          U and V come from the rounded average of each channel over a 2 x 2
//          block ((sum + 2) >> 2). A block cut by the right or bottom edge of
//          an odd-sized picture averages the pixels it has.
//   Rgb32  blue, green, red, X with X = 255: opaque for the renderers that
//          read the fourth byte as alpha, and ignored by the others.
//   Rgb24  blue, green, red.
//
// When the destination size differs from the source, each direction is
// centred on its own: a larger source gives up its middle, a smaller one is
// placed in the middle of a black frame (NV12 black is Y 16, U and V 128).
// Bytes of a row beyond the picture (stride padding) are left as they are.
//
// Nothing here depends on Media Foundation; the media source maps its subtype
// GUIDs to PixelFormat.
#ifndef QUILLON_FRAME_CONVERSION_H
#define QUILLON_FRAME_CONVERSION_H

#include <cstddef>

enum class PixelFormat { Nv12, Rgb32, Rgb24 };

// A camera frame: bottom-up BGR24 rows.
struct CameraFrameView {
    const unsigned char* pixels = nullptr;
    size_t bytes = 0; // the frame's size; it must hold (height - 1) * stride + width * 3
    int width = 0;
    int height = 0;
    int stride = 0; // bytes from one row in memory to the next, at least width * 3 (packed rows)
};

// The buffer a frame is converted into.
struct ConvertedFrameView {
    unsigned char* buffer = nullptr;
    size_t bufferBytes = 0; // the buffer's capacity; a conversion never writes beyond it
    PixelFormat format = PixelFormat::Nv12;
    int width = 0;
    int height = 0;
    int stride = 0; // bytes from one row to the next (NV12: of both planes), at least MinimumStride
};

// Sizes up to this in each direction are converted; larger ones are refused.
const int MaxConvertedDimension = 32768;

// The stride a format uses when nothing else is asked: width (rounded up to
// even for NV12, so that the U,V row of an odd width fits), width * 4, and
// width * 3 rounded up to a multiple of 4. 0 for a width outside
// 1..MaxConvertedDimension.
int DefaultStride(PixelFormat format, int width);

// The smallest stride a destination row may have: as DefaultStride, except
// that RGB24 rows may be packed (width * 3). 0 for a width out of range.
int MinimumStride(PixelFormat format, int width);

// Bytes a frame of that format, size and stride needs: stride * height, and
// for NV12 stride * (height + (height + 1) / 2). 0 when a size is out of
// range, the stride is below MinimumStride or the result does not fit size_t.
size_t FrameBufferBytes(PixelFormat format, int width, int height, int stride);
inline size_t FrameBufferBytes(PixelFormat format, int width, int height)
{
    return FrameBufferBytes(format, width, height, DefaultStride(format, width));
}

// Fastest uses SSE2 where the processor has it; Scalar is the plain C++ path,
// kept for processors without it and to check the fast one. Both give
// identical bytes.
enum class ConversionPath { Fastest, Scalar };

// True when ConversionPath::Fastest runs vectorised code on this processor.
bool FastestPathIsVectorised();

// Converts one frame. Returns false, and writes nothing, when a pointer is
// null, a size is outside 1..MaxConvertedDimension, a stride is too small, the
// source's bytes do not hold its rows or the destination buffer is smaller
// than FrameBufferBytes. Source and destination must not overlap.
[[nodiscard]] bool ConvertCameraFrame(const CameraFrameView& source, const ConvertedFrameView& destination,
                                      ConversionPath path = ConversionPath::Fastest);

#endif
