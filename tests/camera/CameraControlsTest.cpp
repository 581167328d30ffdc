// The camera's standard controls on the filter, as capture programs use them:
// ranges, reading and setting through to the camera and the settings file,
// refusals, the exposure's units, frame rates, and two hosts at once.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "camera/CameraControls.h"
#include "camera/CameraFilter.h"
#include "camera/CapturePin.h"
#include "camera/SettingsFile.h"
#include "sdk/QuillonSim.h"
#include "tests/support/GraphFixture.h"
#include "tests/support/IsolatedTempDirectory.h"
#include "tests/support/ProcessCounters.h"
#include "tests/support/SimCallLog.h"
#include "tests/support/SimPicture.h"

namespace {

const LONG Auto = VideoProcAmp_Flags_Auto;
const LONG Manual = VideoProcAmp_Flags_Manual;

class CameraControlsTest : public testing::Test {
  protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        SimReset();
        HRESULT result = E_FAIL;
        ObjectBase* object = CameraFilter::Create(nullptr, &result);
        ASSERT_NE(nullptr, object);
        ASSERT_EQ(S_OK, object->InnerQueryInterface(IID_IBaseFilter, m_Filter.putVoid()));
        m_Object = static_cast<CameraFilter*>(object);
        ASSERT_EQ(S_OK, m_Filter.queryInto(IID_IAMVideoProcAmp, m_ProcAmp));
        ASSERT_EQ(S_OK, m_Filter.queryInto(IID_IAMCameraControl, m_CameraControl));
        ASSERT_EQ(S_OK, m_Filter.queryInto(IID_IAMVideoControl, m_VideoControl));
    }
    void TearDown() override
    {
        m_Graph.Release();
        m_ProcAmp.reset();
        m_CameraControl.reset();
        m_VideoControl.reset();
        m_Filter.reset();
        SimReset();
        CoUninitialize();
    }

    std::vector<unsigned char> SettingsFile()
    {
        return ReadWholeFile(m_Temp.Path() + "Brisca Camera.config");
    }

    IsolatedTempDirectory m_Temp;
    ComPtr<IBaseFilter> m_Filter;
    CameraFilter* m_Object = nullptr;
    ComPtr<IAMVideoProcAmp> m_ProcAmp;
    ComPtr<IAMCameraControl> m_CameraControl;
    ComPtr<IAMVideoControl> m_VideoControl;
    GraphFixture m_Graph;
};

struct RangeCase {
    LONG property;
    LONG minimum, maximum, byDefault, caps;
};

TEST_F(CameraControlsTest, EveryPropertyHasThePagesRangeAndTheRecordsDefault)
{
    const RangeCase procAmp[] = {
        {VideoProcAmp_Brightness, 40, 200, 100, Manual}, {VideoProcAmp_Contrast, 0, 255, 0, Manual},
        {VideoProcAmp_Saturation, 0, 255, 128, Manual},  {VideoProcAmp_Gamma, 20, 150, 64, Manual},
        {VideoProcAmp_ColorEnable, 0, 1, 1, Manual},     {VideoProcAmp_Gain, 1, 80, 40, Auto | Manual},
    };
    LONG minimum, maximum, step, byDefault, caps, value, flags;
    for (const RangeCase& c : procAmp) {
        SCOPED_TRACE(c.property);
        ASSERT_EQ(S_OK, m_ProcAmp->GetRange(c.property, &minimum, &maximum, &step, &byDefault, &caps));
        EXPECT_EQ(c.minimum, minimum);
        EXPECT_EQ(c.maximum, maximum);
        EXPECT_EQ(1, step);
        EXPECT_EQ(c.byDefault, byDefault);
        EXPECT_EQ(c.caps, caps);
        // At power-on the camera holds the defaults, auto exposure on.
        ASSERT_EQ(S_OK, m_ProcAmp->Get(c.property, &value, &flags));
        EXPECT_EQ(c.byDefault, value);
        EXPECT_EQ(c.caps == Manual ? Manual : Auto, flags);
    }
    // 40 us rows: 1 to 23100 rows are 2^-14.6 to 2^-0.1 s; 20 rows are 2^-10.3 s.
    ASSERT_EQ(S_OK, m_CameraControl->GetRange(CameraControl_Exposure, &minimum, &maximum, &step, &byDefault,
                                              &caps));
    EXPECT_EQ((std::vector<LONG>{-14, -1, 1, -10, Auto | Manual}),
              (std::vector<LONG>{minimum, maximum, step, byDefault, caps}));

    for (LONG missing : std::vector<LONG>{VideoProcAmp_Hue, VideoProcAmp_Sharpness, VideoProcAmp_WhiteBalance,
                                          VideoProcAmp_BacklightCompensation, 10, -1}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(E_PROP_ID_UNSUPPORTED,
                  m_ProcAmp->GetRange(missing, &minimum, &maximum, &step, &byDefault, &caps));
        EXPECT_EQ(E_PROP_ID_UNSUPPORTED, m_ProcAmp->Get(missing, &value, &flags));
        EXPECT_EQ(E_PROP_ID_UNSUPPORTED, m_ProcAmp->Set(missing, 0, Manual));
    }
    for (LONG missing : std::vector<LONG>{CameraControl_Pan, CameraControl_Tilt, CameraControl_Roll,
                                          CameraControl_Zoom, CameraControl_Iris, CameraControl_Focus}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(E_PROP_ID_UNSUPPORTED, m_CameraControl->Get(missing, &value, &flags));
        EXPECT_EQ(E_PROP_ID_UNSUPPORTED, m_CameraControl->Set(missing, 0, Manual));
    }
    EXPECT_EQ(E_POINTER, m_ProcAmp->Get(VideoProcAmp_Gamma, nullptr, &flags));
    EXPECT_EQ(E_POINTER,
              m_CameraControl->GetRange(CameraControl_Exposure, &minimum, nullptr, &step, &byDefault, &caps));
}

