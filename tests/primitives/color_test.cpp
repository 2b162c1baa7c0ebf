#include "primitives/color.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// The JFIF rule written out with 64-bit floor division, independent of the
// codec's tables.
int64_t FloorDiv65536(int64_t v) { return (v - (((v % 65536) + 65536) % 65536)) / 65536; }
int Clamp(int64_t v) { return static_cast<int>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

struct Rgb {
    int r, g, b;
};

Rgb ExpectedRgb(int y, int cb, int cr) {
    return {Clamp(y + FloorDiv65536(91881ll * (cr - 128) + 32768)),
            Clamp(y + FloorDiv65536(-22554ll * (cb - 128) + 32768 - 46802ll * (cr - 128))),
            Clamp(y + FloorDiv65536(116130ll * (cb - 128) + 32768))};
}

const uint8_t kSentinel = 0xEE;

// Planes of one size sharing one step, and a destination whose rows carry
// `pad` sentinel bytes after the pixels.
struct Case {
    int32_t width, height, srcStep, channels, pad;
    std::vector<std::vector<uint8_t>> planes;
    std::vector<uint8_t> dst;

    Case(int32_t w, int32_t h, int32_t planeCount, int32_t ch, int32_t extraSrc, int32_t p,
         uint32_t seed)
        : width(w), height(h), srcStep(w + extraSrc), channels(ch), pad(p) {
        std::mt19937 rng(seed);
        for (int32_t k = 0; k < planeCount; ++k) {
            planes.emplace_back(static_cast<size_t>(srcStep) * h);
            for (uint8_t& v : planes.back()) v = static_cast<uint8_t>(rng());
        }
        dst.assign(static_cast<size_t>(DstStep()) * h, kSentinel);
    }
    int32_t DstStep() const { return width * channels + pad; }
    std::vector<const uint8_t*> Pointers() const {
        std::vector<const uint8_t*> p;
        for (const auto& plane : planes) p.push_back(plane.data());
        return p;
    }
    int Sample(int32_t k, int32_t i, int32_t j) const { return planes[k][i * srcStep + j]; }
    const uint8_t* Pixel(int32_t i, int32_t j) const { return &dst[i * DstStep() + j * channels]; }
    bool PaddingIntact() const {
        for (int32_t i = 0; i < height; ++i)
            for (int32_t b = width * channels; b < DstStep(); ++b)
                if (dst[i * DstStep() + b] != kSentinel) return false;
        return true;
    }
};

using PlaneSetPrimitive = PrimitiveStatus (*)(const uint8_t* const*, int32_t, uint8_t*, int32_t,
                                              int32_t, int32_t);

PrimitiveStatus Convert(PlaneSetPrimitive f, Case& c) {
    const std::vector<const uint8_t*> p = c.Pointers();
    return f(p.data(), c.srcStep, c.dst.data(), c.DstStep(), c.width, c.height);
}

// Sizes around the 16-pixel groups, contiguous and padded.
struct Shape {
    int32_t width, height, extraSrc, pad;
};
const Shape kShapes[] = {{1, 1, 0, 0},  {15, 3, 0, 0}, {16, 2, 5, 3},  {17, 4, 0, 1},
                         {33, 3, 2, 0}, {48, 2, 0, 0}, {255, 2, 1, 4}, {7, 5, 9, 2}};

TEST(ColorTables, FollowTheRuleAndItsStatedRanges) {
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(CrToR[i], FloorDiv65536(91881ll * (i - 128) + 32768)) << i;
        EXPECT_EQ(CbToB[i], FloorDiv65536(116130ll * (i - 128) + 32768)) << i;
        EXPECT_EQ(CrToG[i], -46802ll * (i - 128)) << i;
        EXPECT_EQ(CbToG[i], -22554ll * (i - 128) + 32768) << i;
    }
    EXPECT_EQ(CrToR[0], -179);
    EXPECT_EQ(CrToR[255], 178);
    EXPECT_EQ(CbToB[0], -227);
    EXPECT_EQ(CbToB[255], 225);
    EXPECT_EQ(CrToG[0], 5990656);
    EXPECT_EQ(CrToG[255], -5943854);
    EXPECT_EQ(CbToG[0], 2919680);
    EXPECT_EQ(CbToG[255], -2831590);
}

