// The capture tool's parts: its command line, its settings table, its AVI
// writer and its PNG snapshot, each checked against what a reader sees.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincodec.h>

#include <cstring>
#include <string>
#include <vector>

#include "framework/Raii.h"
#include "tests/support/FakeMediaSample.h"
#include "tools/capture/AviFileWriter.h"
#include "tools/capture/CameraSettings.h"
#include "tools/capture/CommandLine.h"
#include "tools/capture/FrameSink.h"
#include "tools/capture/PngSnapshot.h"
#include "tools/capture/VirtualCamera.h"

namespace {

std::wstring TempPath(const wchar_t* name) {
    wchar_t directory[MAX_PATH];
    GetTempPathW(MAX_PATH, directory);
    return std::wstring(directory) + name;
}

std::vector<unsigned char> ReadFile(const std::wstring& path) {
    std::vector<unsigned char> bytes;
    UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) return bytes;
    LARGE_INTEGER size;
    GetFileSizeEx(file.get(), &size);
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD read = 0;
    if (!bytes.empty()) ::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
    bytes.resize(read);
    return bytes;
}

uint32_t U32At(const std::vector<unsigned char>& bytes, size_t offset) {
    uint32_t value = 0;
    if (offset + 4 <= bytes.size()) memcpy(&value, &bytes[offset], 4);
    return value;
}

std::string TagAt(const std::vector<unsigned char>& bytes, size_t offset) {
    return offset + 4 <= bytes.size() ? std::string(reinterpret_cast<const char*>(&bytes[offset]), 4) : "";
}

// --- command line ---

struct ParseCase {
    std::vector<std::wstring> arguments;
    bool accepted;
};

TEST(CaptureToolCommandLine, AcceptsAndRefuses) {
    const ParseCase cases[] = {
        {{}, true},
        {{L"list"}, true},
        {{L"info", L"--device", L"Other Camera"}, true},
        {{L"set", L"gamma", L"100"}, true},
        {{L"set", L"--resolution", L"2"}, true},
        {{L"--resolution", L"3"}, true},
        {{L"stream", L"--seconds", L"2.5", L"--avi", L"a.avi", L"--snapshot", L"s.png"}, true},
        {{L"stream", L"--frames", L"20", L"--preview", L"null", L"--pages"}, true},
        {{L"stream", L"--fps", L"15"}, true},
        {{L"stream", L"--fps", L"20"}, false},              // not one of the camera's rates
        {{L"info", L"--fps", L"5"}, false},
        {{L"record"}, false},                               // no such command
        {{L"stream", L"--seconds"}, false},                 // missing value
        {{L"stream", L"--seconds", L"0"}, false},
        {{L"stream", L"--seconds", L"-1"}, false},
        {{L"stream", L"--seconds", L"nan"}, false},
        {{L"stream", L"--frames", L"12x"}, false},
        {{L"stream", L"--avi-frames", L"0"}, false},
        {{L"stream", L"--preview", L"big"}, false},
        {{L"stream", L"--bogus", L"1"}, false},
        {{L"info", L"--avi", L"a.avi"}, false},             // a stream option elsewhere
        {{L"set", L"gamma"}, false},
        {{L"set", L"--resolution", L"4"}, false},
        {{L"list", L"extra"}, false},
        {{L"vcam", L"add", L"--all-users"}, true},
        {{L"vcam", L"remove"}, true},
        {{L"vcam", L"status"}, true},
        {{L"vcam"}, false},
        {{L"vcam", L"start"}, false},
        // status concerns every user alike
        {{L"vcam", L"status", L"--all-users"}, false},
        {{L"vcam", L"add", L"--seconds", L"2"}, false},
    };
    for (const ParseCase& c : cases) {
        ToolOptions options;
        std::wstring error;
        const bool accepted = ParseCommandLine(c.arguments, options, error);
        std::wstring line;
        for (const std::wstring& word : c.arguments) line += word + L" ";
        EXPECT_EQ(c.accepted, accepted) << std::string(line.begin(), line.end());
        EXPECT_EQ(c.accepted, error.empty());
    }
}

