// Block reconstruction with AVX2: the eight 32-bit lanes of each term of the
// transform in one 256-bit register, half the instructions of the SSE2
// pairs for the same products and sums.
#include <immintrin.h>

#include "primitives/x86/idct_body.h"
#include "primitives/x86/vector256.h"
#include "primitives/x86/x86_kernels.h"

namespace {

// Lane k at element k: _mm256_cvtepi16_epi32 widens the eight 16-bit lanes in
// that order, and so does putting the low and high unpacks of a pair side by
// side.
struct IdctLanes256 {
    using Row = __m128i;
    using Vec = __m256i;

    static WEMB_VECTOR_INLINE Vec MulAdd(__m128i a, __m128i b, int16_t first, int16_t second) {
        const __m256i pairs = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)),
                                                      _mm_unpackhi_epi16(a, b), 1);
        return _mm256_madd_epi16(pairs, Vector256::SetPair16(first, second));
    }
    static WEMB_VECTOR_INLINE Vec Add(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec Sub(Vec a, Vec b) { return _mm256_sub_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec Plus(Vec a, int32_t c) { return _mm256_add_epi32(a, _mm256_set1_epi32(c)); }
    static WEMB_VECTOR_INLINE Vec Times65536(__m128i x) { return _mm256_slli_epi32(_mm256_cvtepi16_epi32(x), 16); }
    static WEMB_VECTOR_INLINE Vec Times32768(__m128i x) { return _mm256_slli_epi32(_mm256_cvtepi16_epi32(x), 15); }
    static WEMB_VECTOR_INLINE Vec OddScale(Vec t) {
        return _mm256_mullo_epi32(_mm256_srai_epi32(_mm256_add_epi32(t, _mm256_set1_epi32(2048)), 12),
                                  _mm256_set1_epi32(5793));
    }
    template <bool kColumns>
    static WEMB_VECTOR_INLINE __m128i Finish(Vec v) {
        const __m256i shifted = kColumns ? _mm256_srai_epi32(_mm256_slli_epi32(v, 4), 16) : _mm256_srai_epi32(v, 21);
        return _mm_packs_epi32(_mm256_castsi256_si128(shifted), _mm256_extracti128_si256(shifted, 1));
    }
};

// Sixteen steps: two blocks side by side, the left block's rows in the low
// 128-bit half of every register and the right block's in the high half.
// AVX2's unpacks and packs stay within the halves, so each block's steps get
// exactly the lanes and operations of IdctLanes128, twice as many at once.
struct IdctLanesPair {
    using Row = __m256i;
    struct Vec {
        __m256i lo, hi;
    };

    static WEMB_VECTOR_INLINE Vec MulAdd(Row a, Row b, int16_t first, int16_t second) {
        const __m256i pair = Vector256::SetPair16(first, second);
        return {_mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), pair),
                _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), pair)};
    }
    static WEMB_VECTOR_INLINE Vec Add(Vec a, Vec b) {
        return {_mm256_add_epi32(a.lo, b.lo), _mm256_add_epi32(a.hi, b.hi)};
    }
    static WEMB_VECTOR_INLINE Vec Sub(Vec a, Vec b) {
        return {_mm256_sub_epi32(a.lo, b.lo), _mm256_sub_epi32(a.hi, b.hi)};
    }
    static WEMB_VECTOR_INLINE Vec Plus(Vec a, int32_t c) {
        const __m256i constant = _mm256_set1_epi32(c);
        return {_mm256_add_epi32(a.lo, constant), _mm256_add_epi32(a.hi, constant)};
    }
    static WEMB_VECTOR_INLINE Vec Times65536(Row x) {
        const __m256i zero = _mm256_setzero_si256();
        return {_mm256_unpacklo_epi16(zero, x), _mm256_unpackhi_epi16(zero, x)};
    }
    static WEMB_VECTOR_INLINE Vec Times32768(Row x) {
        const Vec v = Times65536(x);
        return {_mm256_srai_epi32(v.lo, 1), _mm256_srai_epi32(v.hi, 1)};
    }
    static WEMB_VECTOR_INLINE __m256i OddScale(__m256i t) {
        return _mm256_mullo_epi32(_mm256_srai_epi32(_mm256_add_epi32(t, _mm256_set1_epi32(2048)), 12),
                                  _mm256_set1_epi32(5793));
    }
    static WEMB_VECTOR_INLINE Vec OddScale(Vec t) { return {OddScale(t.lo), OddScale(t.hi)}; }
    template <bool kColumns>
    static WEMB_VECTOR_INLINE __m256i Finished(__m256i v) {
        return kColumns ? _mm256_srai_epi32(_mm256_slli_epi32(v, 4), 16) : _mm256_srai_epi32(v, 21);
    }
    template <bool kColumns>
    static WEMB_VECTOR_INLINE Row Finish(Vec v) {
        return _mm256_packs_epi32(Finished<kColumns>(v.lo), Finished<kColumns>(v.hi));
    }
};

