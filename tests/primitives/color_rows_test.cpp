// The B, G, R row kernels: at every instruction-set level the bytes of the
// portable kernels, which compose the up-sampling and conversion kernels;
// 4-byte pixels are the 3-byte ones with 255 added; the ink scaling of CMYK
// is exact for every sample pair.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "primitives/kernels.h"
#include "primitives/simd.h"
#include "support/simd_levels.h"

namespace {

using wemb_test::ForEachSimdLevel;

constexpr uint8_t kSentinel = 0xEE;
constexpr size_t kGuard = 40;

struct BgrCase {
    const char* name;
    PlaneRowsKernel BgrRowKernels::*kernel;
    int fullPlanes;  // rows[0 .. fullPlanes - 1] of full resolution
    int halfPlanes;  // then rows of half width, read from -1 to count / 2
};

const BgrCase kCases[] = {
    {"grey", &BgrRowKernels::grey, 1, 0},       {"rgb", &BgrRowKernels::rgb, 3, 0},
    {"ycc", &BgrRowKernels::ycc, 3, 0},         {"yccH2V1", &BgrRowKernels::yccH2V1, 1, 2},
    {"yccH2V2", &BgrRowKernels::yccH2V2, 1, 4}, {"cmyk", &BgrRowKernels::cmyk, 4, 0},
    {"ycck", &BgrRowKernels::ycck, 4, 0},
};

// The planes of one row: full-resolution rows of `count` samples, and
// half-width rows with their border, exactly as large as the kernels may
// read, so that AddressSanitizer catches a read beyond them.
struct Planes {
    std::vector<std::vector<uint8_t>> storage;
    const uint8_t* rows[5] = {};

    Planes(const BgrCase& c, size_t count, std::mt19937& rng) {
        for (int p = 0; p < c.fullPlanes + c.halfPlanes; ++p) {
            const bool half = p >= c.fullPlanes;
            std::vector<uint8_t> bytes(half ? count / 2 + 2 : count);
            for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
            storage.push_back(bytes);
        }
        for (int p = 0; p < c.fullPlanes + c.halfPlanes; ++p) {
            rows[p] = storage[p].data() + (p >= c.fullPlanes ? 1 : 0);
        }
    }
};

std::vector<uint8_t> RunKernel(const Kernels& kernels, int pixelBytes, const BgrCase& c, const Planes& planes,
                         size_t count) {
    std::vector<uint8_t> out(count * pixelBytes + 2 * kGuard, kSentinel);
    (kernels.bgrRows[pixelBytes == 4].*c.kernel)(planes.rows, out.data() + kGuard, count);
    return out;
}

TEST(BgrRows, EveryLevelGivesThePortableKernelsBytes) {
    std::vector<size_t> counts;
    for (size_t n = 0; n <= 70; ++n) counts.push_back(n);
    // Long rows go in chunks of 512 pixels; a chunk can end on a narrower group.
    for (size_t n : {95, 96, 97, 127, 128, 129, 511, 512, 513, 1040, 1920, 1923}) counts.push_back(n);
    const Kernels& scalar = KernelsForLevel(SimdScalar);
    ForEachSimdLevel([&] {
        std::mt19937 rng(11);
        for (const BgrCase& c : kCases) {
            for (size_t count : counts) {
                const Planes planes(c, count, rng);
                for (int pixelBytes : {3, 4}) {
                    ASSERT_EQ(RunKernel(ActiveKernels(), pixelBytes, c, planes, count),
                              RunKernel(scalar, pixelBytes, c, planes, count))
                        << c.name << ", " << pixelBytes << " bytes, " << count << " pixels";
                }
            }
        }
    });
}

TEST(BgrRows, FourBytePixelsAreTheThreeBytePixelsAndA255) {
    std::mt19937 rng(12);
    for (const BgrCase& c : kCases) {
        const size_t count = 77;
        const Planes planes(c, count, rng);
        const std::vector<uint8_t> three = RunKernel(KernelsForLevel(SimdScalar), 3, c, planes, count);
        const std::vector<uint8_t> four = RunKernel(KernelsForLevel(SimdScalar), 4, c, planes, count);
        for (size_t j = 0; j < count; ++j) {
            for (size_t b = 0; b < 3; ++b) ASSERT_EQ(four[kGuard + 4 * j + b], three[kGuard + 3 * j + b]) << c.name;
            ASSERT_EQ(four[kGuard + 4 * j + 3], 255) << c.name;
        }
    }
}

// Every pair of an ink sample and K, in one row of 65536 pixels: B, G and R
// are each sample times K / 255, rounded to nearest.
TEST(BgrRows, InkScalingIsRoundedForEveryPair) {
    std::vector<uint8_t> c(65536), m(65536), y(65536), k(65536);
    for (size_t i = 0; i < 65536; ++i) {
        c[i] = static_cast<uint8_t>(i);
        m[i] = static_cast<uint8_t>(255 - i);
        y[i] = static_cast<uint8_t>(i * 7);
        k[i] = static_cast<uint8_t>(i >> 8);
    }
    const uint8_t* rows[4] = {c.data(), m.data(), y.data(), k.data()};
    ForEachSimdLevel([&] {
        std::vector<uint8_t> bgr(3 * 65536);
        ActiveKernels().bgrRows[0].cmyk(rows, bgr.data(), 65536);
        for (size_t i = 0; i < 65536; ++i) {
            const auto scaled = [&](uint8_t ink) { return (ink * k[i] + 127) / 255; };
            ASSERT_EQ(bgr[3 * i + 2], scaled(c[i])) << i;
            ASSERT_EQ(bgr[3 * i + 1], scaled(m[i])) << i;
            ASSERT_EQ(bgr[3 * i], scaled(y[i])) << i;
        }
    });
}

}  // namespace
