#include "tests/support/FakeInputPin.h"

#include <uuids.h>
#include <vfwmsgs.h>
#include "framework/ObjectBase.h"
#include "tests/support/TestEnumerators.h"

void CallRecord::Add(const std::string& call)
{
    ScopedLock hold(&m_Lock);
    m_Calls.push_back(call);
}

std::vector<std::string> CallRecord::Calls() const
{
    ScopedLock hold(&m_Lock);
    return m_Calls;
}

int CallRecord::Count(const std::string& call) const
{
    ScopedLock hold(&m_Lock);
    int count = 0;
    for (const std::string& each : m_Calls) count += each == call ? 1 : 0;
    return count;
}

void CallRecord::Clear()
{
    ScopedLock hold(&m_Lock);
    m_Calls.clear();
}

ULONG RefCountOf(IUnknown* object)
{
    object->AddRef();
    return object->Release();
}

FakeAllocator* FakeAllocator::Create(CallRecord* log)
{
    IMemAllocator* inner = nullptr;
    if (FAILED(NewPlatformAllocator(&inner)) || !inner) return nullptr;
    return new FakeAllocator(inner, log);
}

FakeAllocator::~FakeAllocator()
{
    m_Inner->Release();
}

STDMETHODIMP FakeAllocator::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMemAllocator)) {
        *out = static_cast<IMemAllocator*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) FakeAllocator::AddRef()
{
    return InterlockedIncrement(&m_RefCount);
}

STDMETHODIMP_(ULONG) FakeAllocator::Release()
{
    const LONG count = InterlockedDecrement(&m_RefCount);
    if (m_Log) m_Log->Add("Allocator.Release");
    if (count == 0) delete this;
    return count;
}

STDMETHODIMP FakeAllocator::SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual)
{
    if (m_Log) m_Log->Add("Allocator.SetProperties");
    if (request) m_LastRequest = *request;
    return m_Inner->SetProperties(request, actual);
}

STDMETHODIMP FakeAllocator::GetProperties(ALLOCATOR_PROPERTIES* out)
{
    return m_Inner->GetProperties(out);
}

STDMETHODIMP FakeAllocator::Commit()
{
    if (m_Log) m_Log->Add("Allocator.Commit");
    return m_Inner->Commit();
}

STDMETHODIMP FakeAllocator::Decommit()
{
    if (m_Log) m_Log->Add("Allocator.Decommit");
    if (FAILED(m_DecommitFailure)) return m_DecommitFailure;
    return m_Inner->Decommit();
}

STDMETHODIMP FakeAllocator::GetBuffer(IMediaSample** out, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags)
{
    return m_Inner->GetBuffer(out, start, end, flags);
}

STDMETHODIMP FakeAllocator::ReleaseBuffer(IMediaSample* sample)
{
    return m_Inner->ReleaseBuffer(sample);
}

FakeInputPin::FakeInputPin(PIN_DIRECTION direction) : m_Direction(direction)
{
}

FakeInputPin::~FakeInputPin()
{
    if (m_Peer) m_Peer->Release();
    if (m_NotifiedAllocator) m_NotifiedAllocator->Release();
    if (m_OwnAllocator) m_OwnAllocator->Release();
}

STDMETHODIMP FakeInputPin::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        *out = static_cast<IPin*>(this);
    } else if (IsEqualIID(iid, IID_IMemInputPin) && m_OfferMemInputPin) {
        *out = static_cast<IMemInputPin*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) FakeInputPin::AddRef()
{
    return InterlockedIncrement(&m_RefCount);
}

STDMETHODIMP_(ULONG) FakeInputPin::Release()
{
    const LONG count = InterlockedDecrement(&m_RefCount);
    if (count == 0) delete this;
    return count;
}

STDMETHODIMP FakeInputPin::Connect(IPin*, const AM_MEDIA_TYPE*)
{
    return E_UNEXPECTED;
}

STDMETHODIMP FakeInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type)
{
    m_Log.Add("ReceiveConnection");
    const HRESULT hr = m_ReceiveConnectionCalls < m_ReceiveConnectionResults.size()
                           ? m_ReceiveConnectionResults[m_ReceiveConnectionCalls]
                           : S_OK;
    ++m_ReceiveConnectionCalls;
    if (FAILED(hr)) return hr;
    m_ReceivedType = *type;
    if (m_Peer) m_Peer->Release();
    m_Peer = connector;
    m_Peer->AddRef();
    return hr;
}

