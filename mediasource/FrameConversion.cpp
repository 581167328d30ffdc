#include "mediasource/FrameConversion.h"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(_M_X64) || defined(__i386__) || defined(_M_IX86)
#define QUILLON_SSE2_KERNELS 1
#include <emmintrin.h>
#if defined(__i386__) && defined(__GNUC__)
#include <cpuid.h>
#elif defined(_M_IX86)
#include <intrin.h>
#endif
#else
#define QUILLON_SSE2_KERNELS 0
#endif

#if QUILLON_SSE2_KERNELS && defined(__GNUC__)
// SSE2 only inside these functions, so that the rest of a 32-bit module keeps the
// base instruction set and the processor is asked first. A 32-bit Windows thread
// guarantees only 4-byte stack alignment, so the entry points realign theirs.
#if defined(__i386__)
#define SSE2_ENTRY __attribute__((target("sse2"), force_align_arg_pointer))
#else
#define SSE2_ENTRY __attribute__((target("sse2")))
#endif
#define SSE2_HELPER __attribute__((target("sse2"), always_inline)) inline
#elif QUILLON_SSE2_KERNELS
#define SSE2_ENTRY
#define SSE2_HELPER __forceinline
#endif

namespace {

// ---- One pixel, and the colour formulas --------------------------------------------------

// The header's formulas with their offsets folded in before the shift. U and V
// add 128 * 256, which keeps every intermediate value within 0..65535: the
// shift then needs no sign, and 16-bit vector lanes give the same results.
const int LumaBias = 128 + 16 * 256;
const int ChromaBias = 128 + 128 * 256;

const unsigned char NvBlackLuma = 16;
const unsigned char NvBlackChroma = 128;
const unsigned char BlackBgr[3] = {0, 0, 0};

inline unsigned char LumaOf(int blue, int green, int red)
{
    return static_cast<unsigned char>((66 * red + 129 * green + 25 * blue + LumaBias) >> 8);
}

inline unsigned char LumaOf(const unsigned char* bgr)
{
    return LumaOf(bgr[0], bgr[1], bgr[2]);
}

inline unsigned char BlueDifferenceOf(int blue, int green, int red)
{
    return static_cast<unsigned char>((112 * blue - 74 * green - 38 * red + ChromaBias) >> 8);
}

inline unsigned char RedDifferenceOf(int blue, int green, int red)
{
    return static_cast<unsigned char>((112 * red - 94 * green - 18 * blue + ChromaBias) >> 8);
}

// U then V of the 2 x 2 block of pixels a, b (upper row) and c, d (lower row).
inline void WriteBlockChroma(unsigned char* pair, const unsigned char* a, const unsigned char* b,
                             const unsigned char* c, const unsigned char* d)
{
    const int blue = (a[0] + b[0] + c[0] + d[0] + 2) >> 2;
    const int green = (a[1] + b[1] + c[1] + d[1] + 2) >> 2;
    const int red = (a[2] + b[2] + c[2] + d[2] + 2) >> 2;
    pair[0] = BlueDifferenceOf(blue, green, red);
    pair[1] = RedDifferenceOf(blue, green, red);
}

// ---- Row kernels: the plain C++ path -----------------------------------------------------

void BgrToBgrxScalar(const unsigned char* bgr, unsigned char* bgrx, int pixels)
{
    for (int x = 0; x < pixels; ++x, bgr += 3, bgrx += 4) {
        bgrx[0] = bgr[0];
        bgrx[1] = bgr[1];
        bgrx[2] = bgr[2];
        bgrx[3] = 255;
    }
}

// Two picture rows of 2 * blocks pixels each into their Y rows and one U,V row.
// lumaBottom is null for the last row of an odd height; bottom then repeats top.
void BgrToNv12RowPairScalar(const unsigned char* top, const unsigned char* bottom, unsigned char* lumaTop,
                            unsigned char* lumaBottom, unsigned char* chroma, int blocks)
{
    for (int block = 0; block < blocks; ++block, top += 6, bottom += 6) {
        lumaTop[2 * block] = LumaOf(top);
        lumaTop[2 * block + 1] = LumaOf(top + 3);
        if (lumaBottom) {
            lumaBottom[2 * block] = LumaOf(bottom);
            lumaBottom[2 * block + 1] = LumaOf(bottom + 3);
        }
        WriteBlockChroma(chroma + 2 * block, top, top + 3, bottom, bottom + 3);
    }
}

// ---- Row kernels: SSE2, 16 pixels a step ------------------------------------------------

#if QUILLON_SSE2_KERNELS

struct ColourPlanes {
    __m128i blue, green, red; // one byte a pixel
};

// One step of splitting 48 interleaved bytes: the six 8-byte halves h0..h5 of
// a, b, c become (h0 zip h3, h1 zip h4, h2 zip h5). That moves byte m to
// 2m mod 47 (byte 47 stays), so four steps move byte 3p + k, channel k of
// pixel p, to 16 (3p + k) mod 47 = 16k + p: blue, green and red each fill a
// register of their own, in pixel order.
SSE2_HELPER void ZipHalves(__m128i& a, __m128i& b, __m128i& c)
{
    const __m128i first = _mm_unpacklo_epi8(a, _mm_unpackhi_epi64(b, b));
    const __m128i second = _mm_unpacklo_epi8(_mm_unpackhi_epi64(a, a), c);
    const __m128i third = _mm_unpacklo_epi8(b, _mm_unpackhi_epi64(c, c));
    a = first;
    b = second;
    c = third;
}

// Reads exactly 16 BGR24 pixels (48 bytes).
SSE2_HELPER ColourPlanes LoadSixteenPixels(const unsigned char* bgr)
{
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 16));
    __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bgr + 32));
    for (int step = 0; step < 4; ++step)
        ZipHalves(a, b, c);
    return ColourPlanes{a, b, c};
}

