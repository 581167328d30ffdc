// A sample grabber callback that records what reaches it: time stamps, the
// sync point flag, the size, and whether the data shows the simulated
// camera's picture (checked at a few known pixels).
#ifndef QUILLON_RECORDING_SINK_H
#define QUILLON_RECORDING_SINK_H

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <vector>

#include "framework/Sync.h"

struct RecordedSample {
    HRESULT timeResult; // IMediaSample::GetTime
    REFERENCE_TIME start;
    REFERENCE_TIME end;
    bool syncPoint;
    long size;
    bool showsPicture;
    DWORD threadId;
};

class RecordingSink : public ISampleGrabberCB {
  public:
    // The picture is checked for frames of this size (the camera's full size by default).
    RecordingSink(int width = 3032, int height = 2016);
    virtual ~RecordingSink() = default;

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    // The sink lives on the test's stack; the grabber's references do not own it.
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double time, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double time, BYTE* buffer, long length) override;

    std::vector<RecordedSample> Samples() const;
    size_t Count() const;
    // Waits until `count` samples have arrived; false after the time limit.
    bool WaitForSamples(size_t count, DWORD milliseconds = 10000) const;
    void Clear();

  private:
    int m_Width;
    int m_Height;
    mutable CriticalLock m_Lock;
    std::vector<RecordedSample> m_Samples;
};

#endif