// Row r of both blocks dequantized, as DequantizedRow does for one.
WEMB_VECTOR_INLINE __m256i DequantizedRowPair(const int16_t* left, const int16_t* right,
                                              const uint16_t* quantTable, int r) {
    const __m256i b = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(left + 8 * r))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(right + 8 * r)), 1);
    const __m256i q = _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(quantTable + 8 * r)));
    const __m256i lo = _mm256_mullo_epi16(b, q);
    const __m256i hi = _mm256_mulhi_epi16(b, q);
    return _mm256_packs_epi32(_mm256_unpacklo_epi16(lo, hi), _mm256_unpackhi_epi16(lo, hi));
}

// Four steps for each block of a pair, for the column pass over the four
// columns of a corner: lanes 0..3 of each half, as IdctLanes4 takes them of
// one block. Finish leaves each block's outputs in 16-bit lanes 0..3 of its
// half (and a copy in 4..7).
struct IdctLanes4Pair {
    using Row = __m256i;
    using Vec = __m256i;

    static WEMB_VECTOR_INLINE Vec MulAdd(Row a, Row b, int16_t first, int16_t second) {
        return _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), Vector256::SetPair16(first, second));
    }
    static WEMB_VECTOR_INLINE Vec Add(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec Sub(Vec a, Vec b) { return _mm256_sub_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec Plus(Vec a, int32_t c) { return _mm256_add_epi32(a, _mm256_set1_epi32(c)); }
    static WEMB_VECTOR_INLINE Vec Times65536(Row x) { return _mm256_unpacklo_epi16(_mm256_setzero_si256(), x); }
    static WEMB_VECTOR_INLINE Vec Times32768(Row x) { return _mm256_srai_epi32(Times65536(x), 1); }
    static WEMB_VECTOR_INLINE Vec OddScale(Vec t) { return IdctLanesPair::OddScale(t); }
    template <bool kColumns>
    static WEMB_VECTOR_INLINE Row Finish(Vec v) {
        const __m256i finished = IdctLanesPair::Finished<kColumns>(v);
        return _mm256_packs_epi32(finished, finished);
    }
};

// The pair's rows of samples, each block's column c in rows[c]: each row of
// the two is one 16-byte store, the right block's samples 8 bytes after the
// left one's.
WEMB_VECTOR_INLINE void StorePairTransposed(const __m256i* columns, uint8_t* dst, ptrdiff_t step) {
    __m256i rowPairs[4];
    TransposeToRowPairs(columns, rowPairs);
#pragma GCC unroll 4
    for (int pair = 0; pair < 4; ++pair) {
        // Quadwords: left row 2p, left row 2p + 1, right row 2p, right row
        // 2p + 1; reordered so that each half holds one whole row of both.
        const __m256i inOrder = _mm256_permute4x64_epi64(rowPairs[pair], _MM_SHUFFLE(3, 1, 2, 0));
        uint8_t* top = dst + 2 * pair * step;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(top), _mm256_castsi256_si128(inOrder));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(top + step), _mm256_extracti128_si256(inOrder, 1));
    }
}

