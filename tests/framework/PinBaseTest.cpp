// The connection protocol: which types are tried in which order, which
// failure is reported, how a failed attempt is undone; pin information and
// the media type enumerator.
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <dshow.h>

#include "framework/Raii.h"
#include "tests/support/FakeInputPin.h"
#include "tests/support/SyntheticSource.h"

namespace {

// A minimal video type: a 16-byte format block named by its subtype.
MediaTypeRecord MakeType(const GUID& major, const GUID& subtype)
{
    MediaTypeRecord type;
    type.majortype = major;
    type.subtype = subtype;
    type.formattype = FORMAT_VideoInfo;
    type.cbFormat = 16;
    type.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(16));
    CopyMemory(type.pbFormat, &subtype, 16);
    return type;
}

const GUID SubA = MEDIASUBTYPE_RGB24;
const GUID SubB = MEDIASUBTYPE_RGB32;
const GUID SubC = MEDIASUBTYPE_RGB565;

std::string NameOf(const GUID& subtype)
{
    if (IsEqualGUID(subtype, SubA)) return "A";
    if (IsEqualGUID(subtype, SubB)) return "B";
    if (IsEqualGUID(subtype, SubC)) return "C";
    return "?";
}

// A source pin whose accepted and proposed types are chosen by the test,
// and which records the types its TestMediaType is asked about.
class ScriptedPin : public SyntheticPin {
public:
    ScriptedPin(SyntheticSource* filter) : SyntheticPin(filter, nullptr, L"Scripted") {}

    HRESULT TestMediaType(const MediaTypeRecord* type) override
    {
        m_Tested.push_back(NameOf(type->subtype));
        for (const GUID& each : m_Accepted) {
            if (IsEqualGUID(each, type->subtype)) return S_OK;
        }
        return m_Refusal;
    }
    HRESULT GetMediaType(int position, MediaTypeRecord* type) override
    {
        if (position < 0) return E_INVALIDARG;
        if (position >= static_cast<int>(m_Proposed.size())) return VFW_S_NO_MORE_ITEMS;
        return type->Assign(m_Proposed[position]);
    }
    LONG TypeVersion() override { return m_Version; }

    using PinBase::TryTypeList;

    std::vector<GUID> m_Accepted;
    std::vector<MediaTypeRecord> m_Proposed;
    std::vector<std::string> m_Tested;
    HRESULT m_Refusal = E_FAIL;
    LONG m_Version = 1;
};

class PinBaseTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        m_LiveBefore = LiveObjectCount;
        m_Source = SyntheticSource::Create(0);
        ASSERT_NE(nullptr, m_Source);
        m_Pin = new ScriptedPin(m_Source);
        m_Peer = new FakeInputPin();
    }
    void TearDown() override
    {
        m_Source->Filter()->Stop();
        m_Pin->Disconnect();
        EXPECT_EQ(1u, RefCountOf(static_cast<IPin*>(m_Peer)));
        m_Peer->Release();
        EXPECT_EQ(0u, m_Source->Filter()->Release());
        EXPECT_EQ(m_LiveBefore, LiveObjectCount);
        CoUninitialize();
    }
    IPin* Pin() { return m_Pin->PinInterface(); }

    LONG m_LiveBefore = 0;
    SyntheticSource* m_Source = nullptr;
    ScriptedPin* m_Pin = nullptr;
    FakeInputPin* m_Peer = nullptr;
};

typedef std::vector<std::string> Names;

TEST_F(PinBaseTest, CompleteTypeIsTheOnlyOneTried)
{
    m_Pin->m_Accepted = {SubB};
    m_Peer->m_OfferedTypes = {MakeType(MEDIATYPE_Video, SubA)};
    const MediaTypeRecord wanted = MakeType(MEDIATYPE_Video, SubB);
    EXPECT_EQ(S_OK, Pin()->Connect(m_Peer, &wanted));
    EXPECT_EQ(Names{"B"}, m_Pin->m_Tested);
    EXPECT_EQ(0, m_Peer->m_Log.Count("EnumMediaTypes"));
    EXPECT_EQ(1, m_Peer->m_Log.Count("ReceiveConnection"));
    EXPECT_EQ(static_cast<IPin*>(m_Pin), m_Peer->Peer());

    AM_MEDIA_TYPE agreed;
    ASSERT_EQ(S_OK, Pin()->ConnectionMediaType(&agreed));
    EXPECT_TRUE(static_cast<MediaTypeRecord*>(&agreed)->Equals(wanted));
    ReleaseTypeRecord(agreed);

    ComPtr<IPin> peer;
    EXPECT_EQ(S_OK, Pin()->ConnectedTo(peer.put()));
    EXPECT_EQ(static_cast<IPin*>(m_Peer), peer.get());
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, Pin()->Connect(m_Peer, &wanted));
}

