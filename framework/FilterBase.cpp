#include "framework/FilterBase.h"

#include <new>
#include <uuids.h>
#include <evcode.h>
#include "framework/FilterSetup.h"
#include "framework/PinBase.h"
#include "framework/PinEnumerator.h"
#include "framework/Raii.h"
#include "framework/TextRoutines.h"

namespace {

const HRESULT FileNotFound = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

} // namespace

FilterBase::FilterBase(const wchar_t* objectName, IUnknown* owner, CriticalLock* lock, REFCLSID classId)
    : ObjectBase(objectName, owner),
      m_State(State_Stopped),
      m_Clock(nullptr),
      m_StartTime(0),
      m_ClassId(classId),
      m_Lock(lock),
      m_FilterName(nullptr),
      m_Graph(nullptr),
      m_EventSink(nullptr),
      m_PinVersion(1)
{
}

FilterBase::~FilterBase()
{
    delete[] m_FilterName;
    if (m_Clock) m_Clock->Release();
}

HRESULT STDMETHODCALLTYPE FilterBase::InnerQueryInterface(REFIID iid, void** out)
{
    if (IsEqualIID(iid, IID_IBaseFilter) || IsEqualIID(iid, IID_IMediaFilter) || IsEqualIID(iid, IID_IPersist))
        return ProvideInterface(static_cast<IBaseFilter*>(this), out);
    if (IsEqualIID(iid, IID_IAMovieSetup)) return ProvideInterface(static_cast<IAMovieSetup*>(this), out);
    return ObjectBase::InnerQueryInterface(iid, out);
}

HRESULT FilterBase::StreamTime(REFERENCE_TIME* out)
{
    ScopedLock hold(&m_ClockLock);
    if (!m_Clock) return VFW_E_NO_CLOCK;
    if (!out) return E_POINTER;
    RETURN_IF_FAILED(m_Clock->GetTime(out));
    *out -= m_StartTime;
    return S_OK;
}

LONG FilterBase::PinVersion()
{
    return m_PinVersion;
}

const FilterSetup* FilterBase::SetupData()
{
    return nullptr;
}

HRESULT FilterBase::PostGraphEvent(long code, LONG_PTR param1, LONG_PTR param2)
{
    if (!m_EventSink) return E_NOTIMPL;
    if (code == EC_COMPLETE) param2 = reinterpret_cast<LONG_PTR>(FilterInterface());
    return m_EventSink->Notify(code, param1, param2);
}

STDMETHODIMP FilterBase::GetClassID(CLSID* out)
{
    if (!out) return E_POINTER;
    *out = m_ClassId;
    return S_OK;
}

// Every pin walk calls only connected pins.
HRESULT FilterBase::DeactivateConnectedPins()
{
    HRESULT result = S_OK;
    const int count = PinCount();
    for (int index = 0; index < count; ++index) {
        PinBase* pin = PinAt(index);
        if (!pin || !pin->IsConnected()) continue;
        const HRESULT hr = pin->Deactivate();
        if (FAILED(hr) && SUCCEEDED(result)) result = hr;
    }
    return result;
}

// Activates every connected pin. When one fails, the pins this walk has
// already activated are deactivated again, so that a filter that stays
// stopped has no active pin.
HRESULT FilterBase::ActivateConnectedPins()
{
    const int count = PinCount();
    for (int index = 0; index < count; ++index) {
        PinBase* pin = PinAt(index);
        if (!pin || !pin->IsConnected()) continue;
        const HRESULT hr = pin->Activate();
        if (FAILED(hr)) {
            for (int undo = index - 1; undo >= 0; --undo) {
                PinBase* active = PinAt(undo);
                if (active && active->IsConnected()) active->Deactivate();
            }
            return hr;
        }
    }
    return S_OK;
}

HRESULT FilterBase::RunConnectedPins(REFERENCE_TIME start)
{
    const int count = PinCount();
    for (int index = 0; index < count; ++index) {
        PinBase* pin = PinAt(index);
        if (!pin || !pin->IsConnected()) continue;
        RETURN_IF_FAILED(pin->RunAt(start));
    }
    return S_OK;
}

STDMETHODIMP FilterBase::Stop()
{
    ScopedLock hold(m_Lock);
    HRESULT result = S_OK;
    if (m_State != State_Stopped) result = DeactivateConnectedPins();
    m_State = State_Stopped;
    return result;
}