TEST(YCbCrConversion, WorkedValues) {
    struct Worked {
        uint8_t y, cb, cr, r, g, b;
    };
    for (Worked w : {Worked{128, 128, 128, 128, 128, 128}, Worked{0, 0, 0, 0, 135, 0},
                     Worked{255, 128, 255, 255, 164, 255}, Worked{0, 0, 128, 0, 44, 0}}) {
        const uint8_t* planes[3] = {&w.y, &w.cb, &w.cr};
        uint8_t bgr[3], rgb[3];
        ASSERT_EQ(YCbCrToBGR(planes, 1, bgr, 3, 1, 1), PrimOk);
        ASSERT_EQ(YCbCrToRGB(planes, 1, rgb, 3, 1, 1), PrimOk);
        const Rgb e = ExpectedRgb(w.y, w.cb, w.cr);
        EXPECT_EQ(e.r, w.r);  // the hand-derived values agree with the rule
        EXPECT_EQ(rgb[0], w.r);
        EXPECT_EQ(rgb[2], w.b);
        EXPECT_EQ(bgr[0], w.b);
        EXPECT_EQ(bgr[2], w.r);
        EXPECT_EQ(bgr[1], w.g);
        EXPECT_EQ(rgb[1], w.g);
    }
    const uint8_t y = 255, c = 128, k = 7;
    const uint8_t* planes[4] = {&y, &c, &c, &k};
    uint8_t cmyk[4];
    ASSERT_EQ(YCCKToCMYK(planes, 1, cmyk, 4, 1, 1), PrimOk);
    EXPECT_EQ(cmyk[0], 0);
    EXPECT_EQ(cmyk[1], 0);
    EXPECT_EQ(cmyk[2], 0);
    EXPECT_EQ(cmyk[3], 7);
}

// Every (Cb, Cr) pair, each with several luma values, through all three
// transforms.
TEST(YCbCrConversion, EveryChromaPairMatchesTheRule) {
    for (int pass = 0; pass < 4; ++pass) {
        Case bgr(256, 256, 4, 3, 0, 0, 17 + pass);
        for (int32_t i = 0; i < 256; ++i)
            for (int32_t j = 0; j < 256; ++j) {
                bgr.planes[1][i * 256 + j] = static_cast<uint8_t>(j);
                bgr.planes[2][i * 256 + j] = static_cast<uint8_t>(i);
                if (pass == 0) bgr.planes[0][i * 256 + j] = static_cast<uint8_t>((i & 1) ? 255 : 0);
            }
        Case rgb = bgr, cmyk = bgr;
        cmyk.channels = 4;
        cmyk.dst.assign(256 * 256 * 4, kSentinel);
        ASSERT_EQ(Convert(YCbCrToBGR, bgr), PrimOk);
        ASSERT_EQ(Convert(YCbCrToRGB, rgb), PrimOk);
        ASSERT_EQ(Convert(YCCKToCMYK, cmyk), PrimOk);
        for (int32_t i = 0; i < 256; ++i)
            for (int32_t j = 0; j < 256; ++j) {
                const Rgb e = ExpectedRgb(bgr.Sample(0, i, j), j, i);
                const uint8_t* b = bgr.Pixel(i, j);
                const uint8_t* r = rgb.Pixel(i, j);
                const uint8_t* k = cmyk.Pixel(i, j);
                ASSERT_TRUE(b[0] == e.b && b[1] == e.g && b[2] == e.r)
                    << "Y " << bgr.Sample(0, i, j) << " Cb " << j << " Cr " << i;
                ASSERT_TRUE(r[0] == e.r && r[1] == e.g && r[2] == e.b) << i << "," << j;
                ASSERT_TRUE(k[0] == 255 - e.r && k[1] == 255 - e.g && k[2] == 255 - e.b &&
                            k[3] == cmyk.Sample(3, i, j))
                    << i << "," << j;
            }
    }
}

TEST(ColorConversion, RowsStepsAndPaddingForEveryPrimitive) {
    for (const Shape& s : kShapes) {
        Case bgr(s.width, s.height, 3, 3, s.extraSrc, s.pad, 1);
        Case rgb = bgr, three = bgr;
        Case cmyk(s.width, s.height, 4, 4, s.extraSrc, s.pad, 2), four = cmyk;
        Case grey(s.width, s.height, 1, 1, s.extraSrc, s.pad, 3);
        ASSERT_EQ(Convert(YCbCrToBGR, bgr), PrimOk);
        ASSERT_EQ(Convert(YCbCrToRGB, rgb), PrimOk);
        ASSERT_EQ(Convert(InterleavePlanes3, three), PrimOk);
        ASSERT_EQ(Convert(YCCKToCMYK, cmyk), PrimOk);
        ASSERT_EQ(Convert(InterleavePlanes4, four), PrimOk);
        ASSERT_EQ(CopyPlane8u(grey.planes[0].data(), grey.srcStep, grey.dst.data(), grey.DstStep(),
                              s.width, s.height),
                  PrimOk);
        for (int32_t i = 0; i < s.height; ++i)
            for (int32_t j = 0; j < s.width; ++j) {
                const Rgb e = ExpectedRgb(bgr.Sample(0, i, j), bgr.Sample(1, i, j), bgr.Sample(2, i, j));
                const Rgb k = ExpectedRgb(cmyk.Sample(0, i, j), cmyk.Sample(1, i, j), cmyk.Sample(2, i, j));
                const uint8_t* p = bgr.Pixel(i, j);
                EXPECT_TRUE(p[0] == e.b && p[1] == e.g && p[2] == e.r) << s.width << " " << i << "," << j;
                p = rgb.Pixel(i, j);
                EXPECT_TRUE(p[0] == e.r && p[1] == e.g && p[2] == e.b) << s.width << " " << i << "," << j;
                p = cmyk.Pixel(i, j);
                EXPECT_TRUE(p[0] == 255 - k.r && p[1] == 255 - k.g && p[2] == 255 - k.b &&
                            p[3] == cmyk.Sample(3, i, j))
                    << s.width << " " << i << "," << j;
                for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(three.Pixel(i, j)[c], three.Sample(c, i, j));
                for (int32_t c = 0; c < 4; ++c) EXPECT_EQ(four.Pixel(i, j)[c], four.Sample(c, i, j));
                EXPECT_EQ(grey.Pixel(i, j)[0], grey.Sample(0, i, j));
            }
        for (const Case* c : {&bgr, &rgb, &three, &cmyk, &four, &grey})
            EXPECT_TRUE(c->PaddingIntact()) << s.width << " channels " << c->channels;
    }
}

