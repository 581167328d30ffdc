#include "camera/CapturePin.h"

#include <climits>
#include <new>
#include <uuids.h>
#include "framework/Raii.h"

volatile LONG CapturePin::m_PartialTypeCount = 0;

namespace {

const int MaxCameraFormats = 10;
const long BufferCount = 3;
// Partial video types refused before one is let through.
const LONG PartialTypeRefusals = 3;

bool IsVideoMajorType(const GUID& majorType)
{
    return IsEqualGUID(majorType, MEDIATYPE_Video) || IsEqualGUID(majorType, MEDIATYPE_Interleaved);
}

bool IsPartialVideoType(const AM_MEDIA_TYPE& type)
{
    return IsVideoMajorType(type.majortype) && IsEqualGUID(type.formattype, GUID_NULL) && type.cbFormat == 0;
}

// Counts one more partial type; the count stops growing once it lets types through.
LONG CountPartialType()
{
    const LONG count = InterlockedIncrement(&CapturePin::m_PartialTypeCount);
    if (count > PartialTypeRefusals + 1)
        InterlockedCompareExchange(&CapturePin::m_PartialTypeCount, PartialTypeRefusals + 1, count);
    return count;
}

} // namespace

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& type)
{
    if (!IsEqualGUID(type.formattype, FORMAT_VideoInfo)) return nullptr;
    if (!type.pbFormat || type.cbFormat < sizeof(VIDEOINFOHEADER)) return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(type.pbFormat);
}

CapturePin::CapturePin(SourceFilterBase* filter, HRESULT* result, const wchar_t* pinName)
    : SourceStreamPin(nullptr, result, filter, pinName), m_Category(PIN_CATEGORY_CAPTURE), m_LastStart(-1),
      m_SampleDuration(CameraFrameInterval), m_RealTimeOrigin(), m_LastTick(0), m_LastSequence(0),
      m_Deliveries(), m_DeliveryCount(0), m_ParentFilter(filter), m_Camera(nullptr),
      m_TickSource(GetTickCount), m_Sleep(Sleep)
{
}

CapturePin::~CapturePin()
{
    PointerList::Position position = m_TypeList.First();
    while (position)
        delete static_cast<MediaTypeRecord*>(m_TypeList.Next(position));
    m_TypeList.Clear();
}

bool CapturePin::IsCapture() const
{
    return IsEqualGUID(m_Category, PIN_CATEGORY_CAPTURE) != FALSE;
}

void CapturePin::AttachCamera(CCamera* camera, REFGUID category)
{
    m_Camera = camera;
    m_Category = category;
}

void CapturePin::SetClock(TickSource tickSource, SleepFunction sleep)
{
    m_TickSource = tickSource ? tickSource : GetTickCount;
    m_Sleep = sleep ? sleep : Sleep;
}

int CapturePin::SetupPin()
{
    ScopedLock lock(&m_TypeLock);
    BITMAPINFOHEADER formats[MaxCameraFormats];
    int count = MaxCameraFormats;
    if (!m_Camera || !m_Camera->GetFormats(formats, count)) return 0;

    VIDEOINFOHEADER videoInfo;
    ZeroMemory(&videoInfo, sizeof(videoInfo));
    videoInfo.AvgTimePerFrame = CameraFrameInterval;
    for (int i = 0; i < count; ++i) {
        videoInfo.bmiHeader = formats[i];
        MediaTypeRecord type;
        type.majortype = MEDIATYPE_Video;
        type.subtype = MEDIASUBTYPE_RGB24;
        type.bFixedSizeSamples = TRUE;
        type.bTemporalCompression = FALSE;
        type.lSampleSize = formats[i].biSizeImage;
        type.formattype = FORMAT_VideoInfo;
        type.pUnk = nullptr;
        // The record frees its format block; it is given a task-memory copy.
        type.pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(videoInfo)));
        if (!type.pbFormat) return 0;
        CopyMemory(type.pbFormat, &videoInfo, sizeof(videoInfo));
        type.cbFormat = sizeof(videoInfo);
        AppendType(type);
    }
    return 0;
}

int CapturePin::AppendType(const MediaTypeRecord& record)
{
    ScopedLock lock(&m_TypeLock);
    MediaTypeRecord* copy = new (std::nothrow) MediaTypeRecord(record);
    if (!copy) return m_TypeList.Count();
    if (!m_TypeList.Append(copy)) {
        delete copy;
        return m_TypeList.Count();
    }
    if (!m_Peer) m_ConnectionType = *TypeAt(0);
    return m_TypeList.Count();
}

