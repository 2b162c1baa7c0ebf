#include "tools/bmp_writer.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/avi_builder.h"

namespace {

uint32_t LE32(const std::vector<uint8_t>& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) |
           (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

uint16_t LE16(const std::vector<uint8_t>& bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(WriteBmp24, WritesBothHeadersThenTheRowsAsGiven) {
    // 3 x 2 pixels: rows of 9 bytes padded to 12.
    struct Size {
        int32_t width, height;
        uint32_t rowStep;
    };
    for (const Size& size : {Size{3, 2, 12}, Size{4, 2, 12}, Size{1, 1, 4}}) {
        SCOPED_TRACE(size.width);
        const uint32_t imageSize = size.rowStep * static_cast<uint32_t>(size.height);
        const std::vector<uint8_t> pixels = avi_test::FramePayload(size.width, imageSize);
        avi_test::TempFile file("picture.bmp");
        std::string error;
        ASSERT_TRUE(WriteBmp24(file.path(), size.width, size.height, pixels.data(), pixels.size(),
                               &error))
            << error;

        const std::vector<uint8_t> bytes = ReadAll(file.path());
        ASSERT_EQ(bytes.size(), 14u + 40u + imageSize);
        EXPECT_EQ(bytes[0], 'B');
        EXPECT_EQ(bytes[1], 'M');
        EXPECT_EQ(LE32(bytes, 2), bytes.size());  // bfSize
        EXPECT_EQ(LE32(bytes, 6), 0u);            // bfReserved1, bfReserved2
        EXPECT_EQ(LE32(bytes, 10), 54u);          // bfOffBits
        EXPECT_EQ(LE32(bytes, 14), 40u);          // biSize
        EXPECT_EQ(LE32(bytes, 18), static_cast<uint32_t>(size.width));
        EXPECT_EQ(LE32(bytes, 22), static_cast<uint32_t>(size.height));
        EXPECT_EQ(LE16(bytes, 26), 1);   // biPlanes
        EXPECT_EQ(LE16(bytes, 28), 24);  // biBitCount
        EXPECT_EQ(LE32(bytes, 30), 0u);  // biCompression BI_RGB
        EXPECT_EQ(LE32(bytes, 34), imageSize);
        for (size_t at = 38; at < 54; at += 4) {
            EXPECT_EQ(LE32(bytes, at), 0u) << at;  // resolution and colour counts
        }
        EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 54, bytes.end()), pixels);
    }
}

TEST(WriteBmp24, RefusesBadSizesShortPixelsAndUnwritablePaths) {
    const std::vector<uint8_t> pixels(24);
    avi_test::TempFile file("refused.bmp");
    std::string error;
    EXPECT_FALSE(WriteBmp24(file.path(), 0, 2, pixels.data(), pixels.size(), &error));
    EXPECT_NE(error.find("0 x 2"), std::string::npos) << error;
    EXPECT_FALSE(WriteBmp24(file.path(), 3, -2, pixels.data(), pixels.size(), &error));
    EXPECT_FALSE(WriteBmp24(file.path(), 3, 2, pixels.data(), 23, &error));
    EXPECT_NE(error.find("fewer than the 24"), std::string::npos) << error;
    EXPECT_FALSE(
        WriteBmp24(file.path(), 0x7FFFFFFF, 0x7FFFFFFF, pixels.data(), pixels.size(), &error));
    EXPECT_NE(error.find("too large"), std::string::npos) << error;
    EXPECT_NE(::access(file.path().c_str(), F_OK), 0);  // nothing was created

    EXPECT_FALSE(WriteBmp24("/nonexistent/dir/x.bmp", 3, 2, pixels.data(), pixels.size(), &error));
    EXPECT_NE(error.find("cannot create /nonexistent/dir/x.bmp"), std::string::npos) << error;
}

}  // namespace
