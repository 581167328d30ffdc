// What a host suggests for an output pin's buffers before it connects (how
// many, their alignment and prefix, a larger size), and what the connection
// then granted.
#ifndef QUILLON_BUFFER_NEGOTIATION_H
#define QUILLON_BUFFER_NEGOTIATION_H

#include <windows.h>
#include <strmif.h>

#include "framework/Sync.h"

// Implements IAMBufferNegotiation's own operations; the pin that inherits it
// supplies IUnknown and its allocator.
class BufferNegotiation : public IAMBufferNegotiation {
  public:
    virtual ~BufferNegotiation() = default;

    // Taken only before the pin connects; a member below 0 (or a count or
    // alignment of 0) leaves the pin's own choice.
    STDMETHODIMP SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties) override;
    STDMETHODIMP GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties) override;

    // Applies the suggestion to a request that holds the pin's own choice and
    // the downstream pin's requirements: the suggested count, the larger
    // alignment and prefix, and a suggested size only where it is larger.
    void ApplySuggestion(ALLOCATOR_PROPERTIES* request);

  protected:
    virtual bool HasConnection() = 0;
    // The properties of the connection's allocator; VFW_E_NO_ALLOCATOR without one.
    virtual HRESULT AgreedProperties(ALLOCATOR_PROPERTIES* properties) = 0;

  private:
    CriticalLock m_Lock;
    bool m_Suggested = false;
    ALLOCATOR_PROPERTIES m_Suggestion = {};
};

#endif
