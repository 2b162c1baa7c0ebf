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

using avi_test::AviImage;
using avi_test::AviOptions;
using avi_test::BuildAvi;
using avi_test::IndexKind;
using Frames = std::vector<std::vector<uint8_t>>;

constexpr uint32_t kWemb = 0x626D6577;  // 'wemb' as a little-endian FOURCC
constexpr size_t kNone = SIZE_MAX;

// Five frames, among them odd sizes and a dropped (empty) frame.
AviOptions SampleOptions() {
    AviOptions options;
    int index = 0;
    for (size_t size : {100, 37, 0, 64, 1}) options.frames.push_back(avi_test::FramePayload(index++, size));
    return options;
}

// One file per test process, rewritten by each Open and removed at exit.
const std::string& ScratchPath() {
    static const wemb_test::TempDir dir;
    static const std::string path = dir / "test.avi";
    return path;
}

bool Open(const AviImage& image, AviReader* reader, std::string* error) {
    if (!avi_test::WriteImage(ScratchPath(), image)) {
        *error = "cannot write " + ScratchPath();
        return false;
    }
    return reader->Open(ScratchPath(), error);
}

bool Open(const std::vector<uint8_t>& bytes, AviReader* reader, std::string* error) {
    AviImage image;
    image.size = bytes.size();
    image.pieces.push_back({0, bytes});
    return Open(image, reader, error);
}

::testing::AssertionResult Warned(const AviReader& reader, const std::string& text) {
    std::string all;
    for (const std::string& warning : reader.Warnings()) {
        if (warning.find(text) != std::string::npos) return ::testing::AssertionSuccess();
        all += "\n  " + warning;
    }
    return ::testing::AssertionFailure() << "no warning mentions '" << text << "' among:" << all;
}

