#include "primitives/idct.h"

#include <cstddef>
#include <cstring>

#include "primitives/simd.h"

// Zig-zag order of ITU-T T.81 Figure A.6, seen from the natural position.
const int32_t NaturalToZigZag[64] = {
    0,  1,  5,  6,  14, 15, 27, 28,  //
    2,  4,  7,  13, 16, 26, 29, 42,  //
    3,  8,  12, 17, 25, 30, 41, 43,  //
    9,  11, 18, 24, 31, 40, 44, 53,  //
    10, 19, 23, 32, 39, 45, 52, 54,  //
    20, 22, 33, 38, 46, 51, 55, 60,  //
    21, 34, 37, 47, 50, 56, 59, 61,  //
    35, 36, 48, 49, 57, 58, 62, 63,
};

PrimitiveStatus PrepareQuantTable(const uint8_t* raw, uint16_t* prepared) {
    if (prepared == nullptr || raw == nullptr) {
        return PrimErrNullPointer;
    }
    for (int p = 0; p < 64; ++p) {
        prepared[p] = raw[NaturalToZigZag[p]];
    }
    return PrimOk;
}

namespace {

int16_t SaturateTo16(int32_t v) {
    if (v < -32768) {
        return -32768;
    }
    if (v > 32767) {
        return 32767;
    }
    return static_cast<int16_t>(v);
}

// The transform computes modulo 2^32: products and sums are formed as
// uint32_t, where wrap-around is defined, and read back as int32_t only for
// the arithmetic right shifts.
uint32_t Wide(int16_t v) { return static_cast<uint32_t>(static_cast<int32_t>(v)); }

int32_t ShiftRight(uint32_t v, int shift) { return static_cast<int32_t>(v) >> shift; }

// The low 16 bits read as a signed value.
int16_t Low16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// Fixed-point constants of the Loeffler-Ligtenberg-Moschytz factorisation:
// 2^15 times the named cosine terms, rounded, except kSqrt2 (2^12 sqrt(2)).
constexpr uint32_t kCos3 = 27246;             // cos(3pi/16)
constexpr uint32_t kCos3MinusSin3 = 9041;     // cos(3pi/16) - sin(3pi/16)
constexpr uint32_t kCos3PlusSin3 = 45451;     // cos(3pi/16) + sin(3pi/16)
constexpr uint32_t kSin1 = 6393;              // sin(pi/16)
constexpr uint32_t kCos1MinusSin1 = 25746;    // cos(pi/16) - sin(pi/16)
constexpr uint32_t kCos1PlusSin1 = 38531;     // cos(pi/16) + sin(pi/16)
constexpr uint32_t kRoot2Cos6 = 17734;        // sqrt(2) cos(3pi/8)
constexpr uint32_t kRoot2Cos2Minus6 = 25080;  // sqrt(2) (cos(pi/8) - cos(3pi/8))
constexpr uint32_t kRoot2Cos2Plus6 = 60547;   // sqrt(2) (cos(pi/8) + cos(3pi/8))
constexpr uint32_t kSqrt2 = 5793;

// Rounding term and shift of each pass. The column pass keeps three more
// fraction bits than the result (a DC-only column yields 8 x DC); the row
// pass drops them with the rest of the 2^15 scale.
constexpr uint32_t kColumnRound = 2048;
constexpr int kColumnShift = 12;
constexpr uint32_t kRowRound = 1u << 20;
constexpr int kRowShift = 21;

// One-dimensional step: eight inputs `stride` apart to eight outputs
// `stride` apart, each finished as (value + round) >> shift kept to 16 bits.
void IdctStep(const int16_t* in, int16_t* out, ptrdiff_t stride, uint32_t round, int shift) {
    const uint32_t x0 = Wide(in[0]), x1 = Wide(in[stride]), x2 = Wide(in[2 * stride]),
                   x3 = Wide(in[3 * stride]), x4 = Wide(in[4 * stride]), x5 = Wide(in[5 * stride]),
                   x6 = Wide(in[6 * stride]), x7 = Wide(in[7 * stride]);

    // Odd part: two rotations, then the butterflies with the sqrt(2) scaling.
    const uint32_t a = (x3 + x5) * kCos3;
    const uint32_t t0 = a - x5 * kCos3MinusSin3;
    const uint32_t t1 = a - x3 * kCos3PlusSin3;
    const uint32_t b = (x1 + x7) * kSin1;
    const uint32_t t2 = b + x1 * kCos1MinusSin1;
    const uint32_t t3 = b - x7 * kCos1PlusSin1;
    const uint32_t o0 = static_cast<uint32_t>(ShiftRight(t0 + t2 + 2048, 12)) * kSqrt2;
    const uint32_t o1 = t2 + t3 - t0 - t1;
    const uint32_t o2 = t2 + t1 - t0 - t3;
    const uint32_t o3 = static_cast<uint32_t>(ShiftRight(t1 + t3 + 2048, 12)) * kSqrt2;

    // Even part: the DC/4 butterfly (x 32768 as a shift) and one rotation.
    const uint32_t p = (x0 << 15) + (x4 << 15);
    const uint32_t q = (x0 << 15) - (x4 << 15);
    const uint32_t z = (x2 + x6) * kRoot2Cos6;
    const uint32_t u = z + x2 * kRoot2Cos2Minus6;
    const uint32_t w = z - x6 * kRoot2Cos2Plus6;
    const uint32_t e0 = p + u, e3 = p - u, e1 = q + w, e2 = q - w;

    const uint32_t outputs[8] = {e0 + o0, e1 + o1, e2 + o2, e3 + o3,
                                 e3 - o3, e2 - o2, e1 - o1, e0 - o0};
    for (int n = 0; n < 8; ++n) {
        out[n * stride] = Low16(ShiftRight(outputs[n] + round, shift));
    }
}

// The sample of a block whose AC coefficients are all zero. Both passes then
// collapse: the column pass turns DC into low16((DC x 32768 + 2048) >> 12),
// that is low16(8 x DC) in column 0 and zero elsewhere, and the row pass
// turns v into (v x 32768 + 2^20) >> 21 = (v + 32) >> 6 everywhere.
uint8_t DcOnlySample(int16_t dc) {
    const int32_t v = Low16(8 * static_cast<int32_t>(dc));
    const int32_t s = ((v + 32) >> 6) + 128;
    return static_cast<uint8_t>(s < 0 ? 0 : (s > 255 ? 255 : s));
}

void FillBlock(uint8_t* dst, ptrdiff_t step, uint8_t value) {
    for (int r = 0; r < 8; ++r) {
        std::memset(dst + r * step, value, 8);
    }
}

bool AcAllZero(const int16_t* d) {
    int32_t any = 0;
    for (int i = 1; i < 64; ++i) {
        any |= d[i];
    }
    return any == 0;
}

void ReconstructBlockScalar(const int16_t* block, uint8_t* dst, ptrdiff_t step,
                            const uint16_t* quantTable) {
    // A prepared table holds 0..255, so reading it as int16_t changes nothing.
    int16_t d[64];
    MultiplySaturated(block, reinterpret_cast<const int16_t*>(quantTable), d, 64);
    if (AcAllZero(d)) {
        FillBlock(dst, step, DcOnlySample(d[0]));
        return;
    }
    int16_t o[64];
    InverseDct8x8(d, o);
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            const int32_t v = o[8 * r + c] + 128;
            dst[r * step + c] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
    }
}

}  // namespace

