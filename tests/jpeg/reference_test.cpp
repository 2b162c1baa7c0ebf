// Whole frames through DriverProc compared with libjpeg-turbo decoding the
// same streams.
//
// Tolerance: the two decoders' inverse DCTs are different fixed-point
// approximations of the same transform and round differently, by at most one
// level per sample; the colour conversion (same JFIF tables) can turn one
// level in Y, Cb and Cr into up to 3 in R, G or B. So every sample must be
// within 3. The one place the pictures differ by design is 4:2:0 chroma of
// sequential frames: this codec up-samples each 16-row band as soon as it is
// decoded, so the last row of a band is filtered with the band's own last
// chroma row repeated where libjpeg reads the next band's first. Those rows
// are excluded from the bound of 3 and covered by a PSNR floor instead.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/codec_decode.h"
#include "support/reference_decoder.h"

namespace {

using namespace wemb_test;

constexpr int kSampleTolerance = 3;
constexpr double kMinimumPsnr = 50.0;

bool NameHas(const std::string& name, const char* part) {
    return name.find(part) != std::string::npos;
}

// Sampling structures the codec refuses (the frame fails with ICERR_BADFORMAT).
bool IsUnsupportedSampling(const std::string& name) {
    return NameHas(name, "ycc411") || NameHas(name, "ycc440") || NameHas(name, "h2v2-h1v2") ||
           NameHas(name, "h1v2") || NameHas(name, "k1x1");
}

bool IsFourComponent(const std::string& name) {
    return name.rfind("cmyk", 0) == 0 || name.rfind("ycck", 0) == 0;
}

// Largest difference over the rows of the picture that `counts` accepts
// (rows numbered from the top).
template <typename RowFilter>
int MaxDifference(const CodecResult& ours, const ReferenceImage& ref, RowFilter counts) {
    const int32_t step = RowStep24(ours.width);
    int largest = 0;
    for (int32_t y = 0; y < ours.height; ++y) {
        if (!counts(y)) continue;
        const int32_t bufferRow = ours.height - 1 - y;
        const uint8_t* a = ours.pixels.data() + static_cast<size_t>(bufferRow) * step;
        const uint8_t* b = ref.Row(bufferRow);
        for (int32_t x = 0; x < ours.width * 3; ++x) {
            largest = std::max(largest, std::abs(a[x] - b[x]));
        }
    }
    return largest;
}

TEST(ReferenceFrames, EverySupportedStreamMatchesLibjpegWithinTolerance) {
    int compared = 0;
    for (const std::string& name : ListTestdata()) {
        if (IsUnsupportedSampling(name) || IsFourComponent(name) || NameHas(name, "dconly")) {
            continue;
        }
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadFile(TestdataPath(name), &bytes));
        const CodecResult ours = DecodeWithCodec(bytes);
        ASSERT_EQ(ours.status, ICERR_OK);
        ReferenceImage ref;
        std::string error;
        ASSERT_TRUE(DecodeReference(bytes, {}, &ref, &error)) << error;
        ASSERT_EQ(ref.width, ours.width);
        ASSERT_EQ(ref.height, ours.height);

        const bool bandedChroma = name.rfind("ycc420", 0) == 0 && !NameHas(name, "prog");
        const auto inBandInterior = [&](int32_t y) { return !bandedChroma || y % 16 != 15; };
        EXPECT_LE(MaxDifference(ours, ref, inBandInterior), kSampleTolerance);
        const ImageDifference all = CompareImages(ours.pixels.data(), ref.pixels.data(), ours.width,
                                                  ours.height, RowStep24(ours.width));
        EXPECT_GE(all.psnr, kMinimumPsnr);
        ++compared;
    }
    EXPECT_GE(compared, 60) << "the test streams are missing";
}

TEST(ReferenceFrames, OrientationIsBottomUp) {
    // The buffer's last row must be the picture's top row, as a top-down
    // decode of the same stream gives it.
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFile(TestdataPath("ycc444_64x48_q85.jpg"), &bytes));
    const CodecResult frame = DecodeWithCodec(bytes);
    ASSERT_EQ(frame.status, ICERR_OK);
    ReferenceImage topDown;
    ASSERT_TRUE(DecodeReference(bytes, {ReferenceLayout::kBgrTopDown, true}, &topDown));
    const int32_t step = RowStep24(frame.width);
    const uint8_t* lastBufferRow = frame.pixels.data() + static_cast<size_t>(frame.height - 1) * step;
    int largest = 0;
    for (int32_t x = 0; x < frame.width * 3; ++x) {
        largest = std::max(largest, std::abs(lastBufferRow[x] - topDown.Row(0)[x]));
    }
    EXPECT_LE(largest, kSampleTolerance) << "the last buffer row is the picture's top row";
}

