// Allocator negotiation with a downstream pin that offers, refuses or lacks
// an allocator; the undo of a connection; delivery and stream events.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>
#include <dshow.h>

#include "framework/Raii.h"
#include "tests/support/FakeInputPin.h"
#include "tests/support/SyntheticSource.h"

namespace {

class OutputPinBaseTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        m_LiveBefore = LiveObjectCount;
        m_Source = SyntheticSource::Create(1);
        ASSERT_NE(nullptr, m_Source);
        m_Pin = m_Source->Pin(0);
        m_Peer = new FakeInputPin();
        SyntheticPin::BuildType(&m_Type);
    }
    void TearDown() override
    {
        m_Pin->Disconnect();
        m_Peer->Release();
        EXPECT_EQ(0u, m_Source->Filter()->Release());
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
        CoUninitialize();
    }
    // The downstream pin offers an allocator of its own.
    FakeAllocator* OfferAllocator()
    {
        FakeAllocator* allocator = FakeAllocator::Create(&m_Peer->m_Log);
        m_Peer->m_OwnAllocator = allocator;
        return allocator;
    }
    HRESULT Connect() { return m_Pin->PinInterface()->Connect(m_Peer, &m_Type); }

    LONG m_LiveBefore = 0;
    SyntheticSource* m_Source = nullptr;
    SyntheticPin* m_Pin = nullptr;
    FakeInputPin* m_Peer = nullptr;
    MediaTypeRecord m_Type;
};

typedef std::vector<std::string> Calls;

TEST_F(OutputPinBaseTest, DownstreamAllocatorIsUsedWhenAccepted)
{
    FakeAllocator* offered = OfferAllocator();
    ASSERT_NE(nullptr, offered);
    ASSERT_EQ(S_OK, Connect());
    EXPECT_EQ(static_cast<IMemAllocator*>(offered), m_Pin->Allocator());
    EXPECT_EQ(static_cast<IMemAllocator*>(offered), m_Peer->m_NotifiedAllocator);
    EXPECT_EQ(1, m_Pin->m_SizeBuffersCalls);
    EXPECT_EQ((Calls{"ReceiveConnection", "GetAllocatorRequirements", "GetAllocator", "Allocator.SetProperties",
                     "NotifyAllocator"}),
              m_Peer->m_Log.Calls());
    EXPECT_EQ(3u, RefCountOf(offered));  // downstream pin, our pin, and the notified copy
}

TEST_F(OutputPinBaseTest, PlatformAllocatorServesWhenDownstreamHasNone)
{
    ASSERT_EQ(S_OK, Connect());
    ASSERT_NE(nullptr, m_Pin->Allocator());
    EXPECT_EQ(m_Pin->Allocator(), m_Peer->m_NotifiedAllocator);
    EXPECT_EQ(1, m_Pin->m_SizeBuffersCalls);
    ALLOCATOR_PROPERTIES properties = {};
    ASSERT_EQ(S_OK, m_Pin->Allocator()->GetProperties(&properties));
    EXPECT_GE(properties.cbBuffer, SyntheticPin::FrameBytes);
    EXPECT_EQ(1, m_Peer->m_Log.Count("GetAllocator"));
}

TEST_F(OutputPinBaseTest, RefusedDownstreamAllocatorIsGivenBack)
{
    FakeAllocator* offered = OfferAllocator();
    m_Peer->m_RefuseOwnAllocator = true;
    m_Peer->m_HasRequirements = true;
    m_Peer->m_Requirements = {4, 100, 0, 8};
    ASSERT_EQ(S_OK, Connect());
    EXPECT_NE(static_cast<IMemAllocator*>(offered), m_Pin->Allocator());
    EXPECT_EQ(m_Pin->Allocator(), m_Peer->m_NotifiedAllocator);
    EXPECT_EQ(1u, RefCountOf(offered));
    EXPECT_EQ(2, m_Pin->m_SizeBuffersCalls);
    EXPECT_EQ(2, m_Peer->m_Log.Count("NotifyAllocator"));
    // Both allocators are sized for the downstream pin's requirements, the
    // second one too, although the first sizing changed its request; an
    // alignment of 0 is raised to 1.
    ASSERT_EQ(2u, m_Pin->m_Requests.size());
    for (const ALLOCATOR_PROPERTIES& request : m_Pin->m_Requests) {
        EXPECT_EQ(4, request.cBuffers);
        EXPECT_EQ(100, request.cbBuffer);
        EXPECT_EQ(1, request.cbAlign);
        EXPECT_EQ(8, request.cbPrefix);
    }
}

