// Whole frames through DriverProc compared with libjpeg-turbo decoding the
// same streams.
//
// Tolerance: kReferenceSampleTolerance (support/libjpeg_reference.h, where
// the reasons are), with the band-edge rows of sequential 4:2:0 frames
// covered by a PSNR floor instead.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"
#include "support/simd_levels.h"

namespace {

using namespace wemb_test;
using Bytes = std::vector<uint8_t>;

const uint8_t kApp14[] = {0xFF, 0xEE};
constexpr double kMinimumPsnr = 50.0;

bool NameHas(const std::string& name, const char* part) {
    return name.find(part) != std::string::npos;
}

// Sampling structures the codec refuses (the frame fails with ICERR_BADFORMAT).
bool IsUnsupportedSampling(const std::string& name) {
    return NameHas(name, "ycc411") || NameHas(name, "ycc440") || NameHas(name, "h2v2-h1v2") ||
           NameHas(name, "h1v2") || NameHas(name, "k1x1");
}

// Sequential frames with 4:2:0 chroma, whose band-edge rows differ from
// libjpeg's by design.
bool HasBandedChroma(const std::string& name) {
    return (name.rfind("ycc420", 0) == 0 || name.rfind("cmyk420", 0) == 0 || name.rfind("ycck420", 0) == 0) &&
           !NameHas(name, "prog");
}

bool IsFourComponent(const std::string& name) {
    return name.rfind("cmyk", 0) == 0 || name.rfind("ycck", 0) == 0;
}

// The codec's bottom-up buffer turned top-down, to be compared with libjpeg's
// top-down picture: a picture upside down fails the comparison.
Bytes TopDown(const CodecResult& frame) {
    const size_t step = RowStep24(frame.width);
    Bytes rows;
    for (int32_t row = frame.height - 1; row >= 0; --row) {
        rows.insert(rows.end(), frame.pixels.begin() + row * step, frame.pixels.begin() + (row + 1) * step);
    }
    return rows;
}

TEST(ReferenceFrames, EverySupportedStreamMatchesLibjpegWithinTolerance) {
    int compared = 0;
    for (const std::string& name : ListTestdata()) {
        if (IsUnsupportedSampling(name) || IsFourComponent(name)) {
            continue;
        }
        SCOPED_TRACE(name);
        const Bytes bytes = Testdata(name);
        const CodecResult ours = DecodeWithCodec(bytes);
        ASSERT_EQ(ours.status, ICERR_OK);
        ReferenceImage ref;
        std::string error;
        ASSERT_TRUE(DecodeReference(bytes, ReferenceLayout::kBgrTopDown, &ref, &error)) << error;
        ASSERT_EQ(ref.width, ours.width);
        ASSERT_EQ(ref.height, ours.height);
        EXPECT_EQ(ref.progressive, NameHas(name, "_prog"));

        const Bytes topDown = TopDown(ours);
        const int32_t step = RowStep24(ours.width);
        EXPECT_LE(LargestDifferenceOutsideBandEdges(topDown.data(), ref.pixels.data(), ours.width, ours.height,
                                                    step, HasBandedChroma(name)),
                  kReferenceSampleTolerance);
        EXPECT_GE(CompareImages(topDown.data(), ref.pixels.data(), ours.width, ours.height, step).psnr, kMinimumPsnr);
        ++compared;
    }
    EXPECT_GE(compared, 60) << "the test streams are missing";
}

// Four-component frames against libjpeg's CMYK through the viewers' formula,
// within kReferenceCmykTolerance or kReferenceYcckTolerance; the 4:2:0
// band-edge rows of sequential frames differ by design, as for YCbCr (PSNR
// floor only).
TEST(ReferenceFrames, FourComponentFramesMatchLibjpegsCmykThroughTheViewersFormula) {
    int compared = 0;
    ForEachSimdLevel([&] {
        for (const std::string& name : ListTestdata()) {
            if (!IsFourComponent(name) || IsUnsupportedSampling(name)) continue;
            SCOPED_TRACE(name);
            const Bytes bytes = Testdata(name);
            const CodecResult ours = DecodeWithCodec(bytes);
            ASSERT_EQ(ours.status, ICERR_OK);
            ReferenceImage cmyk;
            std::string error;
            ASSERT_TRUE(DecodeReference(bytes, ReferenceLayout::kCmykTopDown, &cmyk, &error)) << error;
            const Bytes want = CmykAsViewersShowIt(cmyk);
            const Bytes topDown = TopDown(ours);
            const int32_t step = RowStep24(ours.width);
            const int largest = LargestDifferenceOutsideBandEdges(topDown.data(), want.data(), ours.width,
                                                                  ours.height, step, HasBandedChroma(name));
            EXPECT_LE(largest, name.rfind("cmyk", 0) == 0 ? kReferenceCmykTolerance : kReferenceYcckTolerance);
            EXPECT_GE(CompareImages(topDown.data(), want.data(), ours.width, ours.height, step).psnr, kMinimumPsnr);
            ++compared;
        }
    });
    EXPECT_GE(compared, 5 * 6) << "the four-component test streams are missing";
}

// Without its Adobe segment a four-component stream has no colour model the
// codec knows; like a sampling structure it refuses, it is refused and
// nothing is written.
TEST(ReferenceFrames, FramesWithoutAPictureAreRefusedAndLeaveTheBufferUntouched) {
    int seen = 0;
    for (const std::string& name : ListTestdata()) {
        Bytes bytes = Testdata(name);
        if (IsFourComponent(name) && !IsUnsupportedSampling(name)) {
            const auto adobe = std::search(bytes.begin(), bytes.end(), std::begin(kApp14), std::end(kApp14));
            ASSERT_NE(adobe, bytes.end()) << name;
            *(adobe + 1) = 0xEF;  // an APP15 segment, passed over unread
        } else if (!IsUnsupportedSampling(name)) {
            continue;
        }
        const CodecResult frame = DecodeWithCodec(bytes);
        EXPECT_EQ(frame.status, ICERR_BADFORMAT) << name;
        EXPECT_TRUE(frame.Untouched()) << name;
        ++seen;
    }
    EXPECT_GE(seen, 12);
}

TEST(ReferenceFrames, TheFormatAndTheByteCountDecideWhatIsRead) {
    const Bytes frame = Testdata("ycc420_320x240_q90.jpg");
    Bytes trailing = frame;
    trailing.insert(trailing.end(), {0xFF, 0xC3, 0x00});
    struct Case {
        const char* what;
        Bytes bytes;
        int32_t width, height;
        LRESULT status;
        bool untouched;
    };
    const Case cases[] = {
        {"a format of half the height", frame, 320, 120, ICERR_BADFORMAT, true},
        {"a format of another width", frame, 321, 240, ICERR_BADFORMAT, true},
        {"no bytes, whatever the buffer holds", {}, 320, 240, ICERR_BADFORMAT, true},
        {"without its EOI", Bytes(frame.begin(), frame.end() - 2), 320, 240, ICERR_BADFORMAT, false},
        {"bytes after EOI are never read", trailing, 320, 240, ICERR_OK, false},
    };
    for (const Case& c : cases) {
        const CodecResult result = DecodeWithCodec(c.bytes, c.width, c.height);
        EXPECT_EQ(result.status, c.status) << c.what;
        EXPECT_TRUE(!c.untouched || result.Untouched()) << c.what;
    }
}

TEST(ReferenceFrames, HurryUpChangesNothing) {
    const Bytes bytes = Testdata("ycc422_64x48_q85.jpg");
    const CodecResult hurried = DecodeWithCodec(bytes, 0, 0, ICDECOMPRESS_HURRYUP);
    ASSERT_EQ(hurried.status, ICERR_OK);
    EXPECT_EQ(hurried.pixels, DecodeWithCodec(bytes).pixels);
}

}  // namespace
