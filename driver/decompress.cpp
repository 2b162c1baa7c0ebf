// Format negotiation and the per-frame decompression.
//
// The codec accepts one input format, compression `wemb` (every frame a
// complete JPEG interchange stream), and produces one output format: 24-bit
// BI_RGB of the same size, bottom-up. Each frame builds its own decoder,
// which writes the picture top row first; a final in-place mirror turns it
// into the bottom-up order a DIB with a positive height needs.
#include <cstdint>

#include "driver/driver.h"
#include "jpeg/decoder.h"
#include "platform/worker_pool.h"
#include "primitives/memory.h"

namespace {

constexpr DWORD kFormatSize = sizeof(BITMAPINFOHEADER);  // no colour table follows
constexpr WORD kOutputBitCount = 24;
constexpr int32_t kOutputChannels = 3;

// A frame no higher than one MCU row of the tallest MCU (16 rows) has too
// little work to share between threads; an instance's workers start with
// its first frame higher than that.
constexpr LONG kMaxUnsharedRows = 16;

// Whether a wemb input of this size can be decoded into a format that says
// truly how large it is. A compressed bitmap has a positive height (there is
// no top-down wemb stream), and a picture whose byte count the DWORD
// biSizeImage cannot state would let a host allocate less than the codec
// writes.
bool OutputSizeFits(LONG width, LONG height) {
    if (width <= 0 || height <= 0) return false;
    return uint64_t{RowStep(width)} * static_cast<uint64_t>(height) <= UINT32_MAX;
}

// Runs one frame through the decoder, with `workers` when not null; any
// failure is DecErr*.
DecoderStatus DecodeFrame(const ICDECOMPRESS& job, CWorkerPool* workers) {
    const BITMAPINFOHEADER& input = *job.lpbiInput;
    // Sizes are 32-bit signed inside the decoder; a frame of 2 GB or more
    // cannot be a JPEG stream the decoder can address.
    if (input.biSizeImage > static_cast<DWORD>(INT32_MAX)) {
        return DecErrFailed;
    }
    CJPEGDecoder decoder;
    DecoderStatus status = decoder.AttachInput(static_cast<const uint8_t*>(job.lpInput),
                                               static_cast<int32_t>(input.biSizeImage));
    if (status != DecOk) return status;

    int32_t width = 0, height = 0, components = 0, colorModel = 0, samplingMode = 0;
    status = decoder.ParseHeaders(&width, &height, &components, &colorModel, &samplingMode);
    if (status != DecOk) return status;
    if (width != input.biWidth || height != input.biHeight || !OutputSizeFits(width, height)) {
        return DecErrFailed;  // the stream is not the size the host negotiated
    }
    if (workers != nullptr && height > kMaxUnsharedRows) {
        workers->Start();
    }

    const int32_t step = static_cast<int32_t>(RowStep(width));
    uint8_t* pixels = static_cast<uint8_t*>(job.lpOutput);
    status = decoder.AttachOutput(pixels, width, step, height, kOutputChannels, ColorBGR);
    if (status != DecOk) return status;
    status = decoder.DecodeImage();
    if (status != DecOk) return status;

    // A one-row picture cannot be mirrored; its refusal is harmless.
    MirrorImage24(pixels, step, width, height, AxisHorizontal);
    return DecOk;
}

}  // namespace

LRESULT DecompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) {
    if (input == nullptr) {
        return ICERR_ERROR;
    }
    if (input->biCompression != kWembFourcc || !OutputSizeFits(input->biWidth, input->biHeight)) {
        return ICERR_BADFORMAT;
    }
    if (output == nullptr) {
        return ICERR_OK;
    }
    if (output->biWidth != input->biWidth || output->biHeight != input->biHeight ||
        output->biCompression != BI_RGB || output->biBitCount != kOutputBitCount) {
        return ICERR_BADFORMAT;
    }
    return ICERR_OK;
}

LRESULT DecompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output) {
    if (output == nullptr) {
        return kFormatSize;
    }
    if (input == nullptr || !OutputSizeFits(input->biWidth, input->biHeight)) {
        return ICERR_BADFORMAT;
    }
    // Read everything before writing: the host may pass one header for both.
    const LONG width = input->biWidth;
    const LONG height = input->biHeight;
    output->biSize = kFormatSize;
    output->biWidth = width;
    output->biHeight = height;
    output->biPlanes = 1;
    output->biBitCount = kOutputBitCount;
    output->biCompression = BI_RGB;
    output->biSizeImage = RowStep(width) * static_cast<DWORD>(height);
    output->biXPelsPerMeter = 0;
    output->biYPelsPerMeter = 0;
    output->biClrUsed = 0;
    output->biClrImportant = 0;
    return ICERR_OK;
}

LRESULT DecompressFrame(const ICDECOMPRESS* job, CWorkerPool* workers) {
    if (job == nullptr || job->lpbiInput == nullptr || job->lpInput == nullptr ||
        job->lpOutput == nullptr) {
        return ICERR_BADFORMAT;
    }
    return DecodeFrame(*job, workers) == DecOk ? ICERR_OK : ICERR_BADFORMAT;
}
