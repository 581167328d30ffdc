// Where the pixels of a 24-bit RGB picture lie in memory, and the centred
// copy that fits a camera picture into a picture of another size.
#ifndef QUILLON_PICTURE_LAYOUT_H
#define QUILLON_PICTURE_LAYOUT_H

#include <cstddef>

// A 24-bit RGB picture as video carries it: blue, green, red a pixel, the
// bottom row of the picture first, each row `stride` bytes after the one below.
struct PictureLayout {
    int width = 0;
    int height = 0;
    int stride = 0;

    // Rows packed back to back, as the camera library writes them.
    static PictureLayout Packed(int width, int height);
    // Rows padded to whole 32-bit words, as a video type's bitmap header means them.
    static PictureLayout Video(int width, int height);

    bool IsEmpty() const { return width <= 0 || height <= 0 || stride < width * 3; }
    size_t Bytes() const { return IsEmpty() ? 0 : static_cast<size_t>(stride) * height; }
    bool SameSize(const PictureLayout& other) const { return width == other.width && height == other.height; }
};

// Copies `source` into `destination` with the centres of the two pictures on
// top of each other: the middle of a larger source is taken, a smaller one is
// framed in black. Writes nothing beyond `destinationBytes` bytes.
void CopyCentred(const PictureLayout& source, const unsigned char* sourcePixels,
                 const PictureLayout& destination, unsigned char* destinationPixels, size_t destinationBytes);

#endif
