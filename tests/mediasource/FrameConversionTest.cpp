// The camera frame conversion: BT.601 values of known colours, top-down rows in
// blue-green-red order, strides, centring, odd sizes, refused arguments, and the
// SSE2 path byte for byte against the plain one. Expected pictures come from a
// pixel-by-pixel model of the documented behaviour, pinned by hand-worked values.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "mediasource/FrameConversion.h"
#include "sdk/QuillonSDK.h"
#include "sdk/QuillonSim.h"

namespace {

const unsigned char Untouched = 0xCD;
const ConversionPath BothPaths[] = {ConversionPath::Fastest, ConversionPath::Scalar};
const PixelFormat AllFormats[] = {PixelFormat::Nv12, PixelFormat::Rgb32, PixelFormat::Rgb24};

struct Bgr {
    int blue, green, red;
};

// A camera frame: rows bottom-up, `padding` bytes of noise after each row.
class CameraPicture {
  public:
    CameraPicture(int width, int height, int padding = 0)
        : m_Width(width), m_Height(height), m_Stride(width * 3 + padding),
          m_Bytes(static_cast<size_t>(m_Stride) * height, 0x77)
    {
    }
    // Picture coordinates: row 0 is the top.
    void Set(int x, int y, Bgr colour)
    {
        unsigned char* at = &m_Bytes[static_cast<size_t>(m_Height - 1 - y) * m_Stride + 3 * x];
        at[0] = static_cast<unsigned char>(colour.blue);
        at[1] = static_cast<unsigned char>(colour.green);
        at[2] = static_cast<unsigned char>(colour.red);
    }
    Bgr At(int x, int y) const
    {
        const unsigned char* at = &m_Bytes[static_cast<size_t>(m_Height - 1 - y) * m_Stride + 3 * x];
        return {at[0], at[1], at[2]};
    }
    template <class ColourAt> void Paint(ColourAt colourAt)
    {
        for (int y = 0; y < m_Height; ++y)
            for (int x = 0; x < m_Width; ++x)
                Set(x, y, colourAt(x, y));
    }
    CameraFrameView View() const { return {m_Bytes.data(), m_Bytes.size(), m_Width, m_Height, m_Stride}; }
    int Width() const { return m_Width; }
    int Height() const { return m_Height; }

  private:
    int m_Width, m_Height, m_Stride;
    std::vector<unsigned char> m_Bytes;
};

// Destination buffer with room to spare, filled with a marker to show what was written.
struct Converted {
    Converted(PixelFormat format, int width, int height, int extraStride = 0)
        : view{nullptr, 0, format, width, height, DefaultStride(format, width) + extraStride},
          bytes(FrameBufferBytes(format, width, height, view.stride) + 64, Untouched)
    {
        view.buffer = bytes.data();
        view.bufferBytes = bytes.size() - 64;
    }
    const unsigned char* Row(int y) const { return bytes.data() + static_cast<size_t>(y) * view.stride; }
    const unsigned char* ChromaRow(int y) const { return Row(view.height + y); }