TEST(ReferenceFrames, UnsupportedSamplingIsRefusedWithoutWriting) {
    int refused = 0;
    for (const std::string& name : ListTestdata()) {
        if (!IsUnsupportedSampling(name)) continue;
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadFile(TestdataPath(name), &bytes));
        const CodecResult frame = DecodeWithCodec(bytes);
        EXPECT_EQ(frame.status, ICERR_BADFORMAT);
        EXPECT_TRUE(frame.Untouched());
        ++refused;
    }
    EXPECT_GE(refused, 5);
}

TEST(ReferenceFrames, FourComponentFramesDecodeIntoNothingForABgrHost) {
    int seen = 0;
    for (const std::string& name : ListTestdata()) {
        if (!IsFourComponent(name) || IsUnsupportedSampling(name)) continue;
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadFile(TestdataPath(name), &bytes));
        const CodecResult frame = DecodeWithCodec(bytes);
        EXPECT_EQ(frame.status, ICERR_OK);
        EXPECT_TRUE(frame.Untouched()) << "no conversion from CMYK or YCCK to BGR";
        ++seen;
    }
    EXPECT_GE(seen, 6);
}

TEST(ReferenceFrames, ProgressiveStreamsWithoutAcScansProduceNoPicture) {
    for (const char* name : {"grey_prog_dconly_64x48_q85.jpg", "ycc420_prog_dconly_64x48_q85.jpg"}) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> bytes;
        ASSERT_TRUE(ReadFile(TestdataPath(name), &bytes));
        const CodecResult frame = DecodeWithCodec(bytes);
        EXPECT_EQ(frame.status, ICERR_OK);
        EXPECT_TRUE(frame.Untouched());
    }
}

TEST(ReferenceFrames, AFrameOfAnotherSizeThanTheFormatIsRefusedUntouched) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFile(TestdataPath("ycc420_320x240_q90.jpg"), &bytes));
    const CodecResult halfHeight = DecodeWithCodec(bytes, 320, 120);
    EXPECT_EQ(halfHeight.status, ICERR_BADFORMAT);
    EXPECT_TRUE(halfHeight.Untouched());
    const CodecResult otherWidth = DecodeWithCodec(bytes, 321, 240);
    EXPECT_EQ(otherWidth.status, ICERR_BADFORMAT);
    EXPECT_TRUE(otherWidth.Untouched());
}

TEST(ReferenceFrames, ByteCountDecidesWhatTheCodecReads) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFile(TestdataPath("grey_64x48_q75.jpg"), &bytes));
    // No bytes at all: nothing to read, whatever the buffer holds.
    std::vector<uint8_t> none;
    EXPECT_EQ(DecodeWithCodec(none, 64, 48).status, ICERR_BADFORMAT);
    // Without its EOI the frame fails.
    std::vector<uint8_t> noEoi(bytes.begin(), bytes.end() - 2);
    EXPECT_EQ(DecodeWithCodec(noEoi, 64, 48).status, ICERR_BADFORMAT);
    // Bytes after EOI are never read.
    std::vector<uint8_t> trailing = bytes;
    trailing.insert(trailing.end(), {0xFF, 0xC3, 0x00});
    EXPECT_EQ(DecodeWithCodec(trailing, 64, 48).status, ICERR_OK);
}

TEST(ReferenceFrames, AOneRowFrameIsReturnedAsDecoded) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFile(TestdataPath("grey_64x1_q90.jpg"), &bytes));
    const CodecResult frame = DecodeWithCodec(bytes);
    ASSERT_EQ(frame.status, ICERR_OK);
    ReferenceImage ref;
    ASSERT_TRUE(DecodeReference(bytes, {}, &ref));
    EXPECT_LE(MaxAbsDifference(frame.pixels.data(), ref.pixels.data(), 64, 1, RowStep24(64)), 1);
}

TEST(ReferenceFrames, HurryUpChangesNothing) {
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFile(TestdataPath("ycc422_64x48_q85.jpg"), &bytes));
    const CodecResult plain = DecodeWithCodec(bytes);
    BITMAPINFOHEADER input = WembFormat(64, 48);
    input.biSizeImage = static_cast<DWORD>(bytes.size());
    std::vector<uint8_t> hurried(plain.pixels.size(), kUntouched);
    ICDECOMPRESS job = {};
    job.dwFlags = ICDECOMPRESS_HURRYUP;
    job.lpbiInput = &input;
    job.lpInput = bytes.data();
    job.lpOutput = hurried.data();
    ASSERT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS, reinterpret_cast<LPARAM>(&job), sizeof(job)),
              ICERR_OK);
    EXPECT_EQ(hurried, plain.pixels);
}

}  // namespace
