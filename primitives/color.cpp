#include "primitives/color.h"

#include <cstddef>
#include <cstring>

#include "primitives/simd.h"

// ---------------------------------------------------------------------------
// Colour tables: JFIF YCbCr -> RGB in 16-bit fixed point (1.402, 1.772,
// 0.71414 and 0.34414 times 65536, rounded). R and B carry their rounding
// half and are already shifted; the two green terms are summed first and
// shifted once, so CbToG alone carries the half.

namespace {

constexpr int32_t CrToREntry(int32_t i) { return (91881 * (i - 128) + 32768) >> 16; }
constexpr int32_t CbToBEntry(int32_t i) { return (116130 * (i - 128) + 32768) >> 16; }
constexpr int32_t CrToGEntry(int32_t i) { return -46802 * (i - 128); }
constexpr int32_t CbToGEntry(int32_t i) { return -22554 * (i - 128) + 32768; }

}  // namespace

#define WEMB_ENTRIES16(f, i)                                                                  \
    f(i), f(i + 1), f(i + 2), f(i + 3), f(i + 4), f(i + 5), f(i + 6), f(i + 7), f(i + 8),   \
        f(i + 9), f(i + 10), f(i + 11), f(i + 12), f(i + 13), f(i + 14), f(i + 15)
#define WEMB_ENTRIES256(f)                                                                      \
    WEMB_ENTRIES16(f, 0), WEMB_ENTRIES16(f, 16), WEMB_ENTRIES16(f, 32), WEMB_ENTRIES16(f, 48),  \
        WEMB_ENTRIES16(f, 64), WEMB_ENTRIES16(f, 80), WEMB_ENTRIES16(f, 96),                    \
        WEMB_ENTRIES16(f, 112), WEMB_ENTRIES16(f, 128), WEMB_ENTRIES16(f, 144),                 \
        WEMB_ENTRIES16(f, 160), WEMB_ENTRIES16(f, 176), WEMB_ENTRIES16(f, 192),                 \
        WEMB_ENTRIES16(f, 208), WEMB_ENTRIES16(f, 224), WEMB_ENTRIES16(f, 240)

constexpr int32_t CrToR[256] = {WEMB_ENTRIES256(CrToREntry)};
constexpr int32_t CbToB[256] = {WEMB_ENTRIES256(CbToBEntry)};
constexpr int32_t CrToG[256] = {WEMB_ENTRIES256(CrToGEntry)};
constexpr int32_t CbToG[256] = {WEMB_ENTRIES256(CbToGEntry)};

#undef WEMB_ENTRIES256
#undef WEMB_ENTRIES16

static_assert(CrToR[0] == -179 && CrToR[128] == 0 && CrToR[255] == 178, "CrToR range");
static_assert(CbToB[0] == -227 && CbToB[128] == 0 && CbToB[255] == 225, "CbToB range");
static_assert(CrToG[0] == 5990656 && CrToG[255] == -5943854, "CrToG range");
static_assert(CbToG[0] == 2919680 && CbToG[128] == 32768 && CbToG[255] == -2831590,
              "CbToG range");

