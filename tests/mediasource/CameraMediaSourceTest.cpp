// The media source read through the platform's source reader, as an app
// reads it, and driven directly where the reader has no say: its formats, the
// pictures and stamps of its samples, its events through start, pause, restart
// and stop, a change of type, shutdown in the middle of reading, the
// interfaces a frame server asks for, and a camera that is not there for it:
// held by the filter (and the other way round), failing to open, stalling.
// Each test runs with Media Foundation in the multithreaded apartment, a fresh
// simulated camera and a private settings folder, shows no message box it
// does not expect, and leaves no object of the module behind.
#include <gtest/gtest.h>

#include "mediasource/MediaFoundation.h"
#include <dshow.h>
#include <devicetopology.h>
#include <mfreadwrite.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "camera/CameraFilter.h"
#include "camera/SettingsFile.h"
#include "mediasource/CameraMediaSource.h"
#include "mediasource/MediaSourceClass.h"
#include "sdk/QuillonSim.h"
#include "tests/support/GraphFixture.h"
#include "tests/support/IsolatedTempDirectory.h"
#include "tests/support/MediaFoundationSession.h"
#include "tests/support/MessageBoxWatcher.h"
#include "tests/support/ProcessCounters.h"
#include "tests/support/SimCallLog.h"
#include "tests/support/SimPicture.h"

#include <set>

namespace {

using Events = std::vector<MediaEventType>;

// A sample as the test saw it; `arrival` is the real time it came, in 100 ns units.
struct ReadFrame {
    HRESULT result = E_FAIL;
    DWORD flags = 0;
    LONGLONG time = 0, duration = 0, arrival = 0;
    std::vector<unsigned char> bytes;
    ComPtr<IUnknown> token;
    const void* sample = nullptr; // which sample it was, to compare with an allocator's
};

// Y, U and V of the bars (white, yellow, cyan, green, magenta, red, blue), as
// FrameConversionTest works them out; the background's Y is 30.
const int BarYuv[7][3] = {{235, 128, 128}, {210, 16, 146}, {169, 166, 16}, {144, 54, 34},
                          {107, 202, 222}, {82, 90, 240},  {41, 240, 110}};

// Y, U, V (of the 2 x 2 block) for NV12; blue, green, red (and X) for RGB.
std::vector<int> ValuesAt(const StreamFormat& format, const std::vector<unsigned char>& bytes, int x, int y)
{
    const size_t stride = static_cast<size_t>(format.Stride());
    if (format.pixels == PixelFormat::Nv12) {
        const size_t chroma = stride * (format.Height() + y / 2) + (x & ~1);
        return {bytes[stride * y + x], bytes[chroma], bytes[chroma + 1]};
    }
    const int size = format.pixels == PixelFormat::Rgb32 ? 4 : 3;
    const unsigned char* at = &bytes[stride * y + static_cast<size_t>(size) * x];
    return std::vector<int>(at, at + size);
}

ReadFrame CopySample(IMFSample* sample, HRESULT result = S_OK, DWORD flags = 0)
{
    ReadFrame frame;
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    frame.arrival = static_cast<LONGLONG>(double(now.QuadPart) * 1e7 / double(frequency.QuadPart));
    frame.result = result;
    frame.flags = flags;
    frame.sample = sample;
    ComPtr<IMFMediaBuffer> buffer;
    if (!sample || FAILED(sample->ConvertToContiguousBuffer(buffer.put()))) return frame;
    sample->GetSampleTime(&frame.time);
    sample->GetSampleDuration(&frame.duration);
    sample->GetUnknown(MFSampleExtension_Token, IID_IUnknown, frame.token.putVoid());
    BYTE* data = nullptr;
    DWORD length = 0;
    if (SUCCEEDED(buffer->Lock(&data, nullptr, &length))) {
        frame.bytes.assign(data, data + length);
        buffer->Unlock();
    }
    return frame;
}

ReadFrame ReadOneFrame(IMFSourceReader* reader)
{
    DWORD stream = 0, flags = 0;
    LONGLONG time = 0;
    ComPtr<IMFSample> sample;
    const HRESULT result =
        reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, &stream, &flags, &time, sample.put());
    return CopySample(sample.get(), result, flags);
}

// The resolution index of the last CameraInit, or -1.
long long LastOpenedResolution()
{
    long long resolution = -1;
    for (const QuillonSimCall& call : SimCallRecords())
        if (strcmp(call.function, "CameraInit") == 0) resolution = call.args[1];
    return resolution;
}

// Every bar of the simulated picture in its colour at the top and in the
// middle of the bars, and the dark background at the bottom.
testing::AssertionResult ShowsSimBars(const StreamFormat& format, const std::vector<unsigned char>& bytes)
{
    if (bytes.size() != format.FrameBytes()) return testing::AssertionFailure() << bytes.size() << " bytes";
    const bool nv12 = format.pixels == PixelFormat::Nv12;
    std::vector<std::pair<POINT, std::vector<int>>> expected;
    for (int bar = 0; bar < 7; ++bar) {
        const SimPixel colour = SimBarColour(bar);
        std::vector<int> want = {colour.blue, colour.green, colour.red};
        if (nv12) want.assign(BarYuv[bar], BarYuv[bar] + 3);
        if (format.pixels == PixelFormat::Rgb32) want.push_back(255);
        const LONG x = (2 * bar + 1) * format.Width() / 14;
        expected.push_back({{x, 0}, want});
        expected.push_back({{x, format.Height() / 3}, want});
    }
    const POINT bottom = {format.Width() / 2, format.Height() - 1};
    expected.push_back({bottom, ValuesAt(format, bytes, bottom.x, bottom.y)});
    expected.back().second[0] = nv12 ? 30 : 16; // the background: Y 30, or blue 16
    for (const auto& point : expected) {
        const std::vector<int> got = ValuesAt(format, bytes, point.first.x, point.first.y);
        if (got != point.second)
            return testing::AssertionFailure()
                   << "at (" << point.first.x << ", " << point.first.y << ") " << testing::PrintToString(got)
                   << " instead of " << testing::PrintToString(point.second);
    }
    return testing::AssertionSuccess();
}

// Stamps strictly increase, at the pace of the arrivals within 5 %.
void ExpectTimesFollowRealTime(const std::vector<ReadFrame>& frames)
{
    ASSERT_GE(frames.size(), 10u);
    double meanArrival = 0, meanTime = 0, covariance = 0, variance = 0;
    for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(i == 0 || frames[i].time > frames[i - 1].time) << "sample " << i;
        meanArrival += double(frames[i].arrival - frames[0].arrival) / frames.size();
        meanTime += double(frames[i].time - frames[0].time) / frames.size();
    }
    for (const ReadFrame& frame : frames) {
        const double arrival = double(frame.arrival - frames[0].arrival) - meanArrival;
        covariance += arrival * (double(frame.time - frames[0].time) - meanTime);
        variance += arrival * arrival;
    }
    EXPECT_NEAR(1.0, covariance / variance, 0.05);
}