TEST_F(PinBaseTest, ReceiverProposalsComeFirst)
{
    m_Pin->m_Accepted = {SubB};
    m_Peer->m_OfferedTypes = {MakeType(MEDIATYPE_Video, SubA), MakeType(MEDIATYPE_Video, SubB)};
    m_Pin->m_Proposed = {MakeType(MEDIATYPE_Video, SubC)};
    EXPECT_EQ(S_OK, Pin()->Connect(m_Peer, nullptr));
    EXPECT_EQ((Names{"A", "B"}), m_Pin->m_Tested);
    EXPECT_EQ(1, m_Peer->m_Log.Count("ReceiveConnection"));
    EXPECT_TRUE(m_Pin->ConnectionType().Equals(MakeType(MEDIATYPE_Video, SubB)));
}

TEST_F(PinBaseTest, PatternSkipsOtherMajorTypesUntested)
{
    m_Pin->m_Accepted = {SubA, SubB};
    m_Peer->m_OfferedTypes = {MakeType(MEDIATYPE_Audio, SubA), MakeType(MEDIATYPE_Video, SubB)};
    MediaTypeRecord pattern;
    pattern.majortype = MEDIATYPE_Video;
    EXPECT_EQ(S_OK, Pin()->Connect(m_Peer, &pattern));
    EXPECT_EQ(Names{"B"}, m_Pin->m_Tested);
}

TEST_F(PinBaseTest, OwnProposalsFollowAndAreOfferedToTheReceiver)
{
    m_Pin->m_Accepted = {SubB, SubC};
    m_Peer->m_OfferedTypes = {MakeType(MEDIATYPE_Video, SubA)};
    m_Pin->m_Proposed = {MakeType(MEDIATYPE_Video, SubB), MakeType(MEDIATYPE_Video, SubC)};
    m_Peer->m_ReceiveConnectionResults = {VFW_E_TYPE_NOT_ACCEPTED, S_OK};
    EXPECT_EQ(S_OK, Pin()->Connect(m_Peer, nullptr));
    EXPECT_EQ((Names{"A", "B", "C"}), m_Pin->m_Tested);
    EXPECT_EQ(2, m_Peer->m_Log.Count("ReceiveConnection"));
    EXPECT_TRUE(m_Pin->ConnectionType().Equals(MakeType(MEDIATYPE_Video, SubC)));
}

TEST_F(PinBaseTest, RefusalsEverywhereGiveNoAcceptableTypes)
{
    for (HRESULT refusal : {E_FAIL, E_INVALIDARG, S_FALSE, VFW_E_TYPE_NOT_ACCEPTED}) {
        SCOPED_TRACE(testing::Message() << std::hex << refusal);
        m_Pin->m_Refusal = refusal;
        m_Peer->m_OfferedTypes = {MakeType(MEDIATYPE_Video, SubA)};
        m_Pin->m_Proposed = {MakeType(MEDIATYPE_Video, SubB)};
        EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, Pin()->Connect(m_Peer, nullptr));
        EXPECT_FALSE(m_Pin->IsConnected());
        EXPECT_EQ(nullptr, m_Pin->InputPin());
        EXPECT_EQ(1u, RefCountOf(static_cast<IPin*>(m_Peer)));
        // A complete type refused by the type test is "not accepted".
        const MediaTypeRecord complete = MakeType(MEDIATYPE_Video, SubA);
        EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, Pin()->Connect(m_Peer, &complete));
    }
    EXPECT_EQ(0, m_Peer->m_Log.Count("ReceiveConnection"));
}

