// libjpeg (the system's libjpeg-turbo) as the tests' outside reference. It
// decodes a stream into the same layouts the codec writes, surveys a stream's
// quantized coefficients, encodes test pictures (and reads back the
// coefficients it wrote), and supplies the example tables of T.81 Annex K
// (declared in jpeg_stream.h). Helpers beside it compare two pictures.
//
// libjpeg decodes with its default settings (JDCT_ISLOW, fancy up-sampling)
// but without block smoothing (which invents coefficients for an unfinished
// progressive frame). Its warnings count as failures by default, so a
// truncated or damaged stream is reported instead of being patched up
// silently.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace wemb_test {


enum class ReferenceLayout {
    kBgrBottomUp,    // the codec's output: B, G, R; last buffer row = top picture row
    kBgrTopDown,     // the decoder's own BGR destination, before the driver mirrors it
    kCmykTopDown,    // C, M, Y, K as libjpeg gives them (YCCK is converted to CMYK)
    kNativeTopDown,  // the stream's own colour space, no conversion: grey 1 byte,
                     // YCbCr or RGB 3 bytes, CMYK or YCCK 4 bytes (up-sampled)
};

struct ReferenceImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t rowStep = 0;   // bytes per row, rounded up to a multiple of 4
    bool progressive = false;  // an SOF2 frame
    std::vector<uint8_t> pixels;  // rowStep * height bytes; row padding is zero

    // How libjpeg read the stream: the colour space of the data (a
    // J_COLOR_SPACE: 1 grey, 2 RGB, 3 YCbCr, 4 CMYK, 5 YCCK) and the number
    // of scans.
    int32_t colorSpace = 0;
    int32_t scans = 0;
    // The first scan names a Huffman table no DHT segment defined before it:
    // libjpeg then decodes with the standard tables (as for Motion-JPEG
    // frames), where the codec refuses the scan.
    bool defaultHuffmanTables = false;

    const uint8_t* Row(int32_t bufferRow) const { return pixels.data() + static_cast<size_t>(bufferRow) * rowStep; }
};

// Decodes `data`. On failure returns false, leaves `image` empty and puts
// libjpeg's message in `error` (when not null).
bool DecodeReference(const std::vector<uint8_t>& data, ReferenceLayout layout, ReferenceImage* image,
                     std::string* error = nullptr, bool warningsAreErrors = true);

// Bytes per row of a 24-bit picture: width * 3 rounded up to a multiple of 4.
inline int32_t RowStep24(int32_t width) { return (width * 3 + 3) & ~3; }

// Differences between two pictures of the same size and layout, counted over
// the first width * channels bytes of every row (row padding is ignored).
struct ImageDifference {
    int maxAbs = 0;     // largest absolute difference of two samples
    double psnr = 0.0;  // 10 log10(255^2 / MSE); +infinity when equal
};

ImageDifference CompareImages(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height,
                              int32_t rowStep, int32_t channels = 3);

// How far the codec's picture may lie from libjpeg's. The two inverse DCTs
// are different fixed-point approximations of the same transform and round
// differently, by at most one level per sample, which the colour conversion
// (same JFIF tables) can turn into up to 3 in R, G or B. The one place the
// pictures differ by design is 4:2:0 chroma of sequential frames: the codec
// up-samples each 16-row band as soon as it is decoded, so the last row of a
// band is filtered with the band's own last chroma row repeated where libjpeg
// reads the next band's first. Those rows are left out of the bound.
constexpr int kReferenceSampleTolerance = 3;

// Four-component frames are compared through CmykAsViewersShowIt: CMYK
// within one level, YCCK, whose colour conversion adds its own rounding to
// the inverse DCTs' differences, within two.
constexpr int kReferenceCmykTolerance = 1;
constexpr int kReferenceYcckTolerance = 2;

// The picture image viewers show of an Adobe CMYK frame, from libjpeg's CMYK
// samples (kCmykTopDown; YCCK converted to CMYK as libjpeg does): inverted
// ink, each colour scaled by K, R = C x K / 255 rounded. Top-down B, G, R
// rows of RowStep24(width) bytes.
std::vector<uint8_t> CmykAsViewersShowIt(const ReferenceImage& cmyk);

// Whether row `y` is one of those band-edge rows of a sequential 4:2:0 frame.
inline bool IsBandEdgeRow(int32_t y, bool sequential420) { return sequential420 && y % 16 == 15; }

// The largest difference of a sample of two top-down 24-bit pictures with
// rows `rowStep` bytes apart, over every row but the band-edge rows.
int LargestDifferenceOutsideBandEdges(const uint8_t* ours, const uint8_t* reference, int32_t width,
                                      int32_t height, int32_t rowStep, bool sequential420);

// What the quantized coefficients of a stream (as libjpeg reads them) say
// of it, beyond its picture:
struct CoefficientSurvey {
    // The largest magnitude of a sample, level-shifted and before any
    // clamping, that the exact inverse DCT (T.81 A.3.3, in floating point)
    // makes of any block. Blocks an encoder made of 8-bit samples stay near
    // 128, ringing aside; arbitrary coefficients go far beyond, where
    // fixed-point transforms are free to disagree.
    double largestExactSample = 0.0;
    // Whether any block has a coefficient at natural position 63. Encoders
    // seldom set it; libjpeg also puts there, without a warning, every
    // coefficient whose run takes it past the end of its block.
    bool lastCoefficientSet = false;
};

// False when libjpeg refuses the stream or warns of damage.
bool SurveyCoefficients(const std::vector<uint8_t>& data, CoefficientSurvey* survey);

// ---------------------------------------------------------------- encoding


// One scan of a progression: the components it lists (frame indexes), its
// spectral band and its successive approximation bits.
struct ProgressionScan {
    std::vector<int> components;
    int ss, se, ah, al;
};

// A JPEG stream of an 8-bit picture with libjpeg's default tables (the Annex K
// ones for sequential coding). 1 component: grey; 3: RGB, coded as YCbCr in
// 4:2:0 unless `fullChroma`; 4: four components coded as given, without an
// Adobe segment. If asked, libjpeg's standard progression of scans (or the
// scans given), and a restart marker every `restartInterval` MCUs.
std::vector<uint8_t> LibjpegCompress(const std::vector<uint8_t>& pixels, int width, int height,
                                     int components, int quality, bool progressive,
                                     int restartInterval = 0, bool fullChroma = false,
                                     const std::vector<ProgressionScan>* scans = nullptr);

// The quantized coefficients of a one-component stream, one 64-entry block
// (natural order) after another in raster order.
std::vector<int16_t> LibjpegCoefficients(const std::vector<uint8_t>& jpeg, int* blocksWide,
                                         int* blocksHigh);

}  // namespace wemb_test