STDMETHODIMP FakeInputPin::Disconnect()
{
    m_Log.Add("Disconnect");
    if (!m_Peer) return S_FALSE;
    m_Peer->Release();
    m_Peer = nullptr;
    if (m_NotifiedAllocator) {
        m_NotifiedAllocator->Release();
        m_NotifiedAllocator = nullptr;
    }
    return S_OK;
}

STDMETHODIMP FakeInputPin::ConnectedTo(IPin** out)
{
    *out = m_Peer;
    if (!m_Peer) return VFW_E_NOT_CONNECTED;
    m_Peer->AddRef();
    return S_OK;
}

STDMETHODIMP FakeInputPin::ConnectionMediaType(AM_MEDIA_TYPE* out)
{
    return CopyTypeRecord(out, m_ReceivedType);
}

STDMETHODIMP FakeInputPin::QueryPinInfo(PIN_INFO* out)
{
    out->pFilter = nullptr;
    out->dir = m_Direction;
    lstrcpyW(out->achName, L"Fake");
    return S_OK;
}

STDMETHODIMP FakeInputPin::QueryDirection(PIN_DIRECTION* out)
{
    *out = m_Direction;
    return S_OK;
}

STDMETHODIMP FakeInputPin::QueryId(LPWSTR*)
{
    return E_NOTIMPL;
}

STDMETHODIMP FakeInputPin::QueryAccept(const AM_MEDIA_TYPE*)
{
    return S_OK;
}

STDMETHODIMP FakeInputPin::EnumMediaTypes(IEnumMediaTypes** out)
{
    m_Log.Add("EnumMediaTypes");
    *out = new TypeListEnumerator(m_OfferedTypes);
    return S_OK;
}

STDMETHODIMP FakeInputPin::QueryInternalConnections(IPin**, ULONG*)
{
    return E_NOTIMPL;
}

STDMETHODIMP FakeInputPin::EndOfStream()
{
    InterlockedIncrement(&m_EndOfStreams);
    m_Log.Add("EndOfStream");
    return S_OK;
}

STDMETHODIMP FakeInputPin::BeginFlush()
{
    m_Log.Add("BeginFlush");
    return S_OK;
}

STDMETHODIMP FakeInputPin::EndFlush()
{
    m_Log.Add("EndFlush");
    return S_OK;
}

STDMETHODIMP FakeInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    m_Log.Add("NewSegment");
    m_SegmentStart = start;
    m_SegmentStop = stop;
    m_SegmentRate = rate;
    return S_OK;
}

STDMETHODIMP FakeInputPin::GetAllocator(IMemAllocator** out)
{
    m_Log.Add("GetAllocator");
    *out = m_OwnAllocator;
    if (!m_OwnAllocator) return VFW_E_NO_ALLOCATOR;
    m_OwnAllocator->AddRef();
    return S_OK;
}

STDMETHODIMP FakeInputPin::NotifyAllocator(IMemAllocator* allocator, BOOL readOnly)
{
    m_Log.Add(readOnly ? "NotifyAllocator(readonly)" : "NotifyAllocator");
    const HRESULT hr = (allocator == m_OwnAllocator && m_RefuseOwnAllocator) ? E_FAIL : m_NotifyResult;
    if (FAILED(hr)) return hr;
    if (m_NotifiedAllocator) m_NotifiedAllocator->Release();
    m_NotifiedAllocator = allocator;
    m_NotifiedAllocator->AddRef();
    return hr;
}

STDMETHODIMP FakeInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES* out)
{
    m_Log.Add("GetAllocatorRequirements");
    if (!m_HasRequirements) return E_NOTIMPL;
    *out = m_Requirements;
    return S_OK;
}

STDMETHODIMP FakeInputPin::Receive(IMediaSample*)
{
    InterlockedIncrement(&m_Samples);
    return m_ReceiveResult;
}

STDMETHODIMP FakeInputPin::ReceiveMultiple(IMediaSample** samples, long count, long* processed)
{
    *processed = 0;
    for (long index = 0; index < count; ++index) {
        const HRESULT hr = Receive(samples[index]);
        if (hr != S_OK) return hr;
        ++*processed;
    }
    return S_OK;
}

STDMETHODIMP FakeInputPin::ReceiveCanBlock()
{
    return S_FALSE;
}
