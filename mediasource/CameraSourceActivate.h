// The activation object of the camera's media source: what a frame server
// creates from the registered class. Its attribute store is the one the
// platform fills before it activates; ActivateObject creates the source once,
// with that store as the source's attributes, and answers every interface the
// source has; later calls answer the same source until ShutdownObject (which
// shuts it down) or DetachObject (which lets it go as it is), after which the
// next ActivateObject creates a new one.
#ifndef QUILLON_CAMERA_SOURCE_ACTIVATE_H
#define QUILLON_CAMERA_SOURCE_ACTIVATE_H

#include "framework/ObjectBase.h"
#include "framework/Raii.h"
#include "framework/Sync.h"
#include "mediasource/MediaFoundation.h"

class CameraSourceActivate : public ObjectBase, public IMFActivate {
  public:
    static ObjectBase* Create(IUnknown* owner, HRESULT* result);

    FORWARD_IUNKNOWN_TO_OWNER
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;

    // IMFActivate
    STDMETHODIMP ActivateObject(REFIID iid, void** out) override;
    STDMETHODIMP ShutdownObject() override;
    STDMETHODIMP DetachObject() override;

    // IMFAttributes, the store's own.
    STDMETHODIMP GetItem(REFGUID key, PROPVARIANT* value) override;
    STDMETHODIMP GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override;
    STDMETHODIMP CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) override;
    STDMETHODIMP Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE type, BOOL* result) override;
    STDMETHODIMP GetUINT32(REFGUID key, UINT32* value) override;
    STDMETHODIMP GetUINT64(REFGUID key, UINT64* value) override;
    STDMETHODIMP GetDouble(REFGUID key, double* value) override;
    STDMETHODIMP GetGUID(REFGUID key, GUID* value) override;
    STDMETHODIMP GetStringLength(REFGUID key, UINT32* length) override;
    STDMETHODIMP GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) override;
    STDMETHODIMP GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override;
    STDMETHODIMP GetBlobSize(REFGUID key, UINT32* size) override;
    STDMETHODIMP GetBlob(REFGUID key, UINT8* buffer, UINT32 bufferSize, UINT32* blobSize) override;
    STDMETHODIMP GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) override;
    STDMETHODIMP GetUnknown(REFGUID key, REFIID iid, void** out) override;
    STDMETHODIMP SetItem(REFGUID key, REFPROPVARIANT value) override;
    STDMETHODIMP DeleteItem(REFGUID key) override;
    STDMETHODIMP DeleteAllItems() override;
    STDMETHODIMP SetUINT32(REFGUID key, UINT32 value) override;
    STDMETHODIMP SetUINT64(REFGUID key, UINT64 value) override;
    STDMETHODIMP SetDouble(REFGUID key, double value) override;
    STDMETHODIMP SetGUID(REFGUID key, REFGUID value) override;
    STDMETHODIMP SetString(REFGUID key, LPCWSTR value) override;
    STDMETHODIMP SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) override;
    STDMETHODIMP SetUnknown(REFGUID key, IUnknown* value) override;
    STDMETHODIMP LockStore() override;
    STDMETHODIMP UnlockStore() override;
    STDMETHODIMP GetCount(UINT32* count) override;
    STDMETHODIMP GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override;
    STDMETHODIMP CopyAllItems(IMFAttributes* destination) override;

  private:
    CameraSourceActivate();
    HRESULT Initialize();

    CriticalLock m_Lock;
    ComPtr<IMFAttributes> m_Attributes;
    ComPtr<IMFMediaSource> m_Source; // the activated source, until shut down or detached
};

#endif