void MultiplySaturated(const int16_t* a, const int16_t* b, int16_t* out, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        out[i] = SaturateTo16(static_cast<int32_t>(a[i]) * b[i]);
    }
}

void InverseDct8x8(const int16_t* in, int16_t* out) {
    int16_t columnsDone[64];
    for (int c = 0; c < 8; ++c) {
        IdctStep(in + c, columnsDone + c, 8, kColumnRound, kColumnShift);
    }
    for (int r = 0; r < 8; ++r) {
        int16_t row[8];
        IdctStep(columnsDone + 8 * r, row, 1, kRowRound, kRowShift);
        std::memcpy(out + 8 * r, row, sizeof(row));
    }
}

#if WEMB_HAVE_SSE2
namespace {

// The same transform on eight one-dimensional steps at once, one per 16-bit
// lane. Every product is formed by _mm_madd_epi16, which multiplies 16-bit
// pairs and adds them in 32 bits; a pair sum wraps exactly as the 32-bit
// arithmetic of the transform does. Constants above 32767 do not fit a
// 16-bit multiplier, so the steps are regrouped with the same results
// modulo 2^32:
//   t0 = x3 x 27246 + x5 x 18205       t1 = x3 x -18205 + x5 x 27246
//   t2 = x1 x 32139 + x7 x 6393        t3 = x1 x 6393 + x7 x -32138
//   u  = x2 x -22722 + x6 x 17734 + x2 x 65536
//   w  = x2 x 17734 + x6 x 22723 - x6 x 65536
// where x x 65536 is x placed in the high half of a 32-bit lane.

// 32-bit values of the eight lanes: lanes 0..3 and 4..7.
struct Lanes32 {
    __m128i lo, hi;
};

// The multiplier pair (first, second) for _mm_madd_epi16 on (a, b) lanes.
WEMB_SSE2_INLINE __m128i PairOf(int16_t first, int16_t second) {
    return _mm_set_epi16(second, first, second, first, second, first, second, first);
}

WEMB_SSE2_INLINE Lanes32 MulAdd(__m128i a, __m128i b, __m128i pair) {
    return {_mm_madd_epi16(_mm_unpacklo_epi16(a, b), pair),
            _mm_madd_epi16(_mm_unpackhi_epi16(a, b), pair)};
}

WEMB_SSE2_INLINE Lanes32 Add(Lanes32 a, Lanes32 b) {
    return {_mm_add_epi32(a.lo, b.lo), _mm_add_epi32(a.hi, b.hi)};
}

WEMB_SSE2_INLINE Lanes32 Sub(Lanes32 a, Lanes32 b) {
    return {_mm_sub_epi32(a.lo, b.lo), _mm_sub_epi32(a.hi, b.hi)};
}

// x x 32768 in 32 bits: x in the high half of a lane, shifted right once.
WEMB_SSE2_INLINE Lanes32 Times32768(__m128i x) {
    const __m128i zero = _mm_setzero_si128();
    return {_mm_srai_epi32(_mm_unpacklo_epi16(zero, x), 1),
            _mm_srai_epi32(_mm_unpackhi_epi16(zero, x), 1)};
}

WEMB_SSE2_INLINE Lanes32 Times65536(__m128i x) {
    const __m128i zero = _mm_setzero_si128();
    return {_mm_unpacklo_epi16(zero, x), _mm_unpackhi_epi16(zero, x)};
}

// Low 32 bits of v x 5793. SSE2 has no 32-bit multiply-low; with v = h x 2^16
// + l, v x k mod 2^32 = l x k + ((h x k + high16(l x k)) << 16), which two
// 16-bit multiplies give.
WEMB_SSE2_INLINE __m128i TimesSqrt2(__m128i v) {
    const __m128i k = _mm_set1_epi16(5793);
    const __m128i low = _mm_mullo_epi16(v, k);
    const __m128i carry = _mm_slli_epi32(_mm_mulhi_epu16(v, k), 16);
    return _mm_add_epi32(low, carry);
}

// ((t + 2048) >> 12) x 5793 of the odd part.
WEMB_SSE2_INLINE Lanes32 OddScale(Lanes32 t) {
    const __m128i half = _mm_set1_epi32(2048);
    return {TimesSqrt2(_mm_srai_epi32(_mm_add_epi32(t.lo, half), 12)),
            TimesSqrt2(_mm_srai_epi32(_mm_add_epi32(t.hi, half), 12))};
}

// The rounding term of each pass, 2048 for the columns and 2^20 for the
// rows. Every output of a pass is e +- o with e = p + u, p - u, q + w or
// q - w, where p and q both carry x0 x 32768: the term is added once to that
// product instead of to each of the eight outputs, giving the same sums
// modulo 2^32.
template <bool kColumns>
WEMB_SSE2_INLINE __m128i RoundOf() {
    return _mm_set1_epi32(kColumns ? 2048 : 1 << 20);
}

// Column pass finish of v + 2048: low16(that >> 12), i.e. its bits 12..27,
// taken by shifting them to the top and back down with sign.
WEMB_SSE2_INLINE __m128i FinishColumn(Lanes32 v) {
    const __m128i lo = _mm_srai_epi32(_mm_slli_epi32(v.lo, 4), 16);
    const __m128i hi = _mm_srai_epi32(_mm_slli_epi32(v.hi, 4), 16);
    return _mm_packs_epi32(lo, hi);  // in range: no saturation happens
}

// Row pass finish of v + 2^20: that >> 21, which always fits 16 bits.
WEMB_SSE2_INLINE __m128i FinishRow(Lanes32 v) {
    return _mm_packs_epi32(_mm_srai_epi32(v.lo, 21), _mm_srai_epi32(v.hi, 21));
}

template <bool kColumns>
WEMB_SSE2_INLINE __m128i Finish(Lanes32 v) {
    return kColumns ? FinishColumn(v) : FinishRow(v);
}

// One pass in place: rows[k] holds input k of the eight steps and receives
// their output k, finished as the pass requires.
template <bool kColumns>
WEMB_SSE2_INLINE void IdctPass(__m128i* rows) {
    const Lanes32 t0 = MulAdd(rows[3], rows[5], PairOf(27246, 18205));
    const Lanes32 t1 = MulAdd(rows[3], rows[5], PairOf(-18205, 27246));
    const Lanes32 t2 = MulAdd(rows[1], rows[7], PairOf(32139, 6393));
    const Lanes32 t3 = MulAdd(rows[1], rows[7], PairOf(6393, -32138));
    const Lanes32 o0 = OddScale(Add(t0, t2));
    const Lanes32 o1 = Sub(Add(t2, t3), Add(t0, t1));
    const Lanes32 o2 = Sub(Add(t2, t1), Add(t0, t3));
    const Lanes32 o3 = OddScale(Add(t1, t3));

    const Lanes32 unrounded = Times32768(rows[0]);
    const Lanes32 x0 = {_mm_add_epi32(unrounded.lo, RoundOf<kColumns>()),
                        _mm_add_epi32(unrounded.hi, RoundOf<kColumns>())};
    const Lanes32 x4 = Times32768(rows[4]);
    const Lanes32 p = Add(x0, x4);
    const Lanes32 q = Sub(x0, x4);
    const Lanes32 u = Add(MulAdd(rows[2], rows[6], PairOf(-22722, 17734)), Times65536(rows[2]));
    const Lanes32 w = Sub(MulAdd(rows[2], rows[6], PairOf(17734, 22723)), Times65536(rows[6]));

    const Lanes32 e0 = Add(p, u);
    rows[0] = Finish<kColumns>(Add(e0, o0));
    rows[7] = Finish<kColumns>(Sub(e0, o0));
    const Lanes32 e3 = Sub(p, u);
    rows[3] = Finish<kColumns>(Add(e3, o3));
    rows[4] = Finish<kColumns>(Sub(e3, o3));
    const Lanes32 e1 = Add(q, w);
    rows[1] = Finish<kColumns>(Add(e1, o1));
    rows[6] = Finish<kColumns>(Sub(e1, o1));
    const Lanes32 e2 = Sub(q, w);
    rows[2] = Finish<kColumns>(Add(e2, o2));
    rows[5] = Finish<kColumns>(Sub(e2, o2));
}

WEMB_SSE2_INLINE void Transpose8x8(__m128i* r) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Level shift and clamp, then the 8x8 transpose on bytes, where it takes
// half the steps it takes on 16-bit lanes. The signed pack clamps v to
// -128..127; flipping the top bit then gives clamp(v + 128, 0, 255).
// `columns[c]` holds column c of the block, row r in lane r.
WEMB_SSE2_INLINE void StoreTransposed(const __m128i* columns, uint8_t* dst, ptrdiff_t step) {
    const __m128i flip = _mm_set1_epi8(-128);
    // Column pairs (0, 1), (2, 3), (4, 5), (6, 7): rows 0..7 of each.
    const __m128i c01 = _mm_xor_si128(_mm_packs_epi16(columns[0], columns[1]), flip);
    const __m128i c23 = _mm_xor_si128(_mm_packs_epi16(columns[2], columns[3]), flip);
    const __m128i c45 = _mm_xor_si128(_mm_packs_epi16(columns[4], columns[5]), flip);
    const __m128i c67 = _mm_xor_si128(_mm_packs_epi16(columns[6], columns[7]), flip);
    // Per row: columns 0 and 2, 1 and 3, 4 and 6, 5 and 7 side by side.
    const __m128i c02 = _mm_unpacklo_epi8(c01, c23), c13 = _mm_unpackhi_epi8(c01, c23);
    const __m128i c46 = _mm_unpacklo_epi8(c45, c67), c57 = _mm_unpackhi_epi8(c45, c67);
    // Columns 0..3 and 4..7 of rows 0..3 and of rows 4..7.
    const __m128i left03 = _mm_unpacklo_epi8(c02, c13), left47 = _mm_unpackhi_epi8(c02, c13);
    const __m128i right03 = _mm_unpacklo_epi8(c46, c57), right47 = _mm_unpackhi_epi8(c46, c57);
    // Whole rows, two per register.
    const __m128i rowPairs[4] = {_mm_unpacklo_epi32(left03, right03), _mm_unpackhi_epi32(left03, right03),
                                 _mm_unpacklo_epi32(left47, right47), _mm_unpackhi_epi32(left47, right47)};
    for (int pair = 0; pair < 4; ++pair) {
        uint8_t* top = dst + 2 * pair * step;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(top), rowPairs[pair]);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(top + step), _mm_srli_si128(rowPairs[pair], 8));
    }
}

