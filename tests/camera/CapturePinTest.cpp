#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>

#include <cstring>

#include "camera/CameraFilter.h"
#include "camera/CapturePin.h"
#include "camera/SettingsFile.h"
#include "sdk/QuillonSim.h"
#include "tests/support/FakeInputPin.h"
#include "tests/support/IsolatedTempDirectory.h"

namespace {

const LONG FullWidth = 3032;
const LONG FullHeight = 2016;
const ULONG FullSampleSize = 18337536;

// A complete RGB24 video type with a VIDEOINFOHEADER of the given size.
class VideoType {
  public:
    VideoType(LONG width, LONG height, WORD bits = 24)
    {
        ZeroMemory(&m_Info, sizeof(m_Info));
        m_Info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        m_Info.bmiHeader.biWidth = width;
        m_Info.bmiHeader.biHeight = height;
        m_Info.bmiHeader.biPlanes = 1;
        m_Info.bmiHeader.biBitCount = bits;
        m_Info.bmiHeader.biSizeImage = static_cast<DWORD>(width * height * bits / 8);
        ZeroMemory(&m_Type, sizeof(m_Type));
        m_Type.majortype = MEDIATYPE_Video;
        m_Type.subtype = MEDIASUBTYPE_RGB24;
        m_Type.bFixedSizeSamples = TRUE;
        m_Type.lSampleSize = m_Info.bmiHeader.biSizeImage;
        m_Type.formattype = FORMAT_VideoInfo;
        m_Type.cbFormat = sizeof(m_Info);
        m_Type.pbFormat = reinterpret_cast<BYTE*>(&m_Info);
    }
    AM_MEDIA_TYPE* get() { return &m_Type; }
    VIDEOINFOHEADER& info() { return m_Info; }
    AM_MEDIA_TYPE& type() { return m_Type; }

  private:
    VIDEOINFOHEADER m_Info;
    AM_MEDIA_TYPE m_Type;
};

// An allocator that grants what it is told to, to see how the pin takes it.
class ScriptedAllocator : public IMemAllocator {
  public:
    HRESULT m_Result = S_OK;
    long m_GrantedBytes = -1; // -1 grants what was asked
    ALLOCATOR_PROPERTIES m_Request = {};

    STDMETHODIMP QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override
    {
        m_Request = *request;
        if (FAILED(m_Result)) return m_Result;
        *actual = *request;
        if (m_GrantedBytes >= 0) actual->cbBuffer = m_GrantedBytes;
        return S_OK;
    }
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Commit() override { return E_NOTIMPL; }
    STDMETHODIMP Decommit() override { return E_NOTIMPL; }
    STDMETHODIMP GetBuffer(IMediaSample**, REFERENCE_TIME*, REFERENCE_TIME*, DWORD) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP ReleaseBuffer(IMediaSample*) override { return E_NOTIMPL; }
};

class CapturePinTest : public testing::Test {
  protected:
    void SetUp() override
    {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        SimReset();
        HRESULT result = E_UNEXPECTED;
        ObjectBase* object = CameraFilter::Create(nullptr, &result);
        ASSERT_NE(nullptr, object);
        ASSERT_EQ(S_OK, object->InnerQueryInterface(IID_IBaseFilter, m_Filter.putVoid()));
        m_Object = static_cast<CameraFilter*>(object);
        m_Capture = m_Object->PinInList(0);
        m_Preview = m_Object->PinInList(1);
        ASSERT_NE(nullptr, m_Capture);
        ASSERT_NE(nullptr, m_Preview);
        // Partial-type counting is module-wide; a complete type starts it afresh.
        VideoType full(FullWidth, FullHeight);
        m_Capture->PinInterface()->QueryAccept(full.get());
    }
    void TearDown() override
    {
        m_Filter.reset();
        SimReset();
        CoUninitialize();
    }

    template <class I> ComPtr<I> Query(CapturePin* pin, REFIID iid)
    {
        ComPtr<I> out;
        EXPECT_EQ(S_OK, pin->PinInterface()->QueryInterface(iid, out.putVoid()));
        return out;
    }

