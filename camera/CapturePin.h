// The filter's video output pin: offers one RGB24 type for each of the
// camera's resolutions, sizes the buffers for the one it connects with, fills
// samples from the camera controller on its worker thread, and answers the
// capture programs' control interfaces.
#ifndef QUILLON_CAPTURE_PIN_H
#define QUILLON_CAPTURE_PIN_H

#include <windows.h>
#include <strmif.h>
#include <ocidl.h>
#include <amvideo.h>

#include "camera/CCamera.h"
#include "camera/FrameSchedule.h"
#include "camera/ICameraConfig.h"
#include "framework/BufferNegotiation.h"
#include "framework/MediaTypeRecord.h"
#include "framework/PointerList.h"
#include "framework/SourceFilterBase.h"
#include "framework/SourceStreamPin.h"
#include "framework/StreamControl.h"

class CapturePin : public SourceStreamPin,
                   public IAMStreamConfig,
                   public ISpecifyPropertyPages,
                   public IKsPropertySet,
                   public IAMDroppedFrames,
                   public ICameraConfig,
                   public StreamControl,
                   public BufferNegotiation {
  public:
    typedef DWORD(WINAPI* TickSource)();
    typedef void(WINAPI* SleepFunction)(DWORD milliseconds);

    CapturePin(SourceFilterBase* filter, HRESULT* result, const wchar_t* pinName);
    ~CapturePin() override;

    void AttachCamera(CCamera* camera, REFGUID category);
    int SetupPin();
    int AppendType(const MediaTypeRecord& record);
    // Replaces the tick count and the sleep that FillSample paces itself with.
    void SetClock(TickSource tickSource, SleepFunction sleep);
    // The picture each sample of the current connection holds.
    PictureLayout DeliveryLayout();
    // The size and frame interval of a capability entry; false past the list.
    bool EntryAt(int index, SIZE* size, REFERENCE_TIME* frameInterval);
    // The average time between the distinct frames the pin delivered lately,
    // while it streams; VFW_E_NOT_RUNNING before it has delivered two.
    HRESULT ActualFrameInterval(REFERENCE_TIME* interval);

    const GUID& Category() const { return m_Category; }
    bool IsCapture() const;
    int TypeCount() const { return m_TypeList.Count(); }

    FORWARD_IUNKNOWN_TO_OWNER
    HRESULT STDMETHODCALLTYPE InnerQueryInterface(REFIID iid, void** out) override;

    // Connection
    HRESULT GetMediaType(int position, MediaTypeRecord* type) override;
    HRESULT TestMediaType(const MediaTypeRecord* type) override;
    HRESULT SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request) override;
    // A connection with an offered type makes that type the pin's choice.
    HRESULT StoreMediaType(const MediaTypeRecord* type) override;

    // Frame production, on the worker thread
    HRESULT OnThreadBegin() override;
    HRESULT FillSample(IMediaSample* sample) override;
    HRESULT OnThreadEnd() override;
    STDMETHODIMP Notify(IBaseFilter* sender, Quality quality) override;

    // IAMStreamConfig
    STDMETHODIMP SetFormat(AM_MEDIA_TYPE* type) override;
    STDMETHODIMP GetFormat(AM_MEDIA_TYPE** out) override;
    STDMETHODIMP GetNumberOfCapabilities(int* count, int* size) override;
    STDMETHODIMP GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* capabilities) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pages) override;

    // IKsPropertySet
    STDMETHODIMP Set(REFGUID propertySet, DWORD propertyId, LPVOID instanceData, DWORD instanceSize,
                     LPVOID data, DWORD dataSize) override;
    STDMETHODIMP Get(REFGUID propertySet, DWORD propertyId, LPVOID instanceData, DWORD instanceSize,
                     LPVOID data, DWORD dataSize, DWORD* bytesReturned) override;
    STDMETHODIMP QuerySupported(REFGUID propertySet, DWORD propertyId, DWORD* support) override;

    // IAMDroppedFrames
    STDMETHODIMP GetNumDropped(LONG* count) override;
    STDMETHODIMP GetNumNotDropped(LONG* count) override;
    STDMETHODIMP GetDroppedInfo(LONG size, LONG* frames, LONG* copied) override;
    STDMETHODIMP GetAverageFrameSize(LONG* size) override;

    // ICameraConfig
    HRESULT STDMETHODCALLTYPE GetConfig(CameraConfig* record) override;
    HRESULT STDMETHODCALLTYPE SetConfig(CameraConfig* record) override;

    // Consecutive type tests of a video type without a format, shared by
    // every pin of the module.
    static volatile LONG m_PartialTypeCount;

    // How long a pin waits for a frame it may deliver before it gives its
    // sample back (capture) or shows the frame it has again (preview).
    static constexpr DWORD FrameWaitMilliseconds = 500;
    // The frame intervals a type may ask for, in 100 ns: from the camera's
    // own (30 frames a second) down to one frame in 5 s.
    static constexpr REFERENCE_TIME FastestFrameInterval = CameraFrameInterval;
    static constexpr REFERENCE_TIME SlowestFrameInterval = 50000000;

  protected:
    // StreamControl
    void PostStreamControlEvent(long code, DWORD cookie) override;
    // BufferNegotiation
    bool HasConnection() override { return IsConnected(); }
    HRESULT AgreedProperties(ALLOCATOR_PROPERTIES* properties) override;

  private:
    enum class FrameWait { Due, TimedOut, Command };

    // The type list entry of the resolution index in the current settings.
    int SelectedIndex();
    const MediaTypeRecord* TypeAt(int index) const;
    // The type the pin's next connection proposes first: the host's choice,
    // else the entry of the stored resolution; m_TypeLock held.
    HRESULT ProposedType(MediaTypeRecord* type);
    // The entry a type asks for, or -1; m_TypeLock held. `completing` lets a
    // type leave its subtype, bit count and compression to the entry.
    int EntryMatching(const AM_MEDIA_TYPE& type, bool completing) const;
    // Whether a frame interval is one the pin can deliver (0: the camera's).
    static bool IsDeliverableInterval(REFERENCE_TIME interval);

    // Frame production, on the worker thread.
    HRESULT FillCaptureSample(IMediaSample* sample);
    HRESULT FillPreviewSample(IMediaSample* sample);
    void KeepPreviewSpacing();
    // Waits for a camera frame after the one seen last that the pin's rate
    // wants, at most `milliseconds`, answering commands meanwhile.
    FrameWait WaitForDueFrame(DWORD milliseconds);
    bool IsWanted(LONGLONG arrivalCounter);
    // Waits until the graph runs (a capture sample needs a stream time);
    // false when a command arrived first.
    bool WaitUntilRunning();
    // Copies the latest frame into the sample; its number, 0 for none.
    LONG CopyFrameInto(IMediaSample* sample, LONGLONG* arrivalCounter);
    // When a frame arrived, in the pin's own time (since its worker began)
    // and in stream time (the graph's, or the pin's own without a clock).
    REFERENCE_TIME PinTime(LONGLONG counter) const;
    REFERENCE_TIME StreamTimeOf(LONGLONG arrivalCounter);
    // Stream time now for stream control, or StreamControl::UnknownTime.
    REFERENCE_TIME StreamTimeForControl();
    void CountDelivery();

    GUID m_Category;
    LARGE_INTEGER m_RealTimeOrigin; // when the worker began
    DWORD m_LastTick;
    PictureLayout m_DeliveryLayout; // the connection type's picture
    LONG m_LastSeen;                // the camera frame looked at last, 0 before the first
    LONG m_LastDelivered;           // the camera frame delivered last
    // Frames that arrived before this stream time (before the graph ran, or
    // while it was paused) are not captured.
    REFERENCE_TIME m_StreamFloor;
    FrameSchedule m_Schedule;
    // A type chosen for this pin by a host (SetFormat or a connection).
    bool m_HasChoice;
    MediaTypeRecord m_ChosenType;
    // When the latest samples were delivered (performance counter), oldest
    // first in ring order; reset at each start.
    static const int DeliveryHistory = 32;
    CriticalLock m_DeliveryLock;
    LONGLONG m_Deliveries[DeliveryHistory];
    int m_DeliveryCount;
    void NoteDelivery();
    void ForgetDeliveries();
    PointerList m_TypeList; // MediaTypeRecord entries, owned
    SourceFilterBase* m_ParentFilter;
    CCamera* m_Camera;
    TickSource m_TickSource;
    SleepFunction m_Sleep;
};

// The VIDEOINFOHEADER of a type, or null when its format block is not a
// complete one.
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& type);

#endif