// Dequantizes the block into rows[]; a block whose AC coefficients are then
// all zero is filled with its one sample at once, and true returned.
WEMB_SSE2_INLINE bool DequantizeOrFillDcOnly(const int16_t* block, uint8_t* dst, ptrdiff_t step,
                                             const uint16_t* quantTable, __m128i* rows) {
    // Dequantize: full 32-bit products from the low and high halves,
    // saturated back to 16 bits by the signed pack.
    // Unrolled, so that the eight rows can stay in registers.
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
        const __m128i q = _mm_loadu_si128(reinterpret_cast<const __m128i*>(quantTable + 8 * r));
        const __m128i lo = _mm_mullo_epi16(b, q);
        const __m128i hi = _mm_mulhi_epi16(b, q);
        rows[r] = _mm_packs_epi32(_mm_unpacklo_epi16(lo, hi), _mm_unpackhi_epi16(lo, hi));
    }

    __m128i ac = _mm_and_si128(rows[0], _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0));
#pragma GCC unroll 8
    for (int r = 1; r < 8; ++r) {
        ac = _mm_or_si128(ac, rows[r]);
    }
    if (_mm_movemask_epi8(_mm_cmpeq_epi16(ac, _mm_setzero_si128())) == 0xFFFF) {
        FillBlock(dst, step, DcOnlySample(static_cast<int16_t>(_mm_extract_epi16(rows[0], 0))));
        return true;
    }
    return false;
}

