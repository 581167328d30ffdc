#include "mediasource/CameraMediaStream.h"
#include "mediasource/MediaFoundationApi.h"

#include <new>
#include <utility>

namespace {

// How long the worker waits for a frame before it looks at its requests again.
const DWORD FrameWaitSliceMilliseconds = 100;
// How many samples a given allocator holds at first and at most. The largest
// format's frames are 24 MB, so the pool stays small.
const DWORD InitialAllocatorSamples = 2;
const DWORD MaximumAllocatorSamples = 6;
const LONGLONG HundredNanosecondsPerSecond = 10000000;

LONGLONG PerformanceCounterNow()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

} // namespace

const HRESULT CameraMediaStream::StalledCameraResult = HRESULT_FROM_WIN32(ERROR_TIMEOUT);

StreamClock StreamClock::StartingNow(LONGLONG time)
{
    StreamClock clock;
    clock.counter = PerformanceCounterNow();
    clock.time = time;
    return clock;
}

LONGLONG StreamClock::TimeAt(LONGLONG counterValue) const
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    // A frame pulled just before the start counts as arriving at the start.
    const LONGLONG ticks = counterValue > counter ? counterValue - counter : 0;
    // Whole seconds and the rest apart, so that the product cannot overflow.
    const LONGLONG seconds = ticks / frequency.QuadPart;
    const LONGLONG rest = ticks % frequency.QuadPart;
    return time + seconds * HundredNanosecondsPerSecond +
           rest * HundredNanosecondsPerSecond / frequency.QuadPart;
}

HRESULT CameraMediaStream::Create(IMFMediaSource* source, IMFMediaEventQueue* sourceEvents, CCamera* camera,
                                  IMFStreamDescriptor* descriptor, ComPtr<CameraMediaStream>& out)
{
    if (!source || !sourceEvents || !camera || !descriptor) return E_POINTER;
    CameraMediaStream* created =
        new (std::nothrow) CameraMediaStream(source, sourceEvents, camera, descriptor);
    if (!created) return E_OUTOFMEMORY;
    ComPtr<CameraMediaStream> stream = ComPtr<CameraMediaStream>::share(created);
    RETURN_IF_FAILED(stream->Initialize());
    out = std::move(stream);
    return S_OK;
}

CameraMediaStream::CameraMediaStream(IMFMediaSource* source, IMFMediaEventQueue* sourceEvents,
                                     CCamera* camera, IMFStreamDescriptor* descriptor)
    : ObjectBase(L"Camera media stream", nullptr), m_Source(source), m_Camera(camera),
      m_Descriptor(ComPtr<IMFStreamDescriptor>::share(descriptor)),
      m_SourceEvents(ComPtr<IMFMediaEventQueue>::share(sourceEvents))
{
}

CameraMediaStream::~CameraMediaStream()
{
    Shutdown();
}

HRESULT CameraMediaStream::Initialize()
{
    RETURN_IF_FAILED(MediaFoundation()->CreateEventQueue(m_Events.put()));
    m_Worker.reset(CreateThread(nullptr, 0, WorkerMain, this, 0, nullptr));
    return m_Worker ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

HRESULT STDMETHODCALLTYPE CameraMediaStream::InnerQueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    FrameServer::IMFMediaStream2* const stream = this;
    if (iid == FrameServer::MediaStream2Id) return ProvideInterface(stream, out);
    if (iid == IID_IMFMediaStream) return ProvideInterface(static_cast<IMFMediaStream*>(stream), out);
    if (iid == IID_IMFMediaEventGenerator)
        return ProvideInterface(static_cast<IMFMediaEventGenerator*>(stream), out);
    if (iid == KsControlInterfaceId) return ProvideInterface(static_cast<IKsControl*>(this), out);
    return ObjectBase::InnerQueryInterface(iid, out);
}

HRESULT CameraMediaStream::CheckNotShutDown()
{
    ScopedLock lock(&m_Lock);
    return m_State == State::ShutDown ? MF_E_SHUTDOWN : S_OK;
}

