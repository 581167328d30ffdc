#include "tests/support/CountingRenderer.h"

#include "tests/support/ProcessCounters.h"
#include "tests/support/TestEnumerators.h"

#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>

namespace {

// {6E1B4C52-1F0A-4C9B-9E43-3D2A7C6B9A10}: the class of this test sink only.
const CLSID CLSID_CountingRenderer = {0x6e1b4c52, 0x1f0a, 0x4c9b, {0x9e, 0x43, 0x3d, 0x2a, 0x7c, 0x6b, 0x9a, 0x10}};

}  // namespace

class CountingRenderer::Pin : public IPin, public IMemInputPin {
public:
    explicit Pin(CountingRenderer* filter) : m_Filter(filter) {}
    virtual ~Pin() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
            *out = static_cast<IPin*>(this);
        } else if (IsEqualIID(iid, IID_IMemInputPin)) {
            *out = static_cast<IMemInputPin*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_Filter->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_Filter->Release(); }

    // IPin
    STDMETHODIMP Connect(IPin*, const AM_MEDIA_TYPE*) override { return E_UNEXPECTED; }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override
    {
        if (!connector || !type) return E_POINTER;
        ScopedLock hold(&m_Filter->m_Lock);
        if (m_Filter->m_Peer) return VFW_E_ALREADY_CONNECTED;
        if (m_Filter->m_State != State_Stopped) return VFW_E_NOT_STOPPED;
        if (!IsEqualGUID(type->majortype, MEDIATYPE_Video)) return VFW_E_TYPE_NOT_ACCEPTED;
        if (FAILED(m_Filter->m_Type.Assign(*type))) return E_OUTOFMEMORY;
        m_Filter->m_Peer = connector;
        connector->AddRef();
        return S_OK;
    }
    STDMETHODIMP Disconnect() override
    {
        ScopedLock hold(&m_Filter->m_Lock);
        if (!m_Filter->m_Peer) return S_FALSE;
        m_Filter->m_Peer->Release();
        m_Filter->m_Peer = nullptr;
        if (m_Filter->m_Allocator) m_Filter->m_Allocator->Release();
        m_Filter->m_Allocator = nullptr;
        m_Filter->m_Type = MediaTypeRecord();
        return S_OK;
    }
    STDMETHODIMP ConnectedTo(IPin** out) override
    {
        if (!out) return E_POINTER;
        ScopedLock hold(&m_Filter->m_Lock);
        *out = m_Filter->m_Peer;
        if (!*out) return VFW_E_NOT_CONNECTED;
        (*out)->AddRef();
        return S_OK;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* out) override
    {
        if (!out) return E_POINTER;
        ScopedLock hold(&m_Filter->m_Lock);
        if (!m_Filter->m_Peer) {
            memset(out, 0, sizeof(*out));
            return VFW_E_NOT_CONNECTED;
        }
        return CopyTypeRecord(out, m_Filter->m_Type);
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* out) override
    {
        if (!out) return E_POINTER;
        out->pFilter = m_Filter;
        m_Filter->AddRef();
        out->dir = PINDIR_INPUT;
        lstrcpynW(out->achName, L"In", MAX_PIN_NAME);
        return S_OK;
    }
    STDMETHODIMP QueryDirection(PIN_DIRECTION* out) override
    {
        if (!out) return E_POINTER;
        *out = PINDIR_INPUT;
        return S_OK;
    }
    STDMETHODIMP QueryId(LPWSTR* out) override
    {
        if (!out) return E_POINTER;
        *out = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof(L"In")));
        if (!*out) return E_OUTOFMEMORY;
        memcpy(*out, L"In", sizeof(L"In"));
        return S_OK;
    }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override
    {
        if (!type) return E_POINTER;
        return IsEqualGUID(type->majortype, MEDIATYPE_Video) ? S_OK : S_FALSE;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override
    {
        if (!out) return E_POINTER;
        *out = new TypeListEnumerator();
        return S_OK;
    }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override
    {
        InterlockedIncrement(&m_Filter->m_EndOfStreams);
        return S_OK;
    }
    STDMETHODIMP BeginFlush() override
    {
        InterlockedExchange(&m_Filter->m_Flushing, 1);
        m_Filter->m_Released.Set();
        return S_OK;
    }
    STDMETHODIMP EndFlush() override
    {
        InterlockedExchange(&m_Filter->m_Flushing, 0);
        if (m_Filter->m_Hold) m_Filter->m_Released.Reset();
        return S_OK;
    }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        return VFW_E_NO_ALLOCATOR;
    }
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL) override
    {
        if (!allocator) return E_POINTER;
        ScopedLock hold(&m_Filter->m_Lock);
        allocator->AddRef();
        if (m_Filter->m_Allocator) m_Filter->m_Allocator->Release();
        m_Filter->m_Allocator = allocator;
        return S_OK;
    }
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
    STDMETHODIMP Receive(IMediaSample* sample) override { return m_Filter->OnReceive(sample); }
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override
    {
        if (!samples || !processed) return E_POINTER;
        *processed = 0;
        for (long i = 0; i < count; ++i) {
            const HRESULT hr = Receive(samples[i]);
            if (hr != S_OK) return hr;
            ++*processed;
        }
        return S_OK;
    }
    STDMETHODIMP ReceiveCanBlock() override { return m_Filter->m_Hold ? S_OK : S_FALSE; }