    MediaTypeRecord CurrentFormat(CapturePin* pin)
    {
        AM_MEDIA_TYPE* type = nullptr;
        EXPECT_EQ(S_OK, Query<IAMStreamConfig>(pin, IID_IAMStreamConfig)->GetFormat(&type));
        MediaTypeRecord record;
        if (type) {
            record = *type;
            DeleteTypeRecord(type);
        }
        return record;
    }

    IsolatedTempDirectory m_Temp;
    ComPtr<IBaseFilter> m_Filter;
    CameraFilter* m_Object = nullptr;
    CapturePin* m_Capture = nullptr;
    CapturePin* m_Preview = nullptr;
};

// The offered RGB24 type of a picture size, as every entry describes it.
void ExpectOfferedType(const AM_MEDIA_TYPE& type, LONG width, LONG height, REFERENCE_TIME interval = 333333)
{
    const ULONG bytes = static_cast<ULONG>(width * height * 3);
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, type.majortype));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, type.subtype));
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, type.formattype));
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_EQ(bytes, type.lSampleSize);
    ASSERT_EQ(sizeof(VIDEOINFOHEADER), type.cbFormat);
    const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    EXPECT_EQ(interval, info->AvgTimePerFrame);
    EXPECT_EQ(width, info->bmiHeader.biWidth);
    EXPECT_EQ(height, info->bmiHeader.biHeight);
    EXPECT_EQ(24, info->bmiHeader.biBitCount);
    EXPECT_EQ(bytes, info->bmiHeader.biSizeImage);
}

void ExpectFullFrameType(const AM_MEDIA_TYPE& type)
{
    EXPECT_TRUE(IsEqualGUID(MEDIATYPE_Video, type.majortype));
    EXPECT_TRUE(IsEqualGUID(MEDIASUBTYPE_RGB24, type.subtype));
    EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, type.formattype));
    EXPECT_TRUE(type.bFixedSizeSamples);
    EXPECT_FALSE(type.bTemporalCompression);
    EXPECT_EQ(FullSampleSize, type.lSampleSize);
    EXPECT_EQ(nullptr, type.pUnk);
    ASSERT_EQ(sizeof(VIDEOINFOHEADER), type.cbFormat);
    ASSERT_NE(nullptr, type.pbFormat);
    const VIDEOINFOHEADER* info = reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
    EXPECT_EQ(333333, info->AvgTimePerFrame);
    EXPECT_EQ(0u, info->dwBitRate);
    EXPECT_EQ(FullWidth, info->bmiHeader.biWidth);
    EXPECT_EQ(FullHeight, info->bmiHeader.biHeight);
    EXPECT_EQ(24, info->bmiHeader.biBitCount);
    EXPECT_EQ(FullSampleSize, info->bmiHeader.biSizeImage);
}

// The camera's sizes are 4:3 but for the largest one.
LONG HeightOf(LONG width)
{
    return width == FullWidth ? FullHeight : width * 3 / 4;
}

// The stored resolution's type comes first, then each other size once.
TEST_F(CapturePinTest, ProposesTheStoredResolutionThenEveryOtherSize)
{
    struct Case {
        unsigned char resolution;
        LONG widths[4];
    };
    for (const Case& c : {Case{0, {3032, 1600, 1280, 800}}, Case{1, {1600, 3032, 1280, 800}},
                          Case{2, {1280, 3032, 1600, 800}}, Case{3, {800, 3032, 1600, 1280}},
                          Case{4, {3032, 1600, 1280, 800}}, Case{200, {3032, 1600, 1280, 800}}}) {
        SCOPED_TRACE(int(c.resolution));
        CameraConfig stored;
        stored.m_Format.m_Resolution = c.resolution;
        ASSERT_EQ(1, WriteSettingsFile(stored));
        ComPtr<IEnumMediaTypes> types;
        ASSERT_EQ(S_OK, m_Capture->PinInterface()->EnumMediaTypes(types.put()));
        AM_MEDIA_TYPE* fetched[6] = {};
        ULONG count = 0;
        EXPECT_EQ(S_FALSE, types->Next(6, fetched, &count));
        ASSERT_EQ(4u, count);
        for (ULONG i = 0; i < count; ++i) {
            const LONG width = c.widths[i];
            ExpectOfferedType(*fetched[i], width, HeightOf(width));
            DeleteTypeRecord(fetched[i]);
        }
        // An unconnected pin's format is what it proposes first.
        ExpectOfferedType(CurrentFormat(m_Capture), c.widths[0], HeightOf(c.widths[0]));
    }
    MediaTypeRecord type;
    EXPECT_EQ(E_INVALIDARG, m_Capture->GetMediaType(-1, &type));
    EXPECT_EQ(VFW_S_NO_MORE_ITEMS, m_Capture->GetMediaType(4, &type));
    EXPECT_EQ(5, m_Capture->TypeCount());
    EXPECT_EQ(5, m_Preview->TypeCount());
}

