#include "primitives/upsample.h"

#include <cstddef>
#include <cstring>

#include "primitives/simd.h"

namespace {

PrimitiveStatus CheckPlane(const uint8_t* plane, int32_t step, int32_t width, int32_t height) {
    if (plane == nullptr) {
        return PrimErrNullPointer;
    }
    if (step <= 0) {
        return PrimErrBadStep;
    }
    if (width <= 0 || height <= 0) {
        return PrimErrBadSize;
    }
    return PrimOk;
}

PrimitiveStatus CheckFilter(const uint8_t* src, int32_t srcStep, int32_t srcWidth,
                            int32_t srcHeight, const uint8_t* dst, int32_t dstStep,
                            int32_t dstWidth, int32_t dstHeight) {
    const PrimitiveStatus status = CheckPlane(src, srcStep, srcWidth, srcHeight);
    return status != PrimOk ? status : CheckPlane(dst, dstStep, dstWidth, dstHeight);
}

// ---------------------------------------------------------------------------
// Portable rows, from output column `from` on. Output column j lies between
// source columns s = j / 2 and its neighbour n: s - 1 for even j, s + 1 for
// odd j, weighted 3:1. The rounding terms differ between even and odd
// columns (1 and 2 horizontally, 8 and 7 in both directions), so that the
// rounding does not push every sample the same way.

void H2V1RowScalar(const uint8_t* src, uint8_t* dst, int32_t from, int32_t width) {
    for (int32_t j = from; j < width; ++j) {
        const int32_t s = j / 2;
        const int32_t odd = j & 1;
        const int32_t neighbour = odd ? s + 1 : s - 1;
        dst[j] = static_cast<uint8_t>((3 * src[s] + src[neighbour] + 1 + odd) >> 2);
    }
}

// `near` is the source row nearer to the output row (weight 3), `far` the
// other one (weight 1); each column pair is blended first.
void H2V2RowScalar(const uint8_t* near, const uint8_t* far, uint8_t* dst, int32_t from,
                   int32_t width) {
    for (int32_t j = from; j < width; ++j) {
        const int32_t s = j / 2;
        const int32_t odd = j & 1;
        const int32_t n = odd ? s + 1 : s - 1;
        const int32_t columnS = 3 * near[s] + far[s];
        const int32_t columnN = 3 * near[n] + far[n];
        dst[j] = static_cast<uint8_t>((3 * columnS + columnN + 8 - odd) >> 4);
    }
}

#if WEMB_HAVE_SSE2

// ---------------------------------------------------------------------------
// SSE2 rows: 16 output columns from 8 source columns, in 16-bit lanes (the
// largest sum, 16 x 255 + 8, fits easily). A group starting at output column
// j reads source columns j / 2 - 1 to j / 2 + 8, all inside what the whole
// row reads when j + 16 <= width. Each returns the columns it did.

WEMB_SSE2_INLINE __m128i Load8(const uint8_t* p) {
    return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                             _mm_setzero_si128());
}

WEMB_SSE2_INLINE void StoreInterleaved(uint8_t* dst, __m128i even, __m128i odd) {
    const __m128i evenBytes = _mm_packus_epi16(even, even);
    const __m128i oddBytes = _mm_packus_epi16(odd, odd);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_unpacklo_epi8(evenBytes, oddBytes));
}

WEMB_SSE2_INLINE __m128i Times3(__m128i v) { return _mm_add_epi16(_mm_add_epi16(v, v), v); }

WEMB_SSE2_INLINE int32_t H2V1RowVector(const uint8_t* src, uint8_t* dst, int32_t from,
                                      int32_t width) {
    const __m128i one = _mm_set1_epi16(1), two = _mm_set1_epi16(2);
    int32_t j = from;
    for (; j + 16 <= width; j += 16) {
        const uint8_t* s = src + j / 2;
        const __m128i centre = Times3(Load8(s));
        const __m128i even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(centre, Load8(s - 1)), one), 2);
        const __m128i odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(centre, Load8(s + 1)), two), 2);
        StoreInterleaved(dst + j, even, odd);
    }
    return j;
}

