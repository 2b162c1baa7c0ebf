// libjpeg (the system's libjpeg-turbo) as an outside reference for tests:
// encodes test pictures and reads back the quantized coefficients it wrote.
#pragma once

#include <cstdint>
#include <vector>

namespace testing_support {

// A JPEG stream of an 8-bit picture (1 component: grey, 3: RGB) with
// libjpeg's default tables (the Annex K ones for sequential coding; progressive
// coding makes libjpeg compute its own) and, if asked, its standard
// progression of scans.
std::vector<uint8_t> LibjpegCompress(const std::vector<uint8_t>& pixels, int width, int height,
                                     int components, int quality, bool progressive);

// The quantized coefficients of a one-component stream, one 64-entry block
// (natural order) after another in raster order.
std::vector<int16_t> LibjpegCoefficients(const std::vector<uint8_t>& jpeg, int* blocksWide,
                                         int* blocksHigh);

}  // namespace testing_support
