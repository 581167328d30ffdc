// Saving one video frame as a PNG picture through the imaging component.
#ifndef BRISCACAP_PNG_SNAPSHOT_H
#define BRISCACAP_PNG_SNAPSHOT_H

#include <windows.h>

#include <string>
#include <vector>

// A 24-bit blue-green-red frame as a renderer receives it: rows padded to
// four bytes, bottom row first unless topDown.
struct FrameImage {
    int width = 0;
    int height = 0;
    bool topDown = false;
    std::vector<unsigned char> pixels;

    size_t RowBytes() const { return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3); }
};

// Rows in picture order (top row first), each width * 3 bytes.
std::vector<unsigned char> TopDownRows(const FrameImage& frame);

HRESULT SavePng(const std::wstring& path, const FrameImage& frame);

#endif