std::vector<MediaEventType> TakeEvents(IMFMediaEventGenerator* generator)
{
    std::vector<MediaEventType> types;
    ComPtr<IMFMediaEvent> event;
    while (generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, event.put()) == S_OK) {
        types.push_back(MEUnknown);
        event->GetType(&types.back());
    }
    return types;
}

// The next event of `type`, passing over others; null after the time limit.
ComPtr<IMFMediaEvent> WaitForEvent(IMFMediaEventGenerator* generator, MediaEventType type, DWORD ms = 5000)
{
    const DWORD start = GetTickCount();
    ComPtr<IMFMediaEvent> event;
    for (;;) {
        const HRESULT got = generator->GetEvent(MF_EVENT_FLAG_NO_WAIT, event.put());
        MediaEventType found = MEUnknown;
        if (got == S_OK && SUCCEEDED(event->GetType(&found)) && found == type) return event;
        if (got == S_OK) continue;
        if (got != MF_E_NO_EVENTS_AVAILABLE || GetTickCount() - start > ms) return ComPtr<IMFMediaEvent>();
        Sleep(5);
    }
}

ReadFrame WaitForSample(IMFMediaEventGenerator* stream)
{
    ComPtr<IMFMediaEvent> event = WaitForEvent(stream, MEMediaSample);
    PROPVARIANT value;
    PropVariantInit(&value);
    if (event) event->GetValue(&value);
    ComPtr<IMFSample> sample;
    if (value.vt == VT_UNKNOWN) value.punkVal->QueryInterface(IID_IMFSample, sample.putVoid());
    PropVariantClear(&value);
    return CopySample(sample.get(), sample ? S_OK : E_FAIL);
}

// A start position: VT_I8 at `time`, or VT_EMPTY for a negative time.
PROPVARIANT Position(LONGLONG time = -1)
{
    PROPVARIANT position;
    PropVariantInit(&position);
    if (time >= 0) {
        position.vt = VT_I8;
        position.hVal.QuadPart = time;
    }
    return position;
}

// An asynchronous reader's callback; it keeps the answers.
class ReadCallback : public IMFSourceReaderCallback {
  public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        *out = (iid == IID_IUnknown || iid == IID_IMFSourceReaderCallback) ? this : nullptr;
        return *out ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // lives on the test's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP OnReadSample(HRESULT status, DWORD, DWORD flags, LONGLONG, IMFSample* sample) override
    {
        ReadFrame frame = CopySample(sample, status, flags);
        ScopedLock lock(&m_Lock);
        m_Answers.push_back(std::move(frame));
        return S_OK;
    }
    STDMETHODIMP OnFlush(DWORD) override
    {
        ScopedLock lock(&m_Lock);
        m_Flushed = true;
        return S_OK;
    }
    STDMETHODIMP OnEvent(DWORD, IMFMediaEvent*) override { return S_OK; }

    // Asks `reader` for one sample and waits for its answer.
    bool ReadOne(IMFSourceReader* reader)
    {
        const size_t before = Answers().size();
        if (FAILED(reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr, nullptr,
                                      nullptr)))
            return false;
        return WaitUntil([&] { return Answers().size() > before; });
    }
    std::vector<ReadFrame> Answers()
    {
        ScopedLock lock(&m_Lock);
        return m_Answers;
    }
    bool Flushed()
    {
        ScopedLock lock(&m_Lock);
        return m_Flushed;
    }

  private:
    CriticalLock m_Lock;
    std::vector<ReadFrame> m_Answers;
    bool m_Flushed = false;
};

class MediaSourceTest : public testing::Test {
  protected:
    void SetUp() override
    {
        m_Session.reset(new MediaFoundationSession());
        ASSERT_EQ(S_OK, m_Session->Result());
        SimReset();
        m_Temp.reset(new IsolatedTempDirectory());
        m_Boxes.reset(new MessageBoxWatcher());
        m_LiveBefore = LiveObjectCount;
    }
    void TearDown() override
    {
        if (m_Source) m_Source->Shutdown();
        m_Stream.reset();
        m_Presentation.reset();
        m_Source.reset();
        EXPECT_EQ(m_ExpectedBoxes, m_Boxes->ClosedTexts());
        // A released reader lets its source go from a thread of its own.
        EXPECT_TRUE(WaitUntil([&] { return LiveObjectCount == m_LiveBefore; }, 3000))
            << LiveObjectCount - m_LiveBefore << " module objects left behind";
        m_Boxes.reset();
        SimReset();
        m_Temp.reset();
        m_Session.reset();
    }

    ComPtr<IMFMediaSource> NewSource()
    {
        HRESULT result = E_UNEXPECTED;
        ObjectBase* object = CameraMediaSource::Create(nullptr, nullptr, &result);
        EXPECT_EQ(S_OK, result);
        ComPtr<IMFMediaSource> source;
        if (object) object->InnerQueryInterface(IID_IMFMediaSource, source.putVoid());
        return source;
    }
    ComPtr<IMFSourceReader> NewReader(IMFMediaSource* source, IMFSourceReaderCallback* callback = nullptr)
    {
        ComPtr<IMFAttributes> attributes;
        MFCreateAttributes(attributes.put(), 1);
        if (callback) attributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, callback);
        ComPtr<IMFSourceReader> reader;
        EXPECT_EQ(S_OK, MFCreateSourceReaderFromMediaSource(source, attributes.get(), reader.put()));
        return reader;
    }
    // m_Source, its stream's current type set to `format`.
    void CreateDirect(const StreamFormat& format)
    {
        m_Source = NewSource();
        ASSERT_EQ(S_OK, m_Source->CreatePresentationDescriptor(m_Presentation.put()));
        SelectFormat(format);
    }
    void SelectFormat(const StreamFormat& format)
    {
        BOOL selected = FALSE;
        ComPtr<IMFStreamDescriptor> stream;
        ComPtr<IMFMediaTypeHandler> handler;
        ComPtr<IMFMediaType> type;
        ASSERT_EQ(S_OK, m_Presentation->GetStreamDescriptorByIndex(0, &selected, stream.put()));
        ASSERT_EQ(S_OK, stream->GetMediaTypeHandler(handler.put()));
        ASSERT_EQ(S_OK, CreateStreamMediaType(format, type.put()));
        ASSERT_EQ(S_OK, handler->SetCurrentMediaType(type.get()));
    }
    // Starts m_Source (from `position` when not negative); the first start
    // takes the stream from MENewStream.
    void StartDirect(LONGLONG position = -1)
    {
        const PROPVARIANT start = Position(position);
        ASSERT_EQ(S_OK, m_Source->Start(m_Presentation.get(), nullptr, &start));
        ComPtr<IMFMediaEvent> announced;
        if (!m_Stream) announced = WaitForEvent(m_Source.get(), MENewStream);
        PROPVARIANT value;
        PropVariantInit(&value);
        if (announced && SUCCEEDED(announced->GetValue(&value)) && value.vt == VT_UNKNOWN)
            value.punkVal->QueryInterface(IID_IMFMediaStream, m_Stream.putVoid());
        PropVariantClear(&value);
        ASSERT_TRUE(m_Stream);
    }
    ReadFrame RequestFrame(IUnknown* token = nullptr)
    {
        ReadFrame refused;
        refused.result = m_Stream->RequestSample(token);
        return FAILED(refused.result) ? refused : WaitForSample(m_Stream.get());
    }

    ComPtr<IMFMediaSource> m_Source;
    ComPtr<IMFPresentationDescriptor> m_Presentation;
    ComPtr<IMFMediaStream> m_Stream;
    std::vector<std::string> m_ExpectedBoxes; // the filter's, where a test provokes them
    std::unique_ptr<MediaFoundationSession> m_Session;
    std::unique_ptr<IsolatedTempDirectory> m_Temp;
    std::unique_ptr<MessageBoxWatcher> m_Boxes;
    LONG m_LiveBefore = 0;
};

