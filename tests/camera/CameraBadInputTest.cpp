// Bad input at the module's COM surface: null out-pointers, malformed media
// types, impossible sizes and settings files of any length and content. None
// may crash; each gets its documented answer.
#include <gtest/gtest.h>
#include <windows.h>
#include <dshow.h>
#include <ocidl.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "camera/ICameraConfig.h"
#include "framework/MediaTypeRecord.h"
#include "sdk/QuillonSim.h"
#include "tests/support/CameraGraph.h"
#include "tests/support/FilterModule.h"
#include "tests/support/IsolatedTempDirectory.h"
#include "tests/support/ProcessCounters.h"

namespace {

struct Case {
    const char* name;
    std::function<HRESULT()> call;
    std::vector<HRESULT> allowed;
};

void ExpectEach(const std::vector<Case>& cases)
{
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const HRESULT hr = c.call();
        bool allowed = false;
        for (HRESULT answer : c.allowed) allowed = allowed || hr == answer;
        EXPECT_TRUE(allowed) << c.name << " answered 0x" << std::hex << static_cast<unsigned long>(hr);
    }
}

// A video type 3032 x 2016 x 24 as the capture pin offers it, with its format
// block replaced as the test wishes. Type() points the type at the block
// (or at none), wherever the value was copied to.
struct VideoType {
    AM_MEDIA_TYPE type = {};
    std::vector<BYTE> block;
    bool blockMissing = false;

    AM_MEDIA_TYPE* Type()
    {
        type.pbFormat = blockMissing ? nullptr : block.data();
        return &type;
    }

    explicit VideoType(int width = 3032, int height = 2016, int bits = 24, DWORD blockBytes = sizeof(VIDEOINFOHEADER))
        : block(blockBytes < sizeof(VIDEOINFOHEADER) ? sizeof(VIDEOINFOHEADER) : blockBytes)
    {
        VIDEOINFOHEADER* info = reinterpret_cast<VIDEOINFOHEADER*>(block.data());
        info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info->bmiHeader.biWidth = width;
        info->bmiHeader.biHeight = height;
        info->bmiHeader.biPlanes = 1;
        info->bmiHeader.biBitCount = static_cast<WORD>(bits);
        info->bmiHeader.biSizeImage = static_cast<DWORD>(width * height * bits / 8);
        type.majortype = MEDIATYPE_Video;
        type.subtype = MEDIASUBTYPE_RGB24;
        type.bFixedSizeSamples = TRUE;
        type.lSampleSize = info->bmiHeader.biSizeImage;
        type.formattype = FORMAT_VideoInfo;
        type.cbFormat = blockBytes;
        type.pbFormat = block.data();
    }
    VIDEOINFOHEADER* Info() { return reinterpret_cast<VIDEOINFOHEADER*>(block.data()); }
};

// Media types a careless or hostile caller may hand over.
std::vector<std::pair<std::string, VideoType>> MalformedTypes()
{
    std::vector<std::pair<std::string, VideoType>> types;
    {
        VideoType missing;
        missing.blockMissing = true;  // cbFormat says 88, no block
        types.emplace_back("format block missing", missing);
    }
    {
        VideoType noFormat;
        noFormat.blockMissing = true;
        noFormat.type.cbFormat = 0;
        noFormat.type.formattype = GUID_NULL;
        types.emplace_back("no format type nor block", noFormat);
    }
    {
        VideoType shortBlock;
        shortBlock.type.cbFormat = 12;
        types.emplace_back("format block of 12 bytes", shortBlock);
    }
    {
        VideoType huge(3032, 2016, 24, 4 * 1024 * 1024);
        types.emplace_back("format block of 4 MB", huge);
    }
    {
        VideoType negative(-3032, -2016, 24);
        types.emplace_back("negative width and height", negative);
    }
    {
        VideoType zero(0, 0, 24);
        zero.Info()->bmiHeader.biSizeImage = 0;
        types.emplace_back("zero size", zero);
    }
    {
        VideoType overflowing(0x7FFFFFFF, 0x7FFFFFFF, 32);
        overflowing.Info()->bmiHeader.biSizeImage = 0;
        types.emplace_back("sizes whose product overflows", overflowing);
    }
    {
        VideoType noBits(3032, 2016, 0);
        types.emplace_back("zero bits a pixel", noBits);
    }
    return types;
}

