#include "primitives/color.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "support/simd_levels.h"

namespace {

using wemb_test::ForEachSimdLevel;

using PlaneSetPrimitive = PrimitiveStatus (*)(const uint8_t* const*, int32_t, uint8_t*, int32_t,
                                              int32_t, int32_t);
// Copying a plane is the one-plane case of interleaving.
PrimitiveStatus CopyPlane(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst, int32_t dstStep,
                          int32_t width, int32_t height) {
    return CopyPlane8u(planes ? planes[0] : nullptr, srcStep, dst, dstStep, width, height);
}
const PlaneSetPrimitive kAll[] = {CopyPlane, InterleavePlanes3, InterleavePlanes4, YCbCrToBGR, YCbCrToRGB,
                                  YCCKToCMYK};
const uint8_t kSentinel = 0xEE;

int Channels(PlaneSetPrimitive f) {
    return f == CopyPlane ? 1 : f == InterleavePlanes4 || f == YCCKToCMYK ? 4 : 3;
}
bool Transforms(PlaneSetPrimitive f) { return f == YCbCrToBGR || f == YCbCrToRGB || f == YCCKToCMYK; }

// The JFIF rule with 64-bit floor division, independent of the codec's tables.
int64_t FloorDiv65536(int64_t v) { return (v - (((v % 65536) + 65536) % 65536)) / 65536; }
int Clamp(int64_t v) { return static_cast<int>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Expected bytes of one pixel from the samples s[0..3] of its planes.
std::vector<int> ExpectedPixel(PlaneSetPrimitive f, const int* s) {
    if (!Transforms(f)) return std::vector<int>(s, s + Channels(f));
    const int r = Clamp(s[0] + FloorDiv65536(91881ll * (s[2] - 128) + 32768));
    const int g = Clamp(s[0] + FloorDiv65536(-22554ll * (s[1] - 128) + 32768 - 46802ll * (s[2] - 128)));
    const int b = Clamp(s[0] + FloorDiv65536(116130ll * (s[1] - 128) + 32768));
    if (f == YCbCrToBGR) return {b, g, r};
    if (f == YCbCrToRGB) return {r, g, b};
    return {255 - r, 255 - g, 255 - b, s[3]};
}

// Four random planes sharing a step of width + extraSrc; a destination with
// `pad` sentinel bytes after each row.
struct Case {
    int32_t width, height, srcStep, pad;
    std::vector<uint8_t> planes[4];
    const uint8_t* pointers[4];

    Case(int32_t w, int32_t h, int32_t extraSrc, int32_t p, uint32_t seed)
        : width(w), height(h), srcStep(w + extraSrc), pad(p) {
        std::mt19937 rng(seed);
        for (int k = 0; k < 4; ++k) {
            planes[k].resize(static_cast<size_t>(srcStep) * h);
            for (uint8_t& v : planes[k]) v = static_cast<uint8_t>(rng());
            pointers[k] = planes[k].data();
        }
    }

    // Runs f and checks every pixel and that the padding is untouched.
    void Check(PlaneSetPrimitive f) const {
        const int channels = Channels(f);
        const int32_t dstStep = width * channels + pad;
        std::vector<uint8_t> dst(static_cast<size_t>(dstStep) * height, kSentinel);
        ASSERT_EQ(f(pointers, srcStep, dst.data(), dstStep, width, height), PrimOk);
        for (int32_t i = 0; i < height; ++i)
            for (int32_t j = 0; j < width; ++j) {
                int s[4];
                for (int k = 0; k < 4; ++k) s[k] = planes[k][i * srcStep + j];
                const std::vector<int> expected = ExpectedPixel(f, s);
                for (int c = 0; c < channels; ++c)
                    ASSERT_EQ(dst[i * dstStep + j * channels + c], expected[c])
                        << width << "x" << height << " pixel " << i << "," << j << " channel " << c
                        << " from " << s[0] << "," << s[1] << "," << s[2];
                for (int32_t b = width * channels; b < dstStep; ++b)
                    ASSERT_EQ(dst[i * dstStep + b], kSentinel) << "padding of row " << i;
            }
    }
};

TEST(ColorConversion, WorkedValues) {
    // Y, Cb, Cr (K) -> B, G, R worked by hand; CMYK from Y 255 and K 7.
    const uint8_t cases[5][6] = {{128, 128, 128, 128, 128, 128}, {0, 0, 0, 0, 135, 0},
                                 {255, 128, 255, 255, 164, 255}, {0, 0, 128, 0, 44, 0},
                                 {255, 128, 128, 255, 255, 255}};
    for (const auto& w : cases) {
        const uint8_t k = 7;
        const uint8_t* planes[4] = {&w[0], &w[1], &w[2], &k};
        uint8_t bgr[3], rgb[3], cmyk[4];
        ASSERT_EQ(YCbCrToBGR(planes, 1, bgr, 3, 1, 1), PrimOk);
        ASSERT_EQ(YCbCrToRGB(planes, 1, rgb, 3, 1, 1), PrimOk);
        ASSERT_EQ(YCCKToCMYK(planes, 1, cmyk, 4, 1, 1), PrimOk);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(bgr[c], w[3 + c]) << int(w[0]) << "," << int(w[1]) << "," << int(w[2]);
            EXPECT_EQ(rgb[c], w[5 - c]);
            EXPECT_EQ(cmyk[c], 255 - w[5 - c]);
        }
        EXPECT_EQ(cmyk[3], 7);
    }
}

// Every (Cb, Cr) pair, with random luma and then luma 0 and 255.
TEST(ColorConversion, EveryChromaPairMatchesTheRule) {
    ForEachSimdLevel([&] {
        for (int pass = 0; pass < 3; ++pass) {
            Case c(256, 256, 0, 0, 17 + pass);
            for (int32_t i = 0; i < 256 * 256; ++i) {
                c.planes[1][i] = static_cast<uint8_t>(i % 256);
                c.planes[2][i] = static_cast<uint8_t>(i / 256);
                if (pass > 0) c.planes[0][i] = pass == 1 ? 0 : 255;
            }
            for (PlaneSetPrimitive f : {YCbCrToBGR, YCbCrToRGB, YCCKToCMYK}) c.Check(f);
        }
    });
}

// Widths around the 16-pixel groups, contiguous and padded rows.
TEST(ColorConversion, EveryPrimitiveCoversItsRowsAndNoMore) {
    ForEachSimdLevel([&] {
        const int32_t shapes[8][4] = {{1, 1, 0, 0},  {15, 3, 0, 0}, {16, 2, 5, 3},  {17, 4, 0, 1},
                                      {33, 3, 2, 0}, {48, 2, 0, 0}, {255, 2, 1, 4}, {7, 5, 9, 2}};
        for (const auto& s : shapes) {
            const Case c(s[0], s[1], s[2], s[3], static_cast<uint32_t>(s[0]));
            for (PlaneSetPrimitive f : kAll) c.Check(f);
        }
    });
}

TEST(ColorConversion, ChecksArgumentsInOrderAndWritesNothingOnFailure) {
    Case c(20, 2, 0, 0, 9);
    const uint8_t* const* p = c.pointers;
    std::vector<uint8_t> dst(120, kSentinel);
    uint8_t* d = dst.data();
    for (PlaneSetPrimitive f : kAll) {
        const bool transform = Transforms(f);
        EXPECT_EQ(f(nullptr, 0, d, 0, 0, 0), PrimErrNullPointer);
        EXPECT_EQ(f(p, 0, nullptr, 0, 0, 0), PrimErrNullPointer);
        for (int k = 0; k < Channels(f); ++k) {  // a null plane outranks steps and size
            const uint8_t* holed[4] = {p[0], p[1], p[2], p[3]};
            holed[k] = nullptr;
            EXPECT_EQ(f(holed, 0, d, 0, 0, 0), PrimErrNullPointer) << k;
        }
        EXPECT_EQ(f(p, 4, d, -1, 0, 2), transform ? PrimErrBadStep : PrimErrBadSize);
        EXPECT_EQ(f(p, 4, d, 16, 0, 2), PrimErrBadSize);
        for (int32_t height : {0, -1}) EXPECT_EQ(f(p, 4, d, 16, 4, height), PrimErrBadSize);
        if (transform) {
            EXPECT_EQ(f(p, 0, d, 16, 4, 2), PrimErrBadStep);
        }
        EXPECT_EQ(dst, std::vector<uint8_t>(120, kSentinel));
    }

    // Interleaving accepts a zero source step: every row repeats row 0.
    ASSERT_EQ(InterleavePlanes3(p, 0, d, 60, 20, 2), PrimOk);
    for (int32_t j = 0; j < 120; ++j) EXPECT_EQ(dst[j], p[j % 3][j % 60 / 3]) << j;
}

}  // namespace
