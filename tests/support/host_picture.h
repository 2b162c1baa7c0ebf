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
    const uint32_t image = static_cast<uint32_t>(rows.size());
    std::vector<uint8_t> bmp = {'B', 'M'};
    // bfSize, reserved, bfOffBits; biSize, size, biPlanes | biBitCount << 16,
    // BI_RGB, biSizeImage, resolution and palette.
    for (uint32_t field : {54 + image, 0u, 54u, 40u, uint32_t(width), uint32_t(height), 1u | 24u << 16, 0u, image,
                           0u, 0u, 0u, 0u}) {
        for (int i = 0; i < 4; ++i) bmp.push_back(static_cast<uint8_t>(field >> (8 * i)));
    }
    bmp.insert(bmp.end(), rows.begin(), rows.end());
    return bmp;
}

}  // namespace wemb_test