StreamFormat Format(int resolution, PixelFormat pixels)
{
    StreamFormat format;
    format.resolution = resolution;
    format.pixels = pixels;
    return format;
}

UINT64 Value(IMFAttributes* attributes, REFGUID key)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    attributes->GetItem(key, &value);
    const UINT64 number = value.vt == VT_UI4 ? value.ulVal : value.vt == VT_UI8 ? value.uhVal.QuadPart : 0;
    PropVariantClear(&value);
    return number;
}

UINT64 Pair(UINT64 high, UINT64 low)
{
    return (high << 32) | low;
}

void ExpectDeviceStream(IMFAttributes* attributes)
{
    GUID category = GUID_NULL;
    attributes->GetGUID(DeviceStream::CategoryKey, &category);
    EXPECT_TRUE(category == DeviceStream::VideoCaptureCategory);
    EXPECT_EQ(0u, Value(attributes, DeviceStream::StreamIdKey));
    EXPECT_EQ(1u, Value(attributes, DeviceStream::FrameServerSharedKey));
    EXPECT_EQ(1u, Value(attributes, DeviceStream::FrameSourceTypesKey));
}

ComPtr<IUnknown> NewToken()
{
    ComPtr<IMFAttributes> token;
    MFCreateAttributes(token.put(), 0);
    return ComPtr<IUnknown>(token.detach());
}

// The platform's video sample allocator, noting what the source asks of it:
// the type it is initialised for and every sample it hands out (its own
// free-sample count is not reliable under Wine).
class NotingAllocator : public IMFVideoSampleAllocatorEx {
  public:
    explicit NotingAllocator(IMFVideoSampleAllocatorEx* platform)
        : m_Platform(ComPtr<IMFVideoSampleAllocatorEx>::share(platform))
    {
    }
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        const bool known =
            iid == IID_IUnknown || iid == IID_IMFVideoSampleAllocator || iid == IID_IMFVideoSampleAllocatorEx;
        *out = known ? this : nullptr;
        if (known) AddRef();
        return known ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_References); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_References); } // on the stack
    STDMETHODIMP SetDirectXManager(IUnknown* manager) override
    {
        return m_Platform->SetDirectXManager(manager);
    }
    STDMETHODIMP UninitializeSampleAllocator() override { return m_Platform->UninitializeSampleAllocator(); }
    STDMETHODIMP InitializeSampleAllocator(DWORD count, IMFMediaType* type) override
    {
        return InitializeSampleAllocatorEx(count, count, nullptr, type);
    }
    STDMETHODIMP InitializeSampleAllocatorEx(DWORD initial, DWORD maximum, IMFAttributes* attributes,
                                             IMFMediaType* type) override
    {
        ScopedLock lock(&m_Lock);
        ++m_Initialisations;
        FindStreamFormat(type, &m_Format);
        return m_Platform->InitializeSampleAllocatorEx(initial, maximum, attributes, type);
    }
    STDMETHODIMP AllocateSample(IMFSample** sample) override
    {
        const HRESULT result = m_Platform->AllocateSample(sample);
        ScopedLock lock(&m_Lock);
        if (SUCCEEDED(result)) m_Handed.insert(*sample);
        return result;
    }

    bool Handed(const void* sample)
    {
        ScopedLock lock(&m_Lock);
        return m_Handed.count(sample) != 0;
    }
    // How often it was initialised, and for what.
    std::pair<int, StreamFormat> Initialised()
    {
        ScopedLock lock(&m_Lock);
        return {m_Initialisations, m_Format};
    }
    LONG References() const { return m_References; }

  private:
    ComPtr<IMFVideoSampleAllocatorEx> m_Platform;
    volatile LONG m_References = 1;
    CriticalLock m_Lock;
    std::set<const void*> m_Handed;
    int m_Initialisations = 0;
    StreamFormat m_Format;
};

// The time an event carries (VT_I8), or -1.
LONGLONG EventTime(IMFMediaEvent* event)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    if (!event || FAILED(event->GetValue(&value)) || value.vt != VT_I8) return -1;
    return value.hVal.QuadPart;
}

FrameServer::StreamState StateOf(FrameServer::IMFMediaStream2* stream)
{
    FrameServer::StreamState state = FrameServer::StreamState(-1);
    stream->GetStreamState(&state);
    return state;
}

// The module itself, loaded as the frame server's process loads it.
struct LoadedModule {
    UniqueLibrary library{LoadLibraryW(L"QuillonFilter.dll")};
    HRESULT(STDAPICALLTYPE* getClassObject)
    (REFCLSID, REFIID,
     void**) = library.find<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>("DllGetClassObject");
    HRESULT(STDAPICALLTYPE* canUnloadNow)() = library.find<HRESULT(STDAPICALLTYPE*)()>("DllCanUnloadNow");
};

