#include "framework/SourceFilterBase.h"

#include <new>
#include "framework/SourceStreamPin.h"

namespace {

// Reads a pin identifier the way _wtoi does: optional leading white space
// and sign, then decimal digits; text without digits reads as 0. Values
// beyond any pin index are clamped instead of overflowing.
long long ReadDecimal(const wchar_t* text)
{
    if (!text) return 0;
    while (*text == L' ' || (*text >= L'\t' && *text <= L'\r')) ++text;
    bool negative = false;
    if (*text == L'+' || *text == L'-') negative = (*text++ == L'-');
    long long value = 0;
    while (*text >= L'0' && *text <= L'9') {
        if (value < 0x7FFFFFFFLL) value = value * 10 + (*text - L'0');
        ++text;
    }
    return negative ? -value : value;
}

} // namespace

SourceFilterBase::SourceFilterBase(const wchar_t* objectName, IUnknown* owner, REFCLSID classId)
    : FilterBase(objectName, owner, &m_FilterLock, classId), m_PinCount(0), m_Pins(nullptr)
{
}

SourceFilterBase::~SourceFilterBase()
{
    StopBeforeDestruction();
    // Each pin's destructor detaches it, which lowers the count.
    while (m_PinCount > 0) {
        const int before = m_PinCount;
        delete m_Pins[m_PinCount - 1];
        if (m_PinCount == before) --m_PinCount;
    }
    delete[] m_Pins;
    m_Pins = nullptr;
}

void SourceFilterBase::StopBeforeDestruction()
{
    if (m_State != State_Stopped) FilterBase::Stop();
}

int SourceFilterBase::PinCount()
{
    ScopedLock hold(&m_FilterLock);
    return m_PinCount;
}

PinBase* SourceFilterBase::PinAt(int index)
{
    ScopedLock hold(&m_FilterLock);
    if (index < 0 || index >= m_PinCount) return nullptr;
    return m_Pins[index];
}

STDMETHODIMP SourceFilterBase::FindPin(LPCWSTR id, IPin** out)
{
    if (!out) return E_POINTER;
    const long long number = ReadDecimal(id);
    PinBase* pin = (number >= 1 && number <= 0x7FFFFFFFLL) ? PinAt(static_cast<int>(number - 1)) : nullptr;
    if (!pin) {
        *out = nullptr;
        return VFW_E_NOT_FOUND;
    }
    *out = pin->PinInterface();
    (*out)->AddRef();
    return S_OK;
}

HRESULT SourceFilterBase::AttachPin(SourceStreamPin* pin)
{
    ScopedLock hold(&m_FilterLock);
    SourceStreamPin** grown = new (std::nothrow) SourceStreamPin*[m_PinCount + 1];
    if (!grown) return E_OUTOFMEMORY;
    for (int index = 0; index < m_PinCount; ++index) grown[index] = m_Pins[index];
    grown[m_PinCount] = pin;
    delete[] m_Pins;
    m_Pins = grown;
    ++m_PinCount;
    return S_OK;
}

HRESULT SourceFilterBase::DetachPin(SourceStreamPin* pin)
{
    int found = -1;
    for (int index = 0; index < m_PinCount; ++index) {
        if (m_Pins[index] == pin) {
            found = index;
            break;
        }
    }
    if (found < 0) return S_FALSE;
    if (m_PinCount == 1) {
        delete[] m_Pins;
        m_Pins = nullptr;
        m_PinCount = 0;
        return S_OK;
    }
    for (int index = found; index + 1 < m_PinCount; ++index) m_Pins[index] = m_Pins[index + 1];
    --m_PinCount;
    return S_OK;
}

int SourceFilterBase::IndexOfPin(IPin* pin)
{
    for (int index = 0; index < m_PinCount; ++index) {
        if (m_Pins[index]->PinInterface() == pin) return index;
    }
    return -1;
}