TEST_F(CapturePinTest, AcceptsEveryOfferedTypeAtEveryDeliverableRate)
{
    struct Case {
        const char* name;
        void (*change)(VideoType&);
        HRESULT expected; // as QueryAccept reports it
    };
    const Case cases[] = {
        {"same", [](VideoType&) {}, S_OK},
        {"other image size field", [](VideoType& t) { t.info().bmiHeader.biSizeImage = 5; }, S_OK},
        {"30 frames/s", [](VideoType& t) { t.info().AvgTimePerFrame = 333333; }, S_OK},
        {"5 frames/s", [](VideoType& t) { t.info().AvgTimePerFrame = 2000000; }, S_OK},
        {"50 frames/s", [](VideoType& t) { t.info().AvgTimePerFrame = 200000; }, S_FALSE},
        {"one frame in 6 s", [](VideoType& t) { t.info().AvgTimePerFrame = 60000000; }, S_FALSE},
        {"another offered size", [](VideoType& t) { t.info().bmiHeader.biWidth = 800, t.info().bmiHeader.biHeight = 600; },
         S_OK},
        {"top-down", [](VideoType& t) { t.info().bmiHeader.biHeight = -FullHeight; }, S_FALSE},
        {"height", [](VideoType& t) { t.info().bmiHeader.biHeight = 480; }, S_FALSE},
        {"width", [](VideoType& t) { t.info().bmiHeader.biWidth = 640; }, S_FALSE},
        {"bit count", [](VideoType& t) { t.info().bmiHeader.biBitCount = 32; }, S_FALSE},
        {"compression", [](VideoType& t) { t.info().bmiHeader.biCompression = BI_BITFIELDS; }, S_FALSE},
        {"subtype", [](VideoType& t) { t.type().subtype = MEDIASUBTYPE_RGB32; }, S_FALSE},
        {"major type", [](VideoType& t) { t.type().majortype = MEDIATYPE_Audio; }, S_FALSE},
        {"format type", [](VideoType& t) { t.type().formattype = FORMAT_VideoInfo2; }, S_FALSE},
        {"short format block", [](VideoType& t) { t.type().cbFormat = sizeof(VIDEOINFOHEADER) - 1; },
         S_FALSE},
        {"no format block", [](VideoType& t) { t.type().pbFormat = nullptr; }, S_FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VideoType type(FullWidth, FullHeight);
        c.change(type);
        EXPECT_EQ(c.expected, m_Capture->PinInterface()->QueryAccept(type.get()));
    }
}

TEST_F(CapturePinTest, ABareVideoTypeIsAcceptedOnTheFourthRequestInARow)
{
    const MediaTypeRecord before = CurrentFormat(m_Capture);
    for (const GUID* major : {&MEDIATYPE_Video, &MEDIATYPE_Interleaved}) {
        AM_MEDIA_TYPE bare = {};
        bare.majortype = *major;
        IPin* pin = m_Capture->PinInterface();
        EXPECT_EQ(S_FALSE, pin->QueryAccept(&bare));
        EXPECT_EQ(S_FALSE, pin->QueryAccept(&bare));
        // Any other type in between starts the count again.
        VideoType other(640, 480);
        EXPECT_EQ(S_FALSE, pin->QueryAccept(other.get()));
        EXPECT_EQ(S_FALSE, pin->QueryAccept(&bare));
        EXPECT_EQ(S_FALSE, pin->QueryAccept(&bare));
        EXPECT_EQ(S_FALSE, m_Preview->PinInterface()->QueryAccept(&bare)); // the count is shared
        EXPECT_EQ(S_OK, pin->QueryAccept(&bare));
        EXPECT_EQ(S_OK, pin->QueryAccept(&bare));
        EXPECT_TRUE(CurrentFormat(m_Capture).Equals(before));
        VideoType full(FullWidth, FullHeight);
        EXPECT_EQ(S_OK, pin->QueryAccept(full.get()));
    }
}

TEST_F(CapturePinTest, SizeBuffersAsksForThreeFramesOfTheConnectionType)
{
    ScriptedAllocator allocator;
    ALLOCATOR_PROPERTIES request = {1, 1, 16, 8};
    EXPECT_EQ(S_OK, m_Capture->SizeBuffers(&allocator, &request));
    EXPECT_EQ(3, allocator.m_Request.cBuffers);
    EXPECT_EQ(static_cast<long>(FullSampleSize), allocator.m_Request.cbBuffer);
    EXPECT_EQ(16, allocator.m_Request.cbAlign);
    EXPECT_EQ(8, allocator.m_Request.cbPrefix);

    // Without an image size the pin counts 4 bytes a pixel and records it.
    VideoType unsized(FullWidth, FullHeight);
    unsized.info().bmiHeader.biSizeImage = 0;
    ASSERT_EQ(S_OK, m_Capture->StoreMediaType(static_cast<MediaTypeRecord*>(unsized.get())));
    const long fourBytesAPixel = FullWidth * FullHeight * 4;
    EXPECT_EQ(S_OK, m_Capture->SizeBuffers(&allocator, &request));
    EXPECT_EQ(3, allocator.m_Request.cBuffers);
    EXPECT_EQ(fourBytesAPixel, allocator.m_Request.cbBuffer);
    LONG recorded = 0;
    Query<IAMDroppedFrames>(m_Capture, IID_IAMDroppedFrames)->GetAverageFrameSize(&recorded);
    EXPECT_EQ(fourBytesAPixel, recorded);

    allocator.m_GrantedBytes = fourBytesAPixel - 1;
    EXPECT_EQ(E_FAIL, m_Capture->SizeBuffers(&allocator, &request));
    allocator.m_Result = VFW_E_ALREADY_COMMITTED;
    EXPECT_EQ(VFW_E_ALREADY_COMMITTED, m_Capture->SizeBuffers(&allocator, &request));
}

TEST_F(CapturePinTest, StreamCapabilitiesDescribeEachEntry)
{
    ComPtr<IAMStreamConfig> config = Query<IAMStreamConfig>(m_Capture, IID_IAMStreamConfig);
    int count = 0, size = 0;
    ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
    EXPECT_EQ(5, count);
    EXPECT_EQ(128, size);
    EXPECT_EQ(static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)), size);

    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    EXPECT_EQ(S_FALSE, config->GetStreamCaps(5, &type, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(S_FALSE, config->GetStreamCaps(-1, &type, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(nullptr, type);
    // One entry a resolution index, and a last one that repeats the first.
    const LONG widths[5] = {3032, 1600, 1280, 800, 3032};
    const LONG heights[5] = {2016, 1200, 960, 600, 2016};
    for (int index = 0; index < 5; ++index) {
        SCOPED_TRACE(index);
        memset(&caps, 0xCD, sizeof(caps));
        ASSERT_EQ(S_OK, config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps)));
        ASSERT_NE(nullptr, type);
        ExpectOfferedType(*type, widths[index], heights[index]);
        // The offered frame interval lies in the entry's range.
        const REFERENCE_TIME interval = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame;
        EXPECT_GE(interval, caps.MinFrameInterval);
        EXPECT_LE(interval, caps.MaxFrameInterval);
        DeleteTypeRecord(type);
        EXPECT_TRUE(IsEqualGUID(FORMAT_VideoInfo, caps.guid));
        EXPECT_EQ(0u, caps.VideoStandard);
        for (const SIZE& s : {caps.InputSize, caps.MinCroppingSize, caps.MaxCroppingSize, caps.MinOutputSize,
                              caps.MaxOutputSize}) {
            EXPECT_EQ(widths[index], s.cx);
            EXPECT_EQ(heights[index], s.cy);
        }
        EXPECT_EQ(0, caps.CropGranularityX);
        EXPECT_EQ(0, caps.OutputGranularityY);
        EXPECT_EQ(0, caps.ShrinkTapsY);
        // From the camera's own 30 frames a second down to one frame in 5 s.
        EXPECT_EQ(333333, caps.MinFrameInterval);
        EXPECT_EQ(50000000, caps.MaxFrameInterval);
        const LONGLONG bitsAFrame = 24LL * widths[index] * heights[index];
        EXPECT_EQ(bitsAFrame / 5, caps.MinBitsPerSecond);
        // Thirty full frames a second do not fit; the largest value stands for them.
        const LONGLONG fastest = bitsAFrame * 10000000 / 333333;
        EXPECT_EQ(fastest > 0x7FFFFFFF ? 0x7FFFFFFF : fastest, caps.MaxBitsPerSecond);
    }
}

TEST_F(CapturePinTest, SetFormatChoosesAnOfferedTypeForThisPinAlone)
{
    ComPtr<IAMStreamConfig> config = Query<IAMStreamConfig>(m_Capture, IID_IAMStreamConfig);
    const std::string settingsPath = m_Temp.Path() + "Brisca Camera.config";
    const MediaTypeRecord before = CurrentFormat(m_Capture);
    EXPECT_EQ(S_OK, config->SetFormat(nullptr));
    EXPECT_TRUE(CurrentFormat(m_Capture).Equals(before));

    struct Case {
        const char* name;
        void (*spoil)(VideoType&);
        HRESULT expected;
    };
    const Case refused[] = {
        {"no format block", [](VideoType& t) { t.type().pbFormat = nullptr; }, E_INVALIDARG},
        {"short format block", [](VideoType& t) { t.type().cbFormat = sizeof(VIDEOINFOHEADER) - 1; },
         E_INVALIDARG},
        {"other format type", [](VideoType& t) { t.type().formattype = FORMAT_WaveFormatEx; }, E_INVALIDARG},
        {"audio", [](VideoType& t) { t.type().majortype = MEDIATYPE_Audio; }, VFW_E_INVALIDMEDIATYPE},
        {"YUY2", [](VideoType& t) { t.type().subtype = MEDIASUBTYPE_YUY2; }, VFW_E_INVALIDMEDIATYPE},
        {"640 x 480",
         [](VideoType& t) { t.info().bmiHeader.biWidth = 640, t.info().bmiHeader.biHeight = 480; },
         VFW_E_INVALIDMEDIATYPE},
        {"huge", [](VideoType& t) { t.info().bmiHeader.biWidth = t.info().bmiHeader.biHeight = 10000000; },
         VFW_E_INVALIDMEDIATYPE},
        {"top-down", [](VideoType& t) { t.info().bmiHeader.biHeight = -600; }, VFW_E_INVALIDMEDIATYPE},
        {"32 bits", [](VideoType& t) { t.info().bmiHeader.biBitCount = 32; }, VFW_E_INVALIDMEDIATYPE},
        {"50 frames/s", [](VideoType& t) { t.info().AvgTimePerFrame = 200000; }, VFW_E_INVALIDMEDIATYPE},
        {"one frame in 6 s", [](VideoType& t) { t.info().AvgTimePerFrame = 60000000; },
         VFW_E_INVALIDMEDIATYPE},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.name);
        VideoType type(800, 600);
        c.spoil(type);
        EXPECT_EQ(c.expected, config->SetFormat(type.get()));
        EXPECT_TRUE(CurrentFormat(m_Capture).Equals(before));
        EXPECT_TRUE(ReadWholeFile(settingsPath).empty());
    }

    // Each offered entry is taken at the rate asked for (0: the camera's) and
    // becomes this pin's format; the settings file and the other pin stay.
    const MediaTypeRecord preview = CurrentFormat(m_Preview);
    for (int index : {1, 3, 2, 4, 0}) {
        SCOPED_TRACE(index);
        AM_MEDIA_TYPE* entry = nullptr;
        VIDEO_STREAM_CONFIG_CAPS caps;
        ASSERT_EQ(S_OK, config->GetStreamCaps(index, &entry, reinterpret_cast<BYTE*>(&caps)));
        const REFERENCE_TIME interval = index == 0 ? 0 : 666666 * index;
        reinterpret_cast<VIDEOINFOHEADER*>(entry->pbFormat)->AvgTimePerFrame = interval;
        EXPECT_EQ(S_OK, config->SetFormat(entry));
        EXPECT_TRUE(ReadWholeFile(settingsPath).empty());
        const VIDEOINFOHEADER* asked = reinterpret_cast<VIDEOINFOHEADER*>(entry->pbFormat);
        ExpectOfferedType(CurrentFormat(m_Capture), asked->bmiHeader.biWidth, asked->bmiHeader.biHeight,
                          interval == 0 ? 333333 : interval);
        EXPECT_TRUE(CurrentFormat(m_Preview).Equals(preview));
        DeleteTypeRecord(entry);
    }

    // A type that names only the size takes the rest from the entry.
    VideoType bare(1280, 960, 0);
    bare.type().subtype = GUID_NULL;
    bare.info().AvgTimePerFrame = 1000000;
    EXPECT_EQ(S_OK, config->SetFormat(bare.get()));
    ExpectOfferedType(CurrentFormat(m_Capture), 1280, 960, 1000000);
    LONG average = 0;
    EXPECT_EQ(S_OK, Query<IAMDroppedFrames>(m_Capture, IID_IAMDroppedFrames)->GetAverageFrameSize(&average));
    EXPECT_EQ(1280 * 960 * 3, average);
}

