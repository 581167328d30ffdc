// The source stream loop: the worker thread's command handshake, how the
// sample loop ends, the two start-up failures, and the synthetic source
// streaming through Wine's real filter graph into a Sample Grabber.
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <dshow.h>
#include <qedit.h>

#include "framework/Raii.h"
#include "tests/support/EventCollectingGraph.h"
#include "tests/support/FakeInputPin.h"
#include "tests/support/ProcessCounters.h"
#include "tests/support/SyntheticSource.h"

namespace {

// Class ids of the platform's Sample Grabber and Null Renderer.
const CLSID SampleGrabberClass = {0xc1f400a0, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};
const CLSID NullRendererClass = {0xc1f400a4, 0x3f08, 0x11d3, {0x9f, 0x0b, 0x00, 0x60, 0x08, 0x03, 0x9e, 0x37}};

HRESULT Send(SyntheticPin* pin, StreamCommand command)
{
    return pin->SendCommand(static_cast<DWORD>(command));
}

class SourceStreamPinTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        m_LiveBefore = LiveObjectCount;
        m_Source = SyntheticSource::Create(2);
        ASSERT_NE(nullptr, m_Source);
        m_Base = m_Source->Filter();
        m_Base->JoinFilterGraph(&m_Graph, L"Synthetic");
        SyntheticPin::BuildType(&m_Type);
    }
    void TearDown() override
    {
        EXPECT_EQ(S_OK, m_Base->Stop());
        for (int index = 0; index < 2; ++index) {
            m_Source->Pin(index)->Disconnect();
            EXPECT_FALSE(m_Source->Pin(index)->ThreadHeld());
        }
        for (FakeInputPin* peer : m_Peers) peer->Release();
        EXPECT_EQ(0u, m_Base->Release());
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
        CoUninitialize();
    }
    FakeInputPin* ConnectPin(int index)
    {
        FakeInputPin* peer = new FakeInputPin();
        m_Peers.push_back(peer);
        EXPECT_EQ(S_OK, m_Source->Pin(index)->PinInterface()->Connect(peer, &m_Type));
        return peer;
    }
    std::vector<LONG> EventCodes()
    {
        std::vector<LONG> codes;
        for (const EventCollectingGraph::Event& each : m_Graph.Events()) codes.push_back(each.code);
        return codes;
    }

    LONG m_LiveBefore = 0;
    EventCollectingGraph m_Graph;
    SyntheticSource* m_Source = nullptr;
    IBaseFilter* m_Base = nullptr;
    MediaTypeRecord m_Type;
    std::vector<FakeInputPin*> m_Peers;
};

TEST_F(SourceStreamPinTest, TypeAnswersOfTheSinglyTypedPin)
{
    SyntheticPin* pin = m_Source->Pin(0);
    MediaTypeRecord type;
    EXPECT_EQ(S_OK, pin->GetMediaType(0, &type));
    EXPECT_TRUE(type.Equals(m_Type));
    EXPECT_EQ(VFW_S_NO_MORE_ITEMS, pin->GetMediaType(1, &type));
    EXPECT_EQ(E_INVALIDARG, pin->GetMediaType(-1, &type));
    EXPECT_EQ(S_OK, pin->TestMediaType(&m_Type));
    MediaTypeRecord other(m_Type);
    other.subtype = MEDIASUBTYPE_RGB32;
    EXPECT_EQ(E_FAIL, pin->TestMediaType(&other));
}

TEST_F(SourceStreamPinTest, UnconnectedPinStartsNoThread)
{
    SyntheticPin* pin = m_Source->Pin(0);
    EXPECT_EQ(S_OK, pin->Activate());
    EXPECT_FALSE(pin->ThreadHeld());
    EXPECT_EQ(S_OK, pin->Deactivate());
    EXPECT_EQ(S_OK, m_Base->Pause());
    EXPECT_EQ(0, pin->m_ThreadBegins);
}

TEST_F(SourceStreamPinTest, PausedPinStreamsUntilStopped)
{
    SyntheticPin* pin = m_Source->Pin(0);
    FakeInputPin* peer = ConnectPin(0);
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(S_OK, m_Base->Pause());
        EXPECT_TRUE(WaitUntil([&] { return peer->m_Samples >= 5 * round; }));
        EXPECT_EQ(S_FALSE, pin->Activate());
        ASSERT_EQ(S_OK, m_Base->Run(0));
        ASSERT_EQ(S_OK, m_Base->Stop());
        EXPECT_FALSE(pin->ThreadHeld());
        EXPECT_EQ(round, pin->m_ThreadBegins);
        EXPECT_EQ(round, pin->m_ThreadEnds);
        EXPECT_EQ(round, pin->m_PlayBegins);
        EXPECT_EQ(0, peer->m_EndOfStreams);
        IMediaSample* sample = nullptr;
        EXPECT_TRUE(FAILED(pin->ObtainSample(&sample, nullptr, nullptr, 0)));  // decommitted
    }
    EXPECT_TRUE(EventCodes().empty());
}