TEST_F(MediaSourceTest, ListsEveryFormatNativelyWithItsAttributes)
{
    // The stored size first, then the others largest first.
    const struct {
        const GUID* subtype;
        UINT64 width, height, stride, bytes;
    } expected[] = {
        {&MFVideoFormat_NV12, 1280, 960, 1280, 1843200},
        {&MFVideoFormat_RGB32, 1280, 960, 5120, 4915200},
        {&MFVideoFormat_RGB24, 1280, 960, 3840, 3686400},
        {&MFVideoFormat_NV12, 3032, 2016, 3032, 9168768},
        {&MFVideoFormat_RGB32, 3032, 2016, 12128, 24450048},
        {&MFVideoFormat_RGB24, 3032, 2016, 9096, 18337536},
        {&MFVideoFormat_NV12, 1600, 1200, 1600, 2880000},
        {&MFVideoFormat_RGB32, 1600, 1200, 6400, 7680000},
        {&MFVideoFormat_RGB24, 1600, 1200, 4800, 5760000},
        {&MFVideoFormat_NV12, 800, 600, 800, 720000},
        {&MFVideoFormat_RGB32, 800, 600, 3200, 1920000},
        {&MFVideoFormat_RGB24, 800, 600, 2400, 1440000},
    };
    CameraConfig stored;
    stored.m_Format.m_Resolution = 2;
    ASSERT_EQ(1, WriteSettingsFile(stored));
    CreateDirect(Format(2, PixelFormat::Nv12));
    ComPtr<IMFSourceReader> reader = NewReader(m_Source.get());
    for (DWORD index = 0; index <= 12; ++index) {
        SCOPED_TRACE(index);
        ComPtr<IMFMediaType> type;
        const HRESULT listed =
            reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, type.put());
        ASSERT_EQ(index < 12 ? S_OK : MF_E_NO_MORE_TYPES, listed);
        if (index == 12) break;
        GUID major = GUID_NULL, subtype = GUID_NULL;
        type->GetGUID(MF_MT_MAJOR_TYPE, &major);
        type->GetGUID(MF_MT_SUBTYPE, &subtype);
        EXPECT_TRUE(major == MFMediaType_Video && subtype == *expected[index].subtype);
        EXPECT_EQ(Pair(expected[index].width, expected[index].height), Value(type.get(), MF_MT_FRAME_SIZE));
        EXPECT_EQ(Pair(30, 1), Value(type.get(), MF_MT_FRAME_RATE));
        EXPECT_EQ(expected[index].stride, Value(type.get(), MF_MT_DEFAULT_STRIDE));
        EXPECT_EQ(UINT64(MFVideoInterlace_Progressive), Value(type.get(), MF_MT_INTERLACE_MODE));
        EXPECT_EQ(1u, Value(type.get(), MF_MT_ALL_SAMPLES_INDEPENDENT));
        EXPECT_EQ(1u, Value(type.get(), MF_MT_FIXED_SIZE_SAMPLES));
        EXPECT_EQ(expected[index].bytes, Value(type.get(), MF_MT_SAMPLE_SIZE));
        EXPECT_EQ(Pair(1, 1), Value(type.get(), MF_MT_PIXEL_ASPECT_RATIO));
    }

    // A fresh source's current type is NV12 at the size the settings choose.
    ComPtr<IMFPresentationDescriptor> presentation;
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> stream;
    ComPtr<IMFMediaTypeHandler> handler;
    ComPtr<IMFMediaType> current;
    ASSERT_EQ(S_OK, NewSource()->CreatePresentationDescriptor(presentation.put()));
    ASSERT_EQ(S_OK, presentation->GetStreamDescriptorByIndex(0, &selected, stream.put()));
    ASSERT_EQ(S_OK, stream->GetMediaTypeHandler(handler.put()));
    ASSERT_EQ(S_OK, handler->GetCurrentMediaType(current.put()));
    EXPECT_TRUE(selected);
    EXPECT_EQ(Pair(1280, 960), Value(current.get(), MF_MT_FRAME_SIZE));
    ExpectDeviceStream(stream.get());
    ComPtr<IMFMediaSourceEx> extended;
    ComPtr<IMFAttributes> streamAttributes;
    ASSERT_EQ(S_OK, m_Source->QueryInterface(IID_IMFMediaSourceEx, extended.putVoid()));
    ASSERT_EQ(S_OK, extended->GetStreamAttributes(0, streamAttributes.put()));
    ExpectDeviceStream(streamAttributes.get());
    EXPECT_EQ(MF_E_INVALIDSTREAMNUMBER, extended->GetStreamAttributes(1, streamAttributes.put()));
    DWORD characteristics = 0;
    EXPECT_EQ(S_OK, m_Source->GetCharacteristics(&characteristics));
    EXPECT_EQ(DWORD(MFMEDIASOURCE_IS_LIVE | MFMEDIASOURCE_CAN_PAUSE), characteristics);
}

TEST_F(MediaSourceTest, ReadsSixtyFramesInEveryFormatFromACameraOpenedAtItsSize)
{
    SimSetFrameRate(60); // twice the camera's rate keeps the twelve runs short
    for (int index = 0; index < StreamFormatCount(); ++index) {
        const StreamFormat format = StreamFormatAt(index);
        SCOPED_TRACE(testing::Message() << format.Width() << " wide, format " << int(format.pixels));
        ComPtr<IMFSourceReader> reader = NewReader(NewSource().get());
        ComPtr<IMFMediaType> type;
        ASSERT_EQ(S_OK, reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, type.put()));
        ASSERT_EQ(S_OK,
                  reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.get()));
        std::vector<ReadFrame> frames;
        for (int read = 0; read < 60; ++read) {
            frames.push_back(ReadOneFrame(reader.get()));
            ASSERT_EQ(S_OK, frames.back().result);
            ASSERT_EQ(0u, frames.back().flags);
            ASSERT_EQ(CameraFrameInterval, frames.back().duration);
            ASSERT_TRUE(ShowsSimBars(format, frames.back().bytes)) << "read " << read;
        }
        EXPECT_EQ(format.resolution, LastOpenedResolution());
        EXPECT_LT(frames.front().time, 10000000) << "stamped from the start";
        ExpectTimesFollowRealTime(frames);
    }
}

// Wine's reader takes the first listed type for the current one and sets
// nothing when it is chosen again; the source lists its current type first.
TEST_F(MediaSourceTest, TheTypeSetBeforeTheFirstReadHoldsWhateverTheStoredResolution)
{
    CameraConfig stored;
    stored.m_Format.m_Resolution = 3;
    ASSERT_EQ(1, WriteSettingsFile(stored));
    for (const StreamFormat& chosen : {Format(3, PixelFormat::Nv12), Format(0, PixelFormat::Nv12)}) {
        SCOPED_TRACE(chosen.Width());
        ComPtr<IMFSourceReader> reader = NewReader(NewSource().get());
        ComPtr<IMFMediaType> type;
        StreamFormat listed;
        for (DWORD index = 0; !type || listed != chosen; ++index) {
            ASSERT_EQ(S_OK,
                      reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, index, type.put()));
            ASSERT_TRUE(FindStreamFormat(type.get(), &listed));
        }
        ASSERT_EQ(S_OK,
                  reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.get()));
        for (int read = 0; read < 20; ++read) {
            const ReadFrame frame = ReadOneFrame(reader.get());
            ASSERT_EQ(S_OK, frame.result);
            ASSERT_TRUE(ShowsSimBars(chosen, frame.bytes)) << "read " << read;
        }
        EXPECT_EQ(chosen.resolution, LastOpenedResolution());
    }
}

TEST_F(MediaSourceTest, AsynchronousReadsFollowRealTimeAndGoOnAfterAFlush)
{
    ReadCallback callback;
    ComPtr<IMFSourceReader> reader = NewReader(NewSource().get(), &callback);
    ComPtr<IMFMediaType> type;
    ASSERT_EQ(S_OK, reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 10, type.put()));
    ASSERT_EQ(S_OK, reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.get()));
    for (int read = 0; read < 45; ++read)
        ASSERT_TRUE(callback.ReadOne(reader.get()));
    const std::vector<ReadFrame> answers = callback.Answers();
    for (const ReadFrame& answer : answers)
        ASSERT_TRUE(ShowsSimBars(Format(3, PixelFormat::Rgb32), answer.bytes));
    ExpectTimesFollowRealTime(answers);

    ASSERT_EQ(S_OK,
              reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(S_OK, reader->Flush(MF_SOURCE_READER_FIRST_VIDEO_STREAM));
    EXPECT_TRUE(WaitUntil([&] { return callback.Flushed(); }));
    ASSERT_TRUE(callback.ReadOne(reader.get()));
    EXPECT_EQ(S_OK, callback.Answers().back().result);
    EXPECT_GT(callback.Answers().back().time, answers.back().time);
}

