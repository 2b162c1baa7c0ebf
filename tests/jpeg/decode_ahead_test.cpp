// A sequential frame without restart markers decoded on several threads, one
// of them decoding ahead from a byte well into the data: the picture and
// status are those of one thread, byte for byte, for every sampling, every
// place the ahead thread starts from and damage anywhere in the data, and
// the frames that follow on the same driver instance are not disturbed by
// what a frame left in the ahead buffers.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/worker_pool.h"
#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"
#include "support/process_counts.h"

namespace {

using wemb_test::CodecResult;
using wemb_test::DecodeWithCodec;

// Detail everywhere and strong DC changes from block to block, so that the
// data is large and the DC predictions of the two threads differ.
std::vector<uint8_t> Picture(int width, int height, int components) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * components);
    std::mt19937 random(5);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const size_t pixel = i / components;
        const size_t x = pixel % width, y = pixel / width;
        pixels[i] = static_cast<uint8_t>(((x / 8 + y / 8) % 5) * 50 + (x * y) % 23 + random() % 40);
    }
    return pixels;
}

// The stream, cut short at several places, and with bytes changed before,
// around and after where the ahead thread starts.
std::vector<std::vector<uint8_t>> Versions(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint8_t>> versions = {stream};
    std::mt19937 random(17);
    for (int i = 3; i < 10; ++i) {
        versions.emplace_back(stream.begin(), stream.begin() + stream.size() * i / 10);
        if (i % 2 == 0) versions.back().insert(versions.back().end(), {0xFF, 0xD9});
    }
    for (int i = 0; i < 24; ++i) {
        std::vector<uint8_t> changed = stream;
        const size_t at = stream.size() / 4 + random() % (stream.size() * 3 / 4 - 2);
        switch (i % 3) {
            case 0: changed[at] ^= static_cast<uint8_t>(1u << (random() % 8)); break;
            case 1: changed[at] = static_cast<uint8_t>(random()); break;
            default: changed.insert(changed.begin() + at, {0xFF, static_cast<uint8_t>(0xD0 + random() % 8)}); break;
        }
        versions.push_back(changed);
    }
    return versions;
}

struct Sampling {
    const char* name;
    int components;
    bool fullChroma;
};

TEST(ThreadedDecoding, DecodingAheadGivesTheSingleThreadPicture) {
    const wemb_test::ScopedFrameSharing shareEveryFrame;
    const int width = 640, height = 480;
    const Sampling samplings[] = {{"4:2:0", 3, false}, {"4:4:4", 3, true}, {"grey", 1, false}};
    for (const Sampling& sampling : samplings) {
        const std::vector<uint8_t> stream = wemb_test::LibjpegCompress(
            Picture(width, height, sampling.components), width, height, sampling.components, 95, false, 0,
            sampling.fullChroma);
        const std::vector<std::vector<uint8_t>> versions = Versions(stream);
        std::vector<CodecResult> alone;
        for (const std::vector<uint8_t>& bytes : versions) alone.push_back(DecodeWithCodec(bytes, width, height));
        ASSERT_EQ(alone[0].status, ICERR_OK);
        const int64_t meetings = CJPEGDecoder::AheadMeetings();
        for (int threads : {2, 3}) {
            const wemb_test::ScopedEnvironment setting(kThreadsVariable, std::to_string(threads).c_str());
            const DWORD_PTR instance = static_cast<DWORD_PTR>(DriverProc(0, nullptr, DRV_OPEN, 0, 0));
            ASSERT_NE(instance, 0u);
            for (int percent : {10, 45, 80}) {
                CJPEGDecoder::DecodeAheadFrom(percent);
                for (size_t v = 0; v < versions.size(); ++v) {
                    SCOPED_TRACE(testing::Message() << sampling.name << ", " << threads << " threads, ahead from "
                                                    << percent << "%, version " << v);
                    const CodecResult together = DecodeWithCodec(versions[v], width, height, 0, instance);
                    ASSERT_EQ(together.status, alone[v].status);
                    ASSERT_EQ(together.pixels, alone[v].pixels);
                }
            }
            DriverProc(instance, nullptr, DRV_CLOSE, 0, 0);
        }
        // The threads met: frames were taken over from the ahead thread. (Not
        // every frame: an ahead thread that starts late, on a loaded machine,
        // can miss the in-order one.)
        EXPECT_GT(CJPEGDecoder::AheadMeetings(), meetings) << sampling.name;
    }
}

}  // namespace
