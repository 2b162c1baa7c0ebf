// libFuzzer harness for the codec's two ways in: DriverProc's ICM_DECOMPRESS
// as a host sends it, and CJPEGDecoder called directly with any destination
// colour model.
//
// Input layout: byte 0 is a selector, byte 1 picks the instruction sets,
// the rest is the JPEG stream.
//   byte 0, bits 0-2  destination colour model of the direct decode (table below)
//           bits 3-4  destination smaller than the frame: 0 no, 1 narrower,
//                     2 shorter, 3 both
//           bits 5-6  extra bytes at the end of each destination row: 0, 1, 3 or 17
//           bit  7    inject an allocation failure into the direct decode,
//                     after 1 + bits 3-6 allocations
//   byte 1 modulo 5   the highest instruction set the primitives may use for
//                     both decodes: AVX2 (the default), AVX, SSSE3, SSE2 or
//                     none, so that every vector path meets the same streams
//
// Every buffer the codec sees is exactly as large as the caller promises, so
// that AddressSanitizer reports the first byte read or written beyond it.
// The row padding of the direct decode's destination is filled with a canary
// and checked afterwards: the decoder must not write beyond `width` pixels of
// a row.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/driver.h"
#include "jpeg/decoder.h"
#include "platform/vfw.h"
#include "primitives/memory.h"
#include "primitives/simd.h"
#include "tools/jpeg_probe.h"

namespace {

// Frames larger than this are not decoded, so that the output buffer and the
// decoder's working buffers stay small enough for many runs a second.
#ifndef WEMB_FUZZ_MAX_PIXELS
#define WEMB_FUZZ_MAX_PIXELS (2048 * 2048)
#endif
constexpr int64_t kMaxPixels = WEMB_FUZZ_MAX_PIXELS;

constexpr uint8_t kCanary = 0xA5;

const int32_t kModels[8] = {ColorGrey, ColorRGB,     ColorBGR, ColorYCbCr,
                            ColorCMYK, ColorUnknown, ColorBGR, ColorYCbCr};
const int32_t kRowPadding[4] = {0, 1, 3, 17};
const int32_t kSimdLevels[5] = {SimdAvx2, SimdAvx, SimdSsse3, SimdSse2, SimdScalar};

struct FrameHeader {
    int32_t width = 0;
    int32_t height = 0;
    int32_t components = 0;
};

// The frame's size as ParseHeaders reports it; false when the headers fail.
bool ReadFrameHeader(const uint8_t* stream, int32_t size, FrameHeader* header) {
    CJPEGDecoder decoder;
    decoder.AttachInput(stream, size);
    int32_t colorModel = 0, samplingMode = 0;
    return decoder.ParseHeaders(&header->width, &header->height, &header->components,
                                &colorModel, &samplingMode) == DecOk;
}

bool SmallEnough(const FrameHeader& header) {
    return header.width > 0 && header.height > 0 &&
           int64_t{header.width} * header.height <= kMaxPixels;
}

// One ICM_DECOMPRESS with an input format of the frame's own size and a
// bottom-up 24-bit output of RowStep x height bytes, as a host sends it.
void DecodeThroughDriver(const uint8_t* stream, int32_t size, const FrameHeader& header) {
    BITMAPINFOHEADER input = {};
    input.biSize = sizeof(input);
    input.biWidth = header.width;
    input.biHeight = header.height;
    input.biPlanes = 1;
    input.biBitCount = 24;
    input.biCompression = kWembFourcc;
    input.biSizeImage = static_cast<DWORD>(size);

    BITMAPINFOHEADER output = {};
    if (DriverProc(1, nullptr, ICM_DECOMPRESS_GET_FORMAT, reinterpret_cast<LPARAM>(&input),
                   reinterpret_cast<LPARAM>(&output)) != ICERR_OK ||
        output.biSizeImage != RowStep(header.width, 24) * static_cast<uint64_t>(header.height)) {
        std::abort();  // the negotiated format must describe the buffer below
    }
    std::vector<uint8_t> pixels(output.biSizeImage);

    ICDECOMPRESS job = {};
    job.lpbiInput = &input;
    job.lpInput = const_cast<uint8_t*>(stream);
    job.lpbiOutput = &output;
    job.lpOutput = pixels.data();
    const LRESULT result =
        DriverProc(1, nullptr, ICM_DECOMPRESS, reinterpret_cast<LPARAM>(&job), sizeof(job));
    if (result != ICERR_OK && result != ICERR_BADFORMAT) {
        std::abort();  // a frame is decoded or refused, nothing else
    }
}

// Bytes per destination pixel the conversion into `model` writes.
int32_t BytesPerPixel(int32_t model, int32_t components) {
    switch (model) {
        case ColorGrey: return 1;
        case ColorRGB:
        case ColorBGR: return 3;
        case ColorYCbCr: return 2;  // packed 4:2:2: Cb Y Cr Y per pixel pair
        case ColorCMYK: return 4;
        default: return components;  // ColorUnknown: the planes interleaved as they are
    }
}

void DecodeDirectly(const uint8_t* stream, int32_t size, const FrameHeader& header,
                    uint8_t selector) {
    const int32_t model = kModels[selector & 7];
    const int32_t shrink = (selector >> 3) & 3;
    const int32_t padding = kRowPadding[(selector >> 5) & 3];
    const bool failAllocation = (selector & 0x80) != 0;

    const int32_t width = (shrink & 1) != 0 && header.width > 1 ? header.width * 2 / 3 : header.width;
    const int32_t height =
        (shrink & 2) != 0 && header.height > 1 ? header.height / 2 : header.height;
    const int32_t channels = BytesPerPixel(model, header.components);
    const int32_t rowBytes = width * (channels > 0 ? channels : 1);
    const int32_t step = rowBytes + padding;
    // The last row ends at its last pixel: nothing may be written past it.
    std::vector<uint8_t> pixels(static_cast<size_t>(step) * (height - 1) + rowBytes, kCanary);

    if (failAllocation) {
        FailAllocationAfter(1 + ((selector >> 3) & 15));
    }
    {
        CJPEGDecoder decoder;
        decoder.AttachInput(stream, size);
        int32_t w = 0, h = 0, components = 0, colorModel = 0, samplingMode = 0;
        if (decoder.ParseHeaders(&w, &h, &components, &colorModel, &samplingMode) == DecOk) {
            decoder.AttachOutput(pixels.data(), width, step, height, channels, model);
            decoder.DecodeImage();
        }
    }
    FailAllocationAfter(0);

    for (int32_t row = 0; row + 1 < height; ++row) {
        const uint8_t* pad = pixels.data() + static_cast<size_t>(row) * step + rowBytes;
        for (int32_t i = 0; i < padding; ++i) {
            if (pad[i] != kCanary) std::abort();  // written beyond `width` pixels
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size - 2 > static_cast<size_t>(INT32_MAX)) {
        return 0;
    }
    const uint8_t selector = data[0];
    const int32_t simdLevel = kSimdLevels[data[1] % 5];
    const uint8_t* stream = data + 2;
    const int32_t streamSize = static_cast<int32_t>(size - 2);

    int32_t probedWidth = 0, probedHeight = 0;
    ProbeJpegSize(stream, static_cast<size_t>(streamSize), &probedWidth, &probedHeight);

    FrameHeader header;
    if (!ReadFrameHeader(stream, streamSize, &header) || !SmallEnough(header)) {
        return 0;
    }
    LimitSimdLevel(simdLevel);
    DecodeThroughDriver(stream, streamSize, header);
    DecodeDirectly(stream, streamSize, header, selector);
    LimitSimdLevel(SimdAvx2);
    return 0;
}
