// Format negotiation and the per-frame decompression.
//
// The codec accepts one input format, compression `wemb` (every frame a
// complete JPEG interchange stream), and writes BI_RGB bitmaps of the same
// size: 24 or 32 bits a pixel, bottom-up or top-down. It offers 24-bit
// bottom-up. Each frame builds its own decoder, which writes every row of
// the picture straight into its place.
#include <cstddef>
#include <cstdint>

#include "driver/driver.h"
#include "driver/instance.h"
#include "jpeg/decoder.h"
#include "platform/worker_pool.h"
#include "primitives/memory.h"

namespace {

constexpr DWORD kFormatSize = sizeof(BITMAPINFOHEADER);  // no colour table follows
constexpr WORD kOfferedBitCount = 24;

// What the codec will write for a host: the picture's size, 3 or 4 bytes a
// pixel, the rows' order and step, and the bytes they take.
struct OutputLayout {
    LONG width;
    LONG height;
    WORD bitCount;
    bool topDown;
    uint32_t rowStep;
    uint64_t imageBytes;
};

// The layout of a picture of the input's size in `bitCount` bits a pixel, or
// false when there can be none: a compressed bitmap has a positive height
// (there is no top-down wemb stream), no JPEG frame is larger than
// kMaxFrameDimension either way, and a picture whose byte count the DWORD
// biSizeImage cannot state would let a host allocate less than the codec
// writes.
bool LayoutFor(const BITMAPINFOHEADER& input, WORD bitCount, bool topDown, OutputLayout* layout) {
    const LONG width = input.biWidth, height = input.biHeight;
    if (width <= 0 || height <= 0 || width > kMaxFrameDimension || height > kMaxFrameDimension) {
        return false;
    }
    const uint64_t rowStep = RowStep(width, bitCount);
    const uint64_t imageBytes = rowStep * static_cast<uint64_t>(height);
    if (imageBytes > UINT32_MAX) {
        return false;
    }
    *layout = {width, height, bitCount, topDown, static_cast<uint32_t>(rowStep), imageBytes};
    return true;
}

// The one decision on formats, for QUERY, BEGIN and DECOMPRESS alike: the
// input must be a wemb bitmap the codec can describe an output for, and the
// host's output, when it names one, a picture the codec writes: BI_RGB of the
// input's size, 24 bits (B, G, R) or 32 (B, G, R, 255) a pixel, bottom-up or
// top-down (a negative height), in a buffer at least as large as the picture
// (a biSizeImage of 0 states no size). `layout` receives what will be
// written; without an output, the 24-bit bottom-up picture offered by
// GET_FORMAT.
LRESULT CheckFormats(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output,
                     OutputLayout* layout) {
    if (input == nullptr) {
        return ICERR_ERROR;
    }
    if (input->biCompression != kWembFourcc) {
        return ICERR_BADFORMAT;
    }
    if (output == nullptr) {
        return LayoutFor(*input, kOfferedBitCount, false, layout) ? ICERR_OK : ICERR_BADFORMAT;
    }
    const bool topDown = input->biHeight > 0 && output->biHeight == -input->biHeight;
    if (output->biWidth != input->biWidth || (output->biHeight != input->biHeight && !topDown) ||
        output->biCompression != BI_RGB || (output->biBitCount != 24 && output->biBitCount != 32) ||
        !LayoutFor(*input, output->biBitCount, topDown, layout)) {
        return ICERR_BADFORMAT;
    }
    if (output->biSizeImage != 0 && output->biSizeImage < layout->imageBytes) {
        return ICERR_BADFORMAT;
    }
    return ICERR_OK;
}

// Runs one frame through the decoder into the checked layout, with the
// instance's `workers` when not null; any failure is DecErr*.
DecoderStatus DecodeFrame(CJPEGDecoder& decoder, const ICDECOMPRESS& job, const OutputLayout& layout,
                          CWorkerPool* workers) {
    const BITMAPINFOHEADER& input = *job.lpbiInput;
    // Sizes are 32-bit signed inside the decoder; a frame of 2 GB or more
    // cannot be a JPEG stream the decoder can address.
    if (input.biSizeImage > static_cast<DWORD>(INT32_MAX)) {
        return DecErrFailed;
    }
    DecoderStatus status = decoder.AttachInput(static_cast<const uint8_t*>(job.lpInput),
                                               static_cast<int32_t>(input.biSizeImage));
    if (status != DecOk) return status;

    int32_t width = 0, height = 0, components = 0, colorModel = 0, samplingMode = 0;
    status = decoder.ParseHeaders(&width, &height, &components, &colorModel, &samplingMode);
    if (status != DecOk) return status;
    if (width != layout.width || height != layout.height) {
        return DecErrFailed;  // the stream is not the size the host negotiated
    }
    // A colour model without a conversion to B, G, R (four components without
    // an Adobe segment, an unknown Adobe transform) has no picture to show.
    if (!decoder.ConvertsToBgr()) {
        return DecErrUnsupported;
    }
    decoder.AttachWorkers(workers);

    // In a bottom-up bitmap the picture's top row is the buffer's last: the
    // decoder then stores the rows upwards from there, each straight into its
    // place.
    const int32_t step = static_cast<int32_t>(layout.rowStep);
    uint8_t* pixels = static_cast<uint8_t*>(job.lpOutput);
    uint8_t* topRow = layout.topDown ? pixels : pixels + static_cast<ptrdiff_t>(height - 1) * step;
    const int32_t channels = layout.bitCount / 8;
    status = decoder.AttachOutput(topRow, width, layout.topDown ? step : -step, height, channels,
                                  channels == 4 ? ColorBGRA : ColorBGR);
    if (status != DecOk) return status;
    status = decoder.DecodeImage();
    if (status != DecOk) return status;

    // A frame whose colour model has no conversion to B, G, R leaves the
    // buffer untouched; a 24-bit bottom-up one is then mirrored, as the
    // picture would have been. A one-row picture cannot be mirrored; its
    // refusal is harmless.
    if (!decoder.WrotePicture() && !layout.topDown && layout.bitCount == 24) {
        MirrorImage24(pixels, step, width, height, AxisHorizontal);
    }
    return DecOk;
}

}  // namespace