STDMETHODIMP FilterBase::Pause()
{
    ScopedLock hold(m_Lock);
    if (m_State == State_Stopped) RETURN_IF_FAILED(ActivateConnectedPins());
    m_State = State_Paused;
    return S_OK;
}

STDMETHODIMP FilterBase::Run(REFERENCE_TIME start)
{
    ScopedLock hold(m_Lock);
    {
        ScopedLock clock(&m_ClockLock);
        m_StartTime = start;
    }
    // Through the interface, so that a derived filter's Pause is honoured.
    if (m_State == State_Stopped) RETURN_IF_FAILED(FilterInterface()->Pause());
    if (m_State != State_Running) RETURN_IF_FAILED(RunConnectedPins(start));
    m_State = State_Running;
    return S_OK;
}

STDMETHODIMP FilterBase::GetState(DWORD /*timeout*/, FILTER_STATE* out)
{
    if (!out) return E_POINTER;
    *out = m_State;
    return S_OK;
}

STDMETHODIMP FilterBase::SetSyncSource(IReferenceClock* clock)
{
    ScopedLock hold(m_Lock);
    ScopedLock clockHold(&m_ClockLock);
    // The new reference first, so that setting the same clock again is safe.
    if (clock) clock->AddRef();
    if (m_Clock) m_Clock->Release();
    m_Clock = clock;
    return S_OK;
}

STDMETHODIMP FilterBase::GetSyncSource(IReferenceClock** out)
{
    if (!out) return E_POINTER;
    ScopedLock hold(&m_ClockLock);
    if (m_Clock) m_Clock->AddRef();
    *out = m_Clock;
    return S_OK;
}

STDMETHODIMP FilterBase::EnumPins(IEnumPins** out)
{
    if (!out) return E_POINTER;
    *out = new (std::nothrow) PinEnumerator(this, nullptr);
    return *out ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP FilterBase::QueryFilterInfo(FILTER_INFO* out)
{
    if (!out) return E_POINTER;
    CopyWideBounded(out->achName, m_FilterName ? m_FilterName : L"", sizeof(out->achName) / sizeof(out->achName[0]));
    out->pGraph = m_Graph;
    if (m_Graph) m_Graph->AddRef();
    return S_OK;
}

STDMETHODIMP FilterBase::JoinFilterGraph(IFilterGraph* graph, LPCWSTR name)
{
    ScopedLock hold(m_Lock);
    m_Graph = graph;
    m_EventSink = nullptr;
    if (graph) {
        // The graph owns this filter; holding a reference on its sink would
        // make a cycle, so the reference the query returns is dropped.
        IMediaEventSink* sink = nullptr;
        if (SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink))) && sink) {
            sink->Release();
            m_EventSink = sink;
        }
    }
    delete[] m_FilterName;
    m_FilterName = nullptr;
    if (name) {
        const size_t length = WideLength(name);
        m_FilterName = new (std::nothrow) wchar_t[length + 1];
        if (m_FilterName) CopyMemory(m_FilterName, name, (length + 1) * sizeof(wchar_t));
    }
    return S_OK;
}

STDMETHODIMP FilterBase::QueryVendorInfo(LPWSTR* /*out*/)
{
    return E_NOTIMPL;
}

// Registers or unregisters the filter's setup record with the legacy
// mapper. COM is uninitialised only when this call initialised it, so a
// caller in another apartment keeps its own initialisation.
HRESULT FilterBase::UpdateRegistration(bool registering)
{
    const FilterSetup* setup = SetupData();
    const HRESULT initialised = CoInitialize(nullptr);
    ComPtr<IFilterMapper> mapper;
    HRESULT hr = CoCreateInstance(CLSID_FilterMapper, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper,
                                  mapper.putVoid());
    if (SUCCEEDED(hr)) hr = UpdateFilterWithMapper(setup, mapper.get(), registering);
    mapper.reset();
    CoFreeUnusedLibraries();
    if (SUCCEEDED(initialised)) CoUninitialize();
    return hr;
}

STDMETHODIMP FilterBase::Register()
{
    if (!SetupData()) return S_FALSE;
    UpdateRegistration(true);
    return S_OK;
}

STDMETHODIMP FilterBase::Unregister()
{
    if (!SetupData()) return S_FALSE;
    const HRESULT hr = UpdateRegistration(false);
    return hr == FileNotFound ? S_OK : hr;
}
