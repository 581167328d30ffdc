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
    : SourceStreamPin(nullptr, result, filter, pinName), m_Category(PIN_CATEGORY_CAPTURE), m_RealTimeOrigin(),
      m_LastTick(0), m_LastSeen(0), m_LastDelivered(0), m_StreamFloor(0), m_HasChoice(false), m_Deliveries(),
      m_DeliveryCount(0), m_ParentFilter(filter), m_Camera(nullptr), m_TickSource(GetTickCount), m_Sleep(Sleep)
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

bool CapturePin::IsDeliverableInterval(REFERENCE_TIME interval)
{
    return interval == 0 || (interval >= FastestFrameInterval && interval <= SlowestFrameInterval);
}

int CapturePin::EntryMatching(const AM_MEDIA_TYPE& type, bool completing) const
{
    const VIDEOINFOHEADER* asked = VideoInfoOf(type);
    if (!asked || !IsEqualGUID(type.majortype, MEDIATYPE_Video)) return -1;
    if (!IsDeliverableInterval(asked->AvgTimePerFrame)) return -1;
    const BITMAPINFOHEADER& header = asked->bmiHeader;
    for (int index = 0; index < m_TypeList.Count(); ++index) {
        const MediaTypeRecord* entry = TypeAt(index);
        const VIDEOINFOHEADER* offered = entry ? VideoInfoOf(*entry) : nullptr;
        if (!offered) continue;
        const BITMAPINFOHEADER& own = offered->bmiHeader;
        const bool subtype =
            IsEqualGUID(type.subtype, entry->subtype) || (completing && IsEqualGUID(type.subtype, GUID_NULL));
        const bool bitCount = header.biBitCount == own.biBitCount || (completing && header.biBitCount == 0);
        const bool compression =
            header.biCompression == own.biCompression || (completing && header.biCompression == 0);
        if (subtype && bitCount && compression && header.biWidth == own.biWidth && header.biHeight == own.biHeight)
            return index;
    }
    return -1;
}

int CapturePin::SelectedIndex()
{
    CameraConfig settings;
    GetConfig(&settings);
    const unsigned char resolution = settings.m_Format.m_Resolution;
    return (resolution >= 1 && resolution <= 3) ? resolution : 0;
}

HRESULT CapturePin::ProposedType(MediaTypeRecord* type)
{
    if (m_HasChoice) return type->Assign(m_ChosenType);
    const MediaTypeRecord* entry = TypeAt(SelectedIndex());
    if (!entry) return VFW_S_NO_MORE_ITEMS;
    return type->Assign(*entry);
}

namespace {

bool SameSize(const AM_MEDIA_TYPE& one, const AM_MEDIA_TYPE& other)
{
    const VIDEOINFOHEADER* first = VideoInfoOf(one);
    const VIDEOINFOHEADER* second = VideoInfoOf(other);
    return first && second && first->bmiHeader.biWidth == second->bmiHeader.biWidth &&
           first->bmiHeader.biHeight == second->bmiHeader.biHeight;
}

} // namespace

// The pin proposes its chosen type first, then every other size it offers,
// once each. A connected pin keeps its type: what is proposed now is for the
// next connection.
HRESULT CapturePin::GetMediaType(int position, MediaTypeRecord* type)
{
    ScopedLock lock(&m_TypeLock);
    if (position < 0) return E_INVALIDARG;
    if (!type) return E_POINTER;
    MediaTypeRecord proposed;
    const HRESULT hr = ProposedType(&proposed);
    if (hr != S_OK) return hr;
    if (position == 0) {
        if (!m_Peer) m_ConnectionType = proposed;
        return type->Assign(proposed);
    }
    int listed = 0;
    for (int index = 0; index < m_TypeList.Count(); ++index) {
        const MediaTypeRecord* entry = TypeAt(index);
        if (!entry || SameSize(*entry, proposed)) continue;
        bool repeated = false;
        for (int earlier = 0; earlier < index && !repeated; ++earlier)
            repeated = SameSize(*entry, *TypeAt(earlier));
        if (repeated) continue;
        if (++listed == position) return type->Assign(*entry);
    }
    return VFW_S_NO_MORE_ITEMS;
}