TEST(CaptureToolCommandLine, StreamDefaults) {
    ToolOptions options;
    std::wstring error;
    ASSERT_TRUE(ParseCommandLine({L"stream"}, options, error));
    EXPECT_EQ(ToolCommand::Stream, options.command);
    EXPECT_EQ(DefaultStreamSeconds, options.seconds);
    EXPECT_EQ(10, options.aviFrames);
    EXPECT_EQ(L"Brisca Camera", options.deviceName);

    ASSERT_TRUE(ParseCommandLine({L"stream", L"--frames", L"7"}, options, error));
    EXPECT_EQ(0, options.seconds) << "a frame count alone is not cut short by a default time";
    EXPECT_EQ(7, options.frameLimit);

    ASSERT_TRUE(ParseCommandLine({L"--resolution", L"3"}, options, error));
    EXPECT_EQ(ToolCommand::Set, options.command);
    EXPECT_EQ(3, options.resolution);
}

TEST(CaptureToolCommandLine, VirtualCameraActions)
{
    ToolOptions options;
    std::wstring error;
    ASSERT_TRUE(ParseCommandLine({L"vcam", L"remove", L"--all-users"}, options, error));
    EXPECT_EQ(ToolCommand::VirtualCamera, options.command);
    EXPECT_EQ(VirtualCameraAction::Remove, options.virtualCamera);
    EXPECT_TRUE(options.allUsers);
    ASSERT_TRUE(ParseCommandLine({L"vcam", L"add"}, options, error));
    EXPECT_EQ(VirtualCameraAction::Add, options.virtualCamera);
    EXPECT_FALSE(options.allUsers);
}

// The platform lists a virtual camera under its name followed by its own words.
TEST(CaptureToolVirtualCamera, StatusKnowsTheCameraByItsListedNameOrItsSource)
{
    const struct {
        const wchar_t* name;
        const wchar_t* link;
        bool ours;
    } cases[] = {
        {L"Brisca Virtual Camera", L"", true},
        {L"Brisca Virtual Camera Windows Virtual Camera", L"", true},
        {L"brisca virtual camera (Windows Virtual Camera)", L"", true},
        {L"Camera", L"\\\\?\\SWD#VCAM#{beb49f67-f61d-4777-95b7-2549db3a73b8}", true},
        {L"Brisca Virtual Camera 2", L"", false},
        {L"Brisca Camera", L"\\\\?\\USB#VID_1234", false},
        {L"Other Windows Virtual Camera", L"", false},
    };
    for (const auto& device : cases)
        EXPECT_EQ(device.ours, IsBriscaVirtualCamera({device.name, device.link})) << device.name;
}

// --- settings table ---

TEST(CaptureToolSettings, ValuesInsideTheFieldWidthOnly) {
    const struct {
        const wchar_t* name;
        const wchar_t* value;
        bool accepted;
    } cases[] = {
        {L"gamma", L"255", true},      {L"gamma", L"256", false},        {L"gamma", L"-1", false},
        {L"analog-gain", L"65535", true}, {L"analog-gain", L"65536", false}, {L"resolution", L"3", true},
        {L"resolution", L"4", false},  {L"auto-exposure", L"2", false},  {L"contrast", L"", false},
        {L"contrast", L" 5", false},   {L"contrast", L"5 ", false},      {L"exposure-time", L"23100", true},
        {L"exposure-time", L"99999999999999999999", false},
    };
    for (const auto& c : cases) {
        const SettingField* field = FindSetting(c.name);
        ASSERT_NE(nullptr, field) << c.name;
        CameraConfig config;
        const CameraConfig before = config;
        std::wstring error;
        EXPECT_EQ(c.accepted, ApplySetting(*field, c.value, config, error)) << c.name << " " << c.value;
        const long expected = c.accepted ? wcstol(c.value, nullptr, 10) : field->read(before);
        EXPECT_EQ(expected, field->read(config)) << "a refused value changes nothing";
    }
    EXPECT_EQ(nullptr, FindSetting(L"brightness"));
    EXPECT_NE(nullptr, FindSetting(L"GAMMA"));
}