TEST_F(SourceStreamPinTest, HowTheSampleLoopEnds)
{
    struct Case {
        const char* name;
        LONG endAfter;
        LONG failAfter;
        HRESULT receiveResult;
        LONG samples;
        LONG endOfStreams;
        std::vector<LONG> events;
    };
    const Case cases[] = {
        {"fill says end of stream", 3, -1, S_OK, 3, 1, {}},
        {"fill fails", -1, 2, S_OK, 2, 1, {EC_ERRORABORT}},
        {"downstream refuses", -1, -1, S_FALSE, 1, 0, {}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        SyntheticSource* source = SyntheticSource::Create(1);
        EventCollectingGraph graph;
        source->Filter()->JoinFilterGraph(&graph, nullptr);
        SyntheticPin* pin = source->Pin(0);
        FakeInputPin* peer = new FakeInputPin();
        ASSERT_EQ(S_OK, pin->PinInterface()->Connect(peer, &m_Type));
        pin->m_EndAfter = each.endAfter;
        pin->m_FailAfter = each.failAfter;
        pin->m_FailCode = E_ACCESSDENIED;
        peer->m_ReceiveResult = each.receiveResult;

        ASSERT_EQ(S_OK, source->Filter()->Pause());
        EXPECT_TRUE(WaitUntil([&] { return peer->m_Samples >= each.samples && peer->m_EndOfStreams >= each.endOfStreams; }));
        Sleep(50);  // a loop that did not end would keep delivering
        EXPECT_EQ(each.samples, peer->m_Samples);
        EXPECT_EQ(each.endOfStreams, peer->m_EndOfStreams);
        const std::vector<EventCollectingGraph::Event> events = graph.Events();
        ASSERT_EQ(each.events.size(), events.size());
        if (!events.empty()) {
            EXPECT_EQ(EC_ERRORABORT, events[0].code);
            EXPECT_EQ(E_ACCESSDENIED, static_cast<HRESULT>(events[0].param1));
            EXPECT_EQ(0, events[0].param2);
        }
        // The worker stays alive and idle until the filter stops.
        EXPECT_TRUE(pin->ThreadHeld());
        EXPECT_EQ(0, pin->m_ThreadEnds);
        EXPECT_EQ(S_OK, source->Filter()->Stop());
        EXPECT_EQ(1, pin->m_ThreadEnds);
        pin->Disconnect();
        peer->Release();
        EXPECT_EQ(0u, source->Filter()->Release());
    }
}

// A pin whose thread cannot begin leaves the filter stopped with nothing
// running, and the next pause tries again.
TEST_F(SourceStreamPinTest, FailedThreadBeginCanBeRetried)
{
    SyntheticPin* first = m_Source->Pin(0);
    SyntheticPin* second = m_Source->Pin(1);
    FakeInputPin* firstPeer = ConnectPin(0);
    ConnectPin(1);
    second->m_ThreadBeginResult = E_ACCESSDENIED;

    EXPECT_EQ(E_ACCESSDENIED, m_Base->Pause());
    FILTER_STATE state = State_Running;
    m_Base->GetState(0, &state);
    EXPECT_EQ(State_Stopped, state);
    EXPECT_EQ(1, second->m_ThreadBegins);
    EXPECT_EQ(1, second->m_ThreadEnds);
    EXPECT_FALSE(second->ThreadHeld());
    EXPECT_EQ(1, first->m_ThreadEnds);  // deactivated again
    EXPECT_FALSE(first->ThreadHeld());
    IMediaSample* sample = nullptr;
    EXPECT_TRUE(FAILED(first->ObtainSample(&sample, nullptr, nullptr, 0)));
    EXPECT_TRUE(FAILED(second->ObtainSample(&sample, nullptr, nullptr, 0)));

    second->m_ThreadBeginResult = S_OK;
    EXPECT_EQ(S_OK, m_Base->Pause());
    EXPECT_EQ(2, second->m_ThreadBegins);
    EXPECT_TRUE(WaitUntil([&] { return firstPeer->m_Samples >= 3 && m_Peers[1]->m_Samples >= 3; }));
}

TEST_F(SourceStreamPinTest, CommandHandshake)
{
    SyntheticPin* pin = m_Source->Pin(0);
    EXPECT_EQ(E_FAIL, Send(pin, StreamCommand::Init));  // no thread yet
    ConnectPin(0);
    ASSERT_TRUE(pin->Start());
    EXPECT_EQ(E_UNEXPECTED, Send(pin, StreamCommand::Pause));
    EXPECT_EQ(E_UNEXPECTED, Send(pin, StreamCommand::Stop));
    EXPECT_EQ(S_OK, Send(pin, StreamCommand::Init));
    EXPECT_EQ(E_NOTIMPL, Send(pin, StreamCommand::Init));
    EXPECT_EQ(E_NOTIMPL, pin->SendCommand(99));
    EXPECT_EQ(S_OK, Send(pin, StreamCommand::Stop));

    ASSERT_EQ(S_OK, pin->OutputPinBase::Activate());
    EXPECT_EQ(S_OK, Send(pin, StreamCommand::Run));
    EXPECT_TRUE(WaitUntil([&] { return pin->m_FramesFilled >= 2; }));
    EXPECT_EQ(E_UNEXPECTED, Send(pin, StreamCommand::Init));  // inside the sample loop
    EXPECT_EQ(S_OK, Send(pin, StreamCommand::Pause));
    EXPECT_EQ(1, pin->m_PlayBegins);
    EXPECT_EQ(S_OK, Send(pin, StreamCommand::Stop));
    const LONG filled = pin->m_FramesFilled;
    Sleep(30);
    EXPECT_EQ(filled, pin->m_FramesFilled);  // idle in the command loop
    EXPECT_EQ(S_OK, Send(pin, StreamCommand::Exit));
    pin->Join();
    EXPECT_EQ(1, pin->m_ThreadEnds);
    EXPECT_EQ(S_OK, pin->OutputPinBase::Deactivate());
}

// The synthetic source in Wine's filter graph: Sample Grabber (RGB24) and
// Null Renderer downstream, driven through IMediaControl.
class GrabberCounter : public ISampleGrabberCB {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISampleGrabberCB)) {
            *out = static_cast<ISampleGrabberCB*>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP BufferCB(double, BYTE*, long) override { return S_OK; }
    STDMETHODIMP SampleCB(double, IMediaSample* sample) override
    {
        BYTE* data = nullptr;
        if (FAILED(sample->GetPointer(&data)) || sample->GetActualDataLength() != SyntheticPin::FrameBytes) {
            InterlockedIncrement(&m_BadFrames);
        } else {
            const int frame = data[2];
            for (int y = 0; y < SyntheticPin::Height; ++y)
                for (int x = 0; x < SyntheticPin::Width; ++x)
                    for (int channel = 0; channel < 3; ++channel)
                        if (data[(y * SyntheticPin::Width + x) * 3 + channel] !=
                            SyntheticPin::ExpectedByte(frame, x, y, channel)) {
                            InterlockedIncrement(&m_BadFrames);
                            y = SyntheticPin::Height;
                            x = SyntheticPin::Width;
                            break;
                        }
        }
        InterlockedIncrement(&m_Frames);
        return S_OK;
    }
    volatile LONG m_Frames = 0;
    volatile LONG m_BadFrames = 0;
};

class RealGraphTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        m_LiveBefore = LiveObjectCount;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                         m_Graph.putVoid()));
        m_Source = SyntheticSource::Create(1);
        ASSERT_NE(nullptr, m_Source);
        ASSERT_EQ(S_OK, m_Graph->AddFilter(m_Source->Filter(), L"Synthetic"));
        ASSERT_EQ(S_OK, CoCreateInstance(SampleGrabberClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         m_Grabber.putVoid()));
        ASSERT_EQ(S_OK, CoCreateInstance(NullRendererClass, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                         m_Renderer.putVoid()));
        ASSERT_EQ(S_OK, m_Graph->AddFilter(m_Grabber.get(), L"Grabber"));
        ASSERT_EQ(S_OK, m_Graph->AddFilter(m_Renderer.get(), L"Renderer"));
        ComPtr<ISampleGrabber> grabber;
        ASSERT_EQ(S_OK, m_Grabber.queryInto(IID_ISampleGrabber, grabber));
        AM_MEDIA_TYPE wanted = {};
        wanted.majortype = MEDIATYPE_Video;
        wanted.subtype = MEDIASUBTYPE_RGB24;
        ASSERT_EQ(S_OK, grabber->SetMediaType(&wanted));
        ASSERT_EQ(S_OK, grabber->SetCallback(&m_Counter, 0));

        ASSERT_EQ(S_OK, m_Graph->Connect(m_Source->Pin(0)->PinInterface(), PinOf(m_Grabber.get(), PINDIR_INPUT).get()));
        ASSERT_EQ(S_OK, m_Graph->Connect(PinOf(m_Grabber.get(), PINDIR_OUTPUT).get(),
                                         PinOf(m_Renderer.get(), PINDIR_INPUT).get()));
        ASSERT_EQ(S_OK, m_Graph.queryInto(IID_IMediaControl, m_Control));
        ASSERT_EQ(S_OK, m_Graph.queryInto(IID_IMediaEvent, m_Events));
    }
    void TearDown() override
    {
        if (m_Control) m_Control->Stop();
        m_Control.reset();
        m_Events.reset();
        m_Grabber.reset();
        m_Renderer.reset();
        m_Graph.reset();
        if (m_Source) {
            EXPECT_EQ(0u, m_Source->Filter()->Release());
        }
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
        CoUninitialize();
    }
    static ComPtr<IPin> PinOf(IBaseFilter* filter, PIN_DIRECTION wanted)
    {
        ComPtr<IEnumPins> pins;
        filter->EnumPins(pins.put());
        ComPtr<IPin> pin;
        while (pins && pins->Next(1, pin.put(), nullptr) == S_OK) {
            PIN_DIRECTION direction;
            pin->QueryDirection(&direction);
            if (direction == wanted) return pin;
        }
        return ComPtr<IPin>();
    }
    // Waits for the event code; other events are skipped.
    bool WaitForEvent(long wanted, LONG_PTR* param1 = nullptr)
    {
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < 5000) {
            long code = 0;
            LONG_PTR first = 0, second = 0;
            if (m_Events->GetEvent(&code, &first, &second, 100) != S_OK) continue;
            m_Events->FreeEventParams(code, first, second);
            if (code == wanted) {
                if (param1) *param1 = first;
                return true;
            }
        }
        return false;
    }

    LONG m_LiveBefore = 0;
    GrabberCounter m_Counter;
    ComPtr<IGraphBuilder> m_Graph;
    ComPtr<IBaseFilter> m_Grabber;
    ComPtr<IBaseFilter> m_Renderer;
    ComPtr<IMediaControl> m_Control;
    ComPtr<IMediaEvent> m_Events;
    SyntheticSource* m_Source = nullptr;
};