// The reader lists `count` frames, each of which reads back exactly as
// written, except frame `refused`, which ReadFrame refuses for `why`; the
// frame after the last does not exist.
void ExpectFrames(const AviReader& reader, const Frames& frames, size_t count, size_t refused = kNone,
                  const char* why = "") {
    ASSERT_EQ(reader.FrameCount(), count);
    for (size_t i = 0; i <= count; ++i) {
        std::vector<uint8_t> payload;
        std::string error;
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

// --- Layouts a writer may produce -------------------------------------------

TEST(AviReaderLayouts, EveryLayoutYieldsTheFramesWritten) {
    struct Case {
        const char* name;
        std::function<void(AviOptions*)> shape;
        AviFrameSource source;
        const char* keyframes;  // '1' for each frame expected to be a keyframe
        const char* warning;    // expected among the warnings; nullptr: no warning at all
    };
    const Case cases[] = {
        {"idx1 relative", [](AviOptions*) {}, AviFrameSource::Idx1, "10101", nullptr},
        {"idx1 absolute", [](AviOptions* o) { o->index = IndexKind::Idx1Absolute; },
         AviFrameSource::Idx1, "10101", nullptr},
        {"no index", [](AviOptions* o) { o->index = IndexKind::None; }, AviFrameSource::MoviScan,
         "11111", "the file has no index"},
        {"rec lists, JUNK, audio, idx1", [](AviOptions* o) { o->recDepth = 1, o->junk = o->audio = true; },
         AviFrameSource::Idx1, "10101", nullptr},
        {"rec lists, JUNK, audio, no index",
         [](AviOptions* o) { o->recDepth = 1, o->junk = o->audio = true, o->index = IndexKind::None; },
         AviFrameSource::MoviScan, "11111", "no index"},
        {"rec lists eight deep, no index",
         [](AviOptions* o) { o->recDepth = 8, o->index = IndexKind::None; }, AviFrameSource::MoviScan,
         "11111", "no index"},
        {"OpenDML in one RIFF", [](AviOptions* o) { o->index = IndexKind::OpenDml; },
         AviFrameSource::OpenDmlIndex, "10101", nullptr},
        {"OpenDML with AVIX parts, audio and JUNK",
         [](AviOptions* o) { o->index = IndexKind::OpenDml, o->framesPerRiff = 2, o->audio = o->junk = true; },
         AviFrameSource::OpenDmlIndex, "10101", nullptr},
        {"AVIX parts with idx1 only", [](AviOptions* o) { o->framesPerRiff = 2; }, AviFrameSource::Idx1,
         "10111", "covers only the first RIFF"},
        {"AVIX parts without index",
         [](AviOptions* o) { o->framesPerRiff = 2, o->index = IndexKind::None, o->recDepth = 2; },
         AviFrameSource::MoviScan, "11111", "no index"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AviOptions options = SampleOptions();
        c.shape(&options);
        AviReader reader;
        std::string error;
        ASSERT_TRUE(Open(BuildAvi(options), &reader, &error)) << error;
        EXPECT_EQ(reader.FrameSource(), c.source);
        EXPECT_EQ(reader.VideoStream().streamNumber, options.audio ? 1 : 0);
        ASSERT_NO_FATAL_FAILURE(ExpectFrames(reader, options.frames, options.frames.size()));
        for (size_t i = 0; i < reader.FrameCount(); ++i) {
            EXPECT_EQ(reader.Frame(i).size, options.frames[i].size()) << i;
            EXPECT_EQ(reader.Frame(i).keyframe, c.keyframes[i] == '1') << i;
        }
        if (c.warning == nullptr) {
            EXPECT_EQ(reader.Warnings(), std::vector<std::string>());
        } else {
            EXPECT_TRUE(Warned(reader, c.warning));
        }
    }
}

TEST(AviReaderLayouts, RecListsDeeperThanEightAreSkippedWithCappedWarnings) {
    AviOptions options;
    for (int i = 0; i < 40; ++i) options.frames.push_back(avi_test::FramePayload(i, 3));
    options.index = IndexKind::None;
    options.recDepth = 9;  // one "nested deeper" warning per frame
    AviReader reader;
    std::string error;
    ASSERT_TRUE(Open(BuildAvi(options), &reader, &error)) << error;
    EXPECT_EQ(reader.FrameCount(), 0u);
    EXPECT_TRUE(Warned(reader, "nested deeper than 8"));
    // "no index", 40 times "nested deeper", "announces 40 frames but 0":
    // 42 warnings, of which 32 are kept and the rest summarised.
    ASSERT_EQ(reader.Warnings().size(), 33u);
    EXPECT_EQ(reader.Warnings().back(), "10 further warning(s) omitted");
}

// --- Header fields ------------------------------------------------------------

TEST(AviReaderHeaders, ReportsMainHeaderStreamHeaderAndFormat) {
    AviOptions options = SampleOptions();
    options.width = 320, options.height = 240;
    options.index = IndexKind::OpenDml, options.framesPerRiff = 3, options.audio = true;
    AviReader reader;
    std::string error;
    ASSERT_TRUE(Open(BuildAvi(options), &reader, &error)) << error;
    const AviMainHeader& main = reader.MainHeader();  // dwTotalFrames counts the first RIFF
    EXPECT_EQ(std::make_tuple(main.microSecPerFrame, main.totalFrames, main.width, main.height),
              std::make_tuple(40000u, 3u, 320u, 240u));
    EXPECT_EQ(reader.OpenDmlTotalFrames(), 5u);
    const AviVideoStream& video = reader.VideoStream();  // the buffer size is the largest frame's
    EXPECT_EQ(std::make_tuple(video.streamNumber, video.handler, video.length, video.suggestedBufferSize),
              std::make_tuple(1, kWemb, 5u, 100u));
    EXPECT_EQ(std::make_tuple(reader.FrameRate().rate, reader.FrameRate().scale), std::make_tuple(25u, 1u));
    const BITMAPINFOHEADER& f = reader.VideoFormat();
    EXPECT_EQ(std::make_tuple(f.biSize, f.biWidth, f.biHeight, f.biBitCount, f.biCompression),
              std::make_tuple(40u, 320, 240, 24, kWemb));
    EXPECT_EQ(video.formatBytes.size(), 40u);
}

TEST(AviReaderHeaders, FrameRateFallsBackToTheMainHeaderThenToUnknown) {
    AviImage image = BuildAvi(SampleOptions());
    image.Patch32(image.videoStrh + 8 + 20, 0);  // dwScale
    AviReader reader;
    std::string error;
    ASSERT_TRUE(Open(image, &reader, &error)) << error;
    EXPECT_EQ(std::make_tuple(reader.FrameRate().rate, reader.FrameRate().scale),
              std::make_tuple(1000000u, 40000u));
    EXPECT_TRUE(Warned(reader, "from the main header"));

    image.Patch32(image.avih + 8, 0);  // dwMicroSecPerFrame
    ASSERT_TRUE(Open(image, &reader, &error)) << error;
    EXPECT_EQ(std::make_tuple(reader.FrameRate().rate, reader.FrameRate().scale), std::make_tuple(0u, 1u));
    EXPECT_TRUE(Warned(reader, "frame rate is unknown"));
}

// --- Damaged indexes: frames still found --------------------------------------

uint64_t Idx1Entry(const AviImage& image, size_t entry) { return image.idx1 + 8 + 16 * entry; }

TEST(AviReaderDamagedIndex, FallsBackAndStillReadsEveryFrame) {
    struct Case {
        const char* name;
        bool openDml;  // OpenDML index and idx1, frames in AVIX parts of two
        std::function<void(AviImage*)> damage;
        AviFrameSource source;
        std::vector<const char*> warnings;
    };
    const Case cases[] = {
        {"idx1 entry outside the file", false,
         [](AviImage* im) { im->Patch32(Idx1Entry(*im, 2) + 8, 0x7FFFFFF0); }, AviFrameSource::MoviScan,
         {"'idx1' index is damaged", "outside the file", "scanning"}},
        {"idx1 entry at another chunk", false,
         [](AviImage* im) { im->Patch32(Idx1Entry(*im, 3) + 8, uint32_t(im->idx1 - im->movis[0] - 8)); },
         AviFrameSource::MoviScan, {"'idx1' index is damaged", "chunk 'idx1'"}},
        {"idx1 missing", false, [](AviImage* im) { im->Patch32(im->idx1, 0x4B4E554A); },  // 'JUNK'
         AviFrameSource::MoviScan, {"no index"}},
        {"idx1 larger than the file", false, [](AviImage* im) { im->Patch32(im->idx1 + 4, 0xFFFFFFF0u); },
         AviFrameSource::Idx1, {"claims 4294967280 bytes"}},
        {"standard index entry outside the file", true,
         [](AviImage* im) { im->Patch32(im->stdIndexes[1] + 8 + 24, 0x7FFFFFF0); }, AviFrameSource::Idx1,
         {"OpenDML index is damaged", "through the 'idx1' index", "covers only the first RIFF"}},
        {"super index entry outside the file", true,
         [](AviImage* im) { im->Patch32(im->indx + 8 + 24 + 16 + 4, 0x100); }, AviFrameSource::Idx1,
         {"OpenDML index is damaged", "outside the file"}},
        {"super index entry at another chunk", true,
         [](AviImage* im) { im->Patch32(im->indx + 8 + 24, uint32_t(im->hdrl)); }, AviFrameSource::Idx1,
         {"chunk 'LIST'", "instead of 'ix00'"}},
        {"both indexes damaged", true,
         [](AviImage* im) {
             im->Patch32(im->stdIndexes[0] + 8 + 24, 0x7FFFFFF0);
             im->Patch32(Idx1Entry(*im, 0) + 8, 0x7FFFFFF0);
         },
         AviFrameSource::MoviScan, {"OpenDML index is damaged", "'idx1' index is damaged"}},
        {"index entry counts larger than the chunks", true,
         [](AviImage* im) {
             im->Patch32(im->indx + 8 + 4, 0xFFFFFFFFu);
             im->Patch32(im->stdIndexes[0] + 8 + 4, 0xFFFFFFFFu);
         },
         AviFrameSource::OpenDmlIndex, {"declares 4294967295 entries but holds only 3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AviOptions options = SampleOptions();
        if (c.openDml) options.index = IndexKind::OpenDml, options.framesPerRiff = 2;
        AviImage image = BuildAvi(options);
        c.damage(&image);
        AviReader reader;
        std::string error;
        ASSERT_TRUE(Open(image, &reader, &error)) << error;
        EXPECT_EQ(reader.FrameSource(), c.source);
        for (const char* warning : c.warnings) EXPECT_TRUE(Warned(reader, warning));
        ExpectFrames(reader, options.frames, options.frames.size());
    }
}

// --- Damaged structure --------------------------------------------------------

TEST(AviReaderDamagedFile, FrameChunkLargerThanTheFileIsRefusedAlone) {
    for (IndexKind index : {IndexKind::Idx1Relative, IndexKind::OpenDml, IndexKind::None}) {
        SCOPED_TRACE(static_cast<int>(index));
        AviOptions options = SampleOptions();
        options.index = index;
        AviImage image = BuildAvi(options);
        image.Patch32(image.frameChunks[3] + 4, 0x7FFFFFF0);
        AviReader reader;
        std::string error;
        ASSERT_TRUE(Open(image, &reader, &error)) << error;
        // With an index the frames after the liar are still located; a walk
        // cannot go past a chunk whose size it cannot trust.
        ExpectFrames(reader, options.frames, index == IndexKind::None ? 4 : 5, 3, "past the end of the file");
        EXPECT_TRUE(Warned(reader, index == IndexKind::None ? "claims 2147483632 bytes"
                                                            : "another size than the frame's chunk header"));
    }
}

TEST(AviReaderDamagedFile, CutOrGarbledFileKeepsTheFramesBeforeTheDamage) {
    const AviImage image = BuildAvi(SampleOptions());
    const std::vector<uint8_t> whole = image.Bytes();
    auto cut = [&](uint64_t length) { return std::vector<uint8_t>(whole.begin(), whole.begin() + length); };
    AviImage garbled = image;
    garbled.Patch32(image.frameChunks[2], 0x00000001);  // no chunk id
    struct Case {
        std::vector<uint8_t> bytes;
        size_t frames;   // listed
        size_t refused;  // the frame cut short
        const char* warning;
    };
    const Case cases[] = {
        {cut(image.frameChunks[3] + 8 + 10), 4, 3, "truncated file?"},  // inside frame 3's payload
        {cut(image.frameChunks[3] + 5), 3, kNone, "truncated file?"},   // inside frame 3's header
        {cut(image.idx1 + 20), 5, kNone, "truncated file?"},            // inside idx1
        {garbled.Bytes(), 2, kNone, "unreadable chunk id"},             // the walk ends there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        AviReader reader;
        std::string error;
        ASSERT_TRUE(Open(c.bytes, &reader, &error)) << error;
        EXPECT_TRUE(Warned(reader, c.warning));
        ExpectFrames(reader, SampleOptions().frames, c.frames, c.refused, "past the end of the file");
    }
}

TEST(AviReaderDamagedFile, LyingListSizesAreLimitedToTheirParent) {
    const std::pair<const char*, std::function<void(AviImage*)>> cases[] = {
        {"movi larger than the RIFF", [](AviImage* im) { im->Patch32(im->movis[0] + 4, 0x7FFFFFF0); }},
        {"strl larger than hdrl", [](AviImage* im) { im->Patch32(im->videoStrl + 4, 0x10000); }},
        {"RIFF larger than the file", [](AviImage* im) { im->Patch32(im->riffs[0] + 4, 0xFFFFFFF0u); }},
    };
    for (const auto& [name, damage] : cases) {
        SCOPED_TRACE(name);
        AviOptions options = SampleOptions();
        options.junk = true;
        AviImage image = BuildAvi(options);
        damage(&image);
        AviReader reader;
        std::string error;
        ASSERT_TRUE(Open(image, &reader, &error)) << error;
        EXPECT_TRUE(Warned(reader, "claims"));
        ExpectFrames(reader, options.frames, options.frames.size());
    }
}

TEST(AviReaderDamagedFile, UnusableHeadersFailWithAClearMessage) {
    constexpr uint32_t kJunk = 0x4B4E554A, kAuds = 0x73647561, kWave = 0x45564157;
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
        AviReader reader;
        std::string error;
        EXPECT_FALSE(Open(image, &reader, &error));
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
        EXPECT_EQ(reader.FrameCount(), 0u);
    }
    AviReader reader;
    std::string error;
    EXPECT_FALSE(reader.Open("/nonexistent/wemb.avi", &error));
    EXPECT_NE(error.find("cannot open /nonexistent/wemb.avi"), std::string::npos) << error;
}

// Every truncation and a change of every byte: whatever Open decides, the
// reader must neither crash nor read outside the file or a buffer (the
// sanitizer build checks), and every frame it lists must either read back at
// its listed size from inside the file or be refused with a message.
TEST(AviReaderDamagedFile, SurvivesEveryTruncationAndByteChange) {
    AviOptions options = SampleOptions();
    options.index = IndexKind::OpenDml, options.framesPerRiff = 2, options.audio = true;
    options.recDepth = 1, options.junk = true;
    const std::vector<uint8_t> whole = BuildAvi(options).Bytes();
    auto check = [&](const std::vector<uint8_t>& bytes) {
        AviReader reader;
        std::string error;
        if (!Open(bytes, &reader, &error)) {
            EXPECT_FALSE(error.empty());
            return;
        }
        EXPECT_LE(reader.FrameCount(), bytes.size() / 8);
        for (size_t i = 0; i < reader.FrameCount(); ++i) {
            std::vector<uint8_t> payload;
            const AviFrame& frame = reader.Frame(i);
            if (reader.ReadFrame(i, &payload, &error)) {
                EXPECT_EQ(payload.size(), frame.size);
                EXPECT_LE(frame.offset + frame.size, bytes.size());
            } else {
                EXPECT_FALSE(error.empty());
            }
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

// --- Files over 4 GB ------------------------------------------------------------

TEST(AviReaderLargeFiles, FramesBeyondFourGigabytesAreFoundAndRead) {
    const std::pair<IndexKind, AviFrameSource> kinds[] = {{IndexKind::OpenDml, AviFrameSource::OpenDmlIndex},
                                                          {IndexKind::Idx1Relative, AviFrameSource::Idx1},
                                                          {IndexKind::None, AviFrameSource::MoviScan}};
    for (const auto& [index, source] : kinds) {
        SCOPED_TRACE(static_cast<int>(index));
        AviOptions options;
        options.frames = {avi_test::FramePayload(0, 33), avi_test::FramePayload(1, 40)};
        options.index = index;
        options.framesPerRiff = 1;
        options.moviHoleBytes = 0x80000000u;  // a 2 GB JUNK hole opens each movi list
        const AviImage image = BuildAvi(options);
        ASSERT_GT(image.frameChunks[1], uint64_t{1} << 32);
        if (!avi_test::WriteImage(ScratchPath(), image)) {
            GTEST_SKIP() << "the file system refuses a sparse file of " << image.size << " bytes";
        }
        AviReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(ScratchPath(), &error)) << error;
        EXPECT_EQ(reader.FrameSource(), source);
        ASSERT_NO_FATAL_FAILURE(ExpectFrames(reader, options.frames, 2));
        EXPECT_EQ(reader.Frame(1).offset, image.frameChunks[1] + 8);
    }
}

TEST(AviReaderLargeFiles, FrameClaimingMoreThanTheLimitIsRefusedEvenInsideTheFile) {
    const AviOptions options = SampleOptions();
    AviImage image = BuildAvi(options);
    image.Patch32(image.frameChunks[1] + 4, (256u << 20) + 1);
    image.size += 300u << 20;  // zeros after the RIFF, so that the claim fits in the file
    if (!avi_test::WriteImage(ScratchPath(), image)) {
        GTEST_SKIP() << "the file system refuses a sparse file of " << image.size << " bytes";
    }
    AviReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(ScratchPath(), &error)) << error;
    ExpectFrames(reader, options.frames, options.frames.size(), 1, "more than the 268435456 this reader accepts");
}

}  // namespace