class CameraBadInputTest : public FilterModuleTest {
protected:
    void SetUp() override
    {
        FilterModuleTest::SetUp();
        if (HasFatalFailure()) return;
        m_Filter = NewFilter();
        ASSERT_TRUE(m_Filter);
        ASSERT_EQ(S_OK, m_Filter->FindPin(L"1", m_Capture.put()));
        ASSERT_EQ(S_OK, m_Filter->FindPin(L"2", m_Preview.put()));
    }
    void TearDown() override
    {
        m_Capture.reset();
        m_Preview.reset();
        m_Filter.reset();
        EXPECT_EQ(S_OK, CanUnloadNow()) << "an object of the module is still alive";
        FilterModuleTest::TearDown();
    }

    template <class T>
    ComPtr<T> Query(IUnknown* object, REFIID iid)
    {
        ComPtr<T> result;
        EXPECT_EQ(S_OK, object->QueryInterface(iid, result.putVoid()));
        return result;
    }

    ComPtr<IBaseFilter> m_Filter;
    ComPtr<IPin> m_Capture;
    ComPtr<IPin> m_Preview;
};

TEST_F(CameraBadInputTest, NullOutPointersOnTheFilter)
{
    IBaseFilter* filter = m_Filter.get();
    auto pages = Query<ISpecifyPropertyPages>(filter, IID_ISpecifyPropertyPages);
    auto config = Query<ICameraConfig>(filter, IID_ICameraConfig);
    auto setup = Query<IAMovieSetup>(filter, IID_IAMovieSetup);
    ASSERT_TRUE(pages && config && setup);
    IPin* pin = nullptr;
    ExpectEach({
        {"QueryInterface", [&] { return filter->QueryInterface(IID_IBaseFilter, nullptr); }, {E_POINTER}},
        {"QueryInterface(ICameraConfig)", [&] { return filter->QueryInterface(IID_ICameraConfig, nullptr); }, {E_POINTER}},
        {"GetClassID", [&] { return filter->GetClassID(nullptr); }, {E_POINTER}},
        {"GetState", [&] { return filter->GetState(0, nullptr); }, {E_POINTER}},
        {"GetSyncSource", [&] { return filter->GetSyncSource(nullptr); }, {E_POINTER}},
        {"EnumPins", [&] { return filter->EnumPins(nullptr); }, {E_POINTER}},
        {"FindPin(out)", [&] { return filter->FindPin(L"1", nullptr); }, {E_POINTER}},
        {"FindPin(id)", [&] { return filter->FindPin(nullptr, &pin); }, {E_POINTER, VFW_E_NOT_FOUND}},
        {"FindPin(garbage id)", [&] { return filter->FindPin(L"-99999999999999999999", &pin); }, {VFW_E_NOT_FOUND}},
        {"QueryFilterInfo", [&] { return filter->QueryFilterInfo(nullptr); }, {E_POINTER}},
        {"QueryVendorInfo", [&] { return filter->QueryVendorInfo(nullptr); }, {E_POINTER, E_NOTIMPL}},
        {"GetPages", [&] { return pages->GetPages(nullptr); }, {E_POINTER}},
        {"ICameraConfig::GetConfig", [&] { return config->GetConfig(nullptr); }, {E_FAIL}},
        {"ICameraConfig::SetConfig", [&] { return config->SetConfig(nullptr); }, {E_FAIL}},
    });
    EXPECT_EQ(nullptr, pin);
}

