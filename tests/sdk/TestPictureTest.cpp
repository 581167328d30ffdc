// The simulated camera's picture: exact bar colours at power-on, the memory
// layout of RGB24 video, the moving part and the effect of settings.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "sdk/QuillonSDK.h"
#include "sdk/QuillonSim.h"

namespace {

int __stdcall IgnoreValue(int) { return 1; }

struct Bgr {
    int blue, green, red;
};

bool operator==(const Bgr& a, const Bgr& b) { return a.blue == b.blue && a.green == b.green && a.red == b.red; }

std::ostream& operator<<(std::ostream& out, const Bgr& p)
{
    return out << "(b " << p.blue << ", g " << p.green << ", r " << p.red << ")";
}

const Bgr Bars[7] = {
    {255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0}, {255, 0, 255}, {0, 0, 255}, {255, 0, 0},
};

class Frame {
public:
    explicit Frame(unsigned char resolution)
    {
        EXPECT_EQ(1, CameraInit(IgnoreValue, resolution, nullptr, nullptr));
        CameraGetImageSize(&width, &height);
        bytes.assign(size_t(width) * height * 3, 0);
    }
    void Pull() { ASSERT_EQ(1, CameraGetImageDataRGB24(bytes.data())); }

    // Picture coordinates: row 0 is the top of the picture.
    Bgr At(int x, int pictureRow) const
    {
        const unsigned char* p = bytes.data() + (size_t(height - 1 - pictureRow) * width + x) * 3;
        return Bgr{p[0], p[1], p[2]};
    }
    Bgr BarCentre(int bar) const { return At((2 * bar + 1) * width / 14, 0); }
    const unsigned char* MemoryRow(int row) const { return bytes.data() + size_t(row) * width * 3; }
    int BarRows() const { return height * 2 / 3; }

    int width = 0, height = 0;
    std::vector<unsigned char> bytes;
};

class TestPictureTest : public testing::Test {
protected:
    void SetUp() override { SimReset(); }
    void TearDown() override { SimReset(); }
};

TEST_F(TestPictureTest, BarsAreExactColoursInBottomUpBlueGreenRedRows)
{
    for (unsigned char resolution = 0; resolution < 4; ++resolution) {
        SCOPED_TRACE(int(resolution));
        Frame frame(resolution);
        frame.Pull();
        // Every column of the top picture row (the last row in memory).
        for (int x = 0; x < frame.width; ++x) {
            const int bar = x * 7 / frame.width;
            const int first = bar * frame.width / 7;
            const int expected = x >= (bar + 1) * frame.width / 7 ? bar + 1 : (x < first ? bar - 1 : bar);
            ASSERT_EQ(Bars[expected], frame.At(x, 0)) << "column " << x;
        }
        // Every bar row is the same; the first row below the bars is not.
        const size_t rowBytes = size_t(frame.width) * 3;
        const int lastBarMemoryRow = frame.height - frame.BarRows();
        for (int row = lastBarMemoryRow; row < frame.height; ++row)
            ASSERT_EQ(0, std::memcmp(frame.MemoryRow(row), frame.MemoryRow(frame.height - 1), rowBytes)) << row;
        EXPECT_NE(0, std::memcmp(frame.MemoryRow(lastBarMemoryRow - 1), frame.MemoryRow(frame.height - 1), rowBytes));
        // The first row in memory is the bottom of the picture: dark background.
        for (int x = 0; x < frame.width; ++x) ASSERT_EQ((Bgr{16, 16, 16}), frame.At(x, frame.height - 1)) << x;
        CameraUnInit();
    }
}

TEST_F(TestPictureTest, LowerPartMovesWithTheFramesWhileBarsStay)
{
    Frame frame(3);
    frame.Pull();
    const std::vector<unsigned char> first = frame.bytes;
    frame.Pull();
    EXPECT_EQ(first, frame.bytes);  // no new frame while not playing

    SimSetFrameRate(200);
    ASSERT_EQ(1, CameraPlay());
    Sleep(100);
    ASSERT_EQ(1, CameraStop());
    frame.Pull();
    const size_t lowerBytes = size_t(frame.width) * (frame.height - frame.BarRows()) * 3;
    EXPECT_NE(0, std::memcmp(first.data(), frame.bytes.data(), lowerBytes));
    EXPECT_EQ(0, std::memcmp(first.data() + lowerBytes, frame.bytes.data() + lowerBytes, first.size() - lowerBytes));

    // The square is white on the dark background just below the bars.
    const int squareRow = frame.BarRows() + (frame.height - frame.BarRows()) / 16 + 1;
    int white = 0;
    for (int x = 0; x < frame.width; ++x)
        if (frame.At(x, squareRow) == (Bgr{255, 255, 255})) ++white;
    EXPECT_EQ((frame.height - frame.BarRows()) * 3 / 8, white);
}

TEST_F(TestPictureTest, SettingsChangeThePictureRelativeToPowerOn)
{
    const Bgr white{255, 255, 255}, yellow{0, 255, 255};
    const struct {
        const char* name;
        std::function<void()> change;
        int bar;
        Bgr expected;
    } cases[] = {
        {"half the exposure halves the light", [] { CameraSetExposureTime(10); }, 0, {128, 128, 128}},
        {"half the analog gain", [] { CameraSetAnalogGain(20); }, 1, {0, 128, 128}},
        {"more light clips at full scale", [] { CameraSetAnalogGain(80); }, 0, white},
        {"red gain scales red", [] { CameraSetGain(50, 88, 88); }, 0, {255, 255, 128}},
        {"blue gain scales blue", [] { CameraSetGain(100, 88, 44); }, 0, {128, 255, 255}},
        {"no saturation is grey", [] { CameraSetSaturation(0); }, 1, {226, 226, 226}},
        {"gamma keeps full scale", [] { CameraSetGamma(150); }, 1, yellow},
        {"enhancement off washes colours out", [] { CameraSetColorEnhancement(0); }, 1, {56, 248, 248}},
        {"AE state and target alone change nothing", [] { CameraSetAeState(0); CameraSetAeTarget(40); }, 1, yellow},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SimReset();
        Frame frame(3);
        c.change();
        frame.Pull();
        EXPECT_EQ(c.expected, frame.BarCentre(c.bar));
    }

    // Contrast and gamma act on the dark background's mid-tones.
    SimReset();
    Frame frame(3);
    CameraSetContrast(64);
    frame.Pull();
    EXPECT_EQ((Bgr{0, 0, 0}), frame.At(0, frame.height - 1));
    CameraSetContrast(0);
    CameraSetGamma(128);
    frame.Pull();
    EXPECT_EQ((Bgr{64, 64, 64}), frame.At(0, frame.height - 1));
    // Back at power-on values, the bars are exact again.
    CameraSetGamma(64);
    frame.Pull();
    for (int bar = 0; bar < 7; ++bar) EXPECT_EQ(Bars[bar], frame.BarCentre(bar)) << bar;
}

TEST_F(TestPictureTest, FullSizeFrameTime)
{
    Frame frame(0);
    const int pulls = 20;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < pulls; ++i) frame.Pull();
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("3032x2016 frame: %.2f ms a pull (%d pulls)\n", ms / pulls, pulls);
    EXPECT_EQ(Bars[6], frame.BarCentre(6));
}

}  // namespace