    ConvertedFrameView view;
    std::vector<unsigned char> bytes;
};

int Luma(Bgr c)
{
    return ((66 * c.red + 129 * c.green + 25 * c.blue + 128) >> 8) + 16;
}
int BlueDifference(Bgr c)
{
    return ((-38 * c.red - 74 * c.green + 112 * c.blue + 128) >> 8) + 128;
}
int RedDifference(Bgr c)
{
    return ((112 * c.red - 94 * c.green - 18 * c.blue + 128) >> 8) + 128;
}

// What the destination picture shows at (x, y): the centred source, black around it.
Bgr ExpectedPixel(const CameraPicture& source, int width, int height, int x, int y)
{
    auto sourceCoordinate = [](int at, int sourceLength, int destinationLength) {
        return destinationLength <= sourceLength ? at + (sourceLength - destinationLength) / 2
                                                 : at - (destinationLength - sourceLength) / 2;
    };
    const int sx = sourceCoordinate(x, source.Width(), width);
    const int sy = sourceCoordinate(y, source.Height(), height);
    if (sx < 0 || sy < 0 || sx >= source.Width() || sy >= source.Height()) return {0, 0, 0};
    return source.At(sx, sy);
}

// The bytes a conversion should leave in `out`: the model's picture in the
// format's layout, with stride padding and the bytes after the frame unwritten.
std::vector<unsigned char> ModelBytes(const CameraPicture& source, const Converted& out)
{
    const int w = out.view.width, h = out.view.height, stride = out.view.stride;
    auto pixel = [&](int x, int y) {
        return ExpectedPixel(source, w, h, std::min(x, w - 1), std::min(y, h - 1));
    };
    std::vector<unsigned char> bytes(out.bytes.size(), Untouched);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Bgr p = pixel(x, y);
            unsigned char* row = &bytes[static_cast<size_t>(y) * stride];
            if (out.view.format == PixelFormat::Nv12) {
                row[x] = static_cast<unsigned char>(Luma(p));
                continue;
            }
            const int size = out.view.format == PixelFormat::Rgb32 ? 4 : 3;
            const unsigned char bgrx[4] = {static_cast<unsigned char>(p.blue),
                                           static_cast<unsigned char>(p.green),
                                           static_cast<unsigned char>(p.red), 255};
            memcpy(row + size * x, bgrx, size);
        }
    if (out.view.format != PixelFormat::Nv12) return bytes;
    for (int by = 0; by < (h + 1) / 2; ++by)
        for (int bx = 0; bx < (w + 1) / 2; ++bx) {
            const Bgr a = pixel(2 * bx, 2 * by), b = pixel(2 * bx + 1, 2 * by);
            const Bgr c = pixel(2 * bx, 2 * by + 1), d = pixel(2 * bx + 1, 2 * by + 1);
            const Bgr mean = {(a.blue + b.blue + c.blue + d.blue + 2) / 4,
                              (a.green + b.green + c.green + d.green + 2) / 4,
                              (a.red + b.red + c.red + d.red + 2) / 4};
            unsigned char* pair = &bytes[static_cast<size_t>(h + by) * stride + 2 * bx];
            pair[0] = static_cast<unsigned char>(BlueDifference(mean));
            pair[1] = static_cast<unsigned char>(RedDifference(mean));
        }
    return bytes;
}

int __stdcall IgnoreValue(int)
{
    return 1;
}

// A different, irregular colour at every pixel, so that a flip, a shift, swapped
// channels or a rounding slip shows.
Bgr Distinct(int x, int y)
{
    const unsigned hash = (unsigned(x) * 73856093u) ^ (unsigned(y) * 19349663u);
    return {int(hash & 255), int((hash >> 8) & 255), int((hash >> 16) & 255)};
}

TEST(FrameConversionTest, KnownColoursGiveTheirBt601Values)
{
    // Worked by hand from the integer formulas; exact BT.601 in brackets where it differs.
    const struct {
        const char* name;
        Bgr colour;
        int y, u, v;
    } colours[] = {
        {"white", {255, 255, 255}, 235, 128, 128},    {"black", {0, 0, 0}, 16, 128, 128},
        {"red", {0, 0, 255}, 82 /* 81.5 */, 90, 240}, {"green", {0, 255, 0}, 144 /* 144.6 */, 54, 34},
        {"blue", {255, 0, 0}, 41, 240, 110},          {"yellow", {0, 255, 255}, 210, 16, 146},
        {"cyan", {255, 255, 0}, 169, 166, 16},        {"magenta", {255, 0, 255}, 107, 202, 222},
        {"grey 128", {128, 128, 128}, 126, 128, 128}, {"camera background", {16, 16, 16}, 30, 128, 128},
    };
    for (const auto& c : colours) {
        for (ConversionPath path : BothPaths) {
            SCOPED_TRACE(testing::Message()
                         << c.name << (path == ConversionPath::Scalar ? " scalar" : " fast"));
            CameraPicture picture(38, 4); // 16-pixel steps and a tail
            picture.Paint([&](int, int) { return c.colour; });
            Converted out(PixelFormat::Nv12, 38, 4);
            ASSERT_TRUE(ConvertCameraFrame(picture.View(), out.view, path));
            std::vector<unsigned char> expected(38 * 4, static_cast<unsigned char>(c.y));
            for (int block = 0; block < 19 * 2; ++block)
                expected.insert(expected.end(),
                                {static_cast<unsigned char>(c.u), static_cast<unsigned char>(c.v)});
            EXPECT_EQ(expected, std::vector<unsigned char>(out.Row(0), out.Row(6)));
        }
    }
}

