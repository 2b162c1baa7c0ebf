// The decoder on its own: destinations other than the driver's BGR, restart
// markers, and entropy-coded data that stops or goes wrong part way.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"

namespace {

using namespace wemb_test;
using wemb_test::LibjpegCompress;

// Interleaved samples of `components` per pixel, sample(x, y, c) each.
template <typename Sample>
std::vector<uint8_t> Picture(int32_t width, int32_t height, int components, Sample sample) {
    std::vector<uint8_t> pixels;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int c = 0; c < components; ++c) pixels.push_back(static_cast<uint8_t>(sample(x, y, c)));
    return pixels;
}

bool PaddingUntouched(const DecoderResult& d, int32_t bytesPerPixel) {
    for (int32_t y = 0; y < d.height; ++y) {
        const auto row = d.pixels.begin() + y * d.step;
        if (std::count(row + d.width * bytesPerPixel, row + d.step, kUntouched) != d.step - d.width * bytesPerPixel) return false;
    }
    return true;
}

// Largest difference between our picture and a top-down reference with the
// same bytes per pixel (and a row step of its own).
int MaxDifference(const DecoderResult& d, const ReferenceImage& ref, int32_t bytesPerPixel) {
    int largest = 0;
    for (int32_t y = 0; y < d.height; ++y) {
        largest = std::max(largest, CompareImages(&d.pixels[y * d.step], ref.Row(y), d.width, 1, 0, bytesPerPixel).maxAbs);
    }
    return largest;
}

