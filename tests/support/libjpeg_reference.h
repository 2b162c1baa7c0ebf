// libjpeg (the system's libjpeg-turbo) as an outside reference for tests:
// encodes test pictures, reads back the quantized coefficients it wrote, and
// supplies the example tables of T.81 Annex K (declared in jpeg_stream.h).
#pragma once

#include <cstdint>
#include <vector>

namespace testing_support {

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

}  // namespace testing_support
