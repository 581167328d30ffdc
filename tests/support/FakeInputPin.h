// Test doubles for the downstream side of a connection: an input pin whose
// answers are chosen by the test, and an allocator that wraps the platform
// memory allocator and can refuse to decommit. Both record the calls they
// receive, in order.
#ifndef QUILLON_FAKE_INPUT_PIN_H
#define QUILLON_FAKE_INPUT_PIN_H

#include <windows.h>
#include <strmif.h>
#include <string>
#include <vector>
#include "framework/MediaTypeRecord.h"
#include "framework/Sync.h"

// Calls recorded by name, safe to append from any thread.
class CallRecord {
public:
    void Add(const std::string& call);
    std::vector<std::string> Calls() const;
    int Count(const std::string& call) const;
    void Clear();

private:
    mutable CriticalLock m_Lock;
    std::vector<std::string> m_Calls;
};

// Reads an object's reference count: AddRef then Release returns it.
ULONG RefCountOf(IUnknown* object);

class FakeAllocator : public IMemAllocator {
public:
    // Wraps a new platform memory allocator; starts with one reference.
    // Null when the platform allocator cannot be created.
    static FakeAllocator* Create(CallRecord* log);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP SetProperties(ALLOCATOR_PROPERTIES* request, ALLOCATOR_PROPERTIES* actual) override;
    STDMETHODIMP GetProperties(ALLOCATOR_PROPERTIES* out) override;
    STDMETHODIMP Commit() override;
    STDMETHODIMP Decommit() override;
    STDMETHODIMP GetBuffer(IMediaSample** out, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags) override;
    STDMETHODIMP ReleaseBuffer(IMediaSample* sample) override;

    // Decommit answers this failure, without decommitting, while it is set.
    volatile HRESULT m_DecommitFailure = S_OK;
    ALLOCATOR_PROPERTIES m_LastRequest = {};

private:
    FakeAllocator(IMemAllocator* inner, CallRecord* log) : m_Inner(inner), m_Log(log) {}
    virtual ~FakeAllocator();

    volatile LONG m_RefCount = 1;
    IMemAllocator* m_Inner;
    CallRecord* m_Log;
};

class FakeInputPin : public IPin, public IMemInputPin {
public:
    // Starts with one reference.
    explicit FakeInputPin(PIN_DIRECTION direction = PINDIR_INPUT);

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IPin
    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** out) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* out) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* out) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* out) override;
    STDMETHODIMP QueryId(LPWSTR* out) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IMemInputPin
    STDMETHODIMP GetAllocator(IMemAllocator** out) override;
    STDMETHODIMP NotifyAllocator(IMemAllocator* allocator, BOOL readOnly) override;
    STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* out) override;
    STDMETHODIMP Receive(IMediaSample* sample) override;
    STDMETHODIMP ReceiveMultiple(IMediaSample** samples, long count, long* processed) override;
    STDMETHODIMP ReceiveCanBlock() override;

    // Configuration, set before connecting.
    bool m_OfferMemInputPin = true;
    std::vector<MediaTypeRecord> m_OfferedTypes;
    // Answers of ReceiveConnection, one per call; S_OK once the list is used up.
    std::vector<HRESULT> m_ReceiveConnectionResults;
    // Non-null: GetAllocator hands this allocator out; null: VFW_E_NO_ALLOCATOR.
    IMemAllocator* m_OwnAllocator = nullptr;
    bool m_RefuseOwnAllocator = false;  // NotifyAllocator refuses m_OwnAllocator
    HRESULT m_NotifyResult = S_OK;       // answer for any other allocator
    bool m_HasRequirements = false;
    ALLOCATOR_PROPERTIES m_Requirements = {};
    volatile HRESULT m_ReceiveResult = S_OK;

    // Observations.
    CallRecord m_Log;
    MediaTypeRecord m_ReceivedType;
    IMemAllocator* m_NotifiedAllocator = nullptr;  // one reference held
    volatile LONG m_Samples = 0;
    volatile LONG m_EndOfStreams = 0;
    REFERENCE_TIME m_SegmentStart = 0;
    REFERENCE_TIME m_SegmentStop = 0;
    double m_SegmentRate = 0;

    IPin* Peer() const { return m_Peer; }

private:
    virtual ~FakeInputPin();

    volatile LONG m_RefCount = 1;
    PIN_DIRECTION m_Direction;
    size_t m_ReceiveConnectionCalls = 0;
    IPin* m_Peer = nullptr;  // one reference held
};

#endif