TEST_F(OutputPinBaseTest, FailedConnectionsLeaveNothingBehind)
{
    struct Case {
        const char* name;
        bool offerMemInputPin;
        HRESULT notifyResult;
        HRESULT expected;
        int receiveConnections;
    };
    const Case cases[] = {
        {"no IMemInputPin", false, S_OK, E_NOINTERFACE, 0},
        {"no allocator agreed", true, E_ACCESSDENIED, E_ACCESSDENIED, 1},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        m_Peer->m_Log.Clear();
        m_Peer->m_OfferMemInputPin = each.offerMemInputPin;
        m_Peer->m_NotifyResult = each.notifyResult;
        EXPECT_EQ(each.expected, Connect());
        EXPECT_FALSE(m_Pin->IsConnected());
        EXPECT_EQ(nullptr, m_Pin->Allocator());
        EXPECT_EQ(nullptr, m_Pin->InputPin());
        EXPECT_EQ(nullptr, m_Peer->Peer());
        EXPECT_EQ(each.receiveConnections, m_Peer->m_Log.Count("ReceiveConnection"));
        EXPECT_EQ(each.receiveConnections, m_Peer->m_Log.Count("Disconnect"));
        EXPECT_EQ(1u, RefCountOf(static_cast<IPin*>(m_Peer)));
    }
}

TEST_F(OutputPinBaseTest, DisconnectDecommitsBeforeReleasing)
{
    FakeAllocator* offered = OfferAllocator();
    ASSERT_EQ(S_OK, Connect());
    m_Peer->m_Log.Clear();
    offered->m_DecommitFailure = E_ACCESSDENIED;
    EXPECT_EQ(E_ACCESSDENIED, m_Pin->PinInterface()->Disconnect());
    EXPECT_TRUE(m_Pin->IsConnected());
    EXPECT_EQ(static_cast<IMemAllocator*>(offered), m_Pin->Allocator());
    EXPECT_NE(nullptr, m_Pin->InputPin());

    m_Peer->m_Log.Clear();
    offered->m_DecommitFailure = S_OK;
    EXPECT_EQ(S_OK, m_Pin->PinInterface()->Disconnect());
    EXPECT_EQ((Calls{"Allocator.Decommit", "Allocator.Release"}), m_Peer->m_Log.Calls());
    EXPECT_EQ(nullptr, m_Pin->Allocator());
    EXPECT_EQ(nullptr, m_Pin->InputPin());
    EXPECT_EQ(2u, RefCountOf(offered));  // downstream pin and its notified copy
}

TEST_F(OutputPinBaseTest, UnconnectedPinCannotDeliver)
{
    IMediaSample* sample = nullptr;
    EXPECT_EQ(E_NOINTERFACE, m_Pin->ObtainSample(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_Pin->DeliverSample(nullptr));
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_Pin->SendEndOfStream());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_Pin->SendBeginFlush());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_Pin->SendEndFlush());
    EXPECT_EQ(VFW_E_NOT_CONNECTED, m_Pin->SendNewSegment(0, 1, 1.0));
    EXPECT_EQ(VFW_E_NO_ALLOCATOR, m_Pin->OutputPinBase::Activate());
    EXPECT_EQ(VFW_E_NO_ALLOCATOR, m_Pin->OutputPinBase::Deactivate());
    EXPECT_EQ(E_UNEXPECTED, m_Pin->PinInterface()->EndOfStream());
    EXPECT_EQ(E_UNEXPECTED, m_Pin->PinInterface()->BeginFlush());
    EXPECT_EQ(E_UNEXPECTED, m_Pin->PinInterface()->EndFlush());
}

TEST_F(OutputPinBaseTest, SamplesAndStreamEventsReachThePeer)
{
    ASSERT_EQ(S_OK, Connect());
    ASSERT_EQ(S_OK, m_Pin->OutputPinBase::Activate());
    IMediaSample* sample = nullptr;
    ASSERT_EQ(S_OK, m_Pin->ObtainSample(&sample, nullptr, nullptr, 0));
    const ULONG before = RefCountOf(sample);
    EXPECT_EQ(S_OK, m_Pin->DeliverSample(sample));
    EXPECT_EQ(before, RefCountOf(sample));
    EXPECT_EQ(1, m_Peer->m_Samples);
    sample->Release();
    m_Peer->m_ReceiveResult = S_FALSE;
    ASSERT_EQ(S_OK, m_Pin->ObtainSample(&sample, nullptr, nullptr, 0));
    EXPECT_EQ(S_FALSE, m_Pin->DeliverSample(sample));
    sample->Release();
    ASSERT_EQ(S_OK, m_Pin->OutputPinBase::Deactivate());

    m_Peer->m_Log.Clear();
    EXPECT_EQ(S_OK, m_Pin->SendNewSegment(-5, 123456789012LL, 0.5));
    EXPECT_EQ(-5, m_Peer->m_SegmentStart);
    EXPECT_EQ(123456789012LL, m_Peer->m_SegmentStop);
    EXPECT_EQ(0.5, m_Peer->m_SegmentRate);
    EXPECT_EQ(S_OK, m_Pin->SendBeginFlush());
    EXPECT_EQ(S_OK, m_Pin->SendEndFlush());
    EXPECT_EQ(S_OK, m_Pin->SendEndOfStream());
    EXPECT_EQ((Calls{"NewSegment", "BeginFlush", "EndFlush", "EndOfStream"}), m_Peer->m_Log.Calls());
}

} // namespace