SSE2_HELPER void Store(unsigned char* to, __m128i value)
{
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), value);
}

// The bit pattern of value in every 16-bit lane; values above 32767 wrap, as
// the lanes are used unsigned.
SSE2_HELPER __m128i Splat16(int value)
{
    return _mm_set1_epi16(static_cast<short>(value));
}

// Y of 8 pixels held one a 16-bit lane.
SSE2_HELPER __m128i LumaOfLanes(__m128i blue, __m128i green, __m128i red)
{
    const __m128i weighted =
        _mm_add_epi16(_mm_add_epi16(_mm_mullo_epi16(red, Splat16(66)), _mm_mullo_epi16(green, Splat16(129))),
                      _mm_mullo_epi16(blue, Splat16(25)));
    return _mm_srli_epi16(_mm_add_epi16(weighted, Splat16(LumaBias)), 8);
}

SSE2_HELPER __m128i LumaOfSixteen(const ColourPlanes& pixels)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i low =
        LumaOfLanes(_mm_unpacklo_epi8(pixels.blue, zero), _mm_unpacklo_epi8(pixels.green, zero),
                    _mm_unpacklo_epi8(pixels.red, zero));
    const __m128i high =
        LumaOfLanes(_mm_unpackhi_epi8(pixels.blue, zero), _mm_unpackhi_epi8(pixels.green, zero),
                    _mm_unpackhi_epi8(pixels.red, zero));
    return _mm_packus_epi16(low, high);
}

// The rounded average of each 2 x 2 block of one channel, a 16-bit lane a block.
SSE2_HELPER __m128i BlockAverages(__m128i upper, __m128i lower)
{
    const __m128i lowByte = Splat16(0x00FF);
    const __m128i upperPairs = _mm_add_epi16(_mm_and_si128(upper, lowByte), _mm_srli_epi16(upper, 8));
    const __m128i lowerPairs = _mm_add_epi16(_mm_and_si128(lower, lowByte), _mm_srli_epi16(lower, 8));
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(upperPairs, lowerPairs), Splat16(2)), 2);
}