LRESULT DecompressQuery(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) {
    OutputLayout layout;
    return CheckFormats(input, output, &layout);
}

// A host may go from BEGIN straight to DECOMPRESS without a query: BEGIN
// refuses what the query would.
LRESULT DecompressBegin(const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output) {
    OutputLayout layout;
    return CheckFormats(input, output, &layout);
}

LRESULT DecompressGetFormat(const BITMAPINFOHEADER* input, BITMAPINFOHEADER* output) {
    if (output == nullptr) {
        return kFormatSize;
    }
    OutputLayout layout;
    if (input == nullptr || !LayoutFor(*input, kOfferedBitCount, false, &layout)) {
        return ICERR_BADFORMAT;
    }
    // Read everything before writing: the host may pass one header for both.
    output->biSize = kFormatSize;
    output->biWidth = layout.width;
    output->biHeight = layout.height;
    output->biPlanes = 1;
    output->biBitCount = kOfferedBitCount;
    output->biCompression = BI_RGB;
    output->biSizeImage = static_cast<DWORD>(layout.imageBytes);
    output->biXPelsPerMeter = 0;
    output->biYPelsPerMeter = 0;
    output->biClrUsed = 0;
    output->biClrImportant = 0;
    return ICERR_OK;
}

// Nothing is written unless the host's output header describes exactly the
// picture the codec writes, in a buffer large enough for it.
LRESULT DecompressFrame(DriverInstance* instance, const ICDECOMPRESS* job) {
    if (job == nullptr || job->lpbiInput == nullptr || job->lpbiOutput == nullptr ||
        job->lpInput == nullptr || job->lpOutput == nullptr) {
        return ICERR_BADFORMAT;
    }
    OutputLayout layout;
    if (CheckFormats(job->lpbiInput, job->lpbiOutput, &layout) != ICERR_OK) {
        return ICERR_BADFORMAT;
    }
    // The instance's decoder keeps its buffers from frame to frame; without
    // one (no instance, or it is busy on another thread) the frame gets its
    // own.
    CJPEGDecoder* kept = instance != nullptr ? instance->TakeDecoder() : nullptr;
    CWorkerPool* workers = instance != nullptr ? &instance->workers : nullptr;
    DecoderStatus status;
    if (kept != nullptr) {
        status = DecodeFrame(*kept, *job, layout, workers);
        instance->ReturnDecoder();
    } else {
        CJPEGDecoder decoder;
        status = DecodeFrame(decoder, *job, layout, workers);
    }
    return status == DecOk ? ICERR_OK : ICERR_BADFORMAT;
}

// The end of a stream: the kept decoder's buffers are released.
LRESULT DecompressEnd(DriverInstance* instance) {
    if (instance != nullptr) instance->ReleaseDecoder();
    return ICERR_OK;
}
