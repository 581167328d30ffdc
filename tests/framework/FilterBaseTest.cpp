// The filter base: state changes walk the connected pins in order, the
// clock and graph membership keep their references straight, the pin
// enumerator and FindPin/QueryId agree, and pins die with their filter.
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <dshow.h>
#include <evcode.h>
#include <vfwmsgs.h>

#include "framework/Raii.h"
#include "tests/support/EventCollectingGraph.h"
#include "tests/support/FakeInputPin.h"
#include "tests/support/SyntheticSource.h"

namespace {

// A pin whose state hooks only record their calls and answer as told.
class RecordingPin : public SourceStreamPin {
public:
    RecordingPin(SourceFilterBase* filter, CallRecord* log, const std::string& tag)
        : SourceStreamPin(L"Recording pin", nullptr, filter, std::wstring(tag.begin(), tag.end()).c_str()),
          m_Log(log), m_Tag(tag)
    {
    }
    ~RecordingPin() override
    {
        m_Log->Add(m_Tag + ".Destroyed");
        if (m_Peer) m_Peer->Release();
        m_Peer = nullptr;
    }
    // Marks the pin connected without running the connection protocol.
    void FakeConnect(IPin* peer)
    {
        m_Peer = peer;
        peer->AddRef();
    }
    HRESULT Activate() override { return Record("Activate", m_ActivateResult); }
    HRESULT Deactivate() override { return Record("Deactivate", m_DeactivateResult); }
    HRESULT RunAt(REFERENCE_TIME) override { return Record("RunAt", m_RunResult); }
    HRESULT FillSample(IMediaSample*) override { return S_FALSE; }
    HRESULT SizeBuffers(IMemAllocator*, ALLOCATOR_PROPERTIES*) override { return S_OK; }

    HRESULT m_ActivateResult = S_OK;
    HRESULT m_DeactivateResult = S_OK;
    HRESULT m_RunResult = S_OK;

private:
    HRESULT Record(const char* what, HRESULT result)
    {
        m_Log->Add(m_Tag + "." + what);
        return result;
    }
    CallRecord* m_Log;
    std::string m_Tag;
};

class RecordingFilter : public SourceFilterBase {
public:
    RecordingFilter() : SourceFilterBase(L"Recording filter", nullptr, CLSID_SyntheticSource) {}
    FILTER_STATE CurrentState() const { return m_State; }
    REFERENCE_TIME StartTime() const { return m_StartTime; }
    int StoredPinCount() const { return m_PinCount; }
    SourceStreamPin** StoredPins() const { return m_Pins; }
};

class FilterBaseTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        m_LiveBefore = LiveObjectCount;
        m_Filter = new RecordingFilter();
        m_Filter->InnerQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&m_Base));
        m_Peer = new FakeInputPin();
    }
    void TearDown() override
    {
        if (m_Base) {
            EXPECT_EQ(0u, m_Base->Release());
        }
        m_Peer->Release();
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
        CoUninitialize();
    }
    RecordingPin* AddPin(const std::string& tag, bool connected)
    {
        RecordingPin* pin = new RecordingPin(m_Filter, &m_Log, tag);
        if (connected) pin->FakeConnect(m_Peer);
        return pin;
    }
    std::vector<std::string> TakeLog()
    {
        std::vector<std::string> calls = m_Log.Calls();
        m_Log.Clear();
        return calls;
    }

    LONG m_LiveBefore = 0;
    RecordingFilter* m_Filter = nullptr;
    IBaseFilter* m_Base = nullptr;
    FakeInputPin* m_Peer = nullptr;
    CallRecord m_Log;
};

typedef std::vector<std::string> Calls;