struct SetCase {
    bool cameraControl;
    LONG property;
    LONG value;
    const char* setter;
    long long sent;
    size_t fileOffset; // the setting's first byte in the settings file
    int fileValue;
};

TEST_F(CameraControlsTest, ASetReachesTheCameraTheSettingsFileAndTheNextGet)
{
    const SetCase cases[] = {
        {false, VideoProcAmp_Brightness, 150, "CameraSetAeTarget", 150, 25, 150},
        {false, VideoProcAmp_Contrast, 30, "CameraSetContrast", 30, 44, 30},
        {false, VideoProcAmp_Saturation, 200, "CameraSetSaturation", 200, 45, 200},
        {false, VideoProcAmp_Gamma, 100, "CameraSetGamma", 100, 50, 100},
        {false, VideoProcAmp_ColorEnable, 0, "CameraSetColorEnhancement", 0, 46, 0},
        {false, VideoProcAmp_Gain, 20, "CameraSetAnalogGain", 20, 26, 20},
        // 2^-5 s is 781.25 rows of 40 us.
        {true, CameraControl_Exposure, -5, "CameraSetExposureTime", 781, 28, 781 % 256},
    };
    for (const SetCase& c : cases) {
        SCOPED_TRACE(c.setter);
        SimClearCalls();
        const HRESULT set = c.cameraControl ? m_CameraControl->Set(c.property, c.value, Manual)
                                            : m_ProcAmp->Set(c.property, c.value, Manual);
        ASSERT_EQ(S_OK, set);
        const std::vector<QuillonSimCall> sent = SimCallsStartingWith(c.setter);
        ASSERT_EQ(1u, sent.size());
        EXPECT_EQ(c.sent, sent[0].args[0]);
        LONG value = 0, flags = 0;
        ASSERT_EQ(S_OK, c.cameraControl ? m_CameraControl->Get(c.property, &value, &flags)
                                        : m_ProcAmp->Get(c.property, &value, &flags));
        EXPECT_EQ(c.value, value);
        EXPECT_EQ(Manual, flags);
        const std::vector<unsigned char> file = SettingsFile();
        ASSERT_EQ(51u, file.size());
        EXPECT_EQ(c.fileValue, file[c.fileOffset]);
    }
}