TEST_F(CameraBadInputTest, NullOutPointersOnBothPins)
{
    for (IPin* pin : {m_Capture.get(), m_Preview.get()}) {
        SCOPED_TRACE(pin == m_Capture.get() ? "~Capture" : "Preview");
        auto streamConfig = Query<IAMStreamConfig>(pin, IID_IAMStreamConfig);
        auto properties = Query<IKsPropertySet>(pin, IID_IKsPropertySet);
        auto dropped = Query<IAMDroppedFrames>(pin, IID_IAMDroppedFrames);
        auto pages = Query<ISpecifyPropertyPages>(pin, IID_ISpecifyPropertyPages);
        auto quality = Query<IQualityControl>(pin, IID_IQualityControl);
        ASSERT_TRUE(streamConfig && properties && dropped && pages && quality);
        ExpectEach({
            {"QueryInterface", [&] { return pin->QueryInterface(IID_IPin, nullptr); }, {E_POINTER}},
            {"Connect", [&] { return pin->Connect(nullptr, nullptr); }, {E_POINTER}},
            {"ReceiveConnection", [&] { return pin->ReceiveConnection(nullptr, nullptr); }, {E_POINTER, E_UNEXPECTED}},
            {"ConnectedTo", [&] { return pin->ConnectedTo(nullptr); }, {E_POINTER}},
            {"ConnectionMediaType", [&] { return pin->ConnectionMediaType(nullptr); }, {E_POINTER}},
            {"QueryPinInfo", [&] { return pin->QueryPinInfo(nullptr); }, {E_POINTER}},
            {"QueryDirection", [&] { return pin->QueryDirection(nullptr); }, {E_POINTER}},
            {"QueryId", [&] { return pin->QueryId(nullptr); }, {E_POINTER}},
            {"QueryAccept", [&] { return pin->QueryAccept(nullptr); }, {E_POINTER, E_INVALIDARG, S_FALSE}},
            {"EnumMediaTypes", [&] { return pin->EnumMediaTypes(nullptr); }, {E_POINTER}},
            {"QueryInternalConnections", [&] { return pin->QueryInternalConnections(nullptr, nullptr); },
             {E_POINTER, E_NOTIMPL}},
            {"SetFormat", [&] { return streamConfig->SetFormat(nullptr); }, {S_OK}},
            {"GetFormat", [&] { return streamConfig->GetFormat(nullptr); }, {E_POINTER}},
            {"GetNumberOfCapabilities", [&] { return streamConfig->GetNumberOfCapabilities(nullptr, nullptr); },
             {E_POINTER}},
            {"GetStreamCaps", [&] { return streamConfig->GetStreamCaps(0, nullptr, nullptr); }, {E_POINTER}},
            {"GetStreamCaps(-1)", [&] { return streamConfig->GetStreamCaps(-1, nullptr, nullptr); },
             {E_POINTER, S_FALSE}},
            {"IKsPropertySet::Get", [&] { return properties->Get(AMPROPSETID_Pin, 0, nullptr, 0, nullptr, 0, nullptr); },
             {E_POINTER}},
            {"IKsPropertySet::Get(huge instance)",
             [&] { return properties->Get(AMPROPSETID_Pin, 0, nullptr, 0xFFFFFFFF, nullptr, 0xFFFFFFFF, nullptr); },
             {E_POINTER}},
            {"IKsPropertySet::QuerySupported", [&] { return properties->QuerySupported(AMPROPSETID_Pin, 0, nullptr); },
             {S_OK, E_POINTER}},
            {"IKsPropertySet::Set", [&] { return properties->Set(AMPROPSETID_Pin, 0, nullptr, 0, nullptr, 0); },
             {E_NOTIMPL}},
            {"GetNumDropped", [&] { return dropped->GetNumDropped(nullptr); }, {E_POINTER}},
            {"GetNumNotDropped", [&] { return dropped->GetNumNotDropped(nullptr); }, {E_POINTER}},
            {"GetDroppedInfo", [&] { return dropped->GetDroppedInfo(-1, nullptr, nullptr); }, {S_OK, E_POINTER}},
            {"GetAverageFrameSize", [&] { return dropped->GetAverageFrameSize(nullptr); }, {E_POINTER}},
            {"GetPages", [&] { return pages->GetPages(nullptr); }, {E_POINTER}},
            {"IQualityControl::Notify", [&] { return quality->Notify(nullptr, Quality{}); }, {S_OK}},
            {"IQualityControl::SetSink", [&] { return quality->SetSink(nullptr); }, {S_OK}},
        });
    }
}

