// Format negotiation and the argument checks of ICM_DECOMPRESS. The decoded
// pictures themselves are compared with libjpeg's in tests/jpeg.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/driver.h"
#include "support/bitmap_header.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"

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

TEST(DecompressQuery, AcceptsWembInputAloneOrWithTheOutputItWrites) {
    const BITMAPINFOHEADER input = BitmapHeader(640, 480, kWemb);
    EXPECT_EQ(Query(nullptr, nullptr), ICERR_ERROR);
    EXPECT_EQ(Send(ICM_DECOMPRESS_BEGIN, nullptr, nullptr), ICERR_ERROR);
    EXPECT_EQ(Query(&input, nullptr), ICERR_OK);
    BITMAPINFOHEADER output = BitmapHeader(640, 480, BI_RGB);
    // Fields the query does not look at.
    output.biPlanes = 7;
    output.biSize = 12;
    BITMAPINFOHEADER noDepth = input;
    noDepth.biBitCount = 0;
    EXPECT_EQ(Query(&noDepth, &output), ICERR_OK);
}

// A host may send BEGIN and DECOMPRESS without a query. All three messages
// accept the same outputs, and DECOMPRESS writes nothing into a buffer whose
// header it refuses: each buffer below is exactly as large as its header
// promises, so that AddressSanitizer sees any byte written beyond it.
TEST(DecompressFormats, QueryBeginAndDecompressRefuseTheSameOutputsAndWriteNothing) {
    const std::vector<uint8_t> frame = wemb_test::Testdata("ycc420_33x17_q85.jpg");
    BITMAPINFOHEADER input = BitmapHeader(33, 17, kWemb);
    input.biSizeImage = static_cast<DWORD>(frame.size());
    const DWORD rowBytes24 = 100;  // 33 x 3 rounded up to 4
    const auto sized = [](BITMAPINFOHEADER header, DWORD sizeImage) {
        header.biSizeImage = sizeImage;
        return header;
    };
    const struct {
        const char* what;
        BITMAPINFOHEADER output;
        LRESULT answer;
    } cases[] = {
        {"24-bit, no size", BitmapHeader(33, 17, BI_RGB), ICERR_OK},
        {"24-bit, exact size", sized(BitmapHeader(33, 17, BI_RGB), rowBytes24 * 17), ICERR_OK},
        {"24-bit, larger buffer", sized(BitmapHeader(33, 17, BI_RGB), rowBytes24 * 17 + 5), ICERR_OK},
        {"24-bit, one byte short", sized(BitmapHeader(33, 17, BI_RGB), rowBytes24 * 17 - 1), ICERR_BADFORMAT},
        {"32-bit", BitmapHeader(33, 17, BI_RGB, 32), ICERR_OK},
        {"32-bit, exact size", sized(BitmapHeader(33, 17, BI_RGB, 32), 33 * 4 * 17), ICERR_OK},
        {"32-bit, one byte short", sized(BitmapHeader(33, 17, BI_RGB, 32), 33 * 4 * 17 - 1), ICERR_BADFORMAT},
        {"24-bit top-down", BitmapHeader(33, -17, BI_RGB), ICERR_OK},
        {"32-bit top-down", BitmapHeader(33, -17, BI_RGB, 32), ICERR_OK},
        {"top-down, one byte short", sized(BitmapHeader(33, -17, BI_RGB), rowBytes24 * 17 - 1), ICERR_BADFORMAT},
        {"top-down, shorter", BitmapHeader(33, -16, BI_RGB), ICERR_BADFORMAT},
        {"16-bit", BitmapHeader(33, 17, BI_RGB, 16), ICERR_BADFORMAT},
        {"8-bit", BitmapHeader(33, 17, BI_RGB, 8), ICERR_BADFORMAT},
        {"1-bit", BitmapHeader(33, 17, BI_RGB, 1), ICERR_BADFORMAT},
        {"BI_BITFIELDS 16", BitmapHeader(33, 17, 3, 16), ICERR_BADFORMAT},
        {"BI_BITFIELDS 32", BitmapHeader(33, 17, 3, 32), ICERR_BADFORMAT},
        {"48-bit", BitmapHeader(33, 17, BI_RGB, 48), ICERR_BADFORMAT},
        {"wemb", BitmapHeader(33, 17, kWemb), ICERR_BADFORMAT},
        {"narrower", BitmapHeader(32, 17, BI_RGB), ICERR_BADFORMAT},
        {"wider", BitmapHeader(34, 17, BI_RGB), ICERR_BADFORMAT},
        {"shorter", BitmapHeader(33, 16, BI_RGB), ICERR_BADFORMAT},
        {"taller", BitmapHeader(33, 18, BI_RGB), ICERR_BADFORMAT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Query(&input, &c.output), c.answer);
        EXPECT_EQ(Send(ICM_DECOMPRESS_BEGIN, &input, &c.output), c.answer);
        const LONG rows = c.output.biHeight < 0 ? -c.output.biHeight : c.output.biHeight;
        const DWORD promised = c.output.biSizeImage != 0
                                   ? c.output.biSizeImage
                                   : static_cast<DWORD>(RowStep(c.output.biWidth, c.output.biBitCount) * rows);
        std::vector<uint8_t> pixels(promised, 0x33);
        ICDECOMPRESS job = {};
        job.lpbiInput = &input;
        job.lpInput = const_cast<uint8_t*>(frame.data());
        BITMAPINFOHEADER output = c.output;
        job.lpbiOutput = &output;
        job.lpOutput = pixels.data();
        EXPECT_EQ(Send(ICM_DECOMPRESS, &job, reinterpret_cast<void*>(sizeof(job))), c.answer);
        if (c.answer != ICERR_OK) {
            EXPECT_EQ(pixels, std::vector<uint8_t>(promised, 0x33)) << "a refused frame writes nothing";
        }
        EXPECT_EQ(Send(ICM_DECOMPRESS_END, nullptr, nullptr), ICERR_OK);
    }
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
    // No top-down or empty compressed bitmap, no side longer than a JPEG
    // frame's, and no picture of 4 GiB or more. 1431655766 is the first width
    // whose 24-bit row step would wrap in 32 bits (to 4 bytes).
    for (auto size : {std::pair<LONG, LONG>{640, -480}, {0, 480}, {-640, 480}, {640, 0}, {65535, 21846},
                      {65536, 1}, {1, 65536}, {1431655765, 1000}, {1431655766, 1000}, {0x7FFFFFFF, 1}}) {
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
    std::vector<uint8_t> frame = wemb_test::LibjpegCompress(grey, 4, 4, 1, 90, false);
    std::vector<uint8_t> pixels(4 * 3 * 4, 0x33);
    BITMAPINFOHEADER input = BitmapHeader(4, 4, kWemb);
    input.biSizeImage = static_cast<DWORD>(frame.size());
    ICDECOMPRESS job = {};
    BITMAPINFOHEADER output = BitmapHeader(4, 4, BI_RGB);
    job.lpbiInput = &input;
    job.lpInput = frame.data();
    job.lpbiOutput = &output;
    job.lpOutput = pixels.data();
    const std::vector<uint8_t> zeros(frame.size(), 0);
    ICDECOMPRESS noFormat = job, noOutputFormat = job, noFrame = job, noPixels = job, noJpeg = job;
    noFormat.lpbiInput = nullptr;
    noOutputFormat.lpbiOutput = nullptr;
    noFrame.lpInput = nullptr;
    noPixels.lpOutput = nullptr;
    noJpeg.lpInput = const_cast<uint8_t*>(zeros.data());
    const auto decompress = [](const ICDECOMPRESS* request) {
        return Send(ICM_DECOMPRESS, request, reinterpret_cast<void*>(sizeof(*request)));
    };
    for (const ICDECOMPRESS* bad : {static_cast<ICDECOMPRESS*>(nullptr), &noFormat, &noOutputFormat, &noFrame, &noPixels, &noJpeg}) {
        EXPECT_EQ(decompress(bad), ICERR_BADFORMAT);
    }
    EXPECT_EQ(pixels, std::vector<uint8_t>(pixels.size(), 0x33));
    EXPECT_EQ(decompress(&job), ICERR_OK) << "the frame itself decodes";
}

}  // namespace
