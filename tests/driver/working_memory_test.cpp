// The heap a frame's decompression takes at its peak, counted through the
// codec's one heap door. A sequential frame is decoded one MCU row at a time,
// so its working memory depends on the width alone; a progressive frame keeps
// the coefficients of the whole frame until its last scan.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "primitives/memory.h"
#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"

namespace {

using namespace wemb_test;

uint8_t Texture(int32_t x, int32_t y) { return static_cast<uint8_t>((x * 7 + y * 13 + x * y) & 0xFF); }

// A 4:2:0 baseline frame of the given size.
std::vector<uint8_t> Sequential420(int32_t width, int32_t height) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const int32_t pixel = static_cast<int32_t>(i / 3);
        pixels[i] = static_cast<uint8_t>(Texture(pixel % width, pixel / width) + 40 * (i % 3));
    }
    return testing_support::LibjpegCompress(pixels, width, height, 3, 75, false);
}

std::vector<uint8_t> ProgressiveRgb(int32_t width, int32_t height) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 31 % 251);
    return testing_support::LibjpegCompress(pixels, width, height, 3, 90, true);
}

// Heap bytes above what was in use before, at the peak of one decompression;
// the frame must decode.
int64_t PeakOfDecompression(const std::vector<uint8_t>& frame) {
    const int64_t before = ReadHeapStatistics().bytesInUse;
    ResetHeapPeak();
    const CodecResult result = DecodeWithCodec(frame);
    EXPECT_EQ(result.status, ICERR_OK);
    const HeapStatistics after = ReadHeapStatistics();
    EXPECT_EQ(after.bytesInUse, before) << "the decoder gave back all it took";
    return after.peakBytes - before;
}

TEST(WorkingMemory, SequentialFrameNeedsTheSameHeapWhateverItsHeight) {
    const int64_t short_ = PeakOfDecompression(Sequential420(64, 16));
    const int64_t tall = PeakOfDecompression(Sequential420(64, 1024));
    EXPECT_GT(short_, 0);
    EXPECT_EQ(tall, short_);
    // Twice the width: every row buffer grows, the tables do not.
    const int64_t wide = PeakOfDecompression(Sequential420(128, 16));
    EXPECT_GT(wide, short_);
}

TEST(WorkingMemory, ProgressiveFrameHoldsTheWholeFramesCoefficients) {
    const int64_t short_ = PeakOfDecompression(ProgressiveRgb(64, 16));
    const int64_t tall = PeakOfDecompression(ProgressiveRgb(64, 1024));
    // At least the 64 extra MCU rows of 4 MCUs, 6 blocks each, of coefficients.
    EXPECT_GE(tall - short_, int64_t{63} * 4 * 6 * 128);
}

}  // namespace
