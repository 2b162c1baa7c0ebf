#include "tools/decode_pipeline.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/codec_decode.h"
#include "tools/codec_session.h"
#include "tools/jpeg_probe.h"

namespace {

std::vector<uint8_t> ReadTestdata(const std::string& name) {
    std::ifstream in(std::string(WEMB_TESTDATA_DIR) + "/" + name, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Frames held in memory, each with a format of its own size, as the JPEG
// file source gives them; an empty frame is dropped, a frame without bytes
// on record is unreadable.
class MemorySource : public FrameSource {
public:
    struct Frame {
        std::vector<uint8_t> bytes;
        bool readable = true;
    };
    std::vector<Frame> frames;

    size_t Count() const override { return frames.size(); }
    bool Load(size_t index, std::vector<uint8_t>* bytes, BITMAPINFOHEADER* format,
              std::string* error) const override {
        if (!frames[index].readable) {
            *error = "unreadable frame";
            return false;
        }
        *bytes = frames[index].bytes;
        int32_t width = 16, height = 16;  // any size for a frame without a header
        ProbeJpegSize(bytes->data(), bytes->size(), &width, &height);
        *format = WembFormat(width, height);
        return true;
    }
    std::string Label(size_t index) const override { return "memory " + std::to_string(index); }
};

// Eighteen frames of five sizes and four sampling modes, among them one
// damaged (cut in half: no EOI), one dropped and one unreadable.
MemorySource MixedSource() {
    const char* names[] = {"ycc420_64x48_q85.jpg", "rgb_33x17_q90.jpg", "ycc422_227x149_q85.jpg",
                           "grey_17x9_q90.jpg",     "ycc444_64x48_q85.jpg", "ycc420_prog_33x17_q85.jpg"};
    MemorySource source;
    for (int round = 0; round < 3; ++round) {
        for (const char* name : names) source.frames.push_back({ReadTestdata(name)});
    }
    std::vector<uint8_t>& damaged = source.frames[7].bytes;
    damaged.resize(damaged.size() / 2);
    source.frames[10].bytes.clear();
    source.frames[13].readable = false;
    return source;
}

bool RowsEqual(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, int32_t width,
               int32_t height) {
    const size_t step = (size_t(width) * 3 + 3) & ~size_t(3);
    if (a.size() < step * height || b.size() < step * height) return false;
    for (int32_t row = 0; row < height; ++row) {
        if (!std::equal(a.begin() + step * row, a.begin() + step * row + width * 3, b.begin() + step * row)) {
            return false;
        }
    }
    return true;
}

TEST(RunDecodePipeline, DeliversInOrderWithTheCodecsPicturesOnAnyThreadCount) {
    const MemorySource source = MixedSource();
    ASSERT_GT(source.frames[0].bytes.size(), 100u);
    for (int threads : {1, 2, 8}) {
        for (const std::vector<size_t>& indices :
             {std::vector<size_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17},
              std::vector<size_t>{17, 7, 3, 10, 3, 0}}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + ", " + std::to_string(indices.size()) +
                         " frames");
            std::vector<size_t> seen;
            size_t ok = 0, failed = 0, dropped = 0;
            double megapixels = 0;
            const PipelineStats stats = RunDecodePipeline(source, indices, threads, [&](DecodedFrame& frame) {
                seen.push_back(frame.index);
                const std::vector<uint8_t>& bytes = source.frames[frame.index].bytes;
                if (frame.index == 10) {
                    EXPECT_TRUE(frame.dropped);
                    ++dropped;
                } else if (frame.index == 7 || frame.index == 13) {
                    EXPECT_FALSE(frame.ok);
                    EXPECT_FALSE(frame.error.empty());
                    if (frame.index == 13) {
                        EXPECT_EQ(frame.error, "unreadable frame");
                    }
                    ++failed;
                } else {
                    const wemb_test::CodecResult expected = wemb_test::DecodeWithCodec(bytes);
                    EXPECT_EQ(expected.status, ICERR_OK);
                    EXPECT_TRUE(frame.ok) << frame.index << ": " << frame.error;
                    EXPECT_EQ(frame.format.biWidth, expected.width);
                    EXPECT_EQ(frame.format.biHeight, expected.height);
                    EXPECT_TRUE(RowsEqual(frame.pixels, expected.pixels, expected.width, expected.height))
                        << "frame " << frame.index;
                    ++ok;
                    megapixels += expected.width * expected.height / 1e6;
                }
                return true;
            });
            EXPECT_EQ(seen, indices);
            EXPECT_EQ(stats.decoded, ok);
            EXPECT_EQ(stats.failed, failed);
            EXPECT_EQ(stats.dropped, dropped);
            EXPECT_NEAR(stats.megapixels, megapixels, 1e-9);
            EXPECT_FALSE(stats.stopped);
        }
    }
}

TEST(RunDecodePipeline, StopsWhenTheSinkRefusesAndHandlesEmptyRuns) {
    const MemorySource source = MixedSource();
    std::vector<size_t> all(source.frames.size());
    for (size_t i = 0; i < all.size(); ++i) all[i] = i;
    for (int threads : {1, 8}) {
        size_t delivered = 0;
        const PipelineStats stats = RunDecodePipeline(source, all, threads, [&](DecodedFrame&) {
            return ++delivered < 3;
        });
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
    for (const Case& c : {Case{40000, 40000, "more than"}, Case{65535, 65535, "more than"},
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