TEST_F(FilterBaseTest, StateChangesCallConnectedPinsInOrder)
{
    AddPin("A", true);
    AddPin("idle", false);
    AddPin("B", true);

    struct Step {
        const char* operation;
        REFERENCE_TIME start;
        Calls expected;
        FILTER_STATE after;
    };
    const Step steps[] = {
        {"Stop", 0, {}, State_Stopped},
        {"Pause", 0, {"A.Activate", "B.Activate"}, State_Paused},
        {"Pause", 0, {}, State_Paused},
        {"Run", 100, {"A.RunAt", "B.RunAt"}, State_Running},
        {"Run", 200, {}, State_Running},
        {"Pause", 0, {}, State_Paused},
        {"Stop", 0, {"A.Deactivate", "B.Deactivate"}, State_Stopped},
        {"Run", 300, {"A.Activate", "B.Activate", "A.RunAt", "B.RunAt"}, State_Running},
        {"Stop", 0, {"A.Deactivate", "B.Deactivate"}, State_Stopped},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(std::string(step.operation) + " " + std::to_string(step.start));
        HRESULT hr;
        if (std::string(step.operation) == "Stop") hr = m_Base->Stop();
        else if (std::string(step.operation) == "Pause") hr = m_Base->Pause();
        else hr = m_Base->Run(step.start);
        EXPECT_EQ(S_OK, hr);
        EXPECT_EQ(step.expected, TakeLog());
        FILTER_STATE state = State_Paused;
        EXPECT_EQ(S_OK, m_Base->GetState(0, &state));
        EXPECT_EQ(step.after, state);
        if (std::string(step.operation) == "Run") {
            EXPECT_EQ(step.start, m_Filter->StartTime());
        }
    }
}

// A pin that cannot start must not leave the pins before it running while
// the filter reports itself stopped.
TEST_F(FilterBaseTest, FailedPauseDeactivatesThePinsItActivated)
{
    AddPin("A", true);
    AddPin("B", true);
    RecordingPin* failing = AddPin("C", true);
    failing->m_ActivateResult = E_OUTOFMEMORY;

    EXPECT_EQ(E_OUTOFMEMORY, m_Base->Pause());
    EXPECT_EQ(State_Stopped, m_Filter->CurrentState());
    EXPECT_EQ((Calls{"A.Activate", "B.Activate", "C.Activate", "B.Deactivate", "A.Deactivate"}), TakeLog());

    failing->m_ActivateResult = S_OK;
    EXPECT_EQ(S_OK, m_Base->Pause());
    EXPECT_EQ(State_Paused, m_Filter->CurrentState());
}

TEST_F(FilterBaseTest, StopReportsTheFirstFailureAndStillStops)
{
    RecordingPin* a = AddPin("A", true);
    RecordingPin* b = AddPin("B", true);
    ASSERT_EQ(S_OK, m_Base->Pause());
    TakeLog();
    a->m_DeactivateResult = E_FAIL;
    b->m_DeactivateResult = E_UNEXPECTED;
    EXPECT_EQ(E_FAIL, m_Base->Stop());
    EXPECT_EQ((Calls{"A.Deactivate", "B.Deactivate"}), TakeLog());
    EXPECT_EQ(State_Stopped, m_Filter->CurrentState());
}

TEST_F(FilterBaseTest, FailedRunAtLeavesTheFilterPaused)
{
    AddPin("A", true);
    AddPin("B", true)->m_RunResult = E_UNEXPECTED;
    EXPECT_EQ(E_UNEXPECTED, m_Base->Run(55));
    EXPECT_EQ((Calls{"A.Activate", "B.Activate", "A.RunAt", "B.RunAt"}), TakeLog());
    EXPECT_EQ(State_Paused, m_Filter->CurrentState());
    EXPECT_EQ(55, m_Filter->StartTime());
}

TEST_F(FilterBaseTest, InterfacesOfTheFilter)
{
    ComPtr<IUnknown> media, persist, setup, unknown, pin;
    EXPECT_EQ(S_OK, m_Base->QueryInterface(IID_IMediaFilter, media.putVoid()));
    EXPECT_EQ(S_OK, m_Base->QueryInterface(IID_IPersist, persist.putVoid()));
    EXPECT_EQ(S_OK, m_Base->QueryInterface(IID_IAMovieSetup, setup.putVoid()));
    EXPECT_EQ(S_OK, m_Base->QueryInterface(IID_IUnknown, unknown.putVoid()));
    EXPECT_EQ(static_cast<void*>(m_Base), static_cast<void*>(media.get()));
    EXPECT_EQ(static_cast<void*>(m_Base), static_cast<void*>(persist.get()));
    EXPECT_EQ(static_cast<void*>(m_Filter->InnerUnknown()), static_cast<void*>(unknown.get()));
    EXPECT_EQ(E_NOINTERFACE, m_Base->QueryInterface(IID_IPin, pin.putVoid()));
    EXPECT_EQ(nullptr, pin.get());
    EXPECT_EQ(E_POINTER, m_Base->QueryInterface(IID_IBaseFilter, nullptr));

    CLSID id = GUID_NULL;
    EXPECT_EQ(S_OK, m_Base->GetClassID(&id));
    EXPECT_TRUE(IsEqualCLSID(CLSID_SyntheticSource, id));
    EXPECT_EQ(E_POINTER, m_Base->GetClassID(nullptr));
    EXPECT_EQ(E_NOTIMPL, m_Base->QueryVendorInfo(nullptr));
    media.reset();
    persist.reset();
    setup.reset();
    unknown.reset();
    EXPECT_EQ(1u, RefCountOf(m_Base));
}