WEMB_SSE2_INLINE void ReconstructBlockVector(const int16_t* block, uint8_t* dst, ptrdiff_t step,
                                             const uint16_t* quantTable) {
    __m128i rows[8];
    if (DequantizeOrFillDcOnly(block, dst, step, quantTable, rows)) {
        return;
    }
    // Columns: lane c of rows[k] is input k of column c.
    IdctPass<true>(rows);
    // Rows: after the transpose lane r of rows[k] is input k of row r.
    Transpose8x8(rows);
    IdctPass<false>(rows);
    // Now lane r of rows[c] is the sample at row r, column c.
    StoreTransposed(rows, dst, step);
}

WEMB_SSE2_ENTRY void ReconstructBlockSse2(const int16_t* block, uint8_t* dst, ptrdiff_t step,
                                          const uint16_t* quantTable) {
    ReconstructBlockVector(block, dst, step, quantTable);
}

WEMB_AVX_ENTRY void ReconstructBlockAvx(const int16_t* block, uint8_t* dst, ptrdiff_t step,
                                        const uint16_t* quantTable) {
    ReconstructBlockVector(block, dst, step, quantTable);
}

#if WEMB_HAVE_AVX2

// The passes with the eight 32-bit lanes of a Lanes32 in one 256-bit
// register, lane k at element k: the same products and sums, half the
// instructions. _mm256_cvtepi16_epi32 widens the eight 16-bit lanes in that
// order, and so does putting the low and high unpacks of MulAdd side by side.

