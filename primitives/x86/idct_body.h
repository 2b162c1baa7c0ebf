// The block reconstruction kernel (dequantization, the two-pass inverse DCT,
// level shift, clamp, store) for x86, written once for the 32-bit
// arithmetic of eight one-dimensional steps side by side: in two 128-bit
// registers (SSE2) or in one 256-bit register (AVX2, idct_avx2.cpp). The
// 16-bit rows between the passes are 128-bit registers at every level.
//
// Blocks whose non-zero coefficients lie in the top-left 2 x 2 or 4 x 4
// corner take shorter paths (idct_shortcuts.h): a column pass of 2 or 4
// inputs over 4 columns, whose 32-bit lanes fit one 128-bit register at
// every level, and a row pass of 2 or 4 inputs.
//
// Included only by the per-level kernel files; everything is inside an
// unnamed namespace (see vector128.h).
#pragma once

#include <emmintrin.h>
#if defined(__SSE4_1__)
#include <smmintrin.h>
#endif

#include <cstddef>
#include <cstdint>

#include "primitives/idct_shortcuts.h"
#include "primitives/x86/vector128.h"

namespace {

// ---------------------------------------------------------------------------
// The transform on eight one-dimensional steps at once, one per 16-bit lane
// of rows[k] (input k of each step). Every product is formed by a 16-bit
// pair multiply-add (_mm_madd_epi16) whose 32-bit sum wraps exactly as the
// 32-bit arithmetic of the transform does. Constants above 32767 do not fit
// a 16-bit multiplier, so the steps are regrouped with the same results
// modulo 2^32:
//   t0 = x3 x 27246 + x5 x 18205       t1 = x3 x -18205 + x5 x 27246
//   t2 = x1 x 32139 + x7 x 6393        t3 = x1 x 6393 + x7 x -32138
//   u  = x2 x -22722 + x6 x 17734 + x2 x 65536
//   w  = x2 x 17734 + x6 x 22723 - x6 x 65536
// where x x 65536 is x placed in the high half of a 32-bit lane.
//
// `W` holds the 32-bit values of one term, lane k for step k (eight steps,
// or the four of IdctLanes4, or sixteen for two blocks side by side), takes
// its inputs as W::Row (16-bit lanes, one per step) and supplies the 32-bit
// operations:
//   MulAdd(a, b, first, second)   a x first + b x second per lane
//   Times32768(x), Times65536(x)  x widened and scaled
//   Add, Sub, Plus(v, constant)
//   OddScale(t)                   ((t + 2048) >> 12) x 5793, low 32 bits
//   Finish<kColumns>(v)           a pass's 16-bit output from v + rounding

// The rounding term of each pass, 2048 for the columns and 2^20 for the
// rows. Every output of a pass is e +- o with e = p + u, p - u, q + w or
// q - w, where p and q both carry x0 x 32768: the term is added once to that
// product instead of to each of the eight outputs, giving the same sums
// modulo 2^32.
template <bool kColumns>
constexpr int32_t kPassRound = kColumns ? 2048 : 1 << 20;

// Outputs `sum` and `difference` of a pass: e + o and e - o, finished.
template <class W, bool kColumns>
WEMB_VECTOR_INLINE void FinishPair(typename W::Row* rows, int sum, int difference, typename W::Vec e,
                                   typename W::Vec o) {
    rows[sum] = W::template Finish<kColumns>(W::Add(e, o));
    rows[difference] = W::template Finish<kColumns>(W::Sub(e, o));
}

// One pass in place: rows[k] holds input k of the steps and receives their
// output k, finished as the pass requires. Inputs from kInputs on are zero
// and rows[kInputs..7] are not read: the terms they would feed are left
// out, which changes no sum.
template <class W, bool kColumns, int kInputs>
WEMB_VECTOR_INLINE void IdctPass(typename W::Row* rows) {
    static_assert(kInputs == 2 || kInputs == 4 || kInputs == 8, "a corner of 2 or 4, or the whole block");
    using Vec = typename W::Vec;
    using Row = typename W::Row;
    const Row zero = Row{};
    const Row x5 = kInputs > 4 ? rows[5] : zero;
    const Row x6 = kInputs > 4 ? rows[6] : zero;
    const Row x7 = kInputs > 4 ? rows[7] : zero;

    Vec o0, o1, o2, o3;
    const Vec t2 = W::MulAdd(rows[1], x7, 32139, 6393);
    const Vec t3 = W::MulAdd(rows[1], x7, 6393, -32138);
    if constexpr (kInputs > 2) {
        const Vec t0 = W::MulAdd(rows[3], x5, 27246, 18205);
        const Vec t1 = W::MulAdd(rows[3], x5, -18205, 27246);
        o0 = W::OddScale(W::Add(t0, t2));
        o1 = W::Sub(W::Add(t2, t3), W::Add(t0, t1));
        o2 = W::Sub(W::Add(t2, t1), W::Add(t0, t3));
        o3 = W::OddScale(W::Add(t1, t3));
    } else {  // x3 = x5 = 0: t0 = t1 = 0
        o0 = W::OddScale(t2);
        o1 = W::Add(t2, t3);
        o2 = W::Sub(t2, t3);
        o3 = W::OddScale(t3);
    }

    // Even part; every input has been read before the first output is
    // stored. With x2 = x4 = x6 = 0 all four even terms are x0.
    const Vec x0 = W::Plus(W::Times32768(rows[0]), kPassRound<kColumns>);
    if constexpr (kInputs > 2) {
        Vec p = x0, q = x0;
        Vec w = W::MulAdd(rows[2], x6, 17734, 22723);
        if constexpr (kInputs > 4) {
            const Vec x4 = W::Times32768(rows[4]);
            p = W::Add(x0, x4);
            q = W::Sub(x0, x4);
            w = W::Sub(w, W::Times65536(x6));
        }
        const Vec u = W::Add(W::MulAdd(rows[2], x6, -22722, 17734), W::Times65536(rows[2]));
        FinishPair<W, kColumns>(rows, 0, 7, W::Add(p, u), o0);
        FinishPair<W, kColumns>(rows, 3, 4, W::Sub(p, u), o3);
        FinishPair<W, kColumns>(rows, 1, 6, W::Add(q, w), o1);
        FinishPair<W, kColumns>(rows, 2, 5, W::Sub(q, w), o2);
    } else {
        FinishPair<W, kColumns>(rows, 0, 7, x0, o0);
        FinishPair<W, kColumns>(rows, 3, 4, x0, o3);
        FinishPair<W, kColumns>(rows, 1, 6, x0, o1);
        FinishPair<W, kColumns>(rows, 2, 5, x0, o2);
    }
}

// Low 32 bits of v x 5793 in each 32-bit lane. SSE2 has no 32-bit
// multiply-low; with v = h x 2^16 + l, v x k mod 2^32 = l x k + ((h x k +
// high16(l x k)) << 16), which two 16-bit multiplies give.
WEMB_VECTOR_INLINE __m128i TimesSqrt2(__m128i v) {
#if defined(__SSE4_1__)
    return _mm_mullo_epi32(v, _mm_set1_epi32(5793));
#else
    const __m128i k = _mm_set1_epi16(5793);
    const __m128i low = _mm_mullo_epi16(v, k);
    const __m128i carry = _mm_slli_epi32(_mm_mulhi_epu16(v, k), 16);
    return _mm_add_epi32(low, carry);
#endif
}

// ((t + 2048) >> 12) x 5793 of the odd part.
WEMB_VECTOR_INLINE __m128i OddScale128(__m128i t) {
    return TimesSqrt2(_mm_srai_epi32(_mm_add_epi32(t, _mm_set1_epi32(2048)), 12));
}

// Column pass: low16(v >> 12), i.e. bits 12..27 of v, taken by shifting them
// to the top and back down with sign. Row pass: v >> 21, which always fits
// 16 bits. Either way the 32-bit lanes then hold 16-bit values, which the
// signed pack keeps.
template <bool kColumns>
WEMB_VECTOR_INLINE __m128i Finished32(__m128i v) {
    return kColumns ? _mm_srai_epi32(_mm_slli_epi32(v, 4), 16) : _mm_srai_epi32(v, 21);
}

// The 32-bit lanes as the low and high halves of two 128-bit registers.
struct IdctLanes128 {
    using Row = __m128i;
    struct Vec {
        __m128i lo, hi;
    };

