// Writes a decoded picture as a 24-bit BMP file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes `pixels` to `path` as a BMP file: the 14-byte BITMAPFILEHEADER, a
// 40-byte BITMAPINFOHEADER (24 bits, BI_RGB, positive height) and the rows as
// given: `height` rows, bottom row first, each width x 3 bytes of blue, green,
// red padded to a multiple of 4 bytes, exactly as the codec returns them.
// `pixelBytes` must hold at least that many bytes. False, with a message, for
// a non-positive size, too few pixel bytes, a picture too large for the
// format's 32-bit sizes, or an I/O failure.
bool WriteBmp24(const std::string& path, int32_t width, int32_t height, const uint8_t* pixels,
                size_t pixelBytes, std::string* error);
