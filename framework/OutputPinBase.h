// The generic output pin: agrees a memory allocator with the downstream
// input pin, commits it while the filter runs, and offers the worker thread
// the operations to obtain, deliver and signal samples downstream.
#ifndef QUILLON_OUTPUT_PIN_BASE_H
#define QUILLON_OUTPUT_PIN_BASE_H

#include <windows.h>
#include <strmif.h>
#include "framework/PinBase.h"

class OutputPinBase : public PinBase {
public:
    OutputPinBase(const wchar_t* objectName, FilterBase* filter, CriticalLock* lock, HRESULT* result,
                  const wchar_t* pinName);

    HRESULT CheckPeer(IPin* peer) override;
    HRESULT BreakConnection() override;
    HRESULT FinishConnection(IPin* peer) override;
    // Commit and decommit the agreed allocator.
    HRESULT Activate() override;
    HRESULT Deactivate() override;

    // The downstream pin's allocator if it offers and accepts one, else one
    // of our own; sized by SizeBuffers either way.
    virtual HRESULT ChooseAllocator(IMemInputPin* input, IMemAllocator** out);
    // Sets the buffer properties on the allocator; request holds the
    // downstream pin's requirements (alignment at least 1).
    virtual HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) = 0;
    virtual HRESULT ObtainSample(IMediaSample** out, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags);
    // Neither adds nor releases a reference on the sample.
    virtual HRESULT DeliverSample(IMediaSample* sample);
    virtual HRESULT CreateOwnAllocator(IMemAllocator** out);
    virtual HRESULT SendEndOfStream();
    virtual HRESULT SendBeginFlush();
    virtual HRESULT SendEndFlush();
    virtual HRESULT SendNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate);

    // An output pin receives no stream events.
    STDMETHODIMP EndOfStream() override;
    STDMETHODIMP BeginFlush() override;
    STDMETHODIMP EndFlush() override;

protected:
    IMemAllocator* m_Allocator;  // one reference held; set by FinishConnection
    IMemInputPin* m_InputPin;    // one reference held; set by CheckPeer
};

#endif
