// "Brisca Camera Media Source": the camera for Media Foundation apps. A live
// source with one video stream (CameraMediaStream) that owns a camera
// controller of its own, opened while the source runs. Its state changes
// follow the media source rules: Start, Pause and Stop queue their events
// (MENewStream or MEUpdatedStream, MESourceStarted, and the stream's events)
// and Shutdown ends everything; every call after it answers MF_E_SHUTDOWN.
// The source cannot seek: a Start with a position while it is started or
// paused answers MF_E_INVALIDREQUEST and changes nothing. Beside the source
// interfaces it answers what a frame server asks a camera for: the stream's
// type set directly (IMFMediaSource2) and a sample allocator to fill
// (IMFSampleAllocatorControl).
#ifndef QUILLON_CAMERA_MEDIA_SOURCE_H
#define QUILLON_CAMERA_MEDIA_SOURCE_H

#include "mediasource/MediaFoundation.h"

#include "camera/CCamera.h"
#include "camera/CameraControls.h"
#include "framework/ObjectBase.h"
#include "framework/Raii.h"
#include "framework/Sync.h"
#include "mediasource/CameraKsControl.h"
#include "mediasource/CameraMediaStream.h"
#include "mediasource/StreamFormats.h"

class CameraMediaSource : public ObjectBase,
                          public FrameServer::IMFMediaSource2,
                          public FrameServer::IMFSampleAllocatorControl,
                          public IMFGetService,
                          public CameraKsControl,
                          public VideoProcAmpControl,
                          public ExposureControl {
  public:
    // Start's answer, with an MEError event of the same status, when the
    // camera cannot be opened or started: another controller of the process
    // holds it (the filter is streaming), or the camera library failed.
    static constexpr HRESULT CameraUnavailableResult = MF_E_HW_MFT_FAILED_START_STREAMING;

    // A source whose source attributes are `attributes` (shared, not copied)
    // or, when null, a store of its own; either holds the camera's friendly
    // name unless it names the camera already.
    static ObjectBase* Create(IUnknown* owner, IMFAttributes* attributes, HRESULT* result);
    ~CameraMediaSource() override;

    FORWARD_IUNKNOWN_TO_OWNER
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;

    // IMFMediaEventGenerator
    STDMETHODIMP GetEvent(DWORD flags, IMFMediaEvent** event) override;
    STDMETHODIMP BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state) override;
    STDMETHODIMP EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event) override;
    STDMETHODIMP QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                            const PROPVARIANT* value) override;
    // IMFMediaSource
    STDMETHODIMP GetCharacteristics(DWORD* characteristics) override;
    STDMETHODIMP CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor) override;
    STDMETHODIMP Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                       const PROPVARIANT* startPosition) override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Shutdown() override;
    // IMFMediaSourceEx
    STDMETHODIMP GetSourceAttributes(IMFAttributes** attributes) override;
    STDMETHODIMP GetStreamAttributes(DWORD streamId, IMFAttributes** attributes) override;
    STDMETHODIMP SetD3DManager(IUnknown* manager) override;
    // IMFMediaSource2: one of the stream's types becomes its current type,
    // in effect from the next Start, as a type set through the descriptor.
    STDMETHODIMP SetMediaType(DWORD streamId, IMFMediaType* type) override;
    // IMFSampleAllocatorControl: samples come from the given video sample
    // allocator (IMFVideoSampleAllocatorEx), which the stream initialises for
    // its current type; a null allocator returns to system memory samples.
    STDMETHODIMP SetDefaultAllocator(DWORD streamId, IUnknown* allocator) override;
    STDMETHODIMP GetAllocatorUsage(DWORD streamId, DWORD* inputStreamId,
                                   FrameServer::AllocatorUsage* usage) override;
    // IMFGetService: no services; samples are in system memory.
    STDMETHODIMP GetService(REFGUID service, REFIID iid, void** out) override;

    // The source's camera controller, for tests.
    CCamera* Camera() { return &m_Camera; }

  protected:
    // The camera's standard controls, the filter's own, and IKsControl answer
    // MF_E_SHUTDOWN after Shutdown like everything else.
    HRESULT CheckControlsUsable() override { return CheckNotShutDown(); }

  private:
    enum class State { Stopped, Started, Paused, ShutDown };
    // What a presentation descriptor handed to Start asks for.
    struct StreamChoice {
        bool selected = false;
        StreamFormat format;
    };

    CameraMediaSource();
    HRESULT Initialize(IMFAttributes* attributes);
    HRESULT CheckNotShutDown();
    HRESULT ReadStreamChoice(IMFPresentationDescriptor* descriptor, StreamChoice& choice);
    HRESULT StartCamera(int resolution, bool& reopened);
    void CloseCamera();
    void StopStreaming(bool announce);
    void QueueSourceEvent(MediaEventType type, HRESULT status, const PROPVARIANT* value);
    void ShutDownEverything();

    CriticalLock m_Lock;
    State m_State = State::Stopped;
    CCamera m_Camera;
    int m_OpenResolution = -1;      // the camera's resolution while it is open
    bool m_StreamAnnounced = false; // MENewStream was sent; later starts send MEUpdatedStream
    StreamClock m_Clock;
    ComPtr<IMFMediaEventQueue> m_Events;
    ComPtr<IMFPresentationDescriptor> m_Presentation;
    ComPtr<IMFAttributes> m_SourceAttributes;
    ComPtr<IMFAttributes> m_StreamAttributes;
    ComPtr<CameraMediaStream> m_Stream;
};

#endif