TEST_F(CameraBadInputTest, NullArgumentsToTheEnumerators)
{
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, m_Filter->EnumPins(pins.put()));
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, m_Capture->EnumMediaTypes(types.put()));
    IPin* twoPins[2] = {};
    AM_MEDIA_TYPE* twoTypes[2] = {};
    ExpectEach({
        {"IEnumPins::Next(array)", [&] { return pins->Next(1, nullptr, nullptr); }, {E_POINTER}},
        {"IEnumPins::Next(2, no count)", [&] { return pins->Next(2, twoPins, nullptr); }, {E_INVALIDARG, E_POINTER}},
        {"IEnumPins::Clone", [&] { return pins->Clone(nullptr); }, {E_POINTER}},
        {"IEnumPins::Skip(huge)", [&] { return pins->Skip(0xFFFFFFFF); }, {S_FALSE}},
        {"IEnumMediaTypes::Next(array)", [&] { return types->Next(1, nullptr, nullptr); }, {E_POINTER}},
        {"IEnumMediaTypes::Next(2, no count)", [&] { return types->Next(2, twoTypes, nullptr); },
         {E_INVALIDARG, E_POINTER}},
        {"IEnumMediaTypes::Clone", [&] { return types->Clone(nullptr); }, {E_POINTER}},
        {"IEnumMediaTypes::Skip(huge)", [&] { return types->Skip(0xFFFFFFFF); }, {S_FALSE}},
    });
    EXPECT_EQ(nullptr, twoPins[0]);
    EXPECT_EQ(nullptr, twoTypes[0]);
}

TEST_F(CameraBadInputTest, ModuleEntryAndClassFactoryRefuseBadArguments)
{
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(s_Module, "DllGetClassObject")));
    ASSERT_NE(nullptr, getClassObject);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(S_OK, getClassObject(CLSID_BriscaCamera, IID_IClassFactory, factory.putVoid()));
    void* out = reinterpret_cast<void*>(1);
    ExpectEach({
        {"DllGetClassObject(no out)", [&] { return getClassObject(CLSID_BriscaCamera, IID_IClassFactory, nullptr); },
         {E_POINTER, E_INVALIDARG}},
        {"DllGetClassObject(unknown class)", [&] { return getClassObject(IID_IPin, IID_IClassFactory, &out); },
         {CLASS_E_CLASSNOTAVAILABLE}},
        {"DllGetClassObject(unknown interface)", [&] { return getClassObject(CLSID_BriscaCamera, IID_IPin, &out); },
         {E_NOINTERFACE, CLASS_E_CLASSNOTAVAILABLE}},
        {"CreateInstance(no out)", [&] { return factory->CreateInstance(nullptr, IID_IBaseFilter, nullptr); },
         {E_POINTER}},
        {"CreateInstance(aggregated, not IUnknown)",
         [&] { return factory->CreateInstance(m_Filter.get(), IID_IBaseFilter, &out); }, {CLASS_E_NOAGGREGATION, E_NOINTERFACE}},
        {"CreateInstance(unknown interface)", [&] { return factory->CreateInstance(nullptr, IID_IPropertyPage, &out); },
         {E_NOINTERFACE}},
    });
    EXPECT_EQ(nullptr, out);
}

