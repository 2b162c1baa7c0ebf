// The picture buffers the host hands from frame to frame.
#include "tools/picture_pool.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tools/codec_session.h"

namespace {

BITMAPINFOHEADER Format(int32_t width, int32_t height, uint16_t bitCount = 24) {
    BITMAPINFOHEADER format = WembFormat(width, height);
    format.biCompression = BI_RGB;
    format.biBitCount = bitCount;
    format.biSizeImage = static_cast<DWORD>(((width * bitCount / 8 + 3) & ~3) * std::abs(height));
    return format;
}

bool AllZero(const std::vector<uint8_t>& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](uint8_t byte) { return byte == 0; });
}

// A buffer goes back to a frame of the same layout only, as it was left:
// rows of another width, order or depth would put old pixels where the
// codec writes no new ones (the row padding).
TEST(PicturePool, HandsABufferOnlyToAPictureOfItsOwnLayout) {
    PicturePool pool(4, 1 << 20);
    const BITMAPINFOHEADER format = Format(33, 17);
    std::vector<uint8_t> first = pool.Take(format);
    ASSERT_EQ(first.size(), 1700u);
    EXPECT_TRUE(AllZero(first));
    first[5] = 7;  // a picture
    const uint8_t* storage = first.data();
    pool.Give(std::move(first), format);
    EXPECT_EQ(pool.IdleBytes(), 1700u);

    std::vector<uint8_t> again = pool.Take(format);
    EXPECT_EQ(again.data(), storage);
    EXPECT_EQ(again[5], 7);
    EXPECT_EQ(pool.IdleBytes(), 0u);
    pool.Give(std::move(again), format);

    // Same byte count, other layouts: a new zeroed buffer each, and the idle
    // one of the old layout is let go.
    for (const BITMAPINFOHEADER& other : {Format(33, -17), Format(25, 17, 32), Format(100, 17)}) {
        std::vector<uint8_t> fresh = pool.Take(other);
        EXPECT_EQ(fresh.size(), other.biSizeImage);
        EXPECT_TRUE(AllZero(fresh));  // not the old picture
        EXPECT_EQ(pool.IdleBytes(), 0u);
    }
}

TEST(PicturePool, KeepsNoMoreThanItsLimitsAndNothingThatDoesNotFit) {
    const BITMAPINFOHEADER format = Format(16, 16);  // 768 bytes
    PicturePool pool(2, 2000);
    std::vector<std::vector<uint8_t>> taken;
    for (int i = 0; i < 4; ++i) taken.push_back(pool.Take(format));
    for (auto& buffer : taken) pool.Give(std::move(buffer), format);
    EXPECT_EQ(pool.IdleBytes(), 2 * 768u);  // two buffers at most

    PicturePool small(4, 2000);
    for (int i = 0; i < 4; ++i) taken[i] = small.Take(format);
    for (auto& buffer : taken) small.Give(std::move(buffer), format);
    EXPECT_EQ(small.IdleBytes(), 2 * 768u);  // 2000 bytes at most

    // Nothing kept that is not a whole picture of its format, or larger
    // than all the pool may keep.
    PicturePool pool3(4, 2000);
    pool3.Give(std::vector<uint8_t>(700), format);
    pool3.Give(std::vector<uint8_t>(), format);
    pool3.Give(std::vector<uint8_t>(2496), Format(32, 26));
    EXPECT_EQ(pool3.IdleBytes(), 0u);
    PicturePool none(0, 1 << 20);
    none.Give(none.Take(format), format);
    EXPECT_EQ(none.IdleBytes(), 0u);
}

}  // namespace