TEST_F(RealGraphTest, RunPauseStopAndRunAgain)
{
    SyntheticPin* pin = m_Source->Pin(0);
    EXPECT_NE(nullptr, pin->Allocator());  // the platform allocator: the grabber offers none
    MediaTypeRecord expected;
    SyntheticPin::BuildType(&expected);
    EXPECT_TRUE(pin->ConnectionType().Equals(expected));

    ASSERT_TRUE(SUCCEEDED(m_Control->Run()));
    EXPECT_TRUE(WaitUntil([&] { return m_Counter.m_Frames >= 10; }));
    ASSERT_TRUE(SUCCEEDED(m_Control->Pause()));
    ASSERT_EQ(S_OK, m_Control->Stop());
    EXPECT_FALSE(pin->ThreadHeld());
    const LONG afterFirstRun = m_Counter.m_Frames;
    Sleep(30);
    EXPECT_EQ(afterFirstRun, m_Counter.m_Frames);

    ASSERT_TRUE(SUCCEEDED(m_Control->Run()));
    EXPECT_TRUE(WaitUntil([&] { return m_Counter.m_Frames >= afterFirstRun + 10; }));
    ASSERT_EQ(S_OK, m_Control->Stop());
    EXPECT_EQ(0, m_Counter.m_BadFrames);
    EXPECT_EQ(2, pin->m_ThreadBegins);
    EXPECT_EQ(2, pin->m_ThreadEnds);
}

TEST_F(RealGraphTest, EndOfStreamCompletesTheGraph)
{
    m_Source->Pin(0)->m_EndAfter = 4;
    ASSERT_TRUE(SUCCEEDED(m_Control->Run()));
    EXPECT_TRUE(WaitForEvent(EC_COMPLETE));
    EXPECT_EQ(4, m_Counter.m_Frames);
}

TEST_F(RealGraphTest, FillFailureAbortsTheGraph)
{
    m_Source->Pin(0)->m_FailAfter = 2;
    m_Source->Pin(0)->m_FailCode = E_ACCESSDENIED;
    ASSERT_TRUE(SUCCEEDED(m_Control->Run()));
    LONG_PTR code = 0;
    EXPECT_TRUE(WaitForEvent(EC_ERRORABORT, &code));
    EXPECT_EQ(E_ACCESSDENIED, static_cast<HRESULT>(code));
    EXPECT_EQ(2, m_Counter.m_Frames);
}

} // namespace