namespace {

uint8_t Clamp255(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Where pixel j of row i of a plane or destination starts.
const uint8_t* RowOf(const uint8_t* base, int32_t step, size_t row) {
    return base + static_cast<ptrdiff_t>(row) * step;
}
uint8_t* RowOf(uint8_t* base, int32_t step, size_t row) {
    return base + static_cast<ptrdiff_t>(row) * step;
}

// Rows of one call. When the source rows are exactly `width` bytes apart and
// the destination rows exactly `channels` x `width`, the image is one long
// row; that saves the per-row overhead and gives the same bytes.
struct Extent {
    size_t rowLength;
    size_t rows;
};

Extent ExtentOf(int32_t srcStep, int32_t dstStep, int32_t channels, int32_t width, int32_t height) {
    if (srcStep == width && static_cast<int64_t>(dstStep) == int64_t{channels} * srcStep) {
        return {static_cast<size_t>(width) * static_cast<size_t>(height), 1};
    }
    return {static_cast<size_t>(width), static_cast<size_t>(height)};
}

PrimitiveStatus CheckPlanes(const uint8_t* const* planes, int32_t count, const uint8_t* dst) {
    if (planes == nullptr || dst == nullptr) {
        return PrimErrNullPointer;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (planes[i] == nullptr) {
            return PrimErrNullPointer;
        }
    }
    return PrimOk;
}

PrimitiveStatus CheckSteps(int32_t srcStep, int32_t dstStep) {
    return srcStep <= 0 || dstStep <= 0 ? PrimErrBadStep : PrimOk;
}

PrimitiveStatus CheckSize(int32_t width, int32_t height) {
    return width <= 0 || height <= 0 ? PrimErrBadSize : PrimOk;
}

// The source rows of one destination row, in plane order.
struct SourceRows {
    const uint8_t* plane[4];
};

SourceRows SourceRowsOf(const uint8_t* const* planes, int32_t count, int32_t step, size_t row) {
    SourceRows rows = {};
    for (int32_t c = 0; c < count; ++c) {
        rows.plane[c] = RowOf(planes[c], step, row);
    }
    return rows;
}

// Output byte orders of the colour transforms.
enum class Layout { BGR, RGB, CMYK };

// ---------------------------------------------------------------------------
// Portable rows. Each starts at pixel `from`, so that the SSE2 rows can hand
// over the pixels that do not fill a whole group.

void InterleaveRowScalar(const SourceRows& src, int32_t channels, uint8_t* dst, size_t from,
                         size_t length) {
    for (size_t j = from; j < length; ++j) {
        for (int32_t c = 0; c < channels; ++c) {
            dst[j * channels + c] = src.plane[c][j];
        }
    }
}

void ConvertRowScalar(const SourceRows& src, Layout layout, uint8_t* dst, size_t from,
                      size_t length) {
    for (size_t j = from; j < length; ++j) {
        const int32_t y = src.plane[0][j], cb = src.plane[1][j], cr = src.plane[2][j];
        const uint8_t r = Clamp255(y + CrToR[cr]);
        const uint8_t g = Clamp255(y + ((CbToG[cb] + CrToG[cr]) >> 16));
        const uint8_t b = Clamp255(y + CbToB[cb]);
        if (layout == Layout::BGR) {
            uint8_t* p = dst + 3 * j;
            p[0] = b, p[1] = g, p[2] = r;
        } else if (layout == Layout::RGB) {
            uint8_t* p = dst + 3 * j;
            p[0] = r, p[1] = g, p[2] = b;
        } else {
            uint8_t* p = dst + 4 * j;
            p[0] = static_cast<uint8_t>(255 - r), p[1] = static_cast<uint8_t>(255 - g);
            p[2] = static_cast<uint8_t>(255 - b), p[3] = src.plane[3][j];
        }
    }
}

#if WEMB_HAVE_SSE2

// ---------------------------------------------------------------------------
// SSE2 rows, 16 pixels at a time; each returns how many pixels it did.

WEMB_SSE2_INLINE __m128i Load16(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

WEMB_SSE2_INLINE void Store16(uint8_t* p, __m128i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// Four pixels of 4 bytes (the last zero) squeezed into 12 bytes, bytes 12..15
// zero. Within each 64-bit half the second pixel moves down one byte onto
// the first one's zero byte; then the upper half moves down two bytes.
WEMB_SSE2_INLINE __m128i Squeeze4(__m128i p) {
    const __m128i first = _mm_set_epi32(0, -1, 0, -1);
    const __m128i second = _mm_set_epi32(0xFFFF, static_cast<int32_t>(0xFF000000u), 0xFFFF,
                                         static_cast<int32_t>(0xFF000000u));
    const __m128i pairs =
        _mm_or_si128(_mm_and_si128(p, first), _mm_and_si128(_mm_srli_epi64(p, 8), second));
    return _mm_or_si128(_mm_move_epi64(pairs), _mm_slli_si128(_mm_srli_si128(pairs, 8), 6));
}

// 16 pixels of 3 channels, 48 bytes.
WEMB_SSE2_INLINE void Store3x16(uint8_t* dst, __m128i c0, __m128i c1, __m128i c2) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lo01 = _mm_unpacklo_epi8(c0, c1), hi01 = _mm_unpackhi_epi8(c0, c1);
    const __m128i lo2 = _mm_unpacklo_epi8(c2, zero), hi2 = _mm_unpackhi_epi8(c2, zero);
    const __m128i p0 = Squeeze4(_mm_unpacklo_epi16(lo01, lo2));
    const __m128i p1 = Squeeze4(_mm_unpackhi_epi16(lo01, lo2));
    const __m128i p2 = Squeeze4(_mm_unpacklo_epi16(hi01, hi2));
    const __m128i p3 = Squeeze4(_mm_unpackhi_epi16(hi01, hi2));
    Store16(dst, _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
    Store16(dst + 16, _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
    Store16(dst + 32, _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
}

// 16 pixels of 4 channels, 64 bytes.
WEMB_SSE2_INLINE void Store4x16(uint8_t* dst, __m128i c0, __m128i c1, __m128i c2, __m128i c3) {
    const __m128i lo01 = _mm_unpacklo_epi8(c0, c1), hi01 = _mm_unpackhi_epi8(c0, c1);
    const __m128i lo23 = _mm_unpacklo_epi8(c2, c3), hi23 = _mm_unpackhi_epi8(c2, c3);
    Store16(dst, _mm_unpacklo_epi16(lo01, lo23));
    Store16(dst + 16, _mm_unpackhi_epi16(lo01, lo23));
    Store16(dst + 32, _mm_unpacklo_epi16(hi01, hi23));
    Store16(dst + 48, _mm_unpackhi_epi16(hi01, hi23));
}

#if WEMB_HAVE_SSSE3

// Store3x16 with byte shuffles. From lo = (c0, c1) bytes 0..7 interleaved and
// hi = the same of bytes 8..15, output byte 3p + ch (ch < 2) is byte 2p + ch
// of lo (p < 8) or 2(p - 8) + ch of hi, and output byte 3p + 2 is byte p of
// c2; a shuffle index of -128 yields zero, so each output block is the OR of
// its shuffled sources.
WEMB_SSSE3_INLINE void Store3x16Ssse3(uint8_t* dst, __m128i c0, __m128i c1, __m128i c2) {
    const __m128i lo = _mm_unpacklo_epi8(c0, c1), hi = _mm_unpackhi_epi8(c0, c1);
    const __m128i out0 = _mm_or_si128(
        _mm_shuffle_epi8(lo, _mm_setr_epi8(0, 1, -128, 2, 3, -128, 4, 5, -128, 6, 7, -128, 8, 9, -128, 10)),
        _mm_shuffle_epi8(c2, _mm_setr_epi8(-128, -128, 0, -128, -128, 1, -128, -128, 2, -128, -128, 3,
                                           -128, -128, 4, -128)));
    const __m128i out1 = _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(lo, _mm_setr_epi8(11, -128, 12, 13, -128, 14, 15, -128, -128, -128,
                                                        -128, -128, -128, -128, -128, -128)),
                     _mm_shuffle_epi8(hi, _mm_setr_epi8(-128, -128, -128, -128, -128, -128, -128, -128, 0,
                                                        1, -128, 2, 3, -128, 4, 5))),
        _mm_shuffle_epi8(c2, _mm_setr_epi8(-128, 5, -128, -128, 6, -128, -128, 7, -128, -128, 8, -128,
                                           -128, 9, -128, -128)));
    const __m128i out2 = _mm_or_si128(
        _mm_shuffle_epi8(hi, _mm_setr_epi8(-128, 6, 7, -128, 8, 9, -128, 10, 11, -128, 12, 13, -128, 14,
                                           15, -128)),
        _mm_shuffle_epi8(c2, _mm_setr_epi8(10, -128, -128, 11, -128, -128, 12, -128, -128, 13, -128, -128,
                                           14, -128, -128, 15)));
    Store16(dst, out0);
    Store16(dst + 16, out1);
    Store16(dst + 32, out2);
}

#endif

WEMB_SSE2_ENTRY size_t InterleaveRowSse2(const SourceRows& src, int32_t channels, uint8_t* dst,
                                         size_t length) {
    size_t j = 0;
    for (; j + 16 <= length; j += 16) {
        const __m128i c0 = Load16(src.plane[0] + j), c1 = Load16(src.plane[1] + j),
                      c2 = Load16(src.plane[2] + j);
        if (channels == 3) {
            Store3x16(dst + 3 * j, c0, c1, c2);
        } else {
            Store4x16(dst + 4 * j, c0, c1, c2, Load16(src.plane[3] + j));
        }
    }
    return j;
}

// The table terms of eight pixels computed instead of looked up, with the
// same results: a multiplier m = 65536 n + f (n whole, |f| < 32768) is
// applied as n x c plus a 16-bit product for f.
//   CrToR: 91881 = 65536 + 26345:      c + ((26345 c + 32768) >> 16)
//   CbToB: 116130 = 131072 - 14942:    2c + ((-14942 c + 32768) >> 16)
//   green: -46802 = 18734 - 65536:     ((-22554 cb + 18734 cr + 32768) >> 16) - cr
// (k c + 32768) >> 16 comes from _mm_mulhi_epi16 on 2c, which gives
// floor(2 k c / 65536), plus one, halved.
WEMB_SSE2_INLINE __m128i RoundedProduct(__m128i c, int16_t k) {
    const __m128i product = _mm_mulhi_epi16(_mm_add_epi16(c, c), _mm_set1_epi16(k));
    return _mm_srai_epi16(_mm_add_epi16(product, _mm_set1_epi16(1)), 1);
}

struct Rgb16 {
    __m128i r, g, b;  // 8 pixels as 16-bit values, before clamping
};

WEMB_SSE2_INLINE Rgb16 YccToRgb8(__m128i y, __m128i cb, __m128i cr) {
    const __m128i centre = _mm_set1_epi16(128);
    cb = _mm_sub_epi16(cb, centre);
    cr = _mm_sub_epi16(cr, centre);
    const __m128i greenPair = _mm_set_epi16(18734, -22554, 18734, -22554, 18734, -22554, 18734, -22554);
    const __m128i half = _mm_set1_epi32(32768);
    const __m128i greenLo = _mm_srai_epi32(
        _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(cb, cr), greenPair), half), 16);
    const __m128i greenHi = _mm_srai_epi32(
        _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(cb, cr), greenPair), half), 16);
    const __m128i green = _mm_sub_epi16(_mm_packs_epi32(greenLo, greenHi), cr);
    const __m128i red = _mm_add_epi16(RoundedProduct(cr, 26345), cr);
    const __m128i blue = _mm_add_epi16(RoundedProduct(cb, -14942), _mm_add_epi16(cb, cb));
    return {_mm_add_epi16(y, red), _mm_add_epi16(y, green), _mm_add_epi16(y, blue)};
}

