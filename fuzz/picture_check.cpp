#include "fuzz/picture_check.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "jpeg/decoder_types.h"
#include "support/libjpeg_reference.h"

namespace {

using wemb_test::ReferenceImage;

// libjpeg's J_COLOR_SPACE values for the colour models the codec converts
// to BGR.
constexpr int32_t kJcsGrayscale = 1, kJcsRgb = 2, kJcsYCbCr = 3, kJcsCmyk = 4, kJcsYcck = 5;

// Four-component frames go through the viewers' formula, R = C x K / 255
// rounded: plane differences within the bound of the other frames grow on
// the way. C, M, Y and K each within 1 (the inverse DCTs' rounding) move the
// product by up to (255 + 255 + 1) / 255 and the rounding by one more: 3.
// YCCK's C, M and Y come out of the YCbCr conversion within 3: (3 x 255 +
// 255 + 3) / 255, and one for the rounding: 5. (The reference tests hold
// their own streams to 1 and 2; a fuzzed CMYK frame whose planes are all
// within 1 of libjpeg's came out 2 levels off.)
constexpr int kCmykTolerance = 3;
constexpr int kYcckTolerance = 5;

// The most scans of a frame the codec decodes; it ignores the rest.
constexpr int32_t kMaxProgressiveScans = 256;

// The codec's inverse DCT keeps its intermediate values in 16 and 32 bits,
// sized for blocks an encoder makes of 8-bit samples; libjpeg's in 32 bits
// with other scales. Blocks whose exact samples lie beyond twice the 8-bit
// range have no right answer the two must agree on.
constexpr double kLargestExactSample = 256.0;

bool SameColorModel(int32_t codecModel, int32_t libjpegSpace) {
    return (codecModel == ColorGrey && libjpegSpace == kJcsGrayscale) ||
           (codecModel == ColorRGB && libjpegSpace == kJcsRgb) ||
           (codecModel == ColorYCbCr && libjpegSpace == kJcsYCbCr) ||
           (codecModel == ColorCMYK && libjpegSpace == kJcsCmyk) ||
           (codecModel == ColorYCCK && libjpegSpace == kJcsYcck);
}

[[noreturn]] void Mismatch(const CodecFrame& frame, const std::string& what) {
    std::fprintf(stderr,
                 "picture check: %s\n  frame %d x %d, %d components, colour model %d, sampling mode %d, "
                 "ICM_DECOMPRESS %ld\n",
                 what.c_str(), frame.width, frame.height, frame.components, frame.colorModel,
                 frame.samplingMode, static_cast<long>(frame.result));
    std::abort();
}

}  // namespace

void CheckPictureAgainstLibjpeg(const uint8_t* stream, size_t size, const CodecFrame& frame) {
    if (frame.samplingMode == SamplingUnsupported) return;
    // Four components: libjpeg's CMYK shown as viewers show it.
    const bool fourComponents = frame.components == 4;
    const std::vector<uint8_t> bytes(stream, stream + size);
    ReferenceImage reference;
    if (!wemb_test::DecodeReference(bytes,
                                    fourComponents ? wemb_test::ReferenceLayout::kCmykTopDown
                                                   : wemb_test::ReferenceLayout::kBgrTopDown,
                                    &reference)) {
        return;  // libjpeg refuses the stream or warns of damage
    }
    // Streams the two read differently by design: Huffman tables never
    // defined, a colour model decided by other rules (JFIF against Adobe, component ids, four components
    // without an Adobe segment), more scans than the codec takes,
    // coefficients no encoder of 8-bit samples makes, and coefficients that
    // may have run past the end of their block, which libjpeg keeps at
    // position 63 and the codec refuses (the check gives up the rare frame
    // that uses position 63 for them).
    if (!SameColorModel(frame.colorModel, reference.colorSpace)) return;
    // A scan without its Huffman tables: libjpeg takes the standard ones,
    // the codec refuses the frame.
    if (reference.defaultHuffmanTables) return;
    if (reference.progressive && reference.scans > kMaxProgressiveScans) return;
    wemb_test::CoefficientSurvey survey;
    if (!wemb_test::SurveyCoefficients(bytes, &survey) || survey.largestExactSample > kLargestExactSample ||
        survey.lastCoefficientSet) {
        return;
    }
    if (reference.width != frame.width || reference.height != frame.height) {
        Mismatch(frame, "libjpeg decodes a picture of " + std::to_string(reference.width) + " x " +
                            std::to_string(reference.height));
    }
    if (frame.result != ICERR_OK) Mismatch(frame, "libjpeg decodes the frame without a warning, the codec refuses it");

    // The codec's buffer is bottom-up; libjpeg's rows are top-down with the
    // same step.
    const int32_t step = wemb_test::RowStep24(frame.width);
    std::vector<uint8_t> topDown(static_cast<size_t>(step) * frame.height);
    for (int32_t y = 0; y < frame.height; ++y) {
        const uint8_t* row = frame.pixels->data() + static_cast<size_t>(frame.height - 1 - y) * step;
        std::copy(row, row + step, topDown.begin() + static_cast<size_t>(y) * step);
    }
    const std::vector<uint8_t> want =
        fourComponents ? wemb_test::CmykAsViewersShowIt(reference) : reference.pixels;
    const int tolerance = !fourComponents                ? wemb_test::kReferenceSampleTolerance
                          : frame.colorModel == ColorCMYK ? kCmykTolerance
                                                          : kYcckTolerance;
    const bool sequential420 = !reference.progressive && frame.samplingMode == SamplingHalfHV;
    const int largest = wemb_test::LargestDifferenceOutsideBandEdges(topDown.data(), want.data(), frame.width,
                                                                     frame.height, step, sequential420);
    if (largest > tolerance) {
        Mismatch(frame, "a sample differs from libjpeg's by " + std::to_string(largest) + " (tolerance " +
                            std::to_string(tolerance) + ")");
    }
}
