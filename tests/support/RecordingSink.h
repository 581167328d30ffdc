// A sample grabber callback that records what reaches it: time stamps, the
// sync point flag, the size, and whether the data shows the simulated
// camera's picture (checked at a few known pixels).
#ifndef QUILLON_RECORDING_SINK_H
#define QUILLON_RECORDING_SINK_H

#include <windows.h>
#include <dshow.h>
#include <qedit.h>

#include <functional>
#include <vector>

#include "framework/Sync.h"

struct RecordedSample {
    HRESULT timeResult; // IMediaSample::GetTime
    REFERENCE_TIME start;
    REFERENCE_TIME end;
    bool syncPoint;
    long size;
    long actualLength;
    bool showsPicture;
    int squareColumn;       // SimSquareColumn of the picture, -1 when unreadable
    DWORD threadId;
    REFERENCE_TIME arrival; // real time of arrival, in 100 ns
    LONGLONG probe;         // what the probe said at arrival, if one is set
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

    // The picture size the samples are checked for.
    void SetPictureSize(int width, int height);
    // Called at each sample's arrival; its answer is recorded with the sample.
    void SetProbe(std::function<LONGLONG()> probe);
    // Called inside each sample's delivery, on the streaming thread.
    void SetDuringReceive(std::function<void()> action);
    // Keeps a copy of the data of every sample from now on (the last one).
    void KeepLastPicture(bool keep);
    std::vector<unsigned char> LastPicture() const;

    std::vector<RecordedSample> Samples() const;
    size_t Count() const;
    // Waits until `count` samples have arrived; false after the time limit.
    bool WaitForSamples(size_t count, DWORD milliseconds = 10000) const;
    void Clear();

  private:
    mutable CriticalLock m_Lock;
    int m_Width;
    int m_Height;
    std::function<LONGLONG()> m_Probe;
    std::function<void()> m_DuringReceive;
    bool m_KeepLast = false;
    std::vector<unsigned char> m_LastPicture;
    std::vector<RecordedSample> m_Samples;
};

#endif
