#include "tools/frame_output.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "support/temp_dir.h"

namespace {

TEST(IsFramePattern, OnlyOneIntegerConversionWithAWidthIsAPattern) {
    for (const char* yes : {"%d", "%u.bmp", "frames/%05d.bmp", "a%%b%u", "%99d", "%%%d%%"}) {
        EXPECT_TRUE(IsFramePattern(yes)) << yes;
    }
    // Anything printf would read another argument for, write through (%n),
    // or that is not an integer conversion, is refused.
    for (const char* no : {"", "out.bmp", "%%", "100%", "%s.bmp", "%n.bmp", "%x", "%d%d", "%5",
                           "%-5d", "%*d", "%100d", "%ld", "%lld", "%.3d", "%+d", "% d", "%1$d",
                           "%d%s", "%%%"}) {
        EXPECT_FALSE(IsFramePattern(no)) << no;
    }
}

TEST(OutputPathFor, NamesFramesAfterPatternsDirectoriesAndFileNames) {
    wemb_test::TempDir existing;
    ASSERT_TRUE(existing.ok());
    struct Case {
        std::string spec;
        size_t frame;
        const char* stem;
        bool several;
        std::string expected;
    };
    const Case cases[] = {
        // Patterns: the frame number, padded as asked; other text kept.
        {"f%05d.bmp", 17, "", true, "f00017.bmp"},
        {"%d.bmp", 0, "", false, "0.bmp"},
        {"%u-%%.bmp", 5, "", true, "5-%.bmp"},
        {"x%3d.bmp", 7, "", true, "x  7.bmp"},
        {"a/%02d/b.bmp", 123, "", true, "a/123/b.bmp"},
        {"%d.bmp", 2, "photo", true, "2.bmp"},
        // Directories: frame-NNNNNN.bmp for video, the stem for JPEG files.
        {"out/", 17, "", true, "out/frame-000017.bmp"},
        {"out/", 1234567, "", true, "out/frame-1234567.bmp"},
        {"out/", 0, "photo", false, "out/photo.bmp"},
        {existing.path(), 3, "", true, existing.path() + "/frame-000003.bmp"},
        // A plain name: as given for one frame, numbered for several.
        {"out.bmp", 4, "", false, "out.bmp"},
        {"out.bmp", 17, "", true, "out-000017.bmp"},
        {"out.bmp", 1, "photo", true, "out-photo.bmp"},
        {"out", 17, "", true, "out-000017.bmp"},
        {"dir.v2/out", 17, "", true, "dir.v2/out-000017.bmp"},
        // Names that are not patterns are never used as printf formats.
        {"%s.bmp", 3, "", true, "%s-000003.bmp"},
        {"%n.bmp", 3, "", false, "%n.bmp"},
        {"%d%d.bmp", 3, "", true, "%d%d-000003.bmp"},
        {"%*d.bmp", 3, "", true, "%*d-000003.bmp"},
        {"%08x.bmp", 3, "", true, "%08x-000003.bmp"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutputPathFor(c.spec, c.frame, c.stem, c.several), c.expected) << c.spec;
    }
}

TEST(MakeParentDirectories, CreatesWhatIsMissingAndReportsWhatIsInTheWay) {
    wemb_test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::string error;
    ASSERT_TRUE(MakeParentDirectories(dir / "a/b//c/frame.bmp", &error)) << error;
    EXPECT_TRUE(std::ofstream(dir / "a/b/c/frame.bmp").good());
    EXPECT_TRUE(MakeParentDirectories(dir / "a/b/c/again.bmp", &error)) << error;
    EXPECT_TRUE(MakeParentDirectories("relative-file.bmp", &error)) << error;

    // A file where a directory should be.
    std::ofstream(dir / "file") << "x";
    EXPECT_FALSE(MakeParentDirectories(dir / "file/sub/frame.bmp", &error));
    EXPECT_NE(error.find(dir / "file"), std::string::npos) << error;
}

DecodedFrame PaddedFrame() {
    // 3 x 2 pixels: rows of 9 bytes, 12 with padding; padding bytes are 0xEE.
    DecodedFrame frame;
    frame.ok = true;
    frame.format.biWidth = 3;
    frame.format.biHeight = 2;
    frame.pixels.assign(24, 0xEE);
    for (int i = 0; i < 9; ++i) {
        frame.pixels[i] = static_cast<uint8_t>(i + 1);
        frame.pixels[12 + i] = static_cast<uint8_t>(0x41 + i);
    }
    return frame;
}

TEST(WriteRawFrame, WritesTheRowsInTheirOrderWithoutPadding) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    std::string error;
    ASSERT_TRUE(WriteRawFrame(out, PaddedFrame(), &error)) << error;
    std::rewind(out);
    uint8_t bytes[32];
    const size_t got = std::fread(bytes, 1, sizeof bytes, out);
    std::fclose(out);
    ASSERT_EQ(got, 18u);
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(bytes[i], i + 1);
        EXPECT_EQ(bytes[9 + i], 0x41 + i);
    }

    DecodedFrame small = PaddedFrame();
    small.pixels.resize(20);  // fewer bytes than its format needs
    EXPECT_FALSE(WriteRawFrame(stdout, small, &error));
}

TEST(WriteRawFrame, NamesAClosedPipe) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    close(ends[0]);
    std::FILE* out = fdopen(ends[1], "wb");
    ASSERT_NE(out, nullptr);
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &previous);
    std::string error;
    EXPECT_FALSE(WriteRawFrame(out, PaddedFrame(), &error));
    sigaction(SIGPIPE, &previous, nullptr);
    std::fclose(out);
    EXPECT_NE(error.find("closed by its reader"), std::string::npos) << error;
}

}  // namespace
