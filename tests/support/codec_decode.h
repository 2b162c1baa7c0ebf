// Decoding a whole frame the way a host does, through DriverProc into a
// bottom-up 24-bit buffer, or through the decoder itself into a destination
// of any colour model. Both buffers start out filled with a known byte.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "driver/driver.h"
#include "jpeg/decoder.h"
#include "platform/vfw.h"
#include "tools/codec_session.h"
#include "tools/jpeg_probe.h"

namespace wemb_test {

// While it lives, every frame decoded on a driver instance with threads is
// shared between them whatever its size, and a sequential frame's ahead
// thread starts `aheadPercent` percent into the data (0: as the decoder
// decides); the decoder's defaults come back after.
class ScopedFrameSharing {
public:
    explicit ScopedFrameSharing(int32_t aheadPercent = 0) {
        CJPEGDecoder::ShareFramesFrom(0);
        CJPEGDecoder::DecodeAheadFrom(aheadPercent);
    }
    ~ScopedFrameSharing() {
        CJPEGDecoder::ShareFramesFrom(CJPEGDecoder::kSharedFramePixels);
        CJPEGDecoder::DecodeAheadFrom(0);
    }
    ScopedFrameSharing(const ScopedFrameSharing&) = delete;
    ScopedFrameSharing& operator=(const ScopedFrameSharing&) = delete;
};

constexpr uint8_t kUntouched = 0x5A;

struct CodecResult {
    LRESULT status = ICERR_ERROR;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // RowStep24(width) x height bytes

    bool Untouched() const {
        return std::all_of(pixels.begin(), pixels.end(), [](uint8_t byte) { return byte == kUntouched; });
    }
};

// Sends one ICM_DECOMPRESS with `flags` for `bytes` with an input format of
// the size the frame header gives (or of `width` x `height` when positive),
// to the instance `driverId` (1 names none: the frame is decoded on the
// calling thread alone).
inline CodecResult DecodeWithCodec(const std::vector<uint8_t>& bytes, int32_t width = 0,
                                   int32_t height = 0, DWORD flags = 0, DWORD_PTR driverId = 1) {
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
    BITMAPINFOHEADER output = input;
    output.biCompression = BI_RGB;
    output.biBitCount = 24;
    output.biSizeImage = static_cast<DWORD>(result.pixels.size());
    ICDECOMPRESS job = {};
    job.dwFlags = flags;
    job.lpbiInput = &input;
    job.lpbiOutput = &output;
    // A frame of no bytes still needs a readable address.
    static const uint8_t kNothing = 0;
    job.lpInput = const_cast<uint8_t*>(bytes.empty() ? &kNothing : bytes.data());
    job.lpOutput = result.pixels.data();
    result.status = DriverProc(driverId, nullptr, ICM_DECOMPRESS, reinterpret_cast<LPARAM>(&job),
                               sizeof(job));
    return result;
}

struct DecoderResult {
    DecoderStatus status = DecErrFailed;
    int32_t width = 0, height = 0, step = 0;
    std::vector<uint8_t> pixels;  // top-down rows of `step` bytes
};

// Runs CJPEGDecoder into a destination of `model` with `bytesPerPixel` bytes
// per pixel and rows padded by 4 bytes. A frame above 2 megapixels (as
// damaged headers declare) is not decoded but failed.
inline DecoderResult DecodeWithDecoder(const std::vector<uint8_t>& bytes, int32_t model, int32_t bytesPerPixel) {
    DecoderResult out;
    CJPEGDecoder decoder;
    decoder.AttachInput(bytes.data(), static_cast<int32_t>(bytes.size()));
    int32_t components, colorModel, sampling;
    out.status = decoder.ParseHeaders(&out.width, &out.height, &components, &colorModel, &sampling);
    if (out.status != DecOk) return out;
    if (int64_t{out.width} * out.height > 2 << 20) return DecoderResult();
    out.step = out.width * bytesPerPixel + 4;
    out.pixels.assign(static_cast<size_t>(out.step) * out.height, kUntouched);
    decoder.AttachOutput(out.pixels.data(), out.width, out.step, out.height, bytesPerPixel, model);
    out.status = decoder.DecodeImage();
    return out;
}

}  // namespace wemb_test