    static WEMB_VECTOR_INLINE Vec MulAdd(__m128i a, __m128i b, int16_t first, int16_t second) {
        const __m128i pair = Vector128::SetPair16(first, second);
        return {_mm_madd_epi16(_mm_unpacklo_epi16(a, b), pair), _mm_madd_epi16(_mm_unpackhi_epi16(a, b), pair)};
    }
    static WEMB_VECTOR_INLINE Vec Add(Vec a, Vec b) { return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)}; }
    static WEMB_VECTOR_INLINE Vec Sub(Vec a, Vec b) { return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)}; }
    static WEMB_VECTOR_INLINE Vec Plus(Vec a, int32_t c) {
        return {_mm_add_epi32(a.lo, _mm_set1_epi32(c)), _mm_add_epi32(a.hi, _mm_set1_epi32(c))};
    }
    // x x 65536: x in the high half of a lane; x x 32768: that shifted right
    // once.
    static WEMB_VECTOR_INLINE Vec Times65536(__m128i x) {
        const __m128i zero = _mm_setzero_si128();
        return {_mm_unpacklo_epi16(zero, x), _mm_unpackhi_epi16(zero, x)};
    }
    static WEMB_VECTOR_INLINE Vec Times32768(__m128i x) {
        const Vec v = Times65536(x);
        return {_mm_srai_epi32(v.lo, 1), _mm_srai_epi32(v.hi, 1)};
    }
    static WEMB_VECTOR_INLINE Vec OddScale(Vec t) { return {OddScale128(t.lo), OddScale128(t.hi)}; }
    template <bool kColumns>
    static WEMB_VECTOR_INLINE __m128i Finish(Vec v) {
        return _mm_packs_epi32(Finished32<kColumns>(v.lo), Finished32<kColumns>(v.hi));
    }
};

