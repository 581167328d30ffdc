#include "framework/OutputPinBase.h"

#include "framework/Raii.h"

OutputPinBase::OutputPinBase(const wchar_t* objectName, FilterBase* filter, CriticalLock* lock, HRESULT* result,
                             const wchar_t* pinName)
    : PinBase(objectName, filter, lock, result, pinName, PINDIR_OUTPUT), m_Allocator(nullptr), m_InputPin(nullptr)
{
}

HRESULT OutputPinBase::CheckPeer(IPin* peer)
{
    RETURN_IF_FAILED(PinBase::CheckPeer(peer));
    if (m_InputPin) {
        m_InputPin->Release();
        m_InputPin = nullptr;
    }
    return peer->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&m_InputPin));
}

HRESULT OutputPinBase::FinishConnection(IPin* /*peer*/)
{
    // One left over from a connection whose undo could not decommit it.
    if (m_Allocator) {
        m_Allocator->Release();
        m_Allocator = nullptr;
    }
    return ChooseAllocator(m_InputPin, &m_Allocator);
}

HRESULT OutputPinBase::BreakConnection()
{
    if (m_Allocator) {
        // An allocator that refuses to decommit keeps the connection standing.
        RETURN_IF_FAILED(m_Allocator->Decommit());
        m_Allocator->Release();
        m_Allocator = nullptr;
    }
    if (m_InputPin) {
        m_InputPin->Release();
        m_InputPin = nullptr;
    }
    return S_OK;
}

HRESULT OutputPinBase::Activate()
{
    if (!m_Allocator) return VFW_E_NO_ALLOCATOR;
    return m_Allocator->Commit();
}

HRESULT OutputPinBase::Deactivate()
{
    if (!m_Allocator) return VFW_E_NO_ALLOCATOR;
    return m_Allocator->Decommit();
}

namespace {

void ReleaseAndClear(IMemAllocator** allocator)
{
    if (*allocator) {
        (*allocator)->Release();
        *allocator = nullptr;
    }
}

} // namespace

HRESULT OutputPinBase::ChooseAllocator(IMemInputPin* input, IMemAllocator** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!input) return E_POINTER;

    ALLOCATOR_PROPERTIES required = {};
    // A pin without requirements leaves the zeros.
    input->GetAllocatorRequirements(&required);
    if (required.cbAlign == 0) required.cbAlign = 1;

    // The downstream pin's own allocator first. SizeBuffers may change the
    // request it is given, so each attempt starts from the requirements.
    HRESULT hr = input->GetAllocator(out);
    if (SUCCEEDED(hr) && *out) {
        ALLOCATOR_PROPERTIES request = required;
        hr = SizeBuffers(*out, &request);
        if (SUCCEEDED(hr)) hr = input->NotifyAllocator(*out, FALSE);
        if (SUCCEEDED(hr)) return S_OK;
    }
    ReleaseAndClear(out);

    // Otherwise one of our own; only this attempt's failure is reported.
    hr = CreateOwnAllocator(out);
    if (SUCCEEDED(hr) && *out) {
        ALLOCATOR_PROPERTIES request = required;
        hr = SizeBuffers(*out, &request);
        if (SUCCEEDED(hr)) hr = input->NotifyAllocator(*out, FALSE);
        if (SUCCEEDED(hr)) return S_OK;
    } else if (SUCCEEDED(hr)) {
        hr = E_NOINTERFACE;
    }
    ReleaseAndClear(out);
    return hr;
}

HRESULT OutputPinBase::ObtainSample(IMediaSample** out, REFERENCE_TIME* start, REFERENCE_TIME* end, DWORD flags)
{
    if (!m_Allocator) return E_NOINTERFACE;
    return m_Allocator->GetBuffer(out, start, end, flags);
}

HRESULT OutputPinBase::DeliverSample(IMediaSample* sample)
{
    if (!m_InputPin) return VFW_E_NOT_CONNECTED;
    return m_InputPin->Receive(sample);
}

HRESULT OutputPinBase::CreateOwnAllocator(IMemAllocator** out)
{
    return NewPlatformAllocator(out);
}

HRESULT OutputPinBase::SendEndOfStream()
{
    if (!m_Peer) return VFW_E_NOT_CONNECTED;
    return m_Peer->EndOfStream();
}

HRESULT OutputPinBase::SendBeginFlush()
{
    if (!m_Peer) return VFW_E_NOT_CONNECTED;
    return m_Peer->BeginFlush();
}

HRESULT OutputPinBase::SendEndFlush()
{
    if (!m_Peer) return VFW_E_NOT_CONNECTED;
    return m_Peer->EndFlush();
}

HRESULT OutputPinBase::SendNewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate)
{
    if (!m_Peer) return VFW_E_NOT_CONNECTED;
    return m_Peer->NewSegment(start, stop, rate);
}

STDMETHODIMP OutputPinBase::EndOfStream()
{
    return E_UNEXPECTED;
}

STDMETHODIMP OutputPinBase::BeginFlush()
{
    return E_UNEXPECTED;
}

STDMETHODIMP OutputPinBase::EndFlush()
{
    return E_UNEXPECTED;
}
