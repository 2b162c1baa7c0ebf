// Reads the picture size from a JPEG stream's frame header, so that the host
// can describe a bare JPEG file with a format of its own size.
#pragma once

#include <cstddef>
#include <cstdint>

// Walks the marker segments up to the first SOFn and reports X and Y.
// False when no frame header is found within the bytes.
bool ProbeJpegSize(const uint8_t* data, size_t size, int32_t* width, int32_t* height);
