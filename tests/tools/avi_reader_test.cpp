#include "tools/avi_reader.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/avi_builder.h"

namespace {

using avi_test::AviImage;
using avi_test::AviOptions;
using avi_test::BuildAvi;
using avi_test::IndexKind;
using avi_test::TempFile;

constexpr uint32_t kWemb = 0x626D6577;  // 'wemb' as a little-endian FOURCC

// Five frames, among them odd sizes and a dropped (empty) frame.
std::vector<std::vector<uint8_t>> SampleFrames() {
    std::vector<std::vector<uint8_t>> frames;
    int index = 0;
    for (size_t size : {100, 37, 0, 64, 1}) {
        frames.push_back(avi_test::FramePayload(index++, size));
    }
    return frames;
}

AviOptions SampleOptions() {
    AviOptions options;
    options.frames = SampleFrames();
    options.keyframeInterval = 2;
    return options;
}

bool Mentions(const std::vector<std::string>& messages, const std::string& text) {
    for (const std::string& message : messages) {
        if (message.find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::string Joined(const std::vector<std::string>& messages) {
    std::string all;
    for (const std::string& message : messages) {
        all += "\n  " + message;
    }
    return all;
}

// Checks that frame `index` reads back exactly as written.
void ExpectFrame(const AviReader& reader, const std::vector<std::vector<uint8_t>>& frames,
                 size_t index) {
    std::vector<uint8_t> payload;
    std::string error;
    ASSERT_LT(index, reader.FrameCount());
    EXPECT_TRUE(reader.ReadFrame(index, &payload, &error)) << "frame " << index << ": " << error;
    EXPECT_EQ(payload, frames[index]) << "frame " << index;
}

void ExpectFrameRefused(const AviReader& reader, size_t index, const std::string& text) {
    std::vector<uint8_t> payload;
    std::string error;
    EXPECT_FALSE(reader.ReadFrame(index, &payload, &error)) << "frame " << index;
    EXPECT_NE(error.find(text), std::string::npos) << error;
    EXPECT_TRUE(payload.empty());
}

// --- Layouts a writer may produce -------------------------------------------

struct LayoutCase {
    const char* name;
    std::function<void(AviOptions*)> shape;
    AviFrameSource source;
    const char* keyframes;  // '1' for each frame expected to be a keyframe
    const char* warning;    // expected in the warnings, or nullptr for none
};

TEST(AviReaderLayouts, EveryLayoutYieldsTheFramesWritten) {
    const std::vector<LayoutCase> cases = {
        {"idx1 relative", [](AviOptions*) {}, AviFrameSource::Idx1, "10101", nullptr},
        {"idx1 absolute", [](AviOptions* o) { o->index = IndexKind::Idx1Absolute; },
         AviFrameSource::Idx1, "10101", nullptr},
        {"no index", [](AviOptions* o) { o->index = IndexKind::None; }, AviFrameSource::MoviScan,
         "11111", "the file has no index"},
        {"rec lists, JUNK, audio, idx1",
         [](AviOptions* o) { o->recDepth = 1, o->junk = true, o->audio = true; },
         AviFrameSource::Idx1, "10101", nullptr},
        {"rec lists, JUNK, audio, no index",
         [](AviOptions* o) {
             o->recDepth = 1, o->junk = true, o->audio = true, o->index = IndexKind::None;
         },
         AviFrameSource::MoviScan, "11111", "no index"},
        {"OpenDML in one RIFF", [](AviOptions* o) { o->index = IndexKind::OpenDml; },
         AviFrameSource::OpenDmlIndex, "10101", nullptr},
        {"OpenDML with AVIX parts, audio and JUNK",
         [](AviOptions* o) {
             o->index = IndexKind::OpenDml, o->framesPerRiff = 2, o->audio = true, o->junk = true;
         },
         AviFrameSource::OpenDmlIndex, "10101", nullptr},
        {"AVIX parts with idx1 only", [](AviOptions* o) { o->framesPerRiff = 2; },
         AviFrameSource::Idx1, "10111", "covers only the first RIFF"},
        {"AVIX parts without index",
         [](AviOptions* o) { o->framesPerRiff = 2, o->index = IndexKind::None, o->recDepth = 2; },
         AviFrameSource::MoviScan, "11111", "no index"},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        AviOptions options = SampleOptions();
        c.shape(&options);
        TempFile file("layout.avi");
        ASSERT_TRUE(file.Write(BuildAvi(options).Bytes()));
        AviReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
        EXPECT_EQ(reader.FrameSource(), c.source);
        EXPECT_EQ(reader.VideoStream().streamNumber, options.audio ? 1 : 0);
        ASSERT_EQ(reader.FrameCount(), options.frames.size());
        for (size_t i = 0; i < options.frames.size(); ++i) {
            EXPECT_EQ(reader.Frame(i).size, options.frames[i].size()) << i;
            EXPECT_EQ(reader.Frame(i).keyframe, c.keyframes[i] == '1') << i;
            ExpectFrame(reader, options.frames, i);
        }
        if (c.warning == nullptr) {
            EXPECT_TRUE(reader.Warnings().empty()) << Joined(reader.Warnings());
        } else {
            EXPECT_TRUE(Mentions(reader.Warnings(), c.warning)) << Joined(reader.Warnings());
        }
    }
}

TEST(AviReaderLayouts, RecListsNestUpToEightLevels) {
    for (int depth : {8, 9}) {
        AviOptions options = SampleOptions();
        options.index = IndexKind::None;
        options.recDepth = depth;
        TempFile file("nested.avi");
        ASSERT_TRUE(file.Write(BuildAvi(options).Bytes()));
        AviReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
        EXPECT_EQ(reader.FrameCount(), depth == 8 ? options.frames.size() : 0u) << depth;
        EXPECT_EQ(Mentions(reader.Warnings(), "nested deeper"), depth == 9) << depth;
    }
}

TEST(AviReaderLayouts, WarningsAreCappedWithASummary) {
    AviOptions options;
    for (int i = 0; i < 40; ++i) {
        options.frames.push_back(avi_test::FramePayload(i, 3));
    }
    options.index = IndexKind::None;
    options.recDepth = 9;  // one "nested deeper" warning per frame
    TempFile file("many_warnings.avi");
    ASSERT_TRUE(file.Write(BuildAvi(options).Bytes()));
    AviReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
    // "no index", 40 times "nested deeper", "announces 40 frames but 0":
    // 42 warnings, of which 32 are kept and the rest summarised.
    ASSERT_EQ(reader.Warnings().size(), 33u);
    EXPECT_EQ(reader.Warnings().back(), "10 further warning(s) omitted");
}

// --- Header fields ------------------------------------------------------------

TEST(AviReaderHeaders, ReportsMainHeaderStreamHeaderAndFormat) {
    AviOptions options = SampleOptions();
    options.width = 320, options.height = 240, options.rate = 30000, options.scale = 1001;
    options.index = IndexKind::OpenDml, options.framesPerRiff = 3, options.audio = true;
    TempFile file("headers.avi");
    ASSERT_TRUE(file.Write(BuildAvi(options).Bytes()));
    AviReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(file.path(), &error)) << error;

    EXPECT_EQ(reader.MainHeader().microSecPerFrame, 33366u);  // 1001 / 30000 s
    EXPECT_EQ(reader.MainHeader().totalFrames, 3u);           // the first RIFF's frames
    EXPECT_EQ(reader.MainHeader().width, 320u);
    EXPECT_EQ(reader.MainHeader().height, 240u);
    EXPECT_EQ(reader.OpenDmlTotalFrames(), 5u);

    const AviVideoStream& video = reader.VideoStream();
    EXPECT_EQ(video.streamNumber, 1);
    EXPECT_EQ(video.handler, kWemb);
    EXPECT_EQ(video.length, 5u);
    EXPECT_EQ(video.suggestedBufferSize, 100u);  // the largest frame
    EXPECT_EQ(reader.FrameRate().rate, 30000u);
    EXPECT_EQ(reader.FrameRate().scale, 1001u);

    const BITMAPINFOHEADER& format = reader.VideoFormat();
    EXPECT_EQ(format.biSize, 40u);
    EXPECT_EQ(format.biWidth, 320);
    EXPECT_EQ(format.biHeight, 240);
    EXPECT_EQ(format.biBitCount, 24);
    EXPECT_EQ(format.biCompression, kWemb);
    EXPECT_EQ(video.formatBytes.size(), 40u);
}

TEST(AviReaderHeaders, FrameRateFallsBackToTheMainHeaderThenToUnknown) {
    AviOptions options = SampleOptions();  // 25 frames per second: 40000 us per frame
    AviImage image = BuildAvi(options);
    image.Patch32(image.videoStrh + 8 + 20, 0);  // dwScale
    TempFile file("rate.avi");
    ASSERT_TRUE(file.Write(image.Bytes()));
    AviReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
    EXPECT_EQ(reader.FrameRate().rate, 1000000u);
    EXPECT_EQ(reader.FrameRate().scale, 40000u);
    EXPECT_TRUE(Mentions(reader.Warnings(), "from the main header"));

    image.Patch32(image.avih + 8, 0);  // dwMicroSecPerFrame
    ASSERT_TRUE(file.Write(image.Bytes()));
    ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
    EXPECT_EQ(reader.FrameRate().rate, 0u);
    EXPECT_EQ(reader.FrameRate().scale, 1u);
    EXPECT_TRUE(Mentions(reader.Warnings(), "frame rate is unknown"));
}

// --- Damaged indexes: frames still found --------------------------------------

struct DamageCase {
    const char* name;
    std::function<void(AviOptions*)> shape;
    std::function<void(AviImage*)> damage;
    AviFrameSource source;
    std::vector<const char*> warnings;
};

uint64_t Idx1Entry(const AviImage& image, size_t entry) { return image.idx1 + 8 + 16 * entry; }

TEST(AviReaderDamagedIndex, FallsBackAndStillReadsEveryFrame) {
    auto openDml = [](AviOptions* o) { o->index = IndexKind::OpenDml, o->framesPerRiff = 2; };
    const std::vector<DamageCase> cases = {
        {"idx1 entry outside the file", [](AviOptions*) {},
         [](AviImage* im) { im->Patch32(Idx1Entry(*im, 2) + 8, 0x7FFFFFF0); },
         AviFrameSource::MoviScan, {"'idx1' index is damaged", "outside the file", "scanning"}},
        {"idx1 entry at another chunk", [](AviOptions*) {},
         [](AviImage* im) {
             im->Patch32(Idx1Entry(*im, 3) + 8, static_cast<uint32_t>(im->idx1 - im->movis[0] - 8));
         },
         AviFrameSource::MoviScan, {"'idx1' index is damaged", "chunk 'idx1'"}},
        {"idx1 missing", [](AviOptions*) {},
         [](AviImage* im) { im->Patch32(im->idx1, 0x4B4E554A); },  // renamed 'JUNK'
         AviFrameSource::MoviScan, {"no index"}},
        {"idx1 larger than the file", [](AviOptions*) {},
         [](AviImage* im) { im->Patch32(im->idx1 + 4, 0xFFFFFFF0u); },
         AviFrameSource::Idx1, {"claims 4294967280 bytes"}},
        {"standard index entry outside the file", openDml,
         [](AviImage* im) { im->Patch32(im->stdIndexes[1] + 8 + 24, 0x7FFFFFF0); },
         AviFrameSource::Idx1,
         {"OpenDML index is damaged", "through the 'idx1' index", "covers only the first RIFF"}},
        {"super index entry outside the file", openDml,
         [](AviImage* im) { im->Patch32(im->indx + 8 + 24 + 16 + 4, 0x100); },
         AviFrameSource::Idx1, {"OpenDML index is damaged", "outside the file"}},
        {"super index entry at another chunk", openDml,
         [](AviImage* im) { im->Patch32(im->indx + 8 + 24, static_cast<uint32_t>(im->hdrl)); },
         AviFrameSource::Idx1, {"chunk 'LIST'", "instead of 'ix00'"}},
        {"both indexes damaged", openDml,
         [](AviImage* im) {
             im->Patch32(im->stdIndexes[0] + 8 + 24, 0x7FFFFFF0);
             im->Patch32(Idx1Entry(*im, 0) + 8, 0x7FFFFFF0);
         },
         AviFrameSource::MoviScan, {"OpenDML index is damaged", "'idx1' index is damaged"}},
        {"index entry counts larger than the chunks", openDml,
         [](AviImage* im) {
             im->Patch32(im->indx + 8 + 4, 0xFFFFFFFFu);
             im->Patch32(im->stdIndexes[0] + 8 + 4, 0xFFFFFFFFu);
         },
         AviFrameSource::OpenDmlIndex, {"declares 4294967295 entries but holds only 3"}},
    };
    for (const DamageCase& c : cases) {
        SCOPED_TRACE(c.name);
        AviOptions options = SampleOptions();
        c.shape(&options);
        AviImage image = BuildAvi(options);
        c.damage(&image);
        TempFile file("damaged.avi");
        ASSERT_TRUE(file.Write(image.Bytes()));
        AviReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
        EXPECT_EQ(reader.FrameSource(), c.source);
        for (const char* warning : c.warnings) {
            EXPECT_TRUE(Mentions(reader.Warnings(), warning))
                << warning << Joined(reader.Warnings());
        }
        ASSERT_EQ(reader.FrameCount(), options.frames.size());
        for (size_t i = 0; i < options.frames.size(); ++i) {
            ExpectFrame(reader, options.frames, i);
        }
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
        TempFile file("huge_frame.avi");
        ASSERT_TRUE(file.Write(image.Bytes()));
        AviReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
        // With an index the frames after the liar are still located; a walk
        // cannot go past a chunk whose size it cannot trust.
        const size_t found = index == IndexKind::None ? 4 : 5;
        ASSERT_EQ(reader.FrameCount(), found);
        for (size_t i = 0; i < found; ++i) {
            if (i == 3) {
                ExpectFrameRefused(reader, i, "past the end of the file");
            } else {
                ExpectFrame(reader, options.frames, i);
            }
        }
        EXPECT_TRUE(Mentions(reader.Warnings(), index == IndexKind::None
                                                    ? "claims 2147483632 bytes"
                                                    : "another size than the frame's chunk header"))
            << Joined(reader.Warnings());
    }
}

TEST(AviReaderDamagedFile, TruncatedFileKeepsTheFramesBeforeTheCut) {
    const AviImage image = BuildAvi(SampleOptions());
    const std::vector<uint8_t> whole = image.Bytes();
    struct Cut {
        uint64_t length;
        size_t frames;  // frames listed; the last one is refused when cut
        bool lastRefused;
    };
    const Cut cuts[] = {
        {image.frameChunks[3] + 8 + 10, 4, true},  // inside frame 3's payload
        {image.frameChunks[3] + 5, 3, false},      // inside frame 3's header
        {image.idx1 + 20, 5, false},               // inside idx1
    };
    for (const Cut& cut : cuts) {
        SCOPED_TRACE(cut.length);
        TempFile file("truncated.avi");
        ASSERT_TRUE(file.Write(std::vector<uint8_t>(whole.begin(), whole.begin() + cut.length)));
        AviReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
        EXPECT_TRUE(Mentions(reader.Warnings(), "truncated file?")) << Joined(reader.Warnings());
        ASSERT_EQ(reader.FrameCount(), cut.frames);
        for (size_t i = 0; i < cut.frames; ++i) {
            if (cut.lastRefused && i + 1 == cut.frames) {
                ExpectFrameRefused(reader, i, "past the end of the file");
            } else {
                ExpectFrame(reader, SampleFrames(), i);
            }
        }
    }
}

TEST(AviReaderDamagedFile, LyingListSizesAreLimitedToTheirParent) {
    const std::vector<std::pair<const char*, std::function<void(AviImage*)>>> cases = {
        {"movi larger than the RIFF",
         [](AviImage* im) { im->Patch32(im->movis[0] + 4, 0x7FFFFFF0); }},
        {"strl larger than hdrl", [](AviImage* im) { im->Patch32(im->videoStrl + 4, 0x10000); }},
        {"RIFF larger than the file",
         [](AviImage* im) { im->Patch32(im->riffs[0] + 4, 0xFFFFFFF0u); }},
    };
    for (const auto& [name, damage] : cases) {
        SCOPED_TRACE(name);
        AviOptions options = SampleOptions();
        options.junk = true;
        AviImage image = BuildAvi(options);
        damage(&image);
        TempFile file("lying.avi");
        ASSERT_TRUE(file.Write(image.Bytes()));
        AviReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
        EXPECT_TRUE(Mentions(reader.Warnings(), "claims")) << Joined(reader.Warnings());
        ASSERT_EQ(reader.FrameCount(), options.frames.size());
        for (size_t i = 0; i < options.frames.size(); ++i) {
            ExpectFrame(reader, options.frames, i);
        }
    }
}

TEST(AviReaderDamagedFile, UnreadableChunkIdEndsTheWalkAfterEarlierFrames) {
    AviOptions options = SampleOptions();
    options.index = IndexKind::None;
    AviImage image = BuildAvi(options);
    image.Patch32(image.frameChunks[2], 0x00000001);
    TempFile file("garbage.avi");
    ASSERT_TRUE(file.Write(image.Bytes()));
    AviReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
    EXPECT_TRUE(Mentions(reader.Warnings(), "unreadable chunk id"));
    ASSERT_EQ(reader.FrameCount(), 2u);
    ExpectFrame(reader, options.frames, 0);
    ExpectFrame(reader, options.frames, 1);
    ExpectFrameRefused(reader, 2, "does not exist");
}

// One 32-bit field overwritten: the chunk at `where` + `delta` gets `value`.
struct FieldPatch {
    const char* name;
    uint64_t (*where)(const AviImage&);
    uint64_t delta;
    uint32_t value;
    const char* message;
};

TEST(AviReaderDamagedFile, UnusableHeadersFailWithAClearMessage) {
    constexpr uint32_t kJunk = 0x4B4E554A, kAuds = 0x73647561, kWave = 0x45564157;
    auto strf = [](const AviImage& im) { return im.videoStrf; };
    auto strh = [](const AviImage& im) { return im.videoStrh; };
    auto hdrl = [](const AviImage& im) { return im.hdrl; };
    auto movi = [](const AviImage& im) { return im.movis[0]; };
    auto start = [](const AviImage&) { return uint64_t{0}; };
    const FieldPatch cases[] = {
        {"strf missing", strf, 0, kJunk, "no format chunk 'strf'"},
        {"strf too small", strf, 4, 20, "20 bytes, too few for a BITMAPINFOHEADER"},
        {"strf larger than its list", strf, 4, 1000, "'strf' runs past the end of its list"},
        {"zero width", strf, 8 + 4, 0, "size of 0 x 48"},
        {"zero height", strf, 8 + 8, 0, "size of 64 x 0"},
        {"negative width", strf, 8 + 4, 0xFFFFFFC0u, "size of -64 x 48"},
        {"top-down compressed", strf, 8 + 8, 0xFFFFFFD0u, "negative height (-48)"},
        {"no video stream", strh, 8, kAuds, "no video stream"},
        {"hdrl too small for its streams", hdrl, 4, 24, "no video stream"},
        {"no hdrl", hdrl, 8, kJunk, "no header list"},
        {"no movi", movi, 8, kJunk, "no 'movi' list"},
        {"not AVI", start, 8, kWave, "not an AVI file"},
    };
    for (const FieldPatch& patch : cases) {
        SCOPED_TRACE(patch.name);
        AviImage image = BuildAvi(SampleOptions());
        image.Patch32(patch.where(image) + patch.delta, patch.value);
        TempFile file("bad_header.avi");
        ASSERT_TRUE(file.Write(image.Bytes()));
        AviReader reader;
        std::string error;
        EXPECT_FALSE(reader.Open(file.path(), &error));
        EXPECT_NE(error.find(patch.message), std::string::npos) << error;
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
    TempFile file("mutant.avi");
    auto check = [&](const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(file.Write(bytes));
        AviReader reader;
        std::string error;
        if (!reader.Open(file.path(), &error)) {
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
    constexpr uint64_t kFourGigabytes = uint64_t{1} << 32;
    for (IndexKind index : {IndexKind::OpenDml, IndexKind::Idx1Relative, IndexKind::None}) {
        SCOPED_TRACE(static_cast<int>(index));
        AviOptions options;
        options.frames = {avi_test::FramePayload(0, 33), avi_test::FramePayload(1, 40)};
        options.index = index;
        options.framesPerRiff = 1;
        options.moviHoleBytes = 0x80000000u;  // a 2 GB JUNK hole opens each movi list
        const AviImage image = BuildAvi(options);
        ASSERT_GT(image.frameChunks[1], kFourGigabytes);
        TempFile file("large.avi");
        if (!file.Write(image)) {
            GTEST_SKIP() << "the file system refuses a sparse file of " << image.size << " bytes";
        }
        AviReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
        ASSERT_EQ(reader.FrameCount(), 2u);
        EXPECT_EQ(reader.Frame(1).offset, image.frameChunks[1] + 8);
        ExpectFrame(reader, options.frames, 0);
        ExpectFrame(reader, options.frames, 1);
    }
}

TEST(AviReaderLargeFiles, FrameClaimingMoreThanTheLimitIsRefusedEvenInsideTheFile) {
    AviOptions options = SampleOptions();
    AviImage image = BuildAvi(options);
    image.Patch32(image.frameChunks[1] + 4, (256u << 20) + 1);
    image.size += 300u << 20;  // zeros after the RIFF, so that the claim fits in the file
    TempFile file("big_claim.avi");
    if (!file.Write(image)) {
        GTEST_SKIP() << "the file system refuses a sparse file of " << image.size << " bytes";
    }
    AviReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(file.path(), &error)) << error;
    ASSERT_EQ(reader.FrameCount(), options.frames.size());
    ExpectFrameRefused(reader, 1, "more than the 268435456 this reader accepts");
    ExpectFrame(reader, options.frames, 0);
    ExpectFrame(reader, options.frames, 2);
}

}  // namespace
