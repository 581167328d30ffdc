#include "framework/MediaTypeRecord.h"

#include <objbase.h>
#include <string.h>

MediaTypeRecord::MediaTypeRecord()
{
    SetDefaults();
}

MediaTypeRecord::MediaTypeRecord(const AM_MEDIA_TYPE& source, HRESULT* result)
{
    const HRESULT copied = CopyTypeRecord(this, source);
    if (FAILED(copied) && result) *result = copied;
}

MediaTypeRecord::MediaTypeRecord(const MediaTypeRecord& source) : AM_MEDIA_TYPE()
{
    CopyTypeRecord(this, source);
}

MediaTypeRecord::~MediaTypeRecord()
{
    ReleaseTypeRecord(*this);
}

MediaTypeRecord& MediaTypeRecord::operator=(const AM_MEDIA_TYPE& source)
{
    Assign(source);
    return *this;
}

MediaTypeRecord& MediaTypeRecord::operator=(const MediaTypeRecord& source)
{
    Assign(source);
    return *this;
}

void MediaTypeRecord::SetDefaults()
{
    ZeroMemory(static_cast<AM_MEDIA_TYPE*>(this), sizeof(AM_MEDIA_TYPE));
    bFixedSizeSamples = TRUE;
    lSampleSize = 1;
}

HRESULT MediaTypeRecord::Assign(const AM_MEDIA_TYPE& source)
{
    if (&source == static_cast<const AM_MEDIA_TYPE*>(this)) return S_OK;
    ReleaseTypeRecord(*this);
    return FAILED(CopyTypeRecord(this, source)) ? E_OUTOFMEMORY : S_OK;
}

bool MediaTypeRecord::Equals(const AM_MEDIA_TYPE& other) const
{
    if (!IsEqualGUID(majortype, other.majortype)) return false;
    if (!IsEqualGUID(subtype, other.subtype)) return false;
    if (!IsEqualGUID(formattype, other.formattype)) return false;
    if (cbFormat != other.cbFormat) return false;
    return cbFormat == 0 || memcmp(pbFormat, other.pbFormat, cbFormat) == 0;
}

bool MediaTypeRecord::IsPartial() const
{
    return IsEqualGUID(majortype, GUID_NULL) || IsEqualGUID(formattype, GUID_NULL);
}

bool MediaTypeRecord::MatchesPattern(const AM_MEDIA_TYPE& pattern) const
{
    if (!IsEqualGUID(pattern.majortype, GUID_NULL) && !IsEqualGUID(pattern.majortype, majortype)) return false;
    if (!IsEqualGUID(pattern.subtype, GUID_NULL) && !IsEqualGUID(pattern.subtype, subtype)) return false;
    if (IsEqualGUID(pattern.formattype, GUID_NULL)) return true;
    if (!IsEqualGUID(pattern.formattype, formattype)) return false;
    if (pattern.cbFormat != cbFormat) return false;
    return cbFormat == 0 || memcmp(pattern.pbFormat, pbFormat, cbFormat) == 0;
}

HRESULT CopyTypeRecord(AM_MEDIA_TYPE* destination, const AM_MEDIA_TYPE& source)
{
    *destination = source;
    // Without a block the copy must not point at the source's memory: it
    // would be freed twice or read after the source released it.
    destination->pbFormat = nullptr;
    if (source.cbFormat != 0) {
        destination->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
        if (!destination->pbFormat) {
            destination->cbFormat = 0;
            destination->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        CopyMemory(destination->pbFormat, source.pbFormat, source.cbFormat);
    }
    if (destination->pUnk) destination->pUnk->AddRef();
    return S_OK;
}

void ReleaseTypeRecord(AM_MEDIA_TYPE& record)
{
    if (record.cbFormat != 0) {
        CoTaskMemFree(record.pbFormat);
        record.cbFormat = 0;
        record.pbFormat = nullptr;
    }
    if (record.pUnk) {
        record.pUnk->Release();
        record.pUnk = nullptr;
    }
}

AM_MEDIA_TYPE* CloneTypeRecord(const AM_MEDIA_TYPE& source)
{
    auto* record = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!record) return nullptr;
    if (FAILED(CopyTypeRecord(record, source))) {
        CoTaskMemFree(record);
        return nullptr;
    }
    return record;
}

void DeleteTypeRecord(AM_MEDIA_TYPE* record)
{
    if (!record) return;
    ReleaseTypeRecord(*record);
    CoTaskMemFree(record);
}