TEST_F(FilterBaseTest, ClockReferencesAndStreamTime)
{
    IReferenceClock* none = reinterpret_cast<IReferenceClock*>(1);
    EXPECT_EQ(S_OK, m_Base->GetSyncSource(&none));
    EXPECT_EQ(nullptr, none);
    REFERENCE_TIME time = 0;
    EXPECT_EQ(VFW_E_NO_CLOCK, m_Filter->StreamTime(&time));
    EXPECT_EQ(E_POINTER, m_Base->GetSyncSource(nullptr));

    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                     clock.putVoid()));
    const ULONG alone = RefCountOf(clock.get());
    EXPECT_EQ(S_OK, m_Base->SetSyncSource(clock.get()));
    EXPECT_EQ(S_OK, m_Base->SetSyncSource(clock.get()));
    EXPECT_EQ(alone + 1, RefCountOf(clock.get()));

    ComPtr<IReferenceClock> got;
    EXPECT_EQ(S_OK, m_Base->GetSyncSource(got.put()));
    EXPECT_EQ(clock.get(), got.get());
    EXPECT_EQ(alone + 2, RefCountOf(clock.get()));
    got.reset();

    REFERENCE_TIME now = 0;
    ASSERT_EQ(S_OK, clock->GetTime(&now));
    ASSERT_EQ(S_OK, m_Base->Run(now));
    ASSERT_EQ(S_OK, m_Filter->StreamTime(&time));
    EXPECT_GE(time, 0);
    EXPECT_LT(time, 10000000);  // well under a second after the start
    ASSERT_EQ(S_OK, m_Base->Stop());

    EXPECT_EQ(S_OK, m_Base->SetSyncSource(nullptr));
    EXPECT_EQ(alone, RefCountOf(clock.get()));
}

TEST_F(FilterBaseTest, FilterInfoAndGraphMembership)
{
    FILTER_INFO info;
    info.achName[0] = L'x';
    info.pGraph = reinterpret_cast<IFilterGraph*>(1);
    EXPECT_EQ(S_OK, m_Base->QueryFilterInfo(&info));
    EXPECT_EQ(L'\0', info.achName[0]);
    EXPECT_EQ(nullptr, info.pGraph);
    EXPECT_EQ(E_POINTER, m_Base->QueryFilterInfo(nullptr));

    EventCollectingGraph graph;
    const std::wstring longName(200, L'n');
    EXPECT_EQ(S_OK, m_Base->JoinFilterGraph(&graph, longName.c_str()));
    EXPECT_EQ(1, graph.m_RefCount);  // neither the graph nor its sink is held
    EXPECT_EQ(S_OK, m_Base->QueryFilterInfo(&info));
    EXPECT_EQ(std::wstring(127, L'n'), std::wstring(info.achName));
    EXPECT_EQ(static_cast<IFilterGraph*>(&graph), info.pGraph);
    EXPECT_EQ(2, graph.m_RefCount);
    info.pGraph->Release();

    // EC_COMPLETE always names this filter; other events pass unchanged.
    EXPECT_EQ(S_OK, m_Filter->PostGraphEvent(EC_COMPLETE, 7, 1234));
    EXPECT_EQ(S_OK, m_Filter->PostGraphEvent(EC_ERRORABORT, E_FAIL, 1234));
    const std::vector<EventCollectingGraph::Event> events = graph.Events();
    ASSERT_EQ(2u, events.size());
    EXPECT_EQ(EC_COMPLETE, events[0].code);
    EXPECT_EQ(7, events[0].param1);
    EXPECT_EQ(reinterpret_cast<LONG_PTR>(m_Base), events[0].param2);
    EXPECT_EQ(EC_ERRORABORT, events[1].code);
    EXPECT_EQ(1234, events[1].param2);

    EXPECT_EQ(S_OK, m_Base->JoinFilterGraph(nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, m_Filter->PostGraphEvent(EC_COMPLETE, 0, 0));
    EXPECT_EQ(S_OK, m_Base->QueryFilterInfo(&info));
    EXPECT_EQ(L'\0', info.achName[0]);
    EXPECT_EQ(nullptr, info.pGraph);
}

TEST_F(FilterBaseTest, JoinsARealGraph)
{
    ComPtr<IFilterGraph> graph;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterGraph,
                                     graph.putVoid()));
    ASSERT_EQ(S_OK, graph->AddFilter(m_Base, L"Synthetic"));
    FILTER_INFO info = {};
    EXPECT_EQ(S_OK, m_Base->QueryFilterInfo(&info));
    EXPECT_EQ(std::wstring(L"Synthetic"), std::wstring(info.achName));
    EXPECT_EQ(graph.get(), info.pGraph);
    if (info.pGraph) info.pGraph->Release();
    EXPECT_EQ(S_OK, graph->RemoveFilter(m_Base));
    EXPECT_EQ(1u, RefCountOf(m_Base));
}