TEST_F(CapturePinTest, AConnectedPinKeepsItsTypeWhenTheResolutionChanges)
{
    FakeInputPin* peer = new FakeInputPin();
    ASSERT_EQ(S_OK, m_Capture->PinInterface()->Connect(peer, nullptr));
    ComPtr<ICameraConfig> config = Query<ICameraConfig>(m_Capture, IID_ICameraConfig);
    CameraConfig record;
    ASSERT_EQ(S_OK, config->GetConfig(&record));
    record.m_Format.m_Resolution = 3;
    ASSERT_EQ(S_OK, config->SetConfig(&record));

    MediaTypeRecord connected;
    ASSERT_EQ(S_OK, m_Capture->PinInterface()->ConnectionMediaType(&connected));
    ExpectFullFrameType(connected);
    ExpectFullFrameType(CurrentFormat(m_Capture));
    // The type it delivers is still acceptable to it; the new one is not, yet.
    VideoType full(FullWidth, FullHeight), small(800, 600);
    EXPECT_EQ(S_OK, m_Capture->PinInterface()->QueryAccept(full.get()));
    EXPECT_EQ(S_FALSE, m_Capture->PinInterface()->QueryAccept(small.get()));
    ExpectFullFrameType(CurrentFormat(m_Capture));

    ASSERT_EQ(S_OK, m_Capture->PinInterface()->Disconnect());
    ASSERT_EQ(S_OK, peer->Disconnect());
    ASSERT_EQ(S_OK, m_Capture->PinInterface()->Connect(peer, nullptr));
    ExpectOfferedType(CurrentFormat(m_Capture), 800, 600);
    m_Capture->PinInterface()->Disconnect();
    peer->Release();
}