// Within one list the first telling failure wins; across the two lists the
// later list's outcome replaces the earlier one's.
TEST_F(PinBaseTest, WhichFailureIsReported)
{
    m_Pin->m_Accepted = {SubA, SubB};
    m_Peer->m_OfferedTypes = {MakeType(MEDIATYPE_Video, SubA), MakeType(MEDIATYPE_Video, SubB)};
    m_Peer->m_ReceiveConnectionResults = {E_OUTOFMEMORY, E_UNEXPECTED, E_OUTOFMEMORY, E_UNEXPECTED};
    ComPtr<IEnumMediaTypes> offered;
    ASSERT_EQ(S_OK, m_Peer->EnumMediaTypes(offered.put()));
    {
        ScopedLock hold(m_Source->FilterLock());
        EXPECT_EQ(E_OUTOFMEMORY, m_Pin->TryTypeList(m_Peer, nullptr, offered.get()));
    }
    EXPECT_FALSE(m_Pin->IsConnected());

    m_Pin->m_Proposed = {MakeType(MEDIATYPE_Video, SubC)};
    EXPECT_EQ(VFW_E_NO_ACCEPTABLE_TYPES, Pin()->Connect(m_Peer, nullptr));
    EXPECT_EQ((Names{"A", "B", "A", "B", "C"}), m_Pin->m_Tested);
    // A failed FinishConnection or ReceiveConnection leaves no peer behind.
    EXPECT_EQ(nullptr, m_Peer->Peer());
}

TEST_F(PinBaseTest, SameDirectionIsRefused)
{
    SyntheticPin* other = m_Source->AddPin(L"Other");
    const MediaTypeRecord type = MakeType(MEDIATYPE_Video, SubA);
    m_Pin->m_Accepted = {SubA};
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, Pin()->Connect(other->PinInterface(), &type));
    EXPECT_FALSE(m_Pin->IsConnected());
    EXPECT_FALSE(other->IsConnected());
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, Pin()->ReceiveConnection(other->PinInterface(), &type));

    FakeInputPin* output = new FakeInputPin(PINDIR_OUTPUT);
    EXPECT_EQ(VFW_E_INVALID_DIRECTION, Pin()->Connect(output, &type));
    EXPECT_EQ(0, output->m_Log.Count("ReceiveConnection"));
    EXPECT_EQ(0u, output->Release());
}

TEST_F(PinBaseTest, ReceivingAConnection)
{
    const MediaTypeRecord type = MakeType(MEDIATYPE_Video, SubA);
    EXPECT_EQ(E_POINTER, Pin()->ReceiveConnection(nullptr, &type));
    EXPECT_EQ(E_POINTER, Pin()->ReceiveConnection(m_Peer, nullptr));
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED, Pin()->ReceiveConnection(m_Peer, &type));
    m_Pin->m_Accepted = {SubA};
    EXPECT_EQ(S_OK, Pin()->ReceiveConnection(m_Peer, &type));
    EXPECT_TRUE(m_Pin->IsConnected());
    EXPECT_NE(nullptr, m_Pin->Allocator());
    EXPECT_EQ(VFW_E_ALREADY_CONNECTED, Pin()->ReceiveConnection(m_Peer, &type));
}

TEST_F(PinBaseTest, ConnectionChangesOnlyWhileStopped)
{
    const MediaTypeRecord type = MakeType(MEDIATYPE_Video, SubA);
    m_Pin->m_Accepted = {SubA};
    EXPECT_EQ(E_POINTER, Pin()->Connect(nullptr, &type));
    ASSERT_EQ(S_OK, Pin()->Connect(m_Peer, &type));
    m_Pin->m_EndAfter = 0;  // the worker ends its stream at once
    ASSERT_EQ(S_OK, m_Source->Filter()->Pause());
    EXPECT_EQ(VFW_E_NOT_STOPPED, Pin()->Disconnect());
    EXPECT_TRUE(m_Pin->IsConnected());

    SyntheticPin* other = m_Source->AddPin(L"Other");
    FakeInputPin* second = new FakeInputPin();
    EXPECT_EQ(VFW_E_NOT_STOPPED, other->PinInterface()->Connect(second, &type));
    EXPECT_EQ(VFW_E_NOT_STOPPED, other->PinInterface()->ReceiveConnection(second, &type));
    EXPECT_EQ(0u, second->Release());

    ASSERT_EQ(S_OK, m_Source->Filter()->Stop());
    EXPECT_EQ(S_OK, Pin()->Disconnect());
    EXPECT_EQ(S_FALSE, Pin()->Disconnect());
    IPin* none = reinterpret_cast<IPin*>(1);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, Pin()->ConnectedTo(&none));
    EXPECT_EQ(nullptr, none);
}

