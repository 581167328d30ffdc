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
#include "camera/ICameraConfig.h"
#include "framework/MediaTypeRecord.h"
#include "framework/PointerList.h"
#include "framework/SourceFilterBase.h"
#include "framework/SourceStreamPin.h"

class CapturePin : public SourceStreamPin,
                   public IAMStreamConfig,
                   public ISpecifyPropertyPages,
                   public IKsPropertySet,
                   public IAMDroppedFrames,
                   public ICameraConfig {
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
    // The average time between the samples the pin delivered lately, while
    // it streams; VFW_E_NOT_RUNNING before it has delivered two.
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

    // How long the capture pin waits for the camera's first frame at a time.
    static constexpr DWORD FirstFrameWaitMilliseconds = 500;
    // The frame intervals a capability entry allows, in 100 ns.
    static constexpr REFERENCE_TIME FastestFrameInterval = 200000;   // 20 ms
    static constexpr REFERENCE_TIME SlowestFrameInterval = 50000000; // 5 s

  private:
    // The type list entry of the resolution index in the current settings.
    int SelectedIndex();
    const MediaTypeRecord* TypeAt(int index) const;
    // The first entry with the type's size, or -1; m_TypeLock held.
    int EntryMatching(const AM_MEDIA_TYPE& type, bool checkFrameInterval) const;
    // Stores the resolution of an entry in the settings, as the format page does.
    HRESULT SelectResolution(int index);
    bool WaitForCameraFrame();
    // The capture sample's start time; false when a command arrived first.
    bool CaptureStartTime(REFERENCE_TIME* start);
    REFERENCE_TIME RealTimeSinceStart() const;

    GUID m_Category;
    REFERENCE_TIME m_LastStart;      // start of the last stamped sample, or -1
    REFERENCE_TIME m_SampleDuration; // a capture sample's stop time minus its start
    LARGE_INTEGER m_RealTimeOrigin;  // when the worker began, for a graph without a clock
    DWORD m_LastTick;
    PictureLayout m_DeliveryLayout; // the connection type's picture
    LONG m_LastSequence;            // the camera frame copied last, 0 before the first
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
