#include "tools/decode_pipeline.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <thread>
#include <string>
#include <vector>

#include "support/host_picture.h"
#include "support/hostile_avi.h"
#include "tools/codec_session.h"
#include "tools/frame_memory.h"
#include "tools/jpeg_probe.h"

namespace {

// Frames held in memory, each with a format of its own size, as the JPEG
// file source gives them; an empty frame is dropped, frame `unreadable`
// cannot be loaded.
class MemorySource : public FrameSource {
public:
    std::vector<std::vector<uint8_t>> frames;
    size_t unreadable = SIZE_MAX;

    size_t Count() const override { return frames.size(); }
    bool Load(size_t index, std::vector<uint8_t>* bytes, BITMAPINFOHEADER* format,
              std::string* error) const override {
        if (index == unreadable) {
            *error = "unreadable frame";
            return false;
        }
        *bytes = frames[index];
        int32_t width = 16, height = 16;  // any size for a frame without a header
        ProbeJpegSize(bytes->data(), bytes->size(), &width, &height);
        *format = WembFormat(width, height);
        return true;
    }
    std::string Label(size_t index) const override { return "memory " + std::to_string(index); }
};

// Eighteen frames of six kinds (sizes, sampling, progressive), among them
// frame 7 damaged (cut in half: no EOI), 10 dropped and 13 unreadable.
MemorySource MixedSource() {
    MemorySource source;
    for (int round = 0; round < 3; ++round) {
        for (const char* name : {"ycc420_64x48_q85.jpg", "rgb_33x17_q90.jpg", "ycc422_227x149_q85.jpg",
                                 "grey_17x9_q90.jpg", "ycc444_64x48_q85.jpg", "ycc420_prog_33x17_q85.jpg"}) {
            std::ifstream in(std::string(WEMB_TESTDATA_DIR) + "/" + name, std::ios::binary);
            source.frames.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    source.frames[7].resize(source.frames[7].size() / 2);
    source.frames[10].clear();
    source.unreadable = 13;
    return source;
}

TEST(RunDecodePipeline, DeliversInOrderWithTheCodecsPicturesOnAnyThreadCount) {
    const MemorySource source = MixedSource();
    ASSERT_GT(source.frames[0].size(), 100u);
    std::vector<wemb_test::CodecResult> expected;
    for (const auto& bytes : source.frames) expected.push_back(wemb_test::HostPicture(bytes));
    const std::vector<size_t> all = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    for (int threads : {1, 2, 8}) {
        for (const std::vector<size_t>& indices : {all, std::vector<size_t>{17, 7, 3, 10, 3, 0}}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(indices.size()) + " frames");
            std::vector<size_t> seen;
            PipelineStats counted;
            const PipelineStats stats = RunDecodePipeline(source, indices, threads, uint64_t(1) << 30, [&](DecodedFrame& frame) {
                const size_t i = frame.index;
                const bool damaged = i == 7 || i == 13, sound = !damaged && i != 10;
                seen.push_back(i);
                EXPECT_EQ(frame.dropped, i == 10) << i;
                EXPECT_EQ(frame.ok, sound) << i << ": " << frame.error;
                EXPECT_EQ(frame.error.empty(), !damaged) << i;
                EXPECT_TRUE(i != 13 || frame.error == "unreadable frame") << frame.error;
                counted.dropped += i == 10;
                counted.failed += damaged;
                if (sound) {
                    EXPECT_EQ(expected[i].status, ICERR_OK);
                    EXPECT_EQ(frame.format.biWidth, expected[i].width);
                    EXPECT_EQ(frame.format.biHeight, expected[i].height);
                    EXPECT_EQ(frame.pixels, expected[i].pixels) << "frame " << i;
                    ++counted.decoded;
                    counted.megapixels += expected[i].width * expected[i].height / 1e6;
                }
                return true;
            });
            EXPECT_EQ(seen, indices);
            EXPECT_EQ(stats.decoded, counted.decoded);
            EXPECT_EQ(stats.failed, counted.failed);
            EXPECT_EQ(stats.dropped, counted.dropped);
            EXPECT_NEAR(stats.megapixels, counted.megapixels, 1e-9);
            EXPECT_FALSE(stats.stopped);
        }
    }
}

TEST(RunDecodePipeline, StopsWhenTheSinkRefusesAndHandlesEmptyRuns) {
    const MemorySource source = MixedSource();
    for (int threads : {1, 8}) {
        size_t delivered = 0;
        const PipelineStats stats = RunDecodePipeline(source, {0, 1, 2, 3, 4, 5, 6, 7, 8}, threads, uint64_t(1) << 30,
                                                      [&](DecodedFrame&) { return ++delivered < 3; });
        EXPECT_EQ(delivered, 3u);
        EXPECT_TRUE(stats.stopped);
        EXPECT_EQ(stats.decoded, 3u);  // frames 0, 1 and 2 are sound
    }
    const PipelineStats none = RunDecodePipeline(source, {}, 4, uint64_t(1) << 30, [](DecodedFrame&) {
        ADD_FAILURE() << "nothing to deliver";
        return true;
    });
    EXPECT_EQ(none.decoded + none.failed + none.dropped, 0u);
}

// What the pipeline charges the budget for a frame it decodes.
uint64_t CostOf(const std::vector<uint8_t>& frame) {
    FrameShape shape;
    std::string error;
    EXPECT_TRUE(ReadFrameShape(frame.data(), frame.size(), &shape, &error)) << error;
    const uint64_t picture = uint64_t((shape.width * 3 + 3) & ~3) * shape.height;
    return FrameMemoryCost(shape, frame.size(), picture);
}

// A budget that holds two of the small frames at once: eight workers take
// turns, every frame but the one too large for the budget and the one whose
// headers the codec refuses decodes as before, and the budget is never
// exceeded.
TEST(RunDecodePipeline, HoldsNoMoreThanTheBudgetAndFailsFramesLargerThanIt) {
    MemorySource source = MixedSource();
    const size_t large = source.frames.size(), refused = large + 1;
    source.frames.push_back(wemb_test::BrokenProgressiveFrame(1500, 900));
    source.frames.push_back(wemb_test::RefusedHeaderFrame(16000, 16000));
    uint64_t largestSound = 0;
    for (size_t i = 0; i < large; ++i) {
        if (i != 7 && i != 10 && i != 13) largestSound = std::max(largestSound, CostOf(source.frames[i]));
    }
    const uint64_t limit = largestSound * 2;
    ASSERT_GT(CostOf(source.frames[large]), limit);
    std::vector<size_t> indices;
    for (size_t i = 0; i < source.frames.size(); ++i) indices.push_back(i);
    size_t delivered = 0;
    const PipelineStats stats = RunDecodePipeline(source, indices, 8, limit, [&](DecodedFrame& frame) {
        const size_t i = frame.index;
        EXPECT_EQ(i, delivered++);
        if (i == large) {
            EXPECT_FALSE(frame.ok);
            EXPECT_NE(frame.error.find("a 1500 x 900 progressive frame needs about"), std::string::npos)
                << frame.error;
            EXPECT_NE(frame.error.find("more than the memory budget"), std::string::npos) << frame.error;
        } else if (i == refused) {
            EXPECT_NE(frame.error.find("refused the frame's headers"), std::string::npos) << frame.error;
        } else if (frame.ok) {
            EXPECT_EQ(frame.pixels, wemb_test::HostPicture(source.frames[i]).pixels) << i;
        }
        return true;
    });
    EXPECT_EQ(delivered, indices.size());
    EXPECT_EQ(stats.decoded, 15u);
    EXPECT_EQ(stats.failed, 4u);
    EXPECT_LE(stats.peakMemory, limit);
    EXPECT_GE(stats.peakMemory, largestSound);

    // Frames refused in their headers take nothing from the budget.
    const PipelineStats none = RunDecodePipeline(source, {refused, refused, refused}, 2, limit,
                                                 [](DecodedFrame&) { return true; });
    EXPECT_EQ(none.failed, 3u);
    EXPECT_EQ(none.peakMemory, 0u);
}

// Frames of which the budget holds only one at a time are decoded by one
// thread, not by every worker in turn: each thread would keep the freed
// working memory of its last frame in the C library's heap. With room for
// frames side by side, the workers share them.
TEST(RunDecodePipeline, LargeFramesStayOnAsFewThreadsAsTheBudgetHolds) {
    class ThreadRecordingSource : public MemorySource {
    public:
        bool Load(size_t index, std::vector<uint8_t>* bytes, BITMAPINFOHEADER* format,
                  std::string* error) const override {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                threads.insert(std::this_thread::get_id());
            }
            // Long enough for every worker to be waiting for a frame.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            return MemorySource::Load(index, bytes, format, error);
        }
        mutable std::set<std::thread::id> threads;

    private:
        mutable std::mutex m_mutex;
    };
    ThreadRecordingSource source;
    source.frames.assign(12, wemb_test::BrokenProgressiveFrame(1000, 1000));
    const uint64_t cost = CostOf(source.frames[0]);
    const std::vector<size_t> indices = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    for (const auto& [limit, most] : {std::make_pair(cost + cost / 2, size_t(1)), std::make_pair(2 * cost, size_t(2))}) {
        source.threads.clear();
        const PipelineStats stats = RunDecodePipeline(source, indices, 8, limit, [](DecodedFrame&) { return true; });
        EXPECT_EQ(stats.decoded, 12u);
        EXPECT_EQ(source.threads.size(), most) << "with room for " << most;
    }
    source.threads.clear();
    RunDecodePipeline(source, indices, 8, 100 * cost, [](DecodedFrame&) { return true; });
    EXPECT_GT(source.threads.size(), 2u);
}

TEST(CodecSession, RefusesPicturesWhoseBufferSizeWouldWrap) {
    // 40000 x 40000 needs 4.8 GB; the codec's 32-bit biSizeImage says 505 MB.
    // A host that trusted it would hand the codec a buffer far too small.
    struct Case {
        int32_t width, height;
        const char* reason;
    };
    for (const Case& c : {Case{40000, 40000, "a 40000 x 40000 picture needs 4800000000 bytes"},
                          Case{65535, 65535, "more than"},
                          Case{64, -48, "positive"}, Case{0, 16, "positive"}}) {
        CodecSession session;
        std::string error;
        EXPECT_FALSE(session.Begin(WembFormat(c.width, c.height), &error)) << c.width;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    }
    BITMAPINFOHEADER output = {};
    output.biWidth = 3;
    output.biHeight = 2;
    output.biBitCount = 24;
    output.biSizeImage = 24;  // rows of 9 bytes padded to 12
    std::string error;
    EXPECT_TRUE(OutputBufferFits(output, &error)) << error;
    output.biHeight = -2;  // top-down
    EXPECT_TRUE(OutputBufferFits(output, &error)) << error;
    output.biSizeImage = 18;
    EXPECT_FALSE(OutputBufferFits(output, &error));
    output.biBitCount = 32;
    output.biSizeImage = 24;  // rows of 12 bytes
    EXPECT_TRUE(OutputBufferFits(output, &error)) << error;
    output.biBitCount = 16;
    EXPECT_FALSE(OutputBufferFits(output, &error));
    EXPECT_NE(error.find("16 bits a pixel"), std::string::npos) << error;
}

// The picture of `bytes` top row first, 3 bytes a pixel, from the codec's
// own bottom-up 24-bit picture.
std::vector<uint8_t> TopDownBgr(const wemb_test::CodecResult& picture) {
    const size_t step = (size_t(picture.width) * 3 + 3) & ~size_t(3);
    std::vector<uint8_t> rows;
    for (int32_t row = picture.height - 1; row >= 0; --row) {
        const auto start = picture.pixels.begin() + row * step;
        rows.insert(rows.end(), start, start + picture.width * 3);
    }
    return rows;
}

// Every layout the host negotiates holds the codec's picture; picture
// buffers pass from frame to frame, a damaged frame's too, and the row
// padding the codec never writes is never anything but what the buffer was
// made with. The sink marks the padding of each buffer it is given, so that
// a buffer handed on shows it.
TEST(RunDecodePipeline, EveryLayoutHoldsTheCodecsPictureAndBuffersPassFromFrameToFrame) {
    MemorySource source;
    for (int round = 0; round < 4; ++round) {
        for (const char* name : {"ycc420_33x17_q85.jpg", "ycc422_33x17_q85.jpg", "rgb_33x17_q90.jpg",
                                 "ycc420_prog_33x17_q85.jpg", "grey_opt_33x17_q90.jpg"}) {
            std::ifstream in(std::string(WEMB_TESTDATA_DIR) + "/" + name, std::ios::binary);
            source.frames.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
    }
    for (size_t damaged : {2, 8, 14}) source.frames[damaged].resize(source.frames[damaged].size() / 2);
    std::vector<std::vector<uint8_t>> expected;
    for (const auto& bytes : source.frames) expected.push_back(TopDownBgr(wemb_test::HostPicture(bytes)));
    std::vector<size_t> indices;
    for (size_t i = 0; i < source.frames.size(); ++i) indices.push_back(i);
    constexpr uint8_t kMark = 0xEE;

    for (const PictureLayout layout : {PictureLayout{24, false}, PictureLayout{24, true}, PictureLayout{32, false},
                                       PictureLayout{32, true}}) {
        for (int threads : {1, 3}) {
            SCOPED_TRACE(std::to_string(layout.bitCount) + (layout.topDown ? " top-down, " : " bottom-up, ") +
                         std::to_string(threads) + " threads");
            const size_t bytesPerPixel = layout.bitCount / 8, rowBytes = 33 * bytesPerPixel;
            const size_t step = (rowBytes + 3) & ~size_t(3);
            size_t handedOn = 0;
            const PipelineStats stats = RunDecodePipeline(source, indices, threads, uint64_t(1) << 30,
                [&](DecodedFrame& frame) {
                    EXPECT_EQ(frame.format.biBitCount, layout.bitCount);
                    EXPECT_EQ(frame.format.biHeight, layout.topDown ? -17 : 17);
                    EXPECT_EQ(frame.pixels.size(), step * 17);
                    if (frame.pixels.size() != step * 17) return true;
                    bool marked = false, clean = true;
                    for (size_t row = 0; row < 17; ++row) {
                        for (size_t at = row * step + rowBytes; at < (row + 1) * step; ++at) {
                            marked = marked || frame.pixels[at] == kMark;
                            clean = clean && (frame.pixels[at] == 0 || frame.pixels[at] == kMark);
                            frame.pixels[at] = kMark;
                        }
                    }
                    EXPECT_TRUE(clean) << "frame " << frame.index;
                    handedOn += marked;
                    if (!frame.ok) return true;
                    std::vector<uint8_t> picture;
                    for (size_t row = 0; row < 17; ++row) {
                        const size_t stored = layout.topDown ? row : 16 - row;
                        for (size_t x = 0; x < 33; ++x) {
                            const uint8_t* pixel = frame.pixels.data() + stored * step + x * bytesPerPixel;
                            picture.insert(picture.end(), pixel, pixel + 3);
                            if (bytesPerPixel == 4) {
                                EXPECT_EQ(pixel[3], 255) << "frame " << frame.index;
                            }
                        }
                    }
                    EXPECT_EQ(picture, expected[frame.index]) << "frame " << frame.index;
                    return true;
                },
                layout);
            EXPECT_EQ(stats.decoded, 17u);
            EXPECT_EQ(stats.failed, 3u);
            if (step != rowBytes) {
                EXPECT_GE(handedOn, 10u);
            }
        }
    }
}

}  // namespace