TEST_F(CameraBadInputTest, PagesRefuseBadArguments)
{
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(s_Module, "DllGetClassObject")));
    for (const CLSID& pageClass : {CLSID_CameraSettingsPage, CLSID_FormatPage}) {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, getClassObject(pageClass, IID_IClassFactory, factory.putVoid()));
        ComPtr<IPropertyPage> page;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IPropertyPage, page.putVoid()));
        IUnknown* none[1] = {nullptr};
        IUnknown* two[2] = {m_Filter.get(), m_Filter.get()};
        // An object without the settings interface: the page shows without one.
        ComPtr<IUnknown> enumerator;
        ASSERT_EQ(S_OK, m_Filter->EnumPins(reinterpret_cast<IEnumPins**>(enumerator.put())));
        IUnknown* foreign[1] = {enumerator.get()};
        RECT rectangle = {0, 0, 100, 100};
        ExpectEach({
            {"GetPageInfo", [&] { return page->GetPageInfo(nullptr); }, {E_POINTER}},
            {"SetObjects(1, null array)", [&] { return page->SetObjects(1, nullptr); }, {E_POINTER}},
            {"SetObjects(1, null object)", [&] { return page->SetObjects(1, none); }, {E_POINTER}},
            {"SetObjects(2)", [&] { return page->SetObjects(2, two); }, {E_UNEXPECTED, E_INVALIDARG}},
            {"SetObjects(foreign)", [&] { return page->SetObjects(1, foreign); }, {E_NOINTERFACE}},
            {"SetObjects(0)", [&] { return page->SetObjects(0, nullptr); }, {S_OK}},
            {"Activate(no rectangle)", [&] { return page->Activate(nullptr, nullptr, FALSE); },
             {E_POINTER, E_INVALIDARG, E_UNEXPECTED}},
            {"Activate(no object)", [&] { return page->Activate(nullptr, &rectangle, FALSE); },
             {E_UNEXPECTED, E_FAIL, E_OUTOFMEMORY}},
            {"Show(inactive)", [&] { return page->Show(SW_SHOW); }, {E_UNEXPECTED}},
            {"Move(null)", [&] { return page->Move(nullptr); }, {E_POINTER}},
            {"Apply(no site)", [&] { return page->Apply(); }, {E_UNEXPECTED}},
            {"Help", [&] { return page->Help(nullptr); }, {E_NOTIMPL, E_POINTER}},
            {"TranslateAccelerator", [&] { return page->TranslateAccelerator(nullptr); }, {E_NOTIMPL, E_POINTER}},
            {"SetPageSite(null)", [&] { return page->SetPageSite(nullptr); }, {S_OK, E_UNEXPECTED}},
            {"Deactivate(inactive)", [&] { return page->Deactivate(); }, {S_OK, E_UNEXPECTED}},
        });
    }
}

TEST_F(CameraBadInputTest, MalformedMediaTypesAreRefusedOrCopiedNeverTrusted)
{
    auto streamConfig = Query<IAMStreamConfig>(m_Capture.get(), IID_IAMStreamConfig);
    ASSERT_TRUE(streamConfig);
    CountingRenderer* sink = new CountingRenderer(L"sink");
    for (auto& entry : MalformedTypes()) {
        SCOPED_TRACE(entry.first);
        AM_MEDIA_TYPE* type = entry.second.Type();
        // A partial type is a pattern, which the pin's own type matches; a
        // valid type with a long format block is still the pin's type.
        const bool partial = IsEqualGUID(type->formattype, GUID_NULL);
        const bool valid = type->cbFormat > sizeof(VIDEOINFOHEADER);
        if (!partial) {
            EXPECT_EQ(valid ? S_OK : S_FALSE, m_Capture->QueryAccept(type));
        }
        // Anything else is refused and leaves the pin unconnected.
        const HRESULT connected = m_Capture->Connect(sink->InputPin(), type);
        ComPtr<IPin> peer;
        if ((partial || valid) && connected == S_OK) {
            EXPECT_EQ(S_OK, m_Capture->ConnectedTo(peer.put()));
            EXPECT_EQ(S_OK, m_Capture->Disconnect());
            EXPECT_EQ(S_OK, sink->InputPin()->Disconnect());
        } else {
            EXPECT_TRUE(FAILED(connected)) << std::hex << connected;
            EXPECT_EQ(VFW_E_NOT_CONNECTED, m_Capture->ConnectedTo(peer.put()));
        }
        // The stream format refuses a type it cannot deliver and keeps its
        // own; one it can deliver becomes the offered entry of that size.
        AM_MEDIA_TYPE* before = nullptr;
        ASSERT_EQ(S_OK, streamConfig->GetFormat(&before));
        const HRESULT set = streamConfig->SetFormat(type);
        EXPECT_TRUE(set == S_OK || set == E_INVALIDARG || set == VFW_E_INVALIDMEDIATYPE) << std::hex << set;
        AM_MEDIA_TYPE* back = nullptr;
        EXPECT_EQ(S_OK, streamConfig->GetFormat(&back));
        if (back) {
            ASSERT_EQ(sizeof(VIDEOINFOHEADER), back->cbFormat);
            if (set == S_OK) {
                const VIDEOINFOHEADER* asked = reinterpret_cast<const VIDEOINFOHEADER*>(type->pbFormat);
                const VIDEOINFOHEADER* now = reinterpret_cast<const VIDEOINFOHEADER*>(back->pbFormat);
                EXPECT_EQ(asked->bmiHeader.biWidth, now->bmiHeader.biWidth);
                EXPECT_EQ(asked->bmiHeader.biHeight, now->bmiHeader.biHeight);
            } else {
                ASSERT_EQ(before->cbFormat, back->cbFormat);
                EXPECT_EQ(0, memcmp(before->pbFormat, back->pbFormat, before->cbFormat));
            }
            DeleteTypeRecord(back);
        }
        if (before) DeleteTypeRecord(before);
        auto dropped = Query<IAMDroppedFrames>(m_Capture.get(), IID_IAMDroppedFrames);
        long averageSize = -1;
        EXPECT_EQ(S_OK, dropped->GetAverageFrameSize(&averageSize));
    }
    sink->Release();
}