TEST(DecoderOutput, RgbIsBgrWithEachPixelReversed) {
    for (const char* name : {"ycc444_64x48_q85.jpg", "ycc422_33x17_q85.jpg", "rgb_33x17_q90.jpg",
                             "grey_17x9_q90.jpg", "ycc420_prog_33x17_q85.jpg"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> bytes = Testdata(name);
        const DecoderResult bgr = DecodeWithDecoder(bytes, ColorBGR, 3);
        const DecoderResult rgb = DecodeWithDecoder(bytes, ColorRGB, 3);
        ASSERT_EQ(bgr.status, DecOk);
        ASSERT_EQ(rgb.status, DecOk);
        std::vector<uint8_t> reversed = rgb.pixels;
        for (int32_t y = 0; y < rgb.height; ++y) {
            for (int32_t x = 0; x < rgb.width; ++x) std::swap(reversed[y * rgb.step + 3 * x], reversed[y * rgb.step + 3 * x + 2]);
        }
        EXPECT_EQ(reversed, bgr.pixels);
        EXPECT_TRUE(PaddingUntouched(rgb, 3));
    }
}

// Destinations in the stream's own colour space (or CMYK) compared with
// libjpeg's output in the same space.
TEST(DecoderOutput, DestinationsMatchLibjpegInTheirColourSpace) {
    struct Case {
        std::string name;
        std::vector<uint8_t> bytes;
        int32_t model, bytesPerPixel;
        ReferenceLayout layout;
        int tolerance;
    };
    std::vector<Case> cases = {
        {"grey", Testdata("grey_64x48_q75.jpg"), ColorGrey, 1, ReferenceLayout::kNativeTopDown, 1},
        // Four components without an Adobe segment: the data's model is
        // unknown, and an unknown destination takes it as it is.
        {"unknown", LibjpegCompress(Picture(24, 16, 4, [](int32_t x, int32_t y, int c) { return 30 * c + 4 * x + y; }),
                                    24, 16, 4, 100, false),
         ColorUnknown, 4, ReferenceLayout::kNativeTopDown, 1},
    };
    for (const char* name : {"cmyk_pil_64x48_q90.jpg", "cmyk420_64x48_q90.jpg", "ycck444_64x48_q90.jpg",
                             "ycck420_64x48_q90.jpg", "ycck422_33x17_q90.jpg", "cmyk_pil_prog_64x48_q90.jpg",
                             "ycck420_prog_64x48_q90.jpg"}) {
        // Sequential 4:2:0 chroma differs at band boundaries, as for YCbCr.
        const bool banded = std::string(name).find("420_64") != std::string::npos;
        cases.push_back({name, Testdata(name), ColorCMYK, 4, ReferenceLayout::kCmykTopDown, banded ? 40 : 3});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const DecoderResult decoded = DecodeWithDecoder(c.bytes, c.model, c.bytesPerPixel);
        ASSERT_EQ(decoded.status, DecOk);
        ReferenceImage ref;
        ASSERT_TRUE(DecodeReference(c.bytes, c.layout, &ref));
        EXPECT_LE(MaxDifference(decoded, ref, c.bytesPerPixel), c.tolerance);
        EXPECT_TRUE(PaddingUntouched(decoded, c.bytesPerPixel));
    }
}

TEST(DecoderOutput, GreyFramesAsColourRepeatTheGreyLevel) {
    const std::vector<uint8_t> bytes = Testdata("grey_64x48_q75.jpg");
    const DecoderResult grey = DecodeWithDecoder(bytes, ColorGrey, 1);
    const DecoderResult bgr = DecodeWithDecoder(bytes, ColorBGR, 3);
    ASSERT_EQ(bgr.status, DecOk);
    for (int32_t y = 0; y < bgr.height; ++y) {
        for (int32_t x = 0; x < 3 * bgr.width; ++x) {
            ASSERT_EQ(bgr.pixels[y * bgr.step + x], grey.pixels[y * grey.step + x / 3]) << x / 3 << "," << y;
        }
    }
}

// A frame without a conversion to the destination: nothing is written, and
// that is no failure.
TEST(DecoderOutput, MissingConversionsWriteNothing) {
    struct Case {
        const char* name;
        int32_t model, bytesPerPixel;
    };
    for (Case c : {Case{"ycc444_64x48_q85.jpg", ColorUnknown, 4}, Case{"ycc444_64x48_q85.jpg", ColorCMYK, 4},
                   Case{"ycc420_prog_33x17_q85.jpg", ColorYCbCr, 2}}) {
        const DecoderResult none = DecodeWithDecoder(Testdata(c.name), c.model, c.bytesPerPixel);
        EXPECT_EQ(none.status, DecOk) << c.name;
        EXPECT_EQ(none.pixels, std::vector<uint8_t>(none.pixels.size(), kUntouched)) << c.name << " into " << c.model;
    }
}

TEST(DecoderOutput, PackedYCbCrWritesWholeGroupsOfEightPixels) {
    // 20 pixels wide: 16 are written, as 8 pairs of Cb Y0 Cr Y1 with the
    // chroma of the even pixel; green alternates so that the chroma does too.
    const std::vector<uint8_t> bytes = LibjpegCompress(Picture(20, 8, 3, [](int32_t x, int32_t y, int c) {
        return c == 0 ? 40 + 8 * x : c == 1 ? (x % 2 ? 200 : 60) : 100 + y;
    }), 20, 8, 3, 100, false, 0, true);
    const DecoderResult packed = DecodeWithDecoder(bytes, ColorYCbCr, 2);
    ASSERT_EQ(packed.status, DecOk);
    ReferenceImage ycc;
    ASSERT_TRUE(DecodeReference(bytes, ReferenceLayout::kNativeTopDown, &ycc));
    ASSERT_NE(ycc.Row(0)[1], ycc.Row(0)[3 + 1]) << "pixels 0 and 1 have chroma of their own";
    for (int32_t y = 0; y < 8; ++y) {
        const uint8_t* in = ycc.Row(y);
        const uint8_t* out = &packed.pixels[static_cast<size_t>(y) * packed.step];
        for (int32_t x = 0; x < 16; x += 2) {
            EXPECT_NEAR(out[2 * x + 0], in[3 * x + 1], 1) << "Cb of pixel " << x;
            EXPECT_NEAR(out[2 * x + 1], in[3 * x + 0], 1);
            EXPECT_NEAR(out[2 * x + 2], in[3 * x + 2], 1) << "Cr of pixel " << x;
            EXPECT_NEAR(out[2 * x + 3], in[3 * (x + 1) + 0], 1);
        }
        for (int32_t x = 32; x < packed.step; ++x) EXPECT_EQ(out[x], kUntouched) << "pixels 16..19";
    }
    // Grey into packed: neutral chroma.
    const DecoderResult grey = DecodeWithDecoder(Testdata("grey_17x9_q90.jpg"), ColorYCbCr, 2);
    ASSERT_EQ(grey.status, DecOk);
    EXPECT_EQ(grey.pixels[0], 128);
    EXPECT_EQ(grey.pixels[2], 128);
    EXPECT_NE(grey.pixels[31], kUntouched) << "17 pixels: two groups of 8 written";
    EXPECT_EQ(grey.pixels[32], kUntouched) << "the 17th pixel is not";
}

// Offsets of the RSTn markers of a stream.
std::vector<size_t> RestartMarkers(const std::vector<uint8_t>& bytes) {
    std::vector<size_t> at;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] >= 0xD0 && bytes[i + 1] <= 0xD7) at.push_back(i);
    }
    return at;
}

