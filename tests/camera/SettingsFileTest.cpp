#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "camera/CameraConfig.h"
#include "camera/SettingsFile.h"
#include "tests/support/IsolatedTempDirectory.h"

namespace {

// A record whose every field holds a value distinct from its default and,
// byte by byte, from the other fields, so a misplaced field shows.
CameraConfig DistinctRecord()
{
    CameraConfig record;
    record.m_Format.m_Resolution = 0x02;
    record.m_Format.m_FormatWords[0] = 0x13121110;
    record.m_Format.m_FormatWords[1] = 0x17161514;
    record.m_Format.m_FormatWords[2] = 0x1B1A1918;
    record.m_Format.m_FormatWords[3] = 0x1F1E1D1C;
    record.m_Format.m_FormatValue = 0x23222120;
    record.m_AeState = 0x27262524;
    record.m_Target = 0x28;
    record.m_AnalogGain = 0x2A29;
    record.m_ExposureTime = 0x2E2D2C2B;
    record.m_BlueGain = 0x3231302F;
    record.m_GreenGain = 0x36353433;
    record.m_RedGain = 0x3A393837;
    record.m_Contrast = 0x3B;
    record.m_Saturation = 0x3C;
    record.m_ColorEnhancement = 0x403F3E3D;
    record.m_Gamma = 0x41;
    return record;
}

// DistinctRecord as the 51 bytes of the file: each field little-endian at its offset.
const std::vector<unsigned char> DistinctFile = {
    0x02,                   // 0  resolution
    0x18, 0x19, 0x1A, 0x1B, // 1  format word 2
    0x1C, 0x1D, 0x1E, 0x1F, // 5  format word 3
    0x10, 0x11, 0x12, 0x13, // 9  format word 0
    0x14, 0x15, 0x16, 0x17, // 13 format word 1
    0x20, 0x21, 0x22, 0x23, // 17 format value
    0x24, 0x25, 0x26, 0x27, // 21 AE state
    0x28,                   // 25 AE target
    0x29, 0x2A,             // 26 analog gain
    0x2B, 0x2C, 0x2D, 0x2E, // 28 exposure time
    0x2F, 0x30, 0x31, 0x32, // 32 blue gain
    0x33, 0x34, 0x35, 0x36, // 36 green gain
    0x37, 0x38, 0x39, 0x3A, // 40 red gain
    0x3B,                   // 44 contrast
    0x3C,                   // 45 saturation
    0x3D, 0x3E, 0x3F, 0x40, // 46 colour enhancement
    0x41,                   // 50 gamma
};

void ExpectSameRecord(const CameraConfig& expected, const CameraConfig& actual)
{
    EXPECT_EQ(expected.m_Format.m_Resolution, actual.m_Format.m_Resolution);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(expected.m_Format.m_FormatWords[i], actual.m_Format.m_FormatWords[i]) << i;
    EXPECT_EQ(expected.m_Format.m_FormatValue, actual.m_Format.m_FormatValue);
    EXPECT_EQ(expected.m_AeState, actual.m_AeState);
    EXPECT_EQ(expected.m_Target, actual.m_Target);
    EXPECT_EQ(expected.m_AnalogGain, actual.m_AnalogGain);
    EXPECT_EQ(expected.m_ExposureTime, actual.m_ExposureTime);
    EXPECT_EQ(expected.m_BlueGain, actual.m_BlueGain);
    EXPECT_EQ(expected.m_GreenGain, actual.m_GreenGain);
    EXPECT_EQ(expected.m_RedGain, actual.m_RedGain);
    EXPECT_EQ(expected.m_Contrast, actual.m_Contrast);
    EXPECT_EQ(expected.m_Saturation, actual.m_Saturation);
    EXPECT_EQ(expected.m_ColorEnhancement, actual.m_ColorEnhancement);
    EXPECT_EQ(expected.m_Gamma, actual.m_Gamma);
}

class SettingsFileTest : public testing::Test {
  protected:
    std::string FilePath() const { return m_Temp.Path() + "Brisca Camera.config"; }

