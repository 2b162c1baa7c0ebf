#include "tools/avi_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "support/avi_builder.h"
#include "support/temp_dir.h"

namespace {

using wemb_test::AviImage;
using wemb_test::AviOptions;
using wemb_test::BuildAvi;
using wemb_test::IndexKind;
using Frames = std::vector<std::vector<uint8_t>>;

constexpr uint32_t kWemb = 0x626D6577, kJunk = 0x4B4E554A;  // little-endian FOURCCs
constexpr size_t kNone = SIZE_MAX;
constexpr IndexKind kIdx1 = IndexKind::Idx1Relative, kOdml = IndexKind::OpenDml, kNoIndex = IndexKind::None;
constexpr AviFrameSource kByIdx1 = AviFrameSource::Idx1, kByScan = AviFrameSource::MoviScan,
                         kByOdml = AviFrameSource::OpenDmlIndex;

// Five frames of distinct bytes, among them odd sizes and a dropped (empty) frame.
AviOptions SampleOptions(IndexKind index = kIdx1) {
    AviOptions options;
    options.index = index;
    for (size_t size : {100, 37, 0, 64, 1}) {
        options.frames.emplace_back(size);
        for (size_t i = 0; i < size; ++i) options.frames.back()[i] = uint8_t(options.frames.size() * 37 + i * 11);
    }
    return options;
}

class AviReaderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.ok()); }

    bool Open(const AviImage& image) {
        if (wemb_test::WriteImage(path, image)) return reader.Open(path, &error);
        error = "cannot write " + path;
        return false;
    }
    bool Open(const std::vector<uint8_t>& bytes) {
        AviImage image;
        image.size = bytes.size(), image.pieces = {{0, bytes}};
        return Open(image);
    }

    // Whether a warning mentions `text`; for nullptr, that there is none.
    ::testing::AssertionResult Warned(const char* text) const {
        std::string all;
        for (const std::string& warning : reader.Warnings()) {
            if (text && warning.find(text) != std::string::npos) return ::testing::AssertionSuccess();
            all += "\n  " + warning;
        }
        if (text == nullptr && all.empty()) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "expected " << (text ? text : "none") << "; got:" << all;
    }

    // `count` frames listed, each reading back as written except `refused`,
    // refused for `why`; frame `count` does not exist.
    void ExpectFrames(const Frames& frames, size_t count, size_t refused = kNone, const char* why = "") {
        ASSERT_EQ(reader.FrameCount(), count);
        for (size_t i = 0; i <= count; ++i) {
            std::vector<uint8_t> payload;
            const bool read = reader.ReadFrame(i, &payload, &error);
            if (i == count || i == refused) {
                EXPECT_FALSE(read) << "frame " << i;
                EXPECT_NE(error.find(i == count ? "does not exist" : why), std::string::npos) << error;
                EXPECT_TRUE(payload.empty());
            } else {
                EXPECT_TRUE(read) << "frame " << i << ": " << error;
                EXPECT_EQ(payload, frames[i]) << "frame " << i;
            }
        }
    }

    wemb_test::TempDir dir;
    const std::string path = dir / "test.avi";
    AviReader reader;
    std::string error;
};