TEST(FrameConversionTest, RandomColoursStayWithinOneOfExactBt601)
{
    std::mt19937 random(601);
    const int blocks = 3000;
    CameraPicture picture(2 * blocks, 2);
    std::vector<Bgr> colours(blocks);
    for (Bgr& c : colours)
        c = {int(random() & 255), int(random() & 255), int(random() & 255)};
    picture.Paint([&](int x, int) { return colours[x / 2]; });
    Converted out(PixelFormat::Nv12, 2 * blocks, 2);
    ASSERT_TRUE(ConvertCameraFrame(picture.View(), out.view));
    for (int i = 0; i < blocks; ++i) {
        const double r = colours[i].red, g = colours[i].green, b = colours[i].blue;
        SCOPED_TRACE(testing::Message() << "RGB " << r << " " << g << " " << b);
        ASSERT_NEAR(16 + 219 * (0.299 * r + 0.587 * g + 0.114 * b) / 255, out.Row(0)[2 * i], 1.0);
        ASSERT_NEAR(128 + 224 * (-0.168736 * r - 0.331264 * g + 0.5 * b) / 255, out.ChromaRow(0)[2 * i], 1.0);
        ASSERT_NEAR(128 + 224 * (0.5 * r - 0.418688 * g - 0.081312 * b) / 255, out.ChromaRow(0)[2 * i + 1],
                    1.0);
    }
}

TEST(FrameConversionTest, EveryFormatIsTopDownAndCentred)
{
    const struct {
        const char* name;
        int sourceWidth, sourceHeight, sourcePadding;
        int width, height, extraStride;
    } cases[] = {
        {"one pixel", 1, 1, 0, 1, 1, 0},
        {"odd size", 5, 3, 0, 5, 3, 0},
        {"even size, wide strides", 4, 2, 4, 4, 2, 12},
        {"vector steps and odd tails", 37, 5, 0, 37, 5, 5},
        {"odd width, even height", 35, 6, 1, 35, 6, 0},
        {"crop the middle", 10, 8, 0, 4, 2, 0},
        {"crop by odd amounts", 9, 7, 2, 6, 4, 3},
        {"pad by even amounts", 4, 4, 0, 8, 8, 0},
        {"pad by odd amounts, blocks half black", 4, 4, 0, 7, 7, 0},
        {"pad around a one-pixel picture", 1, 1, 0, 6, 5, 0},
        {"wider but shorter", 10, 3, 0, 6, 7, 2},
        {"narrower but taller", 40, 20, 0, 57, 13, 0},
    };
    for (const auto& c : cases) {
        CameraPicture picture(c.sourceWidth, c.sourceHeight, c.sourcePadding);
        picture.Paint(Distinct);
        for (PixelFormat format : AllFormats)
            for (ConversionPath path : BothPaths) {
                SCOPED_TRACE(testing::Message()
                             << c.name << ", format " << int(format) << ", path " << int(path));
                Converted out(format, c.width, c.height, c.extraStride);
                ASSERT_TRUE(ConvertCameraFrame(picture.View(), out.view, path));
                ASSERT_EQ(ModelBytes(picture, out), out.bytes);
            }
    }
}

TEST(FrameConversionTest, FastPathGivesTheScalarPathsBytes)
{
#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
    ASSERT_TRUE(FastestPathIsVectorised());
#endif
    std::mt19937 random(2016);
    auto upTo = [&](int most) { return 1 + int(random() % unsigned(most)); };
    for (int round = 0; round < 300; ++round) {
        CameraPicture picture(upTo(80), upTo(9), int(random() % 5));
        picture.Paint([&](int, int) {
            return Bgr{int(random() & 255), int(random() & 255), int(random() & 255)};
        });
        const PixelFormat format = AllFormats[random() % 3];
        const int width = upTo(80), height = upTo(9), extraStride = int(random() % 9);
        SCOPED_TRACE(testing::Message()
                     << "round " << round << ": " << picture.Width() << "x" << picture.Height() << " to "
                     << width << "x" << height << " format " << int(format));
        Converted fast(format, width, height, extraStride), scalar(format, width, height, extraStride);
        ASSERT_TRUE(ConvertCameraFrame(picture.View(), fast.view, ConversionPath::Fastest));
        ASSERT_TRUE(ConvertCameraFrame(picture.View(), scalar.view, ConversionPath::Scalar));
        ASSERT_EQ(scalar.bytes, fast.bytes);
    }
}

