// A media sample over a buffer the test owns, with guard bytes after the
// part it reports as its size; records the times and flags set on it.
#ifndef QUILLON_FAKE_MEDIA_SAMPLE_H
#define QUILLON_FAKE_MEDIA_SAMPLE_H

#include <windows.h>
#include <strmif.h>
#include <vfwmsgs.h>

#include <vector>

class FakeMediaSample : public IMediaSample {
  public:
    static const unsigned char GuardByte = 0xCD;

    // A buffer of `size` bytes followed by `guard` guard bytes, all GuardByte.
    explicit FakeMediaSample(long size, long guard = 64);
    virtual ~FakeMediaSample() = default;

    // True while no byte after the reported size was written.
    bool GuardIntact() const;
    const std::vector<unsigned char>& Bytes() const { return m_Buffer; }

    // Recorded by SetTime and SetSyncPoint.
    bool m_TimeSet = false;
    bool m_StartGiven = false;
    bool m_EndGiven = false;
    REFERENCE_TIME m_Start = 0;
    REFERENCE_TIME m_End = 0;
    int m_SetTimeCalls = 0;
    bool m_SyncPoint = false;
    bool m_ActualLengthSet = false;

    // The sample lives on the test's stack.
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetPointer(BYTE** out) override;
    STDMETHODIMP_(long) GetSize() override { return m_Size; }
    STDMETHODIMP GetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    STDMETHODIMP SetTime(REFERENCE_TIME* start, REFERENCE_TIME* end) override;
    STDMETHODIMP IsSyncPoint() override { return m_SyncPoint ? S_OK : S_FALSE; }
    STDMETHODIMP SetSyncPoint(BOOL syncPoint) override;
    STDMETHODIMP IsPreroll() override { return S_FALSE; }
    STDMETHODIMP SetPreroll(BOOL) override { return S_OK; }
    STDMETHODIMP_(long) GetActualDataLength() override { return m_Size; }
    STDMETHODIMP SetActualDataLength(long) override;
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** out) override;
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
    STDMETHODIMP SetDiscontinuity(BOOL) override { return S_OK; }
    STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
    STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return S_OK; }

  private:
    long m_Size;
    std::vector<unsigned char> m_Buffer;
};

#endif
