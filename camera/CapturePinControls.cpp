// The capture pin's control interfaces: stream format, pin category, frame
// counts and its property page.
#include <climits>
#include "camera/CapturePin.h"

#include <uuids.h>
#include "framework/Raii.h"

namespace {

const LONGLONG IntervalsPerSecond = 10000000;

void FillCapabilities(const VIDEOINFOHEADER& videoInfo, VIDEO_STREAM_CONFIG_CAPS& caps)
{
    ZeroMemory(&caps, sizeof(caps));
    const LONG width = videoInfo.bmiHeader.biWidth;
    const LONG height = videoInfo.bmiHeader.biHeight;
    const SIZE size = {width, height};
    caps.guid = FORMAT_VideoInfo;
    caps.VideoStandard = 0;
    caps.InputSize = size;
    caps.MinCroppingSize = size;
    caps.MaxCroppingSize = size;
    caps.MinOutputSize = size;
    caps.MaxOutputSize = size;
    caps.MinFrameInterval = CapturePin::FastestFrameInterval;
    caps.MaxFrameInterval = CapturePin::SlowestFrameInterval;
    // Bits a frame, in the 32 bits the record's rates have.
    const LONG bitsPerFrame = static_cast<LONG>(static_cast<ULONG>(videoInfo.bmiHeader.biBitCount) *
                                                static_cast<ULONG>(width) * static_cast<ULONG>(height));
    caps.MinBitsPerSecond =
        static_cast<LONG>(static_cast<LONGLONG>(bitsPerFrame) * IntervalsPerSecond / CapturePin::SlowestFrameInterval);
    const LONGLONG fastest =
        static_cast<LONGLONG>(bitsPerFrame) * IntervalsPerSecond / CapturePin::FastestFrameInterval;
    caps.MaxBitsPerSecond = fastest > LONG_MAX ? LONG_MAX : static_cast<LONG>(fastest);
}

} // namespace

// IAMStreamConfig

// Only a type the pin can deliver is taken: it becomes this pin's choice,
// completed from its entry where it leaves the subtype, bit count or
// compression open, and a connected pin reconnects with it. Neither the
// other pin nor the settings file (the person's choice) change.
STDMETHODIMP CapturePin::SetFormat(AM_MEDIA_TYPE* type)
{
    if (!type) return S_OK;
    // Whatever the host sets is later read as a video format block.
    if (!VideoInfoOf(*type)) return E_INVALIDARG;

    ComPtr<IPin> peer;
    ConnectedTo(peer.put());
    {
        ScopedLock lock(&m_TypeLock);
        const int index = EntryMatching(*type, true);
        if (index < 0) return VFW_E_INVALIDMEDIATYPE;
        // Reconnecting would break a connection that is streaming.
        if (peer && m_ParentFilter->State() != State_Stopped) return VFW_E_NOT_STOPPED;

        MediaTypeRecord chosen;
        RETURN_IF_FAILED(chosen.Assign(*TypeAt(index)));
        const REFERENCE_TIME interval = VideoInfoOf(*type)->AvgTimePerFrame;
        if (interval != 0) reinterpret_cast<VIDEOINFOHEADER*>(chosen.pbFormat)->AvgTimePerFrame = interval;
        RETURN_IF_FAILED(m_ChosenType.Assign(chosen));
        m_HasChoice = true;
        ++m_TypeVersion;
        if (!peer) m_ConnectionType = chosen;
    }
    if (peer && m_ParentFilter->Graph()) m_ParentFilter->Graph()->Reconnect(PinInterface());
    return S_OK;
}

// Unconnected, the type the next connection proposes.
STDMETHODIMP CapturePin::GetFormat(AM_MEDIA_TYPE** out)
{
    if (!out) return E_POINTER;
    ScopedLock lock(&m_TypeLock);
    if (m_Peer) {
        *out = CloneTypeRecord(m_ConnectionType);
        return S_OK;
    }
    MediaTypeRecord proposed;
    *out = ProposedType(&proposed) == S_OK ? CloneTypeRecord(proposed) : nullptr;
    return S_OK;
}

STDMETHODIMP CapturePin::GetNumberOfCapabilities(int* count, int* size)
{
    if (!count || !size) return E_POINTER;
    ScopedLock lock(&m_TypeLock);
    *count = m_TypeList.Count();
    *size = sizeof(VIDEO_STREAM_CONFIG_CAPS);
    return S_OK;
}

STDMETHODIMP CapturePin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* capabilities)
{
    ScopedLock lock(&m_TypeLock);
    if (index < 0 || index >= m_TypeList.Count()) return S_FALSE;
    if (!type || !capabilities) return E_POINTER;
    AM_MEDIA_TYPE* copy = CloneTypeRecord(*TypeAt(index));
    if (!copy) return E_OUTOFMEMORY;
    const VIDEOINFOHEADER* videoInfo = VideoInfoOf(*copy);
    if (!videoInfo) {
        DeleteTypeRecord(copy);
        return E_UNEXPECTED;
    }
    FillCapabilities(*videoInfo, *reinterpret_cast<VIDEO_STREAM_CONFIG_CAPS*>(capabilities));
    *type = copy;
    return S_OK;
}

// ISpecifyPropertyPages: the capture pin lists the format page.

STDMETHODIMP CapturePin::GetPages(CAUUID* pages)
{
    if (!pages) return E_POINTER;
    if (!IsCapture()) {
        pages->cElems = 0;
        pages->pElems = nullptr;
        return S_OK;
    }
    pages->cElems = 1;
    pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
    if (!pages->pElems) return E_OUTOFMEMORY;
    pages->pElems[0] = CLSID_FormatPage;
    return S_OK;
}

// IKsPropertySet: only the pin category can be read.

STDMETHODIMP CapturePin::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD)
{
    return E_NOTIMPL;
}

STDMETHODIMP CapturePin::Get(REFGUID propertySet, DWORD propertyId, LPVOID, DWORD, LPVOID data,
                             DWORD dataSize, DWORD* bytesReturned)
{
    if (!IsEqualGUID(propertySet, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (propertyId != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (!data && !bytesReturned) return E_POINTER;
    if (bytesReturned) *bytesReturned = sizeof(GUID);
    if (!data) return S_OK;
    if (dataSize < sizeof(GUID)) return E_UNEXPECTED;
    *static_cast<GUID*>(data) = m_Category;
    return S_OK;
}

STDMETHODIMP CapturePin::QuerySupported(REFGUID propertySet, DWORD propertyId, DWORD* support)
{
    if (support) *support = 0;
    if (!IsEqualGUID(propertySet, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (propertyId != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
    if (support) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// IAMDroppedFrames: this pin's counts since it last started. A frame the
// pin's rate does not ask for is not dropped; one it asked for and could not
// deliver (downstream was still busy) is.

STDMETHODIMP CapturePin::GetNumDropped(LONG* count)
{
    if (!count) return E_POINTER;
    *count = m_Schedule.Dropped();
    return S_OK;
}

STDMETHODIMP CapturePin::GetNumNotDropped(LONG* count)
{
    if (!count) return E_POINTER;
    *count = m_Schedule.Delivered();
    return S_OK;
}

STDMETHODIMP CapturePin::GetDroppedInfo(LONG, LONG*, LONG* copied)
{
    if (!copied) return E_POINTER;
    *copied = 0;
    return S_OK;
}

STDMETHODIMP CapturePin::GetAverageFrameSize(LONG* size)
{
    if (!size) return E_POINTER;
    ScopedLock lock(&m_TypeLock);
    *size = static_cast<LONG>(m_ConnectionType.lSampleSize);
    return S_OK;
}
