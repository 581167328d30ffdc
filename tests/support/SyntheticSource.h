// A test-only source filter: one or more pins that fill small RGB24
// frames with a known pattern. Each pin can be told to end the stream, fail
// its fill or fail to begin its thread, and counts what its thread did.
#ifndef QUILLON_SYNTHETIC_SOURCE_H
#define QUILLON_SYNTHETIC_SOURCE_H

#include <windows.h>
#include <vector>
#include <strmif.h>
#include "framework/FilterSetup.h"
#include "framework/SourceFilterBase.h"
#include "framework/SourceStreamPin.h"

// {5B0E6B1C-3C52-4E0B-9B7E-6C1D4F8A2E11}
extern const CLSID CLSID_SyntheticSource;

class SyntheticSource;

class SyntheticPin : public SourceStreamPin {
public:
    static constexpr int Width = 32;
    static constexpr int Height = 24;
    static constexpr int FrameBytes = Width * Height * 3;

    SyntheticPin(SyntheticSource* filter, HRESULT* result, const wchar_t* name);

    // The pattern of frame `frame`: blue = column, green = row (bottom-up
    // memory order), red = frame number.
    static BYTE ExpectedByte(int frame, int x, int y, int channel);
    static void BuildType(MediaTypeRecord* type);

    HRESULT FillSample(IMediaSample* sample) override;
    HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    HRESULT OnThreadBegin() override;
    HRESULT OnThreadEnd() override;
    HRESULT OnPlayBegin() override;
    HRESULT GetSingleMediaType(MediaTypeRecord* type) override;

    // Behaviour, set while the filter is stopped.
    volatile LONG m_EndAfter = -1;           // FillSample answers S_FALSE from this frame on
    volatile LONG m_FailAfter = -1;          // FillSample fails from this frame on...
    volatile HRESULT m_FailCode = E_FAIL;    // ...with this code
    volatile HRESULT m_ThreadBeginResult = S_OK;

    // What the worker did.
    volatile LONG m_FramesFilled = 0;
    volatile LONG m_ThreadBegins = 0;
    volatile LONG m_ThreadEnds = 0;
    volatile LONG m_PlayBegins = 0;
    volatile LONG m_SizeBuffersCalls = 0;
    // What each SizeBuffers call was asked for, in order.
    std::vector<ALLOCATOR_PROPERTIES> m_Requests;

    // Read access for tests.
    IMemAllocator* Allocator() const { return m_Allocator; }
    IMemInputPin* InputPin() const { return m_InputPin; }
    IPin* Peer() const { return m_Peer; }
    const MediaTypeRecord& ConnectionType() const { return m_ConnectionType; }
    bool ThreadHeld() const { return IsRunning(); }
};

class SyntheticSource : public SourceFilterBase {
public:
    // A new filter with `pins` pins named "Out1", "Out2", ...; the caller
    // holds the one reference (on IBaseFilter). Null on failure.
    static SyntheticSource* Create(int pins = 1);

    SyntheticPin* Pin(int index) { return static_cast<SyntheticPin*>(PinAt(index)); }
    // Adds one more pin, as a filter may while it is stopped.
    SyntheticPin* AddPin(const wchar_t* name);
    // Deletes the pin; a test that shrinks the pin set.
    void RemovePin(int index);
    void SetPinVersion(LONG version) { m_PinVersion = version; }
    void SetSetupData(const FilterSetup* setup) { m_Setup = setup; }

    const FilterSetup* SetupData() override { return m_Setup; }

    IBaseFilter* Filter() { return FilterInterface(); }
    REFERENCE_TIME StartTime() const { return m_StartTime; }
    IMediaEventSink* EventSink() const { return m_EventSink; }

private:
    SyntheticSource();
    const FilterSetup* m_Setup = nullptr;
};

#endif
