#include "mediasource/CameraMediaSource.h"
#include "mediasource/MediaFoundationApi.h"

#include <new>

#include "camera/SettingsFile.h"
#include "mediasource/MediaSourceClass.h"

namespace {

const wchar_t CameraFriendlyName[] = L"Brisca Camera";

// The resolution the settings choose, which the stream offers as its current type at first.
int StoredResolution()
{
    CameraConfig settings;
    ReadSettingsFile(settings);
    return EffectiveResolution(settings.m_Format.m_Resolution);
}

PROPVARIANT TimeValue(LONGLONG time)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = time;
    return value;
}

} // namespace

ObjectBase* CameraMediaSource::Create(IUnknown* owner, IMFAttributes* attributes, HRESULT* result)
{
    HRESULT unused;
    HRESULT& status = result ? *result : unused;
    status = CheckMediaObjectCreation(owner);
    if (FAILED(status)) return nullptr;
    CameraMediaSource* source = new (std::nothrow) CameraMediaSource();
    if (!source) {
        status = E_OUTOFMEMORY;
        return nullptr;
    }
    // Initialize takes no reference on the source, which still has none.
    status = source->Initialize(attributes);
    if (FAILED(status)) {
        delete source;
        return nullptr;
    }
    return source;
}

// The controls keep the address of the camera member, constructed after them.
CameraMediaSource::CameraMediaSource()
    : ObjectBase(MediaSourceDisplayName, nullptr), VideoProcAmpControl(&m_Camera), ExposureControl(&m_Camera)
{
}

CameraMediaSource::~CameraMediaSource()
{
    ScopedLock lock(&m_Lock);
    if (m_State != State::ShutDown) ShutDownEverything();
}

HRESULT CameraMediaSource::Initialize(IMFAttributes* attributes)
{
    RETURN_IF_FAILED(MediaFoundation()->CreateEventQueue(m_Events.put()));
    StreamFormat initial;
    initial.resolution = StoredResolution();
    ComPtr<IMFStreamDescriptor> stream;
    RETURN_IF_FAILED(CreateCameraStreamDescriptor(initial, stream.put()));
    IMFStreamDescriptor* streams[] = {stream.get()};
    RETURN_IF_FAILED(MediaFoundation()->CreatePresentationDescriptor(1, streams, m_Presentation.put()));
    RETURN_IF_FAILED(m_Presentation->SelectStream(0));
    if (attributes)
        m_SourceAttributes = ComPtr<IMFAttributes>::share(attributes);
    else
        RETURN_IF_FAILED(MediaFoundation()->CreateAttributes(m_SourceAttributes.put(), 1));
    if (FAILED(m_SourceAttributes->GetItem(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, nullptr)))
        RETURN_IF_FAILED(
            m_SourceAttributes->SetString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, CameraFriendlyName));
    RETURN_IF_FAILED(MediaFoundation()->CreateAttributes(m_StreamAttributes.put(), 4));
    RETURN_IF_FAILED(stream->CopyAllItems(m_StreamAttributes.get()));
    return CameraMediaStream::Create(static_cast<IMFMediaSourceEx*>(this), m_Events.get(), &m_Camera,
                                     stream.get(), m_Stream);
}

