// Media type value with the memory layout of AM_MEDIA_TYPE. Format blocks
// live in COM task memory; copies are deep.
#ifndef QUILLON_MEDIA_TYPE_RECORD_H
#define QUILLON_MEDIA_TYPE_RECORD_H

#include <windows.h>
#include <strmif.h>

class MediaTypeRecord : public AM_MEDIA_TYPE {
public:
    MediaTypeRecord();
    // On a failed copy the record owns nothing and *result gets E_OUTOFMEMORY.
    MediaTypeRecord(const AM_MEDIA_TYPE& source, HRESULT* result = nullptr);
    MediaTypeRecord(const MediaTypeRecord& source);
    ~MediaTypeRecord();

    MediaTypeRecord& operator=(const AM_MEDIA_TYPE& source);
    MediaTypeRecord& operator=(const MediaTypeRecord& source);

    void SetDefaults();
    HRESULT Assign(const AM_MEDIA_TYPE& source);
    bool Equals(const AM_MEDIA_TYPE& other) const;
    bool IsPartial() const;
    bool MatchesPattern(const AM_MEDIA_TYPE& pattern) const;
};

static_assert(sizeof(MediaTypeRecord) == sizeof(AM_MEDIA_TYPE), "record must keep the platform layout");

HRESULT CopyTypeRecord(AM_MEDIA_TYPE* destination, const AM_MEDIA_TYPE& source);
void ReleaseTypeRecord(AM_MEDIA_TYPE& record);
AM_MEDIA_TYPE* CloneTypeRecord(const AM_MEDIA_TYPE& source);
void DeleteTypeRecord(AM_MEDIA_TYPE* record);

#endif
