#include "mediasource/CameraSourceActivate.h"

#include <new>

#include "mediasource/CameraMediaSource.h"
#include "mediasource/MediaFoundationApi.h"
#include "mediasource/MediaSourceClass.h"

ObjectBase* CreateCameraSourceActivate(IUnknown* owner, HRESULT* result)
{
    return CameraSourceActivate::Create(owner, result);
}

ObjectBase* CameraSourceActivate::Create(IUnknown* owner, HRESULT* result)
{
    HRESULT unused;
    HRESULT& status = result ? *result : unused;
    status = CheckMediaObjectCreation(owner);
    if (FAILED(status)) return nullptr;
    CameraSourceActivate* activate = new (std::nothrow) CameraSourceActivate();
    if (!activate) {
        status = E_OUTOFMEMORY;
        return nullptr;
    }
    status = activate->Initialize();
    if (FAILED(status)) {
        delete activate;
        return nullptr;
    }
    return activate;
}

CameraSourceActivate::CameraSourceActivate() : ObjectBase(MediaSourceDisplayName, nullptr) {}

HRESULT CameraSourceActivate::Initialize()
{
    return MediaFoundation()->CreateAttributes(m_Attributes.put(), 4);
}

HRESULT STDMETHODCALLTYPE CameraSourceActivate::InnerQueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (iid == IID_IMFActivate) return ProvideInterface(static_cast<IMFActivate*>(this), out);
    if (iid == IID_IMFAttributes) return ProvideInterface(static_cast<IMFAttributes*>(this), out);
    return ObjectBase::InnerQueryInterface(iid, out);
}

STDMETHODIMP CameraSourceActivate::ActivateObject(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    ScopedLock lock(&m_Lock);
    const bool creating = !m_Source;
    if (creating) {
        HRESULT created = E_UNEXPECTED;
        ObjectBase* source = CameraMediaSource::Create(nullptr, m_Attributes.get(), &created);
        if (!source) return FAILED(created) ? created : E_OUTOFMEMORY;
        // The first reference, which destroys the source if the query fails.
        RETURN_IF_FAILED(source->InnerQueryInterface(IID_IMFMediaSource, m_Source.putVoid()));
    }
    const HRESULT answered = m_Source->QueryInterface(iid, out);
    if (FAILED(answered) && creating) {
        m_Source->Shutdown();
        m_Source.reset();
    }
    return answered;
}

STDMETHODIMP CameraSourceActivate::ShutdownObject()
{
    ComPtr<IMFMediaSource> source;
    {
        ScopedLock lock(&m_Lock);
        source = std::move(m_Source);
    }
    if (source) source->Shutdown();
    return S_OK;
}

STDMETHODIMP CameraSourceActivate::DetachObject()
{
    ComPtr<IMFMediaSource> source;
    ScopedLock lock(&m_Lock);
    source = std::move(m_Source);
    return S_OK;
}

// The attribute store's methods.

STDMETHODIMP CameraSourceActivate::GetItem(REFGUID key, PROPVARIANT* value)
{
    return m_Attributes->GetItem(key, value);
}
STDMETHODIMP CameraSourceActivate::GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type)
{
    return m_Attributes->GetItemType(key, type);
}
STDMETHODIMP CameraSourceActivate::CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result)
{
    return m_Attributes->CompareItem(key, value, result);
}
STDMETHODIMP CameraSourceActivate::Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result)
{
    return m_Attributes->Compare(theirs, type, result);
}
STDMETHODIMP CameraSourceActivate::GetUINT32(REFGUID key, UINT32* value)
{
    return m_Attributes->GetUINT32(key, value);
}
STDMETHODIMP CameraSourceActivate::GetUINT64(REFGUID key, UINT64* value)
{
    return m_Attributes->GetUINT64(key, value);
}
STDMETHODIMP CameraSourceActivate::GetDouble(REFGUID key, double* value)
{
    return m_Attributes->GetDouble(key, value);
}
STDMETHODIMP CameraSourceActivate::GetGUID(REFGUID key, GUID* value)
{
    return m_Attributes->GetGUID(key, value);
}
STDMETHODIMP CameraSourceActivate::GetStringLength(REFGUID key, UINT32* length)
{
    return m_Attributes->GetStringLength(key, length);
}
STDMETHODIMP CameraSourceActivate::GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length)
{
    return m_Attributes->GetString(key, value, size, length);
}
STDMETHODIMP CameraSourceActivate::GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length)
{
    return m_Attributes->GetAllocatedString(key, value, length);
}
STDMETHODIMP CameraSourceActivate::GetBlobSize(REFGUID key, UINT32* size)
{
    return m_Attributes->GetBlobSize(key, size);
}
STDMETHODIMP CameraSourceActivate::GetBlob(REFGUID key, UINT8* buffer, UINT32 bufferSize, UINT32* blobSize)
{
    return m_Attributes->GetBlob(key, buffer, bufferSize, blobSize);
}
STDMETHODIMP CameraSourceActivate::GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size)
{
    return m_Attributes->GetAllocatedBlob(key, buffer, size);
}
STDMETHODIMP CameraSourceActivate::GetUnknown(REFGUID key, REFIID iid, void** out)
{
    return m_Attributes->GetUnknown(key, iid, out);
}
STDMETHODIMP CameraSourceActivate::SetItem(REFGUID key, REFPROPVARIANT value)
{
    return m_Attributes->SetItem(key, value);
}
STDMETHODIMP CameraSourceActivate::DeleteItem(REFGUID key)
{
    return m_Attributes->DeleteItem(key);
}
STDMETHODIMP CameraSourceActivate::DeleteAllItems()
{
    return m_Attributes->DeleteAllItems();
}
STDMETHODIMP CameraSourceActivate::SetUINT32(REFGUID key, UINT32 value)
{
    return m_Attributes->SetUINT32(key, value);
}
STDMETHODIMP CameraSourceActivate::SetUINT64(REFGUID key, UINT64 value)
{
    return m_Attributes->SetUINT64(key, value);
}
STDMETHODIMP CameraSourceActivate::SetDouble(REFGUID key, double value)
{
    return m_Attributes->SetDouble(key, value);
}
STDMETHODIMP CameraSourceActivate::SetGUID(REFGUID key, REFGUID value)
{
    return m_Attributes->SetGUID(key, value);
}
STDMETHODIMP CameraSourceActivate::SetString(REFGUID key, LPCWSTR value)
{
    return m_Attributes->SetString(key, value);
}
STDMETHODIMP CameraSourceActivate::SetBlob(REFGUID key, const UINT8* buffer, UINT32 size)
{
    return m_Attributes->SetBlob(key, buffer, size);
}
STDMETHODIMP CameraSourceActivate::SetUnknown(REFGUID key, IUnknown* value)
{
    return m_Attributes->SetUnknown(key, value);
}
STDMETHODIMP CameraSourceActivate::LockStore()
{
    return m_Attributes->LockStore();
}
STDMETHODIMP CameraSourceActivate::UnlockStore()
{
    return m_Attributes->UnlockStore();
}
STDMETHODIMP CameraSourceActivate::GetCount(UINT32* count)
{
    return m_Attributes->GetCount(count);
}
STDMETHODIMP CameraSourceActivate::GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value)
{
    return m_Attributes->GetItemByIndex(index, key, value);
}
STDMETHODIMP CameraSourceActivate::CopyAllItems(IMFAttributes* destination)
{
    return m_Attributes->CopyAllItems(destination);
}
