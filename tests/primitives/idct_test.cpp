#include "primitives/idct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "primitives/kernels.h"
#include "primitives/simd.h"
#include "primitives/zigzag.h"
#include "support/jpeg_stream.h"
#include "support/simd_levels.h"

namespace {

using wemb_test::ForEachSimdLevel;

// ---------------------------------------------------------------------------
// A literal transcription of the integer steps, written independently of the
// codec: every value lives in int64_t and is reduced to 32-bit two's
// complement after each operation; the right shift is a floor division.

int64_t Wrap32(int64_t v) { return (v & 0xFFFFFFFFll) - ((v & 0x80000000ll) ? 0x100000000ll : 0); }
int64_t Wrap16(int64_t v) { return (v & 0xFFFF) - ((v & 0x8000) ? 0x10000 : 0); }
int64_t FloorShift(int64_t v, int s) { return static_cast<int64_t>(std::floor(v / std::ldexp(1.0, s))); }

int64_t M(int64_t a, int64_t b) { return Wrap32(a * b); }
int64_t A(int64_t a, int64_t b) { return Wrap32(a + b); }
int64_t S(int64_t a, int64_t b) { return Wrap32(a - b); }

void ReferenceStep(const int64_t x[8], int64_t round, int shift, int64_t y[8]) {
    const int64_t a = M(A(x[3], x[5]), 27246);
    const int64_t t0 = S(a, M(x[5], 9041));
    const int64_t t1 = S(a, M(x[3], 45451));
    const int64_t b = M(A(x[1], x[7]), 6393);
    const int64_t t2 = A(b, M(x[1], 25746));
    const int64_t t3 = S(b, M(x[7], 38531));
    const int64_t o0 = M(FloorShift(A(A(t0, t2), 2048), 12), 5793);
    const int64_t o1 = S(S(A(t2, t3), t0), t1);
    const int64_t o2 = S(S(A(t2, t1), t0), t3);
    const int64_t o3 = M(FloorShift(A(A(t1, t3), 2048), 12), 5793);
    const int64_t p = A(M(x[0], 32768), M(x[4], 32768));
    const int64_t q = S(M(x[0], 32768), M(x[4], 32768));
    const int64_t z = M(A(x[2], x[6]), 17734);
    const int64_t u = A(z, M(x[2], 25080));
    const int64_t w = S(z, M(x[6], 60547));
    const int64_t e0 = A(p, u), e3 = S(p, u), e1 = A(q, w), e2 = S(q, w);
    const int64_t v[8] = {A(e0, o0), A(e1, o1), A(e2, o2), A(e3, o3),
                          S(e3, o3), S(e2, o2), S(e1, o1), S(e0, o0)};
    for (int n = 0; n < 8; ++n) y[n] = Wrap16(FloorShift(A(v[n], round), shift));
}

// Dequantize, both passes, level shift and clamp, as the steps read; the
// transform's own output goes to idctOut when asked for.
void ReferenceReconstruct(const int16_t* block, const uint16_t* quant, uint8_t out[64],
                          int16_t idctOut[64] = nullptr) {
    int64_t d[64], pass1[64], o[64];
    for (int i = 0; i < 64; ++i) d[i] = std::clamp<int64_t>(int64_t{block[i]} * static_cast<int16_t>(quant[i]), -32768, 32767);
    for (int c = 0; c < 8; ++c) {
        int64_t x[8], y[8];
        for (int k = 0; k < 8; ++k) x[k] = d[8 * k + c];
        ReferenceStep(x, 2048, 12, y);
        for (int n = 0; n < 8; ++n) pass1[8 * n + c] = y[n];
    }
    for (int r = 0; r < 8; ++r) ReferenceStep(&pass1[8 * r], 1 << 20, 21, &o[8 * r]);
    for (int i = 0; i < 64; ++i) {
        out[i] = static_cast<uint8_t>(std::clamp<int64_t>(o[i] + 128, 0, 255));
        if (idctOut) idctOut[i] = static_cast<int16_t>(o[i]);
    }
}

const std::vector<uint16_t> kFlat(64, 1);

// Reconstructs with rows 13 bytes apart and returns the 64 samples, or
// nothing when a byte in the gaps between and after the rows changed.
std::vector<uint8_t> Reconstruct(const std::vector<int16_t>& block, const std::vector<uint16_t>& q = kFlat) {
    const size_t step = 13;
    std::vector<uint8_t> wide(7 * step + 8 + 5, 0xEE), out;
    EXPECT_EQ(ReconstructBlock(block.data(), wide.data(), step, q.data()), PrimOk);
    for (size_t i = 0; i < wide.size(); ++i) {
        if (i / step < 8 && i % step < 8) out.push_back(wide[i]);
        else if (wide[i] != 0xEE) return {};
    }
    return out;
}

using ReconstructKernel = void (*)(const int16_t*, uint8_t*, ptrdiff_t, const uint16_t*, int32_t);

std::vector<int16_t> Single(int position, int value) {
    std::vector<int16_t> block(64, 0);
    block[position] = static_cast<int16_t>(value);
    return block;
}

// ---------------------------------------------------------------------------

TEST(PrepareQuantTable, ReordersZigZagIntoNaturalOrder) {
    for (int z = 0; z < 64; ++z) EXPECT_EQ(NaturalToZigZag[wemb_test::kZigzagToNatural[z]], z) << z;
    uint8_t raw[64];
    for (int i = 0; i < 64; ++i) raw[i] = static_cast<uint8_t>(i == 0 ? 255 : i);
    uint16_t prepared[64];
    ASSERT_EQ(PrepareQuantTable(raw, prepared), PrimOk);
    EXPECT_EQ(prepared[0], 255);  // zero-extended
    for (int p = 1; p < 64; ++p) EXPECT_EQ(prepared[p], NaturalToZigZag[p]) << p;

    uint16_t untouched[64];
    std::memset(untouched, 0x5A, sizeof(untouched));
    EXPECT_EQ(PrepareQuantTable(nullptr, untouched), PrimErrNullPointer);
    EXPECT_EQ(PrepareQuantTable(raw, nullptr), PrimErrNullPointer);
    EXPECT_EQ(std::count(untouched, untouched + 64, 0x5A5A), 64);
}

TEST(ReconstructBlock, WorkedValues) {
    // {DC, sample}; 1000 x 255 saturates to 32767, and 8 x 32767 wraps to -8
    // in the 16-bit array between the passes: (-8 + 32) >> 6 is 0.
    const int dcCases[8][3] = {{0, 1, 128}, {8, 1, 129}, {-8, 1, 127}, {4, 1, 129}, {-4, 1, 128},
                               {1020, 1, 255}, {-1024, 1, 0}, {1000, 255, 128}};
    for (const auto& c : dcCases) {
        const std::vector<uint16_t> q(64, static_cast<uint16_t>(c[1]));
        EXPECT_EQ(Reconstruct(Single(0, c[0]), q), std::vector<uint8_t>(64, static_cast<uint8_t>(c[2]))) << c[0];
    }
    // Horizontal frequency 1 gives the same row everywhere; vertical
    // frequency 1 the same column.
    const uint8_t ramp[8] = {145, 143, 138, 131, 125, 118, 113, 111};
    const std::vector<uint8_t> horizontal = Reconstruct(Single(1, 100)), vertical = Reconstruct(Single(8, 100));
    for (int i = 0; i < 64; ++i) {
        EXPECT_EQ(horizontal[i], ramp[i % 8]) << i;
        EXPECT_EQ(vertical[i], ramp[i / 8]) << i;
    }
}

TEST(ReconstructBlock, ChecksArgumentsFirst) {
    const std::vector<int16_t> block = Single(0, 80);
    std::vector<uint8_t> dst(64, 0xEE);
    EXPECT_EQ(ReconstructBlock(nullptr, nullptr, 0, nullptr), PrimErrNullPointer);
    EXPECT_EQ(ReconstructBlock(block.data(), nullptr, 0, nullptr), PrimErrNullPointer);
    EXPECT_EQ(ReconstructBlock(block.data(), dst.data(), 0, nullptr), PrimErrBadStep);
    EXPECT_EQ(ReconstructBlock(block.data(), dst.data(), -8, kFlat.data()), PrimErrBadStep);
    EXPECT_EQ(ReconstructBlock(block.data(), dst.data(), 8, nullptr), PrimErrNullPointer);
    EXPECT_EQ(dst, std::vector<uint8_t>(64, 0xEE));
}

// The fast code against the transcription: random blocks from realistic to
// extreme, the latter wrapping in 32 and 16 bits; for these InverseDct8x8
// alone must give the transform's 16-bit output. (Every DC-only block is
// checked below, in DcOnlyBlocksAtEveryValueAndQuantizer.)
TEST(ReconstructBlock, MatchesTheIntegerStepsBitForBit) {
    ForEachSimdLevel([&] {
        uint8_t expected[64];
        int16_t expectedIdct[64], idct[64];
        std::mt19937 rng(1234);
        std::uniform_int_distribution<int> any16(-32768, 32767), small(-300, 300), quant(0, 255);
        std::uniform_int_distribution<int> position(0, 63), count(1, 6), choice(0, 3);
        for (int trial = 0; trial < 40000; ++trial) {
            std::vector<int16_t> block(64, 0);
            std::vector<uint16_t> q(64);
            const int kind = choice(rng);
            for (int i = 0; i < 64; ++i)  // dense blocks also get quantizers read as negative
                q[i] = static_cast<uint16_t>(kind == 3 ? 1 : kind == 0 ? any16(rng) : quant(rng));
            if (kind == 0) {  // dense, any 16-bit value: wraps everywhere
                for (int16_t& v : block) v = static_cast<int16_t>(any16(rng));
                ReferenceReconstruct(block.data(), kFlat.data(), expected, expectedIdct);
                InverseDct8x8(block.data(), idct);
                ASSERT_EQ(std::memcmp(idct, expectedIdct, sizeof(idct)), 0) << "trial " << trial;
            } else if (kind == 1) {  // sparse extremes
                for (int n = count(rng); n > 0; --n)
                    block[position(rng)] = static_cast<int16_t>(choice(rng) < 2 ? -32768 : 32767);
            } else {  // realistic magnitudes
                for (int n = count(rng) * 4; n > 0; --n) block[position(rng)] = static_cast<int16_t>(small(rng));
            }
            ReferenceReconstruct(block.data(), q.data(), expected);
            ASSERT_EQ(Reconstruct(block, q), std::vector<uint8_t>(expected, expected + 64)) << "trial " << trial;
        }
    });
}

// ---------------------------------------------------------------------------
// The kernels' shortcuts (a block of DC only, a block within its top-left
// 2 x 2 or 4 x 4 corner, a caller's zig-zag extent) give exactly the bytes of
// the full transform. Each distinct reconstruction kernel of the tables is
// called directly, with sentinel bytes around and between its rows.

// The distinct reconstruction kernels of all levels, lowest level first.
std::vector<ReconstructKernel> DistinctReconstructKernels() {
    std::vector<ReconstructKernel> kernels;
    for (int32_t level = SimdScalar; level <= SimdAvx2; ++level) {
        const ReconstructKernel k = KernelsForLevel(level).reconstructBlock;
        if (std::find(kernels.begin(), kernels.end(), k) == kernels.end()) kernels.push_back(k);
    }
    return kernels;
}

constexpr ptrdiff_t kKernelStep = 11;
constexpr size_t kKernelBytes = 7 * kKernelStep + 8;

// The kernel's output with the bytes between its rows: they must stay 0xEE.
std::array<uint8_t, kKernelBytes> RunKernel(ReconstructKernel kernel, const int16_t* block, const uint16_t* quant,
                                            int32_t extent) {
    std::array<uint8_t, kKernelBytes> out;
    out.fill(0xEE);
    kernel(block, out.data(), kKernelStep, quant, extent);
    return out;
}

std::array<uint8_t, kKernelBytes> Spread(const uint8_t samples[64]) {
    std::array<uint8_t, kKernelBytes> out;
    out.fill(0xEE);
    for (int i = 0; i < 64; ++i) out[(i / 8) * kKernelStep + i % 8] = samples[i];
    return out;
}

// The full transform without shortcuts: MultiplySaturated, InverseDct8x8,
// level shift and clamp (those two checked against the transcription above).
std::array<uint8_t, kKernelBytes> FullTransform(const int16_t* block, const uint16_t* quant) {
    int16_t dequantized[64], idct[64];
    MultiplySaturated(block, reinterpret_cast<const int16_t*>(quant), dequantized, 64);
    InverseDct8x8(dequantized, idct);
    uint8_t samples[64];
    for (int i = 0; i < 64; ++i) samples[i] = static_cast<uint8_t>(std::clamp(idct[i] + 128, 0, 255));
    return Spread(samples);
}

// The side of the smallest top-left corner holding the zig-zag indexes
// 0..extent, from the zig-zag order itself.
int CornerHolding(int extent) {
    int side = 1;
    for (int z = 0; z <= extent; ++z) {
        const int natural = wemb_test::kZigzagToNatural[z];
        while (natural / 8 >= side || natural % 8 >= side) side *= 2;
    }
    return side;
}

// Every dequantized DC value, through every kernel with and without the
// extent of a DC-only block and through ReconstructBlock at every level,
// against the transcription; then every DC coefficient with every
// quantizer (all 2^16 x 256 products) through every kernel, against the
// transcription's block of the saturated product. Together: every DC-only
// block any stream can give.
TEST(ReconstructBlock, DcOnlyBlocksAtEveryValueAndQuantizer) {
    std::vector<std::array<uint8_t, kKernelBytes>> expected(65536);
    for (int dc = -32768; dc <= 32767; ++dc) {
        uint8_t samples[64];
        ReferenceReconstruct(Single(0, dc).data(), kFlat.data(), samples);
        expected[static_cast<size_t>(dc + 32768)] = Spread(samples);
    }
    std::vector<int16_t> block(64, 0);
    std::vector<uint16_t> quant(64);
    std::mt19937 rng(99);
    for (uint16_t& q : quant) q = static_cast<uint16_t>(rng() % 256);  // AC quantizers meet only zeros
    for (const ReconstructKernel kernel : DistinctReconstructKernels()) {
        quant[0] = 1;
        for (int dc = -32768; dc <= 32767; ++dc) {
            block[0] = static_cast<int16_t>(dc);
            const auto& want = expected[static_cast<size_t>(dc + 32768)];
            ASSERT_EQ(RunKernel(kernel, block.data(), quant.data(), 0), want) << "DC " << dc;
            ASSERT_EQ(RunKernel(kernel, block.data(), quant.data(), kFullBlockExtent), want) << "DC " << dc;
        }
        for (int q = 0; q < 256; ++q) {
            quant[0] = static_cast<uint16_t>(q);
            for (int dc = -32768; dc <= 32767; ++dc) {
                block[0] = static_cast<int16_t>(dc);
                const int product = std::clamp(dc * q, -32768, 32767);
                ASSERT_EQ(RunKernel(kernel, block.data(), quant.data(), 0), expected[static_cast<size_t>(product + 32768)])
                    << "DC " << dc << " quantizer " << q;
            }
        }
    }
    ForEachSimdLevel([&] {
        for (int dc = -32768; dc <= 32767; ++dc) {
            std::vector<uint8_t> want;
            for (int i = 0; i < 64; ++i) want.push_back(expected[static_cast<size_t>(dc + 32768)][(i / 8) * kKernelStep + i % 8]);
            ASSERT_EQ(Reconstruct(Single(0, dc)), want) << "DC " << dc;
        }
    });
}

// Random blocks at every extent: coefficients on random zig-zag indexes up
// to the extent (the extent itself always written), from small to the
// extremes that saturate in the dequantization and wrap in both passes,
// with flat, random (zeros included) and maximal quantizers. Each kernel,
// told the extent and told nothing, must give the full transform's bytes.
// Then the caller's word broken: coefficients beyond the extent, which
// every kernel must leave out by the same rule, the corner of the extent.
TEST(ReconstructBlock, SparseBlocksAtEveryExtentMatchTheFullTransform) {
    for (int extent = 0; extent < 64; ++extent) {
        const int corner = CornerHolding(extent);
        ASSERT_EQ(corner, extent < 1 ? 1 : extent < 3 ? 2 : extent < 10 ? 4 : 8) << extent;
    }
    const int16_t extremes[6] = {32767, -32768, 32766, -32767, 4096, -4096};
    for (const ReconstructKernel kernel : DistinctReconstructKernels()) {
        std::mt19937 rng(2024);
        for (int extent = 0; extent < 64; ++extent) {
            for (int trial = 0; trial < 600; ++trial) {
                std::vector<uint16_t> quant(64);
                const int quantKind = trial % 4;
                for (uint16_t& q : quant) {
                    q = static_cast<uint16_t>(quantKind == 0 ? 1 : quantKind == 1 ? 255 : rng() % (quantKind == 2 ? 256 : 4));
                }
                std::vector<int16_t> block(64, 0);
                const auto value = [&] {
                    switch (rng() % 4) {
                        case 0: return static_cast<int16_t>(static_cast<int>(rng() % 61) - 30);
                        case 1: return extremes[rng() % 6];
                        case 2: return static_cast<int16_t>(rng());
                        default: return static_cast<int16_t>(rng() % 2 ? 1 : -1);
                    }
                };
                const int count = 1 + static_cast<int>(rng() % (extent + 1));
                for (int n = 1; n < count; ++n) block[wemb_test::kZigzagToNatural[rng() % (extent + 1)]] = value();
                int16_t last = value();
                if (last == 0) last = 1;
                block[wemb_test::kZigzagToNatural[extent]] = last;
                const auto want = FullTransform(block.data(), quant.data());
                ASSERT_EQ(RunKernel(kernel, block.data(), quant.data(), extent), want)
                    << "extent " << extent << " trial " << trial;
                ASSERT_EQ(RunKernel(kernel, block.data(), quant.data(), kFullBlockExtent), want)
                    << "extent " << extent << " trial " << trial;

                // Values after the extent: only the extent's corner counts.
                std::vector<int16_t> beyond = block, cut = block;
                for (int z = extent + 1; z < 64; ++z) beyond[wemb_test::kZigzagToNatural[z]] = value();
                const int side = CornerHolding(extent);
                for (int i = 0; i < 64; ++i) cut[i] = i / 8 < side && i % 8 < side ? beyond[i] : 0;
                ASSERT_EQ(RunKernel(kernel, beyond.data(), quant.data(), extent), FullTransform(cut.data(), quant.data()))
                    << "extent " << extent << " trial " << trial << " with values beyond it";
            }
        }
    }
}

// The pair kernel of every level against the scalar kernel on each block:
// two blocks side by side (the right one 8 bytes after the left), rows 21
// bytes apart with sentinels between them. Extents from DC only to full on
// either side, so that pairs of whole blocks and every mix of shortcuts are
// taken; coefficients from small to wrapping extremes, some written beyond
// a block's extent (the kernel must keep to the extent's corner there too),
// and blocks told nothing (the full extent) whose values lie in any corner.
TEST(ReconstructBlock, PairsGiveTheBytesOfEachBlockAlone) {
    constexpr ptrdiff_t kStep = 21;
    constexpr size_t kBytes = 7 * kStep + 16;
    using PairKernel = decltype(Kernels::reconstructBlockPair);
    std::vector<PairKernel> kernels;
    for (int32_t level = SimdScalar; level <= SimdAvx2; ++level) {
        const PairKernel k = KernelsForLevel(level).reconstructBlockPair;
        if (std::find(kernels.begin(), kernels.end(), k) == kernels.end()) kernels.push_back(k);
    }
    const ReconstructKernel scalar = KernelsForLevel(SimdScalar).reconstructBlock;
    const int extents[6] = {0, 2, 9, 10, 40, 63};
    std::mt19937 rng(31);
    for (const PairKernel kernel : kernels) {
        for (int trial = 0; trial < 20000; ++trial) {
            std::vector<uint16_t> quant(64);
            for (uint16_t& q : quant) q = static_cast<uint16_t>(trial % 3 == 0 ? 1 : rng() % 256);
            int16_t blocks[2][64] = {};
            int32_t extent[2];
            for (int b = 0; b < 2; ++b) {
                extent[b] = extents[rng() % 6];
                // Every fifth pair breaks the word; blocks of which nothing is
                // known (the full extent) hold values up to any index.
                const int reach = extent[b] == kFullBlockExtent ? extents[rng() % 6] : trial % 5 == 0 ? 63 : extent[b];
                for (int n = static_cast<int>(rng() % 24); n >= 0; --n) {
                    const int z = static_cast<int>(rng() % (reach + 1));
                    blocks[b][wemb_test::kZigzagToNatural[z]] =
                        static_cast<int16_t>(rng() % 4 == 0 ? static_cast<int16_t>(rng()) : static_cast<int>(rng() % 201) - 100);
                }
            }
            std::array<uint8_t, kBytes> want, got;
            want.fill(0xEE);
            got.fill(0xEE);
            scalar(blocks[0], want.data(), kStep, quant.data(), extent[0]);
            scalar(blocks[1], want.data() + 8, kStep, quant.data(), extent[1]);
            kernel(blocks[0], blocks[1], got.data(), kStep, quant.data(), extent[0], extent[1]);
            ASSERT_EQ(got, want) << "trial " << trial << " extents " << extent[0] << ", " << extent[1];
        }
    }
}

TEST(MultiplySaturated, SaturatesToSixteenBitsAndWritesCountValues) {
    const int16_t a[6] = {1000, -1000, 32767, -32768, -32768, 7}, b[6] = {255, 255, 1, 1, -1, -3};
    const int16_t expected[7] = {32767, -32768, 32767, -32768, 32767, -21, 99};
    int16_t out[7];
    out[6] = 99;
    MultiplySaturated(a, b, out, 6);
    EXPECT_EQ(std::memcmp(out, expected, sizeof(expected)), 0);
}

// An independent check of the integer steps themselves: a double-precision
// IDCT of the same dequantized coefficients, rounded and clamped. Blocks are
// made as an encoder would: a gradient plus noise of varying strength,
// forward DCT, quantized by the K.1 table scaled from near-lossless
// (quantizers down to 1) to coarse.
//
// Bound asserted: every sample within 1 of the ideal (the IEEE 1180 peak
// error), and at least 95% equal to it. The 15-bit constants are within
// 2^-16 relative of the ideal and the four roundings (each pass, and the odd
// part's >> 12 before each sqrt(2) scaling) cost fractions of an output
// unit, so the result differs only where the ideal value lies near a half.
TEST(ReconstructBlock, StaysWithinOneOfTheIdealTransform) {
    double basis[8][8];  // [x][u]: C(u) / 2 cos((2x + 1) u pi / 16)
    for (int x = 0; x < 8; ++x)
        for (int u = 0; u < 8; ++u) basis[x][u] = (u == 0 ? std::sqrt(0.125) : 0.5) * std::cos((2 * x + 1) * u * std::acos(-1.0) / 16);
    // The 2-D transform of `in`, forward (samples to coefficients) or inverse.
    const auto transform = [&](const double* in, double* out, bool inverse) {
        for (int i = 0; i < 64; ++i) {
            out[i] = 0;
            for (int k = 0; k < 64; ++k)
                out[i] += in[k] * (inverse ? basis[i % 8][k % 8] * basis[i / 8][k / 8] : basis[k % 8][i % 8] * basis[k / 8][i / 8]);
        }
    };
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> pixel(0, 255), slope(-10, 10), pick(0, 3), unit(-1000, 1000);
    long total = 0, exact = 0;
    int worst = 0;
    for (int trial = 0; trial < 6000; ++trial) {
        const int noise = (pick(rng) + 1) * 30, base = pixel(rng), dx = slope(rng), dy = slope(rng);
        const int scale = 1 << pick(rng);
        double picture[64], coefficients[64], dequantized[64], ideal[64];
        for (int i = 0; i < 64; ++i)
            picture[i] = std::clamp(base + dx * (i % 8) + dy * (i / 8) + unit(rng) * noise / 1000, 0, 255) - 128.0;
        transform(picture, coefficients, false);
        std::vector<int16_t> block(64);
        std::vector<uint16_t> q(64);
        for (int i = 0; i < 64; ++i) {
            q[i] = static_cast<uint16_t>(std::clamp(wemb_test::AnnexKLuminanceQuant()[i] * scale / 16, 1, 255));
            block[i] = static_cast<int16_t>(std::lround(coefficients[i] / q[i]));
            dequantized[i] = block[i] * q[i];
        }
        transform(dequantized, ideal, true);
        const std::vector<uint8_t> got = Reconstruct(block, q);
        for (int i = 0; i < 64; ++i) {
            const int diff = std::abs(got[i] - static_cast<int>(std::lround(std::clamp(ideal[i] + 128, 0.0, 255.0))));
            worst = std::max(worst, diff);
            exact += diff == 0;
            ++total;
        }
    }
    EXPECT_LE(worst, 1);
    EXPECT_GE(exact * 100, total * 95) << exact << " of " << total;
}

}  // namespace
