#include "framework/BufferNegotiation.h"

#include <vfwmsgs.h>

STDMETHODIMP BufferNegotiation::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties)
{
    if (!properties) return E_POINTER;
    if (HasConnection()) return VFW_E_ALREADY_CONNECTED;
    ScopedLock hold(&m_Lock);
    m_Suggestion = *properties;
    m_Suggested = true;
    return S_OK;
}

STDMETHODIMP BufferNegotiation::GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties)
{
    if (!properties) return E_POINTER;
    if (!HasConnection()) return VFW_E_NOT_CONNECTED;
    return AgreedProperties(properties);
}

void BufferNegotiation::ApplySuggestion(ALLOCATOR_PROPERTIES* request)
{
    ScopedLock hold(&m_Lock);
    if (!m_Suggested) return;
    if (m_Suggestion.cBuffers > 0) request->cBuffers = m_Suggestion.cBuffers;
    if (m_Suggestion.cbBuffer > request->cbBuffer) request->cbBuffer = m_Suggestion.cbBuffer;
    if (m_Suggestion.cbAlign > request->cbAlign) request->cbAlign = m_Suggestion.cbAlign;
    if (m_Suggestion.cbPrefix > request->cbPrefix) request->cbPrefix = m_Suggestion.cbPrefix;
}