TEST(CaptureToolSettings, EachNameReachesItsOwnField) {
    // Writing a distinct value through every field must leave every other
    // field as it was.
    for (int i = 0; i < SettingFieldCount; ++i) {
        CameraConfig config;
        const CameraConfig before = config;
        const SettingField& field = SettingFields[i];
        const long value = field.read(before) == field.maximum ? field.minimum : field.read(before) + 1;
        field.write(config, value);
        EXPECT_EQ(value, field.read(config)) << field.name;
        for (int j = 0; j < SettingFieldCount; ++j)
            if (j != i) {
                EXPECT_EQ(SettingFields[j].read(before), SettingFields[j].read(config)) << field.name;
            }
    }
}

// --- AVI writer ---

std::vector<unsigned char> PatternFrame(int width, int height, unsigned char seed) {
    std::vector<unsigned char> frame(static_cast<size_t>(width) * 3 * height);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<unsigned char>(i * 7 + seed);
    return frame;
}

TEST(CaptureToolAvi, WritesHeadersFramesAndIndex) {
    const std::wstring path = TempPath(L"briscacap-writer.avi");
    const int width = 8, height = 6;
    const uint32_t frameBytes = width * 3 * height;
    {
        AviFileWriter writer;
        ASSERT_EQ(S_OK, writer.Open(path, width, height, frameBytes));
        for (unsigned char seed = 0; seed < 3; ++seed) {
            const std::vector<unsigned char> frame = PatternFrame(width, height, seed);
            ASSERT_EQ(S_OK, writer.WriteFrame(frame.data(), frame.size()));
        }
        const unsigned char shortFrame[5] = {1, 2, 3, 4, 5};
        ASSERT_EQ(S_OK, writer.WriteFrame(shortFrame, sizeof(shortFrame)));  // padded with black
        ASSERT_EQ(S_OK, writer.Close(25.0));
        EXPECT_EQ(4u, writer.FramesWritten());
    }
    const std::vector<unsigned char> file = ReadFile(path);
    ASSERT_GT(file.size(), 224u);
    EXPECT_EQ("RIFF", TagAt(file, 0));
    EXPECT_EQ(file.size() - 8, U32At(file, 4));
    EXPECT_EQ("AVI ", TagAt(file, 8));
    EXPECT_EQ("hdrl", TagAt(file, 20));
    EXPECT_EQ("avih", TagAt(file, 24));
    EXPECT_EQ(40000u, U32At(file, 32));  // microseconds a frame at 25 a second
    EXPECT_EQ(4u, U32At(file, 48));      // total frames
    EXPECT_EQ(static_cast<uint32_t>(width), U32At(file, 64));
    EXPECT_EQ(static_cast<uint32_t>(height), U32At(file, 68));
    EXPECT_EQ("vids", TagAt(file, 108));
    EXPECT_EQ(4u, U32At(file, 140));  // stream length
    EXPECT_EQ("strf", TagAt(file, 164));
    EXPECT_EQ(static_cast<uint32_t>(height), U32At(file, 180)) << "positive height: rows bottom-up";
    EXPECT_EQ(24u, U32At(file, 184) >> 16);
    EXPECT_EQ("movi", TagAt(file, 220));

    // Walk the frames through the index, as a player does.
    const size_t moviTag = 220;
    const size_t indexAt = moviTag + U32At(file, 216);
    ASSERT_EQ("idx1", TagAt(file, indexAt));
    ASSERT_EQ(4u * 16, U32At(file, indexAt + 4));
    for (unsigned i = 0; i < 4; ++i) {
        const size_t entry = indexAt + 8 + 16 * i;
        EXPECT_EQ("00db", TagAt(file, entry));
        EXPECT_EQ(0x10u, U32At(file, entry + 4)) << "key frame";
        const size_t chunk = moviTag + U32At(file, entry + 8);
        ASSERT_EQ("00db", TagAt(file, chunk));
        ASSERT_EQ(frameBytes, U32At(file, chunk + 4));
        ASSERT_EQ(frameBytes, U32At(file, entry + 12));
        std::vector<unsigned char> expected = i < 3 ? PatternFrame(width, height, static_cast<unsigned char>(i))
                                                    : std::vector<unsigned char>(frameBytes, 0);
        if (i == 3) memcpy(expected.data(), "\x01\x02\x03\x04\x05", 5);
        EXPECT_EQ(0, memcmp(expected.data(), &file[chunk + 8], frameBytes)) << "frame " << i;
    }
    DeleteFileW(path.c_str());
}

