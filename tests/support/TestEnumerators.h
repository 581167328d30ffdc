// Small enumerators for the test doubles' pins: one pin, or a fixed list of
// media types (possibly empty), each a COM object of a single interface.
#ifndef QUILLON_TEST_ENUMERATORS_H
#define QUILLON_TEST_ENUMERATORS_H

#include <windows.h>
#include <strmif.h>

#include <vector>

#include "framework/MediaTypeRecord.h"

// Reference counting and QueryInterface for an object that offers one interface.
template <class Interface>
class SingleInterfaceObject : public Interface {
public:
    explicit SingleInterfaceObject(REFIID iid) : m_Iid(iid) {}
    SingleInterfaceObject(const SingleInterfaceObject&) = delete;
    SingleInterfaceObject& operator=(const SingleInterfaceObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, m_Iid)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&m_RefCount); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG count = InterlockedDecrement(&m_RefCount);
        if (count == 0) delete this;
        return count;
    }

protected:
    virtual ~SingleInterfaceObject() = default;

private:
    const IID m_Iid;
    volatile LONG m_RefCount = 1;
};

// Enumerates one pin (or none, past the end).
class SinglePinEnumerator : public SingleInterfaceObject<IEnumPins> {
public:
    SinglePinEnumerator(IPin* pin, ULONG position);

    STDMETHODIMP Next(ULONG wanted, IPin** pins, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumPins** out) override;

private:
    ~SinglePinEnumerator() override;
    IPin* m_Pin;
    ULONG m_Position;
};

// Offers a fixed list of types; each handed-out record is a task-memory copy.
class TypeListEnumerator : public SingleInterfaceObject<IEnumMediaTypes> {
public:
    explicit TypeListEnumerator(const std::vector<MediaTypeRecord>& types = {});

    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    STDMETHODIMP Skip(ULONG count) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumMediaTypes** out) override;

private:
    std::vector<MediaTypeRecord> m_Types;
    size_t m_Position = 0;
};

#endif