TEST_F(MediaSourceTest, StartPauseRestartAndStopSendTheirEventsAndKeepTheTimeLine)
{
    // Requests made before the first frame are answered in order, each with
    // its token and a frame of its own.
    SimPauseFrames(1);
    CreateDirect(Format(3, PixelFormat::Rgb24));
    StartDirect();
    EXPECT_EQ(Events{MESourceStarted}, TakeEvents(m_Source.get()));
    const ComPtr<IUnknown> tokens[] = {NewToken(), NewToken(), NewToken()};
    for (const ComPtr<IUnknown>& token : tokens)
        ASSERT_EQ(S_OK, m_Stream->RequestSample(token.get()));
    Sleep(200);
    EXPECT_EQ(Events{MEStreamStarted}, TakeEvents(m_Stream.get()));
    SimPauseFrames(0);
    std::vector<ReadFrame> frames;
    for (const ComPtr<IUnknown>& token : tokens) {
        frames.push_back(WaitForSample(m_Stream.get()));
        EXPECT_EQ(token.get(), frames.back().token.get());
        EXPECT_TRUE(ShowsSimBars(Format(3, PixelFormat::Rgb24), frames.back().bytes));
    }
    EXPECT_TRUE(frames[0].time < frames[1].time && frames[1].time < frames[2].time);

    // Paused, the camera runs on but requests wait for the next start, which
    // continues the time line.
    ASSERT_EQ(S_OK, m_Source->Pause());
    EXPECT_EQ(MF_E_INVALID_STATE_TRANSITION, m_Source->Pause());
    EXPECT_EQ(Events{MESourcePaused}, TakeEvents(m_Source.get()));
    ASSERT_EQ(S_OK, m_Stream->RequestSample(nullptr));
    Sleep(300);
    EXPECT_EQ(Events{MEStreamPaused}, TakeEvents(m_Stream.get()));
    EXPECT_EQ(1, SimIsPlaying());
    // A position while paused or started is refused: the source cannot seek.
    const PROPVARIANT zero = Position(0);
    EXPECT_EQ(MF_E_INVALIDREQUEST, m_Source->Start(m_Presentation.get(), nullptr, &zero));
    StartDirect();
    EXPECT_EQ(MF_E_INVALIDREQUEST, m_Source->Start(m_Presentation.get(), nullptr, &zero));
    EXPECT_EQ((Events{MEUpdatedStream, MESourceStarted}), TakeEvents(m_Source.get()));
    EXPECT_GT(WaitForSample(m_Stream.get()).time, frames[2].time + 2000000) << "300 ms later";

    // Stopped: a waiting request is dropped, no sample follows, the camera
    // closes. With frames held back, a frame already there may answer one of
    // the two requests; the other one waits.
    SimPauseFrames(1);
    Sleep(100);
    ASSERT_EQ(S_OK, m_Stream->RequestSample(nullptr));
    ASSERT_EQ(S_OK, m_Stream->RequestSample(nullptr));
    ASSERT_EQ(S_OK, m_Source->Stop());
    SimPauseFrames(0);
    Sleep(300);
    EXPECT_EQ(Events{MESourceStopped}, TakeEvents(m_Source.get()));
    EXPECT_EQ(MEStreamStopped, TakeEvents(m_Stream.get()).back());
    EXPECT_EQ(MF_E_MEDIA_SOURCE_WRONGSTATE, m_Stream->RequestSample(nullptr));
    EXPECT_EQ(0, SimIsInitialised());

    // Started again at a position: a new time line from there.
    StartDirect(50000000);
    PROPVARIANT value;
    PropVariantInit(&value);
    ComPtr<IMFMediaEvent> started = WaitForEvent(m_Source.get(), MESourceStarted, 0);
    ASSERT_TRUE(started && SUCCEEDED(started->GetValue(&value)));
    EXPECT_EQ(50000000, value.hVal.QuadPart);
    const LONGLONG restarted = RequestFrame().time;
    EXPECT_TRUE(restarted >= 50000000 && restarted < 60000000) << restarted;
}

TEST_F(MediaSourceTest, AnotherTypeTakesEffectAtTheNextStartAndOpensTheCameraAtItsSize)
{
    CameraConfig stored;
    stored.m_Format.m_Resolution = 2;
    ASSERT_EQ(1, WriteSettingsFile(stored));
    CreateDirect(Format(3, PixelFormat::Nv12));
    StartDirect();
    EXPECT_TRUE(ShowsSimBars(Format(3, PixelFormat::Nv12), RequestFrame().bytes));
    SelectFormat(Format(1, PixelFormat::Rgb24)); // another size: the camera opens again
    StartDirect();
    EXPECT_TRUE(ShowsSimBars(Format(1, PixelFormat::Rgb24), RequestFrame().bytes));
    EXPECT_EQ(1, LastOpenedResolution());
    SelectFormat(Format(1, PixelFormat::Rgb32)); // the same size: the camera stays open
    StartDirect();
    EXPECT_TRUE(ShowsSimBars(Format(1, PixelFormat::Rgb32), RequestFrame().bytes));
    EXPECT_EQ(2, SimCallCount("CameraInit"));
    // The settings file, rewritten by each opening, keeps the resolution the user chose.
    CameraConfig after;
    ASSERT_EQ(1, ReadSettingsFile(after));
    EXPECT_EQ(2, after.m_Format.m_Resolution);
}

