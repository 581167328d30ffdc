// A minimal sink filter for tests and the benchmark: one input pin that
// accepts any video type, counts what it receives, stamps each arrival and
// can hold a sample in Receive until released (or until the filter stops or
// flushes, as a real renderer waiting for its presentation time would).
#ifndef QUILLON_COUNTING_RENDERER_H
#define QUILLON_COUNTING_RENDERER_H

#include <windows.h>
#include <strmif.h>

#include <functional>

#include "framework/MediaTypeRecord.h"
#include "framework/Sync.h"

class CountingRenderer : public IBaseFilter {
public:
    // Called on the delivering thread for every sample received while the
    // filter is paused or running, before Receive returns.
    using SampleHook = std::function<void(IMediaSample* sample)>;

    // Starts with one reference.
    explicit CountingRenderer(const wchar_t* name);

    IPin* InputPin();

    // Set before streaming.
    void SetSampleHook(SampleHook hook) { m_Hook = std::move(hook); }
    // While set, every Receive waits until Release(), Stop or BeginFlush.
    void HoldReceives(bool hold);
    // Lets every held Receive (and, until HoldReceives(true) again, every later one) go.
    void ReleaseReceives();
    // True once a Receive has started waiting; waits up to the time limit.
    bool WaitUntilHolding(DWORD milliseconds);
    // Waits until this many more samples than now have arrived.
    bool WaitForMoreSamples(LONG more, DWORD milliseconds = 5000);

    LONG Samples() const { return m_Samples; }
    // A test closes the sink once the source upstream has stopped, and opens
    // it again before starting it: whatever arrives in between came too late.
    void CloseToSamples(bool closed) { InterlockedExchange(&m_Closed, closed ? 1 : 0); }
    LONG SamplesWhileClosed() const { return m_SamplesWhileClosed; }
    LONG EndOfStreams() const { return m_EndOfStreams; }
    LONG HeldNow() const { return m_HeldNow; }
    FILTER_STATE State() const { return m_State; }
    // The connected media type (empty when not connected).
    MediaTypeRecord ConnectedType();
    LONG SampleBytes() const { return m_LastSampleBytes; }

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IPersist
    STDMETHODIMP GetClassID(CLSID* out) override;
    // IMediaFilter
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Run(REFERENCE_TIME start) override;
    STDMETHODIMP GetState(DWORD milliseconds, FILTER_STATE* out) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** out) override;
    // IBaseFilter
    STDMETHODIMP EnumPins(IEnumPins** out) override;
    STDMETHODIMP FindPin(LPCWSTR id, IPin** out) override;
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* out) override;
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
    STDMETHODIMP QueryVendorInfo(LPWSTR* out) override;

private:
    class Pin;
    friend class Pin;

    virtual ~CountingRenderer();
    HRESULT OnReceive(IMediaSample* sample);

    volatile LONG m_RefCount = 1;
    Pin* m_Pin;
    wchar_t m_Name[128];
    IFilterGraph* m_Graph = nullptr;  // no reference, as the graph holds the filter
    IReferenceClock* m_Clock = nullptr;
    volatile FILTER_STATE m_State = State_Stopped;
    SampleHook m_Hook;

    CriticalLock m_Lock;  // guards the connection
    IPin* m_Peer = nullptr;
    MediaTypeRecord m_Type;
    IMemAllocator* m_Allocator = nullptr;

    volatile LONG m_Hold = 0;
    SignalEvent m_Released{true};  // set: held receives may go
    SignalEvent m_Holding{true};   // set once a receive waits
    volatile LONG m_HeldNow = 0;
    volatile LONG m_Flushing = 0;

    volatile LONG m_Samples = 0;
    volatile LONG m_Closed = 0;
    volatile LONG m_SamplesWhileClosed = 0;
    volatile LONG m_EndOfStreams = 0;
    volatile LONG m_LastSampleBytes = 0;
};

#endif
