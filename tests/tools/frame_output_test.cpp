#include "tools/frame_output.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tools/bmp_writer.h"
#include "tools/png_writer.h"

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
    // Another format's extension goes only where the program makes up the
    // name; a name or pattern keeps its own.
    EXPECT_EQ(OutputPathFor("out/", 17, "", true, ".png"), "out/frame-000017.png");
    EXPECT_EQ(OutputPathFor("out/", 0, "photo", false, ".png"), "out/photo.png");
    EXPECT_EQ(OutputPathFor("out", 17, "", true, ".png"), "out-000017.png");
    EXPECT_EQ(OutputPathFor("out.PNG", 17, "", true, ".png"), "out-000017.PNG");
    EXPECT_EQ(OutputPathFor("f%03d.png", 17, "", true, ".png"), "f017.png");
    for (const auto& [path, extension] : {std::make_pair("a/b.PNG", ".png"), std::make_pair("b.bmp", ".bmp"),
                                          std::make_pair("dir.v2/out", ""), std::make_pair("out/", ""),
                                          std::make_pair("f%05d.png", ".png"), std::make_pair("plain", "")}) {
        EXPECT_EQ(FileExtension(path), extension) << path;
    }
}

// ffmpeg's rawvideo input for what --raw writes: the pixel format for 24 or
// 32 bits, the size, and the AVI rate as a reduced fraction.
TEST(RawVideoArguments, NameThePixelFormatSizeAndReducedRate) {
    struct Case {
        int32_t width, height;
        uint16_t bitCount;
        uint32_t rate, scale;
        const char* expected;
    };
    const Case cases[] = {
        {1280, 720, 24, 25, 1, "-f rawvideo -pixel_format bgr24 -video_size 1280x720 -framerate 25 -i -"},
        {33, 17, 32, 30000, 1001, "-f rawvideo -pixel_format bgra -video_size 33x17 -framerate 30000/1001 -i -"},
        {512, 288, 24, 10000000, 400000, "-f rawvideo -pixel_format bgr24 -video_size 512x288 -framerate 25 -i -"},
        {8, 8, 24, 24000, 2002, "-f rawvideo -pixel_format bgr24 -video_size 8x8 -framerate 12000/1001 -i -"},
        {8, 8, 24, 15, 2, "-f rawvideo -pixel_format bgr24 -video_size 8x8 -framerate 15/2 -i -"},
        // No usable rate: ffmpeg's own default, stated.
        {8, 8, 24, 0, 1, "-f rawvideo -pixel_format bgr24 -video_size 8x8 -framerate 25 -i -"},
        {8, 8, 24, 25, 0, "-f rawvideo -pixel_format bgr24 -video_size 8x8 -framerate 25 -i -"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RawVideoArguments(c.width, c.height, c.bitCount, c.rate, c.scale), c.expected);
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

// What the writers write is checked byte for byte by the end-to-end runs of
// wemb-decode, on pictures with and without row padding; here, what they
// must refuse.
TEST(FrameWriters, RefuseBadSizesShortPixelsAndUnwritablePaths) {
    wemb_test::TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string path = dir / "refused.bmp";
    const std::vector<uint8_t> pixels(24);  // 3 x 2: rows of 9 bytes padded to 12
    struct Case {
        int32_t width, height;
        size_t bytes;
        const char* message;
    };
    for (const Case& c : {Case{0, 2, 24, "0 x 2"}, Case{3, -2, 24, "3 x -2"}, Case{3, 2, 23, "fewer than the 24"},
                          Case{0x7FFFFFFF, 0x7FFFFFFF, 24, "too large"}}) {
        std::string error;
        EXPECT_FALSE(WriteBmp24(path, c.width, c.height, pixels.data(), c.bytes, &error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    EXPECT_NE(::access(path.c_str(), F_OK), 0);  // nothing was created
    std::string error;
    EXPECT_FALSE(WriteBmp24("/nonexistent/dir/x.bmp", 3, 2, pixels.data(), pixels.size(), &error));
    EXPECT_NE(error.find("cannot create /nonexistent/dir/x.bmp"), std::string::npos) << error;

    DecodedFrame frame;
    frame.format.biWidth = 3;
    frame.format.biHeight = 2;
    frame.format.biBitCount = 24;
    frame.pixels.assign(23, 0);
    EXPECT_FALSE(WriteRawFrame(stdout, frame, &error));
    EXPECT_EQ(error, "frame buffer smaller than its format");
    frame.format.biBitCount = 32;  // rows of 12 bytes
    frame.pixels.assign(23, 0);
    EXPECT_FALSE(WriteRawFrame(stdout, frame, &error));
    EXPECT_EQ(error, "frame buffer smaller than its format");
    frame.format.biBitCount = 16;
    frame.pixels.assign(24, 0);
    EXPECT_FALSE(WriteRawFrame(stdout, frame, &error));
    EXPECT_EQ(error, "a frame of 16 bits a pixel is not raw bgr24 or bgra");

    for (const Case& c : {Case{0, 2, 24, "0 x 2"}, Case{3, 0, 24, "3 x 0"}, Case{2000000, 2, 24, "2000000 x 2"}}) {
        EXPECT_FALSE(WritePng(path, c.width, c.height, pixels.data(), 12, &error)) << c.message;
        EXPECT_NE(error.find(c.message), std::string::npos) << error;
    }
    EXPECT_FALSE(WritePng("/nonexistent/dir/x.png", 3, 2, pixels.data(), 12, &error));
    EXPECT_NE(error.find("cannot create /nonexistent/dir/x.png"), std::string::npos) << error;
}

}  // namespace
