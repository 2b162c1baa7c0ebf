// Reads a JPEG stream's frame header without decoding anything, so that the
// host can describe a bare JPEG file with a format of its own size and tell
// a progressive frame from a sequential one before it sets memory aside.
#pragma once

#include <cstddef>
#include <cstdint>

struct JpegFrameHeader {
    uint8_t marker = 0;      // the SOFn marker code: 0xC0, 0xC1, 0xC2, ...
    int32_t width = 0;       // X
    int32_t height = 0;      // Y
    int32_t components = 0;  // Nf; 0 when the stream ends before it
};

// Walks the marker segments up to the first SOFn and reports its fields.
// False when no frame header is found within the bytes.
bool ProbeJpegFrame(const uint8_t* data, size_t size, JpegFrameHeader* header);

// The same, reporting X and Y only.
bool ProbeJpegSize(const uint8_t* data, size_t size, int32_t* width, int32_t* height);