TEST_F(CapturePinTest, PinCategoryProperty)
{
    struct Case {
        CapturePin* pin;
        const GUID* category;
    };
    for (const Case& c : {Case{m_Capture, &PIN_CATEGORY_CAPTURE}, Case{m_Preview, &PIN_CATEGORY_PREVIEW}}) {
        ComPtr<IKsPropertySet> properties = Query<IKsPropertySet>(c.pin, IID_IKsPropertySet);
        GUID category = GUID_NULL;
        DWORD returned = 0;
        EXPECT_EQ(S_OK, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                        sizeof(category), &returned));
        EXPECT_EQ(16u, returned);
        EXPECT_TRUE(IsEqualGUID(*c.category, category));

        returned = 0;
        category = GUID_NULL;
        EXPECT_EQ(E_UNEXPECTED, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0,
                                                &category, 15, &returned));
        EXPECT_EQ(16u, returned);
        EXPECT_TRUE(IsEqualGUID(GUID_NULL, category));
        returned = 0;
        EXPECT_EQ(S_OK, properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0,
                                        &returned));
        EXPECT_EQ(16u, returned);
        EXPECT_EQ(E_POINTER,
                  properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, nullptr));
        EXPECT_EQ(E_PROP_SET_UNSUPPORTED, properties->Get(PIN_CATEGORY_CAPTURE, AMPROPERTY_PIN_CATEGORY,
                                                          nullptr, 0, &category, 16, &returned));
        EXPECT_EQ(E_PROP_ID_UNSUPPORTED,
                  properties->Get(AMPROPSETID_Pin, 1, nullptr, 0, &category, 16, &returned));
        EXPECT_EQ(E_NOTIMPL,
                  properties->Set(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, 16));

        DWORD support = 7;
        EXPECT_EQ(S_OK, properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support));
        EXPECT_EQ(static_cast<DWORD>(KSPROPERTY_SUPPORT_GET), support);
        support = 7;
        EXPECT_EQ(E_PROP_ID_UNSUPPORTED, properties->QuerySupported(AMPROPSETID_Pin, 1, &support));
        EXPECT_EQ(0u, support);
        support = 7;
        EXPECT_EQ(E_PROP_SET_UNSUPPORTED, properties->QuerySupported(GUID_NULL, 0, &support));
        EXPECT_EQ(0u, support);
    }
}