WEMB_SSE2_ENTRY size_t ConvertRowSse2(const SourceRows& src, Layout layout, uint8_t* dst,
                                      size_t length) {
    const __m128i zero = _mm_setzero_si128();
    size_t j = 0;
    for (; j + 16 <= length; j += 16) {
        const __m128i y = Load16(src.plane[0] + j), cb = Load16(src.plane[1] + j),
                      cr = Load16(src.plane[2] + j);
        const Rgb16 lo = YccToRgb8(_mm_unpacklo_epi8(y, zero), _mm_unpacklo_epi8(cb, zero),
                                   _mm_unpacklo_epi8(cr, zero));
        const Rgb16 hi = YccToRgb8(_mm_unpackhi_epi8(y, zero), _mm_unpackhi_epi8(cb, zero),
                                   _mm_unpackhi_epi8(cr, zero));
        // The unsigned pack clamps to 0..255.
        const __m128i r = _mm_packus_epi16(lo.r, hi.r);
        const __m128i g = _mm_packus_epi16(lo.g, hi.g);
        const __m128i b = _mm_packus_epi16(lo.b, hi.b);
        if (layout == Layout::BGR) {
            Store3x16(dst + 3 * j, b, g, r);
        } else if (layout == Layout::RGB) {
            Store3x16(dst + 3 * j, r, g, b);
        } else {
            const __m128i ones = _mm_set1_epi8(-1);  // 255 - v is v with every bit flipped
            Store4x16(dst + 4 * j, _mm_xor_si128(r, ones), _mm_xor_si128(g, ones),
                      _mm_xor_si128(b, ones), Load16(src.plane[3] + j));
        }
    }
    return j;
}

