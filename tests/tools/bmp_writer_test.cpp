#include "tools/bmp_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

// What WriteBmp24 writes is checked byte for byte by the end-to-end runs of
// wemb-decode (tests/tools/wemb_decode_test.cpp), on pictures with and
// without row padding; here, what it must refuse.
TEST(WriteBmp24, RefusesBadSizesShortPixelsAndUnwritablePaths) {
    wemb_test::TempDir dir;
    ASSERT_TRUE(dir.ok());
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
