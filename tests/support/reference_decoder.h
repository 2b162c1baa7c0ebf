// The tests' outside reference: libjpeg-turbo decodes a stream into the same
// layouts the codec writes, and helpers compare two pictures and find test data.
//
// libjpeg runs with its default settings (JDCT_ISLOW, fancy up-sampling). Its
// warnings count as failures by default, so a truncated or damaged stream is
// reported instead of being patched up silently.
#pragma once

#include <cstddef>
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
    int32_t channels = 0;  // bytes per pixel
    int32_t rowStep = 0;   // bytes per row: width * channels rounded up to a multiple of 4
    int32_t components = 0;    // components in the frame
    bool progressive = false;  // an SOF2 frame
    std::vector<uint8_t> pixels;  // rowStep * height bytes; row padding is zero

    const uint8_t* Row(int32_t bufferRow) const { return pixels.data() + static_cast<size_t>(bufferRow) * rowStep; }
};

struct ReferenceOptions {
    ReferenceLayout layout = ReferenceLayout::kBgrBottomUp;
    bool warningsAreErrors = true;
};

// Decodes `size` bytes at `data`. On failure returns false, leaves `image`
// empty and puts libjpeg's message in `error` (when not null).
bool DecodeReference(const uint8_t* data, size_t size, const ReferenceOptions& options,
                     ReferenceImage* image, std::string* error = nullptr);

inline bool DecodeReference(const std::vector<uint8_t>& data, const ReferenceOptions& options,
                            ReferenceImage* image, std::string* error = nullptr) {
    return DecodeReference(data.data(), data.size(), options, image, error);
}

// Bytes per row of a 24-bit picture: width * 3 rounded up to a multiple of 4.
inline int32_t RowStep24(int32_t width) { return (width * 3 + 3) & ~3; }

// Differences between two pictures of the same size and layout, counted over
// the first width * channels bytes of every row (row padding is ignored).
struct ImageDifference {
    int maxAbs = 0;               // largest absolute difference of two samples
    double psnr = 0.0;            // 10 log10(255^2 / MSE); +infinity when equal
    int64_t differingSamples = 0;
    int32_t firstX = -1;          // pixel of the first differing sample, -1 if none
    int32_t firstY = -1;          // (buffer row)
};

ImageDifference CompareImages(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height,
                              int32_t rowStep, int32_t channels = 3);
int MaxAbsDifference(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height,
                     int32_t rowStep, int32_t channels = 3);
double Psnr(const uint8_t* a, const uint8_t* b, int32_t width, int32_t height, int32_t rowStep,
            int32_t channels = 3);

// Whole file into `out`; false if it cannot be read.
bool ReadFile(const std::string& path, std::vector<uint8_t>* out);

// testdata/NAME (WEMB_TESTDATA_DIR is given by tests/CMakeLists.txt).
std::string TestdataPath(const std::string& name);

// Names (not paths) of the testdata files that end with `suffix`, sorted.
std::vector<std::string> ListTestdata(const std::string& suffix = ".jpg");

}  // namespace wemb_test
