// What a host sees, pinned down byte for byte: every test stream, intact and
// damaged in a fixed set of ways, goes through DriverProc's ICM_DECOMPRESS
// into a buffer filled with a known byte, and the status with a digest of the
// whole buffer must match the digests recorded in testdata/output_digests.txt.
// Speed work must not change a single byte a host can see, for a valid frame
// or a damaged one; where a change of output is intended, the file is written
// anew (WEMB_WRITE_DIGESTS=1) in the same commit, which says why.
//
// A frame that fails leaves the rows decoded before the failure in the
// buffer. They are digested in picture order (top row first), so that the
// digest does not depend on which end of the buffer they were written to.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"
#include "platform/worker_pool.h"
#include "support/process_counts.h"
#include "support/simd_levels.h"

namespace {

using namespace wemb_test;

constexpr int kCuts = 32;
constexpr int kChangedBytes = 96;

// Where the decoder writes the rows of a frame that fails part-way.
constexpr bool kFailingFramesBottomUp = true;

uint64_t Fnv1a(uint64_t hash, const uint8_t* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        hash ^= bytes[i];
        hash *= 0x100000001B3ull;
    }
    return hash;
}

constexpr uint64_t kFnvOffset = 0xCBF29CE484222325ull;

// Digest of the status and the buffer, rows in picture order for a failed
// frame.
uint64_t DigestOf(const CodecResult& result) {
    uint64_t hash = Fnv1a(kFnvOffset, reinterpret_cast<const uint8_t*>(&result.status), sizeof(LRESULT));
    const size_t step = static_cast<size_t>(RowStep24(result.width));
    const size_t rows = step == 0 ? 0 : result.pixels.size() / step;
    const bool reverse = result.status != ICERR_OK && kFailingFramesBottomUp;
    for (size_t r = 0; r < rows; ++r) {
        const size_t row = reverse ? rows - 1 - r : r;
        hash = Fnv1a(hash, result.pixels.data() + row * step, step);
    }
    return hash;
}

uint32_t SeedOf(const std::string& name) {
    return static_cast<uint32_t>(Fnv1a(kFnvOffset, reinterpret_cast<const uint8_t*>(name.data()), name.size()));
}

// The damaged versions of a stream: cut at kCuts places (half of them with a
// lone 0xFF byte appended), and kChangedBytes single bytes changed.
std::vector<std::vector<uint8_t>> DamagedVersions(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::vector<std::vector<uint8_t>> versions;
    for (int i = 1; i <= kCuts; ++i) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + bytes.size() * i / (kCuts + 1));
        if (i % 2 == 0) cut.push_back(0xFF);
        versions.push_back(cut);
    }
    std::mt19937 random(SeedOf(name));
    std::uniform_int_distribution<size_t> anywhere(0, bytes.size() - 1);
    for (int i = 0; i < kChangedBytes; ++i) {
        std::vector<uint8_t> changed = bytes;
        const size_t at = anywhere(random);
        const uint32_t value = random();
        switch (i % 4) {
            case 0: changed[at] ^= static_cast<uint8_t>(1u << (value % 8)); break;
            case 1: changed[at] = 0xFF; break;
            case 2: changed[at] = static_cast<uint8_t>(value); break;
            default: changed.insert(changed.begin() + at, {0xFF, static_cast<uint8_t>(0xD0 + value % 8)}); break;
        }
        versions.push_back(changed);
    }
    return versions;
}

struct StreamDigests {
    LRESULT intactStatus = 0;
    uint64_t intact = 0;
    uint64_t damaged = 0;  // all damaged versions, status and buffer, in order
};

