// Format negotiation and the argument checks of ICM_DECOMPRESS. The decoded
// pictures themselves are compared with libjpeg's in tests/jpeg.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/driver.h"
#include "support/bitmap_header.h"
#include "support/libjpeg_reference.h"

namespace {

const DWORD kWemb = mmioFOURCC('w', 'e', 'm', 'b');

LRESULT Send(UINT message, const void* lParam1, const void* lParam2) {
    return DriverProc(1, nullptr, message, reinterpret_cast<LPARAM>(lParam1),
                      reinterpret_cast<LPARAM>(lParam2));
}

LRESULT Query(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) {
    return Send(ICM_DECOMPRESS_QUERY, input, output);
}

LRESULT GetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output) {
    return Send(ICM_DECOMPRESS_GET_FORMAT, input, output);
}

TEST(DecompressQuery, AcceptsWembInputAndSameSize24BitBottomUpOutput) {
    const BITMAPINFOHEADER input = BitmapHeader(640, 480, kWemb);
    EXPECT_EQ(Query(nullptr, nullptr), ICERR_ERROR);
    EXPECT_EQ(Query(&input, nullptr), ICERR_OK);
    BITMAPINFOHEADER output = BitmapHeader(640, 480, BI_RGB);
    EXPECT_EQ(Query(&input, &output), ICERR_OK);
    // Fields the query does not look at.
    output.biPlanes = 7;
    output.biSize = 12;
    output.biSizeImage = 1;
    BITMAPINFOHEADER noDepth = input;
    noDepth.biBitCount = 0;
    EXPECT_EQ(Query(&noDepth, &output), ICERR_OK);

    const struct {
        const char* what;
        BITMAPINFOHEADER output;
    } refused[] = {
        {"32-bit", BitmapHeader(640, 480, BI_RGB, 32)},
        {"BI_BITFIELDS", BitmapHeader(640, 480, 3)},
        {"top-down", BitmapHeader(640, -480, BI_RGB)},
        {"narrower", BitmapHeader(639, 480, BI_RGB)},
        {"shorter", BitmapHeader(640, 479, BI_RGB)},
    };
    for (const auto& bad : refused) EXPECT_EQ(Query(&input, &bad.output), ICERR_BADFORMAT) << bad.what;
}

TEST(DecompressGetFormat, ReportsItsSizeThenOffersSameSize24BitRgb) {
    const BITMAPINFOHEADER tiny = BitmapHeader(1, 2, kWemb, 12);
    EXPECT_EQ(GetFormat(&tiny, nullptr), 40);
    // Rows are padded to a multiple of 4 bytes: 641 pixels take 1923 bytes,
    // 1924 with the padding. 65535 x 21845 is the largest picture below
    // 4 GiB: 196608 bytes per row.
    struct Case {
        LONG width, height;
        DWORD sizeImage;
    };
    for (Case c : {Case{1, 2, 8}, Case{4, 2, 24}, Case{641, 3, 1924 * 3}, Case{65535, 21845, 196608u * 21845}}) {
        // Neither the input's compression nor its depth is examined.
        const BITMAPINFOHEADER input = BitmapHeader(c.width, c.height, mmioFOURCC('x', 'y', 'z', 'w'), 12);
        BITMAPINFOHEADER expected = BitmapHeader(c.width, c.height, BI_RGB, 24);
        expected.biSizeImage = c.sizeImage;
        BITMAPINFOHEADER output;
        std::memset(&output, 0xEE, sizeof(output));
        EXPECT_EQ(GetFormat(&input, &output), ICERR_OK);
        EXPECT_EQ(std::memcmp(&output, &expected, sizeof(output)), 0)
            << c.width << " x " << c.height << ": biSizeImage " << output.biSizeImage;
    }
    // The host may pass one header as both input and output.
    BITMAPINFOHEADER both = BitmapHeader(5, 3, kWemb);
    EXPECT_EQ(GetFormat(&both, &both), ICERR_OK);
    EXPECT_EQ(both.biWidth, 5);
    EXPECT_EQ(both.biSizeImage, 16u * 3);
}

TEST(DecompressFormats, InputsThatCannotBeDecodedAreRefused) {
    BITMAPINFOHEADER output, untouched;
    std::memset(&output, 0xEE, sizeof(output));
    std::memcpy(&untouched, &output, sizeof(output));
    EXPECT_EQ(GetFormat(nullptr, &output), ICERR_BADFORMAT);
    // No top-down or empty compressed bitmap, and no picture of 4 GiB or more.
    for (auto size : {std::pair<LONG, LONG>{640, -480}, {0, 480}, {-640, 480}, {640, 0}, {65535, 21846}}) {
        const BITMAPINFOHEADER input = BitmapHeader(size.first, size.second, kWemb);
        EXPECT_EQ(GetFormat(&input, &output), ICERR_BADFORMAT) << size.first << " x " << size.second;
        EXPECT_EQ(Query(&input, nullptr), ICERR_BADFORMAT) << size.first << " x " << size.second;
    }
    EXPECT_EQ(std::memcmp(&output, &untouched, sizeof(output)), 0) << "a refusal writes nothing";
    // The query alone checks the compression, which must be exactly `wemb`.
    for (DWORD fourcc : {mmioFOURCC('W', 'E', 'M', 'B'), mmioFOURCC('M', 'J', 'P', 'G'), DWORD(BI_RGB)}) {
        const BITMAPINFOHEADER input = BitmapHeader(640, 480, fourcc);
        EXPECT_EQ(Query(&input, nullptr), ICERR_BADFORMAT) << std::hex << fourcc;
    }
}

// The frame is a real one, so a missing pointer is refused on its own
// account rather than by a failing decode.
TEST(DecompressFrame, RefusesMissingPointersAndBytesThatHoldNoJpegStream) {
    std::vector<uint8_t> grey(16);
    for (int i = 0; i < 16; ++i) grey[i] = static_cast<uint8_t>(40 * (i % 4) + i / 4);
    std::vector<uint8_t> frame = testing_support::LibjpegCompress(grey, 4, 4, 1, 90, false);
    std::vector<uint8_t> pixels(4 * 3 * 4, 0x33);
    BITMAPINFOHEADER input = BitmapHeader(4, 4, kWemb);
    input.biSizeImage = static_cast<DWORD>(frame.size());
    ICDECOMPRESS job = {};
    job.lpbiInput = &input;
    job.lpInput = frame.data();
    job.lpOutput = pixels.data();
    const std::vector<uint8_t> zeros(frame.size(), 0);
    ICDECOMPRESS noFormat = job, noFrame = job, noPixels = job, noJpeg = job;
    noFormat.lpbiInput = nullptr;
    noFrame.lpInput = nullptr;
    noPixels.lpOutput = nullptr;
    noJpeg.lpInput = const_cast<uint8_t*>(zeros.data());
    const auto decompress = [](const ICDECOMPRESS* request) {
        return Send(ICM_DECOMPRESS, request, reinterpret_cast<void*>(sizeof(*request)));
    };
    for (const ICDECOMPRESS* bad : {static_cast<ICDECOMPRESS*>(nullptr), &noFormat, &noFrame, &noPixels, &noJpeg}) {
        EXPECT_EQ(decompress(bad), ICERR_BADFORMAT);
    }
    EXPECT_EQ(pixels, std::vector<uint8_t>(pixels.size(), 0x33));
    EXPECT_EQ(decompress(&job), ICERR_OK) << "the frame itself decodes";
}

}  // namespace