TEST_F(AviReaderTest, EveryLayoutYieldsTheFramesAndHeadersWritten) {
    struct Case {
        IndexKind index;
        int recDepth;
        bool audioAndJunk;
        size_t framesPerRiff;  // 0: all in the first RIFF
        AviFrameSource source;
        const char* keyframes;  // '1' for each frame expected to be a keyframe
        const char* warning;    // expected among the warnings; nullptr: no warning at all
    };
    const Case cases[] = {
        {kIdx1, 0, false, 0, kByIdx1, "10101", nullptr},
        {IndexKind::Idx1Absolute, 0, false, 0, kByIdx1, "10101", nullptr},
        {kNoIndex, 0, false, 0, kByScan, "11111", "the file has no index"},
        {kIdx1, 1, true, 0, kByIdx1, "10101", nullptr},
        {kNoIndex, 1, true, 0, kByScan, "11111", "no index"},
        {kNoIndex, 8, false, 0, kByScan, "11111", "no index"},  // 'rec ' lists nest up to eight deep
        {kOdml, 0, false, 0, kByOdml, "10101", nullptr},
        {kOdml, 0, true, 2, kByOdml, "10101", nullptr},
        // idx1 covers the first RIFF only; the walk of the AVIX parts cannot
        // tell keyframes and takes every frame as one.
        {kIdx1, 0, false, 2, kByIdx1, "10111", "covers only the first RIFF"},
        {kNoIndex, 2, false, 2, kByScan, "11111", "no index"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        AviOptions options = SampleOptions(c.index);
        options.recDepth = c.recDepth;
        options.audio = options.junk = c.audioAndJunk;
        options.framesPerRiff = c.framesPerRiff;
        ASSERT_TRUE(Open(BuildAvi(options))) << error;
        EXPECT_EQ(reader.FrameSource(), c.source);
        ASSERT_NO_FATAL_FAILURE(ExpectFrames(options.frames, options.frames.size()));
        for (size_t i = 0; i < reader.FrameCount(); ++i) {
            EXPECT_EQ(std::make_pair(reader.Frame(i).size, reader.Frame(i).keyframe),
                      std::make_pair(uint32_t(options.frames[i].size()), c.keyframes[i] == '1')) << i;
        }
        EXPECT_TRUE(Warned(c.warning));
        // dwTotalFrames counts the first RIFF; the buffer size is the largest frame's.
        const AviMainHeader& main = reader.MainHeader();
        EXPECT_EQ(std::make_tuple(main.microSecPerFrame, main.totalFrames, main.width, main.height),
                  std::make_tuple(40000u, c.framesPerRiff ? uint32_t(c.framesPerRiff) : 5u, 64u, 48u));
        EXPECT_EQ(reader.OpenDmlTotalFrames(), c.index == kOdml ? 5u : 0u);
        const AviVideoStream& video = reader.VideoStream();
        EXPECT_EQ(std::make_tuple(video.streamNumber, video.handler, video.length, video.suggestedBufferSize,
                                  video.formatBytes.size()),
                  std::make_tuple(options.audio ? 1 : 0, kWemb, 5u, 100u, size_t{40}));
        const BITMAPINFOHEADER& f = reader.VideoFormat();
        EXPECT_EQ(std::make_tuple(f.biSize, f.biWidth, f.biHeight, f.biBitCount, f.biCompression),
                  std::make_tuple(40u, 64, 48, 24, kWemb));
    }
}

TEST_F(AviReaderTest, RecListsDeeperThanEightAreSkippedWithCappedWarnings) {
    AviOptions options = SampleOptions(kNoIndex);
    options.frames.resize(40, {1, 2, 3});
    options.recDepth = 9;  // one "nested deeper" warning per frame
    ASSERT_TRUE(Open(BuildAvi(options))) << error;
    EXPECT_EQ(reader.FrameCount(), 0u);
    EXPECT_TRUE(Warned("nested deeper than 8"));
    // "no index", 40 times "nested deeper", "announces 40 frames but 0":
    // 42 warnings, of which 32 are kept and the rest summarised.
    ASSERT_EQ(reader.Warnings().size(), 33u);
    EXPECT_EQ(reader.Warnings().back(), "10 further warning(s) omitted");
}

TEST_F(AviReaderTest, FrameRateFallsBackOnTheMainHeader) {
    // The rate is the stream's 25 / 1; without its scale, 1000000 over the
    // main header's 40000 us per frame; without that too, unknown.
    AviImage image = BuildAvi(SampleOptions());
    struct Rate {
        uint32_t rate, scale;
        const char* warning;
    };
    for (const Rate& r : {Rate{25, 1, nullptr}, Rate{1000000, 40000, "from the main header"},
                          Rate{0, 1, "frame rate is unknown"}}) {
        ASSERT_TRUE(Open(image)) << error;
        EXPECT_EQ(reader.FrameRate().rate, r.rate);
        EXPECT_EQ(reader.FrameRate().scale, r.scale);
        EXPECT_TRUE(Warned(r.warning));
        // dwScale first, then dwMicroSecPerFrame
        image.Patch32(r.rate == 25 ? image.videoStrh + 8 + 20 : image.avih + 8, 0);
    }
}

// Damaged files: every readable frame still read.
TEST_F(AviReaderTest, DamagedFileEveryFrameBeforeOrBesideTheDamageIsRead) {
    struct Case {
        const char* name;
        IndexKind index;  // of the sample file with JUNK chunks; OpenDML in AVIX parts of two frames
        std::function<void(AviImage*)> damage;
        AviFrameSource source;
        size_t frames;   // listed
        size_t refused;  // the frame whose chunk runs past the end of the file
        std::vector<const char*> warnings;
        const char* refusal = "past the end of the file";
    };
    // The offset field of a frame's idx1 entry: the sample has neither audio
    // nor 'rec ' lists, so idx1 holds one entry per frame.
    auto position = [](const AviImage& im, size_t frame) { return im.idx1 + 8 + 16 * frame + 8; };
    auto frame3TooLarge = [](AviImage* im) { im->Patch32(im->frameChunks[3] + 4, 0x7FFFFFF0); };
    const Case cases[] = {
        // Indexes that cannot be trusted: the next way of finding frames.
        {"idx1 entry outside the file", kIdx1, [&](AviImage* im) { im->Patch32(position(*im, 2), 0x7FFFFFF0); },
         kByScan, 5, kNone, {"'idx1' index is damaged", "outside the file", "scanning"}},
        {"idx1 entry at another chunk", kIdx1,
         [&](AviImage* im) { im->Patch32(position(*im, 3), uint32_t(im->idx1 - im->movis[0] - 8)); },
         kByScan, 5, kNone, {"'idx1' index is damaged", "chunk 'idx1'"}},
        {"idx1 larger than the file", kIdx1, [](AviImage* im) { im->Patch32(im->idx1 + 4, 0xFFFFFFF0u); },
         kByIdx1, 5, kNone, {"claims 4294967280 bytes"}},
        {"standard index entry outside the file", kOdml,
         [](AviImage* im) { im->Patch32(im->stdIndexes[1] + 8 + 24, 0x7FFFFFF0); }, kByIdx1, 5, kNone,
         {"OpenDML index is damaged", "through the 'idx1' index", "covers only the first RIFF"}},
        {"super index entry outside the file", kOdml,
         [](AviImage* im) { im->Patch32(im->indx + 8 + 24 + 16 + 4, 0x100); }, kByIdx1, 5, kNone,
         {"OpenDML index is damaged", "outside the file"}},
        {"super index entry at another chunk", kOdml,
         [](AviImage* im) { im->Patch32(im->indx + 8 + 24, uint32_t(im->hdrl)); }, kByIdx1, 5, kNone,
         {"chunk 'LIST'", "instead of 'ix00'"}},
        {"both indexes damaged", kOdml,
         [&](AviImage* im) {
             im->Patch32(im->stdIndexes[0] + 8 + 24, 0x7FFFFFF0);
             im->Patch32(position(*im, 0), 0x7FFFFFF0);
         },
         kByScan, 5, kNone, {"OpenDML index is damaged", "'idx1' index is damaged"}},
        {"index entry counts larger than the chunks", kOdml,
         [](AviImage* im) {
             im->Patch32(im->indx + 8 + 4, 0xFFFFFFFFu);
             im->Patch32(im->stdIndexes[0] + 8 + 4, 0xFFFFFFFFu);
         },
         kByOdml, 5, kNone, {"declares 4294967295 entries but holds only 3"}},
        // A frame claiming 2 GB: an index still locates the frames after the
        // liar; a walk cannot go past a chunk whose size it cannot trust.
        {"frame 3 too large, idx1", kIdx1, frame3TooLarge, kByIdx1, 5, 3,
         {"another size than the frame's chunk header"}},
        {"frame 3 too large, OpenDML", kOdml, frame3TooLarge, kByOdml, 5, 3,
         {"another size than the frame's chunk header"}},
        {"frame 3 too large, no index", kNoIndex, frame3TooLarge, kByScan, 4, 3,
         {"claims 2147483632 bytes"}},
        // Zeros after the RIFF make room for the claim inside the (sparse) file.
        {"frame 1 over the size limit", kIdx1,
         [](AviImage* im) { im->Patch32(im->frameChunks[1] + 4, (256u << 20) + 1), im->size += 300u << 20; },
         kByIdx1, 5, 1, {}, "more than the 268435456 this reader accepts"},
        // Cut files: the list walks stop at the end of the file.
        {"cut inside frame 3's payload", kIdx1, [](AviImage* im) { im->size = im->frameChunks[3] + 8 + 10; },
         kByScan, 4, 3, {"truncated file?"}},
        {"cut inside frame 3's header", kIdx1, [](AviImage* im) { im->size = im->frameChunks[3] + 5; }, kByScan,
         3, kNone, {"truncated file?"}},
        {"cut inside idx1's first entry", kIdx1, [](AviImage* im) { im->size = im->idx1 + 20; }, kByScan, 5,
         kNone, {"truncated file?", "lists no frame"}},
        // Lying sizes are limited to the parent list, whose walk stops there.
        {"no chunk id at frame 2", kIdx1, [](AviImage* im) { im->Patch32(im->frameChunks[2], 1); }, kByScan, 2,
         kNone, {"unreadable chunk id"}},
        {"movi larger than the RIFF: idx1 unseen", kIdx1,
         [](AviImage* im) { im->Patch32(im->movis[0] + 4, 0x7FFFFFF0); }, kByScan, 5, kNone, {"claims"}},
        {"strl larger than hdrl", kIdx1, [](AviImage* im) { im->Patch32(im->videoStrl + 4, 0x10000); }, kByIdx1,
         5, kNone, {"claims"}},
        {"RIFF larger than the file", kIdx1, [](AviImage* im) { im->Patch32(im->riffs[0] + 4, 0xFFFFFFF0u); },
         kByIdx1, 5, kNone, {"claims"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AviOptions options = SampleOptions(c.index);
        options.junk = true;
        options.framesPerRiff = c.index == kOdml ? 2 : 0;
        AviImage image = BuildAvi(options);
        c.damage(&image);
        ASSERT_TRUE(Open(image)) << error;
        EXPECT_EQ(reader.FrameSource(), c.source);
        for (const char* warning : c.warnings) EXPECT_TRUE(Warned(warning));
        ExpectFrames(options.frames, c.frames, c.refused, c.refusal);
    }
}

TEST_F(AviReaderTest, UnusableHeadersFailWithAClearMessage) {
    constexpr uint32_t kAuds = 0x73647561, kWave = 0x45564157;
    const AviImage sample = BuildAvi(SampleOptions());
    const uint64_t strf = sample.videoStrf, hdrl = sample.hdrl;
    struct Case {
        uint64_t offset;  // of the 32-bit field overwritten
        uint32_t value;
        const char* message;
    };
    const Case cases[] = {
        {strf, kJunk, "no format chunk 'strf'"},
        {strf + 4, 20, "20 bytes, too few for a BITMAPINFOHEADER"},
        {strf + 4, 1000, "'strf' runs past the end of its list"},
        {strf + 8 + 4, 0, "size of 0 x 48"},
        {strf + 8 + 8, 0, "size of 64 x 0"},
        {strf + 8 + 4, 0xFFFFFFC0u, "size of -64 x 48"},
        {strf + 8 + 8, 0xFFFFFFD0u, "negative height (-48)"},  // top-down, compressed
        {sample.videoStrh + 8, kAuds, "no video stream"},
        {hdrl + 4, 24, "no video stream"},  // hdrl too small for its streams
        {hdrl + 8, kJunk, "no header list"},
        {sample.movis[0] + 8, kJunk, "no 'movi' list"},
        {8, kWave, "not an AVI file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        AviImage image = sample;
        image.Patch32(c.offset, c.value);
        EXPECT_FALSE(Open(image));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(reader.FrameCount(), 0u);
    }
    EXPECT_FALSE(reader.Open("/nonexistent/wemb.avi", &error));
    EXPECT_NE(error.find("cannot open /nonexistent/wemb.avi"), std::string::npos) << error;
}

// Every truncation and a change of every byte: whatever Open decides, the
// reader must neither crash nor read outside the file or a buffer (the
// sanitizer build checks), and every frame it lists must either read back at
// its listed size from inside the file or be refused with a message.
TEST_F(AviReaderTest, SurvivesEveryTruncationAndByteChange) {
    AviOptions options = SampleOptions(kOdml);
    options.framesPerRiff = 2, options.audio = options.junk = true, options.recDepth = 1;
    const std::vector<uint8_t> whole = BuildAvi(options).Bytes();
    auto check = [&](const std::vector<uint8_t>& bytes) {
        if (!Open(bytes)) {
            EXPECT_FALSE(error.empty());
            return;
        }
        EXPECT_LE(reader.FrameCount(), bytes.size() / 8);
        for (size_t i = 0; i < reader.FrameCount(); ++i) {
            std::vector<uint8_t> payload;
            const AviFrame& frame = reader.Frame(i);
            if (!reader.ReadFrame(i, &payload, &error)) {
                EXPECT_FALSE(error.empty());
                continue;
            }
            EXPECT_EQ(payload.size(), frame.size);
            EXPECT_LE(frame.offset + frame.size, bytes.size());
        }
    };
    for (size_t length = 0; length < whole.size(); ++length) {
        check(std::vector<uint8_t>(whole.begin(), whole.begin() + length));
    }
    for (size_t at = 0; at < whole.size(); ++at) {
        for (int value : {0x00, 0xFF, whole[at] ^ 0x01}) {
            std::vector<uint8_t> mutant = whole;
            mutant[at] = static_cast<uint8_t>(value);
            check(mutant);
        }
    }
}

TEST_F(AviReaderTest, FramesBeyondFourGigabytesAreFoundAndRead) {
    for (const auto& [index, source] : {std::make_pair(kOdml, kByOdml), std::make_pair(kIdx1, kByIdx1),
                                        std::make_pair(kNoIndex, kByScan)}) {
        SCOPED_TRACE(static_cast<int>(index));
        // A 2 GB JUNK hole opens each movi list: frames 3 and 4 lie past 4 GB.
        AviOptions options = SampleOptions(index);
        options.framesPerRiff = 3, options.moviHoleBytes = 0x80000000u;
        const AviImage image = BuildAvi(options);
        ASSERT_GT(image.frameChunks[3], uint64_t{1} << 32);
        if (!wemb_test::WriteImage(path, image)) GTEST_SKIP() << "no sparse file of " << image.size << " B";
        ASSERT_TRUE(reader.Open(path, &error)) << error;
        EXPECT_EQ(reader.FrameSource(), source);
        ASSERT_NO_FATAL_FAILURE(ExpectFrames(options.frames, 5));
        EXPECT_EQ(reader.Frame(4).offset, image.frameChunks[4] + 8);
    }
}

}  // namespace
