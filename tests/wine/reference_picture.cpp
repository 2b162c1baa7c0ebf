#include "reference_picture.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace vfw_host {
namespace {

constexpr size_t kFileHeaderSize = 14;  // BITMAPFILEHEADER
constexpr size_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER

uint32_t LittleEndian16(const BYTE* p) { return p[0] | static_cast<uint32_t>(p[1]) << 8; }

uint32_t LittleEndian32(const BYTE* p) { return LittleEndian16(p) | LittleEndian16(p + 2) << 16; }

std::string Describe(const char* format, long long a, long long b = 0) {
    char text[160];
    std::snprintf(text, sizeof(text), format, a, b);
    return text;
}

}  // namespace

bool LoadReferencePicture(const std::string& path, ReferencePicture* picture, std::string* error) {
    std::vector<BYTE> file;
    if (!ReadWholeFile(path, file)) {
        *error = "cannot read " + path;
        return false;
    }
    if (file.size() < kFileHeaderSize + kInfoHeaderSize || file[0] != 'B' || file[1] != 'M') {
        *error = path + " is not a BMP file";
        return false;
    }
    const BYTE* info = file.data() + kFileHeaderSize;
    const uint32_t pixelOffset = LittleEndian32(file.data() + 10);
    const uint32_t infoSize = LittleEndian32(info);
    const int32_t width = static_cast<int32_t>(LittleEndian32(info + 4));
    const int32_t height = static_cast<int32_t>(LittleEndian32(info + 8));
    const uint32_t planes = LittleEndian16(info + 12);
    const uint32_t bitCount = LittleEndian16(info + 14);
    const uint32_t compression = LittleEndian32(info + 16);
    if (infoSize < kInfoHeaderSize || planes != 1 || bitCount != 24 || compression != BI_RGB) {
        *error = path + ": not a plain 24-bit BI_RGB bitmap" +
                 Describe(" (header %lld bytes, %lld bits)", infoSize, bitCount);
        return false;
    }
    // Sizes up to 65535 keep every product below 2^32 x 3.
    if (width <= 0 || height <= 0 || width > 65535 || height > 65535) {
        *error = path + Describe(": size %lld x %lld is not a bottom-up picture", width, height);
        return false;
    }
    picture->width = width;
    picture->height = height;
    picture->rowStep = RowStep24(width);
    const size_t imageSize = picture->rowStep * static_cast<size_t>(height);
    if (pixelOffset > file.size() || file.size() - pixelOffset < imageSize) {
        *error = path + Describe(": %lld pixel bytes, fewer than the %lld its size needs",
                                 static_cast<long long>(file.size()) - pixelOffset,
                                 static_cast<long long>(imageSize));
        return false;
    }
    picture->rows.assign(file.begin() + pixelOffset, file.begin() + pixelOffset + imageSize);
    return true;
}

std::string FirstDifference(const ReferencePicture& expected, const BYTE* actual,
                            size_t actualStep) {
    static const char* const kChannels[] = {"blue", "green", "red"};
    const size_t rowBytes = static_cast<size_t>(expected.width) * 3;
    for (LONG row = 0; row < expected.height; ++row) {
        const BYTE* want = expected.rows.data() + static_cast<size_t>(row) * expected.rowStep;
        const BYTE* got = actual + static_cast<size_t>(row) * actualStep;
        if (std::memcmp(want, got, rowBytes) == 0) continue;
        size_t byte = 0;
        while (want[byte] == got[byte]) ++byte;
        char text[200];
        std::snprintf(text, sizeof(text),
                      "first difference in stored row %ld (picture row %ld from the top), "
                      "pixel %lu, %s: got %u, want %u",
                      static_cast<long>(row), static_cast<long>(expected.height - 1 - row),
                      static_cast<unsigned long>(byte / 3), kChannels[byte % 3], got[byte],
                      want[byte]);
        return text;
    }
    return std::string();
}

}  // namespace vfw_host