TEST_F(FilterBaseTest, RegistrationWithoutSetupDataDoesNothing)
{
    ComPtr<IAMovieSetup> setup;
    ASSERT_EQ(S_OK, m_Base->QueryInterface(IID_IAMovieSetup, setup.putVoid()));
    EXPECT_EQ(S_FALSE, setup->Register());
    EXPECT_EQ(S_FALSE, setup->Unregister());
}

TEST_F(FilterBaseTest, PinArrayFollowsAttachAndDetach)
{
    RecordingPin* a = AddPin("A", false);
    RecordingPin* b = AddPin("B", false);
    RecordingPin* c = AddPin("C", false);
    EXPECT_EQ(m_LiveBefore + 4, LiveObjectCount);

    RecordingFilter other;  // never referenced through COM
    RecordingPin stranger(&other, &m_Log, "X");
    EXPECT_EQ(S_FALSE, m_Filter->DetachPin(&stranger));
    EXPECT_EQ(-1, m_Filter->IndexOfPin(stranger.PinInterface()));

    delete b;
    ASSERT_EQ(2, m_Filter->PinCount());
    EXPECT_EQ(a, m_Filter->PinAt(0));
    EXPECT_EQ(c, m_Filter->PinAt(1));
    EXPECT_EQ(nullptr, m_Filter->PinAt(2));
    EXPECT_EQ(nullptr, m_Filter->PinAt(-1));
    EXPECT_EQ(1, m_Filter->IndexOfPin(c->PinInterface()));
    delete a;
    delete c;
    EXPECT_EQ(0, m_Filter->StoredPinCount());
    EXPECT_EQ(nullptr, m_Filter->StoredPins());
}

TEST_F(FilterBaseTest, ReleasingTheFilterDeletesItsPinsLastFirst)
{
    AddPin("A", false);
    AddPin("B", true);
    AddPin("C", false);
    TakeLog();
    EXPECT_EQ(0u, m_Base->Release());
    m_Base = nullptr;
    EXPECT_EQ((Calls{"C.Destroyed", "B.Destroyed", "A.Destroyed"}), TakeLog());
    EXPECT_EQ(m_LiveBefore, LiveObjectCount);
}

// Pin enumeration, FindPin and QueryId on a filter with two real source pins.
class PinLookupTest : public testing::Test {
protected:
    void SetUp() override
    {
        m_LiveBefore = LiveObjectCount;
        m_Source = SyntheticSource::Create(2);
        ASSERT_NE(nullptr, m_Source);
        m_Base = m_Source->Filter();
    }
    void TearDown() override
    {
        EXPECT_EQ(1u, RefCountOf(m_Base));
        EXPECT_EQ(0u, m_Base->Release());
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
    }
    IPin* PinItf(int index) { return m_Source->Pin(index)->PinInterface(); }

    LONG m_LiveBefore = 0;
    SyntheticSource* m_Source = nullptr;
    IBaseFilter* m_Base = nullptr;
};

