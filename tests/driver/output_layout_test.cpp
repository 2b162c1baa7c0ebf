// The output layouts a host can ask for besides the offered 24-bit bottom-up
// bitmap: 32 bits a pixel and top-down rows. Each must hold exactly the
// offered picture's pixels, in its own layout, and leave its row padding
// alone; a frame that fails fails in every layout.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/codec_decode.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"
#include "support/simd_levels.h"

namespace {

using namespace wemb_test;

struct Layout {
    WORD bitCount;
    bool topDown;
};

struct Picture {
    LRESULT status;
    std::vector<uint8_t> pixels;
};

// One ICM_DECOMPRESS into a buffer of the layout, filled with kUntouched.
Picture Decode(const std::vector<uint8_t>& frame, int32_t width, int32_t height, Layout layout) {
    BITMAPINFOHEADER input = WembFormat(width, height);
    input.biSizeImage = static_cast<DWORD>(frame.size());
    BITMAPINFOHEADER output = input;
    output.biCompression = BI_RGB;
    output.biBitCount = layout.bitCount;
    output.biHeight = layout.topDown ? -height : height;
    output.biSizeImage = 0;
    const size_t step = static_cast<size_t>(RowStep(width, layout.bitCount));
    Picture picture;
    picture.pixels.assign(step * height, kUntouched);
    ICDECOMPRESS job = {};
    job.lpbiInput = &input;
    job.lpInput = const_cast<uint8_t*>(frame.data());
    job.lpbiOutput = &output;
    job.lpOutput = picture.pixels.data();
    picture.status = DriverProc(1, nullptr, ICM_DECOMPRESS, reinterpret_cast<LPARAM>(&job), sizeof(job));
    return picture;
}

// Where the layout disagrees with the offered picture, or an empty string.
std::string Compare(const Picture& offered, const Picture& other, int32_t width, int32_t height, Layout layout) {
    const size_t offeredStep = RowStep(width, 24), step = RowStep(width, layout.bitCount);
    const size_t pixelBytes = layout.bitCount / 8;
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* want = offered.pixels.data() + (height - 1 - y) * offeredStep;
        const uint8_t* got = other.pixels.data() + (layout.topDown ? y : height - 1 - y) * step;
        for (size_t x = 0; x < static_cast<size_t>(width); ++x) {
            for (size_t c = 0; c < pixelBytes; ++c) {
                const uint8_t expected = c < 3 ? want[3 * x + c] : 255;
                if (got[pixelBytes * x + c] != expected) {
                    return "row " + std::to_string(y) + ", pixel " + std::to_string(x) + ", byte " +
                           std::to_string(c);
                }
            }
        }
        for (size_t pad = pixelBytes * width; pad < step; ++pad) {
            if (got[pad] != kUntouched) return "padding of row " + std::to_string(y);
        }
    }
    return std::string();
}

TEST(OutputLayouts, EveryLayoutHoldsTheOfferedPicture) {
    const Layout layouts[] = {{32, false}, {24, true}, {32, true}};
    ForEachSimdLevel([&] {
        for (const std::string& name : ListTestdata()) {
            const std::vector<uint8_t> bytes = Testdata(name);
            int32_t width = 0, height = 0;
            ASSERT_TRUE(ProbeJpegSize(bytes.data(), bytes.size(), &width, &height)) << name;
            const Picture offered = Decode(bytes, width, height, {24, false});
            for (const Layout& layout : layouts) {
                SCOPED_TRACE(testing::Message() << name << ", " << layout.bitCount << " bits"
                                                << (layout.topDown ? ", top-down" : ""));
                const Picture other = Decode(bytes, width, height, layout);
                ASSERT_EQ(other.status, offered.status);
                // A frame without a conversion to B, G, R writes nothing.
                const bool written = offered.pixels != std::vector<uint8_t>(offered.pixels.size(), kUntouched);
                if (offered.status == ICERR_OK && written) {
                    EXPECT_EQ(Compare(offered, other, width, height, layout), "");
                }
            }
        }
    });
}

}  // namespace
