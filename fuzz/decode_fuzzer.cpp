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
//
// Work per input: a frame is decoded only when its pixel count is within the
// limit of the instruction-set level picked, which is set so that the
// dearest frame the stream can describe (four components, 256 scans) takes a
// few seconds at that level: frames are skipped by size, never stopped by
// the clock, and the per-input timeout (scripts/fuzz.sh) sits far above.
//
// Built as decode_check_fuzzer (WEMB_FUZZ_CHECK_PICTURES), it also compares
// the picture DriverProc returns with libjpeg-turbo's for every frame that
// libjpeg decodes without a warning (fuzz/picture_check.h). The
// environment variable WEMB_FUZZ_SIMD_LEVEL (0 AVX2 ... 4 scalar, as byte 1)
// overrides byte 1, so that a campaign can give each level its share.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/driver.h"
#include "jpeg/decoder.h"
#include "platform/vfw.h"
#include "primitives/simd.h"
#include "support/failing_heap.h"
#include "tools/jpeg_probe.h"
#ifdef WEMB_FUZZ_CHECK_PICTURES
#include "fuzz/picture_check.h"
#endif

namespace {

constexpr uint8_t kCanary = 0xA5;

const int32_t kModels[8] = {ColorGrey, ColorRGB,     ColorBGR, ColorYCbCr,
                            ColorCMYK, ColorUnknown, ColorBGR, ColorYCbCr};
const int32_t kRowPadding[4] = {0, 1, 3, 17};

// The instruction-set levels byte 1 picks from, and the largest frame, in
// pixels, decoded at each. Measured under AddressSanitizer on a 64 x 65333
// frame of three components and 256 scans: about 2 us per pixel for both
// decodes at AVX2, half as much again at SSE2, twice as much without
// vectors.
struct LevelLimit {
    int32_t level;
    int64_t maxPixels;
};
const LevelLimit kLevels[5] = {
    {SimdAvx2, 2 << 20}, {SimdAvx, 2 << 20}, {SimdSsse3, 3 << 19}, {SimdSse2, 3 << 19}, {SimdScalar, 1 << 20},
};

// Byte 1's choice, or WEMB_FUZZ_SIMD_LEVEL's when it is set.
const LevelLimit& PickLevel(uint8_t byte) {
    static const int forced = [] {
        const char* text = std::getenv("WEMB_FUZZ_SIMD_LEVEL");
        return text != nullptr && *text != '\0' ? std::atoi(text) % 5 : -1;
    }();
    return kLevels[forced >= 0 ? forced : byte % 5];
}

struct FrameHeader {
    int32_t width = 0;
    int32_t height = 0;
    int32_t components = 0;
    int32_t colorModel = 0;
    int32_t samplingMode = 0;
};

// The frame's header as ParseHeaders reports it; false when the headers fail.
bool ReadFrameHeader(const uint8_t* stream, int32_t size, FrameHeader* header) {
    CJPEGDecoder decoder;
    decoder.AttachInput(stream, size);
    return decoder.ParseHeaders(&header->width, &header->height, &header->components,
                                &header->colorModel, &header->samplingMode) == DecOk;
}

bool SmallEnough(const FrameHeader& header, int64_t maxPixels) {
    return header.width > 0 && header.height > 0 &&
           int64_t{header.width} * header.height <= maxPixels;
}

// One ICM_DECOMPRESS with an input format of the frame's own size and a
// bottom-up 24-bit output of RowStep x height bytes, as a host sends it.
// Returns the result; `pixels` is the output buffer.
LRESULT DecodeThroughDriver(const uint8_t* stream, int32_t size, const FrameHeader& header,
                            std::vector<uint8_t>* pixels) {
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
    pixels->assign(output.biSizeImage, 0);

    ICDECOMPRESS job = {};
    job.lpbiInput = &input;
    job.lpInput = const_cast<uint8_t*>(stream);
    job.lpbiOutput = &output;
    job.lpOutput = pixels->data();
    const LRESULT result =
        DriverProc(1, nullptr, ICM_DECOMPRESS, reinterpret_cast<LPARAM>(&job), sizeof(job));
    if (result != ICERR_OK && result != ICERR_BADFORMAT) {
        std::abort();  // a frame is decoded or refused, nothing else
    }
    return result;
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
        wemb_test::FailAllocationAfter(1 + ((selector >> 3) & 15));
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
    wemb_test::FailAllocationAfter(0);

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
    const LevelLimit& level = PickLevel(data[1]);
    const uint8_t* stream = data + 2;
    const int32_t streamSize = static_cast<int32_t>(size - 2);

    int32_t probedWidth = 0, probedHeight = 0;
    ProbeJpegSize(stream, static_cast<size_t>(streamSize), &probedWidth, &probedHeight);

    FrameHeader header;
    if (!ReadFrameHeader(stream, streamSize, &header) || !SmallEnough(header, level.maxPixels)) {
        return 0;
    }
    LimitSimdLevel(level.level);
    std::vector<uint8_t> pixels;
    const LRESULT result = DecodeThroughDriver(stream, streamSize, header, &pixels);
#ifdef WEMB_FUZZ_CHECK_PICTURES
    CodecFrame frame;
    frame.width = header.width;
    frame.height = header.height;
    frame.components = header.components;
    frame.colorModel = header.colorModel;
    frame.samplingMode = header.samplingMode;
    frame.result = result;
    frame.pixels = &pixels;
    CheckPictureAgainstLibjpeg(stream, static_cast<size_t>(streamSize), frame);
#else
    (void)result;
#endif
    DecodeDirectly(stream, streamSize, header, selector);
    LimitSimdLevel(SimdAvx2);
    return 0;
}