// Four 32-bit lanes in one 128-bit register, for the column pass over the
// four columns of a corner: lanes 0..3 of the 16-bit rows. Finish leaves
// the outputs in 16-bit lanes 0..3 (and a copy in 4..7).
struct IdctLanes4 {
    using Row = __m128i;
    using Vec = __m128i;

    static WEMB_VECTOR_INLINE Vec MulAdd(__m128i a, __m128i b, int16_t first, int16_t second) {
        return _mm_madd_epi16(_mm_unpacklo_epi16(a, b), Vector128::SetPair16(first, second));
    }
    static WEMB_VECTOR_INLINE Vec Add(Vec a, Vec b) { return _mm_add_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec Sub(Vec a, Vec b) { return _mm_sub_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec Plus(Vec a, int32_t c) { return _mm_add_epi32(a, _mm_set1_epi32(c)); }
    static WEMB_VECTOR_INLINE Vec Times65536(__m128i x) { return _mm_unpacklo_epi16(_mm_setzero_si128(), x); }
    static WEMB_VECTOR_INLINE Vec Times32768(__m128i x) { return _mm_srai_epi32(Times65536(x), 1); }
    static WEMB_VECTOR_INLINE Vec OddScale(Vec t) { return OddScale128(t); }
    template <bool kColumns>
    static WEMB_VECTOR_INLINE __m128i Finish(Vec v) {
        const __m128i finished = Finished32<kColumns>(v);
        return _mm_packs_epi32(finished, finished);
    }
};

// ---------------------------------------------------------------------------
// Loading, the transpose and the store, the same at every level.

// The unpacks and packs of the transposes, for the rows of one block (128
// bits) and, with AVX2, for the rows of two blocks side by side, one in each
// 128-bit half: AVX2's unpacks and packs never cross the halves, so each
// block is transposed on its own.
namespace lane {
WEMB_VECTOR_INLINE __m128i Lo8(__m128i a, __m128i b) { return _mm_unpacklo_epi8(a, b); }
WEMB_VECTOR_INLINE __m128i Hi8(__m128i a, __m128i b) { return _mm_unpackhi_epi8(a, b); }
WEMB_VECTOR_INLINE __m128i Lo16(__m128i a, __m128i b) { return _mm_unpacklo_epi16(a, b); }
WEMB_VECTOR_INLINE __m128i Hi16(__m128i a, __m128i b) { return _mm_unpackhi_epi16(a, b); }
WEMB_VECTOR_INLINE __m128i Lo32(__m128i a, __m128i b) { return _mm_unpacklo_epi32(a, b); }
WEMB_VECTOR_INLINE __m128i Hi32(__m128i a, __m128i b) { return _mm_unpackhi_epi32(a, b); }
WEMB_VECTOR_INLINE __m128i Lo64(__m128i a, __m128i b) { return _mm_unpacklo_epi64(a, b); }
WEMB_VECTOR_INLINE __m128i Hi64(__m128i a, __m128i b) { return _mm_unpackhi_epi64(a, b); }
// Both to signed bytes, with the top bit flipped.
WEMB_VECTOR_INLINE __m128i PackFlipped(__m128i a, __m128i b) {
    return _mm_xor_si128(_mm_packs_epi16(a, b), _mm_set1_epi8(-128));
}
#if defined(__AVX2__)
WEMB_VECTOR_INLINE __m256i Lo8(__m256i a, __m256i b) { return _mm256_unpacklo_epi8(a, b); }
WEMB_VECTOR_INLINE __m256i Hi8(__m256i a, __m256i b) { return _mm256_unpackhi_epi8(a, b); }
WEMB_VECTOR_INLINE __m256i Lo16(__m256i a, __m256i b) { return _mm256_unpacklo_epi16(a, b); }
WEMB_VECTOR_INLINE __m256i Hi16(__m256i a, __m256i b) { return _mm256_unpackhi_epi16(a, b); }
WEMB_VECTOR_INLINE __m256i Lo32(__m256i a, __m256i b) { return _mm256_unpacklo_epi32(a, b); }
WEMB_VECTOR_INLINE __m256i Hi32(__m256i a, __m256i b) { return _mm256_unpackhi_epi32(a, b); }
WEMB_VECTOR_INLINE __m256i Lo64(__m256i a, __m256i b) { return _mm256_unpacklo_epi64(a, b); }
WEMB_VECTOR_INLINE __m256i Hi64(__m256i a, __m256i b) { return _mm256_unpackhi_epi64(a, b); }
WEMB_VECTOR_INLINE __m256i PackFlipped(__m256i a, __m256i b) {
    return _mm256_xor_si256(_mm256_packs_epi16(a, b), _mm256_set1_epi8(-128));
}
#endif
}  // namespace lane

template <class R>
WEMB_VECTOR_INLINE void Transpose8x8(R* r) {
    const R a0 = lane::Lo16(r[0], r[1]), a1 = lane::Hi16(r[0], r[1]);
    const R a2 = lane::Lo16(r[2], r[3]), a3 = lane::Hi16(r[2], r[3]);
    const R a4 = lane::Lo16(r[4], r[5]), a5 = lane::Hi16(r[4], r[5]);
    const R a6 = lane::Lo16(r[6], r[7]), a7 = lane::Hi16(r[6], r[7]);
    const R b0 = lane::Lo32(a0, a2), b1 = lane::Hi32(a0, a2);
    const R b2 = lane::Lo32(a1, a3), b3 = lane::Hi32(a1, a3);
    const R b4 = lane::Lo32(a4, a6), b5 = lane::Hi32(a4, a6);
    const R b6 = lane::Lo32(a5, a7), b7 = lane::Hi32(a5, a7);
    r[0] = lane::Lo64(b0, b4);
    r[1] = lane::Hi64(b0, b4);
    r[2] = lane::Lo64(b1, b5);
    r[3] = lane::Hi64(b1, b5);
    r[4] = lane::Lo64(b2, b6);
    r[5] = lane::Hi64(b2, b6);
    r[6] = lane::Lo64(b3, b7);
    r[7] = lane::Hi64(b3, b7);
}

// Level shift and clamp, then the 8x8 transpose on bytes, where it takes
// half the steps it takes on 16-bit lanes. The signed pack clamps v to
// -128..127; flipping the top bit then gives clamp(v + 128, 0, 255).
// `columns[c]` holds column c of the block, row r in lane r; rowPairs[p]
// receives rows 2p and 2p + 1, eight bytes each.
template <class R>
WEMB_VECTOR_INLINE void TransposeToRowPairs(const R* columns, R* rowPairs) {
    // Column pairs (0, 1), (2, 3), (4, 5), (6, 7): rows 0..7 of each.
    const R c01 = lane::PackFlipped(columns[0], columns[1]);
    const R c23 = lane::PackFlipped(columns[2], columns[3]);
    const R c45 = lane::PackFlipped(columns[4], columns[5]);
    const R c67 = lane::PackFlipped(columns[6], columns[7]);
    // Per row: columns 0 and 2, 1 and 3, 4 and 6, 5 and 7 side by side.
    const R c02 = lane::Lo8(c01, c23), c13 = lane::Hi8(c01, c23);
    const R c46 = lane::Lo8(c45, c67), c57 = lane::Hi8(c45, c67);
    // Columns 0..3 and 4..7 of rows 0..3 and of rows 4..7.
    const R left03 = lane::Lo8(c02, c13), left47 = lane::Hi8(c02, c13);
    const R right03 = lane::Lo8(c46, c57), right47 = lane::Hi8(c46, c57);
    // Whole rows, two per block.
    rowPairs[0] = lane::Lo32(left03, right03);
    rowPairs[1] = lane::Hi32(left03, right03);
    rowPairs[2] = lane::Lo32(left47, right47);
    rowPairs[3] = lane::Hi32(left47, right47);
}

WEMB_VECTOR_INLINE void StoreTransposed(const __m128i* columns, uint8_t* dst, ptrdiff_t step) {
    __m128i rowPairs[4];
    TransposeToRowPairs(columns, rowPairs);
#pragma GCC unroll 4
    for (int pair = 0; pair < 4; ++pair) {
        uint8_t* top = dst + 2 * pair * step;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(top), rowPairs[pair]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(top + step), _mm_srli_si128(rowPairs[pair], 8));
    }
}

// Lanes 0..3 of the eight 16-bit rows transposed: out[c] holds column c
// (c < 4) of rows 0..7. 12 steps instead of the 24 of Transpose8x8; where
// only out[0] and out[1] are used, the compiler drops the rest.
template <class R>
WEMB_VECTOR_INLINE void Transpose8x4(const R* r, R* out) {
    const R a0 = lane::Lo16(r[0], r[1]), a1 = lane::Lo16(r[2], r[3]);
    const R a2 = lane::Lo16(r[4], r[5]), a3 = lane::Lo16(r[6], r[7]);
    const R b0 = lane::Lo32(a0, a1), b1 = lane::Hi32(a0, a1);
    const R b2 = lane::Lo32(a2, a3), b3 = lane::Hi32(a2, a3);
    out[0] = lane::Lo64(b0, b2);
    out[1] = lane::Hi64(b0, b2);
    out[2] = lane::Lo64(b1, b3);
    out[3] = lane::Hi64(b1, b3);
}

// Row r of the block dequantized: full 32-bit products from the low and high
// halves, saturated back to 16 bits by the signed pack.
WEMB_VECTOR_INLINE __m128i DequantizedRow(const int16_t* block, const uint16_t* quantTable, int r) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
    const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quantTable + 8 * r));
    const __m128i lo = _mm_mullo_epi16(b, q);
    const __m128i hi = _mm_mulhi_epi16(b, q);
    return _mm_packs_epi32(_mm_unpacklo_epi16(lo, hi), _mm_unpackhi_epi16(lo, hi));
}