const MediaTypeRecord* CapturePin::TypeAt(int index) const
{
    if (index < 0) return nullptr;
    PointerList::Position position = m_TypeList.First();
    for (int i = 0; position; ++i) {
        void* entry = m_TypeList.Next(position);
        if (i == index) return static_cast<const MediaTypeRecord*>(entry);
    }
    return nullptr;
}

PictureLayout CapturePin::DeliveryLayout()
{
    ScopedLock lock(&m_TypeLock);
    const VIDEOINFOHEADER* videoInfo = VideoInfoOf(m_ConnectionType);
    if (!videoInfo) return PictureLayout();
    return PictureLayout::Video(videoInfo->bmiHeader.biWidth, videoInfo->bmiHeader.biHeight);
}

bool CapturePin::EntryAt(int index, SIZE* size, REFERENCE_TIME* frameInterval)
{
    ScopedLock lock(&m_TypeLock);
    const MediaTypeRecord* entry = TypeAt(index);
    const VIDEOINFOHEADER* videoInfo = entry ? VideoInfoOf(*entry) : nullptr;
    if (!videoInfo) return false;
    size->cx = videoInfo->bmiHeader.biWidth;
    size->cy = videoInfo->bmiHeader.biHeight;
    *frameInterval = videoInfo->AvgTimePerFrame;
    return true;
}

void CapturePin::NoteDelivery()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    ScopedLock lock(&m_DeliveryLock);
    m_Deliveries[m_DeliveryCount % DeliveryHistory] = now.QuadPart;
    ++m_DeliveryCount;
}

void CapturePin::ForgetDeliveries()
{
    ScopedLock lock(&m_DeliveryLock);
    m_DeliveryCount = 0;
}

HRESULT CapturePin::ActualFrameInterval(REFERENCE_TIME* interval)
{
    if (!interval) return E_POINTER;
    ScopedLock lock(&m_DeliveryLock);
    if (m_DeliveryCount < 2) return VFW_E_NOT_RUNNING;
    const int kept = m_DeliveryCount < DeliveryHistory ? m_DeliveryCount : DeliveryHistory;
    const LONGLONG newest = m_Deliveries[(m_DeliveryCount - 1) % DeliveryHistory];
    const LONGLONG oldest = m_Deliveries[(m_DeliveryCount - kept) % DeliveryHistory];
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    *interval = static_cast<REFERENCE_TIME>(double(newest - oldest) * 1e7 / frequency.QuadPart / (kept - 1));
    return S_OK;
}

int CapturePin::EntryMatching(const AM_MEDIA_TYPE& type, bool checkFrameInterval) const
{
    const VIDEOINFOHEADER* asked = VideoInfoOf(type);
    if (!asked || !IsEqualGUID(type.majortype, MEDIATYPE_Video)) return -1;
    if (checkFrameInterval && asked->AvgTimePerFrame != 0 &&
        (asked->AvgTimePerFrame < FastestFrameInterval || asked->AvgTimePerFrame > SlowestFrameInterval))
        return -1;
    for (int index = 0; index < m_TypeList.Count(); ++index) {
        const MediaTypeRecord* entry = TypeAt(index);
        const VIDEOINFOHEADER* offered = entry ? VideoInfoOf(*entry) : nullptr;
        if (!offered) continue;
        if (IsEqualGUID(type.subtype, entry->subtype) && IsEqualGUID(type.formattype, entry->formattype) &&
            asked->bmiHeader.biWidth == offered->bmiHeader.biWidth &&
            asked->bmiHeader.biHeight == offered->bmiHeader.biHeight &&
            asked->bmiHeader.biBitCount == offered->bmiHeader.biBitCount &&
            asked->bmiHeader.biCompression == offered->bmiHeader.biCompression)
            return index;
    }
    return -1;
}

HRESULT CapturePin::SelectResolution(int index)
{
    CameraConfig settings;
    RETURN_IF_FAILED(GetConfig(&settings));
    settings.m_Format.m_Resolution = static_cast<unsigned char>(EffectiveResolution(index));
    return SetConfig(&settings);
}

int CapturePin::SelectedIndex()
{
    CameraConfig settings;
    GetConfig(&settings);
    const unsigned char resolution = settings.m_Format.m_Resolution;
    return (resolution >= 1 && resolution <= 3) ? resolution : 0;
}

// A connected pin keeps its type: what the settings select now is proposed,
// and becomes the connection type, only for the next connection.
HRESULT CapturePin::GetMediaType(int position, MediaTypeRecord* type)
{
    ScopedLock lock(&m_TypeLock);
    const int index = SelectedIndex();
    if (position != 0) return E_INVALIDARG;
    if (!type) return E_POINTER;
    const MediaTypeRecord* entry = TypeAt(index);
    if (!entry) return VFW_S_NO_MORE_ITEMS;
    RETURN_IF_FAILED(type->Assign(*entry));
    if (!m_Peer) m_ConnectionType = *entry;
    return S_OK;
}