// Programs that pass no flag at all mean a manual setting.
TEST_F(CameraControlsTest, NoFlagsSetsEveryControlManually)
{
    ASSERT_EQ(S_OK, m_ProcAmp->Set(VideoProcAmp_Gain, 10, Auto));
    struct Case {
        bool cameraControl;
        LONG property, value;
    };
    for (const Case& c : {Case{false, VideoProcAmp_Brightness, 60}, Case{false, VideoProcAmp_Contrast, 12},
                          Case{false, VideoProcAmp_Saturation, 30}, Case{false, VideoProcAmp_Gamma, 90},
                          Case{false, VideoProcAmp_ColorEnable, 0}, Case{false, VideoProcAmp_Gain, 33},
                          Case{true, CameraControl_Exposure, -7}}) {
        SCOPED_TRACE(c.property);
        ASSERT_EQ(S_OK, c.cameraControl ? m_CameraControl->Set(c.property, c.value, 0)
                                        : m_ProcAmp->Set(c.property, c.value, 0));
        LONG value = 0, flags = 0;
        ASSERT_EQ(S_OK, c.cameraControl ? m_CameraControl->Get(c.property, &value, &flags)
                                        : m_ProcAmp->Get(c.property, &value, &flags));
        EXPECT_EQ(c.value, value);
        EXPECT_EQ(Manual, flags);
    }
}

TEST_F(CameraControlsTest, RefusedSetsChangeNothing)
{
    struct Case {
        LONG property, value, flags;
    };
    const Case refused[] = {
        {VideoProcAmp_Brightness, 39, Manual},
        {VideoProcAmp_Brightness, 201, Manual},
        {VideoProcAmp_Contrast, -1, Manual},
        {VideoProcAmp_Gamma, 151, Manual},
        {VideoProcAmp_ColorEnable, 2, Manual},
        {VideoProcAmp_Gain, 0, Manual},
        {VideoProcAmp_Gain, 81, Auto},
        {VideoProcAmp_Contrast, 5, Auto},
        {VideoProcAmp_Gain, 20, Auto | Manual},
        {VideoProcAmp_Saturation, 5, 4},
    };
    SimClearCalls();
    for (const Case& c : refused) {
        SCOPED_TRACE(testing::Message() << c.property << " " << c.value << " " << c.flags);
        EXPECT_EQ(E_INVALIDARG, m_ProcAmp->Set(c.property, c.value, c.flags));
    }
    for (LONG value : {-15L, 0L})
        EXPECT_EQ(E_INVALIDARG, m_CameraControl->Set(CameraControl_Exposure, value, Manual));
    EXPECT_TRUE(SimCallsStartingWith("CameraSet").empty());
    EXPECT_TRUE(SettingsFile().empty());
}

TEST_F(CameraControlsTest, TheAutoFlagOfGainAndExposureIsAutoExposure)
{
    LONG value = 0, flags = 0;
    SimClearCalls();
    ASSERT_EQ(S_OK, m_ProcAmp->Set(VideoProcAmp_Gain, 20, Manual));
    EXPECT_EQ((std::vector<std::string>{"CameraSetAeState", "CameraSetAnalogGain"}),
              SimCallNamesAmong({"CameraSetAeState", "CameraSetAnalogGain", "CameraSetExposureTime"}));
    ASSERT_EQ(S_OK, m_CameraControl->Get(CameraControl_Exposure, &value, &flags));
    EXPECT_EQ(Manual, flags);

    // Auto hands both back to auto exposure and leaves their values alone.
    SimClearCalls();
    ASSERT_EQ(S_OK, m_CameraControl->Set(CameraControl_Exposure, -3, Auto));
    const std::vector<QuillonSimCall> calls = SimCallsStartingWith("CameraSet");
    ASSERT_EQ(1u, calls.size());
    EXPECT_STREQ("CameraSetAeState", calls[0].function);
    EXPECT_EQ(1, calls[0].args[0]);
    ASSERT_EQ(S_OK, m_ProcAmp->Get(VideoProcAmp_Gain, &value, &flags));
    EXPECT_EQ(20, value);
    EXPECT_EQ(Auto, flags);
}

