#include "framework/PinEnumerator.h"

#include <new>
#include "framework/FilterBase.h"
#include <vfwmsgs.h>
#include "framework/PinBase.h"

PinEnumerator::PinEnumerator(FilterBase* filter, const PinEnumerator* source)
    : m_Position(0), m_CachedCount(0), m_Filter(filter), m_Version(0), m_RefCount(1)
{
    m_Filter->FilterInterface()->AddRef();
    if (source) {
        m_Position = source->m_Position;
        m_CachedCount = source->m_CachedCount;
        m_Version = source->m_Version;
        // A node that cannot be allocated only means a pin may be handed out again.
        m_Seen.AppendAll(source->m_Seen);
    } else {
        m_Version = m_Filter->PinVersion();
        m_CachedCount = m_Filter->PinCount();
    }
}

PinEnumerator::~PinEnumerator()
{
    m_Seen.Clear();
    m_Filter->FilterInterface()->Release();
}

STDMETHODIMP PinEnumerator::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IEnumPins) || IsEqualIID(iid, IID_IUnknown)) {
        *out = static_cast<IEnumPins*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) PinEnumerator::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_RefCount));
}

STDMETHODIMP_(ULONG) PinEnumerator::Release()
{
    const LONG count = InterlockedDecrement(&m_RefCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

// Starts over on the filter's current pin set; the pins already handed out
// stay remembered, so none is handed out twice.
void PinEnumerator::Refresh()
{
    m_Version = m_Filter->PinVersion();
    m_CachedCount = m_Filter->PinCount();
    m_Position = 0;
}

STDMETHODIMP PinEnumerator::Next(ULONG count, IPin** pins, ULONG* fetched)
{
    if (!pins) return E_POINTER;
    if (fetched) *fetched = 0;
    else if (count > 1) return E_INVALIDARG;

    if (m_Filter->PinVersion() != m_Version) Refresh();

    const LONG remaining = m_CachedCount - m_Position;
    LONG wanted = static_cast<LONG>(count) < remaining ? static_cast<LONG>(count) : remaining;
    if (wanted == 0) return S_FALSE;

    ULONG delivered = 0;
    while (wanted != 0 && m_Position != m_CachedCount) {
        PinBase* pin = m_Filter->PinAt(m_Position);
        ++m_Position;
        if (!pin) return VFW_E_ENUM_OUT_OF_SYNC;
        if (m_Seen.Locate(pin)) continue;
        IPin* itf = pin->PinInterface();
        itf->AddRef();
        pins[delivered++] = itf;
        m_Seen.Append(pin);
        --wanted;
    }
    if (fetched) *fetched = delivered;
    return delivered == count ? S_OK : S_FALSE;
}

STDMETHODIMP PinEnumerator::Skip(ULONG count)
{
    if (m_Filter->PinVersion() != m_Version) return VFW_E_ENUM_OUT_OF_SYNC;
    if (count > static_cast<ULONG>(m_CachedCount - m_Position)) return S_FALSE;
    m_Position += static_cast<LONG>(count);
    return S_OK;
}

STDMETHODIMP PinEnumerator::Reset()
{
    m_Version = m_Filter->PinVersion();
    m_CachedCount = m_Filter->PinCount();
    m_Position = 0;
    m_Seen.Clear();
    return S_OK;
}

STDMETHODIMP PinEnumerator::Clone(IEnumPins** out)
{
    if (!out) return E_POINTER;
    if (m_Filter->PinVersion() != m_Version) {
        *out = nullptr;
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    *out = new (std::nothrow) PinEnumerator(m_Filter, this);
    return *out ? S_OK : E_OUTOFMEMORY;
}
