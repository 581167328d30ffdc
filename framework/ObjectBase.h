// Root of every reference-counted COM object of the module.
#ifndef QUILLON_OBJECT_BASE_H
#define QUILLON_OBJECT_BASE_H

#include <windows.h>
#include <objbase.h>
#include <strmif.h>

// Number of live objects of the module (objects and class factories);
// the module may unload only when it is 0.
extern volatile LONG LiveObjectCount;

// The first three virtual slots form the object's own (inner) IUnknown.
// Every other interface of the object forwards its IUnknown methods to
// m_Owner, which is the aggregating object or, when not aggregated, the
// inner IUnknown itself.
class ObjectBase {
public:
    ObjectBase(const wchar_t* objectName, IUnknown* owner);
    virtual HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out);
    virtual ULONG STDMETHODCALLTYPE InnerAddRef();
    virtual ULONG STDMETHODCALLTYPE InnerRelease();
    virtual ~ObjectBase();

    ObjectBase(const ObjectBase&) = delete;
    ObjectBase& operator=(const ObjectBase&) = delete;

    // The inner IUnknown: this object seen through its first three slots.
    IUnknown* InnerUnknown() { return reinterpret_cast<IUnknown*>(this); }
    IUnknown* Owner() const { return m_Owner; }

protected:
    IUnknown* m_Owner;
    volatile LONG m_RefCount;
};

// Forwards an interface's IUnknown methods to the controlling owner.
#define FORWARD_IUNKNOWN_TO_OWNER                                                                \
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return m_Owner->QueryInterface(iid, out); } \
    STDMETHODIMP_(ULONG) AddRef() override { return m_Owner->AddRef(); }                         \
    STDMETHODIMP_(ULONG) Release() override { return m_Owner->Release(); }

// Stores the interface through out and adds a reference through it.
HRESULT ProvideInterface(IUnknown* itf, void** out);

// Creates the platform's memory allocator (one reference for the caller).
HRESULT NewPlatformAllocator(IMemAllocator** out);

#endif