// U,V of the 8 blocks of two rows of 16 pixels: 16 bytes, U first.
SSE2_HELPER __m128i ChromaOfEightBlocks(const ColourPlanes& upper, const ColourPlanes& lower)
{
    const __m128i blue = BlockAverages(upper.blue, lower.blue);
    const __m128i green = BlockAverages(upper.green, lower.green);
    const __m128i red = BlockAverages(upper.red, lower.red);
    const __m128i bias = Splat16(ChromaBias);
    const __m128i u =
        _mm_srli_epi16(_mm_sub_epi16(_mm_sub_epi16(_mm_add_epi16(_mm_mullo_epi16(blue, Splat16(112)), bias),
                                                   _mm_mullo_epi16(green, Splat16(74))),
                                     _mm_mullo_epi16(red, Splat16(38))),
                       8);
    const __m128i v =
        _mm_srli_epi16(_mm_sub_epi16(_mm_sub_epi16(_mm_add_epi16(_mm_mullo_epi16(red, Splat16(112)), bias),
                                                   _mm_mullo_epi16(green, Splat16(94))),
                                     _mm_mullo_epi16(blue, Splat16(18))),
                       8);
    return _mm_or_si128(u, _mm_slli_epi16(v, 8));
}

SSE2_ENTRY void BgrToBgrxSse2(const unsigned char* bgr, unsigned char* bgrx, int pixels)
{
    const __m128i opaque = _mm_set1_epi8(-1);
    int x = 0;
    for (; x + 16 <= pixels; x += 16) {
        const ColourPlanes planes = LoadSixteenPixels(bgr + 3 * x);
        const __m128i blueGreenLow = _mm_unpacklo_epi8(planes.blue, planes.green);
        const __m128i blueGreenHigh = _mm_unpackhi_epi8(planes.blue, planes.green);
        const __m128i redOpaqueLow = _mm_unpacklo_epi8(planes.red, opaque);
        const __m128i redOpaqueHigh = _mm_unpackhi_epi8(planes.red, opaque);
        unsigned char* out = bgrx + 4 * x;
        Store(out, _mm_unpacklo_epi16(blueGreenLow, redOpaqueLow));
        Store(out + 16, _mm_unpackhi_epi16(blueGreenLow, redOpaqueLow));
        Store(out + 32, _mm_unpacklo_epi16(blueGreenHigh, redOpaqueHigh));
        Store(out + 48, _mm_unpackhi_epi16(blueGreenHigh, redOpaqueHigh));
    }
    BgrToBgrxScalar(bgr + 3 * x, bgrx + 4 * x, pixels - x);
}

SSE2_ENTRY void BgrToNv12RowPairSse2(const unsigned char* top, const unsigned char* bottom,
                                     unsigned char* lumaTop, unsigned char* lumaBottom, unsigned char* chroma,
                                     int blocks)
{
    int block = 0;
    for (; block + 8 <= blocks; block += 8) {
        const ColourPlanes upper = LoadSixteenPixels(top + 6 * block);
        const ColourPlanes lower = LoadSixteenPixels(bottom + 6 * block);
        Store(lumaTop + 2 * block, LumaOfSixteen(upper));
        if (lumaBottom) Store(lumaBottom + 2 * block, LumaOfSixteen(lower));
        Store(chroma + 2 * block, ChromaOfEightBlocks(upper, lower));
    }
    BgrToNv12RowPairScalar(top + 6 * block, bottom + 6 * block, lumaTop + 2 * block,
                           lumaBottom ? lumaBottom + 2 * block : nullptr, chroma + 2 * block, blocks - block);
}

bool ProcessorHasSse2()
{
#if defined(__x86_64__) || defined(_M_X64)
    return true;
#elif defined(__GNUC__)
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (edx & bit_SSE2) != 0;
#else
    int registers[4] = {};
    __cpuid(registers, 1);
    return (registers[3] & (1 << 26)) != 0;
#endif
}

#endif // QUILLON_SSE2_KERNELS

struct RowKernels {
    void (*bgrToBgrx)(const unsigned char* bgr, unsigned char* bgrx, int pixels);
    void (*bgrToNv12RowPair)(const unsigned char* top, const unsigned char* bottom, unsigned char* lumaTop,
                             unsigned char* lumaBottom, unsigned char* chroma, int blocks);
};

