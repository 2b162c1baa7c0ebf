#include "tools/jpeg_probe.h"

namespace {

bool IsFrameHeader(uint8_t marker) {
    // SOF0..SOF15 except DHT (C4), JPG (C8) and DAC (CC).
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

bool StandsAlone(uint8_t marker) {
    return marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7);
}

}  // namespace

bool ProbeJpegFrame(const uint8_t* data, size_t size, JpegFrameHeader* header) {
    size_t pos = 0;
    while (pos + 1 < size) {
        if (data[pos] != 0xFF) {
            ++pos;  // not a segment boundary; look further
            continue;
        }
        const uint8_t marker = data[pos + 1];
        if (marker == 0xFF || marker == 0x00) {
            ++pos;
            continue;
        }
        pos += 2;
        if (StandsAlone(marker)) continue;
        if (marker == 0xD9 || pos + 2 > size) return false;
        const size_t length = (size_t(data[pos]) << 8) | data[pos + 1];
        if (IsFrameHeader(marker)) {
            // Lf, P, Y, X, then Nf when the bytes hold it.
            if (length < 7 || pos + 7 > size) return false;
            header->marker = marker;
            header->height = (data[pos + 3] << 8) | data[pos + 4];
            header->width = (data[pos + 5] << 8) | data[pos + 6];
            header->components = length >= 8 && pos + 8 <= size ? data[pos + 7] : 0;
            return true;
        }
        if (length < 2) return false;
        pos += length;
    }
    return false;
}

bool ProbeJpegSize(const uint8_t* data, size_t size, int32_t* width, int32_t* height) {
    JpegFrameHeader header;
    if (!ProbeJpegFrame(data, size, &header)) return false;
    *width = header.width;
    *height = header.height;
    return true;
}