TEST_F(PinLookupTest, NextHandsOutEachPinOnce)
{
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, m_Base->EnumPins(pins.put()));
    EXPECT_EQ(2u, RefCountOf(m_Base));  // the enumerator holds the filter

    IPin* got[5] = {};
    ULONG fetched = 99;
    EXPECT_EQ(S_OK, pins->Next(1, got, &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(PinItf(0), got[0]);
    EXPECT_EQ(S_OK, pins->Next(1, got + 1, nullptr));
    EXPECT_EQ(PinItf(1), got[1]);
    EXPECT_EQ(S_FALSE, pins->Next(1, got + 2, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(4u, RefCountOf(m_Base));  // one per handed-out pin
    got[0]->Release();
    got[1]->Release();

    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_FALSE, pins->Next(5, got, &fetched));
    EXPECT_EQ(2u, fetched);
    got[0]->Release();
    got[1]->Release();
    EXPECT_EQ(S_FALSE, pins->Next(0, got, &fetched));
    EXPECT_EQ(E_INVALIDARG, pins->Next(2, got, nullptr));
    EXPECT_EQ(E_POINTER, pins->Next(1, nullptr, &fetched));
}

TEST_F(PinLookupTest, SkipAndCloneKeepThePosition)
{
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, m_Base->EnumPins(pins.put()));
    EXPECT_EQ(S_FALSE, pins->Skip(3));
    EXPECT_EQ(S_OK, pins->Skip(1));
    ComPtr<IEnumPins> copy;
    ASSERT_EQ(S_OK, pins->Clone(copy.put()));
    IPin* got = nullptr;
    EXPECT_EQ(S_OK, copy->Next(1, &got, nullptr));
    EXPECT_EQ(PinItf(1), got);
    got->Release();
    EXPECT_EQ(S_OK, pins->Skip(1));
    EXPECT_EQ(S_FALSE, pins->Skip(1));
    EXPECT_EQ(S_OK, pins->Skip(0));
}

// After the pin set changes, Next starts over but does not hand out again
// what this enumerator (or the one it was cloned from) already gave out.
TEST_F(PinLookupTest, ChangedPinSetRefreshesNextAndStopsSkipAndClone)
{
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(S_OK, m_Base->EnumPins(pins.put()));
    IPin* got[3] = {};
    ASSERT_EQ(S_OK, pins->Next(1, got, nullptr));
    got[0]->Release();
    ComPtr<IEnumPins> copy;
    ASSERT_EQ(S_OK, pins->Clone(copy.put()));

    SyntheticPin* third = m_Source->AddPin(L"Out3");
    ASSERT_NE(nullptr, third);
    m_Source->SetPinVersion(2);

    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Skip(1));
    ComPtr<IEnumPins> stale;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, pins->Clone(stale.put()));
    EXPECT_EQ(nullptr, stale.get());

    for (IEnumPins* each : {pins.get(), copy.get()}) {
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, each->Next(3, got, &fetched));
        ASSERT_EQ(2u, fetched);
        EXPECT_EQ(PinItf(1), got[0]);
        EXPECT_EQ(PinItf(2), got[1]);
        got[0]->Release();
        got[1]->Release();
    }
    EXPECT_EQ(S_OK, pins->Reset());
    EXPECT_EQ(S_OK, pins->Skip(3));
}

TEST_F(PinLookupTest, FindPinReadsTheNumberThatQueryIdWrites)
{
    struct Case {
        const wchar_t* id;
        int pin;  // -1: not found
    };
    const Case cases[] = {
        {L"1", 0}, {L"2", 1}, {L" 2", 1}, {L"+1", 0}, {L"02x", 1}, {L"0", -1}, {L"", -1},
        {L"pin", -1}, {L"-1", -1}, {L"3", -1}, {L"99999999999", -1},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(testing::Message() << "id \"" << std::string(each.id, each.id + wcslen(each.id)) << "\"");
        IPin* found = reinterpret_cast<IPin*>(1);
        const HRESULT hr = m_Base->FindPin(each.id, &found);
        if (each.pin < 0) {
            EXPECT_EQ(VFW_E_NOT_FOUND, hr);
            EXPECT_EQ(nullptr, found);
        } else {
            EXPECT_EQ(S_OK, hr);
            EXPECT_EQ(PinItf(each.pin), found);
            if (found) found->Release();
        }
    }
    EXPECT_EQ(E_POINTER, m_Base->FindPin(L"1", nullptr));

    for (int index = 0; index < 2; ++index) {
        LPWSTR id = nullptr;
        ASSERT_EQ(S_OK, PinItf(index)->QueryId(&id));
        EXPECT_EQ(std::to_wstring(index + 1), std::wstring(id));
        IPin* found = nullptr;
        EXPECT_EQ(S_OK, m_Base->FindPin(id, &found));
        EXPECT_EQ(PinItf(index), found);
        found->Release();
        CoTaskMemFree(id);
    }
    EXPECT_EQ(E_POINTER, PinItf(0)->QueryId(nullptr));
}

} // namespace