// The camera controls of the filter join here as further interfaces.
HRESULT STDMETHODCALLTYPE CameraMediaSource::InnerQueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    FrameServer::IMFMediaSource2* const source = this;
    if (iid == IID_IMFMediaEventGenerator)
        return ProvideInterface(static_cast<IMFMediaEventGenerator*>(source), out);
    if (iid == IID_IMFMediaSource) return ProvideInterface(static_cast<IMFMediaSource*>(source), out);
    if (iid == IID_IMFMediaSourceEx) return ProvideInterface(static_cast<IMFMediaSourceEx*>(source), out);
    if (iid == FrameServer::MediaSource2Id) return ProvideInterface(source, out);
    if (iid == FrameServer::SampleAllocatorControlId)
        return ProvideInterface(static_cast<FrameServer::IMFSampleAllocatorControl*>(this), out);
    if (iid == IID_IMFGetService) return ProvideInterface(static_cast<IMFGetService*>(this), out);
    if (iid == KsControlInterfaceId) return ProvideInterface(static_cast<IKsControl*>(this), out);
    if (iid == IID_IAMVideoProcAmp) return ProvideInterface(static_cast<IAMVideoProcAmp*>(this), out);
    if (iid == IID_IAMCameraControl) return ProvideInterface(static_cast<IAMCameraControl*>(this), out);
    return ObjectBase::InnerQueryInterface(iid, out);
}

HRESULT CameraMediaSource::CheckNotShutDown()
{
    ScopedLock lock(&m_Lock);
    return m_State == State::ShutDown ? MF_E_SHUTDOWN : S_OK;
}

void CameraMediaSource::QueueSourceEvent(MediaEventType type, HRESULT status, const PROPVARIANT* value)
{
    m_Events->QueueEventParamVar(type, GUID_NULL, status, value);
}

// The event calls go straight to the queue, outside the lock: GetEvent may
// wait for an event as long as it takes.
STDMETHODIMP CameraMediaSource::GetEvent(DWORD flags, IMFMediaEvent** event)
{
    if (!event) return E_POINTER;
    *event = nullptr;
    RETURN_IF_FAILED(CheckNotShutDown());
    return m_Events->GetEvent(flags, event);
}

STDMETHODIMP CameraMediaSource::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state)
{
    RETURN_IF_FAILED(CheckNotShutDown());
    return m_Events->BeginGetEvent(callback, state);
}

STDMETHODIMP CameraMediaSource::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event)
{
    if (!event) return E_POINTER;
    *event = nullptr;
    RETURN_IF_FAILED(CheckNotShutDown());
    return m_Events->EndGetEvent(result, event);
}

STDMETHODIMP CameraMediaSource::QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                           const PROPVARIANT* value)
{
    RETURN_IF_FAILED(CheckNotShutDown());
    return m_Events->QueueEventParamVar(type, extendedType, status, value);
}

STDMETHODIMP CameraMediaSource::GetCharacteristics(DWORD* characteristics)
{
    if (!characteristics) return E_POINTER;
    *characteristics = 0;
    RETURN_IF_FAILED(CheckNotShutDown());
    *characteristics = MFMEDIASOURCE_IS_LIVE | MFMEDIASOURCE_CAN_PAUSE;
    return S_OK;
}

STDMETHODIMP CameraMediaSource::CreatePresentationDescriptor(IMFPresentationDescriptor** descriptor)
{
    if (!descriptor) return E_POINTER;
    *descriptor = nullptr;
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    return m_Presentation->Clone(descriptor);
}

HRESULT CameraMediaSource::ReadStreamChoice(IMFPresentationDescriptor* descriptor, StreamChoice& choice)
{
    DWORD count = 0;
    RETURN_IF_FAILED(descriptor->GetStreamDescriptorCount(&count));
    if (count != 1) return E_INVALIDARG;
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> stream;
    RETURN_IF_FAILED(descriptor->GetStreamDescriptorByIndex(0, &selected, stream.put()));
    DWORD id = 0;
    RETURN_IF_FAILED(stream->GetStreamIdentifier(&id));
    if (id != 0) return MF_E_INVALIDSTREAMNUMBER;
    ComPtr<IMFMediaTypeHandler> handler;
    RETURN_IF_FAILED(stream->GetMediaTypeHandler(handler.put()));
    ComPtr<IMFMediaType> current;
    RETURN_IF_FAILED(handler->GetCurrentMediaType(current.put()));
    if (!FindStreamFormat(current.get(), &choice.format)) return MF_E_INVALIDMEDIATYPE;
    choice.selected = selected != FALSE;
    return S_OK;
}