TEST(FrameConversionTest, StridesAndBufferSizes)
{
    const struct {
        PixelFormat format;
        int width, height, defaultStride;
        size_t bytes;
    } cases[] = {
        {PixelFormat::Nv12, 3032, 2016, 3032, 9168768},
        {PixelFormat::Rgb32, 3032, 2016, 12128, 24450048},
        {PixelFormat::Rgb24, 3032, 2016, 9096, 18337536},
        {PixelFormat::Nv12, 800, 600, 800, 720000},
        {PixelFormat::Nv12, 5, 3, 6, 30},
        {PixelFormat::Rgb32, 5, 3, 20, 60},
        {PixelFormat::Rgb24, 5, 3, 16, 48},
        {PixelFormat::Nv12, 1, 1, 2, 4},
        {PixelFormat::Rgb24, 0, 3, 0, 0},
        {PixelFormat::Nv12, 4, 0, 4, 0},
        {PixelFormat::Rgb32, MaxConvertedDimension + 1, 1, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.format) << " " << c.width << "x" << c.height);
        EXPECT_EQ(c.defaultStride, DefaultStride(c.format, c.width));
        EXPECT_EQ(c.bytes, FrameBufferBytes(c.format, c.width, c.height));
    }
    EXPECT_EQ(45u, FrameBufferBytes(PixelFormat::Rgb24, 5, 3, 15)); // packed rows are allowed
    EXPECT_EQ(0u, FrameBufferBytes(PixelFormat::Rgb24, 5, 3, 14));
    EXPECT_EQ(0u, FrameBufferBytes(PixelFormat::Nv12, 5, 3, 5)); // the U,V row needs 6 bytes
    EXPECT_EQ(0u, FrameBufferBytes(PixelFormat::Rgb32, 4, 4, 15));
}

TEST(FrameConversionTest, RefusesUnusableArgumentsAndWritesNothing)
{
    CameraPicture picture(8, 4);
    const struct {
        const char* name;
        void (*spoil)(CameraFrameView&, ConvertedFrameView&);
    } cases[] = {
        {"no source", [](CameraFrameView& s, ConvertedFrameView&) { s.pixels = nullptr; }},
        {"no buffer", [](CameraFrameView&, ConvertedFrameView& d) { d.buffer = nullptr; }},
        {"source width 0", [](CameraFrameView& s, ConvertedFrameView&) { s.width = 0; }},
        {"source height -1", [](CameraFrameView& s, ConvertedFrameView&) { s.height = -1; }},
        {"source rows overlap", [](CameraFrameView& s, ConvertedFrameView&) { s.stride = 23; }},
        {"source one byte short", [](CameraFrameView& s, ConvertedFrameView&) { s.bytes -= 1; }},
        {"destination too large", [](CameraFrameView&, ConvertedFrameView& d) { d.height = 40000; }},
        {"destination stride too small", [](CameraFrameView&, ConvertedFrameView& d) { d.stride -= 1; }},
        {"buffer one byte short", [](CameraFrameView&, ConvertedFrameView& d) { d.bufferBytes -= 1; }},
        {"unknown format",
         [](CameraFrameView&, ConvertedFrameView& d) { d.format = static_cast<PixelFormat>(7); }},
    };
    for (const auto& c : cases)
        for (PixelFormat format : AllFormats) {
            SCOPED_TRACE(testing::Message() << c.name << ", format " << int(format));
            Converted out(format, 8, 4);
            CameraFrameView source = picture.View();
            ConvertedFrameView destination = out.view;
            c.spoil(source, destination);
            EXPECT_FALSE(ConvertCameraFrame(source, destination));
            EXPECT_EQ(std::vector<unsigned char>(out.bytes.size(), Untouched), out.bytes);
        }
}

TEST(FrameConversionTest, SimulatedCameraBarsKeepTheirColoursAtFullSize)
{
    SimReset();
    ASSERT_EQ(1, CameraInit(IgnoreValue, 0, nullptr, nullptr));
    int width = 0, height = 0;
    CameraGetImageSize(&width, &height);
    ASSERT_EQ(3032, width);
    std::vector<unsigned char> frame(size_t(width) * height * 3);
    ASSERT_EQ(1, CameraGetImageDataRGB24(frame.data()));
    CameraUnInit();
    SimReset();

    // Y, U, V of white, yellow, cyan, green, magenta, red, blue (see the known colours).
    const int bars[7][3] = {{235, 128, 128}, {210, 16, 146}, {169, 166, 16}, {144, 54, 34},
                            {107, 202, 222}, {82, 90, 240},  {41, 240, 110}};
    Converted out(PixelFormat::Nv12, width, height);
    ASSERT_TRUE(ConvertCameraFrame({frame.data(), frame.size(), width, height, width * 3}, out.view));
    for (int bar = 0; bar < 7; ++bar) {
        SCOPED_TRACE(bar);
        const int x = ((2 * bar + 1) * width / 14) & ~1;
        EXPECT_EQ(bars[bar][0], out.Row(0)[x]); // the top row in memory is the top of the picture
        EXPECT_EQ(bars[bar][1], out.ChromaRow(0)[x]);
        EXPECT_EQ(bars[bar][2], out.ChromaRow(0)[x + 1]);
    }
    EXPECT_EQ(30, out.Row(height - 1)[width / 2]); // the dark background along the bottom
}

} // namespace