HRESULT CapturePin::TestMediaType(const MediaTypeRecord* type)
{
    ScopedLock lock(&m_TypeLock);
    if (!type) return E_INVALIDARG;

    // Some hosts insist with a bare video type; after a few refusals it is
    // let through, without becoming the connection type.
    if (IsPartialVideoType(*type)) return CountPartialType() <= PartialTypeRefusals ? E_INVALIDARG : S_OK;
    InterlockedExchange(&m_PartialTypeCount, 0);

    // While connected, only the picture the connection delivers can be had.
    const MediaTypeRecord* entry = m_Peer ? &m_ConnectionType : TypeAt(SelectedIndex());
    if (!entry) return E_INVALIDARG;
    const VIDEOINFOHEADER* offered = VideoInfoOf(*entry);
    const VIDEOINFOHEADER* asked = VideoInfoOf(*type);
    if (!offered || !asked) return E_INVALIDARG;
    const bool matches = IsEqualGUID(type->majortype, entry->majortype) &&
                         IsEqualGUID(type->subtype, entry->subtype) &&
                         IsEqualGUID(type->formattype, entry->formattype) &&
                         asked->bmiHeader.biBitCount == offered->bmiHeader.biBitCount &&
                         asked->bmiHeader.biHeight == offered->bmiHeader.biHeight &&
                         asked->bmiHeader.biWidth == offered->bmiHeader.biWidth &&
                         asked->bmiHeader.biCompression == offered->bmiHeader.biCompression;
    if (!matches) return E_INVALIDARG;
    if (!m_Peer) RETURN_IF_FAILED(m_ConnectionType.Assign(*type));
    return S_OK;
}

HRESULT CapturePin::SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    if (!allocator || !request) return E_POINTER;
    ScopedLock lock(&m_TypeLock);
    const VIDEOINFOHEADER* videoInfo = VideoInfoOf(m_ConnectionType);
    if (!videoInfo) return E_FAIL;

    request->cBuffers = BufferCount;
    LONGLONG bytes = static_cast<LONG>(videoInfo->bmiHeader.biSizeImage);
    if (bytes <= 0) {
        bytes = static_cast<LONGLONG>(videoInfo->bmiHeader.biWidth) * videoInfo->bmiHeader.biHeight * 4;
        if (bytes <= 0 || bytes > LONG_MAX) return E_FAIL;
        m_ConnectionType.lSampleSize = static_cast<ULONG>(bytes);
    }
    request->cbBuffer = static_cast<LONG>(bytes);

    ALLOCATOR_PROPERTIES actual;
    ZeroMemory(&actual, sizeof(actual));
    RETURN_IF_FAILED(allocator->SetProperties(request, &actual));
    return actual.cbBuffer < request->cbBuffer ? E_FAIL : S_OK;
}

HRESULT STDMETHODCALLTYPE CapturePin::GetConfig(CameraConfig* record)
{
    if (!record || !m_Camera) return E_FAIL;
    return m_Camera->GetConfig(*record) ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE CapturePin::SetConfig(CameraConfig* record)
{
    if (!record || !m_Camera) return E_FAIL;
    if (!m_Camera->SetConfig(*record)) return E_FAIL;
    // Proposing the selected type makes it the connection type of a pin
    // that is not connected; a connected one keeps delivering what it agreed.
    MediaTypeRecord selected;
    return GetMediaType(0, &selected) == S_OK ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE CapturePin::InnerQueryInterface(REFIID iid, void** out)
{
    if (!out) return E_POINTER;
    if (IsEqualIID(iid, IID_IAMStreamConfig))
        return ProvideInterface(static_cast<IAMStreamConfig*>(this), out);
    if (IsEqualIID(iid, IID_IKsPropertySet)) return ProvideInterface(static_cast<IKsPropertySet*>(this), out);
    if (IsEqualIID(iid, IID_IAMDroppedFrames))
        return ProvideInterface(static_cast<IAMDroppedFrames*>(this), out);
    if (IsEqualIID(iid, IID_ISpecifyPropertyPages))
        return ProvideInterface(static_cast<ISpecifyPropertyPages*>(this), out);
    if (IsEqualIID(iid, IID_ICameraConfig)) return ProvideInterface(static_cast<ICameraConfig*>(this), out);
    return SourceStreamPin::InnerQueryInterface(iid, out);
}