HRESULT CameraMediaSource::StartCamera(int resolution, bool& reopened)
{
    reopened = false;
    if (m_OpenResolution == resolution) return S_OK;
    CloseCamera();
    // Opening rewrites the settings file with the settings the controller
    // holds. A fresh controller holds the defaults, which would reset the
    // stored resolution: read the file (and the camera's values) first, as
    // the filter's pins do before they open the camera.
    CameraConfig settings;
    m_Camera.GetConfig(settings);
    if (m_Camera.Open(resolution) != 1) return CameraUnavailableResult;
    if (m_Camera.Play() != 1) {
        m_Camera.Close();
        return CameraUnavailableResult;
    }
    m_OpenResolution = resolution;
    reopened = true;
    return S_OK;
}

void CameraMediaSource::CloseCamera()
{
    if (m_OpenResolution < 0) return;
    m_Camera.Stop();
    m_Camera.Close();
    m_OpenResolution = -1;
}

void CameraMediaSource::StopStreaming(bool announce)
{
    m_Stream->Stop(announce);
    CloseCamera();
}

STDMETHODIMP CameraMediaSource::Start(IMFPresentationDescriptor* descriptor, const GUID* timeFormat,
                                      const PROPVARIANT* startPosition)
{
    if (!descriptor || !startPosition) return E_INVALIDARG;
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    if (timeFormat && *timeFormat != GUID_NULL) return MF_E_UNSUPPORTED_TIME_FORMAT;
    if (startPosition->vt != VT_EMPTY && startPosition->vt != VT_I8) return MF_E_UNSUPPORTED_TIME_FORMAT;
    const bool positionGiven = startPosition->vt == VT_I8;
    if (positionGiven && m_State != State::Stopped) return MF_E_INVALIDREQUEST;
    StreamChoice choice;
    RETURN_IF_FAILED(ReadStreamChoice(descriptor, choice));
    if (choice.selected) RETURN_IF_FAILED(m_Stream->PrepareAllocator(choice.format));

    // Sample times count from the moment Start was called; a start from
    // stopped begins a new time line (at the position, if one is given), a
    // start from paused or started continues the old one.
    const StreamClock now = StreamClock::StartingNow(positionGiven ? startPosition->hVal.QuadPart : 0);
    const bool newTimeLine = m_State == State::Stopped;

    bool reopened = false;
    if (choice.selected) {
        const HRESULT started = StartCamera(choice.format.resolution, reopened);
        if (FAILED(started)) {
            StopStreaming(true);
            m_State = State::Stopped;
            QueueSourceEvent(MEError, started, nullptr);
            return started;
        }
    } else {
        StopStreaming(false);
        m_StreamAnnounced = false;
    }
    if (newTimeLine) m_Clock = now;
    const PROPVARIANT startTime = TimeValue(m_Clock.TimeAt(now.counter));

    if (choice.selected) {
        IMFMediaStream* stream = m_Stream.get();
        m_Events->QueueEventParamUnk(m_StreamAnnounced ? MEUpdatedStream : MENewStream, GUID_NULL, S_OK,
                                     stream);
        m_StreamAnnounced = true;
    }
    QueueSourceEvent(MESourceStarted, S_OK, &startTime);
    if (choice.selected)
        m_Stream->Start(choice.format, m_Clock, now.counter, reopened, startTime.hVal.QuadPart);
    m_State = State::Started;
    return S_OK;
}

STDMETHODIMP CameraMediaSource::Stop()
{
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    StopStreaming(true);
    m_State = State::Stopped;
    QueueSourceEvent(MESourceStopped, S_OK, nullptr);
    return S_OK;
}

