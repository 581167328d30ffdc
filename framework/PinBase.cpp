#include "framework/PinBase.h"

#include <new>
#include <limits>
#include "framework/FilterBase.h"
#include "framework/MediaTypeEnumerator.h"
#include "framework/Raii.h"
#include "framework/TextRoutines.h"

namespace {

// A refusal by the type test (or by a peer) is reported as "type not
// accepted"; more telling failures keep their own code.
HRESULT RefusalCode(HRESULT hr)
{
    if (SUCCEEDED(hr) || hr == E_FAIL || hr == E_INVALIDARG) return VFW_E_TYPE_NOT_ACCEPTED;
    return hr;
}

// Failures that say only that one type did not fit; they are not
// remembered as the reason a whole negotiation failed.
bool IsPlainRefusal(HRESULT hr)
{
    return hr == E_FAIL || hr == E_INVALIDARG || hr == VFW_E_TYPE_NOT_ACCEPTED;
}

const MediaTypeRecord* AsRecord(const AM_MEDIA_TYPE* type)
{
    return static_cast<const MediaTypeRecord*>(type);
}

} // namespace

PinBase::PinBase(const wchar_t* objectName, FilterBase* filter, CriticalLock* lock, HRESULT* /*result*/,
                 const wchar_t* pinName, PIN_DIRECTION direction)
    : ObjectBase(objectName, nullptr),
      m_PinName(nullptr),
      m_Peer(nullptr),
      m_Direction(direction),
      m_Lock(lock),
      m_Filter(filter),
      m_QualitySink(nullptr),
      m_TypeVersion(1),
      m_SegmentStart(0),
      m_SegmentStop(std::numeric_limits<REFERENCE_TIME>::max()),
      m_SegmentRate(1.0)
{
    if (pinName) {
        const size_t length = WideLength(pinName);
        m_PinName = new (std::nothrow) wchar_t[length + 1];
        if (m_PinName) CopyMemory(m_PinName, pinName, (length + 1) * sizeof(wchar_t));
    }
}

PinBase::~PinBase()
{
    delete[] m_PinName;
}

HRESULT STDMETHODCALLTYPE PinBase::InnerQueryInterface(REFIID iid, void** out)
{
    if (IsEqualIID(iid, IID_IPin)) return ProvideInterface(static_cast<IPin*>(this), out);
    if (IsEqualIID(iid, IID_IQualityControl)) return ProvideInterface(static_cast<IQualityControl*>(this), out);
    return ObjectBase::InnerQueryInterface(iid, out);
}

ULONG STDMETHODCALLTYPE PinBase::InnerAddRef()
{
    if (!m_Filter) return ObjectBase::InnerAddRef();
    return m_Filter->FilterInterface()->AddRef();
}

ULONG STDMETHODCALLTYPE PinBase::InnerRelease()
{
    if (!m_Filter) return ObjectBase::InnerRelease();
    return m_Filter->FilterInterface()->Release();
}

LONG PinBase::TypeVersion()
{
    return m_TypeVersion;
}

HRESULT PinBase::Activate()
{
    return S_OK;
}

HRESULT PinBase::Deactivate()
{
    return S_OK;
}

HRESULT PinBase::RunAt(REFERENCE_TIME /*start*/)
{
    return S_OK;
}

HRESULT PinBase::StoreMediaType(const MediaTypeRecord* type)
{
    if (!type) return E_POINTER;
    ScopedLock hold(&m_TypeLock);
    return m_ConnectionType.Assign(*type);
}

HRESULT PinBase::CheckPeer(IPin* peer)
{
    // A peer that cannot tell its direction is taken as the opposite one.
    PIN_DIRECTION peerDirection = m_Direction == PINDIR_INPUT ? PINDIR_OUTPUT : PINDIR_INPUT;
    peer->QueryDirection(&peerDirection);
    return peerDirection == m_Direction ? VFW_E_INVALID_DIRECTION : S_OK;
}

HRESULT PinBase::BreakConnection()
{
    return S_OK;
}

HRESULT PinBase::FinishConnection(IPin* /*peer*/)
{
    return S_OK;
}

void PinBase::ReleasePeer()
{
    if (m_Peer) {
        m_Peer->Release();
        m_Peer = nullptr;
    }
}

HRESULT PinBase::TryConnection(IPin* receiver, const MediaTypeRecord* type)
{
    HRESULT hr = CheckPeer(receiver);
    if (FAILED(hr)) {
        BreakConnection();
        return hr;
    }
    hr = TestMediaType(type);
    if (hr == S_OK) {
        m_Peer = receiver;
        m_Peer->AddRef();
        hr = StoreMediaType(type);
        if (SUCCEEDED(hr)) hr = receiver->ReceiveConnection(PinInterface(), type);
        if (SUCCEEDED(hr)) {
            hr = FinishConnection(receiver);
            if (SUCCEEDED(hr)) return hr;
            receiver->Disconnect();
        }
    } else {
        hr = RefusalCode(hr);
    }
    BreakConnection();
    ReleasePeer();
    return hr;
}

