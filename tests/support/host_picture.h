// What the host should make of a frame, derived independently of the host's
// code: the codec's own picture through DriverProc, and the BMP file that
// holds it, laid out by hand from the BMP format.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "support/codec_decode.h"

namespace wemb_test {

// The codec's picture of a JPEG frame as the host holds it: the codec leaves
// the row padding alone, and the host's buffer starts out zeroed.
inline CodecResult HostPicture(const std::vector<uint8_t>& jpeg) {
    CodecResult decoded = DecodeWithCodec(jpeg);
    const size_t rowBytes = static_cast<size_t>(decoded.width) * 3, step = (rowBytes + 3) & ~size_t(3);
    for (size_t at = 0; at < decoded.pixels.size(); ++at) {
        if (at % step >= rowBytes) decoded.pixels[at] = 0;
    }
    return decoded;
}

// A 24-bit BMP file: BITMAPFILEHEADER, BITMAPINFOHEADER (BI_RGB, no
// resolution, no palette), then the rows as given.
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
