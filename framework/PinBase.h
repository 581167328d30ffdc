// The generic part of every pin: the connected peer, the agreed media type
// and the connection protocol (which side proposes types, in which order
// the two type lists are tried, and how a failed attempt is undone). What a
// pin accepts, proposes and sets up comes from its virtual operations.
#ifndef QUILLON_PIN_BASE_H
#define QUILLON_PIN_BASE_H

#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>
#include "framework/ObjectBase.h"
#include "framework/MediaTypeRecord.h"
#include "framework/Sync.h"

class FilterBase;

class PinBase : public ObjectBase, public IPin, public IQualityControl {
public:
    // result is accepted for the derived constructors and never written.
    PinBase(const wchar_t* objectName, FilterBase* filter, CriticalLock* lock, HRESULT* result,
            const wchar_t* pinName, PIN_DIRECTION direction);
    ~PinBase() override;

    // A pin lives as long as its filter: its references are the filter's.
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE InnerAddRef() override;
    ULONG STDMETHODCALLTYPE InnerRelease() override;
    FORWARD_IUNKNOWN_TO_OWNER

    virtual LONG TypeVersion();
    // Called when the filter leaves, and returns to, the stopped state.
    virtual HRESULT Activate();
    virtual HRESULT Deactivate();
    virtual HRESULT RunAt(REFERENCE_TIME start);
    // S_OK means the type is acceptable.
    virtual HRESULT TestMediaType(const MediaTypeRecord* type) = 0;
    virtual HRESULT StoreMediaType(const MediaTypeRecord* type);
    virtual HRESULT CheckPeer(IPin* peer);
    // Undoes CheckPeer and FinishConnection.
    virtual HRESULT BreakConnection();
    virtual HRESULT FinishConnection(IPin* peer);
    // S_OK with the type filled, or another code past the last type.
    virtual HRESULT GetMediaType(int position, MediaTypeRecord* type) = 0;

    // IPin (QueryId is left to the derived pin)
    STDMETHODIMP Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP Disconnect() override;
    STDMETHODIMP ConnectedTo(IPin** out) override;
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* out) override;
    STDMETHODIMP QueryPinInfo(PIN_INFO* out) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* out) override;
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** out) override;
    STDMETHODIMP QueryInternalConnections(IPin** pins, ULONG* count) override;
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;
    STDMETHODIMP NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IQualityControl
    STDMETHODIMP Notify(IBaseFilter* sender, Quality quality) override;
    STDMETHODIMP SetSink(IQualityControl* sink) override;

    IPin* PinInterface() { return static_cast<IPin*>(this); }
    bool IsConnected() const { return m_Peer != nullptr; }
    FilterBase* Filter() const { return m_Filter; }

protected:
    // One connection attempt with one fully specified type; m_Lock held.
    HRESULT TryConnection(IPin* receiver, const MediaTypeRecord* type);
    // Tries every type of one enumerator that matches the pattern (if any).
    HRESULT TryTypeList(IPin* receiver, const MediaTypeRecord* pattern, IEnumMediaTypes* types);
    // Tries the given type alone when it is complete, else both type lists.
    HRESULT NegotiateType(IPin* receiver, const MediaTypeRecord* type);
    // Breaks and forgets the connection; S_FALSE when there is none.
    HRESULT DropConnection();
    // Releases and clears m_Peer.
    void ReleasePeer();

    wchar_t* m_PinName;             // owned, or null
    IPin* m_Peer;                   // one reference held
    PIN_DIRECTION m_Direction;
    CriticalLock* m_Lock;           // the filter's lock, not owned
    FilterBase* m_Filter;           // no reference held
    IQualityControl* m_QualitySink; // no reference held
    LONG m_TypeVersion;
    // Guards m_ConnectionType and whatever a derived pin offers as types. It
    // is never held while waiting for anything, so a downstream filter may
    // ask about types from its streaming thread while the filter lock is
    // held by a state change that waits for that thread.
    CriticalLock m_TypeLock;
    MediaTypeRecord m_ConnectionType;
    REFERENCE_TIME m_SegmentStart;
    REFERENCE_TIME m_SegmentStop;
    double m_SegmentRate;
};

#endif
