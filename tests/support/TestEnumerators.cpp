#include "tests/support/TestEnumerators.h"

SinglePinEnumerator::SinglePinEnumerator(IPin* pin, ULONG position)
    : SingleInterfaceObject<IEnumPins>(IID_IEnumPins), m_Pin(pin), m_Position(position)
{
    m_Pin->AddRef();
}

SinglePinEnumerator::~SinglePinEnumerator()
{
    m_Pin->Release();
}

STDMETHODIMP SinglePinEnumerator::Next(ULONG wanted, IPin** pins, ULONG* fetched)
{
    if (!pins) return E_POINTER;
    ULONG given = 0;
    if (wanted > 0 && m_Position == 0) {
        pins[0] = m_Pin;
        m_Pin->AddRef();
        given = 1;
        m_Position = 1;
    }
    if (fetched) *fetched = given;
    return given == wanted ? S_OK : S_FALSE;
}

STDMETHODIMP SinglePinEnumerator::Skip(ULONG count)
{
    m_Position += count;
    return m_Position <= 1 ? S_OK : S_FALSE;
}

STDMETHODIMP SinglePinEnumerator::Reset()
{
    m_Position = 0;
    return S_OK;
}

STDMETHODIMP SinglePinEnumerator::Clone(IEnumPins** out)
{
    if (!out) return E_POINTER;
    *out = new SinglePinEnumerator(m_Pin, m_Position);
    return S_OK;
}

TypeListEnumerator::TypeListEnumerator(const std::vector<MediaTypeRecord>& types)
    : SingleInterfaceObject<IEnumMediaTypes>(IID_IEnumMediaTypes), m_Types(types)
{
}

STDMETHODIMP TypeListEnumerator::Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched)
{
    if (!types && count > 0) return E_POINTER;
    ULONG done = 0;
    while (done < count && m_Position < m_Types.size()) types[done++] = CloneTypeRecord(m_Types[m_Position++]);
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
}

STDMETHODIMP TypeListEnumerator::Skip(ULONG count)
{
    m_Position += count;
    return m_Position <= m_Types.size() ? S_OK : S_FALSE;
}

STDMETHODIMP TypeListEnumerator::Reset()
{
    m_Position = 0;
    return S_OK;
}

STDMETHODIMP TypeListEnumerator::Clone(IEnumMediaTypes** out)
{
    if (!out) return E_POINTER;
    TypeListEnumerator* copy = new TypeListEnumerator(m_Types);
    copy->m_Position = m_Position;
    *out = copy;
    return S_OK;
}