// The event calls go straight to the queue, outside the lock: GetEvent may
// wait for an event as long as it takes.
STDMETHODIMP CameraMediaStream::GetEvent(DWORD flags, IMFMediaEvent** event)
{
    if (!event) return E_POINTER;
    *event = nullptr;
    RETURN_IF_FAILED(CheckNotShutDown());
    return m_Events->GetEvent(flags, event);
}

STDMETHODIMP CameraMediaStream::BeginGetEvent(IMFAsyncCallback* callback, IUnknown* state)
{
    RETURN_IF_FAILED(CheckNotShutDown());
    return m_Events->BeginGetEvent(callback, state);
}

STDMETHODIMP CameraMediaStream::EndGetEvent(IMFAsyncResult* result, IMFMediaEvent** event)
{
    if (!event) return E_POINTER;
    *event = nullptr;
    RETURN_IF_FAILED(CheckNotShutDown());
    return m_Events->EndGetEvent(result, event);
}

STDMETHODIMP CameraMediaStream::QueueEvent(MediaEventType type, REFGUID extendedType, HRESULT status,
                                           const PROPVARIANT* value)
{
    RETURN_IF_FAILED(CheckNotShutDown());
    return m_Events->QueueEventParamVar(type, extendedType, status, value);
}

STDMETHODIMP CameraMediaStream::GetMediaSource(IMFMediaSource** source)
{
    if (!source) return E_POINTER;
    *source = nullptr;
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown || !m_Source) return MF_E_SHUTDOWN;
    *source = m_Source;
    m_Source->AddRef();
    return S_OK;
}

STDMETHODIMP CameraMediaStream::GetStreamDescriptor(IMFStreamDescriptor** descriptor)
{
    if (!descriptor) return E_POINTER;
    *descriptor = nullptr;
    RETURN_IF_FAILED(CheckNotShutDown());
    *descriptor = m_Descriptor.get();
    m_Descriptor->AddRef();
    return S_OK;
}

STDMETHODIMP CameraMediaStream::RequestSample(IUnknown* token)
{
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    if (m_State == State::Stopped) return MF_E_MEDIA_SOURCE_WRONGSTATE;
    if (m_State == State::Ended) return MF_E_END_OF_STREAM;
    if (m_Requests.empty()) m_WaitingSince = GetTickCount();
    try {
        m_Requests.push_back(ComPtr<IUnknown>::share(token));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    m_Wake.WakeAll();
    return S_OK;
}

bool CameraMediaStream::IsActive()
{
    ScopedLock lock(&m_Lock);
    return m_State == State::Started || m_State == State::Paused || m_State == State::Ended;
}

void CameraMediaStream::QueueTimeEvent(MediaEventType type, LONGLONG time)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    value.vt = VT_I8;
    value.hVal.QuadPart = time;
    m_Events->QueueEventParamVar(type, GUID_NULL, S_OK, &value);
}

STDMETHODIMP CameraMediaStream::SetStreamState(FrameServer::StreamState state)
{
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    const bool running = m_State == State::Started;
    const bool paused = m_State == State::Paused;
    switch (state) {
    case FrameServer::StreamStopped:
        StopLocked(true);
        return S_OK;
    case FrameServer::StreamPaused:
        if (paused) return S_OK;
        if (running || m_SourceState != State::Paused) return MF_E_INVALID_STATE_TRANSITION;
        m_State = State::Paused;
        ++m_Generation;
        m_Events->QueueEventParamVar(MEStreamPaused, GUID_NULL, S_OK, nullptr);
        return S_OK;
    case FrameServer::StreamRunning: {
        if (running) return S_OK;
        if (paused || m_SourceState != State::Started) return MF_E_INVALID_STATE_TRANSITION;
        const LONGLONG now = PerformanceCounterNow();
        RunLocked(now, m_Clock.TimeAt(now));
        return S_OK;
    }
    default:
        return E_INVALIDARG;
    }
}

