#include "camera/PictureLayout.h"

#include <cstring>

namespace {

const int BytesPerPixel = 3;

// How far the destination's first row (or column) lies into the source:
// positive when the source is larger, negative when it is framed.
int CentreOffset(int sourceLength, int destinationLength)
{
    if (sourceLength >= destinationLength) return (sourceLength - destinationLength) / 2;
    return -((destinationLength - sourceLength) / 2);
}

// Writes `length` bytes at `offset` of a destination of `limit` bytes, from
// `bytes` or, without them, as zeros; whatever lies past the limit is left out.
void WriteClipped(unsigned char* destination, size_t limit, size_t offset, const unsigned char* bytes,
                  size_t length)
{
    if (offset >= limit || length == 0) return;
    if (length > limit - offset) length = limit - offset;
    if (bytes)
        memcpy(destination + offset, bytes, length);
    else
        memset(destination + offset, 0, length);
}

} // namespace

PictureLayout PictureLayout::Packed(int width, int height)
{
    PictureLayout layout;
    layout.width = width;
    layout.height = height;
    layout.stride = width * BytesPerPixel;
    return layout;
}

PictureLayout PictureLayout::Video(int width, int height)
{
    PictureLayout layout = Packed(width, height);
    layout.stride = (layout.stride + 3) & ~3;
    return layout;
}

void CopyCentred(const PictureLayout& source, const unsigned char* sourcePixels,
                 const PictureLayout& destination, unsigned char* destinationPixels, size_t destinationBytes)
{
    if (!destinationPixels || destination.IsEmpty()) return;
    const size_t limit = destinationBytes < destination.Bytes() ? destinationBytes : destination.Bytes();
    if (!sourcePixels || source.IsEmpty()) {
        memset(destinationPixels, 0, limit);
        return;
    }
    if (source.SameSize(destination) && source.stride == destination.stride) {
        memcpy(destinationPixels, sourcePixels, limit);
        return;
    }

    // Offsets in picture terms, top row and left column first.
    const int top = CentreOffset(source.height, destination.height);
    const int left = CentreOffset(source.width, destination.width);
    // The destination columns that show source pixels.
    const int firstColumn = left < 0 ? -left : 0;
    int lastColumn = source.width - left; // one past
    if (lastColumn > destination.width) lastColumn = destination.width;
    const size_t rowBytes = static_cast<size_t>(destination.stride);

    for (int row = 0; row < destination.height; ++row) {
        const size_t rowOffset = static_cast<size_t>(row) * rowBytes;
        if (rowOffset >= limit) break;
        // Memory rows run from the bottom of the picture up.
        const int pictureRow = destination.height - 1 - row;
        const int sourcePictureRow = pictureRow + top;
        if (sourcePictureRow < 0 || sourcePictureRow >= source.height || firstColumn >= lastColumn) {
            WriteClipped(destinationPixels, limit, rowOffset, nullptr, rowBytes);
            continue;
        }
        const unsigned char* sourceRow =
            sourcePixels + static_cast<size_t>(source.height - 1 - sourcePictureRow) * source.stride;
        const size_t before = static_cast<size_t>(firstColumn) * BytesPerPixel;
        const size_t shown = static_cast<size_t>(lastColumn - firstColumn) * BytesPerPixel;
        WriteClipped(destinationPixels, limit, rowOffset, nullptr, before);
        WriteClipped(destinationPixels, limit, rowOffset + before,
                     sourceRow + static_cast<size_t>(firstColumn + left) * BytesPerPixel, shown);
        WriteClipped(destinationPixels, limit, rowOffset + before + shown, nullptr,
                     rowBytes - before - shown);
    }
}