TEST_F(PinBaseTest, UnconnectedPinAnswers)
{
    AM_MEDIA_TYPE type;
    FillMemory(&type, sizeof(type), 0xCD);
    EXPECT_EQ(VFW_E_NOT_CONNECTED, Pin()->ConnectionMediaType(&type));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.majortype));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.subtype));
    EXPECT_TRUE(IsEqualGUID(GUID_NULL, type.formattype));
    EXPECT_EQ(TRUE, type.bFixedSizeSamples);
    EXPECT_EQ(1u, type.lSampleSize);
    EXPECT_EQ(0u, type.cbFormat);
    EXPECT_EQ(nullptr, type.pbFormat);
    EXPECT_EQ(E_POINTER, Pin()->ConnectionMediaType(nullptr));

    PIN_INFO info;
    EXPECT_EQ(S_OK, Pin()->QueryPinInfo(&info));
    EXPECT_EQ(m_Source->Filter(), info.pFilter);
    EXPECT_EQ(PINDIR_OUTPUT, info.dir);
    EXPECT_EQ(std::wstring(L"Scripted"), std::wstring(info.achName));
    EXPECT_EQ(2u, RefCountOf(m_Source->Filter()));
    info.pFilter->Release();
    PIN_DIRECTION direction = PINDIR_INPUT;
    EXPECT_EQ(S_OK, Pin()->QueryDirection(&direction));
    EXPECT_EQ(PINDIR_OUTPUT, direction);

    // The pin's references are its filter's.
    EXPECT_EQ(2u, Pin()->AddRef());
    EXPECT_EQ(1u, Pin()->Release());

    const MediaTypeRecord a = MakeType(MEDIATYPE_Video, SubA);
    EXPECT_EQ(S_FALSE, Pin()->QueryAccept(&a));
    m_Pin->m_Accepted = {SubA};
    EXPECT_EQ(S_OK, Pin()->QueryAccept(&a));
    EXPECT_EQ(E_POINTER, Pin()->QueryAccept(nullptr));
    EXPECT_EQ(E_NOTIMPL, Pin()->QueryInternalConnections(nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, m_Pin->Notify(nullptr, Quality()));
}

TEST_F(PinBaseTest, MediaTypeEnumerator)
{
    m_Pin->m_Proposed = {MakeType(MEDIATYPE_Video, SubA), MakeType(MEDIATYPE_Video, SubB)};
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(S_OK, Pin()->EnumMediaTypes(types.put()));
    EXPECT_EQ(2u, RefCountOf(m_Source->Filter()));

    AM_MEDIA_TYPE* got[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(S_FALSE, types->Next(3, got, &fetched));
    ASSERT_EQ(2u, fetched);
    EXPECT_TRUE(static_cast<MediaTypeRecord*>(got[0])->Equals(m_Pin->m_Proposed[0]));
    EXPECT_TRUE(static_cast<MediaTypeRecord*>(got[1])->Equals(m_Pin->m_Proposed[1]));
    EXPECT_NE(m_Pin->m_Proposed[1].pbFormat, got[1]->pbFormat);
    DeleteTypeRecord(got[0]);
    DeleteTypeRecord(got[1]);
    EXPECT_EQ(S_FALSE, types->Next(1, got, &fetched));
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(S_OK, types->Next(0, got, &fetched));
    EXPECT_EQ(E_INVALIDARG, types->Next(2, got, nullptr));

    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Skip(2));
    EXPECT_EQ(S_FALSE, types->Skip(1));
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Skip(1));
    ComPtr<IEnumMediaTypes> copy;
    ASSERT_EQ(S_OK, types->Clone(copy.put()));
    ASSERT_EQ(S_OK, copy->Next(1, got, nullptr));
    EXPECT_TRUE(static_cast<MediaTypeRecord*>(got[0])->Equals(m_Pin->m_Proposed[1]));
    DeleteTypeRecord(got[0]);

    m_Pin->m_Version = 2;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Next(1, got, &fetched));
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Skip(1));
    EXPECT_EQ(S_OK, types->Skip(0));
    ComPtr<IEnumMediaTypes> stale;
    EXPECT_EQ(VFW_E_ENUM_OUT_OF_SYNC, types->Clone(stale.put()));
    EXPECT_EQ(nullptr, stale.get());
    EXPECT_EQ(S_OK, types->Reset());
    EXPECT_EQ(S_OK, types->Next(1, got, nullptr));
    DeleteTypeRecord(got[0]);

    copy.reset();
    types.reset();
    EXPECT_EQ(1u, RefCountOf(m_Source->Filter()));
}

} // namespace