// The group mask of the rows (idct_shortcuts.h): rows 0 and 1 as they are,
// rows 2..3 and 4..7 ORed together, packed to bytes with signed saturation,
// which keeps zero and non-zero apart, and compared with zero.
WEMB_VECTOR_INLINE uint32_t NonZeroGroups(const __m128i* rows) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i middle = _mm_or_si128(rows[2], rows[3]);
    const __m128i bottom = _mm_or_si128(_mm_or_si128(rows[4], rows[5]), _mm_or_si128(rows[6], rows[7]));
    const uint32_t top = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_packs_epi16(rows[0], rows[1]), zero)));
    const uint32_t rest = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_packs_epi16(middle, bottom), zero)));
    return ~(top | (rest << 16));
}

// Both passes over the corner of side kCorner (2 or 4) of the dequantized
// rows: the column pass over the corner's columns (the others would yield
// zeros), 4 lanes wide, then the row pass of kCorner inputs. Leaves column
// c of the result in rows[c].
template <class W8, class W4, int kCorner>
WEMB_VECTOR_INLINE void TransformCorner(typename W8::Row* rows) {
    IdctPass<W4, true, kCorner>(rows);
    typename W8::Row columns[4];
    Transpose8x4(rows, columns);
    for (int k = 0; k < kCorner; ++k) {
        rows[k] = columns[k];
    }
    IdctPass<W8, false, kCorner>(rows);
}