TEST(ColorConversion, InterleavingRepeatsAndReordersPlanesAsGiven) {
    Case c(20, 2, 3, 3, 0, 0, 5);
    // Grey into three channels, and a swapped order.
    const uint8_t* grey[3] = {c.planes[0].data(), c.planes[0].data(), c.planes[0].data()};
    ASSERT_EQ(InterleavePlanes3(grey, c.srcStep, c.dst.data(), c.DstStep(), 20, 2), PrimOk);
    for (int32_t j = 0; j < 20; ++j)
        for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(c.Pixel(1, j)[k], c.Sample(0, 1, j));
    const uint8_t* swapped[3] = {c.planes[2].data(), c.planes[1].data(), c.planes[0].data()};
    ASSERT_EQ(InterleavePlanes3(swapped, c.srcStep, c.dst.data(), c.DstStep(), 20, 2), PrimOk);
    for (int32_t j = 0; j < 20; ++j)
        for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(c.Pixel(1, j)[k], c.Sample(2 - k, 1, j));

    // A zero source step is accepted by interleaving: every row repeats row 0.
    ASSERT_EQ(InterleavePlanes3(grey, 0, c.dst.data(), c.DstStep(), 20, 2), PrimOk);
    for (int32_t j = 0; j < 20; ++j) EXPECT_EQ(c.Pixel(1, j)[1], c.Sample(0, 0, j));
}

TEST(ColorConversion, ChecksArgumentsInOrderAndWritesNothingOnFailure) {
    Case c(4, 2, 4, 4, 0, 0, 9);
    std::vector<const uint8_t*> p = c.Pointers();
    uint8_t* d = c.dst.data();
    const int32_t ss = c.srcStep, ds = c.DstStep();
    for (PlaneSetPrimitive f : {InterleavePlanes3, InterleavePlanes4, YCbCrToBGR, YCbCrToRGB, YCCKToCMYK}) {
        const bool transform = f == YCbCrToBGR || f == YCbCrToRGB || f == YCCKToCMYK;
        const int planeCount = (f == InterleavePlanes4 || f == YCCKToCMYK) ? 4 : 3;
        c.dst.assign(c.dst.size(), kSentinel);
        EXPECT_EQ(f(nullptr, 0, d, 0, 0, 0), PrimErrNullPointer);
        EXPECT_EQ(f(p.data(), 0, nullptr, 0, 0, 0), PrimErrNullPointer);
        for (int k = 0; k < planeCount; ++k) {  // a null plane outranks steps and size
            std::vector<const uint8_t*> holed = p;
            holed[k] = nullptr;
            EXPECT_EQ(f(holed.data(), 0, d, 0, 0, 0), PrimErrNullPointer) << k;
        }
        EXPECT_EQ(f(p.data(), 0, d, ds, 4, 2), transform ? PrimErrBadStep : PrimOk);
        EXPECT_EQ(f(p.data(), ss, d, -1, 0, 2), transform ? PrimErrBadStep : PrimErrBadSize);
        EXPECT_EQ(f(p.data(), ss, d, ds, 0, 2), PrimErrBadSize);
        EXPECT_EQ(f(p.data(), ss, d, ds, 4, -1), PrimErrBadSize);
        if (transform) {
            EXPECT_EQ(c.dst, std::vector<uint8_t>(c.dst.size(), kSentinel));
        }
    }
    c.dst.assign(c.dst.size(), kSentinel);
    EXPECT_EQ(CopyPlane8u(nullptr, ss, d, ds, 4, 2), PrimErrNullPointer);
    EXPECT_EQ(CopyPlane8u(p[0], ss, nullptr, ds, 4, 2), PrimErrNullPointer);
    EXPECT_EQ(CopyPlane8u(p[0], ss, d, ds, 0, 2), PrimErrBadSize);
    EXPECT_EQ(CopyPlane8u(p[0], ss, d, ds, 4, 0), PrimErrBadSize);
    EXPECT_EQ(c.dst, std::vector<uint8_t>(c.dst.size(), kSentinel));
}

}  // namespace