TEST_F(MediaSourceTest, ShutdownInTheMiddleOfReadingEndsEverythingAndEveryCallAnswersShutDown)
{
    // A read in flight through an asynchronous reader: it is never answered.
    ComPtr<IMFMediaSource> source = NewSource();
    ReadCallback callback;
    ComPtr<IMFSourceReader> reader = NewReader(source.get(), &callback);
    ASSERT_TRUE(callback.ReadOne(reader.get()));
    SimPauseFrames(1);
    Sleep(200);
    reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr, nullptr, nullptr);
    reader->ReadSample(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 0, nullptr, nullptr, nullptr, nullptr);
    const DWORD started = GetTickCount();
    EXPECT_EQ(S_OK, source->Shutdown());
    EXPECT_LT(GetTickCount() - started, 1000u);
    EXPECT_EQ(0, SimIsInitialised());
    SimPauseFrames(0);
    Sleep(300);
    EXPECT_LE(callback.Answers().size(), 2u) << "at most a frame already there";
    reader.reset();

    // A synchronous reader reports it.
    source = NewSource();
    reader = NewReader(source.get());
    ASSERT_EQ(S_OK, ReadOneFrame(reader.get()).result);
    ASSERT_EQ(S_OK, source->Shutdown());
    EXPECT_EQ(MF_E_SHUTDOWN, ReadOneFrame(reader.get()).result);

    CreateDirect(Format(3, PixelFormat::Nv12));
    StartDirect();
    ASSERT_EQ(S_OK, m_Stream->RequestSample(nullptr));
    ASSERT_EQ(S_OK, m_Source->Shutdown());
    const PROPVARIANT position = Position();
    ComPtr<IKsControl> control;
    ASSERT_EQ(S_OK, m_Source->QueryInterface(KsControlInterfaceId, control.putVoid()));
    DWORD characteristics = 0;
    ComPtr<IMFMediaEvent> event;
    ComPtr<IMFMediaSource> owner;
    KSPROPERTY property = {};
    ULONG returned = 0;
    for (HRESULT answer : {m_Source->GetCharacteristics(&characteristics),
                           m_Source->Start(m_Presentation.get(), nullptr, &position), m_Source->Stop(),
                           m_Source->Shutdown(), m_Source->GetEvent(MF_EVENT_FLAG_NO_WAIT, event.put()),
                           control->KsProperty(&property, sizeof(property), nullptr, 0, &returned),
                           m_Stream->RequestSample(nullptr), m_Stream->GetMediaSource(owner.put())})
        EXPECT_EQ(MF_E_SHUTDOWN, answer);
}

TEST_F(MediaSourceTest, OffersNoServiceNoCameraPropertySetAndNoAggregation)
{
    ComPtr<IMFMediaSource> source = NewSource();
    ComPtr<IMFGetService> services;
    ComPtr<IUnknown> service;
    ASSERT_EQ(S_OK, source->QueryInterface(IID_IMFGetService, services.putVoid()));
    EXPECT_EQ(MF_E_UNSUPPORTED_SERVICE, services->GetService(GUID_NULL, IID_IUnknown, service.putVoid()));
    // Brightness of the video processing amplifier's set {C6E13360-30AC-11D0-A18C-00A0C9118956}.
    ComPtr<IKsControl> control;
    ASSERT_EQ(S_OK, source->QueryInterface(KsControlInterfaceId, control.putVoid()));
    KSPROPERTY property = {};
    property.Set = {0xc6e13360, 0x30ac, 0x11d0, {0xa1, 0x8c, 0x00, 0xa0, 0xc9, 0x11, 0x89, 0x56}};
    property.Flags = KSPROPERTY_TYPE_GET;
    LONG data[8] = {};
    ULONG returned = 99;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND),
              control->KsProperty(&property, sizeof(property), data, sizeof(data), &returned));
    EXPECT_EQ(0u, returned);
    ComPtr<IMFMediaSourceEx> extended;
    ASSERT_EQ(S_OK, source->QueryInterface(IID_IMFMediaSourceEx, extended.putVoid()));
    EXPECT_EQ(S_OK, extended->SetD3DManager(source.get()));
    HRESULT refused = S_OK;
    EXPECT_EQ(nullptr, CameraMediaSource::Create(source.get(), nullptr, &refused));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, refused);
    source->AddRef();
    EXPECT_EQ(4u, source->Release()) << "the test's source, services, control and extended";
}

// The filter's own controls, on the source's camera: the same ranges, the
// same settings, a picture that follows them, and MF_E_SHUTDOWN at the end.
TEST_F(MediaSourceTest, TheStandardControlsAreTheFiltersOwn)
{
    ComPtr<IMFMediaSource> source = NewSource();
    ComPtr<IAMVideoProcAmp> procAmp;
    ComPtr<IAMCameraControl> cameraControl;
    ASSERT_EQ(S_OK, source->QueryInterface(IID_IAMVideoProcAmp, procAmp.putVoid()));
    ASSERT_EQ(S_OK, source->QueryInterface(IID_IAMCameraControl, cameraControl.putVoid()));
    LONG minimum, maximum, step, byDefault, caps, value, flags;
    ASSERT_EQ(S_OK, procAmp->GetRange(VideoProcAmp_Brightness, &minimum, &maximum, &step, &byDefault, &caps));
    EXPECT_EQ((std::vector<LONG>{40, 200, 100}), (std::vector<LONG>{minimum, maximum, byDefault}));
    EXPECT_EQ(E_PROP_ID_UNSUPPORTED, procAmp->Get(VideoProcAmp_Hue, &value, &flags));
    ASSERT_EQ(S_OK, cameraControl->Set(CameraControl_Exposure, -6, CameraControl_Flags_Manual));
    ASSERT_EQ(S_OK, cameraControl->Get(CameraControl_Exposure, &value, &flags));
    EXPECT_EQ(-6, value);

    // Greys have U and V 128: the yellow bar loses its colour.
    ComPtr<IMFSourceReader> reader = NewReader(source.get());
    const StreamFormat format = Format(3, PixelFormat::Nv12);
    ComPtr<IMFMediaType> type;
    ASSERT_EQ(S_OK, reader->GetNativeMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, 9, type.put()));
    ASSERT_EQ(S_OK, reader->SetCurrentMediaType(MF_SOURCE_READER_FIRST_VIDEO_STREAM, nullptr, type.get()));
    const LONG yellowBar = 3 * format.Width() / 14;
    ASSERT_EQ(16, ValuesAt(format, ReadOneFrame(reader.get()).bytes, yellowBar, 0)[1]);
    SimClearCalls();
    ASSERT_EQ(S_OK, procAmp->Set(VideoProcAmp_Saturation, 0, VideoProcAmp_Flags_Manual));
    ASSERT_EQ(1, SimCallCount("CameraSetSaturation"));
    int u = 0;
    for (int read = 0; read < 10 && u < 120; ++read)
        u = ValuesAt(format, ReadOneFrame(reader.get()).bytes, yellowBar, 0)[1];
    EXPECT_NEAR(128, u, 8);

    // The filter reads what was set through the source.
    HRESULT created = E_FAIL;
    ObjectBase* filterObject = CameraFilter::Create(nullptr, &created);
    ASSERT_NE(nullptr, filterObject);
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(S_OK, filterObject->InnerQueryInterface(IID_IBaseFilter, filter.putVoid()));
    ComPtr<IAMVideoProcAmp> filterProcAmp;
    ASSERT_EQ(S_OK, filter.queryInto(IID_IAMVideoProcAmp, filterProcAmp));
    ASSERT_EQ(S_OK, filterProcAmp->Get(VideoProcAmp_Saturation, &value, &flags));
    EXPECT_EQ(0, value);

    ASSERT_EQ(S_OK, source->Shutdown());
    EXPECT_EQ(MF_E_SHUTDOWN, procAmp->Get(VideoProcAmp_Saturation, &value, &flags));
    EXPECT_EQ(MF_E_SHUTDOWN, cameraControl->Set(CameraControl_Exposure, -6, CameraControl_Flags_Manual));
}

