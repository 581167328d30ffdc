#include <gtest/gtest.h>

#include <vector>

#include "camera/PictureLayout.h"

namespace {

// A picture whose pixel at column x of picture row y (0 = top) holds the
// bytes x, y and 77; stored bottom-up with the layout's stride, padding 0xEE.
std::vector<unsigned char> NumberedPicture(const PictureLayout& layout)
{
    std::vector<unsigned char> pixels(layout.Bytes(), 0xEE);
    for (int y = 0; y < layout.height; ++y)
        for (int x = 0; x < layout.width; ++x) {
            unsigned char* at = &pixels[static_cast<size_t>(layout.height - 1 - y) * layout.stride + x * 3];
            at[0] = static_cast<unsigned char>(x);
            at[1] = static_cast<unsigned char>(y);
            at[2] = 77;
        }
    return pixels;
}

struct Pixel {
    int blue, green, red;
    bool operator==(const Pixel& other) const
    {
        return blue == other.blue && green == other.green && red == other.red;
    }
};

Pixel At(const std::vector<unsigned char>& pixels, const PictureLayout& layout, int x, int y)
{
    const unsigned char* at = &pixels[static_cast<size_t>(layout.height - 1 - y) * layout.stride + x * 3];
    return {at[0], at[1], at[2]};
}

const Pixel Black = {0, 0, 0};

TEST(PictureLayoutTest, LayoutsOfPackedAndVideoRows)
{
    EXPECT_EQ(15, PictureLayout::Packed(5, 2).stride);
    EXPECT_EQ(16, PictureLayout::Video(5, 2).stride);
    EXPECT_EQ(32u, PictureLayout::Video(5, 2).Bytes());
    EXPECT_EQ(9096u * 2016, PictureLayout::Video(3032, 2016).Bytes());
    EXPECT_TRUE(PictureLayout::Video(0, 2).IsEmpty());
    EXPECT_TRUE(PictureLayout::Video(4, -1).IsEmpty());
    EXPECT_EQ(0u, PictureLayout::Video(4, -1).Bytes());
}

// Every destination pixel is either the source pixel its centre-aligned
// position lands on, or black outside the source.
TEST(PictureLayoutTest, CopiesAreCentredWhateverTheSizes)
{
    struct Case {
        int sourceWidth, sourceHeight, width, height;
    };
    const Case cases[] = {
        {6, 4, 6, 4}, // same
        {7, 6, 3, 2}, // the middle of a larger source
        {4, 3, 9, 8}, // framed in black
        {8, 2, 4, 5}, // wider but lower
        {5, 5, 4, 4}, // an odd difference
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.sourceWidth << "x" << c.sourceHeight << " into " << c.width << "x" << c.height);
        const PictureLayout source = PictureLayout::Packed(c.sourceWidth, c.sourceHeight);
        const std::vector<unsigned char> sourcePixels = NumberedPicture(source);
        const PictureLayout layout = PictureLayout::Video(c.width, c.height);
        std::vector<unsigned char> pixels(layout.Bytes() + 8, 0xCD);
        CopyCentred(source, sourcePixels.data(), layout, pixels.data(), layout.Bytes());

        const int left = (c.sourceWidth - c.width) / 2;
        const int top = (c.sourceHeight - c.height) / 2;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const int sx = x + left, sy = y + top;
                const bool inside = sx >= 0 && sx < c.sourceWidth && sy >= 0 && sy < c.sourceHeight;
                const Pixel expected = inside ? Pixel{sx, sy, 77} : Black;
                ASSERT_EQ(expected, At(pixels, layout, x, y)) << "at " << x << ", " << y;
            }
        EXPECT_EQ(std::vector<unsigned char>(8, 0xCD),
                  std::vector<unsigned char>(pixels.end() - 8, pixels.end()));
    }
}

TEST(PictureLayoutTest, NothingIsWrittenBeyondTheLimit)
{
    const PictureLayout source = PictureLayout::Packed(6, 6);
    const std::vector<unsigned char> sourcePixels = NumberedPicture(source);
    for (const PictureLayout& layout : {PictureLayout::Video(6, 6), PictureLayout::Video(10, 9)}) {
        for (size_t limit : {size_t(0), size_t(1), size_t(25), layout.Bytes() - 1}) {
            SCOPED_TRACE(limit);
            std::vector<unsigned char> pixels(layout.Bytes(), 0xCD);
            CopyCentred(source, sourcePixels.data(), layout, pixels.data(), limit);
            for (size_t i = limit; i < pixels.size(); ++i)
                ASSERT_EQ(0xCD, pixels[i]) << "byte " << i;
            // What was written is what a whole copy writes there.
            std::vector<unsigned char> whole(layout.Bytes(), 0xCD);
            CopyCentred(source, sourcePixels.data(), layout, whole.data(), whole.size());
            EXPECT_TRUE(std::equal(pixels.begin(), pixels.begin() + limit, whole.begin()));
        }
    }
}

TEST(PictureLayoutTest, WithoutASourcePictureTheDestinationIsBlack)
{
    const PictureLayout layout = PictureLayout::Video(4, 3);
    std::vector<unsigned char> pixels(layout.Bytes(), 0xCD);
    CopyCentred(PictureLayout(), nullptr, layout, pixels.data(), pixels.size());
    EXPECT_EQ(std::vector<unsigned char>(pixels.size(), 0), pixels);
}

} // namespace
