#include "mediasource/StreamFormats.h"
#include "mediasource/MediaFoundationApi.h"

#include <vector>

#include "camera/CCamera.h"
#include "framework/Raii.h"

namespace {

const PixelFormat ListedPixelFormats[PixelFormatCount] = {PixelFormat::Nv12, PixelFormat::Rgb32,
                                                          PixelFormat::Rgb24};
const UINT32 FramesPerSecond = 30;

// A stated attribute must hold the expected value; an absent one is no objection.
bool AbsentOrEqual(IMFMediaType* type, REFGUID key, UINT64 expected)
{
    UINT64 value = 0;
    if (FAILED(type->GetUINT64(key, &value))) return true;
    return value == expected;
}

bool AbsentOrEqual32(IMFMediaType* type, REFGUID key, UINT32 expected)
{
    UINT32 value = 0;
    if (FAILED(type->GetUINT32(key, &value))) return true;
    return value == expected;
}

UINT64 PackPair(UINT32 high, UINT32 low)
{
    return (static_cast<UINT64>(high) << 32) | low;
}

} // namespace

int StreamFormat::Width() const
{
    return CameraResolutions[EffectiveResolution(resolution)].width;
}

int StreamFormat::Height() const
{
    return CameraResolutions[EffectiveResolution(resolution)].height;
}

StreamFormat StreamFormatAt(int index, int firstResolution)
{
    StreamFormat format;
    if (index < 0 || index >= StreamFormatCount()) return format;
    const int first = EffectiveResolution(firstResolution);
    const int block = index / PixelFormatCount;
    // The first resolution's block moves to the front; the others keep their order.
    format.resolution = block == 0 ? first : (block <= first ? block - 1 : block);
    format.pixels = ListedPixelFormats[index % PixelFormatCount];
    return format;
}

int StreamFormatCount()
{
    return CameraResolutionCount * PixelFormatCount;
}

const GUID& SubtypeOf(PixelFormat pixels)
{
    switch (pixels) {
    case PixelFormat::Rgb32:
        return MFVideoFormat_RGB32;
    case PixelFormat::Rgb24:
        return MFVideoFormat_RGB24;
    default:
        return MFVideoFormat_NV12;
    }
}

HRESULT CreateStreamMediaType(const StreamFormat& format, IMFMediaType** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    ComPtr<IMFMediaType> type;
    RETURN_IF_FAILED(MediaFoundation()->CreateMediaType(type.put()));
    RETURN_IF_FAILED(type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video));
    RETURN_IF_FAILED(type->SetGUID(MF_MT_SUBTYPE, SubtypeOf(format.pixels)));
    RETURN_IF_FAILED(MFSetAttributeSize(type.get(), MF_MT_FRAME_SIZE, format.Width(), format.Height()));
    RETURN_IF_FAILED(MFSetAttributeRatio(type.get(), MF_MT_FRAME_RATE, FramesPerSecond, 1));
    // A positive stride: the first row in memory is the top of the picture.
    RETURN_IF_FAILED(type->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(format.Stride())));
    RETURN_IF_FAILED(type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive));
    RETURN_IF_FAILED(type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE));
    RETURN_IF_FAILED(type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE));
    RETURN_IF_FAILED(type->SetUINT32(MF_MT_SAMPLE_SIZE, static_cast<UINT32>(format.FrameBytes())));
    RETURN_IF_FAILED(MFSetAttributeRatio(type.get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1));
    *out = type.detach();
    return S_OK;
}

bool FindStreamFormat(IMFMediaType* type, StreamFormat* found)
{
    if (!type || !found) return false;
    GUID major = GUID_NULL, subtype = GUID_NULL;
    UINT32 width = 0, height = 0;
    if (FAILED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) || major != MFMediaType_Video ||
        FAILED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) ||
        FAILED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &width, &height)))
        return false;
    for (int index = 0; index < StreamFormatCount(); ++index) {
        const StreamFormat format = StreamFormatAt(index);
        if (subtype != SubtypeOf(format.pixels) || width != static_cast<UINT32>(format.Width()) ||
            height != static_cast<UINT32>(format.Height()))
            continue;
        if (!AbsentOrEqual(type, MF_MT_FRAME_RATE, PackPair(FramesPerSecond, 1)) ||
            !AbsentOrEqual32(type, MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(format.Stride())) ||
            !AbsentOrEqual32(type, MF_MT_SAMPLE_SIZE, static_cast<UINT32>(format.FrameBytes())))
            return false;
        *found = format;
        return true;
    }
    return false;
}

HRESULT CreateCameraStreamDescriptor(const StreamFormat& current, IMFStreamDescriptor** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    std::vector<ComPtr<IMFMediaType>> types(static_cast<size_t>(StreamFormatCount()));
    std::vector<IMFMediaType*> listed;
    ComPtr<IMFMediaType> currentType;
    for (int index = 0; index < StreamFormatCount(); ++index) {
        const StreamFormat format = StreamFormatAt(index, current.resolution);
        RETURN_IF_FAILED(CreateStreamMediaType(format, types[index].put()));
        listed.push_back(types[index].get());
        if (format == current) currentType = types[index];
    }
    ComPtr<IMFStreamDescriptor> descriptor;
    RETURN_IF_FAILED(MediaFoundation()->CreateStreamDescriptor(0, static_cast<DWORD>(listed.size()),
                                                               listed.data(), descriptor.put()));
    ComPtr<IMFMediaTypeHandler> handler;
    RETURN_IF_FAILED(descriptor->GetMediaTypeHandler(handler.put()));
    RETURN_IF_FAILED(handler->SetCurrentMediaType(currentType ? currentType.get() : listed[0]));
    RETURN_IF_FAILED(descriptor->SetGUID(DeviceStream::CategoryKey, DeviceStream::VideoCaptureCategory));
    RETURN_IF_FAILED(descriptor->SetUINT32(DeviceStream::StreamIdKey, 0));
    RETURN_IF_FAILED(descriptor->SetUINT32(DeviceStream::FrameServerSharedKey, 1));
    RETURN_IF_FAILED(descriptor->SetUINT32(DeviceStream::FrameSourceTypesKey, DeviceStream::ColourFrames));
    *out = descriptor.detach();
    return S_OK;
}