const RowKernels ScalarKernels = {BgrToBgrxScalar, BgrToNv12RowPairScalar};
#if QUILLON_SSE2_KERNELS
const RowKernels Sse2Kernels = {BgrToBgrxSse2, BgrToNv12RowPairSse2};
#endif

bool HasVectorKernels()
{
#if QUILLON_SSE2_KERNELS
    static const bool hasSse2 = ProcessorHasSse2();
    return hasSse2;
#else
    return false;
#endif
}

const RowKernels& KernelsFor(ConversionPath path)
{
#if QUILLON_SSE2_KERNELS
    if (path == ConversionPath::Fastest && HasVectorKernels()) return Sse2Kernels;
#endif
    (void)path;
    return ScalarKernels;
}

// ---- Where the source lands in the destination --------------------------------------------

// One direction: `count` pixels from `sourceStart` of the source land at
// `destinationStart` of the destination.
struct AxisPlacement {
    int sourceStart;
    int destinationStart;
    int count;
    int DestinationEnd() const { return destinationStart + count; }
};

AxisPlacement Centre(int sourceLength, int destinationLength)
{
    if (sourceLength >= destinationLength)
        return {(sourceLength - destinationLength) / 2, 0, destinationLength};
    return {0, (destinationLength - sourceLength) / 2, sourceLength};
}

class FramePlacement {
  public:
    FramePlacement(const CameraFrameView& source, const ConvertedFrameView& destination)
        : m_Source(source), m_Columns(Centre(source.width, destination.width)),
          m_Rows(Centre(source.height, destination.height))
    {
    }

    const AxisPlacement& Columns() const { return m_Columns; }

    // The first copied source pixel of destination row `row` (0 = top), or
    // null when that row is all black.
    const unsigned char* SourceRow(int row) const
    {
        if (row < m_Rows.destinationStart || row >= m_Rows.DestinationEnd()) return nullptr;
        const int pictureRow = m_Rows.sourceStart + (row - m_Rows.destinationStart);
        const int memoryRow = m_Source.height - 1 - pictureRow;
        return m_Source.pixels + static_cast<ptrdiff_t>(memoryRow) * m_Source.stride +
               3 * m_Columns.sourceStart;
    }

  private:
    CameraFrameView m_Source;
    AxisPlacement m_Columns;
    AxisPlacement m_Rows;
};

unsigned char* DestinationRow(const ConvertedFrameView& destination, int row)
{
    return destination.buffer + static_cast<size_t>(row) * static_cast<size_t>(destination.stride);
}

// ---- RGB32 and RGB24 ------------------------------------------------------------------------

void FillOpaqueBlack(unsigned char* bgrx, int pixels)
{
    for (int x = 0; x < pixels; ++x, bgrx += 4) {
        bgrx[0] = bgrx[1] = bgrx[2] = 0;
        bgrx[3] = 255;
    }
}

void ConvertToRgb32(const FramePlacement& placement, const ConvertedFrameView& destination,
                    const RowKernels& kernels)
{
    const AxisPlacement& columns = placement.Columns();
    for (int y = 0; y < destination.height; ++y) {
        unsigned char* row = DestinationRow(destination, y);
        const unsigned char* source = placement.SourceRow(y);
        if (!source) {
            FillOpaqueBlack(row, destination.width);
            continue;
        }
        FillOpaqueBlack(row, columns.destinationStart);
        kernels.bgrToBgrx(source, row + 4 * columns.destinationStart, columns.count);
        FillOpaqueBlack(row + 4 * columns.DestinationEnd(), destination.width - columns.DestinationEnd());
    }
}

void ConvertToRgb24(const FramePlacement& placement, const ConvertedFrameView& destination)
{
    const AxisPlacement& columns = placement.Columns();
    for (int y = 0; y < destination.height; ++y) {
        unsigned char* row = DestinationRow(destination, y);
        const unsigned char* source = placement.SourceRow(y);
        if (!source) {
            memset(row, 0, 3 * static_cast<size_t>(destination.width));
            continue;
        }
        memset(row, 0, 3 * static_cast<size_t>(columns.destinationStart));
        memcpy(row + 3 * columns.destinationStart, source, 3 * static_cast<size_t>(columns.count));
        memset(row + 3 * columns.DestinationEnd(), 0,
               3 * static_cast<size_t>(destination.width - columns.DestinationEnd()));
    }
}