WEMB_SSE2_INLINE int32_t H2V2RowVector(const uint8_t* near, const uint8_t* far, uint8_t* dst,
                                      int32_t from, int32_t width) {
    const __m128i seven = _mm_set1_epi16(7), eight = _mm_set1_epi16(8);
    int32_t j = from;
    for (; j + 16 <= width; j += 16) {
        const int32_t s = j / 2;
        const __m128i left = _mm_add_epi16(Times3(Load8(near + s - 1)), Load8(far + s - 1));
        const __m128i centre = Times3(_mm_add_epi16(Times3(Load8(near + s)), Load8(far + s)));
        const __m128i right = _mm_add_epi16(Times3(Load8(near + s + 1)), Load8(far + s + 1));
        const __m128i even = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(centre, left), eight), 4);
        const __m128i odd = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(centre, right), seven), 4);
        StoreInterleaved(dst + j, even, odd);
    }
    return j;
}

// Each compiled for SSE2 and, with its three-operand encodings, for AVX.

WEMB_SSE2_ENTRY int32_t H2V1RowSse2(const uint8_t* src, uint8_t* dst, int32_t width) {
    return H2V1RowVector(src, dst, 0, width);
}

WEMB_AVX_ENTRY int32_t H2V1RowAvx(const uint8_t* src, uint8_t* dst, int32_t width) {
    return H2V1RowVector(src, dst, 0, width);
}

WEMB_SSE2_ENTRY int32_t H2V2RowSse2(const uint8_t* near, const uint8_t* far, uint8_t* dst,
                                    int32_t width) {
    return H2V2RowVector(near, far, dst, 0, width);
}

WEMB_AVX_ENTRY int32_t H2V2RowAvx(const uint8_t* near, const uint8_t* far, uint8_t* dst,
                                  int32_t width) {
    return H2V2RowVector(near, far, dst, 0, width);
}

#if WEMB_HAVE_AVX2

// ---------------------------------------------------------------------------
// AVX2 rows: the same sums for 32 output columns from 16 source columns in
// the sixteen 16-bit lanes of one register; a group starting at output column
// j reads source columns j / 2 - 1 to j / 2 + 16, inside what the whole row
// reads when j + 32 <= width. The widening keeps the columns in order, and
// the byte pack and interleave work within each 128-bit half, which holds
// source columns 0..7 and 8..15 of the group: the output stays in order.
// The last group of fewer than 32 columns is done 16 at a time as above.

WEMB_AVX2_INLINE __m256i Load16Wide(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

WEMB_AVX2_INLINE void StoreInterleaved32(uint8_t* dst, __m256i even, __m256i odd) {
    const __m256i evenBytes = _mm256_packus_epi16(even, even);
    const __m256i oddBytes = _mm256_packus_epi16(odd, odd);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst), _mm256_unpacklo_epi8(evenBytes, oddBytes));
}

WEMB_AVX2_INLINE __m256i Times3Wide(__m256i v) { return _mm256_add_epi16(_mm256_add_epi16(v, v), v); }

WEMB_AVX2_ENTRY int32_t H2V1RowAvx2(const uint8_t* src, uint8_t* dst, int32_t width) {
    const __m256i one = _mm256_set1_epi16(1), two = _mm256_set1_epi16(2);
    int32_t j = 0;
    for (; j + 32 <= width; j += 32) {
        const uint8_t* s = src + j / 2;
        const __m256i centre = Times3Wide(Load16Wide(s));
        const __m256i even =
            _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(centre, Load16Wide(s - 1)), one), 2);
        const __m256i odd =
            _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(centre, Load16Wide(s + 1)), two), 2);
        StoreInterleaved32(dst + j, even, odd);
    }
    return H2V1RowVector(src, dst, j, width);
}

