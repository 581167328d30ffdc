// Writes uncompressed 24-bit video into an AVI file (RIFF 'AVI ' with
// 'hdrl', 'movi' and an 'idx1' index), frames stored bottom-up as delivered.
#ifndef BRISCACAP_AVI_FILE_WRITER_H
#define BRISCACAP_AVI_FILE_WRITER_H

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "framework/Raii.h"

class AviFileWriter {
public:
    // A plain AVI file must stay below 1 GB; frames beyond are refused.
    static const uint64_t DefaultSizeLimit = 1000ull * 1000 * 1000;

    explicit AviFileWriter(uint64_t sizeLimit = DefaultSizeLimit) : m_SizeLimit(sizeLimit) {}
    ~AviFileWriter();
    AviFileWriter(const AviFileWriter&) = delete;
    AviFileWriter& operator=(const AviFileWriter&) = delete;

    // Creates the file (replacing one that exists) for frames of the given
    // size; each frame holds bytesPerFrame bytes.
    HRESULT Open(const std::wstring& path, int width, int height, uint32_t bytesPerFrame);
    // Appends one frame; a shorter buffer is padded with black, a longer one cut.
    HRESULT WriteFrame(const unsigned char* data, size_t bytes);
    // Writes the index and the final headers and closes the file.
    HRESULT Close(double framesPerSecond);

    bool IsOpen() const { return static_cast<bool>(m_File); }
    bool HasRoomForFrame() const;
    uint32_t FramesWritten() const { return static_cast<uint32_t>(m_FrameOffsets.size()); }
    uint64_t FileSize() const { return m_FileSize; }

private:
    HRESULT WriteBytes(const void* data, size_t bytes);
    HRESULT WriteHeaders(double framesPerSecond);
    HRESULT WriteAt(uint64_t offset, const std::vector<unsigned char>& bytes);

    const uint64_t m_SizeLimit;
    UniqueHandle m_File;
    int m_Width = 0;
    int m_Height = 0;
    uint32_t m_FrameBytes = 0;
    uint64_t m_FileSize = 0;
    std::vector<uint32_t> m_FrameOffsets;  // of each chunk, from the 'movi' list type
    std::vector<unsigned char> m_Padding;
};

#endif
