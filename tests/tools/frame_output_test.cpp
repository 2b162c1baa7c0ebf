#include "tools/frame_output.h"

#include <gtest/gtest.h>

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
    // or that is not an integer conversion of at most two digits' width.
    for (const char* no : {"", "out.bmp", "%%", "100%", "%s.bmp", "%n.bmp", "%d%d", "%d%s", "%5", "%-5d",
                           "%*d", "%100d", "%ld", "%.3d", "%1$d", "%%%"}) {
        EXPECT_FALSE(IsFramePattern(no)) << no;
    }
}

TEST(OutputPathFor, NamesFramesAfterPatternsDirectoriesAndFileNames) {
    wemb_test::TempDir existing;
    ASSERT_TRUE(existing.ok());
    struct Case {
        std::string target;
        size_t frame;
        const char* stem;
        bool several;
        std::string expected;
    };
    const Case cases[] = {
        // Patterns: the frame number, padded as asked; other text kept; the
        // stem of a JPEG file does not matter.
        {"f%05d.bmp", 17, "", false, "f00017.bmp"},
        {"%u-%%.bmp", 5, "photo", true, "5-%.bmp"},
        {"x%3d.bmp", 7, "", true, "x  7.bmp"},
        {"a/%02d/b.bmp", 123, "", true, "a/123/b.bmp"},
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
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OutputPathFor(c.target, c.frame, c.stem, c.several), c.expected) << c.target;
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
    std::ofstream(dir / "file") << "x";  // a file where a directory should be
    EXPECT_FALSE(MakeParentDirectories(dir / "file/sub/frame.bmp", &error));
    EXPECT_NE(error.find(dir / "file"), std::string::npos) << error;
}

// The rows it writes are checked by the end-to-end run of wemb-decode --raw.
TEST(WriteRawFrame, RefusesABufferSmallerThanItsFormat) {
    DecodedFrame frame;
    frame.format.biWidth = 3;
    frame.format.biHeight = 2;
    frame.pixels.assign(23, 0);  // rows of 9 bytes padded to 12 need 24
    std::string error;
    EXPECT_FALSE(WriteRawFrame(stdout, frame, &error));
    EXPECT_EQ(error, "frame buffer smaller than its format");
}

}  // namespace
