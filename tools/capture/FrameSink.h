// Receives every frame of one branch of the graph from a Sample Grabber:
// counts it, optionally appends it to an AVI file, and keeps a copy when a
// snapshot is asked for.
#ifndef BRISCACAP_FRAME_SINK_H
#define BRISCACAP_FRAME_SINK_H

#include <windows.h>
#include <qedit.h>

#include <cstdint>

#include "framework/Sync.h"
#include "tools/capture/AviFileWriter.h"
#include "tools/capture/PngSnapshot.h"

class FrameSink : public ISampleGrabberCB {
public:
    FrameSink();
    virtual ~FrameSink() = default;
    FrameSink(const FrameSink&) = delete;
    FrameSink& operator=(const FrameSink&) = delete;

    // The frame layout of the connected media type.
    void SetLayout(int width, int height, bool topDown);
    // Appends the next frames to writer (opened by the caller) until it holds
    // frameLimit of them. With a frame interval (100 ns), time-stamped samples
    // are recorded at that fixed rate by their stamps: a sample within an
    // interval already recorded is left out, a gap is filled with the next
    // picture, so the recording lasts as long as the stream it shows.
    void StartRecording(AviFileWriter* writer, uint32_t frameLimit, LONGLONG frameInterval = 0);
    // Stops appending; afterwards the writer may be closed.
    void StopRecording();
    bool RecordingComplete();
    HRESULT RecordingResult();
    // The rate the recording plays at: the fixed rate, or without stamps the
    // rate the frames arrived at.
    double RecordedFramesPerSecond();

    // Keeps a copy of the next frame; waits for it up to the time limit.
    bool CaptureSnapshot(DWORD milliseconds, FrameImage& image);

    LONG FrameCount() const { return m_FrameCount; }
    // Milliseconds since the last frame (or since construction).
    DWORD QuietMilliseconds() const { return GetTickCount() - m_LastFrameTick; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP SampleCB(double sampleTime, IMediaSample* sample) override;
    STDMETHODIMP BufferCB(double sampleTime, BYTE* buffer, long length) override;

private:
  void OnFrame(const BYTE* data, long length, const LONGLONG* stamp);
  void Record(const BYTE* data, long length, const LONGLONG* stamp);
  void RecordAtFixedRate(const BYTE* data, long length, LONGLONG stamp);

  volatile LONG m_RefCount = 1;
  volatile LONG m_FrameCount = 0;
  volatile DWORD m_LastFrameTick;

  CriticalLock m_Lock; // guards everything below
  int m_Width = 0;
  int m_Height = 0;
  bool m_TopDown = false;
  AviFileWriter* m_Writer = nullptr;
  uint32_t m_RecordLimit = 0;
  uint32_t m_Recorded = 0;
  HRESULT m_RecordResult = S_OK;
  LONGLONG m_FrameInterval = 0;
  bool m_Stamped = false; // the recording follows the stamps
  LONGLONG m_FirstStamp = 0;
  LARGE_INTEGER m_FirstRecordTime = {};
  LARGE_INTEGER m_LastRecordTime = {};
  bool m_SnapshotWanted = false;
  FrameImage m_Snapshot;
  SignalEvent m_SnapshotTaken;
};

#endif