// ---- NV12 ------------------------------------------------------------------------------------

// Two destination rows and the U,V row they share.
struct Nv12RowPair {
    const unsigned char* top;    // first copied source pixel of the upper row, null when black
    const unsigned char* bottom; // the same for the lower row; repeats top on an odd height's last row
    unsigned char* lumaTop;
    unsigned char* lumaBottom; // null on an odd height's last row
    unsigned char* chroma;
};

class Nv12RowWriter {
  public:
    Nv12RowWriter(const AxisPlacement& columns, int width, const RowKernels& kernels)
        : m_Columns(columns), m_Width(width), m_BlocksAcross((width + 1) / 2), m_Kernels(kernels)
    {
    }

    void Write(const Nv12RowPair& rows) const
    {
        if (!rows.top && !rows.bottom) {
            FillBlack(rows, 0, m_BlocksAcross);
            return;
        }
        // Blocks that hold any copied pixel; the ones beside them are padding.
        const int firstTouched = m_Columns.destinationStart / 2;
        const int endTouched = (m_Columns.DestinationEnd() + 1) / 2;
        FillBlack(rows, 0, firstTouched);
        FillBlack(rows, endTouched, m_BlocksAcross);
        if (!rows.top || !rows.bottom) {
            // The picture's top or bottom edge cuts these blocks: one or two row pairs a frame.
            for (int block = firstTouched; block < endTouched; ++block)
                WriteEdgeBlock(rows, block);
            return;
        }
        // Blocks whose four pixels are all copied go to the row kernel; at most
        // one block on each side is shared with padding or the frame's odd edge.
        const int firstWhole = (m_Columns.destinationStart + 1) / 2;
        const int endWhole = m_Columns.DestinationEnd() / 2;
        if (firstTouched < firstWhole) WriteEdgeBlock(rows, firstTouched);
        if (firstWhole < endWhole) {
            const int skipped = 3 * (2 * firstWhole - m_Columns.destinationStart);
            m_Kernels.bgrToNv12RowPair(rows.top + skipped, rows.bottom + skipped,
                                       rows.lumaTop + 2 * firstWhole,
                                       rows.lumaBottom ? rows.lumaBottom + 2 * firstWhole : nullptr,
                                       rows.chroma + 2 * firstWhole, endWhole - firstWhole);
        }
        if (endWhole < endTouched) WriteEdgeBlock(rows, endWhole);
    }

  private:
    // Blocks [first, end) are padding: black luma in both rows, neutral chroma.
    void FillBlack(const Nv12RowPair& rows, int first, int end) const
    {
        if (first >= end) return;
        const int left = 2 * first;
        const int right = 2 * end < m_Width ? 2 * end : m_Width;
        memset(rows.lumaTop + left, NvBlackLuma, static_cast<size_t>(right - left));
        if (rows.lumaBottom) memset(rows.lumaBottom + left, NvBlackLuma, static_cast<size_t>(right - left));
        memset(rows.chroma + 2 * first, NvBlackChroma, 2 * static_cast<size_t>(end - first));
    }

    // A destination pixel of a row: the copied source pixel, or black outside the copied columns.
    const unsigned char* PixelAt(const unsigned char* sourceRow, int column) const
    {
        if (!sourceRow || column < m_Columns.destinationStart || column >= m_Columns.DestinationEnd())
            return BlackBgr;
        return sourceRow + 3 * (column - m_Columns.destinationStart);
    }

    // One block pixel by pixel; a block past an odd width repeats its left column.
    void WriteEdgeBlock(const Nv12RowPair& rows, int block) const
    {
        const int left = 2 * block;
        const int right = left + 1 < m_Width ? left + 1 : left;
        const unsigned char* upperLeft = PixelAt(rows.top, left);
        const unsigned char* upperRight = PixelAt(rows.top, right);
        const unsigned char* lowerLeft = PixelAt(rows.bottom, left);
        const unsigned char* lowerRight = PixelAt(rows.bottom, right);
        rows.lumaTop[left] = LumaOf(upperLeft);
        rows.lumaTop[right] = LumaOf(upperRight);
        if (rows.lumaBottom) {
            rows.lumaBottom[left] = LumaOf(lowerLeft);
            rows.lumaBottom[right] = LumaOf(lowerRight);
        }
        WriteBlockChroma(rows.chroma + 2 * block, upperLeft, upperRight, lowerLeft, lowerRight);
    }

