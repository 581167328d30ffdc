#include "sdk/TestPicture.h"

#include <cstring>

namespace {

struct SceneColour {
    int red, green, blue;
};

// Left to right: white, yellow, cyan, green, magenta, red, blue.
const SceneColour BarColours[TestPicture::BarCount] = {
    {255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0}, {255, 0, 255}, {255, 0, 0}, {0, 0, 255},
};
const SceneColour BackgroundColour = {16, 16, 16};
const SceneColour ForegroundColour = {255, 255, 255};

// 5 x 7 dot digits, one byte a row, the top bit of five is the left dot.
const unsigned char DigitFont[10][7] = {
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}, {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}, {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}, {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}, {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}, {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},
};

void FillRow(unsigned char* row, int width, BgrPixel colour)
{
    for (int x = 0; x < width; ++x) std::memcpy(row + x * 3, &colour, 3);
}

BgrPixel Process(const SimSettings& settings, const SceneColour& colour)
{
    return ProcessColour(settings, colour.red, colour.green, colour.blue);
}

}  // namespace

void TestPicture::Prepare(int width, const SimSettings& settings)
{
    if (m_Prepared && m_PreparedWidth == width && SameLook(m_PreparedSettings, settings)) return;
    m_BarRow.resize(size_t(width) * 3);
    for (int bar = 0; bar < BarCount; ++bar) {
        const int first = bar * width / BarCount;
        const int end = (bar + 1) * width / BarCount;
        FillRow(m_BarRow.data() + first * 3, end - first, Process(settings, BarColours[bar]));
    }
    m_BackgroundRow.resize(size_t(width) * 3);
    FillRow(m_BackgroundRow.data(), width, Process(settings, BackgroundColour));
    m_Foreground = Process(settings, ForegroundColour);
    m_Prepared = true;
    m_PreparedWidth = width;
    m_PreparedSettings = settings;
}

// Rectangles are given in picture coordinates (top row 0); rows are stored bottom-up.
void TestPicture::FillRect(unsigned char* buffer, int width, int height, int left, int top, int right,
                           int bottom, BgrPixel colour) const
{
    if (left < 0) left = 0;
    if (top < 0) top = 0;
    if (right > width) right = width;
    if (bottom > height) bottom = height;
    for (int y = top; y < bottom; ++y) {
        unsigned char* row = buffer + size_t(height - 1 - y) * width * 3;
        if (left < right) FillRow(row + left * 3, right - left, colour);
    }
}

void TestPicture::DrawNumber(unsigned char* buffer, int width, int height, int left, int top, int dot,
                             unsigned int number) const
{
    char digits[16];
    int count = 0;
    do {
        digits[count++] = char(number % 10);
        number /= 10;
    } while (number != 0);
    for (int i = 0; i < count; ++i) {
        const unsigned char* glyph = DigitFont[int(digits[count - 1 - i])];
        const int glyphLeft = left + i * 6 * dot;
        for (int row = 0; row < 7; ++row) {
            for (int column = 0; column < 5; ++column) {
                if (!(glyph[row] & (0x10 >> column))) continue;
                const int x = glyphLeft + column * dot;
                const int y = top + row * dot;
                FillRect(buffer, width, height, x, y, x + dot, y + dot, m_Foreground);
            }
        }
    }
}

void TestPicture::Render(unsigned char* buffer, int width, int height, const SimSettings& settings,
                         unsigned int frameNumber)
{
    if (!buffer || width <= 0 || height <= 0) return;
    ScopedLock hold(&m_Lock);
    Prepare(width, settings);

    const size_t rowBytes = size_t(width) * 3;
    const int barRows = height * 2 / 3;
    const int lowerRows = height - barRows;
    // Memory rows [0, lowerRows) hold the bottom of the picture, the bars follow.
    for (int row = 0; row < lowerRows; ++row) std::memcpy(buffer + row * rowBytes, m_BackgroundRow.data(), rowBytes);
    for (int row = lowerRows; row < height; ++row) std::memcpy(buffer + row * rowBytes, m_BarRow.data(), rowBytes);

    const int side = lowerRows * 3 / 8 > 0 ? lowerRows * 3 / 8 : 1;
    const int step = width / 100 > 0 ? width / 100 : 1;
    const int travel = width - side + 1 > 0 ? width - side + 1 : 1;
    const int squareLeft = int((unsigned long long)frameNumber * step % travel);
    const int squareTop = barRows + lowerRows / 16;
    FillRect(buffer, width, height, squareLeft, squareTop, squareLeft + side, squareTop + side, m_Foreground);

    const int dot = side / 7 > 0 ? side / 7 : 1;
    DrawNumber(buffer, width, height, 2 * dot, barRows + lowerRows / 2 + lowerRows / 16, dot, frameNumber);
}
