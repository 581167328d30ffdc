// A stand-in graph that only collects the events its filters post. It
// lives on the test's stack: its reference count is observed, never used
// to delete it.
#ifndef QUILLON_EVENT_COLLECTING_GRAPH_H
#define QUILLON_EVENT_COLLECTING_GRAPH_H

#include <windows.h>
#include <strmif.h>
#include <vector>
#include "framework/Sync.h"

class EventCollectingGraph : public IFilterGraph, public IMediaEventSink {
public:
    struct Event {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IFilterGraph)) {
            *out = static_cast<IFilterGraph*>(this);
        } else if (IsEqualIID(iid, IID_IMediaEventSink)) {
            *out = static_cast<IMediaEventSink*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_RefCount); }
    STDMETHODIMP_(ULONG) Release() override { return InterlockedDecrement(&m_RefCount); }
    STDMETHODIMP AddFilter(IBaseFilter*, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveFilter(IBaseFilter*) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFilters(IEnumFilters**) override { return E_NOTIMPL; }
    STDMETHODIMP FindFilterByName(LPCWSTR, IBaseFilter**) override { return E_NOTIMPL; }
    STDMETHODIMP ConnectDirect(IPin*, IPin*, const AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP Reconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP Disconnect(IPin*) override { return E_NOTIMPL; }
    STDMETHODIMP SetDefaultSyncSource() override { return E_NOTIMPL; }
    STDMETHODIMP Notify(LONG code, LONG_PTR param1, LONG_PTR param2) override
    {
        ScopedLock hold(&m_Lock);
        m_Events.push_back(Event{code, param1, param2});
        return S_OK;
    }

    std::vector<Event> Events()
    {
        ScopedLock hold(&m_Lock);
        return m_Events;
    }

    volatile LONG m_RefCount = 1;

private:
    CriticalLock m_Lock;
    std::vector<Event> m_Events;
};

#endif