    AxisPlacement m_Columns;
    int m_Width;
    int m_BlocksAcross;
    const RowKernels& m_Kernels;
};

void ConvertToNv12(const FramePlacement& placement, const ConvertedFrameView& destination,
                   const RowKernels& kernels)
{
    const Nv12RowWriter writer(placement.Columns(), destination.width, kernels);
    unsigned char* chromaPlane = DestinationRow(destination, destination.height);
    for (int blockRow = 0; blockRow < (destination.height + 1) / 2; ++blockRow) {
        const int upper = 2 * blockRow;
        const bool hasLower = upper + 1 < destination.height;
        Nv12RowPair rows;
        rows.top = placement.SourceRow(upper);
        rows.bottom = hasLower ? placement.SourceRow(upper + 1) : rows.top;
        rows.lumaTop = DestinationRow(destination, upper);
        rows.lumaBottom = hasLower ? DestinationRow(destination, upper + 1) : nullptr;
        rows.chroma = chromaPlane + static_cast<size_t>(blockRow) * static_cast<size_t>(destination.stride);
        writer.Write(rows);
    }
}

// ---- Checks ----------------------------------------------------------------------------------

bool InRange(int length)
{
    return length >= 1 && length <= MaxConvertedDimension;
}

bool IsUsableSource(const CameraFrameView& source)
{
    if (!source.pixels || !InRange(source.width) || !InRange(source.height)) return false;
    if (source.stride < 3 * source.width) return false;
    const uint64_t span = static_cast<uint64_t>(source.height - 1) * static_cast<uint64_t>(source.stride) +
                          3 * static_cast<uint64_t>(source.width);
    return span <= static_cast<uint64_t>(source.bytes);
}

} // namespace

int MinimumStride(PixelFormat format, int width)
{
    if (!InRange(width)) return 0;
    switch (format) {
    case PixelFormat::Nv12:
        return (width + 1) & ~1;
    case PixelFormat::Rgb32:
        return 4 * width;
    case PixelFormat::Rgb24:
        return 3 * width;
    }
    return 0;
}

int DefaultStride(PixelFormat format, int width)
{
    const int minimum = MinimumStride(format, width);
    return format == PixelFormat::Rgb24 ? (minimum + 3) & ~3 : minimum;
}

size_t FrameBufferBytes(PixelFormat format, int width, int height, int stride)
{
    const int minimum = MinimumStride(format, width);
    if (minimum == 0 || !InRange(height) || stride < minimum) return 0;
    const uint64_t rows = format == PixelFormat::Nv12 ? height + (height + 1) / 2 : height;
    const uint64_t bytes = rows * static_cast<uint64_t>(stride);
    if (bytes > SIZE_MAX) return 0;
    return static_cast<size_t>(bytes);
}

bool FastestPathIsVectorised()
{
    return HasVectorKernels();
}

bool ConvertCameraFrame(const CameraFrameView& source, const ConvertedFrameView& destination,
                        ConversionPath path)
{
    if (!IsUsableSource(source) || !destination.buffer) return false;
    const size_t needed =
        FrameBufferBytes(destination.format, destination.width, destination.height, destination.stride);
    if (needed == 0 || destination.bufferBytes < needed) return false;

    const FramePlacement placement(source, destination);
    switch (destination.format) {
    case PixelFormat::Nv12:
        ConvertToNv12(placement, destination, KernelsFor(path));
        return true;
    case PixelFormat::Rgb32:
        ConvertToRgb32(placement, destination, KernelsFor(path));
        return true;
    case PixelFormat::Rgb24:
        ConvertToRgb24(placement, destination);
        return true;
    }
    return false;
}
