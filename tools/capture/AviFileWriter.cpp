#include "tools/capture/AviFileWriter.h"

#include <cmath>
#include <cstring>

namespace {

// Byte layout of the headers; every field little-endian.
const uint32_t MainHeaderBytes = 56;
const uint32_t StreamHeaderBytes = 56;
const uint32_t FormatBytes = 40;  // BITMAPINFOHEADER
const uint32_t StreamListBytes = 4 + (8 + StreamHeaderBytes) + (8 + FormatBytes);
const uint32_t HeaderListBytes = 4 + (8 + MainHeaderBytes) + (8 + StreamListBytes);
// RIFF header (12) + hdrl list (8 + size) + movi list header (12).
const uint32_t MoviListOffset = 12 + 8 + HeaderListBytes;
const uint32_t FirstFrameOffset = MoviListOffset + 12;

const uint32_t AviHasIndex = 0x10;
const uint32_t AviIsKeyFrame = 0x10;

class ByteWriter {
public:
    void Tag(const char* fourCharacters) { m_Bytes.insert(m_Bytes.end(), fourCharacters, fourCharacters + 4); }
    void U32(uint32_t value) {
        for (int i = 0; i < 4; ++i) m_Bytes.push_back(static_cast<unsigned char>(value >> (8 * i)));
    }
    void U16(uint16_t value) {
        m_Bytes.push_back(static_cast<unsigned char>(value));
        m_Bytes.push_back(static_cast<unsigned char>(value >> 8));
    }
    const std::vector<unsigned char>& Bytes() const { return m_Bytes; }

private:
    std::vector<unsigned char> m_Bytes;
};

}  // namespace

AviFileWriter::~AviFileWriter() {
    if (m_File) Close(0);
}

HRESULT AviFileWriter::Open(const std::wstring& path, int width, int height, uint32_t bytesPerFrame) {
    if (m_File) return E_UNEXPECTED;
    if (width <= 0 || height <= 0 || bytesPerFrame == 0) return E_INVALIDARG;
    m_File.reset(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_File) return HRESULT_FROM_WIN32(GetLastError());
    m_Width = width;
    m_Height = height;
    m_FrameBytes = bytesPerFrame;
    m_FileSize = 0;
    m_FrameOffsets.clear();
    // Placeholder headers, rewritten with the final counts by Close.
    return WriteHeaders(0);
}

bool AviFileWriter::HasRoomForFrame() const {
    const uint64_t indexBytes = 8 + 16ull * (m_FrameOffsets.size() + 1);
    return m_File && m_FileSize + 8 + m_FrameBytes + (m_FrameBytes & 1) + indexBytes <= m_SizeLimit;
}

HRESULT AviFileWriter::WriteFrame(const unsigned char* data, size_t bytes) {
    if (!m_File) return E_UNEXPECTED;
    if (!HasRoomForFrame()) return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    const uint64_t chunkOffset = m_FileSize;
    ByteWriter header;
    header.Tag("00db");
    header.U32(m_FrameBytes);
    RETURN_IF_FAILED(WriteBytes(header.Bytes().data(), header.Bytes().size()));
    const size_t copied = bytes < m_FrameBytes ? bytes : m_FrameBytes;
    if (copied) RETURN_IF_FAILED(WriteBytes(data, copied));
    const size_t missing = m_FrameBytes - copied + (m_FrameBytes & 1);  // chunks are word aligned
    if (missing) {
        if (m_Padding.size() < missing) m_Padding.assign(missing, 0);
        RETURN_IF_FAILED(WriteBytes(m_Padding.data(), missing));
    }
    m_FrameOffsets.push_back(static_cast<uint32_t>(chunkOffset - (MoviListOffset + 8)));
    return S_OK;
}

HRESULT AviFileWriter::Close(double framesPerSecond) {
    if (!m_File) return S_FALSE;
    ByteWriter index;
    index.Tag("idx1");
    index.U32(static_cast<uint32_t>(16 * m_FrameOffsets.size()));
    for (uint32_t offset : m_FrameOffsets) {
        index.Tag("00db");
        index.U32(AviIsKeyFrame);
        index.U32(offset);
        index.U32(m_FrameBytes);
    }
    HRESULT result = WriteBytes(index.Bytes().data(), index.Bytes().size());
    if (SUCCEEDED(result)) result = WriteHeaders(framesPerSecond);
    m_File.reset();
    return result;
}