TEST(RestartMarkers, NumbersAreNotCheckedAndAnyMarkerEndsAnInterval) {
    const std::vector<uint8_t> bytes = Testdata("ycc420_rst1mcu_227x149_q85.jpg");
    const CodecResult original = DecodeWithCodec(bytes);
    ASSERT_EQ(original.status, ICERR_OK);
    const std::vector<size_t> markers = RestartMarkers(bytes);
    ASSERT_GT(markers.size(), 100u);

    std::vector<uint8_t> renumbered = bytes;
    for (size_t at : markers) renumbered[at + 1] = 0xD3;
    EXPECT_EQ(DecodeWithCodec(renumbered).pixels, original.pixels);

    // A marker of another kind where an RSTn should be ends the interval too.
    std::vector<uint8_t> other = bytes;
    other[markers[5] + 1] = 0xF5;  // JPG5: a reserved code without a segment here
    EXPECT_EQ(DecodeWithCodec(other).pixels, original.pixels);
}

TEST(RestartMarkers, AMissingMarkerFailsTheFrameAfterTheRowsBeforeIt) {
    std::vector<uint8_t> bytes = Testdata("ycc420_rst1row_227x149_q85.jpg");
    const std::vector<size_t> markers = RestartMarkers(bytes);
    ASSERT_GE(markers.size(), 5u);
    // Remove the fourth marker: its interval and the next run together.
    bytes.erase(bytes.begin() + markers[3], bytes.begin() + markers[3] + 2);
    const DecoderResult d = DecodeWithDecoder(bytes, ColorBGR, 3);
    EXPECT_EQ(d.status, DecErrFailed);
    // The first four MCU rows (64 lines) were written before the failure.
    const DecoderResult intact = DecodeWithDecoder(Testdata("ycc420_rst1row_227x149_q85.jpg"), ColorBGR, 3);
    ASSERT_EQ(intact.status, DecOk);
    EXPECT_TRUE(std::equal(d.pixels.begin(), d.pixels.begin() + 64 * d.step, intact.pixels.begin()));
}

TEST(RestartMarkers, EveryIntervalLengthDecodesAlike) {
    // The same picture with Ri from 1 to 9 MCUs, including intervals that do
    // not divide the 5 MCUs of a row, and without restarts.
    const std::vector<uint8_t> pixels = Picture(80, 40, 3, [](int32_t x, int32_t y, int c) {
        return c == 0 ? x * 3 + y * 5 : c == 1 ? 128 + x - y : 90 + x + y;
    });
    const CodecResult plain = DecodeWithCodec(LibjpegCompress(pixels, 80, 40, 3, 75, false));
    ASSERT_EQ(plain.status, ICERR_OK);
    for (int interval = 1; interval <= 9; ++interval) {
        const std::vector<uint8_t> stream = LibjpegCompress(pixels, 80, 40, 3, 75, false, interval);
        ASSERT_EQ(RestartMarkers(stream).size(), static_cast<size_t>((15 - 1) / interval)) << "Ri " << interval;  // 5 x 3 MCUs
        const CodecResult withRestarts = DecodeWithCodec(stream);
        ASSERT_EQ(withRestarts.status, ICERR_OK) << "Ri " << interval;
        EXPECT_EQ(withRestarts.pixels, plain.pixels) << "Ri " << interval;
    }
}

TEST(EntropyData, DataCutInsideTheScanKeepsTheRowsBeforeIt) {
    const std::vector<uint8_t> bytes = Testdata("ycc420_320x240_q90.jpg");
    const DecoderResult intact = DecodeWithDecoder(bytes, ColorBGR, 3);
    ASSERT_EQ(intact.status, DecOk);
    const std::vector<uint8_t> half(bytes.begin(), bytes.begin() + bytes.size() / 2);
    const DecoderResult cut = DecodeWithDecoder(half, ColorBGR, 3);
    EXPECT_EQ(cut.status, DecErrFailed);
    // At least the first MCU row is in the destination, as in the intact
    // picture; the last line stays as it was.
    const size_t firstBand = static_cast<size_t>(cut.step) * 15;
    EXPECT_TRUE(std::equal(cut.pixels.begin(), cut.pixels.begin() + firstBand, intact.pixels.begin()));
    const size_t lastLine = static_cast<size_t>(cut.step) * (cut.height - 1);
    EXPECT_EQ(cut.pixels[lastLine], kUntouched);
}

}  // namespace
