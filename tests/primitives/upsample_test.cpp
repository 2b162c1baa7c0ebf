#include "primitives/upsample.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "support/simd_levels.h"

namespace {

using wemb_test::ForEachSimdLevel;

const uint8_t kSentinel = 0xEE;

// A source plane holding exactly the samples a filter may read: columns -1
// to width / 2 and rows -1 to height / 2 (H2V2) or 0 to height - 1 (H2V1) of
// a dstWidth x dstHeight output, rows packed without gaps. The address
// sanitizer then reports any read outside that area at the ends.
struct Source {
    int32_t columns, rows, firstRow;
    std::vector<uint8_t> bytes;

    Source(int32_t dstWidth, int32_t dstHeight, bool vertical, uint32_t seed)
        : columns(dstWidth / 2 + 2),
          rows(vertical ? dstHeight / 2 + 2 : dstHeight),
          firstRow(vertical ? -1 : 0),
          bytes(static_cast<size_t>(columns) * rows) {
        std::mt19937 rng(seed);
        for (uint8_t& v : bytes) v = static_cast<uint8_t>(rng());
    }
    // Pointer to source row 0, column 0.
    const uint8_t* Origin() const { return bytes.data() + (-firstRow) * columns + 1; }
    int S(int32_t row, int32_t col) const { return bytes[(row - firstRow) * columns + col + 1]; }
};

// The filters as the rules read, one output sample at a time: the nearer
// source sample weighs 3 against 1 in each doubled direction, and odd
// columns round the other way.
int Expected(const Source& s, bool vertical, int32_t i, int32_t j) {
    const int32_t c = j / 2, n = j % 2 == 0 ? c - 1 : c + 1;
    if (!vertical) return (3 * s.S(i, c) + s.S(i, n) + 1 + j % 2) >> 2;
    const int32_t p = i / 2, q = i % 2 == 0 ? p - 1 : p + 1;
    return (9 * s.S(p, c) + 3 * s.S(q, c) + 3 * s.S(p, n) + s.S(q, n) + 8 - j % 2) >> 4;
}

using Filter = PrimitiveStatus (*)(const uint8_t*, int32_t, int32_t, int32_t, uint8_t*, int32_t,
                                   int32_t, int32_t);

// The worked row of the filter's description, and a constant plane, which
// both rounding terms of H2V2 reproduce (16c + 8 and 16c + 7 both shift to c).
TEST(Upsample, WorkedRowAndConstantPlanes) {
    const uint8_t src[4] = {10, 10, 20, 20};  // border, 10, 20, border
    uint8_t dst[5] = {0, 0, 0, 0, kSentinel};
    ASSERT_EQ(UpsampleH2V1(src + 1, 4, 2, 1, dst, 5, 4, 1), PrimOk);
    EXPECT_EQ(std::vector<uint8_t>(dst, dst + 5), (std::vector<uint8_t>{10, 13, 17, 20, kSentinel}));
    for (int value : {0, 1, 7, 128, 254, 255}) {
        const std::vector<uint8_t> plane(40 * 6, static_cast<uint8_t>(value));
        std::vector<uint8_t> out(70 * 8, kSentinel);
        ASSERT_EQ(UpsampleH2V2(plane.data() + 40 + 1, 40, 33, 4, out.data(), 70, 66, 8), PrimOk);
        for (int32_t i = 0; i < 70 * 8; ++i) EXPECT_EQ(out[i], i % 70 < 66 ? value : kSentinel) << i;
    }
}

// Random planes at widths around the 16-column groups, with padding bytes
// after each output row that must stay untouched.
TEST(Upsample, BothFiltersMatchTheRulesAndStayInsideTheirArea) {
    ForEachSimdLevel([&] {
        for (bool vertical : {false, true}) {
            const Filter filter = vertical ? UpsampleH2V2 : UpsampleH2V1;
            for (int32_t width : {1, 2, 3, 15, 16, 17, 18, 31, 32, 33, 47, 64, 101}) {
                for (int32_t height : {1, 2, 3, 5, 16}) {
                    const Source src(width, height, vertical, static_cast<uint32_t>(width * 31 + height));
                    const int32_t dstStep = width + 3;
                    std::vector<uint8_t> dst(static_cast<size_t>(dstStep) * height, kSentinel);
                    ASSERT_EQ(filter(src.Origin(), src.columns, (width + 1) / 2, vertical ? (height + 1) / 2 : height,
                                     dst.data(), dstStep, width, height),
                              PrimOk);
                    for (int32_t i = 0; i < height; ++i)
                        for (int32_t j = 0; j < dstStep; ++j) {
                            ASSERT_EQ(dst[i * dstStep + j], j >= width ? kSentinel : Expected(src, vertical, i, j))
                                << (vertical ? "H2V2 " : "H2V1 ") << width << "x" << height << " at "
                                << i << "," << j;
                        }
                }
            }
        }
    });
}

TEST(Upsample, ChecksArgumentsInOrderAndWritesNothingOnFailure) {
    const std::vector<uint8_t> src(64, 100);
    std::vector<uint8_t> dst(64, kSentinel);
    const uint8_t* s = src.data() + 9;
    uint8_t* d = dst.data();
    for (Filter f : {UpsampleH2V1, UpsampleH2V2}) {
        EXPECT_EQ(f(nullptr, 0, 0, 0, nullptr, 0, 0, 0), PrimErrNullPointer);
        EXPECT_EQ(f(s, 0, 0, 0, nullptr, 0, 0, 0), PrimErrBadStep);
        EXPECT_EQ(f(s, -8, 2, 2, d, 8, 4, 4), PrimErrBadStep);
        EXPECT_EQ(f(s, 8, 0, 2, nullptr, 0, 0, 0), PrimErrBadSize);
        EXPECT_EQ(f(s, 8, 2, -1, d, 8, 4, 4), PrimErrBadSize);
        EXPECT_EQ(f(s, 8, 2, 2, nullptr, 0, 0, 0), PrimErrNullPointer);
        EXPECT_EQ(f(s, 8, 2, 2, d, 0, 0, 0), PrimErrBadStep);
        EXPECT_EQ(f(s, 8, 2, 2, d, 8, 0, 4), PrimErrBadSize);
        EXPECT_EQ(f(s, 8, 2, 2, d, 8, 4, 0), PrimErrBadSize);
    }
    EXPECT_EQ(dst, std::vector<uint8_t>(64, kSentinel));
}

}  // namespace
