// A 24-bit BMP file laid out by hand from the BMP format, for checking what
// the host writes: BITMAPFILEHEADER, BITMAPINFOHEADER (BI_RGB, no
// resolution, no palette), then the rows as given.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace wemb_test {

inline std::vector<uint8_t> Bmp24File(int32_t width, int32_t height, const std::vector<uint8_t>& rows) {
    std::vector<uint8_t> bmp(54 + rows.size(), 0);
    auto put32 = [&](size_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bmp[at + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    const uint32_t image = static_cast<uint32_t>(rows.size());
    bmp[0] = 'B', bmp[1] = 'M';
    put32(2, 54 + image);  // bfSize
    put32(10, 54);         // bfOffBits
    put32(14, 40);         // biSize
    put32(18, static_cast<uint32_t>(width));
    put32(22, static_cast<uint32_t>(height));
    bmp[26] = 1;           // biPlanes
    bmp[28] = 24;          // biBitCount
    put32(34, image);      // biSizeImage
    std::copy(rows.begin(), rows.end(), bmp.begin() + 54);
    return bmp;
}

}  // namespace wemb_test
