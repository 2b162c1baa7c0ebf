// The tests' outside reference: libjpeg-turbo decodes a stream into the same
// layouts the codec writes, and helpers compare two pictures and find test data.
//
// libjpeg runs with its default settings (JDCT_ISLOW, fancy up-sampling) but
// without block smoothing (which invents coefficients for an unfinished
// progressive frame). Its
// warnings count as failures by default, so a truncated or damaged stream is
// reported instead of being patched up silently.
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

// The bytes of testdata/NAME (a test failure if it cannot be read).
std::vector<uint8_t> Testdata(const std::string& name);

// Names (not paths) of the testdata streams (*.jpg), sorted.
std::vector<std::string> ListTestdata();

}  // namespace wemb_test