StreamDigests DigestStream(const std::string& name, DWORD_PTR instance = 1) {
    const std::vector<uint8_t> bytes = Testdata(name);
    int32_t width = 0, height = 0;
    EXPECT_TRUE(ProbeJpegSize(bytes.data(), bytes.size(), &width, &height)) << name;
    StreamDigests digests;
    const CodecResult intact = DecodeWithCodec(bytes, width, height, 0, instance);
    digests.intactStatus = intact.status;
    digests.intact = DigestOf(intact);
    // WEMB_DIGEST_DETAIL=NAME prints each damaged version's status and
    // digest, to find which one changed.
    const char* detail = std::getenv("WEMB_DIGEST_DETAIL");
    uint64_t damaged = kFnvOffset;
    int index = 0;
    for (const std::vector<uint8_t>& version : DamagedVersions(name, bytes)) {
        const CodecResult result = DecodeWithCodec(version, width, height, 0, instance);
        const uint64_t one = DigestOf(result);
        if (detail != nullptr && name == detail) {
            std::printf("%s version %d: status %ld, digest %016llx\n", name.c_str(), index,
                        static_cast<long>(result.status), static_cast<unsigned long long>(one));
        }
        damaged = Fnv1a(damaged, reinterpret_cast<const uint8_t*>(&one), sizeof(one));
        ++index;
    }
    digests.damaged = damaged;
    return digests;
}

std::string DigestPath() { return std::string(WEMB_TESTDATA_DIR) + "/output_digests.txt"; }

std::string FormatLine(const std::string& name, const StreamDigests& d) {
    char line[256];
    std::snprintf(line, sizeof(line), "%s %ld %016llx %016llx", name.c_str(), static_cast<long>(d.intactStatus),
                  static_cast<unsigned long long>(d.intact), static_cast<unsigned long long>(d.damaged));
    return line;
}

std::map<std::string, std::string> ReadRecorded() {
    std::map<std::string, std::string> recorded;
    std::ifstream in(DigestPath());
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        recorded[line.substr(0, line.find(' '))] = line;
    }
    return recorded;
}

TEST(OutputDigests, EveryStreamIntactAndDamagedGivesTheRecordedBuffer) {
    if (const char* write = std::getenv("WEMB_WRITE_DIGESTS"); write != nullptr && write[0] == '1') {
        std::ofstream out(DigestPath());
        out << "# name, status of the intact stream, digest of its buffer, digest of its damaged versions\n";
        for (const std::string& name : ListTestdata()) out << FormatLine(name, DigestStream(name)) << "\n";
        GTEST_SKIP() << "wrote " << DigestPath();
    }
    const std::map<std::string, std::string> recorded = ReadRecorded();
    ASSERT_FALSE(recorded.empty()) << "no digests in " << DigestPath();
    for (const std::string& name : ListTestdata()) {
        const auto found = recorded.find(name);
        ASSERT_NE(found, recorded.end()) << name << " has no recorded digest";
        ForEachSimdLevel([&] { EXPECT_EQ(FormatLine(name, DigestStream(name)), found->second); });
    }
}

// The same through driver instances whose frames are shared between 2, 3
// and 8 threads, whatever their size, with and without a thread decoding
// sequential frames ahead: a damaged frame fails with the same status and
// leaves the same rows on every thread count.
TEST(OutputDigests, EveryThreadCountGivesTheRecordedBuffers) {
    const std::map<std::string, std::string> recorded = ReadRecorded();
    ASSERT_FALSE(recorded.empty()) << "no digests in " << DigestPath();
    const ScopedFrameSharing shareEveryFrame;
    const struct {
        int threads;
        std::vector<int> aheadPercents;  // 0: as the frame's size decides
    } settings[] = {{2, {0, 30, 70}}, {3, {0, 50}}, {8, {0}}};
    for (const auto& [threads, aheadPercents] : settings) {
        for (int aheadPercent : aheadPercents) {
            SCOPED_TRACE(testing::Message() << threads << " threads, ahead from " << aheadPercent << "%");
            CJPEGDecoder::DecodeAheadFrom(aheadPercent);
            const ScopedEnvironment setting(kThreadsVariable, std::to_string(threads).c_str());
            const DWORD_PTR instance = static_cast<DWORD_PTR>(DriverProc(0, nullptr, DRV_OPEN, 0, 0));
            ASSERT_NE(instance, 0u);
            for (const std::string& name : ListTestdata()) {
                EXPECT_EQ(FormatLine(name, DigestStream(name, instance)), recorded.at(name));
            }
            DriverProc(instance, nullptr, DRV_CLOSE, 0, 0);
        }
    }
}

}  // namespace
