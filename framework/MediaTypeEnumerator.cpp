#include "framework/MediaTypeEnumerator.h"

#include <new>
#include "framework/MediaTypeRecord.h"
#include <vfwmsgs.h>
#include "framework/PinBase.h"

MediaTypeEnumerator::MediaTypeEnumerator(PinBase* pin, const MediaTypeEnumerator* source)
    : m_Position(0), m_Pin(pin), m_Version(0), m_RefCount(1)
{
    m_Pin->PinInterface()->AddRef();
    if (source) {
        m_Position = source->m_Position;
        m_Version = source->m_Version;
    } else {
        m_Version = m_Pin->TypeVersion();
    }
}

MediaTypeEnumerator::~MediaTypeEnumerator()
{
    m_Pin->PinInterface()->Release();
}

STDMETHODIMP MediaTypeEnumerator::QueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IEnumMediaTypes) || IsEqualIID(iid, IID_IUnknown)) {
        *out = static_cast<IEnumMediaTypes*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) MediaTypeEnumerator::AddRef()
{
    return static_cast<ULONG>(InterlockedIncrement(&m_RefCount));
}

STDMETHODIMP_(ULONG) MediaTypeEnumerator::Release()
{
    const LONG count = InterlockedDecrement(&m_RefCount);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched)
{
    if (!types) return E_POINTER;
    if (m_Pin->TypeVersion() != m_Version) return VFW_E_ENUM_OUT_OF_SYNC;
    if (fetched) *fetched = 0;
    else if (count > 1) return E_INVALIDARG;

    ULONG delivered = 0;
    while (delivered < count) {
        MediaTypeRecord record;
        const HRESULT hr = m_Pin->GetMediaType(m_Position, &record);
        ++m_Position;
        if (hr != S_OK) break;
        AM_MEDIA_TYPE* handed = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
        types[delivered] = handed;
        if (!handed) break;
        // Move, not copy: the format block and owner reference pass to the caller.
        CopyMemory(handed, static_cast<AM_MEDIA_TYPE*>(&record), sizeof(AM_MEDIA_TYPE));
        record.pUnk = nullptr;
        record.cbFormat = 0;
        record.pbFormat = nullptr;
        ++delivered;
    }
    if (fetched) *fetched = delivered;
    return delivered == count ? S_OK : S_FALSE;
}

STDMETHODIMP MediaTypeEnumerator::Skip(ULONG count)
{
    if (count == 0) return S_OK;
    if (m_Pin->TypeVersion() != m_Version) return VFW_E_ENUM_OUT_OF_SYNC;
    m_Position += static_cast<LONG>(count);
    MediaTypeRecord scratch;
    return m_Pin->GetMediaType(m_Position - 1, &scratch) == S_OK ? S_OK : S_FALSE;
}

STDMETHODIMP MediaTypeEnumerator::Reset()
{
    m_Position = 0;
    m_Version = m_Pin->TypeVersion();
    return S_OK;
}

STDMETHODIMP MediaTypeEnumerator::Clone(IEnumMediaTypes** out)
{
    if (!out) return E_POINTER;
    if (m_Pin->TypeVersion() != m_Version) {
        *out = nullptr;
        return VFW_E_ENUM_OUT_OF_SYNC;
    }
    *out = new (std::nothrow) MediaTypeEnumerator(m_Pin, this);
    return *out ? S_OK : E_OUTOFMEMORY;
}