    IsolatedTempDirectory m_Temp;
};

TEST_F(SettingsFileTest, PathIsTheTemporaryDirectoryPlusTheFileName)
{
    EXPECT_EQ(FilePath(), SettingsFilePath());
}

TEST_F(SettingsFileTest, DefaultsAreTheRecordsPowerOnValues)
{
    const CameraConfig record;
    EXPECT_EQ(0, record.m_Format.m_Resolution);
    EXPECT_EQ(0u, record.m_Format.m_FormatValue);
    for (unsigned int word : record.m_Format.m_FormatWords)
        EXPECT_EQ(0u, word);
    EXPECT_EQ(100u, record.m_RedGain);
    EXPECT_EQ(88u, record.m_GreenGain);
    EXPECT_EQ(88u, record.m_BlueGain);
    EXPECT_EQ(64, record.m_Gamma);
    EXPECT_EQ(0, record.m_Contrast);
    EXPECT_EQ(1, record.m_ColorEnhancement);
    EXPECT_EQ(128, record.m_Saturation);
    EXPECT_EQ(1, record.m_AeState);
    EXPECT_EQ(100, record.m_Target);
    EXPECT_EQ(20u, record.m_ExposureTime);
    EXPECT_EQ(40, record.m_AnalogGain);
}

TEST_F(SettingsFileTest, WritesFiftyOneBytesInFieldOrder)
{
    ASSERT_EQ(1, WriteSettingsFile(DistinctRecord()));
    const std::vector<unsigned char> bytes = ReadWholeFile(FilePath());
    ASSERT_EQ(51u, bytes.size());
    for (size_t offset = 0; offset < bytes.size(); ++offset)
        EXPECT_EQ(DistinctFile[offset], bytes[offset]) << "offset " << offset;
}

TEST_F(SettingsFileTest, ReadRestoresEveryField)
{
    ASSERT_TRUE(WriteWholeFile(FilePath(), DistinctFile));
    CameraConfig record;
    EXPECT_EQ(1, ReadSettingsFile(record));
    ExpectSameRecord(DistinctRecord(), record);
}

TEST_F(SettingsFileTest, MissingFileLeavesTheRecordUntouched)
{
    CameraConfig record = DistinctRecord();
    EXPECT_EQ(0, ReadSettingsFile(record));
    ExpectSameRecord(DistinctRecord(), record);
}

TEST_F(SettingsFileTest, ShortFileFillsOnlyWhatItCovers)
{
    struct Case {
        size_t length;
        void (*expect)(const CameraConfig& defaults, const CameraConfig& read);
    };
    const Case cases[] = {
        {0, [](const CameraConfig& d, const CameraConfig& r) { ExpectSameRecord(d, r); }},
        {1,
         [](const CameraConfig& d, const CameraConfig& r) {
             CameraConfig expected = d;
             expected.m_Format.m_Resolution = 0x02;
             ExpectSameRecord(expected, r);
         }},
        // Two bytes of format word 2: its low bytes change, its high bytes stay.
        {3,
         [](const CameraConfig& d, const CameraConfig& r) {
             CameraConfig expected = d;
             expected.m_Format.m_Resolution = 0x02;
             expected.m_Format.m_FormatWords[2] = 0xABCD1918;
             ExpectSameRecord(expected, r);
         }},
        // Through the AE target; the analog gain and everything after stay.
        {26,
         [](const CameraConfig& d, const CameraConfig& r) {
             CameraConfig expected = DistinctRecord();
             expected.m_AnalogGain = d.m_AnalogGain;
             expected.m_ExposureTime = d.m_ExposureTime;
             expected.m_BlueGain = d.m_BlueGain;
             expected.m_GreenGain = d.m_GreenGain;
             expected.m_RedGain = d.m_RedGain;
             expected.m_Contrast = d.m_Contrast;
             expected.m_Saturation = d.m_Saturation;
             expected.m_ColorEnhancement = d.m_ColorEnhancement;
             expected.m_Gamma = d.m_Gamma;
             ExpectSameRecord(expected, r);
         }},
        {50,
         [](const CameraConfig& d, const CameraConfig& r) {
             CameraConfig expected = DistinctRecord();
             expected.m_Gamma = d.m_Gamma;
             ExpectSameRecord(expected, r);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " bytes");
        const std::vector<unsigned char> prefix(DistinctFile.begin(), DistinctFile.begin() + c.length);
        ASSERT_TRUE(WriteWholeFile(FilePath(), prefix));
        CameraConfig defaults;
        defaults.m_Format.m_FormatWords[2] = 0xABCDEF01;
        CameraConfig record = defaults;
        EXPECT_EQ(1, ReadSettingsFile(record));
        c.expect(defaults, record);
    }
}

TEST_F(SettingsFileTest, WriteReplacesALongerFileAndLeavesNoOtherFile)
{
    ASSERT_TRUE(WriteWholeFile(FilePath(), std::vector<unsigned char>(300, 0xEE)));
    ASSERT_EQ(1, WriteSettingsFile(DistinctRecord()));
    EXPECT_EQ(DistinctFile, ReadWholeFile(FilePath()));
    EXPECT_EQ(std::vector<std::string>{"Brisca Camera.config"}, m_Temp.FileNames());
}

TEST_F(SettingsFileTest, WriteIntoAMissingDirectoryFailsQuietly)
{
    const std::string missing = m_Temp.Path() + "gone\\";
    SetEnvironmentVariableA("TMP", missing.c_str());
    SetEnvironmentVariableA("TEMP", missing.c_str());
    EXPECT_EQ(0, WriteSettingsFile(DistinctRecord()));
    CameraConfig record;
    EXPECT_EQ(0, ReadSettingsFile(record));
    ExpectSameRecord(CameraConfig(), record);
    EXPECT_TRUE(m_Temp.FileNames().empty());
}

bool SameRecord(const CameraConfig& a, const CameraConfig& b)
{
    return a.m_Format.m_Resolution == b.m_Format.m_Resolution &&
           a.m_Format.m_FormatValue == b.m_Format.m_FormatValue &&
           memcmp(a.m_Format.m_FormatWords, b.m_Format.m_FormatWords, sizeof(a.m_Format.m_FormatWords)) ==
               0 &&
           a.m_AeState == b.m_AeState && a.m_Target == b.m_Target && a.m_AnalogGain == b.m_AnalogGain &&
           a.m_ExposureTime == b.m_ExposureTime && a.m_BlueGain == b.m_BlueGain &&
           a.m_GreenGain == b.m_GreenGain && a.m_RedGain == b.m_RedGain && a.m_Contrast == b.m_Contrast &&
           a.m_Saturation == b.m_Saturation && a.m_ColorEnhancement == b.m_ColorEnhancement &&
           a.m_Gamma == b.m_Gamma;
}

// A reader running beside a writer reads one whole record or the other,
// never an empty or half-written file, and no write is lost.
TEST_F(SettingsFileTest, ReadersNeverSeeAHalfWrittenFile)
{
    const CameraConfig first = DistinctRecord();
    CameraConfig second;
    second.m_Format.m_Resolution = 3;
    ASSERT_EQ(1, WriteSettingsFile(first));

    std::atomic<bool> writing(true);
    std::atomic<int> failedWrites(0);
    std::thread writer([&] {
        for (int i = 0; i < 300; ++i) {
            if (WriteSettingsFile(i % 2 ? first : second) != 1) ++failedWrites;
        }
        writing = false;
    });
    int reads = 0, torn = 0;
    while (writing) {
        CameraConfig record;
        record.m_Format.m_Resolution = 9; // in neither record
        const int opened = ReadSettingsFile(record);
        ++reads;
        if (opened != 1 || (!SameRecord(record, first) && !SameRecord(record, second))) {
            if (torn == 0)
                ADD_FAILURE() << "read " << opened << ", resolution " << int(record.m_Format.m_Resolution);
            ++torn;
        }
    }
    writer.join();
    EXPECT_EQ(0, torn) << "of " << reads << " reads";
    EXPECT_EQ(0, failedWrites.load());
    EXPECT_EQ(std::vector<std::string>{"Brisca Camera.config"}, m_Temp.FileNames());
}

} // namespace
