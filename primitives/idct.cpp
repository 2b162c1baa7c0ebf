#include "primitives/idct.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "primitives/idct_shortcuts.h"
#include "primitives/kernels.h"
#include "primitives/scalar_kernels.h"
#include "primitives/zigzag.h"

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

// Input k of a step whose inputs from kInputs on are known to be zero: those
// are not read, and the compiler drops the terms they would feed.
template <int kInputs>
uint32_t Input(const int16_t* in, ptrdiff_t stride, int k) {
    return k < kInputs ? Wide(in[k * stride]) : 0;
}

// One-dimensional step: eight inputs `stride` apart (the first kInputs of
// them read, the rest zero) to eight outputs `stride` apart, each finished
// as (value + round) >> shift kept to 16 bits.
template <int kInputs>
void IdctStep(const int16_t* in, int16_t* out, ptrdiff_t stride, uint32_t round, int shift) {
    const uint32_t x0 = Input<kInputs>(in, stride, 0), x1 = Input<kInputs>(in, stride, 1),
                   x2 = Input<kInputs>(in, stride, 2), x3 = Input<kInputs>(in, stride, 3),
                   x4 = Input<kInputs>(in, stride, 4), x5 = Input<kInputs>(in, stride, 5),
                   x6 = Input<kInputs>(in, stride, 6), x7 = Input<kInputs>(in, stride, 7);

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

uint8_t LevelShifted(int16_t v) {
    const int32_t s = v + 128;
    return static_cast<uint8_t>(s < 0 ? 0 : (s > 255 ? 255 : s));
}

// Both passes over a dequantized block whose non-zero values lie in its
// top-left kCorner x kCorner corner: the column steps of the other columns
// would yield zeros, and the row steps read only their first kCorner
// inputs. The result is that of InverseDct8x8, level-shifted and clamped.
template <int kCorner>
void TransformCorner(const int16_t* d, uint8_t* dst, ptrdiff_t step) {
    int16_t columnsDone[64];
    for (int c = 0; c < kCorner; ++c) {
        IdctStep<kCorner>(d + c, columnsDone + c, 8, kColumnRound, kColumnShift);
    }
    for (int r = 0; r < 8; ++r) {
        int16_t row[8];
        IdctStep<kCorner>(columnsDone + 8 * r, row, 1, kRowRound, kRowShift);
        for (int c = 0; c < 8; ++c) {
            dst[r * step + c] = LevelShifted(row[c]);
        }
    }
}

}  // namespace

void ReconstructBlockScalar(const int16_t* block, uint8_t* dst, ptrdiff_t step, const uint16_t* quantTable,
                            int32_t extent) {
    // Dequantize the rows of the corner that `extent` allows; the rest is
    // zero. A prepared table holds 0..255, so reading it as int16_t changes
    // nothing.
    const int32_t allowed = CornerOfExtent(extent);
    int16_t d[64];
    MultiplySaturated(block, reinterpret_cast<const int16_t*>(quantTable), d, 8 * allowed);
    std::fill(d + 8 * allowed, d + 64, int16_t{0});
    // The group mask (idct_shortcuts.h): the rows of each row group (row 0,
    // row 1, rows 2..3, rows 4..7) ORed together, then one bit per non-zero
    // column of each group.
    uint32_t nonZero = 0;
    for (int c = 0; c < 8; ++c) {
        const int32_t groups[4] = {d[c], d[8 + c], d[16 + c] | d[24 + c],
                                   d[32 + c] | d[40 + c] | d[48 + c] | d[56 + c]};
        for (int g = 0; g < 4; ++g) {
            nonZero |= static_cast<uint32_t>(groups[g] != 0) << (8 * g + c);
        }
    }
    // Columns outside the allowed corner are left out: each path reads only
    // its own corner, which lies inside that one.
    switch (CornerOfMask(nonZero & CornerMaskOfExtent(extent))) {
        case 1:
            FillBlock(dst, step, DcOnlySample(d[0]));
            return;
        case 2:
            TransformCorner<2>(d, dst, step);
            return;
        case 4:
            TransformCorner<4>(d, dst, step);
            return;
        default:
            TransformCorner<8>(d, dst, step);
            return;
    }
}

void MultiplySaturated(const int16_t* a, const int16_t* b, int16_t* out, int32_t count) {
    for (int32_t i = 0; i < count; ++i) {
        out[i] = SaturateTo16(static_cast<int32_t>(a[i]) * b[i]);
    }
}

void InverseDct8x8(const int16_t* in, int16_t* out) {
    int16_t columnsDone[64];
    for (int c = 0; c < 8; ++c) {
        IdctStep<8>(in + c, columnsDone + c, 8, kColumnRound, kColumnShift);
    }
    for (int r = 0; r < 8; ++r) {
        int16_t row[8];
        IdctStep<8>(columnsDone + 8 * r, row, 1, kRowRound, kRowShift);
        std::memcpy(out + 8 * r, row, sizeof(row));
    }
}

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
    ActiveKernels().reconstructBlock(block, dst, dstStep, quantTable, kFullBlockExtent);
    return PrimOk;
}