WEMB_AVX2_INLINE __m256i MulAdd256(__m128i a, __m128i b, int16_t first, int16_t second) {
    const uint32_t pair = uint32_t{static_cast<uint16_t>(first)} |
                          (uint32_t{static_cast<uint16_t>(second)} << 16);
    const __m256i pairs = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)),
                                                  _mm_unpackhi_epi16(a, b), 1);
    return _mm256_madd_epi16(pairs, _mm256_set1_epi32(static_cast<int32_t>(pair)));
}

// x x 2^shift in 32 bits.
WEMB_AVX2_INLINE __m256i Scaled(__m128i x, int shift) {
    return _mm256_slli_epi32(_mm256_cvtepi16_epi32(x), shift);
}

// ((t + 2048) >> 12) x 5793, the low 32 bits of the product.
WEMB_AVX2_INLINE __m256i OddScale256(__m256i t) {
    return _mm256_mullo_epi32(_mm256_srai_epi32(_mm256_add_epi32(t, _mm256_set1_epi32(2048)), 12),
                              _mm256_set1_epi32(5793));
}

// FinishColumn and FinishRow of a rounded sum.
template <bool kColumns>
WEMB_AVX2_INLINE __m128i Finish256(__m256i v) {
    const __m256i shifted =
        kColumns ? _mm256_srai_epi32(_mm256_slli_epi32(v, 4), 16) : _mm256_srai_epi32(v, 21);
    return _mm_packs_epi32(_mm256_castsi256_si128(shifted), _mm256_extracti128_si256(shifted, 1));
}