TEST_F(CapturePinTest, DroppedFrameCountsAreEachPinsOwn)
{
    for (CapturePin* pin : {m_Capture, m_Preview}) {
        ComPtr<IAMDroppedFrames> frames = Query<IAMDroppedFrames>(pin, IID_IAMDroppedFrames);
        LONG count = -1;
        EXPECT_EQ(S_OK, frames->GetNumDropped(&count));
        EXPECT_EQ(0, count);
        EXPECT_EQ(S_OK, frames->GetNumNotDropped(&count));
        EXPECT_EQ(0, count);
        LONG list[2] = {11, 12};
        LONG copied = -1;
        EXPECT_EQ(S_OK, frames->GetDroppedInfo(2, list, &copied));
        EXPECT_EQ(0, copied);
        EXPECT_EQ(11, list[0]);
        EXPECT_EQ(S_OK, frames->GetAverageFrameSize(&count));
        EXPECT_EQ(static_cast<LONG>(FullSampleSize), count);
        EXPECT_EQ(E_POINTER, frames->GetNumDropped(nullptr));
    }
}

TEST_F(CapturePinTest, SuggestedBuffersAreTakenBeforeConnectingAndNeverSmallerThanAFrame)
{
    ComPtr<IAMBufferNegotiation> negotiation = Query<IAMBufferNegotiation>(m_Capture, IID_IAMBufferNegotiation);
    ALLOCATOR_PROPERTIES granted = {};
    EXPECT_EQ(VFW_E_NOT_CONNECTED, negotiation->GetAllocatorProperties(&granted));
    EXPECT_EQ(E_POINTER, negotiation->SuggestAllocatorProperties(nullptr));

    ScriptedAllocator allocator;
    struct Case {
        ALLOCATOR_PROPERTIES suggested;
        ALLOCATOR_PROPERTIES requested; // what the pin then asks its allocator for
    };
    const long frame = static_cast<long>(FullSampleSize);
    for (const Case& c : {Case{{6, 1000, 64, 16}, {6, frame, 64, 16}}, Case{{-1, -1, -1, -1}, {3, frame, 16, 8}},
                          Case{{2, frame + 4096, 4, 0}, {2, frame + 4096, 16, 8}}}) {
        ASSERT_EQ(S_OK, negotiation->SuggestAllocatorProperties(&c.suggested));
        ALLOCATOR_PROPERTIES request = {1, 1, 16, 8}; // the downstream pin's requirements
        EXPECT_EQ(S_OK, m_Capture->SizeBuffers(&allocator, &request));
        EXPECT_EQ(c.requested.cBuffers, allocator.m_Request.cBuffers);
        EXPECT_EQ(c.requested.cbBuffer, allocator.m_Request.cbBuffer);
        EXPECT_EQ(c.requested.cbAlign, allocator.m_Request.cbAlign);
        EXPECT_EQ(c.requested.cbPrefix, allocator.m_Request.cbPrefix);
    }

    // The connection's own allocator grants the suggested count.
    const ALLOCATOR_PROPERTIES eight = {8, -1, -1, -1};
    ASSERT_EQ(S_OK, negotiation->SuggestAllocatorProperties(&eight));
    FakeInputPin* peer = new FakeInputPin();
    ASSERT_EQ(S_OK, m_Capture->PinInterface()->Connect(peer, nullptr));
    ASSERT_EQ(S_OK, negotiation->GetAllocatorProperties(&granted));
    EXPECT_EQ(8, granted.cBuffers);
    EXPECT_EQ(frame, granted.cbBuffer);
    const ALLOCATOR_PROPERTIES late = {9, 9, 9, 9};
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, negotiation->SuggestAllocatorProperties(&late));
    m_Capture->PinInterface()->Disconnect();
    peer->Release();
}