#endif

#if WEMB_HAVE_SSSE3

// The 3-channel rows of the SSE2 routines above, with the shuffle store;
// each compiled for SSSE3 and, with its three-operand encodings, for AVX.

WEMB_SSSE3_INLINE size_t InterleaveRow3Shuffled(const SourceRows& src, uint8_t* dst, size_t length) {
    size_t j = 0;
    for (; j + 16 <= length; j += 16) {
        Store3x16Ssse3(dst + 3 * j, Load16(src.plane[0] + j), Load16(src.plane[1] + j),
                       Load16(src.plane[2] + j));
    }
    return j;
}

WEMB_SSSE3_INLINE size_t ConvertRow3Shuffled(const SourceRows& src, bool bgr, uint8_t* dst,
                                             size_t from, size_t length) {
    const __m128i zero = _mm_setzero_si128();
    size_t j = from;
    for (; j + 16 <= length; j += 16) {
        const __m128i y = Load16(src.plane[0] + j), cb = Load16(src.plane[1] + j),
                      cr = Load16(src.plane[2] + j);
        const Rgb16 lo = YccToRgb8(_mm_unpacklo_epi8(y, zero), _mm_unpacklo_epi8(cb, zero),
                                   _mm_unpacklo_epi8(cr, zero));
        const Rgb16 hi = YccToRgb8(_mm_unpackhi_epi8(y, zero), _mm_unpackhi_epi8(cb, zero),
                                   _mm_unpackhi_epi8(cr, zero));
        const __m128i r = _mm_packus_epi16(lo.r, hi.r);
        const __m128i g = _mm_packus_epi16(lo.g, hi.g);
        const __m128i b = _mm_packus_epi16(lo.b, hi.b);
        if (bgr) {
            Store3x16Ssse3(dst + 3 * j, b, g, r);
        } else {
            Store3x16Ssse3(dst + 3 * j, r, g, b);
        }
    }
    return j;
}

