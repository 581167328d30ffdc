#include "module/ObjectFactory.h"

#include "framework/ObjectBase.h"
#include "module/ObjectTemplates.h"

volatile LONG ServerLockCount = 0;

ObjectFactory::ObjectFactory(const ObjectTemplate* objectTemplate) : m_Template(objectTemplate), m_RefCount(0) {
    InterlockedIncrement(&LiveObjectCount);
}

ObjectFactory::~ObjectFactory() {
    InterlockedDecrement(&LiveObjectCount);
}

STDMETHODIMP ObjectFactory::QueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) ObjectFactory::AddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&m_RefCount));
}

STDMETHODIMP_(ULONG) ObjectFactory::Release() {
    const LONG remaining = InterlockedDecrement(&m_RefCount);
    if (remaining == 0) delete this;
    return static_cast<ULONG>(remaining);
}

STDMETHODIMP ObjectFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
    if (!out) return E_POINTER;
    // An aggregating owner must take the inner IUnknown of the new object.
    if (outer && iid != IID_IUnknown) return E_NOINTERFACE;

    HRESULT result = S_OK;
    ObjectBase* object = m_Template->m_CreateFn(outer, &result);
    if (!object) return FAILED(result) ? result : E_OUTOFMEMORY;
    if (FAILED(result)) {
        delete object;
        return result;
    }
    // The temporary reference makes a failed query destroy the object.
    object->InnerAddRef();
    result = object->InnerQueryInterface(iid, out);
    object->InnerRelease();
    return result;
}

STDMETHODIMP ObjectFactory::LockServer(BOOL lock) {
    if (lock)
        InterlockedIncrement(&ServerLockCount);
    else
        InterlockedDecrement(&ServerLockCount);
    return S_OK;
}