// A format set while stopped, then a start: the graph still streams whole
// samples, never more bytes than a sample holds.
TEST_F(CameraBadInputTest, StopChangeFormatAndRunStreamsOrRefusesCleanly)
{
    CameraGraph rig;
    ComPtr<IBaseFilter> filter = m_Filter;
    ASSERT_EQ(S_OK, rig.Build(filter.get()));
    volatile LONG oversized = 0;
    auto checkSize = [&](IMediaSample* sample) {
        if (sample->GetActualDataLength() > sample->GetSize()) InterlockedIncrement(&oversized);
    };
    rig.m_CaptureSink->SetSampleHook(checkSize);
    rig.m_PreviewSink->SetSampleHook(checkSize);
    auto streamConfig = Query<IAMStreamConfig>(m_Capture.get(), IID_IAMStreamConfig);
    ASSERT_TRUE(streamConfig);

    std::vector<std::pair<std::string, VideoType>> types = MalformedTypes();
    types.emplace_back("640 x 480", VideoType(640, 480, 24));
    for (auto& entry : types) {
        SCOPED_TRACE(entry.first);
        ASSERT_TRUE(SUCCEEDED(rig.Run()));
        EXPECT_TRUE(WaitUntil([&] { return rig.m_CaptureSink->Samples() > 0; }));
        EXPECT_EQ(S_OK, rig.Stop());
        // Set while stopped: refused, or the graph reconnects the pin with a
        // type of the pin's own choosing.
        const HRESULT set = streamConfig->SetFormat(entry.second.Type());
        EXPECT_TRUE(set == S_OK || set == E_INVALIDARG || set == VFW_E_INVALIDMEDIATYPE) << std::hex << set;
        const LONG before = rig.m_CaptureSink->Samples();
        const HRESULT ran = rig.Run();
        if (SUCCEEDED(ran)) {
            EXPECT_TRUE(WaitUntil([&] { return rig.m_CaptureSink->Samples() > before; }));
        }
        EXPECT_TRUE(SUCCEEDED(rig.Stop()));
        rig.StopEveryFilter();
        // Whatever happened, the pin can be connected and run again.
        ComPtr<IPin> peer;
        if (m_Capture->ConnectedTo(peer.put()) != S_OK) {
            ASSERT_EQ(S_OK, rig.m_Graph->ConnectDirect(m_Capture.get(), rig.m_CaptureSink->InputPin(), nullptr));
        }
    }
    EXPECT_EQ(0, oversized);
    EXPECT_TRUE(m_Boxes->ClosedTexts().empty());
    rig.Release();
}

