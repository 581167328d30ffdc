#include "module/ObjectFactory.h"

#include <mfobjects.h>

#include "framework/ObjectBase.h"
#include "framework/Raii.h"
#include "module/ObjectTemplates.h"

namespace {

// A class whose object is an activation object, created for an interface
// of what it activates rather than its own, hands out the activated object
// and lets it go: creating the media source's class for IMFMediaSource
// gives the source itself.
HRESULT ActivateFor(ObjectBase* object, REFIID iid, void** out) {
    ComPtr<IMFActivate> activate;
    if (FAILED(object->InnerQueryInterface(IID_IMFActivate, activate.putVoid()))) return E_NOINTERFACE;
    const HRESULT result = activate->ActivateObject(iid, out);
    activate->DetachObject();
    return result;
}

}  // namespace

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
    if (result == E_NOINTERFACE && !outer) result = ActivateFor(object, iid, out);
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