HRESULT AviFileWriter::WriteBytes(const void* data, size_t bytes) {
    const unsigned char* cursor = static_cast<const unsigned char*>(data);
    while (bytes > 0) {
        const DWORD part = bytes > 0x10000000 ? 0x10000000 : static_cast<DWORD>(bytes);
        DWORD written = 0;
        if (!WriteFile(m_File.get(), cursor, part, &written, nullptr)) return HRESULT_FROM_WIN32(GetLastError());
        if (written != part) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
        cursor += part;
        bytes -= part;
        m_FileSize += part;
    }
    return S_OK;
}

HRESULT AviFileWriter::WriteAt(uint64_t offset, const std::vector<unsigned char>& bytes) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(m_File.get(), position, nullptr, FILE_BEGIN)) return HRESULT_FROM_WIN32(GetLastError());
    DWORD written = 0;
    if (!WriteFile(m_File.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return HRESULT_FROM_WIN32(GetLastError());
    if (written != bytes.size()) return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    position.QuadPart = static_cast<LONGLONG>(m_FileSize);
    return SetFilePointerEx(m_File.get(), position, nullptr, FILE_BEGIN) ? S_OK : HRESULT_FROM_WIN32(GetLastError());
}

HRESULT AviFileWriter::WriteHeaders(double framesPerSecond) {
    const bool placeholder = m_FileSize == 0;
    const uint32_t frames = FramesWritten();
    if (!(framesPerSecond > 0) || !std::isfinite(framesPerSecond)) framesPerSecond = 30;
    // The rate as a fraction rate/scale with three decimals.
    const uint32_t scale = 1000;
    const uint32_t rate = static_cast<uint32_t>(std::lround(framesPerSecond * scale));
    const uint32_t microsecondsPerFrame = static_cast<uint32_t>(std::lround(1e6 / framesPerSecond));
    const uint32_t moviBytes = placeholder ? 4 : static_cast<uint32_t>(4 + (8ull + m_FrameBytes + (m_FrameBytes & 1)) * frames);
    const uint64_t total = placeholder ? FirstFrameOffset : m_FileSize;

    ByteWriter header;
    header.Tag("RIFF");
    header.U32(static_cast<uint32_t>(total - 8));
    header.Tag("AVI ");
    header.Tag("LIST");
    header.U32(HeaderListBytes);
    header.Tag("hdrl");
    header.Tag("avih");
    header.U32(MainHeaderBytes);
    header.U32(microsecondsPerFrame);
    header.U32(static_cast<uint32_t>(std::lround(m_FrameBytes * framesPerSecond)));  // max bytes a second
    header.U32(0);                                                                    // padding granularity
    header.U32(AviHasIndex);
    header.U32(frames);
    header.U32(0);  // initial frames
    header.U32(1);  // streams
    header.U32(m_FrameBytes);
    header.U32(static_cast<uint32_t>(m_Width));
    header.U32(static_cast<uint32_t>(m_Height));
    for (int i = 0; i < 4; ++i) header.U32(0);
    header.Tag("LIST");
    header.U32(StreamListBytes);
    header.Tag("strl");
    header.Tag("strh");
    header.U32(StreamHeaderBytes);
    header.Tag("vids");
    header.Tag("DIB ");
    header.U32(0);   // flags
    header.U16(0);   // priority
    header.U16(0);   // language
    header.U32(0);   // initial frames
    header.U32(scale);
    header.U32(rate);
    header.U32(0);   // start
    header.U32(frames);
    header.U32(m_FrameBytes);
    header.U32(0xFFFFFFFFu);  // quality: default
    header.U32(m_FrameBytes);
    header.U16(0);
    header.U16(0);
    header.U16(static_cast<uint16_t>(m_Width));
    header.U16(static_cast<uint16_t>(m_Height));
    header.Tag("strf");
    header.U32(FormatBytes);
    header.U32(FormatBytes);  // biSize
    header.U32(static_cast<uint32_t>(m_Width));
    header.U32(static_cast<uint32_t>(m_Height));  // positive: bottom-up rows
    header.U16(1);    // planes
    header.U16(24);   // bits a pixel
    header.U32(BI_RGB);
    header.U32(m_FrameBytes);
    header.U32(0);
    header.U32(0);
    header.U32(0);
    header.U32(0);
    header.Tag("LIST");
    header.U32(moviBytes);
    header.Tag("movi");

    if (header.Bytes().size() != FirstFrameOffset) return E_UNEXPECTED;
    if (placeholder) return WriteBytes(header.Bytes().data(), header.Bytes().size());
    return WriteAt(0, header.Bytes());
}
