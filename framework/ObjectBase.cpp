#include "framework/ObjectBase.h"

#include <uuids.h>

volatile LONG LiveObjectCount = 0;

namespace {

// The count reported by AddRef/Release is informational; it never drops
// below 1 while the object is alive.
ULONG AtLeastOne(LONG count)
{
    const ULONG value = static_cast<ULONG>(count);
    return value < 1 ? 1 : value;
}

} // namespace

ObjectBase::ObjectBase(const wchar_t* /*objectName*/, IUnknown* owner)
{
    InterlockedIncrement(&LiveObjectCount);
    m_Owner = owner ? owner : InnerUnknown();
    m_RefCount = 0;
}

ObjectBase::~ObjectBase()
{
    InterlockedDecrement(&LiveObjectCount);
}

HRESULT STDMETHODCALLTYPE ObjectBase::InnerQueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown)) return ProvideInterface(InnerUnknown(), out);
    *out = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ObjectBase::InnerAddRef()
{
    InterlockedIncrement(&m_RefCount);
    return AtLeastOne(m_RefCount);
}

ULONG STDMETHODCALLTYPE ObjectBase::InnerRelease()
{
    if (InterlockedDecrement(&m_RefCount) == 0) {
        // Stand at 1 while destroying, so an AddRef/Release pair made by a
        // destructor cannot start a second destruction.
        m_RefCount = 1;
        delete this;
        return 0;
    }
    return AtLeastOne(m_RefCount);
}

HRESULT ProvideInterface(IUnknown* itf, void** out)
{
    if (!out) return E_POINTER;
    *out = itf;
    itf->AddRef();
    return S_OK;
}

HRESULT NewPlatformAllocator(IMemAllocator** out)
{
    return CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                            reinterpret_cast<void**>(out));
}