STDMETHODIMP CameraMediaStream::GetStreamState(FrameServer::StreamState* state)
{
    if (!state) return E_POINTER;
    ScopedLock lock(&m_Lock);
    *state = FrameServer::StreamStopped;
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    if (m_State == State::Started) *state = FrameServer::StreamRunning;
    if (m_State == State::Paused) *state = FrameServer::StreamPaused;
    return S_OK;
}

HRESULT CameraMediaStream::InitializeAllocatorLocked(IMFVideoSampleAllocatorEx* allocator,
                                                     const StreamFormat& format)
{
    if (m_AllocatorReady && allocator == m_Allocator.get() && format == m_AllocatorFormat) return S_OK;
    ComPtr<IMFMediaType> type;
    RETURN_IF_FAILED(CreateStreamMediaType(format, type.put()));
    allocator->UninitializeSampleAllocator();
    RETURN_IF_FAILED(allocator->InitializeSampleAllocatorEx(InitialAllocatorSamples, MaximumAllocatorSamples,
                                                            nullptr, type.get()));
    m_AllocatorFormat = format;
    m_AllocatorReady = true;
    return S_OK;
}

HRESULT CameraMediaStream::SetAllocator(IMFVideoSampleAllocatorEx* allocator)
{
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    if (allocator == m_Allocator.get()) return S_OK;
    const bool active = m_State == State::Started || m_State == State::Paused || m_State == State::Ended;
    m_AllocatorReady = false;
    if (allocator && active) RETURN_IF_FAILED(InitializeAllocatorLocked(allocator, m_Format));
    m_Allocator = ComPtr<IMFVideoSampleAllocatorEx>::share(allocator);
    // A sample being made from the previous allocator is dropped.
    ++m_Generation;
    m_Wake.WakeAll();
    return S_OK;
}

bool CameraMediaStream::HasAllocator()
{
    ScopedLock lock(&m_Lock);
    return static_cast<bool>(m_Allocator);
}

HRESULT CameraMediaStream::PrepareAllocator(const StreamFormat& format)
{
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return MF_E_SHUTDOWN;
    return m_Allocator ? InitializeAllocatorLocked(m_Allocator.get(), format) : S_OK;
}

void CameraMediaStream::Start(const StreamFormat& format, const StreamClock& clock, LONGLONG runStart,
                              bool freshCamera, LONGLONG startTime)
{
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return;
    m_Format = format;
    m_Clock = clock;
    m_SourceState = State::Started;
    if (freshCamera) m_LastSequence = 0;
    RunLocked(runStart, startTime);
}

void CameraMediaStream::RunLocked(LONGLONG runStart, LONGLONG startTime)
{
    m_State = State::Started;
    m_RunStart = runStart;
    ++m_Generation;
    m_WaitingSince = GetTickCount();
    // Queued before the worker can see the new state, so no sample precedes it.
    QueueTimeEvent(MEStreamStarted, startTime);
    m_Wake.WakeAll();
}

void CameraMediaStream::Pause()
{
    ScopedLock lock(&m_Lock);
    m_SourceState = State::Paused;
    if (m_State != State::Started) return;
    m_State = State::Paused;
    ++m_Generation;
    m_Events->QueueEventParamVar(MEStreamPaused, GUID_NULL, S_OK, nullptr);
}

void CameraMediaStream::Stop(bool announce)
{
    ScopedLock lock(&m_Lock);
    if (m_State == State::ShutDown) return;
    m_SourceState = State::Stopped;
    StopLocked(announce);
}

void CameraMediaStream::StopLocked(bool announce)
{
    if (m_State != State::Started && m_State != State::Paused && m_State != State::Ended) return;
    m_State = State::Stopped;
    ++m_Generation;
    m_Requests.clear();
    if (announce) m_Events->QueueEventParamVar(MEStreamStopped, GUID_NULL, S_OK, nullptr);
}