HRESULT PinBase::TryTypeList(IPin* receiver, const MediaTypeRecord* pattern, IEnumMediaTypes* types)
{
    RETURN_IF_FAILED(types->Reset());
    HRESULT remembered = S_OK;
    for (;;) {
        AM_MEDIA_TYPE* proposed = nullptr;
        if (types->Next(1, &proposed, nullptr) != S_OK || !proposed) break;
        HRESULT outcome;
        if (pattern && !AsRecord(proposed)->MatchesPattern(*pattern)) {
            outcome = VFW_E_NO_ACCEPTABLE_TYPES;
        } else {
            outcome = TryConnection(receiver, AsRecord(proposed));
            if (FAILED(outcome) && SUCCEEDED(remembered) && !IsPlainRefusal(outcome)) remembered = outcome;
        }
        DeleteTypeRecord(proposed);
        if (outcome == S_OK) return S_OK;
    }
    return FAILED(remembered) ? remembered : VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT PinBase::NegotiateType(IPin* receiver, const MediaTypeRecord* type)
{
    if (type && !type->IsPartial()) return TryConnection(receiver, type);

    HRESULT remembered = VFW_E_NO_ACCEPTABLE_TYPES;
    // The receiving pin's proposals first, then our own.
    IPin* const proposers[2] = {receiver, PinInterface()};
    for (IPin* proposer : proposers) {
        ComPtr<IEnumMediaTypes> types;
        if (FAILED(proposer->EnumMediaTypes(types.put())) || !types) continue;
        const HRESULT hr = TryTypeList(receiver, type, types.get());
        if (SUCCEEDED(hr)) return S_OK;
        if (!IsPlainRefusal(hr)) remembered = hr;
    }
    return remembered;
}

HRESULT PinBase::DropConnection()
{
    if (!m_Peer) return S_FALSE;
    RETURN_IF_FAILED(BreakConnection());
    ReleasePeer();
    return S_OK;
}

STDMETHODIMP PinBase::Connect(IPin* receiver, const AM_MEDIA_TYPE* type)
{
    if (!receiver) return E_POINTER;
    ScopedLock hold(m_Lock);
    if (m_Peer) return VFW_E_ALREADY_CONNECTED;
    if (m_Filter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    const HRESULT hr = NegotiateType(receiver, AsRecord(type));
    if (FAILED(hr)) {
        BreakConnection();
        return hr;
    }
    return S_OK;
}

STDMETHODIMP PinBase::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type)
{
    if (!connector || !type) return E_POINTER;
    ScopedLock hold(m_Lock);
    if (m_Peer) return VFW_E_ALREADY_CONNECTED;
    if (m_Filter->State() != State_Stopped) return VFW_E_NOT_STOPPED;

    HRESULT hr = CheckPeer(connector);
    if (FAILED(hr)) {
        BreakConnection();
        return hr;
    }
    hr = TestMediaType(AsRecord(type));
    if (hr != S_OK) {
        BreakConnection();
        return RefusalCode(hr);
    }
    m_Peer = connector;
    m_Peer->AddRef();
    hr = StoreMediaType(AsRecord(type));
    if (SUCCEEDED(hr)) hr = FinishConnection(connector);
    if (SUCCEEDED(hr)) return S_OK;
    ReleasePeer();
    BreakConnection();
    return hr;
}

STDMETHODIMP PinBase::Disconnect()
{
    ScopedLock hold(m_Lock);
    if (m_Filter->State() != State_Stopped) return VFW_E_NOT_STOPPED;
    return DropConnection();
}

STDMETHODIMP PinBase::ConnectedTo(IPin** out)
{
    if (!out) return E_POINTER;
    IPin* peer = m_Peer;
    *out = peer;
    if (!peer) return VFW_E_NOT_CONNECTED;
    peer->AddRef();
    return S_OK;
}

STDMETHODIMP PinBase::ConnectionMediaType(AM_MEDIA_TYPE* out)
{
    if (!out) return E_POINTER;
    ScopedLock hold(&m_TypeLock);
    if (m_Peer) {
        CopyTypeRecord(out, m_ConnectionType);
        return S_OK;
    }
    static_cast<MediaTypeRecord*>(out)->SetDefaults();
    return VFW_E_NOT_CONNECTED;
}

STDMETHODIMP PinBase::QueryPinInfo(PIN_INFO* out)
{
    if (!out) return E_POINTER;
    out->pFilter = m_Filter ? m_Filter->FilterInterface() : nullptr;
    if (out->pFilter) out->pFilter->AddRef();
    out->dir = m_Direction;
    CopyWideBounded(out->achName, m_PinName ? m_PinName : L"", sizeof(out->achName) / sizeof(out->achName[0]));
    return S_OK;
}

STDMETHODIMP PinBase::QueryDirection(PIN_DIRECTION* out)
{
    if (!out) return E_POINTER;
    *out = m_Direction;
    return S_OK;
}

STDMETHODIMP PinBase::QueryAccept(const AM_MEDIA_TYPE* type)
{
    if (!type) return E_POINTER;
    const HRESULT hr = TestMediaType(AsRecord(type));
    return FAILED(hr) ? S_FALSE : hr;
}

STDMETHODIMP PinBase::EnumMediaTypes(IEnumMediaTypes** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) MediaTypeEnumerator(this, nullptr);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP PinBase::QueryInternalConnections(IPin** /*pins*/, ULONG* /*count*/)
{
    return E_NOTIMPL;
}

// Stream events are an input pin's business; a pin that does not receive
// them says so.
STDMETHODIMP PinBase::EndOfStream()
{
    return E_UNEXPECTED;
}

STDMETHODIMP PinBase::BeginFlush()
{
    return E_UNEXPECTED;
}

STDMETHODIMP PinBase::EndFlush()
{
    return E_UNEXPECTED;
}

STDMETHODIMP PinBase::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    m_SegmentStart = start;
    m_SegmentStop = stop;
    m_SegmentRate = rate;
    return S_OK;
}

STDMETHODIMP PinBase::Notify(IBaseFilter* /*sender*/, Quality /*quality*/)
{
    return E_NOTIMPL;
}

STDMETHODIMP PinBase::SetSink(IQualityControl* sink)
{
    ScopedLock hold(m_Lock);
    m_QualitySink = sink;
    return S_OK;
}