// The first byte of each frame of a file written by AviFileWriter, found
// through its index.
std::vector<unsigned char> FirstBytesOfFrames(const std::vector<unsigned char>& file)
{
    std::vector<unsigned char> firsts;
    const size_t moviTag = 220;
    const size_t indexAt = moviTag + U32At(file, 216);
    if (TagAt(file, indexAt) != "idx1") return firsts;
    for (size_t entry = indexAt + 8; entry + 16 <= indexAt + 8 + U32At(file, indexAt + 4); entry += 16)
        firsts.push_back(file[moviTag + U32At(file, entry + 8) + 8]);
    return firsts;
}

// Stamped frames are recorded at the fixed rate by their stamps: repeats
// within one interval are left out, a gap is filled with the next picture.
TEST(CaptureToolAvi, RecordsStampedFramesAtTheirFixedRate)
{
    const std::wstring path = TempPath(L"briscacap-rate.avi");
    const int width = 4, height = 2;
    const LONGLONG interval = 333333;
    const LONGLONG stamps[] = {5000, 5001, 5002, 338334, 1005000, 1338333, 1500000};
    AviFileWriter writer;
    ASSERT_EQ(S_OK, writer.Open(path, width, height, width * 3 * height));
    FrameSink* sink = new FrameSink();
    sink->SetLayout(width, height, false);
    sink->StartRecording(&writer, 5, interval);
    for (unsigned char i = 0; i < sizeof(stamps) / sizeof(stamps[0]); ++i) {
        FakeMediaSample sample(width * 3 * height);
        BYTE* data = nullptr;
        ASSERT_EQ(S_OK, sample.GetPointer(&data));
        memset(data, 10 + i, width * 3 * height);
        REFERENCE_TIME start = stamps[i], end = stamps[i] + interval;
        sample.SetTime(&start, &end);
        ASSERT_EQ(S_OK, sink->SampleCB(0, &sample));
    }
    sink->StopRecording();
    EXPECT_DOUBLE_EQ(1e7 / interval, sink->RecordedFramesPerSecond());
    EXPECT_TRUE(sink->RecordingComplete());
    ASSERT_EQ(S_OK, writer.Close(sink->RecordedFramesPerSecond()));
    sink->Release();
    // Slots 0 to 4: the first sample, the fourth, the fifth twice (slot 2 had
    // none), then the sixth; the limit of 5 leaves the seventh out.
    EXPECT_EQ((std::vector<unsigned char>{10, 13, 14, 14, 15}), FirstBytesOfFrames(ReadFile(path)));
    DeleteFileW(path.c_str());
}

TEST(CaptureToolAvi, RefusesBadInputAndUnwritablePlaces) {
    AviFileWriter writer;
    EXPECT_EQ(E_INVALIDARG, writer.Open(TempPath(L"briscacap-bad.avi"), 0, 10, 30));
    EXPECT_EQ(E_UNEXPECTED, writer.WriteFrame(nullptr, 0)) << "no file open";
    EXPECT_TRUE(FAILED(writer.Open(L"Z:\\no\\such\\folder\\x.avi", 8, 8, 192)));
    EXPECT_FALSE(writer.IsOpen());
}

TEST(CaptureToolAvi, StopsBeforeTheFileOutgrowsItsLimit) {
    const std::wstring path = TempPath(L"briscacap-limit.avi");
    // Headers take 224 bytes, each frame 108 and 16 more in the index: six
    // frames and the index fit in 1000 bytes, a seventh would not.
    AviFileWriter writer(1000);
    ASSERT_EQ(S_OK, writer.Open(path, 5, 5, 100));
    const std::vector<unsigned char> frame(100, 0x55);
    int written = 0;
    while (writer.HasRoomForFrame() && written < 10) {
        ASSERT_EQ(S_OK, writer.WriteFrame(frame.data(), frame.size()));
        ++written;
    }
    EXPECT_EQ(6, written);
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE), writer.WriteFrame(frame.data(), frame.size()));
    EXPECT_EQ(S_OK, writer.Close(30));
    EXPECT_EQ(6u, writer.FramesWritten());
    EXPECT_EQ(976u, writer.FileSize());
    EXPECT_EQ(976u, ReadFile(path).size());
    DeleteFileW(path.c_str());
}

