#include "tools/bmp_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/bmp_file.h"
#include "support/temp_dir.h"

namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(WriteBmp24, WritesBothHeadersThenTheRowsAsGiven) {
    wemb_test::TempDir dir;
    // Rows of width x 3 bytes padded to a multiple of 4: 3 pixels take 12
    // bytes, as do 4; 1 pixel takes 4.
    struct Size {
        int32_t width, height;
        size_t rowStep;
    };
    for (const Size& size : {Size{3, 2, 12}, Size{4, 2, 12}, Size{1, 1, 4}}) {
        SCOPED_TRACE(size.width);
        std::vector<uint8_t> rows(size.rowStep * size.height);
        for (size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<uint8_t>(i * 7 + size.width);
        std::string error;
        ASSERT_TRUE(WriteBmp24(dir / "picture.bmp", size.width, size.height, rows.data(), rows.size(), &error))
            << error;
        EXPECT_EQ(ReadAll(dir / "picture.bmp"), wemb_test::Bmp24File(size.width, size.height, rows));
    }
}

TEST(WriteBmp24, RefusesBadSizesShortPixelsAndUnwritablePaths) {
    wemb_test::TempDir dir;
    const std::string path = dir / "refused.bmp";
    const std::vector<uint8_t> pixels(24);
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
}

}  // namespace
