// Hands a pin's proposed media types out through IEnumMediaTypes, asking
// the pin for each type by position.
#ifndef QUILLON_MEDIA_TYPE_ENUMERATOR_H
#define QUILLON_MEDIA_TYPE_ENUMERATOR_H

#include <windows.h>
#include <strmif.h>

class PinBase;

class MediaTypeEnumerator : public IEnumMediaTypes {
public:
    // A fresh enumerator when source is null, otherwise a copy of source.
    // Holds one reference on the pin; starts with a reference count of 1.
    MediaTypeEnumerator(PinBase* pin, const MediaTypeEnumerator* source);
    virtual ~MediaTypeEnumerator();

    MediaTypeEnumerator(const MediaTypeEnumerator&) = delete;
    MediaTypeEnumerator& operator=(const MediaTypeEnumerator&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** out) override;

private:
    LONG m_Position;
    PinBase* m_Pin;  // one reference, through its IPin
    LONG m_Version;
    volatile LONG m_RefCount;
};

#endif