TEST_F(CapturePinTest, OnlyTheCapturePinListsTheFormatPage)
{
    CAUUID pages = {};
    ASSERT_EQ(S_OK, Query<ISpecifyPropertyPages>(m_Capture, IID_ISpecifyPropertyPages)->GetPages(&pages));
    ASSERT_EQ(1u, pages.cElems);
    EXPECT_TRUE(IsEqualGUID(CLSID_FormatPage, pages.pElems[0]));
    CoTaskMemFree(pages.pElems);

    pages.cElems = 9;
    ASSERT_EQ(S_OK, Query<ISpecifyPropertyPages>(m_Preview, IID_ISpecifyPropertyPages)->GetPages(&pages));
    EXPECT_EQ(0u, pages.cElems);
    EXPECT_EQ(nullptr, pages.pElems);
    EXPECT_EQ(E_POINTER,
              Query<ISpecifyPropertyPages>(m_Capture, IID_ISpecifyPropertyPages)->GetPages(nullptr));
}

TEST_F(CapturePinTest, CameraConfigReachesTheCameraAndRestoresTheOfferedType)
{
    ComPtr<ICameraConfig> config = Query<ICameraConfig>(m_Capture, IID_ICameraConfig);
    EXPECT_EQ(E_FAIL, config->GetConfig(nullptr));
    EXPECT_EQ(E_FAIL, config->SetConfig(nullptr));

    CameraConfig record;
    ASSERT_EQ(S_OK, config->GetConfig(&record));
    record.m_Format.m_Resolution = 2;
    record.m_Gamma = 80;
    ASSERT_EQ(S_OK, config->SetConfig(&record));
    const std::vector<unsigned char> file = ReadWholeFile(m_Temp.Path() + "Brisca Camera.config");
    ASSERT_EQ(51u, file.size());
    EXPECT_EQ(2, file[0]);
    EXPECT_EQ(80, file[50]);
    ExpectOfferedType(CurrentFormat(m_Capture), 1280, 960);

    CameraConfig read;
    ASSERT_EQ(S_OK, config->GetConfig(&read));
    EXPECT_EQ(2, read.m_Format.m_Resolution);
}