void CameraMediaStream::Shutdown()
{
    UniqueHandle worker;
    ComPtr<IMFVideoSampleAllocatorEx> allocator; // the giver's, let go at once
    {
        ScopedLock lock(&m_Lock);
        m_State = State::ShutDown;
        ++m_Generation;
        m_Requests.clear();
        m_Source = nullptr;
        allocator = std::move(m_Allocator);
        worker = std::move(m_Worker);
        m_Wake.WakeAll();
    }
    // The worker waits at most one slice for a frame, and never for a lock
    // the caller holds.
    if (worker) WaitForSingleObject(worker.get(), INFINITE);
    if (m_Events) m_Events->Shutdown();
}

DWORD WINAPI CameraMediaStream::WorkerMain(void* stream)
{
    // Samples, events and the requests' tokens are free-threaded objects.
    const bool comJoined = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    static_cast<CameraMediaStream*>(stream)->ServeRequests();
    if (comJoined) CoUninitialize();
    return 0;
}

void CameraMediaStream::ServeRequests()
{
    Job job;
    while (WaitForJob(job)) {
        if (!m_Camera->WaitForFrameAfter(job.lastSequence, FrameWaitSliceMilliseconds)) {
            NoteNoFrame(job, false);
            continue;
        }
        ComPtr<IMFSample> sample;
        LONG sequence = 0;
        const HRESULT made = MakeSample(job, sample, sequence);
        if (made == MF_E_SAMPLEALLOCATOR_EMPTY)
            WaitForFreeSample(job);
        else if (FAILED(made))
            ReportError(job, made);
        else if (sequence == 0)
            NoteNoFrame(job, true);
        else if (!sample)
            SkipFrame(job, sequence);
        else
            Deliver(job, sample.get(), sequence);
    }
}

bool CameraMediaStream::WaitForJob(Job& job)
{
    ScopedLock lock(&m_Lock);
    while (m_State != State::ShutDown && (m_State != State::Started || m_Requests.empty()))
        m_Wake.Wait(m_Lock, INFINITE);
    if (m_State == State::ShutDown) return false;
    job.generation = m_Generation;
    job.format = m_Format;
    job.lastSequence = m_LastSequence;
    job.clock = m_Clock;
    job.runStart = m_RunStart;
    job.allocator = m_Allocator;
    return true;
}

// A sample of the job's format with one buffer, from the allocator when
// there is one; the buffer's bytes are the frame's.
HRESULT CameraMediaStream::NewSample(const Job& job, ComPtr<IMFSample>& sample,
                                     ComPtr<IMFMediaBuffer>& buffer)
{
    const DWORD bytes = static_cast<DWORD>(job.format.FrameBytes());
    if (!job.allocator) {
        RETURN_IF_FAILED(MediaFoundation()->CreateMemoryBuffer(bytes, buffer.put()));
        RETURN_IF_FAILED(MediaFoundation()->CreateSample(sample.put()));
        return sample->AddBuffer(buffer.get());
    }
    RETURN_IF_FAILED(job.allocator->AllocateSample(sample.put()));
    RETURN_IF_FAILED(sample->ConvertToContiguousBuffer(buffer.put()));
    // A recycled sample may still carry the token of an earlier request.
    sample->DeleteItem(MFSampleExtension_Token);
    return S_OK;
}