WEMB_AVX2_ENTRY int32_t H2V2RowAvx2(const uint8_t* near, const uint8_t* far, uint8_t* dst,
                                    int32_t width) {
    const __m256i seven = _mm256_set1_epi16(7), eight = _mm256_set1_epi16(8);
    int32_t j = 0;
    for (; j + 32 <= width; j += 32) {
        const int32_t s = j / 2;
        const __m256i left = _mm256_add_epi16(Times3Wide(Load16Wide(near + s - 1)), Load16Wide(far + s - 1));
        const __m256i centre =
            Times3Wide(_mm256_add_epi16(Times3Wide(Load16Wide(near + s)), Load16Wide(far + s)));
        const __m256i right = _mm256_add_epi16(Times3Wide(Load16Wide(near + s + 1)), Load16Wide(far + s + 1));
        const __m256i even = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(centre, left), eight), 4);
        const __m256i odd = _mm256_srli_epi16(_mm256_add_epi16(_mm256_add_epi16(centre, right), seven), 4);
        StoreInterleaved32(dst + j, even, odd);
    }
    return H2V2RowVector(near, far, dst, j, width);
}

#endif

#endif

void H2V1Row(const uint8_t* src, uint8_t* dst, int32_t width) {
    int32_t done = 0;
#if WEMB_HAVE_SSE2
#if WEMB_HAVE_AVX2
    if (CpuHasAvx2()) {
        done = H2V1RowAvx2(src, dst, width);
    } else
#endif
    if (CpuHasAvx()) {
        done = H2V1RowAvx(src, dst, width);
    } else if (CpuHasSse2()) {
        done = H2V1RowSse2(src, dst, width);
    }
#endif
    H2V1RowScalar(src, dst, done, width);
}

void H2V2Row(const uint8_t* near, const uint8_t* far, uint8_t* dst, int32_t width) {
    int32_t done = 0;
#if WEMB_HAVE_SSE2
#if WEMB_HAVE_AVX2
    if (CpuHasAvx2()) {
        done = H2V2RowAvx2(near, far, dst, width);
    } else
#endif
    if (CpuHasAvx()) {
        done = H2V2RowAvx(near, far, dst, width);
    } else if (CpuHasSse2()) {
        done = H2V2RowSse2(near, far, dst, width);
    }
#endif
    H2V2RowScalar(near, far, dst, done, width);
}

}  // namespace

PrimitiveStatus UpsampleH2V1(const uint8_t* src, int32_t srcStep, int32_t srcWidth,
                             int32_t srcHeight, uint8_t* dst, int32_t dstStep, int32_t dstWidth,
                             int32_t dstHeight) {
    const PrimitiveStatus status =
        CheckFilter(src, srcStep, srcWidth, srcHeight, dst, dstStep, dstWidth, dstHeight);
    if (status != PrimOk) {
        return status;
    }
    for (int32_t i = 0; i < dstHeight; ++i) {
        H2V1Row(src + static_cast<ptrdiff_t>(i) * srcStep, dst + static_cast<ptrdiff_t>(i) * dstStep,
                dstWidth);
    }
    return PrimOk;
}

PrimitiveStatus UpsampleH2V2(const uint8_t* src, int32_t srcStep, int32_t srcWidth,
                             int32_t srcHeight, uint8_t* dst, int32_t dstStep, int32_t dstWidth,
                             int32_t dstHeight) {
    const PrimitiveStatus status =
        CheckFilter(src, srcStep, srcWidth, srcHeight, dst, dstStep, dstWidth, dstHeight);
    if (status != PrimOk) {
        return status;
    }
    for (int32_t i = 0; i < dstHeight; ++i) {
        // The far row is the one above the near row for even output rows and
        // the one below for odd rows; row 0 reads the border row above.
        const uint8_t* near = src + static_cast<ptrdiff_t>(i / 2) * srcStep;
        const uint8_t* far = (i & 1) ? near + srcStep : near - srcStep;
        H2V2Row(near, far, dst + static_cast<ptrdiff_t>(i) * dstStep, dstWidth);
    }
    return PrimOk;
}

PrimitiveStatus CopyBytes(const uint8_t* src, uint8_t* dst, int32_t length) {
    if (src == nullptr || dst == nullptr) {
        return PrimErrNullPointer;
    }
    if (length <= 0) {
        return PrimErrBadSize;
    }
    // The ranges never overlap, so the library copy moves the same bytes as
    // the ascending word copy would, and as fast as the machine allows.
    std::memcpy(dst, src, static_cast<size_t>(length));
    return PrimOk;
}
