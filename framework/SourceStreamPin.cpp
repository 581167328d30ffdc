#include "framework/SourceStreamPin.h"

#include <evcode.h>
#include "framework/SourceFilterBase.h"
#include "framework/Raii.h"
#include "framework/TextRoutines.h"

SourceStreamPin::SourceStreamPin(const wchar_t* objectName, HRESULT* result, SourceFilterBase* filter,
                                 const wchar_t* pinName)
    : WorkerThread(),
      OutputPinBase(objectName, filter, filter ? filter->FilterLock() : nullptr, result, pinName),
      m_SourceFilter(filter),
      m_ThreadEnded(0)
{
    const HRESULT hr = filter ? filter->AttachPin(this) : E_POINTER;
    if (result) *result = hr;
}

SourceStreamPin::~SourceStreamPin()
{
    if (m_SourceFilter) m_SourceFilter->DetachPin(this);
}

HRESULT SourceStreamPin::OnThreadBegin()
{
    return S_OK;
}

HRESULT SourceStreamPin::OnThreadEnd()
{
    return S_OK;
}

HRESULT SourceStreamPin::OnPlayBegin()
{
    return S_OK;
}

HRESULT SourceStreamPin::GetSingleMediaType(MediaTypeRecord* /*type*/)
{
    return E_UNEXPECTED;
}

namespace {

bool Is(DWORD code, StreamCommand command)
{
    return code == static_cast<DWORD>(command);
}

} // namespace

DWORD SourceStreamPin::ThreadBody()
{
    while (!Is(WaitCommand(), StreamCommand::Init)) ReplyCommand(E_UNEXPECTED);

    const HRESULT begun = OnThreadBegin();
    if (FAILED(begun)) {
        OnThreadEnd();
        ReplyCommand(begun);
        InterlockedExchange(&m_ThreadEnded, 1);
        return 1;
    }
    ReplyCommand(S_OK);

    DWORD command;
    do {
        command = WaitCommand();
        if (Is(command, StreamCommand::Pause) || Is(command, StreamCommand::Run)) {
            ReplyCommand(S_OK);
            ProduceLoop();
        } else if (Is(command, StreamCommand::Stop) || Is(command, StreamCommand::Exit)) {
            ReplyCommand(S_OK);
        } else {
            ReplyCommand(E_NOTIMPL);
        }
    } while (!Is(command, StreamCommand::Exit));

    const HRESULT ended = OnThreadEnd();
    InterlockedExchange(&m_ThreadEnded, 1);
    return FAILED(ended) ? 1 : 0;
}

HRESULT SourceStreamPin::ProduceLoop()
{
    OnPlayBegin();
    for (;;) {
        DWORD command;
        while (!PollCommand(&command)) {
            IMediaSample* sample = nullptr;
            if (FAILED(ObtainSample(&sample, nullptr, nullptr, 0)) || !sample) {
                // A decommitted allocator fails at once; the stop command follows.
                Sleep(1);
                continue;
            }
            const HRESULT filled = FillSample(sample);
            if (filled == S_OK) {
                const HRESULT delivered = DeliverSample(sample);
                sample->Release();
                // Downstream no longer wants samples: end quietly.
                if (delivered != S_OK) return S_OK;
            } else if (filled == S_FALSE) {
                sample->Release();
                SendEndOfStream();
                return S_OK;
            } else if (FAILED(filled)) {
                sample->Release();
                SendEndOfStream();
                m_Filter->PostGraphEvent(EC_ERRORABORT, filled, 0);
                return filled;
            } else {
                // Any other success code: nothing to deliver this time.
                sample->Release();
            }
        }
        if (Is(command, StreamCommand::Pause) || Is(command, StreamCommand::Run)) {
            ReplyCommand(S_OK);
        } else if (Is(command, StreamCommand::Stop)) {
            // Left posted: the command loop receives it again and answers it.
            return S_FALSE;
        } else {
            ReplyCommand(E_UNEXPECTED);
        }
    }
}

// Joins the worker if its body has returned, so that a thread that ended
// (for example after OnThreadBegin failed) does not block the next start.
void SourceStreamPin::JoinEndedThread()
{
    if (IsRunning() && InterlockedCompareExchange(&m_ThreadEnded, 0, 0)) Join();
}

// Stops the worker: Stop and Exit for a live thread, then Join. A thread
// that has already ended is only joined, since it would answer nothing.
HRESULT SourceStreamPin::EndThread()
{
    if (!IsRunning()) return S_OK;
    HRESULT result = S_OK;
    if (!InterlockedCompareExchange(&m_ThreadEnded, 0, 0)) {
        result = SendStreamCommand(StreamCommand::Stop);
        const HRESULT exited = SendStreamCommand(StreamCommand::Exit);
        if (SUCCEEDED(result)) result = exited;
    }
    Join();
    return result;
}

HRESULT SourceStreamPin::Activate()
{
    ScopedLock hold(m_Lock);
    FILTER_STATE state;
    {
        ScopedLock again(m_Filter->Lock());
        state = m_Filter->State();
    }
    if (state == State_Paused || state == State_Running) return S_FALSE;
    if (!m_Peer) return S_OK;

    RETURN_IF_FAILED(OutputPinBase::Activate());
    JoinEndedThread();
    InterlockedExchange(&m_ThreadEnded, 0);
    if (!Start()) {
        OutputPinBase::Deactivate();
        return E_FAIL;
    }
    const HRESULT begun = SendStreamCommand(StreamCommand::Init);
    if (FAILED(begun)) {
        // The worker ends after a failed Init; take its handle back now and
        // give the buffers back, since the filter stays stopped.
        Join();
        OutputPinBase::Deactivate();
        return begun;
    }
    return SendStreamCommand(StreamCommand::Pause);
}

HRESULT SourceStreamPin::Deactivate()
{
    ScopedLock hold(m_Lock);
    if (!m_Peer) return S_OK;
    // Decommit first: a worker blocked in ObtainSample returns and sees Stop.
    RETURN_IF_FAILED(OutputPinBase::Deactivate());
    return EndThread();
}

HRESULT SourceStreamPin::TestMediaType(const MediaTypeRecord* type)
{
    if (!type) return E_POINTER;
    ScopedLock hold(&m_TypeLock);
    MediaTypeRecord own;
    GetSingleMediaType(&own);
    return own.Equals(*type) ? S_OK : E_FAIL;
}

HRESULT SourceStreamPin::GetMediaType(int position, MediaTypeRecord* type)
{
    ScopedLock hold(&m_TypeLock);
    if (position < 0) return E_INVALIDARG;
    if (position > 0) return VFW_S_NO_MORE_ITEMS;
    return GetSingleMediaType(type);
}

STDMETHODIMP SourceStreamPin::QueryId(LPWSTR* out)
{
    if (!out) return E_POINTER;
    const int number = m_SourceFilter ? m_SourceFilter->IndexOfPin(PinInterface()) + 1 : 0;
    if (number < 1) return VFW_E_NOT_FOUND;
    wchar_t digits[32];
    FormatDecimalWide(number, digits);
    // Room for three digits as usual, more when the number needs it.
    const size_t bytes = (WideLength(digits) + 1) * sizeof(wchar_t);
    wchar_t* id = static_cast<wchar_t*>(CoTaskMemAlloc(bytes < 8 ? 8 : bytes));
    if (!id) return E_OUTOFMEMORY;
    CopyMemory(id, digits, bytes);
    *out = id;
    return S_OK;
}
