// The camera's one video stream. Each RequestSample queues a request; a
// worker thread of the stream answers the requests in order, each with the
// camera's next frame converted into the stream's format, stamped with the
// time of its arrival since the source started. Only frames that arrived
// after the start that the stream last announced are delivered, so no stamp
// precedes that start's time. Samples come from the video sample allocator
// the source was given, or are made in system memory. The source drives the
// stream's state; the stream never calls the source. Beside that, a frame
// server may stop the stream on its own and run (or pause) it again while
// the source is started (or paused).
#ifndef QUILLON_CAMERA_MEDIA_STREAM_H
#define QUILLON_CAMERA_MEDIA_STREAM_H

#include <deque>

#include "camera/CCamera.h"
#include "framework/ObjectBase.h"
#include "framework/Raii.h"
#include "framework/Sync.h"
#include "mediasource/CameraKsControl.h"
#include "mediasource/MediaFoundation.h"
#include "mediasource/StreamFormats.h"

// A run's time base: presentation time `time` (100 ns units) at the
// performance counter value `counter`.
struct StreamClock {
    LONGLONG counter = 0;
    LONGLONG time = 0;

    static StreamClock StartingNow(LONGLONG time);
    LONGLONG TimeAt(LONGLONG counterValue) const;
};

class CameraMediaStream : public ObjectBase, public FrameServer::IMFMediaStream2, public CameraKsControl {
  public:
    // How long a pending request waits for a frame before the stream takes
    // the camera for stalled and ends: the source's queue gets MEError with
    // StalledCameraResult and MEEndOfPresentation, the stream's MEEndOfStream.
    // Requests are then refused with MF_E_END_OF_STREAM until the next Start.
    static constexpr DWORD StallMilliseconds = 3000;
    static const HRESULT StalledCameraResult;

    // The stream of `source`, reading `camera`, which must stay until
    // Shutdown has returned. The source is not referenced: it detaches
    // itself at its Shutdown. Events that concern the whole presentation go
    // to `sourceEvents`.
    static HRESULT Create(IMFMediaSource* source, IMFMediaEventQueue* sourceEvents, CCamera* camera,
                          IMFStreamDescriptor* descriptor, ComPtr<CameraMediaStream>& out);
    ~CameraMediaStream() override;

    FORWARD_IUNKNOWN_TO_OWNER
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;

    // IMFMediaEventGenerator
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override;
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                            const PROPVARIANT* value) override;
    // IMFMediaStream
    STDMETHODIMP GetMediaSource(IMFMediaSource** source) override;
    STDMETHODIMP GetStreamDescriptor(IMFStreamDescriptor** descriptor) override;
    STDMETHODIMP RequestSample(IUnknown* token) override;
    // IMFMediaStream2: running, paused or stopped as the source's last Start,
    // Pause or Stop left the stream, or stopped since by SetStreamState. A
    // stopped stream may be set to the source's own state again (running
    // from the time of the call on); every other change answers
    // MF_E_INVALID_STATE_TRANSITION.
    STDMETHODIMP SetStreamState(FrameServer::StreamState state) override;
    STDMETHODIMP GetStreamState(FrameServer::StreamState* state) override;

    // The source's side, called while it holds its own lock.
    bool IsActive();
    // Samples come from `allocator` from now on (from system memory when
    // null), initialised for the current format while the stream is active.
    HRESULT SetAllocator(IMFVideoSampleAllocatorEx* allocator);
    bool HasAllocator();
    // Makes the allocator, if any, ready for `format` before a Start.
    HRESULT PrepareAllocator(const StreamFormat& format);
    // Starts (or restarts) delivering in `format`, frames that arrived
    // from the performance counter value `runStart` on; a fresh camera
    // numbers its frames from 1 again. Queues MEStreamStarted with `startTime`.
    void Start(const StreamFormat& format, const StreamClock& clock, LONGLONG runStart, bool freshCamera,
               LONGLONG startTime);
    // Holds the queued requests until the next Start; queues MEStreamPaused.
    void Pause();
    // Drops the queued requests; queues MEStreamStopped when `announce` and
    // the stream was active.
    void Stop(bool announce);
    // Ends the worker and the event queue; every call then answers MF_E_SHUTDOWN.
    void Shutdown();

  private:
    enum class State { Stopped, Started, Paused, Ended, ShutDown };
    // What the worker needs to answer the oldest request, read under the lock.
    struct Job {
        unsigned generation = 0;
        StreamFormat format;
        LONG lastSequence = 0;
        StreamClock clock;
        LONGLONG runStart = 0;
        ComPtr<IMFVideoSampleAllocatorEx> allocator;
    };

    CameraMediaStream(IMFMediaSource* source, IMFMediaEventQueue* sourceEvents, CCamera* camera,
                      IMFStreamDescriptor* descriptor);
    HRESULT Initialize();
    HRESULT CheckNotShutDown();
    HRESULT CheckControlsUsable() override { return CheckNotShutDown(); }
    void QueueTimeEvent(MediaEventType type, LONGLONG time);
    void StopLocked(bool announce);
    void RunLocked(LONGLONG runStart, LONGLONG startTime);
    HRESULT InitializeAllocatorLocked(IMFVideoSampleAllocatorEx* allocator, const StreamFormat& format);

    static DWORD WINAPI WorkerMain(void* stream);
    void ServeRequests();
    bool WaitForJob(Job& job);
    HRESULT NewSample(const Job& job, ComPtr<IMFSample>& sample, ComPtr<IMFMediaBuffer>& buffer);
    HRESULT MakeSample(const Job& job, ComPtr<IMFSample>& sample, LONG& sequence);
    void Deliver(const Job& job, IMFSample* sample, LONG sequence);
    void SkipFrame(const Job& job, LONG sequence);
    void NoteNoFrame(const Job& job, bool frameUnreadable);
    void WaitForFreeSample(const Job& job);
    void EndStream(HRESULT error);
    void ReportError(const Job& job, HRESULT error);

    CriticalLock m_Lock;
    ConditionSignal m_Wake; // a request, a state change or the shutdown
    State m_State = State::Stopped;
    State m_SourceState = State::Stopped; // what the source's last Start, Pause or Stop asked for
    unsigned m_Generation = 0;            // changes with every state change
    IMFMediaSource* m_Source;
    CCamera* const m_Camera;
    ComPtr<IMFStreamDescriptor> m_Descriptor;
    ComPtr<IMFMediaEventQueue> m_Events;
    ComPtr<IMFMediaEventQueue> m_SourceEvents;
    std::deque<ComPtr<IUnknown>> m_Requests;
    StreamFormat m_Format;
    StreamClock m_Clock;
    LONGLONG m_RunStart = 0; // the counter value of the last announced start
    ComPtr<IMFVideoSampleAllocatorEx> m_Allocator;
    StreamFormat m_AllocatorFormat; // what m_Allocator was initialised for
    bool m_AllocatorReady = false;
    LONG m_LastSequence = 0;  // the camera frame delivered last
    DWORD m_WaitingSince = 0; // tick count since which a request waits without a frame
    UniqueHandle m_Worker;
};

#endif