// The kernel for a block whose non-zero values, by the caller's word, lie in
// the top-left corner of side kAllowed: only the rows of that corner are
// read, and the columns outside it are left out of the non-zero mask, so
// that the path taken, and the result, is the transform of that corner.
template <class W8, class W4, int kAllowed>
WEMB_VECTOR_INLINE void ReconstructAllowedCorner(const int16_t* block, uint8_t* dst, ptrdiff_t step,
                                                 const uint16_t* quantTable) {
    // Unrolled, so that the eight rows can stay in registers.
    __m128i rows[8];
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        rows[r] = r < kAllowed ? DequantizedRow(block, quantTable, r) : _mm_setzero_si128();
    }
    const int32_t corner = CornerOfMask(NonZeroGroups(rows) & CornerMask(kAllowed));
    if (corner == 1) {
        FillBlock(dst, step, DcOnlySample(static_cast<int16_t>(_mm_cvtsi128_si32(rows[0]))));
        return;
    }
    if (kAllowed == 2 || corner == 2) {
        TransformCorner<W8, W4, 2>(rows);
    } else if (kAllowed == 4 || corner == 4) {
        TransformCorner<W8, W4, 4>(rows);
    } else {
        // Columns: lane c of rows[k] is input k of column c.
        IdctPass<W8, true, 8>(rows);
        // Rows: after the transpose lane r of rows[k] is input k of row r.
        Transpose8x8(rows);
        IdctPass<W8, false, 8>(rows);
    }
    // Now lane r of rows[c] is the sample at row r, column c.
    StoreTransposed(rows, dst, step);
}

// The whole kernel with the 32-bit lanes of W8 for eight steps and of W4
// for four.
template <class W8, class W4>
WEMB_VECTOR_INLINE void ReconstructBlockWith(const int16_t* block, uint8_t* dst, ptrdiff_t step,
                                             const uint16_t* quantTable, int32_t extent) {
    switch (CornerOfExtent(extent)) {
        case 8:
            ReconstructAllowedCorner<W8, W4, 8>(block, dst, step, quantTable);
            return;
        case 4:
            ReconstructAllowedCorner<W8, W4, 4>(block, dst, step, quantTable);
            return;
        case 2:
            ReconstructAllowedCorner<W8, W4, 2>(block, dst, step, quantTable);
            return;
        default:
            FillBlock(dst, step, DcOnlySample(_mm_cvtsi128_si32(DequantizedRow(block, quantTable, 0))));
            return;
    }
}

}  // namespace
