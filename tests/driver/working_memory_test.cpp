// The heap a frame's decompression takes at its peak, counted through the
// codec's one heap door. A sequential frame is decoded one MCU row at a time,
// so its working memory depends on the width alone; a progressive frame keeps
// the coefficients of the whole frame until its last scan.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "primitives/memory.h"
#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"

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
    return wemb_test::LibjpegCompress(pixels, width, height, 3, 75, false);
}

std::vector<uint8_t> ProgressiveRgb(int32_t width, int32_t height) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i * 31 % 251);
    return wemb_test::LibjpegCompress(pixels, width, height, 3, 90, true);
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

// One open instance of the codec, sent frames of any size as a host would
// after negotiating each stream's format.
class OpenInstance {
public:
    OpenInstance() : m_id(static_cast<DWORD_PTR>(DriverProc(0, nullptr, DRV_OPEN, 0, 0))) {}
    ~OpenInstance() { DriverProc(m_id, nullptr, DRV_CLOSE, 0, 0); }

    CodecResult Decode(const std::vector<uint8_t>& frame, int32_t width, int32_t height) {
        CodecResult result;
        result.width = width;
        result.height = height;
        BITMAPINFOHEADER input = WembFormat(width, height);
        input.biSizeImage = static_cast<DWORD>(frame.size());
        BITMAPINFOHEADER output = input;
        output.biCompression = BI_RGB;
        output.biSizeImage = 0;
        result.pixels.assign(RowStep24(width) * static_cast<size_t>(height), kUntouched);
        ICDECOMPRESS job = {};
        job.lpbiInput = &input;
        job.lpInput = const_cast<uint8_t*>(frame.data());
        job.lpbiOutput = &output;
        job.lpOutput = result.pixels.data();
        result.status = DriverProc(m_id, nullptr, ICM_DECOMPRESS, reinterpret_cast<LPARAM>(&job), sizeof(job));
        return result;
    }

    void End() { DriverProc(m_id, nullptr, ICM_DECOMPRESS_END, 0, 0); }

private:
    DWORD_PTR m_id;
};

// The instance keeps the last frame's decoder with its buffers, but nothing
// of a frame may reach the next one's picture: every test stream, and after
// each a damaged copy of it, decoded through one instance gives what a
// fresh decoder gives.
TEST(WorkingMemory, FramesThroughOneInstanceAreIndependent) {
    OpenInstance instance;
    for (const std::string& name : ListTestdata()) {
        const std::vector<uint8_t> bytes = Testdata(name);
        int32_t width = 0, height = 0;
        ASSERT_TRUE(ProbeJpegSize(bytes.data(), bytes.size(), &width, &height));
        std::vector<uint8_t> damaged = bytes;
        damaged.resize(bytes.size() * 2 / 3);
        for (const std::vector<uint8_t>* frame : {&bytes, static_cast<const std::vector<uint8_t>*>(&damaged)}) {
            const CodecResult kept = instance.Decode(*frame, width, height);
            const CodecResult fresh = DecodeWithCodec(*frame, width, height);
            ASSERT_EQ(kept.status, fresh.status) << name;
            ASSERT_EQ(kept.pixels, fresh.pixels) << name;
        }
    }
}

// A second frame of the same size allocates next to nothing: the buffers of
// the first are kept until ICM_DECOMPRESS_END.
TEST(WorkingMemory, AnInstanceKeepsItsBuffersUntilTheStreamEnds) {
    const std::vector<uint8_t> sequential = Sequential420(640, 64);
    const std::vector<uint8_t> progressive = ProgressiveRgb(640, 64);
    for (const std::vector<uint8_t>* frame : {&sequential, &progressive}) {
        OpenInstance instance;
        const int64_t before = ReadHeapStatistics().bytesInUse;
        ASSERT_EQ(instance.Decode(*frame, 640, 64).status, ICERR_OK);
        const int64_t kept = ReadHeapStatistics().bytesInUse - before;
        EXPECT_GT(kept, 640 * 16) << "the first frame's buffers are kept";
        ResetHeapPeak();
        const int64_t start = ReadHeapStatistics().bytesInUse;
        ASSERT_EQ(instance.Decode(*frame, 640, 64).status, ICERR_OK);
        const HeapStatistics after = ReadHeapStatistics();
        EXPECT_EQ(after.bytesInUse, start);
        EXPECT_LT(after.peakBytes - start, kept / 4) << "the second frame reuses them";
        instance.End();
        EXPECT_EQ(ReadHeapStatistics().bytesInUse, before) << "the end of the stream releases them";
    }
}

}  // namespace