WEMB_SSSE3_ENTRY size_t InterleaveRow3Ssse3(const SourceRows& src, uint8_t* dst, size_t length) {
    return InterleaveRow3Shuffled(src, dst, length);
}

WEMB_AVX_ENTRY size_t InterleaveRow3Avx(const SourceRows& src, uint8_t* dst, size_t length) {
    return InterleaveRow3Shuffled(src, dst, length);
}

WEMB_SSSE3_ENTRY size_t ConvertRow3Ssse3(const SourceRows& src, bool bgr, uint8_t* dst,
                                         size_t length) {
    return ConvertRow3Shuffled(src, bgr, dst, 0, length);
}

WEMB_AVX_ENTRY size_t ConvertRow3Avx(const SourceRows& src, bool bgr, uint8_t* dst, size_t length) {
    return ConvertRow3Shuffled(src, bgr, dst, 0, length);
}

#endif

#if WEMB_HAVE_AVX2

// ---------------------------------------------------------------------------
// The YCbCr rows with AVX2: the arithmetic of YccToRgb8 on 16 pixels per
// register. The byte unpacks, the pair multiply-adds and the packs all work
// within each 128-bit half, and the packs put the halves' results back in
// pixel order, so the 32 pixels come out in order and go to the shuffle
// store 16 at a time. The rest of a row is done 16 at a time, then scalar.

WEMB_AVX2_INLINE __m256i RoundedProductWide(__m256i c, int16_t k) {
    const __m256i product = _mm256_mulhi_epi16(_mm256_add_epi16(c, c), _mm256_set1_epi16(k));
    return _mm256_srai_epi16(_mm256_add_epi16(product, _mm256_set1_epi16(1)), 1);
}