HRESULT CapturePin::TestMediaType(const MediaTypeRecord* type)
{
    ScopedLock lock(&m_TypeLock);
    if (!type) return E_INVALIDARG;

    // Some hosts insist with a bare video type; after a few refusals it is
    // let through, and the connection takes the proposed type.
    if (IsPartialVideoType(*type)) return CountPartialType() <= PartialTypeRefusals ? E_INVALIDARG : S_OK;
    InterlockedExchange(&m_PartialTypeCount, 0);

    // Unconnected, every offered type at any deliverable rate can be had.
    if (!m_Peer) return EntryMatching(*type, false) >= 0 ? S_OK : E_INVALIDARG;
    // Connected, only the picture the connection delivers.
    const VIDEOINFOHEADER* offered = VideoInfoOf(m_ConnectionType);
    const VIDEOINFOHEADER* asked = VideoInfoOf(*type);
    if (!offered || !asked) return E_INVALIDARG;
    const bool matches = IsEqualGUID(type->majortype, m_ConnectionType.majortype) &&
                         IsEqualGUID(type->subtype, m_ConnectionType.subtype) &&
                         asked->bmiHeader.biBitCount == offered->bmiHeader.biBitCount &&
                         asked->bmiHeader.biHeight == offered->bmiHeader.biHeight &&
                         asked->bmiHeader.biWidth == offered->bmiHeader.biWidth &&
                         asked->bmiHeader.biCompression == offered->bmiHeader.biCompression;
    return matches ? S_OK : E_INVALIDARG;
}

namespace {

REFERENCE_TIME DeliveredInterval(const AM_MEDIA_TYPE& type)
{
    const VIDEOINFOHEADER* videoInfo = VideoInfoOf(type);
    const REFERENCE_TIME interval = videoInfo ? videoInfo->AvgTimePerFrame : 0;
    return interval > 0 ? interval : CameraFrameInterval;
}

} // namespace

// A connection with another type than the one proposed first is the host's
// choice, kept for the pin's next connections; one with the proposed type
// leaves the pin following the stored resolution.
HRESULT CapturePin::StoreMediaType(const MediaTypeRecord* type)
{
    if (!type) return E_POINTER;
    ScopedLock lock(&m_TypeLock);
    MediaTypeRecord proposed;
    const HRESULT hr = ProposedType(&proposed);
    if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
    // The bare type let through: the connection gets the proposed one.
    if (EntryMatching(*type, false) < 0) return m_ConnectionType.Assign(proposed);

    RETURN_IF_FAILED(m_ConnectionType.Assign(*type));
    if (SameSize(*type, proposed) && DeliveredInterval(*type) == DeliveredInterval(proposed)) return S_OK;
    RETURN_IF_FAILED(m_ChosenType.Assign(*type));
    m_HasChoice = true;
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
    ApplySuggestion(request);

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

// A person's choice of resolution (the format page, the capture tool) is the
// stored one; it replaces a host's choice on this pin.
HRESULT STDMETHODCALLTYPE CapturePin::SetConfig(CameraConfig* record)
{
    if (!record || !m_Camera) return E_FAIL;
    CameraConfig before;
    m_Camera->GetConfig(before);
    if (!m_Camera->SetConfig(*record)) return E_FAIL;
    if (before.m_Format.m_Resolution != record->m_Format.m_Resolution) {
        ScopedLock lock(&m_TypeLock);
        m_HasChoice = false;
        ++m_TypeVersion;
    }
    // Proposing the selected type makes it the connection type of a pin
    // that is not connected; a connected one keeps delivering what it agreed.
    MediaTypeRecord selected;
    return GetMediaType(0, &selected) == S_OK ? S_OK : E_FAIL;
}

HRESULT CapturePin::AgreedProperties(ALLOCATOR_PROPERTIES* properties)
{
    if (!m_Allocator) return VFW_E_NO_ALLOCATOR;
    return m_Allocator->GetProperties(properties);
}

void CapturePin::PostStreamControlEvent(long code, DWORD cookie)
{
    m_Filter->PostGraphEvent(code, reinterpret_cast<LONG_PTR>(PinInterface()), static_cast<LONG_PTR>(cookie));
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
    if (IsEqualIID(iid, IID_IAMStreamControl))
        return ProvideInterface(static_cast<IAMStreamControl*>(this), out);
    if (IsEqualIID(iid, IID_IAMBufferNegotiation))
        return ProvideInterface(static_cast<IAMBufferNegotiation*>(this), out);
    return SourceStreamPin::InnerQueryInterface(iid, out);
}