TEST_F(CameraControlsTest, ExposureIsTheLogarithmOfItsSecondsAtBothEndsOfTheRange)
{
    const unsigned int rowTime = 40;
    EXPECT_EQ(2u, ExposureControl::ExposureRows(-14, rowTime));    // 61 us
    EXPECT_EQ(12500u, ExposureControl::ExposureRows(-1, rowTime)); // 0.5 s
    EXPECT_EQ(-14, ExposureControl::ExposureValue(1, rowTime));    // 40 us, below 2^-14 s
    EXPECT_EQ(-1, ExposureControl::ExposureValue(23100, rowTime)); // 0.92 s
    EXPECT_EQ(-10, ExposureControl::ExposureValue(20, rowTime));
    for (LONG value = -14; value <= -1; ++value)
        EXPECT_EQ(value,
                  ExposureControl::ExposureValue(ExposureControl::ExposureRows(value, rowTime), rowTime));
    // Beyond what the camera takes, the nearest length it does.
    EXPECT_EQ(1u, ExposureControl::ExposureRows(-30, rowTime));
    EXPECT_EQ(23100u, ExposureControl::ExposureRows(3, rowTime));
    EXPECT_EQ(-1, ExposureControl::ExposureValue(0xFFFFFFFFu, rowTime));
    // A camera without a row time still gives numbers in range.
    EXPECT_GE(ExposureControl::ExposureRows(-14, 0), 1u);
    EXPECT_LE(ExposureControl::ExposureValue(1, 0), 0);
}

TEST_F(CameraControlsTest, FrameRatesAreThoseOfTheOfferedTypes)
{
    for (CapturePin* pin : {m_Object->PinInList(0), m_Object->PinInList(1)}) {
        IPin* itf = pin->PinInterface();
        ComPtr<IAMStreamConfig> config;
        ASSERT_EQ(S_OK, itf->QueryInterface(IID_IAMStreamConfig, config.putVoid()));
        for (LONG index = 0; index < 5; ++index) {
            SCOPED_TRACE(index);
            AM_MEDIA_TYPE* type = nullptr;
            VIDEO_STREAM_CONFIG_CAPS caps;
            ASSERT_EQ(S_OK, config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps)));
            const REFERENCE_TIME offered =
                reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame;
            DeleteTypeRecord(type);
            LONG count = 0;
            LONGLONG* list = nullptr;
            ASSERT_EQ(S_OK, m_VideoControl->GetFrameRateList(itf, index, caps.MaxOutputSize, &count, &list));
            // 30, 15, 10 and 5 frames a second, the offered type's first.
            ASSERT_EQ(4, count);
            EXPECT_EQ(offered, list[0]);
            EXPECT_EQ((std::vector<LONGLONG>{333333, 666666, 1000000, 2000000}),
                      std::vector<LONGLONG>(list, list + count));
            CoTaskMemFree(list);
            count = 0;
            EXPECT_EQ(S_OK,
                      m_VideoControl->GetFrameRateList(itf, index, caps.MaxOutputSize, &count, nullptr));
            EXPECT_EQ(4, count);
            LONGLONG fastest = 0;
            EXPECT_EQ(S_OK,
                      m_VideoControl->GetMaxAvailableFrameRate(itf, index, caps.MaxOutputSize, &fastest));
            EXPECT_EQ(CameraFrameInterval, fastest);
            const SIZE other = {640, 480};
            EXPECT_EQ(E_INVALIDARG, m_VideoControl->GetMaxAvailableFrameRate(itf, index, other, &fastest));
        }
        LONGLONG interval = 0;
        const SIZE full = {3032, 2016};
        EXPECT_EQ(E_INVALIDARG, m_VideoControl->GetMaxAvailableFrameRate(itf, 5, full, &interval));
        LONG flags = -1;
        EXPECT_EQ(S_OK, m_VideoControl->GetCaps(itf, &flags));
        EXPECT_EQ(0, flags);
        EXPECT_EQ(S_OK, m_VideoControl->SetMode(itf, 0));
        EXPECT_EQ(E_INVALIDARG, m_VideoControl->SetMode(itf, VideoControlFlag_FlipHorizontal));
        EXPECT_EQ(S_OK, m_VideoControl->GetMode(itf, &flags));
        EXPECT_EQ(0, flags);
        EXPECT_EQ(VFW_E_NOT_CONNECTED, m_VideoControl->GetCurrentActualFrameRate(itf, &interval));
    }
    LONG flags = 0;
    EXPECT_EQ(E_INVALIDARG, m_VideoControl->GetCaps(nullptr, &flags));
}