struct Rgb16Wide {
    __m256i r, g, b;  // 16 pixels as 16-bit values, before clamping
};

WEMB_AVX2_INLINE Rgb16Wide YccToRgbWide(__m256i y, __m256i cb, __m256i cr) {
    const __m256i centre = _mm256_set1_epi16(128);
    cb = _mm256_sub_epi16(cb, centre);
    cr = _mm256_sub_epi16(cr, centre);
    const uint32_t pair = uint32_t{static_cast<uint16_t>(-22554)} | (uint32_t{18734} << 16);
    const __m256i greenPair = _mm256_set1_epi32(static_cast<int32_t>(pair));
    const __m256i half = _mm256_set1_epi32(32768);
    const __m256i greenLo = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(cb, cr), greenPair), half), 16);
    const __m256i greenHi = _mm256_srai_epi32(
        _mm256_add_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(cb, cr), greenPair), half), 16);
    const __m256i green = _mm256_sub_epi16(_mm256_packs_epi32(greenLo, greenHi), cr);
    const __m256i red = _mm256_add_epi16(RoundedProductWide(cr, 26345), cr);
    const __m256i blue = _mm256_add_epi16(RoundedProductWide(cb, -14942), _mm256_add_epi16(cb, cb));
    return {_mm256_add_epi16(y, red), _mm256_add_epi16(y, green), _mm256_add_epi16(y, blue)};
}

WEMB_AVX2_INLINE __m256i Load32(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

WEMB_AVX2_ENTRY size_t ConvertRow3Avx2(const SourceRows& src, bool bgr, uint8_t* dst, size_t length) {
    const __m256i zero = _mm256_setzero_si256();
    size_t j = 0;
    for (; j + 32 <= length; j += 32) {
        const __m256i y = Load32(src.plane[0] + j), cb = Load32(src.plane[1] + j),
                      cr = Load32(src.plane[2] + j);
        const Rgb16Wide lo = YccToRgbWide(_mm256_unpacklo_epi8(y, zero), _mm256_unpacklo_epi8(cb, zero),
                                          _mm256_unpacklo_epi8(cr, zero));
        const Rgb16Wide hi = YccToRgbWide(_mm256_unpackhi_epi8(y, zero), _mm256_unpackhi_epi8(cb, zero),
                                          _mm256_unpackhi_epi8(cr, zero));
        // The unsigned pack clamps to 0..255.
        const __m256i r = _mm256_packus_epi16(lo.r, hi.r);
        const __m256i g = _mm256_packus_epi16(lo.g, hi.g);
        const __m256i b = _mm256_packus_epi16(lo.b, hi.b);
        const __m256i first = bgr ? b : r;
        const __m256i last = bgr ? r : b;
        Store3x16Ssse3(dst + 3 * j, _mm256_castsi256_si128(first), _mm256_castsi256_si128(g),
                       _mm256_castsi256_si128(last));
        Store3x16Ssse3(dst + 3 * j + 48, _mm256_extracti128_si256(first, 1),
                       _mm256_extracti128_si256(g, 1), _mm256_extracti128_si256(last, 1));
    }
    return ConvertRow3Shuffled(src, bgr, dst, j, length);
}

#endif

void InterleaveRow(const SourceRows& src, int32_t channels, uint8_t* dst, size_t length) {
    size_t done = 0;
#if WEMB_HAVE_SSSE3
    if (channels == 3 && CpuHasAvx()) {
        done = InterleaveRow3Avx(src, dst, length);
    } else if (channels == 3 && CpuHasSsse3()) {
        done = InterleaveRow3Ssse3(src, dst, length);
    } else
#endif
#if WEMB_HAVE_SSE2
    if (CpuHasSse2()) {
        done = InterleaveRowSse2(src, channels, dst, length);
    }
#endif
    InterleaveRowScalar(src, channels, dst, done, length);
}

void ConvertRow(const SourceRows& src, Layout layout, uint8_t* dst, size_t length) {
    size_t done = 0;
#if WEMB_HAVE_SSSE3
#if WEMB_HAVE_AVX2
    if (layout != Layout::CMYK && CpuHasAvx2()) {
        done = ConvertRow3Avx2(src, layout == Layout::BGR, dst, length);
    } else
#endif
    if (layout != Layout::CMYK && CpuHasAvx()) {
        done = ConvertRow3Avx(src, layout == Layout::BGR, dst, length);
    } else if (layout != Layout::CMYK && CpuHasSsse3()) {
        done = ConvertRow3Ssse3(src, layout == Layout::BGR, dst, length);
    } else
#endif
#if WEMB_HAVE_SSE2
    if (CpuHasSse2()) {
        done = ConvertRowSse2(src, layout, dst, length);
    }
#endif
    ConvertRowScalar(src, layout, dst, done, length);
}

PrimitiveStatus Interleave(const uint8_t* const* planes, int32_t channels, int32_t srcStep,
                           uint8_t* dst, int32_t dstStep, int32_t width, int32_t height) {
    PrimitiveStatus status = CheckPlanes(planes, channels, dst);
    if (status == PrimOk) {
        status = CheckSize(width, height);
    }
    if (status != PrimOk) {
        return status;
    }
    const Extent extent = ExtentOf(srcStep, dstStep, channels, width, height);
    for (size_t i = 0; i < extent.rows; ++i) {
        InterleaveRow(SourceRowsOf(planes, channels, srcStep, i), channels,
                      RowOf(dst, dstStep, i), extent.rowLength);
    }
    return PrimOk;
}

PrimitiveStatus Convert(const uint8_t* const* planes, int32_t planeCount, Layout layout,
                        int32_t srcStep, uint8_t* dst, int32_t dstStep, int32_t width,
                        int32_t height) {
    PrimitiveStatus status = CheckPlanes(planes, planeCount, dst);
    if (status == PrimOk) {
        status = CheckSteps(srcStep, dstStep);
    }
    if (status == PrimOk) {
        status = CheckSize(width, height);
    }
    if (status != PrimOk) {
        return status;
    }
    const int32_t channels = layout == Layout::CMYK ? 4 : 3;
    const Extent extent = ExtentOf(srcStep, dstStep, channels, width, height);
    for (size_t i = 0; i < extent.rows; ++i) {
        ConvertRow(SourceRowsOf(planes, planeCount, srcStep, i), layout, RowOf(dst, dstStep, i),
                   extent.rowLength);
    }
    return PrimOk;
}

}  // namespace

