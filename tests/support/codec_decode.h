// Decoding a whole frame the way a host does: through DriverProc, into a
// bottom-up 24-bit buffer that starts out filled with a known byte.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/driver.h"
#include "platform/vfw.h"
#include "tools/codec_session.h"
#include "tools/jpeg_probe.h"

namespace wemb_test {

constexpr uint8_t kUntouched = 0x5A;

struct CodecResult {
    LRESULT status = ICERR_ERROR;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // RowStep24(width) x height bytes

    bool Untouched() const {
        for (uint8_t byte : pixels) {
            if (byte != kUntouched) return false;
        }
        return true;
    }
};

// Sends one ICM_DECOMPRESS for `bytes` with an input format of the size the
// frame header gives (or of `width` x `height` when those are positive).
inline CodecResult DecodeWithCodec(const std::vector<uint8_t>& bytes, int32_t width = 0,
                                   int32_t height = 0) {
    CodecResult result;
    if (width <= 0 || height <= 0) {
        if (!ProbeJpegSize(bytes.data(), bytes.size(), &width, &height)) {
            width = 16;  // no header: any format will do, the codec refuses the frame
            height = 16;
        }
    }
    result.width = width;
    result.height = height;
    BITMAPINFOHEADER input = WembFormat(width, height);
    input.biSizeImage = static_cast<DWORD>(bytes.size());
    const DWORD step = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    result.pixels.assign(static_cast<size_t>(step) * height, kUntouched);
    ICDECOMPRESS job = {};
    job.lpbiInput = &input;
    // A frame of no bytes still needs a readable address.
    static const uint8_t kNothing = 0;
    job.lpInput = const_cast<uint8_t*>(bytes.empty() ? &kNothing : bytes.data());
    job.lpOutput = result.pixels.data();
    result.status = DriverProc(1, nullptr, ICM_DECOMPRESS, reinterpret_cast<LPARAM>(&job),
                               sizeof(job));
    return result;
}

}  // namespace wemb_test
