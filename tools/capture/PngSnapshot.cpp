#include "tools/capture/PngSnapshot.h"

#include <wincodec.h>

#include <cstring>

#include "framework/Raii.h"

std::vector<unsigned char> TopDownRows(const FrameImage& frame) {
    const size_t packedRow = static_cast<size_t>(frame.width) * 3;
    std::vector<unsigned char> rows(packedRow * frame.height);
    if (frame.pixels.size() < frame.RowBytes() * frame.height) return rows;  // black rather than out of bounds
    for (int y = 0; y < frame.height; ++y) {
        const int sourceRow = frame.topDown ? y : frame.height - 1 - y;
        std::memcpy(&rows[packedRow * y], &frame.pixels[frame.RowBytes() * sourceRow], packedRow);
    }
    return rows;
}

namespace {

HRESULT EncodePng(IWICImagingFactory* factory, IWICStream* stream, const FrameImage& frame) {
    const std::vector<unsigned char> rows = TopDownRows(frame);
    const UINT stride = static_cast<UINT>(frame.width) * 3;
    ComPtr<IWICBitmapEncoder> encoder;
    RETURN_IF_FAILED(factory->CreateEncoder(GUID_ContainerFormatPng, nullptr, encoder.put()));
    RETURN_IF_FAILED(encoder->Initialize(stream, WICBitmapEncoderNoCache));
    ComPtr<IWICBitmapFrameEncode> picture;
    RETURN_IF_FAILED(encoder->CreateNewFrame(picture.put(), nullptr));
    RETURN_IF_FAILED(picture->Initialize(nullptr));
    RETURN_IF_FAILED(picture->SetSize(static_cast<UINT>(frame.width), static_cast<UINT>(frame.height)));
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    RETURN_IF_FAILED(picture->SetPixelFormat(&format));
    if (format != GUID_WICPixelFormat24bppBGR) return WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT;
    RETURN_IF_FAILED(picture->WritePixels(static_cast<UINT>(frame.height), stride,
                                          static_cast<UINT>(rows.size()), const_cast<BYTE*>(rows.data())));
    RETURN_IF_FAILED(picture->Commit());
    return encoder->Commit();
}

}  // namespace

HRESULT SavePng(const std::wstring& path, const FrameImage& frame) {
    if (frame.width <= 0 || frame.height <= 0) return E_INVALIDARG;
    ComPtr<IWICImagingFactory> factory;
    RETURN_IF_FAILED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                      factory.putVoid()));
    ComPtr<IWICStream> stream;
    RETURN_IF_FAILED(factory->CreateStream(stream.put()));
    RETURN_IF_FAILED(stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE));
    const HRESULT result = EncodePng(factory.get(), stream.get(), frame);
    stream.reset();
    // No half-written picture is left behind.
    if (FAILED(result)) DeleteFileW(path.c_str());
    return result;
}
