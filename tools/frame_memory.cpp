#include "tools/frame_memory.h"

#include <algorithm>

#include "jpeg/decoder.h"
#include "platform/worker_pool.h"
#include "tools/jpeg_probe.h"

namespace {

// The decoder object and its tables: up to CHuffmanTableCache::kEntries
// Huffman decode tables at once, each under 20 KB.
constexpr uint64_t kFixedWorkingBytes = uint64_t(2) << 20;
static_assert(CHuffmanTableCache::kEntries * sizeof(HuffmanDecodeTable) + sizeof(CJPEGDecoder) <
                  kFixedWorkingBytes * 3 / 4,
              "the fixed working memory covers the decoder and a full table cache");
constexpr uint64_t kCoefficientBytesPerSample = 2;
constexpr uint64_t kPlaneBytesPerSample = 4;
constexpr uint64_t kBandRows = 16;  // the tallest MCU: 4:2:0
constexpr uint64_t kRecordBytesPerSample = 1;  // 64 bytes for each MCU of 64 samples or more

uint64_t RoundUpTo16(int32_t value) { return (uint64_t(uint32_t(value)) + 15) & ~uint64_t(15); }

// Only SOF0 and SOF1 frames are known to be sequential; anything else is
// costed as progressive, the dearer of the two.
bool KnownSequential(const uint8_t* frame, size_t size, int32_t width, int32_t height) {
    JpegFrameHeader header;
    return ProbeJpegFrame(frame, size, &header) && (header.marker == 0xC0 || header.marker == 0xC1) &&
           header.width == width && header.height == height;
}

}  // namespace

bool ReadFrameShape(const uint8_t* frame, size_t size, FrameShape* shape, std::string* error) {
    if (size > static_cast<size_t>(INT32_MAX)) {
        *error = "the frame is larger than the codec can address";
        return false;
    }
    CJPEGDecoder decoder;
    DecoderStatus status = decoder.AttachInput(frame, static_cast<int32_t>(size));
    int32_t colorModel = 0, samplingMode = 0;
    if (status == DecOk) {
        status = decoder.ParseHeaders(&shape->width, &shape->height, &shape->components, &colorModel,
                                      &samplingMode);
    }
    if (status != DecOk) {
        *error = "the codec refused the frame's headers (decoder status " + std::to_string(status) + ")";
        return false;
    }
    if (samplingMode == SamplingUnsupported) {
        *error = "the codec does not decode the frame's sampling structure";
        return false;
    }
    if (!decoder.ConvertsToBgr()) {
        *error = "the codec has no conversion from the frame's colour model to B, G, R";
        return false;
    }
    shape->progressive = !KnownSequential(frame, size, shape->width, shape->height);
    return true;
}

uint64_t CodecWorkingBytes(const FrameShape& shape) {
    const uint64_t lineSamples = RoundUpTo16(shape.width) * uint64_t(uint32_t(shape.components));
    const uint64_t frameSamples = lineSamples * RoundUpTo16(shape.height);
    if (shape.progressive) {
        return kFixedWorkingBytes + frameSamples * (kCoefficientBytesPerSample + kPlaneBytesPerSample);
    }
    // Two bands for each thread sharing the frame, and no more threads than
    // MCU rows (of 8 lines at least); and the thread decoding ahead keeps
    // coefficients for the whole frame, with a record of each MCU.
    const uint64_t bands = std::min<uint64_t>(2 * kMaxPoolThreads, 2 * ((RoundUpTo16(shape.height) + 7) / 8));
    return kFixedWorkingBytes + lineSamples * kBandRows * bands * (kCoefficientBytesPerSample + kPlaneBytesPerSample) +
           frameSamples * (kCoefficientBytesPerSample + kRecordBytesPerSample);
}

uint64_t FrameMemoryCost(const FrameShape& shape, size_t compressedBytes, uint64_t pictureBytes) {
    return compressedBytes + pictureBytes + CodecWorkingBytes(shape);
}