TEST_F(MediaSourceTest, TheFilterAndTheSourceTakeTurnsWithTheCamera)
{
    HRESULT created = E_FAIL;
    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(
        S_OK,
        CameraFilter::Create(nullptr, &created)->InnerQueryInterface(IID_IBaseFilter, filter.putVoid()));
    GraphFixture graph;
    ASSERT_EQ(S_OK, graph.Create(filter.get()));
    ASSERT_EQ(S_OK, graph.ConnectPin(L"1"));
    ASSERT_TRUE(SUCCEEDED(graph.Run()));
    ASSERT_TRUE(graph.m_Sinks[0].WaitForSamples(3));

    // While the filter streams, the source cannot start: it says why, in no box.
    CreateDirect(Format(3, PixelFormat::Nv12));
    const PROPVARIANT position = Position();
    EXPECT_EQ(CameraMediaSource::CameraUnavailableResult,
              m_Source->Start(m_Presentation.get(), nullptr, &position));
    HRESULT status = S_OK;
    ComPtr<IMFMediaEvent> error = WaitForEvent(m_Source.get(), MEError, 0);
    ASSERT_TRUE(error && SUCCEEDED(error->GetStatus(&status)));
    EXPECT_EQ(CameraMediaSource::CameraUnavailableResult, status);
    EXPECT_TRUE(graph.m_Sinks[0].WaitForSamples(graph.m_Sinks[0].Count() + 5)) << "the filter streams on";
    ASSERT_EQ(S_OK, graph.Stop());
    StartDirect();
    ASSERT_EQ(S_OK, RequestFrame().result);

    // While the source streams, the filter cannot start and says so in its box(es).
    EXPECT_NE(S_OK, graph.Run());
    OAFilterState state;
    EXPECT_EQ(E_FAIL, graph.m_Control->GetState(5000, &state));
    graph.StopEveryFilter();
    graph.Release();
    ASSERT_TRUE(m_Boxes->WaitForClosed(1, 5000));
    m_ExpectedBoxes = m_Boxes->ClosedTexts();
    for (const std::string& text : m_ExpectedBoxes)
        EXPECT_EQ("Camera init failed!", text);
    EXPECT_TRUE(ShowsSimBars(Format(3, PixelFormat::Nv12), RequestFrame().bytes)) << "the source streams on";
}

TEST_F(MediaSourceTest, ACameraThatCannotOpenFailsTheReadAndTheNextReadOpensIt)
{
    SimFailInit(1);
    ComPtr<IMFSourceReader> reader = NewReader(NewSource().get());
    EXPECT_EQ(CameraMediaSource::CameraUnavailableResult, ReadOneFrame(reader.get()).result);
    EXPECT_EQ(S_OK, ReadOneFrame(reader.get()).result);
}

TEST_F(MediaSourceTest, AStalledCameraEndsTheStreamAndTheNextStartResumesIt)
{
    CreateDirect(Format(3, PixelFormat::Nv12));
    StartDirect();
    ASSERT_EQ(S_OK, RequestFrame().result);
    TakeEvents(m_Source.get());
    SimPauseFrames(1);
    Sleep(200); // frames already posted arrive; one may still answer the first request
    const DWORD start = GetTickCount();
    ASSERT_EQ(S_OK, m_Stream->RequestSample(nullptr));
    ASSERT_EQ(S_OK, m_Stream->RequestSample(nullptr));
    ASSERT_TRUE(WaitForEvent(m_Stream.get(), MEEndOfStream, 10000));
    const DWORD waited = GetTickCount() - start;
    EXPECT_TRUE(waited >= CameraMediaStream::StallMilliseconds - 100 &&
                waited < CameraMediaStream::StallMilliseconds + 1500)
        << waited;
    HRESULT status = S_OK;
    ComPtr<IMFMediaEvent> error = WaitForEvent(m_Source.get(), MEError, 0);
    ASSERT_TRUE(error && SUCCEEDED(error->GetStatus(&status)));
    EXPECT_EQ(CameraMediaStream::StalledCameraResult, status);
    EXPECT_EQ(Events{MEEndOfPresentation}, TakeEvents(m_Source.get()));
    EXPECT_EQ(MF_E_END_OF_STREAM, m_Stream->RequestSample(nullptr));
    SimPauseFrames(0);
    StartDirect();
    EXPECT_EQ(S_OK, RequestFrame().result);
    ASSERT_EQ(S_OK, m_Source->Shutdown());

    // A reader sees the end of the stream rather than waiting for good.
    ComPtr<IMFSourceReader> reader = NewReader(NewSource().get());
    ASSERT_EQ(S_OK, ReadOneFrame(reader.get()).result);
    SimPauseFrames(1);
    Sleep(200);
    ReadOneFrame(reader.get());
    const ReadFrame ended = ReadOneFrame(reader.get());
    EXPECT_EQ(S_OK, ended.result);
    EXPECT_EQ(DWORD(MF_SOURCE_READERF_ENDOFSTREAM), ended.flags);
}