PrimitiveStatus CopyPlane8u(const uint8_t* src, int32_t srcStep, uint8_t* dst, int32_t dstStep,
                            int32_t width, int32_t height) {
    if (src == nullptr || dst == nullptr) {
        return PrimErrNullPointer;
    }
    const PrimitiveStatus status = CheckSize(width, height);
    if (status != PrimOk) {
        return status;
    }
    const Extent extent = ExtentOf(srcStep, dstStep, 1, width, height);
    for (size_t i = 0; i < extent.rows; ++i) {
        std::memcpy(RowOf(dst, dstStep, i), RowOf(src, srcStep, i), extent.rowLength);
    }
    return PrimOk;
}

PrimitiveStatus InterleavePlanes3(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                                  int32_t dstStep, int32_t width, int32_t height) {
    return Interleave(planes, 3, srcStep, dst, dstStep, width, height);
}

PrimitiveStatus InterleavePlanes4(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                                  int32_t dstStep, int32_t width, int32_t height) {
    return Interleave(planes, 4, srcStep, dst, dstStep, width, height);
}

PrimitiveStatus YCbCrToBGR(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                           int32_t dstStep, int32_t width, int32_t height) {
    return Convert(planes, 3, Layout::BGR, srcStep, dst, dstStep, width, height);
}

PrimitiveStatus YCbCrToRGB(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                           int32_t dstStep, int32_t width, int32_t height) {
    return Convert(planes, 3, Layout::RGB, srcStep, dst, dstStep, width, height);
}

PrimitiveStatus YCCKToCMYK(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                           int32_t dstStep, int32_t width, int32_t height) {
    return Convert(planes, 4, Layout::CMYK, srcStep, dst, dstStep, width, height);
}