// --- PNG snapshot ---

struct Rgb {
    unsigned char r, g, b;
};

// Decodes a PNG with the imaging component into top-down 24-bit BGR rows.
bool DecodePng(const std::wstring& path, UINT& width, UINT& height, std::vector<unsigned char>& pixels) {
    ComPtr<IWICImagingFactory> factory;
    if (FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                factory.putVoid())))
        return false;
    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(factory->CreateDecoderFromFilename(path.c_str(), nullptr, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                  decoder.put())))
        return false;
    ComPtr<IWICBitmapFrameDecode> frame;
    if (FAILED(decoder->GetFrame(0, frame.put()))) return false;
    WICPixelFormatGUID format;
    if (FAILED(frame->GetPixelFormat(&format)) || format != GUID_WICPixelFormat24bppBGR) return false;
    frame->GetSize(&width, &height);
    pixels.resize(static_cast<size_t>(width) * 3 * height);
    return SUCCEEDED(frame->CopyPixels(nullptr, width * 3, static_cast<UINT>(pixels.size()), pixels.data()));
}

TEST(CaptureToolSnapshot, SavesUprightWithTrueColours) {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    // 5 x 2 pixels (rows padded to 16 bytes), bottom-up: the first memory
    // row is the lower picture row.
    const Rgb upper[5] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {1, 2, 3}};
    const Rgb lower[5] = {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}, {130, 140, 150}};
    FrameImage image;
    image.width = 5;
    image.height = 2;
    image.pixels.assign(image.RowBytes() * 2, 0xEE);
    for (int x = 0; x < 5; ++x) {
        unsigned char* bottom = &image.pixels[x * 3];
        unsigned char* top = &image.pixels[image.RowBytes() + x * 3];
        bottom[0] = lower[x].b, bottom[1] = lower[x].g, bottom[2] = lower[x].r;
        top[0] = upper[x].b, top[1] = upper[x].g, top[2] = upper[x].r;
    }
    const std::wstring path = TempPath(L"briscacap-snapshot.png");
    ASSERT_EQ(S_OK, SavePng(path, image));

    UINT width = 0, height = 0;
    std::vector<unsigned char> pixels;
    ASSERT_TRUE(DecodePng(path, width, height, pixels));
    ASSERT_EQ(5u, width);
    ASSERT_EQ(2u, height);
    for (int x = 0; x < 5; ++x) {
        const unsigned char* top = &pixels[x * 3];
        const unsigned char* bottom = &pixels[15 + x * 3];
        EXPECT_EQ(upper[x].b, top[0]) << x;
        EXPECT_EQ(upper[x].g, top[1]) << x;
        EXPECT_EQ(upper[x].r, top[2]) << x;
        EXPECT_EQ(lower[x].b, bottom[0]) << x;
        EXPECT_EQ(lower[x].g, bottom[1]) << x;
        EXPECT_EQ(lower[x].r, bottom[2]) << x;
    }

    // A top-down frame keeps its row order.
    image.topDown = true;
    const std::vector<unsigned char> rows = TopDownRows(image);
    EXPECT_EQ(lower[0].b, rows[0]);
    EXPECT_EQ(upper[0].b, rows[15]);

    // A frame shorter than its size claims is drawn black, never read past its end.
    image.pixels.resize(10);
    const std::vector<unsigned char> blank = TopDownRows(image);
    EXPECT_EQ(std::vector<unsigned char>(30, 0), blank);

    EXPECT_TRUE(FAILED(SavePng(L"Z:\\no\\such\\folder\\x.png", image)));
    DeleteFileW(path.c_str());
    CoUninitialize();
}

}  // namespace