TEST_F(CameraBadInputTest, SetFormatWhileRunningKeepsStreaming)
{
    CameraGraph rig;
    ASSERT_EQ(S_OK, rig.Build(m_Filter.get()));
    auto streamConfig = Query<IAMStreamConfig>(m_Capture.get(), IID_IAMStreamConfig);
    ASSERT_TRUE(SUCCEEDED(rig.Run()));
    ASSERT_TRUE(WaitUntil([&] { return rig.m_CaptureSink->Samples() > 2; }));
    // The pin refuses a format it cannot deliver, and one it can while it streams.
    VideoType foreign(640, 480, 24);
    EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, streamConfig->SetFormat(foreign.Type()));
    AM_MEDIA_TYPE* small = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    ASSERT_EQ(S_OK, streamConfig->GetStreamCaps(3, &small, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(VFW_E_NOT_STOPPED, streamConfig->SetFormat(small));
    DeleteTypeRecord(small);
    const LONG before = rig.m_PreviewSink->Samples();
    EXPECT_TRUE(WaitUntil([&] { return rig.m_PreviewSink->Samples() > before + 2; }));
    EXPECT_EQ(S_OK, rig.Stop());
}

// Every settings file length from 0 to 4096 bytes: the record takes the
// resolution and the stored value from the bytes that exist, and the rest
// from the caller and the camera.
TEST_F(CameraBadInputTest, SettingsFilesOfEveryLength)
{
    auto config = Query<ICameraConfig>(m_Filter.get(), IID_ICameraConfig);
    ASSERT_TRUE(config);
    std::mt19937 random(20261208);
    const unsigned int CallersValue = 0xA5A5A5A5u;
    for (size_t length = 0; length <= 4096; ++length) {
        std::vector<unsigned char> bytes(length);
        for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
        ASSERT_TRUE(WriteWholeFile(SettingsPath(), bytes));
        CameraConfig record;
        record.m_Format.m_Resolution = 9;
        record.m_Format.m_FormatValue = CallersValue;
        ASSERT_EQ(S_OK, config->GetConfig(&record)) << length;
        const unsigned char resolution = length >= 1 ? bytes[0] : 9;
        ASSERT_EQ(resolution, record.m_Format.m_Resolution) << length;
        // Bytes 17 to 20 hold the stored value; a file that ends inside it
        // replaces only its leading bytes.
        unsigned int expected = CallersValue;
        for (size_t i = 0; i < 4 && 17 + i < length; ++i) {
            expected &= ~(0xFFu << (8 * i));
            expected |= static_cast<unsigned int>(bytes[17 + i]) << (8 * i);
        }
        ASSERT_EQ(expected, record.m_Format.m_FormatValue) << length;
        for (unsigned int word : record.m_Format.m_FormatWords) ASSERT_EQ(0u, word) << length;
        // Camera settings come from the camera, never from the file.
        ASSERT_EQ(100u, record.m_RedGain) << length;
        ASSERT_EQ(1, record.m_AeState) << length;
    }
}

TEST_F(CameraBadInputTest, RandomSettingsFilesAndRecordsNeverStopTheCamera)
{
    auto config = Query<ICameraConfig>(m_Filter.get(), IID_ICameraConfig);
    ASSERT_TRUE(config);
    std::mt19937 random(51);
    const int Contents = 10000;
    for (int round = 0; round < Contents; ++round) {
        std::vector<unsigned char> bytes(round % 3 == 0 ? 51 : random() % 128);
        for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(random());
        ASSERT_TRUE(WriteWholeFile(SettingsPath(), bytes));
        CameraConfig record;
        ASSERT_EQ(S_OK, config->GetConfig(&record)) << round;
        if (!bytes.empty()) {
            ASSERT_EQ(bytes[0], record.m_Format.m_Resolution) << round;
        }
    }

    // A record of random bytes goes to the file as 51 bytes and to the
    // camera; a resolution the camera does not know opens its largest.
    CameraGraph rig;
    ASSERT_EQ(S_OK, rig.Build(m_Filter.get()));
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        CameraConfig record;
        record.m_Format.m_Resolution = static_cast<unsigned char>(4 + random() % 252);
        record.m_Format.m_FormatValue = random();
        record.m_RedGain = random();
        record.m_GreenGain = random();
        record.m_BlueGain = random();
        record.m_Gamma = static_cast<unsigned char>(random());
        record.m_Contrast = static_cast<unsigned char>(random());
        record.m_Saturation = static_cast<unsigned char>(random());
        record.m_ColorEnhancement = static_cast<int>(random());
        record.m_AeState = static_cast<int>(random());
        record.m_Target = static_cast<unsigned char>(random());
        record.m_ExposureTime = random();
        record.m_AnalogGain = static_cast<unsigned short>(random());
        ASSERT_EQ(S_OK, config->SetConfig(&record));
        EXPECT_EQ(51u, ReadWholeFile(SettingsPath()).size());
        ASSERT_TRUE(SUCCEEDED(rig.Run()));
        EXPECT_TRUE(WaitUntil([&] { return rig.m_PreviewSink->Samples() > round; }));
        EXPECT_EQ(S_OK, rig.Stop());
    }
    EXPECT_TRUE(m_Boxes->ClosedTexts().empty());
}

}  // namespace
