#include "tools/bmp_writer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kPixelOffset = kFileHeaderSize + kInfoHeaderSize;

void PutLE16(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

void PutLE32(uint8_t* p, uint32_t value) {
    PutLE16(p, value);
    PutLE16(p + 2, value >> 16);
}

}  // namespace

bool WriteBmp24(const std::string& path, int32_t width, int32_t height, const uint8_t* pixels,
                size_t pixelBytes, std::string* error) {
    if (width <= 0 || height <= 0) {
        *error = "cannot write a " + std::to_string(width) + " x " + std::to_string(height) +
                 " picture as BMP";
        return false;
    }
    // Rows of width x 3 bytes rounded up to 4; 64-bit so that no size wraps.
    const uint64_t rowStep = (uint64_t{static_cast<uint32_t>(width)} * 3 + 3) & ~uint64_t{3};
    const uint64_t imageSize = rowStep * static_cast<uint32_t>(height);
    if (imageSize > UINT32_MAX - kPixelOffset) {
        *error = "a " + std::to_string(width) + " x " + std::to_string(height) +
                 " picture is too large for a BMP file";
        return false;
    }
    if (pixels == nullptr || pixelBytes < imageSize) {
        *error = "the picture has " + std::to_string(pixelBytes) + " bytes, fewer than the " +
                 std::to_string(imageSize) + " a BMP of its size needs";
        return false;
    }

    uint8_t headers[kPixelOffset] = {'B', 'M'};
    PutLE32(headers + 2, kPixelOffset + static_cast<uint32_t>(imageSize));  // bfSize
    PutLE32(headers + 10, kPixelOffset);                                    // bfOffBits
    uint8_t* info = headers + kFileHeaderSize;
    PutLE32(info, kInfoHeaderSize);
    PutLE32(info + 4, static_cast<uint32_t>(width));
    PutLE32(info + 8, static_cast<uint32_t>(height));
    PutLE16(info + 12, 1);   // biPlanes
    PutLE16(info + 14, 24);  // biBitCount; biCompression BI_RGB stays 0
    PutLE32(info + 20, static_cast<uint32_t>(imageSize));

    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        *error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool written = std::fwrite(headers, 1, sizeof headers, file) == sizeof headers &&
                         std::fwrite(pixels, 1, imageSize, file) == imageSize;
    const int writeErrno = errno;
    if (std::fclose(file) != 0 || !written) {
        *error = "cannot write " + path + ": " + std::strerror(written ? errno : writeErrno);
        std::remove(path.c_str());
        return false;
    }
    return true;
}