private:
    CountingRenderer* m_Filter;
};

CountingRenderer::CountingRenderer(const wchar_t* name) : m_Pin(new Pin(this))
{
    lstrcpynW(m_Name, name ? name : L"", 128);
    m_Released.Set();
}

CountingRenderer::~CountingRenderer()
{
    if (m_Peer) m_Peer->Release();
    if (m_Allocator) m_Allocator->Release();
    if (m_Clock) m_Clock->Release();
    delete m_Pin;
}

IPin* CountingRenderer::InputPin() { return m_Pin; }

void CountingRenderer::HoldReceives(bool hold)
{
    InterlockedExchange(&m_Hold, hold ? 1 : 0);
    if (hold) {
        m_Holding.Reset();
        m_Released.Reset();
    } else {
        m_Released.Set();
    }
}

void CountingRenderer::ReleaseReceives()
{
    InterlockedExchange(&m_Hold, 0);
    m_Released.Set();
}

bool CountingRenderer::WaitUntilHolding(DWORD milliseconds) { return m_Holding.Wait(milliseconds); }

bool CountingRenderer::WaitForMoreSamples(LONG more, DWORD milliseconds)
{
    const LONG target = m_Samples + more;
    return WaitUntil([&] { return m_Samples >= target; }, milliseconds);
}

MediaTypeRecord CountingRenderer::ConnectedType()
{
    ScopedLock hold(&m_Lock);
    return m_Type;
}

HRESULT CountingRenderer::OnReceive(IMediaSample* sample)
{
    if (!sample) return E_POINTER;
    if (m_Closed) InterlockedIncrement(&m_SamplesWhileClosed);
    // A stopped renderer refuses samples; the source's stop may still be on its way.
    if (m_State == State_Stopped) return VFW_E_WRONG_STATE;
    if (m_Flushing) return S_FALSE;
    InterlockedExchange(&m_LastSampleBytes, sample->GetActualDataLength());
    InterlockedIncrement(&m_Samples);
    if (m_Hook) m_Hook(sample);
    if (m_Hold) {
        InterlockedIncrement(&m_HeldNow);
        m_Holding.Set();
        m_Released.Wait();
        InterlockedDecrement(&m_HeldNow);
    }
    return S_OK;
}

STDMETHODIMP CountingRenderer::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
        IsEqualIID(iid, IID_IBaseFilter)) {
        *out = static_cast<IBaseFilter*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CountingRenderer::AddRef() { return InterlockedIncrement(&m_RefCount); }

STDMETHODIMP_(ULONG) CountingRenderer::Release()
{
    const ULONG count = InterlockedDecrement(&m_RefCount);
    if (count == 0) delete this;
    return count;
}

STDMETHODIMP CountingRenderer::GetClassID(CLSID* out)
{
    if (!out) return E_POINTER;
    *out = CLSID_CountingRenderer;
    return S_OK;
}

STDMETHODIMP CountingRenderer::Stop()
{
    m_State = State_Stopped;
    // A stopping renderer lets a held sample go, as one waiting for its
    // presentation time would.
    m_Released.Set();
    return S_OK;
}

STDMETHODIMP CountingRenderer::Pause()
{
    if (m_State == State_Stopped && m_Hold) m_Released.Reset();
    m_State = State_Paused;
    return S_OK;
}

STDMETHODIMP CountingRenderer::Run(REFERENCE_TIME)
{
    if (m_State == State_Stopped && m_Hold) m_Released.Reset();
    m_State = State_Running;
    return S_OK;
}

STDMETHODIMP CountingRenderer::GetState(DWORD, FILTER_STATE* out)
{
    if (!out) return E_POINTER;
    *out = m_State;
    return S_OK;
}

STDMETHODIMP CountingRenderer::SetSyncSource(IReferenceClock* clock)
{
    ScopedLock hold(&m_Lock);
    if (clock) clock->AddRef();
    if (m_Clock) m_Clock->Release();
    m_Clock = clock;
    return S_OK;
}

STDMETHODIMP CountingRenderer::GetSyncSource(IReferenceClock** out)
{
    if (!out) return E_POINTER;
    ScopedLock hold(&m_Lock);
    *out = m_Clock;
    if (m_Clock) m_Clock->AddRef();
    return S_OK;
}

STDMETHODIMP CountingRenderer::EnumPins(IEnumPins** out)
{
    if (!out) return E_POINTER;
    *out = new SinglePinEnumerator(m_Pin, 0);
    return S_OK;
}

STDMETHODIMP CountingRenderer::FindPin(LPCWSTR id, IPin** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!id || lstrcmpW(id, L"In") != 0) return VFW_E_NOT_FOUND;
    *out = m_Pin;
    m_Pin->AddRef();
    return S_OK;
}

STDMETHODIMP CountingRenderer::QueryFilterInfo(FILTER_INFO* out)
{
    if (!out) return E_POINTER;
    lstrcpynW(out->achName, m_Name, MAX_FILTER_NAME);
    out->pGraph = m_Graph;
    if (m_Graph) m_Graph->AddRef();
    return S_OK;
}

STDMETHODIMP CountingRenderer::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    m_Graph = graph;
    if (name) lstrcpynW(m_Name, name, 128);
    return S_OK;
}

STDMETHODIMP CountingRenderer::QueryVendorInfo(LPWSTR*) { return E_NOTIMPL; }