TEST_F(CameraControlsTest, ThePinsMeasureTheRateTheyDeliverWhileTheyStream)
{
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"2"));
    IPin* preview = m_Graph.m_Pins[1].get();
    LONGLONG interval = 0;
    EXPECT_EQ(VFW_E_NOT_RUNNING, m_VideoControl->GetCurrentActualFrameRate(preview, &interval));
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[1].WaitForSamples(40));
    ASSERT_EQ(S_OK, m_VideoControl->GetCurrentActualFrameRate(preview, &interval));
    // The preview follows the camera's 30 frames a second.
    EXPECT_NEAR(double(CameraFrameInterval), double(interval), CameraFrameInterval * 0.15);
    ASSERT_EQ(S_OK, m_Graph.Stop());
    EXPECT_EQ(VFW_E_NOT_RUNNING, m_VideoControl->GetCurrentActualFrameRate(preview, &interval));
}

TEST_F(CameraControlsTest, ThePictureRespondsToTheSaturation)
{
    CameraConfig small;
    small.m_Format.m_Resolution = 3;
    ASSERT_EQ(1, WriteSettingsFile(small));
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"2"));
    RecordingSink& sink = m_Graph.m_Sinks[1];
    sink.SetPictureSize(800, 600);
    sink.KeepLastPicture(true);
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(sink.WaitForSamples(2));
    const int yellowBar = 800 * 3 / 14;
    EXPECT_EQ(0, FramePixel(sink.LastPicture().data(), 800, 600, yellowBar, 10).blue);

    ASSERT_EQ(S_OK, m_ProcAmp->Set(VideoProcAmp_Saturation, 0, Manual));
    // Frames already taken may still come: wait for one that shows the change.
    EXPECT_TRUE(
        WaitUntil([&] { return FramePixel(sink.LastPicture().data(), 800, 600, yellowBar, 10).blue > 100; }));
    ASSERT_EQ(S_OK, m_ProcAmp->Set(VideoProcAmp_Saturation, 128, Manual));
    EXPECT_TRUE(WaitUntil([&] { return ShowsSimPicture(sink.LastPicture().data(), 800, 600); }));
    EXPECT_EQ(S_OK, m_Graph.Stop());
}

// A host's slider and another host's thread at once, while both pins stream:
// every value arrives, nothing deadlocks, and the streams go on.
TEST_F(CameraControlsTest, TwoThreadsSettingAtOnceLoseNothing)
{
    CameraConfig small;
    small.m_Format.m_Resolution = 3;
    ASSERT_EQ(1, WriteSettingsFile(small));
    ASSERT_EQ(S_OK, m_Graph.Create(m_Filter.get()));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"1"));
    ASSERT_EQ(S_OK, m_Graph.ConnectPin(L"2"));
    ASSERT_TRUE(SUCCEEDED(m_Graph.Run()));
    ASSERT_TRUE(m_Graph.m_Sinks[1].WaitForSamples(2));

    std::atomic<int> failures(0);
    auto setMany = [&](LONG property, LONG first, LONG values, int count) {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            ComPtr<IAMVideoProcAmp> procAmp;
            if (FAILED(m_Filter.queryInto(IID_IAMVideoProcAmp, procAmp))) ++failures;
            for (int i = 0; procAmp && i < count; ++i)
                if (procAmp->Set(property, first + i % values, Manual) != S_OK) ++failures;
        }
        CoUninitialize();
    };
    const size_t samplesBefore = m_Graph.m_Sinks[0].Count() + m_Graph.m_Sinks[1].Count();
    std::thread brightness(setMany, VideoProcAmp_Brightness, 40, 161, 400);
    std::thread contrast(setMany, VideoProcAmp_Contrast, 0, 256, 400);
    brightness.join();
    contrast.join();
    EXPECT_EQ(0, failures.load());

    LONG value = 0, flags = 0;
    ASSERT_EQ(S_OK, m_ProcAmp->Get(VideoProcAmp_Brightness, &value, &flags));
    EXPECT_EQ(40 + 399 % 161, value);
    ASSERT_EQ(S_OK, m_ProcAmp->Get(VideoProcAmp_Contrast, &value, &flags));
    EXPECT_EQ(399 % 256, value);
    const std::vector<unsigned char> file = SettingsFile();
    ASSERT_EQ(51u, file.size());
    EXPECT_EQ(40 + 399 % 161, file[25]);
    EXPECT_EQ(399 % 256, file[44]);
    EXPECT_TRUE(WaitUntil(
        [&] { return m_Graph.m_Sinks[0].Count() + m_Graph.m_Sinks[1].Count() > samplesBefore + 10; }));
    EXPECT_EQ(S_OK, m_Graph.Stop());
}

} // namespace