// Converts the camera's latest frame when it is newer than the last one
// delivered; `sequence` stays 0 when there is none. A frame that arrived
// before the run's start gives its sequence and no sample.
HRESULT CameraMediaStream::MakeSample(const Job& job, ComPtr<IMFSample>& sample, LONG& sequence)
{
    sequence = 0;
    ComPtr<IMFSample> made;
    ComPtr<IMFMediaBuffer> buffer;
    RETURN_IF_FAILED(NewSample(job, made, buffer));
    BYTE* data = nullptr;
    DWORD capacity = 0;
    // A two-dimensional buffer shows its rows contiguously here, at the stride
    // of the type, and takes them back into its own layout at Unlock.
    RETURN_IF_FAILED(buffer->Lock(&data, &capacity, nullptr));
    bool converted = false, early = false;
    LONGLONG arrival = 0;
    const LONG read = m_Camera->ReadLatestFrame([&](const CCamera::FrameView& frame) {
        if (frame.sequence <= job.lastSequence) return;
        early = frame.arrivalCounter < job.runStart;
        if (early) return;
        const CameraFrameView source = {frame.pixels, frame.layout.Bytes(), frame.layout.width,
                                        frame.layout.height, frame.layout.stride};
        const ConvertedFrameView destination = {
            data, capacity, job.format.pixels, job.format.Width(), job.format.Height(), job.format.Stride()};
        converted = ConvertCameraFrame(source, destination);
        arrival = frame.arrivalCounter;
    });
    buffer->Unlock();
    if (early) sequence = read;
    if (!converted) return S_OK;

    RETURN_IF_FAILED(buffer->SetCurrentLength(static_cast<DWORD>(job.format.FrameBytes())));
    RETURN_IF_FAILED(made->SetSampleTime(job.clock.TimeAt(arrival)));
    RETURN_IF_FAILED(made->SetSampleDuration(CameraFrameInterval));
    RETURN_IF_FAILED(made->SetUINT32(MFSampleExtension_CleanPoint, TRUE));
    sample = std::move(made);
    sequence = read;
    return S_OK;
}

// A frame made for a run that has since been paused, stopped or restarted
// is dropped: no sample follows MEStreamPaused or MEStreamStopped.
void CameraMediaStream::Deliver(const Job& job, IMFSample* sample, LONG sequence)
{
    ScopedLock lock(&m_Lock);
    if (job.generation != m_Generation || m_State != State::Started || m_Requests.empty()) return;
    const ComPtr<IUnknown> token = std::move(m_Requests.front());
    m_Requests.pop_front();
    if (token) sample->SetUnknown(MFSampleExtension_Token, token.get());
    m_LastSequence = sequence;
    m_WaitingSince = GetTickCount();
    m_Events->QueueEventParamUnk(MEMediaSample, GUID_NULL, S_OK, sample);
}

// A frame of the time before the start is passed over: the next one answers.
void CameraMediaStream::SkipFrame(const Job& job, LONG sequence)
{
    ScopedLock lock(&m_Lock);
    if (job.generation == m_Generation) m_LastSequence = sequence;
}

// Every sample of the allocator is out; the requests wait for one to come
// back, which is no stall of the camera.
void CameraMediaStream::WaitForFreeSample(const Job& job)
{
    ScopedLock lock(&m_Lock);
    if (job.generation != m_Generation || m_State != State::Started) return;
    m_WaitingSince = GetTickCount();
    m_Wake.Wait(m_Lock, FrameWaitSliceMilliseconds);
}

void CameraMediaStream::NoteNoFrame(const Job& job, bool frameUnreadable)
{
    ScopedLock lock(&m_Lock);
    if (job.generation != m_Generation || m_State != State::Started || m_Requests.empty()) return;
    if (GetTickCount() - m_WaitingSince >= StallMilliseconds) {
        EndStream(StalledCameraResult);
        return;
    }
    // The camera had a frame that could not be read (it closed meanwhile):
    // look again after a slice, or at once when the state changes.
    if (frameUnreadable) m_Wake.Wait(m_Lock, FrameWaitSliceMilliseconds);
}

// The error goes first, for the pipelines that watch the source for errors;
// the end of the stream follows for the readers that wait for samples.
void CameraMediaStream::EndStream(HRESULT error)
{
    m_State = State::Ended;
    ++m_Generation;
    m_Requests.clear();
    m_SourceEvents->QueueEventParamVar(MEError, GUID_NULL, error, nullptr);
    m_Events->QueueEventParamVar(MEEndOfStream, GUID_NULL, S_OK, nullptr);
    m_SourceEvents->QueueEventParamVar(MEEndOfPresentation, GUID_NULL, S_OK, nullptr);
}

// A sample that cannot be made (no memory) ends the stream as a stall does.
void CameraMediaStream::ReportError(const Job& job, HRESULT error)
{
    ScopedLock lock(&m_Lock);
    if (job.generation != m_Generation || m_State != State::Started) return;
    EndStream(error);
}
