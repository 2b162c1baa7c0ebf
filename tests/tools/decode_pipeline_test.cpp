#include "tools/decode_pipeline.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/host_picture.h"
#include "tools/codec_session.h"
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
            const PipelineStats stats = RunDecodePipeline(source, indices, threads, [&](DecodedFrame& frame) {
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
        const PipelineStats stats = RunDecodePipeline(source, {0, 1, 2, 3, 4, 5, 6, 7, 8}, threads,
                                                      [&](DecodedFrame&) { return ++delivered < 3; });
        EXPECT_EQ(delivered, 3u);
        EXPECT_TRUE(stats.stopped);
        EXPECT_EQ(stats.decoded, 3u);  // frames 0, 1 and 2 are sound
    }
    const PipelineStats none = RunDecodePipeline(source, {}, 4, [](DecodedFrame&) {
        ADD_FAILURE() << "nothing to deliver";
        return true;
    });
    EXPECT_EQ(none.decoded + none.failed + none.dropped, 0u);
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
    output.biSizeImage = 24;  // rows of 9 bytes padded to 12
    std::string error;
    EXPECT_TRUE(OutputBufferFits(output, &error)) << error;
    output.biSizeImage = 18;
    EXPECT_FALSE(OutputBufferFits(output, &error));
}

}  // namespace
