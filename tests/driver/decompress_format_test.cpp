#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "driver/driver.h"

namespace {

template <typename T>
LPARAM Arg(T* pointer) {
    return reinterpret_cast<LPARAM>(pointer);
}

BITMAPINFOHEADER Header(LONG width, LONG height, DWORD compression, WORD bitCount) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = bitCount;
    header.biCompression = compression;
    return header;
}

const DWORD kWemb = mmioFOURCC('w', 'e', 'm', 'b');

LRESULT Query(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) {
    return DriverProc(1, nullptr, ICM_DECOMPRESS_QUERY, Arg(input), Arg(output));
}

TEST(DecompressQuery, AcceptsOnlyWembInputAndSameSize24BitOutput) {
    BITMAPINFOHEADER input = Header(640, 480, kWemb, 24);
    EXPECT_EQ(Query(nullptr, nullptr), ICERR_ERROR);
    EXPECT_EQ(Query(&input, nullptr), ICERR_OK);

    BITMAPINFOHEADER output = Header(640, 480, 0 /* BI_RGB */, 24);
    EXPECT_EQ(Query(&input, &output), ICERR_OK);

    // Fields the query does not look at.
    BITMAPINFOHEADER relaxed = output;
    relaxed.biPlanes = 7;
    relaxed.biSize = 12;
    relaxed.biSizeImage = 1;
    EXPECT_EQ(Query(&input, &relaxed), ICERR_OK);
    BITMAPINFOHEADER oddInput = input;
    oddInput.biBitCount = 0;
    EXPECT_EQ(Query(&oddInput, &output), ICERR_OK);

    struct Bad {
        const char* what;
        BITMAPINFOHEADER output;
    };
    const Bad bad[] = {
        {"32-bit", Header(640, 480, 0, 32)},
        {"BI_BITFIELDS", Header(640, 480, 3, 24)},
        {"top-down", Header(640, -480, 0, 24)},
        {"narrower", Header(639, 480, 0, 24)},
        {"shorter", Header(640, 479, 0, 24)},
    };
    for (const Bad& b : bad) {
        EXPECT_EQ(Query(&input, &b.output), ICERR_BADFORMAT) << b.what;
    }
}

TEST(DecompressQuery, CompressionMustBeExactlyWemb) {
    for (DWORD fourcc : {mmioFOURCC('W', 'E', 'M', 'B'), mmioFOURCC('M', 'J', 'P', 'G'), DWORD(0)}) {
        BITMAPINFOHEADER input = Header(640, 480, fourcc, 24);
        EXPECT_EQ(Query(&input, nullptr), ICERR_BADFORMAT);
    }
}

TEST(DecompressGetFormat, ReportsItsSizeThenWritesTheWholeHeader) {
    BITMAPINFOHEADER input = Header(1, 2, kWemb, 12);
    EXPECT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS_GET_FORMAT, Arg(&input), 0), 40);

    struct Case {
        LONG width, height;
        DWORD sizeImage;
    };
    for (Case c : {Case{1, 2, 8}, Case{4, 2, 24}, Case{641, 3, 1924 * 3}, Case{65535, 21845, 196608u * 21845}}) {
        input = Header(c.width, c.height, mmioFOURCC('x', 'y', 'z', 'w'), 12);  // not validated
        BITMAPINFOHEADER output;
        std::memset(&output, 0xEE, sizeof(output));
        EXPECT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS_GET_FORMAT, Arg(&input), Arg(&output)), ICERR_OK);
        EXPECT_EQ(output.biSize, 40u);
        EXPECT_EQ(output.biWidth, c.width);
        EXPECT_EQ(output.biHeight, c.height);
        EXPECT_EQ(output.biPlanes, 1);
        EXPECT_EQ(output.biBitCount, 24);
        EXPECT_EQ(output.biCompression, 0u);
        EXPECT_EQ(output.biSizeImage, c.sizeImage) << c.width << "x" << c.height;
        EXPECT_EQ(output.biXPelsPerMeter, 0);
        EXPECT_EQ(output.biYPelsPerMeter, 0);
        EXPECT_EQ(output.biClrUsed, 0u);
        EXPECT_EQ(output.biClrImportant, 0u);
    }
}

TEST(DecompressGetFormat, InputAndOutputMayBeTheSameHeader) {
    BITMAPINFOHEADER both = Header(5, 3, kWemb, 24);
    EXPECT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS_GET_FORMAT, Arg(&both), Arg(&both)), ICERR_OK);
    EXPECT_EQ(both.biWidth, 5);
    EXPECT_EQ(both.biSizeImage, 16u * 3);
}

TEST(DecompressGetFormat, InputsThatCannotBeDecodedAreRefused) {
    BITMAPINFOHEADER output = {};
    EXPECT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS_GET_FORMAT, 0, Arg(&output)), ICERR_BADFORMAT);
    // No top-down or empty compressed bitmap, and no picture of 4 GiB or more.
    for (auto size : {std::pair<LONG, LONG>{640, -480}, {0, 480}, {-640, 480}, {640, 0}, {65535, 21846}}) {
        BITMAPINFOHEADER input = Header(size.first, size.second, kWemb, 24);
        std::memset(&output, 0xEE, sizeof(output));
        EXPECT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS_GET_FORMAT, Arg(&input), Arg(&output)), ICERR_BADFORMAT);
        EXPECT_EQ(output.biSize, 0xEEEEEEEEu) << "nothing written";
        EXPECT_EQ(Query(&input, nullptr), ICERR_BADFORMAT) << size.first << " x " << size.second;
    }
}

TEST(DecompressFrame, MissingPointersAreRefusedWithBadFormat) {
    std::vector<uint8_t> frame(16, 0);
    std::vector<uint8_t> pixels(64, 0x33);
    BITMAPINFOHEADER input = Header(4, 4, kWemb, 24);
    input.biSizeImage = 16;
    ICDECOMPRESS job = {};
    job.lpbiInput = &input;
    job.lpInput = frame.data();
    job.lpOutput = pixels.data();
    EXPECT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS, 0, sizeof(job)), ICERR_BADFORMAT);
    ICDECOMPRESS missing = job;
    missing.lpbiInput = nullptr;
    EXPECT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS, Arg(&missing), sizeof(job)), ICERR_BADFORMAT);
    missing = job;
    missing.lpInput = nullptr;
    EXPECT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS, Arg(&missing), sizeof(job)), ICERR_BADFORMAT);
    missing = job;
    missing.lpOutput = nullptr;
    EXPECT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS, Arg(&missing), sizeof(job)), ICERR_BADFORMAT);
    // Bytes that hold no JPEG stream.
    EXPECT_EQ(DriverProc(1, nullptr, ICM_DECOMPRESS, Arg(&job), sizeof(job)), ICERR_BADFORMAT);
    EXPECT_EQ(pixels, std::vector<uint8_t>(64, 0x33));
}

}  // namespace