template <bool kColumns>
WEMB_AVX2_INLINE void IdctPass256(__m128i* rows) {
    const __m256i t0 = MulAdd256(rows[3], rows[5], 27246, 18205);
    const __m256i t1 = MulAdd256(rows[3], rows[5], -18205, 27246);
    const __m256i t2 = MulAdd256(rows[1], rows[7], 32139, 6393);
    const __m256i t3 = MulAdd256(rows[1], rows[7], 6393, -32138);
    const __m256i o0 = OddScale256(_mm256_add_epi32(t0, t2));
    const __m256i o1 = _mm256_sub_epi32(_mm256_add_epi32(t2, t3), _mm256_add_epi32(t0, t1));
    const __m256i o2 = _mm256_sub_epi32(_mm256_add_epi32(t2, t1), _mm256_add_epi32(t0, t3));
    const __m256i o3 = OddScale256(_mm256_add_epi32(t1, t3));

    const __m256i x0 = _mm256_add_epi32(Scaled(rows[0], 15), _mm256_set1_epi32(kColumns ? 2048 : 1 << 20));
    const __m256i x4 = Scaled(rows[4], 15);
    const __m256i p = _mm256_add_epi32(x0, x4);
    const __m256i q = _mm256_sub_epi32(x0, x4);
    const __m256i u = _mm256_add_epi32(MulAdd256(rows[2], rows[6], -22722, 17734), Scaled(rows[2], 16));
    const __m256i w = _mm256_sub_epi32(MulAdd256(rows[2], rows[6], 17734, 22723), Scaled(rows[6], 16));

    const __m256i e0 = _mm256_add_epi32(p, u);
    rows[0] = Finish256<kColumns>(_mm256_add_epi32(e0, o0));
    rows[7] = Finish256<kColumns>(_mm256_sub_epi32(e0, o0));
    const __m256i e3 = _mm256_sub_epi32(p, u);
    rows[3] = Finish256<kColumns>(_mm256_add_epi32(e3, o3));
    rows[4] = Finish256<kColumns>(_mm256_sub_epi32(e3, o3));
    const __m256i e1 = _mm256_add_epi32(q, w);
    rows[1] = Finish256<kColumns>(_mm256_add_epi32(e1, o1));
    rows[6] = Finish256<kColumns>(_mm256_sub_epi32(e1, o1));
    const __m256i e2 = _mm256_sub_epi32(q, w);
    rows[2] = Finish256<kColumns>(_mm256_add_epi32(e2, o2));
    rows[5] = Finish256<kColumns>(_mm256_sub_epi32(e2, o2));
}

WEMB_AVX2_ENTRY void ReconstructBlockAvx2(const int16_t* block, uint8_t* dst, ptrdiff_t step,
                                          const uint16_t* quantTable) {
    __m128i rows[8];
    if (DequantizeOrFillDcOnly(block, dst, step, quantTable, rows)) {
        return;
    }
    IdctPass256<true>(rows);
    Transpose8x8(rows);
    IdctPass256<false>(rows);
    StoreTransposed(rows, dst, step);
}

#endif

}  // namespace
#endif

PrimitiveStatus ReconstructBlock(const int16_t* block, uint8_t* dst, int32_t dstStep,
                                 const uint16_t* quantTable) {
    if (block == nullptr || dst == nullptr) {
        return PrimErrNullPointer;
    }
    if (dstStep <= 0) {
        return PrimErrBadStep;
    }
    if (quantTable == nullptr) {
        return PrimErrNullPointer;
    }
#if WEMB_HAVE_SSE2
#if WEMB_HAVE_AVX2
    if (CpuHasAvx2()) {
        ReconstructBlockAvx2(block, dst, dstStep, quantTable);
        return PrimOk;
    }
#endif
    if (CpuHasAvx()) {
        ReconstructBlockAvx(block, dst, dstStep, quantTable);
        return PrimOk;
    }
    if (CpuHasSse2()) {
        ReconstructBlockSse2(block, dst, dstStep, quantTable);
        return PrimOk;
    }
#endif
    ReconstructBlockScalar(block, dst, dstStep, quantTable);
    return PrimOk;
}
