// The generic part of a filter: run state, reference clock, graph
// membership and the walk over the pins on every state change. Pins are
// known only through PinCount and PinAt, supplied by a derived filter.
#ifndef QUILLON_FILTER_BASE_H
#define QUILLON_FILTER_BASE_H

#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>
#include "framework/ObjectBase.h"
#include "framework/Sync.h"

class PinBase;
struct FilterSetup;

class FilterBase : public ObjectBase, public IBaseFilter, public IAMovieSetup {
public:
    // The lock is owned by the derived filter and shared with every pin.
    FilterBase(const wchar_t* objectName, IUnknown* owner, CriticalLock* lock, REFCLSID classId);
    ~FilterBase() override;

    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;
    FORWARD_IUNKNOWN_TO_OWNER

    // Time on the reference clock since the stream started.
    virtual HRESULT StreamTime(REFERENCE_TIME* out);
    virtual LONG PinVersion();
    virtual int PinCount() = 0;
    // The pin at a 0-based index, or null; adds no reference.
    virtual PinBase* PinAt(int index) = 0;
    // Registration record for IAMovieSetup; none by default.
    virtual const FilterSetup* SetupData();

    // Passes an event to the graph; EC_COMPLETE carries this filter.
    HRESULT PostGraphEvent(long code, LONG_PTR param1, LONG_PTR param2);

    // IPersist
    STDMETHODIMP GetClassID(CLSID* out) override;
    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD timeout, FILTER_STATE* out) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** out) override;
    // IBaseFilter (FindPin is left to the derived filter)
    STDMETHODIMP EnumPins(IEnumPins** out) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* out) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* out) override;
    // IAMovieSetup
    STDMETHODIMP Register() override;
    STDMETHODIMP Unregister() override;

    // The filter's identity towards other components.
    IBaseFilter* FilterInterface() { return static_cast<IBaseFilter*>(this); }
    // Plain reads for pins and derived objects; callers that need a stable
    // value hold the filter lock.
    FILTER_STATE State() const { return m_State; }
    IFilterGraph* Graph() const { return m_Graph; }
    CriticalLock* Lock() const { return m_Lock; }

protected:
    FILTER_STATE m_State;
    IReferenceClock* m_Clock;      // one reference held
    REFERENCE_TIME m_StartTime;
    CLSID m_ClassId;
    CriticalLock* m_Lock;          // not owned
    wchar_t* m_FilterName;         // owned, or null
    IFilterGraph* m_Graph;         // no reference held
    IMediaEventSink* m_EventSink;  // no reference held
    LONG m_PinVersion;
    // Guards m_Clock and m_StartTime, so that the clock can be asked for from
    // any thread, also a streaming thread while a state change holds m_Lock.
    CriticalLock m_ClockLock;

  private:
    HRESULT DeactivateConnectedPins();
    HRESULT ActivateConnectedPins();
    HRESULT RunConnectedPins(REFERENCE_TIME start);
    HRESULT UpdateRegistration(bool registering);
};

#endif
