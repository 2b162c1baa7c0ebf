#include "primitives/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <random>
#include <thread>
#include <vector>

#include "primitives/simd.h"
#include "support/simd_levels.h"

namespace {

using wemb_test::ForEachSimdLevel;

const uint8_t kSentinel = 0xEE;
constexpr size_t kGuard = 40;  // sentinel bytes before and after each output

const Kernels& Scalar() { return KernelsForLevel(SimdScalar); }

std::vector<uint8_t> RandomBytes(std::mt19937& rng, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

// Lengths around every group size (16 and 32 pixels, 8 blocks of 2) and a
// frame row.
std::vector<size_t> RowLengths() {
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 70; ++n) lengths.push_back(n);
    for (size_t n : {95, 96, 97, 127, 128, 129, 1920, 1923}) lengths.push_back(n);
    return lengths;
}

// Runs `run` into a guarded buffer of `bytes` and returns all of it, guards
// included.
template <typename Run>
std::vector<uint8_t> Guarded(size_t bytes, Run run) {
    std::vector<uint8_t> out(bytes + 2 * kGuard, kSentinel);
    run(out.data() + kGuard);
    return out;
}

// ---------------------------------------------------------------------------

TEST(KernelTables, FollowTheLimitBothWays) {
    const int32_t best = KernelsForLevel(SimdAvx2).level;
    for (int32_t level = SimdScalar; level <= SimdAvx2; ++level) {
        LimitSimdLevel(level);
        EXPECT_EQ(&ActiveKernels(), &KernelsForLevel(level)) << level;
        EXPECT_LE(ActiveKernels().level, level);
    }
    // Back up again, and out-of-range limits taken as the nearest level.
    LimitSimdLevel(SimdAvx2);
    EXPECT_EQ(ActiveKernels().level, best);
    LimitSimdLevel(-7);
    EXPECT_EQ(&ActiveKernels(), &Scalar());
    LimitSimdLevel(1000);
    EXPECT_EQ(ActiveKernels().level, best);
    LimitSimdLevel(SimdAvx2);
    EXPECT_EQ(Scalar().level, SimdScalar);
}

// Threads taking tables while another changes the limit, and tables chosen
// for the first time meanwhile: every call finds one of the level tables.
// Under ThreadSanitizer this is also the race check of the choice.
TEST(KernelTables, ChoosingIsSafeWhileTheLimitChanges) {
    std::vector<const Kernels*> tables;
    for (int32_t level = SimdScalar; level <= SimdAvx2; ++level) tables.push_back(&KernelsForLevel(level));
    std::atomic<bool> stop{false};
    std::atomic<int64_t> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const Kernels* k = &ActiveKernels();
                if (std::find(tables.begin(), tables.end(), k) == tables.end()) ++wrong;
            }
        });
    }
    for (int round = 0; round < 2000; ++round) LimitSimdLevel(round % (SimdAvx2 + 1));
    stop.store(true);
    for (std::thread& t : readers) t.join();
    LimitSimdLevel(SimdAvx2);
    EXPECT_EQ(wrong.load(), 0);
}

// ---------------------------------------------------------------------------
// Every kernel of every level against the scalar kernel, with the inputs
// exactly as long as the kernel may read (the address sanitizer reports any
// read beyond) and sentinels around the output. The block reconstruction
// kernels are compared with the full transform in idct_test.cpp.

using PlaneRowsKernel = void (*)(const uint8_t* const*, uint8_t*, size_t);

struct PlaneRowsCase {
    const char* name;
    PlaneRowsKernel Kernels::*kernel;
    int planes;
    int channels;
};

const PlaneRowsCase kPlaneRowsKernels[] = {
    {"interleave3Row", &Kernels::interleave3Row, 3, 3}, {"interleave4Row", &Kernels::interleave4Row, 4, 4},
    {"yccToBgrRow", &Kernels::yccToBgrRow, 3, 3},       {"yccToRgbRow", &Kernels::yccToRgbRow, 3, 3},
    {"ycckToCmykRow", &Kernels::ycckToCmykRow, 4, 4},
};

TEST(Kernels, PlaneRowsMatchTheScalarKernels) {
    ForEachSimdLevel([&] {
        std::mt19937 rng(5);
        for (const PlaneRowsCase& c : kPlaneRowsKernels) {
            for (size_t count : RowLengths()) {
                std::vector<uint8_t> planes[4];
                const uint8_t* rows[4] = {};
                for (int p = 0; p < c.planes; ++p) {
                    planes[p] = RandomBytes(rng, count);
                    rows[p] = planes[p].data();
                }
                const size_t bytes = count * c.channels;
                const auto got = Guarded(bytes, [&](uint8_t* dst) { (ActiveKernels().*c.kernel)(rows, dst, count); });
                const auto want = Guarded(bytes, [&](uint8_t* dst) { (Scalar().*c.kernel)(rows, dst, count); });
                ASSERT_EQ(got, want) << c.name << " of " << count << " pixels";
            }
        }
    });
}

TEST(Kernels, UpsamplingRowsMatchTheScalarKernels) {
    ForEachSimdLevel([&] {
        std::mt19937 rng(6);
        for (size_t width : RowLengths()) {
            // Source columns -1 to (width - 1) / 2 + 1 of two rows.
            const size_t columns = width == 0 ? 0 : (width - 1) / 2 + 3;
            const std::vector<uint8_t> nearRow = RandomBytes(rng, columns), farRow = RandomBytes(rng, columns);
            const uint8_t* n = width == 0 ? nullptr : nearRow.data() + 1;
            const uint8_t* f = width == 0 ? nullptr : farRow.data() + 1;
            const auto h2v1 = [&](const Kernels& k) {
                return Guarded(width, [&](uint8_t* dst) { k.upsampleH2V1Row(n, dst, width); });
            };
            const auto h2v2 = [&](const Kernels& k) {
                return Guarded(width, [&](uint8_t* dst) { k.upsampleH2V2Row(n, f, dst, width); });
            };
            ASSERT_EQ(h2v1(ActiveKernels()), h2v1(Scalar())) << "H2V1 of " << width;
            ASSERT_EQ(h2v2(ActiveKernels()), h2v2(Scalar())) << "H2V2 of " << width;
        }
    });
}

// Blocks from all zero to dense, with values whose low byte is zero, the
// extremes and small ones.
std::vector<int16_t> RandomBlock(std::mt19937& rng) {
    const int16_t values[8] = {0, 1, -1, 256, -256, 32767, -32768, 100};
    const int density = static_cast<int>(rng() % 65);
    std::vector<int16_t> block(64, 0);
    for (int16_t& v : block) {
        if (static_cast<int>(rng() % 64) < density) {
            v = rng() % 2 ? values[rng() % 8] : static_cast<int16_t>(rng());
        }
    }
    return block;
}

TEST(Kernels, NonZeroMaskMatchesTheScalarKernel) {
    ForEachSimdLevel([&] {
        std::mt19937 rng(7);
        for (int trial = 0; trial < 20000; ++trial) {
            const std::vector<int16_t> block = RandomBlock(rng);
            // AC coefficients only: a DC scan on another thread may be
            // writing block[0].
            uint64_t expected = 0;
            for (int p = 1; p < 64; ++p) expected |= uint64_t{block[p] != 0} << p;
            ASSERT_EQ(ActiveKernels().nonZeroMask(block.data()), expected) << trial;
            ASSERT_EQ(Scalar().nonZeroMask(block.data()), expected) << trial;
        }
    });
}

}  // namespace