// The camera keeps running while paused, so that the stream resumes at once;
// the stream holds its requests until the next Start.
STDMETHODIMP CameraMediaSource::Pause()
{
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    if (m_State != State::Started) return MF_E_INVALID_STATE_TRANSITION;
    m_Stream->Pause();
    m_State = State::Paused;
    QueueSourceEvent(MESourcePaused, S_OK, nullptr);
    return S_OK;
}

STDMETHODIMP CameraMediaSource::Shutdown()
{
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    ShutDownEverything();
    return S_OK;
}

void CameraMediaSource::ShutDownEverything()
{
    m_State = State::ShutDown;
    if (m_Stream) m_Stream->Shutdown();
    CloseCamera();
    if (m_Events) m_Events->Shutdown();
}

STDMETHODIMP CameraMediaSource::GetSourceAttributes(IMFAttributes** attributes)
{
    if (!attributes) return E_POINTER;
    *attributes = nullptr;
    RETURN_IF_FAILED(CheckNotShutDown());
    *attributes = m_SourceAttributes.get();
    m_SourceAttributes->AddRef();
    return S_OK;
}

STDMETHODIMP CameraMediaSource::GetStreamAttributes(DWORD streamId, IMFAttributes** attributes)
{
    if (!attributes) return E_POINTER;
    *attributes = nullptr;
    RETURN_IF_FAILED(CheckNotShutDown());
    if (streamId != 0) return MF_E_INVALIDSTREAMNUMBER;
    *attributes = m_StreamAttributes.get();
    m_StreamAttributes->AddRef();
    return S_OK;
}

// Samples are in system memory whatever device manager the caller has.
STDMETHODIMP CameraMediaSource::SetD3DManager(IUnknown*)
{
    return CheckNotShutDown();
}

STDMETHODIMP CameraMediaSource::GetService(REFGUID, REFIID, void** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    RETURN_IF_FAILED(CheckNotShutDown());
    return MF_E_UNSUPPORTED_SERVICE;
}

STDMETHODIMP CameraMediaSource::SetMediaType(DWORD streamId, IMFMediaType* type)
{
    if (!type) return E_POINTER;
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    if (streamId != 0) return MF_E_INVALIDSTREAMNUMBER;
    StreamFormat format;
    if (!FindStreamFormat(type, &format)) return MF_E_INVALIDMEDIATYPE;
    BOOL selected = FALSE;
    ComPtr<IMFStreamDescriptor> stream;
    RETURN_IF_FAILED(m_Presentation->GetStreamDescriptorByIndex(0, &selected, stream.put()));
    ComPtr<IMFMediaTypeHandler> handler;
    RETURN_IF_FAILED(stream->GetMediaTypeHandler(handler.put()));
    // The stream's own type of that format, so the descriptor lists what it offers.
    ComPtr<IMFMediaType> native;
    RETURN_IF_FAILED(CreateStreamMediaType(format, native.put()));
    return handler->SetCurrentMediaType(native.get());
}

STDMETHODIMP CameraMediaSource::SetDefaultAllocator(DWORD streamId, IUnknown* allocator)
{
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    if (streamId != 0) return MF_E_INVALIDSTREAMNUMBER;
    ComPtr<IMFVideoSampleAllocatorEx> video;
    if (allocator)
        RETURN_IF_FAILED(allocator->QueryInterface(IID_IMFVideoSampleAllocatorEx, video.putVoid()));
    return m_Stream->SetAllocator(video.get());
}

// A source has no input streams: the output stream answers for itself.
STDMETHODIMP CameraMediaSource::GetAllocatorUsage(DWORD streamId, DWORD* inputStreamId,
                                                  FrameServer::AllocatorUsage* usage)
{
    if (!inputStreamId || !usage) return E_POINTER;
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    if (streamId != 0) return MF_E_INVALIDSTREAMNUMBER;
    *inputStreamId = streamId;
    *usage = m_Stream->HasAllocator() ? FrameServer::UsesProvidedAllocator : FrameServer::UsesCustomAllocator;
    return S_OK;
}
