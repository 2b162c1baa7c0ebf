// Writes a decoded picture as a PNG file, through libpng.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Writes the picture whose top row is at `topRow` to `path` as an 8-bit RGB
// PNG file: `height` rows of `width` pixels of 3 bytes, blue, green, red,
// each row `step` bytes after the one above it (negative when the buffer
// holds the rows bottom-up). libpng reorders the bytes to red, green, blue
// as it copies each row for filtering, so the picture is read once. False,
// with a message, for a non-positive size or an I/O failure, after which no
// file is left at `path`.
bool WritePng(const std::string& path, int32_t width, int32_t height, const uint8_t* topRow, ptrdiff_t step,
              std::string* error);
