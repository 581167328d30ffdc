#include "tests/support/SyntheticSource.h"

#include <new>
#include <uuids.h>
#include <amvideo.h>

const CLSID CLSID_SyntheticSource = {0x5b0e6b1c, 0x3c52, 0x4e0b, {0x9b, 0x7e, 0x6c, 0x1d, 0x4f, 0x8a, 0x2e, 0x11}};

SyntheticPin::SyntheticPin(SyntheticSource* filter, HRESULT* result, const wchar_t* name)
    : SourceStreamPin(L"Synthetic pin", result, filter, name)
{
}

BYTE SyntheticPin::ExpectedByte(int frame, int x, int y, int channel)
{
    switch (channel) {
    case 0: return static_cast<BYTE>(x);
    case 1: return static_cast<BYTE>(y);
    default: return static_cast<BYTE>(frame);
    }
}

void SyntheticPin::BuildType(MediaTypeRecord* type)
{
    VIDEOINFOHEADER* info = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!info) return;
    ZeroMemory(info, sizeof(*info));
    info->AvgTimePerFrame = 333333;
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = Width;
    info->bmiHeader.biHeight = Height;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 24;
    info->bmiHeader.biCompression = BI_RGB;
    info->bmiHeader.biSizeImage = FrameBytes;

    ReleaseTypeRecord(*type);
    type->SetDefaults();
    type->majortype = MEDIATYPE_Video;
    type->subtype = MEDIASUBTYPE_RGB24;
    type->formattype = FORMAT_VideoInfo;
    type->bFixedSizeSamples = TRUE;
    type->lSampleSize = FrameBytes;
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->pbFormat = reinterpret_cast<BYTE*>(info);
}

HRESULT SyntheticPin::GetSingleMediaType(MediaTypeRecord* type)
{
    if (!type) return E_POINTER;
    BuildType(type);
    return type->pbFormat ? S_OK : E_OUTOFMEMORY;
}

HRESULT SyntheticPin::SizeBuffers(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* request)
{
    InterlockedIncrement(&m_SizeBuffersCalls);
    m_Requests.push_back(*request);
    if (request->cBuffers < 2) request->cBuffers = 2;
    if (request->cbBuffer < FrameBytes) request->cbBuffer = FrameBytes;
    ALLOCATOR_PROPERTIES actual = {};
    const HRESULT hr = allocator->SetProperties(request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < FrameBytes ? E_FAIL : S_OK;
}

HRESULT SyntheticPin::OnThreadBegin()
{
    InterlockedIncrement(&m_ThreadBegins);
    return m_ThreadBeginResult;
}

HRESULT SyntheticPin::OnThreadEnd()
{
    InterlockedIncrement(&m_ThreadEnds);
    return S_OK;
}

HRESULT SyntheticPin::OnPlayBegin()
{
    InterlockedIncrement(&m_PlayBegins);
    return S_OK;
}

HRESULT SyntheticPin::FillSample(IMediaSample* sample)
{
    const LONG frame = m_FramesFilled;
    if (m_EndAfter >= 0 && frame >= m_EndAfter) return S_FALSE;
    if (m_FailAfter >= 0 && frame >= m_FailAfter) return m_FailCode;

    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || sample->GetSize() < FrameBytes) return E_UNEXPECTED;
    for (int y = 0; y < Height; ++y) {
        for (int x = 0; x < Width; ++x) {
            BYTE* pixel = data + (y * Width + x) * 3;
            for (int channel = 0; channel < 3; ++channel) pixel[channel] = ExpectedByte(frame, x, y, channel);
        }
    }
    sample->SetActualDataLength(FrameBytes);
    sample->SetSyncPoint(TRUE);
    InterlockedIncrement(&m_FramesFilled);
    return S_OK;
}

SyntheticSource::SyntheticSource() : SourceFilterBase(L"Synthetic source", nullptr, CLSID_SyntheticSource)
{
}

SyntheticSource* SyntheticSource::Create(int pins)
{
    SyntheticSource* filter = new (std::nothrow) SyntheticSource();
    if (!filter) return nullptr;
    IBaseFilter* held = nullptr;
    filter->InnerQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&held));
    for (int index = 0; index < pins; ++index) {
        wchar_t name[16];
        wsprintfW(name, L"Out%d", index + 1);
        if (!filter->AddPin(name)) {
            held->Release();
            return nullptr;
        }
    }
    return filter;
}

SyntheticPin* SyntheticSource::AddPin(const wchar_t* name)
{
    HRESULT hr = E_FAIL;
    SyntheticPin* pin = new (std::nothrow) SyntheticPin(this, &hr, name);
    if (pin && FAILED(hr)) {
        delete pin;
        pin = nullptr;
    }
    return pin;
}

void SyntheticSource::RemovePin(int index)
{
    delete Pin(index);
}