// The steps a frame server takes with a virtual camera's class, in the
// multithreaded apartment, through the module as it is loaded by class
// identifier; the allocator is the platform's own.
TEST_F(MediaSourceTest, AFrameServersStepsThroughTheModule)
{
    CameraConfig stored;
    stored.m_Format.m_Resolution = 3;
    ASSERT_EQ(1, WriteSettingsFile(stored));
    LoadedModule module;
    ASSERT_TRUE(module.getClassObject && module.canUnloadNow);
    ComPtr<IMFVideoSampleAllocatorEx> platformAllocator;
    ASSERT_EQ(S_OK,
              MFCreateVideoSampleAllocatorEx(IID_IMFVideoSampleAllocatorEx, platformAllocator.putVoid()));
    NotingAllocator allocator(platformAllocator.get());
    {
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, module.getClassObject(CLSID_BriscaMediaSource, IID_IClassFactory, factory.putVoid()));
        ComPtr<IMFActivate> activate;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IMFActivate, activate.putVoid()));
        ASSERT_EQ(S_OK, activate->SetString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, L"Brisca Virtual Camera"));
        ComPtr<IMFMediaSourceEx> source;
        ASSERT_EQ(S_OK, activate->ActivateObject(IID_IMFMediaSourceEx, source.putVoid()));
        ComPtr<IMFAttributes> attributes;
        ASSERT_EQ(S_OK, source->GetSourceAttributes(attributes.put()));
        wchar_t name[64] = L"";
        ASSERT_EQ(S_OK, attributes->GetString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, name, 64, nullptr));
        EXPECT_STREQ(L"Brisca Virtual Camera", name);
        ASSERT_EQ(S_OK, source->GetStreamAttributes(0, attributes.put()));
        ExpectDeviceStream(attributes.get());
        ComPtr<IMFPresentationDescriptor> presentation;
        ASSERT_EQ(S_OK, source->CreatePresentationDescriptor(presentation.put()));

        // The allocator, then the type; both refuse what does not fit.
        ComPtr<FrameServer::IMFSampleAllocatorControl> control;
        ASSERT_EQ(S_OK, source->QueryInterface(FrameServer::SampleAllocatorControlId, control.putVoid()));
        DWORD input = 99;
        FrameServer::AllocatorUsage usage = FrameServer::DoesNotAllocate;
        ASSERT_EQ(S_OK, control->GetAllocatorUsage(0, &input, &usage));
        EXPECT_EQ(FrameServer::UsesCustomAllocator, usage);
        EXPECT_EQ(E_NOINTERFACE, control->SetDefaultAllocator(0, attributes.get()));
        EXPECT_EQ(MF_E_INVALIDSTREAMNUMBER, control->SetDefaultAllocator(1, &allocator));
        ASSERT_EQ(S_OK, control->SetDefaultAllocator(0, &allocator));
        ASSERT_EQ(S_OK, control->GetAllocatorUsage(0, &input, &usage));
        EXPECT_EQ(0u, input);
        EXPECT_EQ(FrameServer::UsesProvidedAllocator, usage);
        ComPtr<FrameServer::IMFMediaSource2> source2;
        ASSERT_EQ(S_OK, source->QueryInterface(FrameServer::MediaSource2Id, source2.putVoid()));
        ComPtr<IMFMediaType> type;
        ASSERT_EQ(S_OK, CreateStreamMediaType(Format(2, PixelFormat::Nv12), type.put()));
        EXPECT_EQ(MF_E_INVALIDSTREAMNUMBER, source2->SetMediaType(1, type.get()));
        ASSERT_EQ(S_OK, source2->SetMediaType(0, type.get()));
        ComPtr<IMFMediaType> odd;
        ASSERT_EQ(S_OK, MFCreateMediaType(odd.put()));
        ASSERT_EQ(S_OK, type->CopyAllItems(odd.get()));
        ASSERT_EQ(S_OK, MFSetAttributeSize(odd.get(), MF_MT_FRAME_SIZE, 640, 480));
        EXPECT_EQ(MF_E_INVALIDMEDIATYPE, source2->SetMediaType(0, odd.get()));

        // Started: the samples are the allocator's, of the type set, stamped from the start on.
        const PROPVARIANT empty = Position();
        ASSERT_EQ(S_OK, source->Start(presentation.get(), nullptr, &empty));
        ComPtr<IMFMediaEvent> announced = WaitForEvent(source.get(), MENewStream);
        ASSERT_TRUE(announced);
        PROPVARIANT value;
        PropVariantInit(&value);
        ASSERT_EQ(S_OK, announced->GetValue(&value));
        ComPtr<FrameServer::IMFMediaStream2> stream;
        ASSERT_EQ(S_OK, value.punkVal->QueryInterface(FrameServer::MediaStream2Id, stream.putVoid()));
        PropVariantClear(&value);
        const LONGLONG started = EventTime(WaitForEvent(source.get(), MESourceStarted, 0).get());
        EXPECT_EQ(started, EventTime(WaitForEvent(stream.get(), MEStreamStarted, 0).get()));
        EXPECT_EQ(FrameServer::StreamRunning, StateOf(stream.get()));
        EXPECT_EQ((std::pair<int, StreamFormat>(1, Format(2, PixelFormat::Nv12))), allocator.Initialised());
        const auto expectDelivered = [&](LONGLONG notBefore, int count) {
            for (int read = 0; read < count; ++read) {
                const ComPtr<IUnknown> token = NewToken();
                ASSERT_EQ(S_OK, stream->RequestSample(token.get()));
                const ReadFrame frame = WaitForSample(stream.get());
                ASSERT_TRUE(ShowsSimBars(Format(2, PixelFormat::Nv12), frame.bytes)) << "read " << read;
                EXPECT_EQ(token.get(), frame.token.get());
                EXPECT_TRUE(allocator.Handed(frame.sample));
                EXPECT_GE(frame.time, notBefore);
            }
        };
        expectDelivered(started, 5);

        // IKsControl on the stream answers as on the source.
        ComPtr<IKsControl> streamKs, sourceKs;
        ASSERT_EQ(S_OK, stream->QueryInterface(KsControlInterfaceId, streamKs.putVoid()));
        ASSERT_EQ(S_OK, source->QueryInterface(KsControlInterfaceId, sourceKs.putVoid()));
        KSPROPERTY property = {};
        ULONG returned = 0;
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_SET_NOT_FOUND),
                  streamKs->KsProperty(&property, sizeof(property), nullptr, 0, &returned));
        EXPECT_EQ(sourceKs->KsProperty(&property, sizeof(property), nullptr, 0, &returned),
                  streamKs->KsProperty(&property, sizeof(property), nullptr, 0, &returned));

        // Paused while frames arrive; the restart's first sample is no older than the restart.
        ASSERT_EQ(S_OK, source->Pause());
        EXPECT_EQ(FrameServer::StreamPaused, StateOf(stream.get()));
        EXPECT_EQ(MF_E_INVALID_STATE_TRANSITION, stream->SetStreamState(FrameServer::StreamRunning));
        Sleep(200);
        ASSERT_EQ(S_OK, source->Start(presentation.get(), nullptr, &empty));
        const LONGLONG restarted = EventTime(WaitForEvent(stream.get(), MEStreamStarted).get());
        EXPECT_GT(restarted, started + 2000000);
        expectDelivered(restarted, 3);

        // The stream stopped and run again on its own while the source runs.
        ASSERT_EQ(S_OK, stream->SetStreamState(FrameServer::StreamStopped));
        EXPECT_TRUE(WaitForEvent(stream.get(), MEStreamStopped, 0));
        EXPECT_EQ(MF_E_MEDIA_SOURCE_WRONGSTATE, stream->RequestSample(nullptr));
        EXPECT_EQ(MF_E_INVALID_STATE_TRANSITION, stream->SetStreamState(FrameServer::StreamPaused));
        Sleep(100);
        ASSERT_EQ(S_OK, stream->SetStreamState(FrameServer::StreamRunning));
        const LONGLONG rerun = EventTime(WaitForEvent(stream.get(), MEStreamStarted, 0).get());
        EXPECT_GT(rerun, restarted);
        expectDelivered(rerun, 2);

        ASSERT_EQ(S_OK, source->Stop());
        EXPECT_EQ(FrameServer::StreamStopped, StateOf(stream.get()));
        EXPECT_EQ(MF_E_INVALID_STATE_TRANSITION, stream->SetStreamState(FrameServer::StreamRunning));
        ASSERT_EQ(S_OK, activate->ShutdownObject());
        DWORD characteristics = 0;
        EXPECT_EQ(MF_E_SHUTDOWN, source->GetCharacteristics(&characteristics));
        EXPECT_EQ(MF_E_SHUTDOWN, stream->SetStreamState(FrameServer::StreamRunning));
        EXPECT_EQ(1, allocator.References()) << "the source let the allocator go at its shutdown";
        EXPECT_EQ(S_FALSE, module.canUnloadNow()) << "objects still held";
    }
    EXPECT_TRUE(WaitUntil([&] { return module.canUnloadNow() == S_OK; }, 3000)) << "every module object gone";
}

} // namespace
