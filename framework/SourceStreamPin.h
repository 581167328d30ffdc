// An output pin with a worker thread that produces samples while the
// filter is paused or running. The controller drives the thread with
// StreamCommand codes; the thread fills samples through FillSample.
#ifndef QUILLON_SOURCE_STREAM_PIN_H
#define QUILLON_SOURCE_STREAM_PIN_H

#include <windows.h>
#include <strmif.h>
#include "framework/OutputPinBase.h"
#include "framework/WorkerThread.h"

class SourceFilterBase;

enum class StreamCommand : DWORD {
    Init = 0,   // run OnThreadBegin and report its result
    Pause = 1,  // start (or keep) producing samples
    Run = 2,    // handled as Pause
    Stop = 3,   // leave the sample loop
    Exit = 4,   // leave the command loop and end the thread
};

// FillSample's answer when the sample holds nothing worth delivering this
// time: the loop gives it back and asks again.
const HRESULT SkipSample = MAKE_HRESULT(SEVERITY_SUCCESS, FACILITY_ITF, 0x300);

class SourceStreamPin : public WorkerThread, public OutputPinBase {
public:
    // Attaches the pin to the filter; the outcome goes to *result.
    SourceStreamPin(const wchar_t* objectName, HRESULT* result, SourceFilterBase* filter, const wchar_t* pinName);
    // Detaches the pin from the filter and joins any thread still held.
    ~SourceStreamPin() override;

    // Worker side. The command loop.
    DWORD ThreadBody() override;
    // Writes one sample's data and properties: S_OK delivers it, S_FALSE
    // ends the stream, a failure ends it and reports EC_ERRORABORT, any
    // other success code (SkipSample) delivers nothing this time.
    virtual HRESULT FillSample(IMediaSample* sample) = 0;
    virtual HRESULT OnThreadBegin();
    virtual HRESULT OnThreadEnd();
    virtual HRESULT OnPlayBegin();
    // Obtains, fills and delivers samples until a command arrives.
    virtual HRESULT ProduceLoop();
    // The pin's one media type; E_UNEXPECTED unless a subclass supplies it.
    virtual HRESULT GetSingleMediaType(MediaTypeRecord* type);

    // Pin side. Starting and stopping the worker thread.
    HRESULT Activate() override;
    HRESULT Deactivate() override;
    HRESULT TestMediaType(const MediaTypeRecord* type) override;
    HRESULT GetMediaType(int position, MediaTypeRecord* type) override;

    STDMETHODIMP QueryId(LPWSTR* out) override;

    SourceFilterBase* SourceFilter() const { return m_SourceFilter; }

protected:
    HRESULT SendStreamCommand(StreamCommand command) { return SendCommand(static_cast<DWORD>(command)); }

    SourceFilterBase* m_SourceFilter;  // no reference; the filter outlives its pins

private:
    void JoinEndedThread();
    HRESULT EndThread();
    // Set when ThreadBody has returned, so that a later Activate can join
    // the ended thread and start a new one.
    volatile LONG m_ThreadEnded;
};

#endif
