// Progressive scans decoded together on several threads give the picture of
// one thread, byte for byte, for scan scripts whose scans depend on each
// other in every way a frame allows: AC scans of one component refining each
// other, DC scans that split the components, a DC first scan after scans
// whose restart boundaries reset the DC predictions, and damaged copies of
// each (cut, changed, with restart markers added).
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "platform/worker_pool.h"
#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"
#include "support/process_counts.h"

namespace {

using wemb_test::ProgressionScan;
using wemb_test::CodecResult;
using wemb_test::DecodeWithCodec;

struct Script {
    const char* name;
    std::vector<ProgressionScan> scans;
    int restartInterval;
};

std::vector<Script> Scripts() {
    return {
        {"one scan per band", {{{0, 1, 2}, 0, 0, 0, 0}, {{0}, 1, 63, 0, 0}, {{1}, 1, 63, 0, 0}, {{2}, 1, 63, 0, 0}}, 0},
        {"DC split around AC scans with restarts",
         {{{0}, 0, 0, 0, 0}, {{0}, 1, 63, 0, 0}, {{1, 2}, 0, 0, 0, 0}, {{1}, 1, 63, 0, 0}, {{2}, 1, 63, 0, 0}},
         2},
        {"refinement chains",
         {{{0, 1, 2}, 0, 0, 0, 1},
          {{0}, 1, 5, 0, 2},
          {{0}, 6, 63, 0, 2},
          {{0}, 1, 63, 2, 1},
          {{0, 1, 2}, 0, 0, 1, 0},
          {{1}, 1, 63, 0, 1},
          {{2}, 1, 63, 0, 1},
          {{0}, 1, 63, 1, 0},
          {{1}, 1, 63, 1, 0},
          {{2}, 1, 63, 1, 0}},
         3},
    };
}

std::vector<uint8_t> Picture(int width, int height) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 3);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const size_t pixel = i / 3;
        pixels[i] = static_cast<uint8_t>((pixel % width) * 5 + (pixel / width) * 3 + (i % 3) * 70 + (pixel * 13) % 29);
    }
    return pixels;
}

// The stream, and copies of it cut short, with bytes changed and with
// restart markers put in.
std::vector<std::vector<uint8_t>> Versions(const std::vector<uint8_t>& stream) {
    std::vector<std::vector<uint8_t>> versions = {stream};
    std::mt19937 random(31);
    for (int i = 1; i < 8; ++i) {
        versions.emplace_back(stream.begin(), stream.begin() + stream.size() * i / 8);
        versions.back().insert(versions.back().end(), {0xFF, 0xD9});
    }
    for (int i = 0; i < 24; ++i) {
        std::vector<uint8_t> changed = stream;
        const size_t at = 200 + random() % (stream.size() - 202);
        if (i % 3 == 0) {
            changed.insert(changed.begin() + at, {0xFF, static_cast<uint8_t>(0xD0 + random() % 8)});
        } else {
            changed[at] = static_cast<uint8_t>(random());
        }
        versions.push_back(changed);
    }
    return versions;
}

TEST(ThreadedDecoding, ProgressiveScansDecodedTogetherGiveTheSingleThreadPicture) {
    const wemb_test::ScopedFrameSharing shareEveryFrame;
    const wemb_test::ScopedEnvironment setting(kThreadsVariable, "3");
    const DWORD_PTR instance = static_cast<DWORD_PTR>(DriverProc(0, nullptr, DRV_OPEN, 0, 0));
    ASSERT_NE(instance, 0u);
    const int width = 97, height = 83;
    for (const Script& script : Scripts()) {
        const std::vector<uint8_t> stream = wemb_test::LibjpegCompress(
            Picture(width, height), width, height, 3, 80, true, script.restartInterval, false, &script.scans);
        int version = 0;
        for (const std::vector<uint8_t>& bytes : Versions(stream)) {
            SCOPED_TRACE(testing::Message() << script.name << ", version " << version++);
            const CodecResult alone = DecodeWithCodec(bytes, width, height);
            const CodecResult together = DecodeWithCodec(bytes, width, height, 0, instance);
            ASSERT_EQ(together.status, alone.status);
            ASSERT_EQ(together.pixels, alone.pixels);
        }
    }
    DriverProc(instance, nullptr, DRV_CLOSE, 0, 0);
}

}  // namespace