// The full transform of both blocks.
WEMB_VECTOR_INLINE void ReconstructWholePair(const int16_t* left, const int16_t* right, uint8_t* dst,
                                             ptrdiff_t step, const uint16_t* quantTable) {
    __m256i rows[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        rows[r] = DequantizedRowPair(left, right, quantTable, r);
    }
    IdctPass<IdctLanesPair, true, 8>(rows);
    Transpose8x8(rows);
    IdctPass<IdctLanesPair, false, 8>(rows);
    StorePairTransposed(rows, dst, step);
}

// 16-bit lanes 0..side - 1 set (side 1, 2 or 4), for cutting a row to a
// corner.
struct LeadingLanes {
    alignas(16) int16_t ofSide[5][8];
};

constexpr LeadingLanes MakeLeadingLanes() {
    LeadingLanes lanes = {};
    for (int side = 0; side <= 4; ++side) {
        for (int k = 0; k < side; ++k) lanes.ofSide[side][k] = -1;
    }
    return lanes;
}

constexpr LeadingLanes kLeadingLanes = MakeLeadingLanes();

// Row r of each block cut to its corner: of side leftSide for the left half,
// rightSide for the right one.
WEMB_VECTOR_INLINE __m256i CornerRowMask(int r, int leftSide, int rightSide) {
    const auto lanes = [r](int side) {
        return _mm_load_si128(reinterpret_cast<const __m128i*>(kLeadingLanes.ofSide[r < side ? side : 0]));
    };
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lanes(leftSide)), lanes(rightSide), 1);
}

// Both blocks through the transform of the corner of side kCorner (2 or 4),
// each block first cut to its own corner (of side 1, 2 or 4, at most
// kCorner), as the one-block kernel cuts a block to its extent's corner.
template <int kCorner>
WEMB_VECTOR_INLINE void ReconstructCornerPair(const int16_t* left, const int16_t* right, uint8_t* dst,
                                              ptrdiff_t step, const uint16_t* quantTable, int leftSide,
                                              int rightSide) {
    __m256i rows[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        rows[r] = r < kCorner ? _mm256_and_si256(DequantizedRowPair(left, right, quantTable, r),
                                                 CornerRowMask(r, leftSide, rightSide))
                              : _mm256_setzero_si256();
    }
    TransformCorner<IdctLanesPair, IdctLanes4Pair, kCorner>(rows);
    StorePairTransposed(rows, dst, step);
}

}  // namespace

void ReconstructBlockAvx2(const int16_t* block, uint8_t* dst, ptrdiff_t step, const uint16_t* quantTable,
                          int32_t extent) {
    ReconstructBlockWith<IdctLanes256, IdctLanes4>(block, dst, step, quantTable, extent);
}

// Two blocks that both need the whole transform go through it together, and
// so do two within the 4 x 4 corner; otherwise each takes its own path.
void ReconstructBlockPairAvx2(const int16_t* left, const int16_t* right, uint8_t* dst, ptrdiff_t step,
                              const uint16_t* quantTable, int32_t leftExtent, int32_t rightExtent) {
    const int32_t leftSide = CornerOfExtent(leftExtent), rightSide = CornerOfExtent(rightExtent);
    if (leftSide == 8 && rightSide == 8) {
        ReconstructWholePair(left, right, dst, step, quantTable);
        return;
    }
    // Corners up to 4 x 4 together, unless both blocks are DC only (two
    // fills are cheaper).
    const int32_t side = leftSide > rightSide ? leftSide : rightSide;
    if (side == 4) {
        ReconstructCornerPair<4>(left, right, dst, step, quantTable, leftSide, rightSide);
        return;
    }
    if (side == 2) {
        ReconstructCornerPair<2>(left, right, dst, step, quantTable, leftSide, rightSide);
        return;
    }
    ReconstructBlockAvx2(left, dst, step, quantTable, leftExtent);
    ReconstructBlockAvx2(right, dst + 8, step, quantTable, rightExtent);
}
