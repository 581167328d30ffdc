// Draws the simulated camera's test picture into an RGB24 frame buffer.
#ifndef QUILLON_TEST_PICTURE_H
#define QUILLON_TEST_PICTURE_H

#include <vector>

#include "framework/Sync.h"
#include "sdk/ColourProcessing.h"
#include "sdk/SimSettings.h"

// Colour bars over the upper two thirds, a moving square and the frame number
// below them; QuillonSim.h describes the layout. The bar rows and the plain
// background rows are kept for the last width and settings, so a frame costs
// little more than copying them.
class TestPicture {
public:
    static const int BarCount = 7;

    // Writes width * height * 3 bytes, bottom row first, blue-green-red.
    void Render(unsigned char* buffer, int width, int height, const SimSettings& settings,
                unsigned int frameNumber);

private:
    void Prepare(int width, const SimSettings& settings);
    void FillRect(unsigned char* buffer, int width, int height, int left, int top, int right, int bottom,
                  BgrPixel colour) const;
    void DrawNumber(unsigned char* buffer, int width, int height, int left, int top, int dot,
                    unsigned int number) const;

    CriticalLock m_Lock;  // one render at a time: the cached rows are shared
    bool m_Prepared = false;
    int m_PreparedWidth = 0;
    SimSettings m_PreparedSettings;
    std::vector<unsigned char> m_BarRow;
    std::vector<unsigned char> m_BackgroundRow;
    BgrPixel m_Foreground = {};
};

#endif