TEST_F(CapturePinTest, PinInterfacesShareThePinsIdentityAndTheFiltersCount)
{
    const IID* interfaces[] = {&IID_IAMStreamConfig,       &IID_IKsPropertySet, &IID_IAMDroppedFrames,
                               &IID_ISpecifyPropertyPages, &IID_ICameraConfig,  &IID_IPin,
                               &IID_IQualityControl,       &IID_IAMStreamControl, &IID_IAMBufferNegotiation};
    IPin* pin = m_Capture->PinInterface();
    const ULONG references = RefCountOf(m_Filter.get());
    for (const IID* iid : interfaces) {
        IUnknown* itf = nullptr;
        ASSERT_EQ(S_OK, pin->QueryInterface(*iid, reinterpret_cast<void**>(&itf)));
        EXPECT_EQ(references + 1, RefCountOf(m_Filter.get()));
        IPin* back = nullptr;
        ASSERT_EQ(S_OK, itf->QueryInterface(IID_IPin, reinterpret_cast<void**>(&back)));
        EXPECT_EQ(pin, back);
        back->Release();
        itf->Release();
    }
    EXPECT_EQ(references, RefCountOf(m_Filter.get()));
    EXPECT_EQ(E_POINTER, pin->QueryInterface(IID_IAMStreamConfig, nullptr));
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(E_NOINTERFACE, pin->QueryInterface(IID_IAMFilterMiscFlags, &none));
}

} // namespace
