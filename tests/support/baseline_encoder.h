// A minimal baseline JPEG encoder for tests: sample planes in, a valid
// sequential (SOF0 or SOF1) interchange stream out, coded with the Annex K
// Huffman tables in one interleaved scan, with an optional restart interval.
//
// It favours obviousness over speed: a double-precision forward DCT straight
// from T.81 A.3.3, rounding quantization, and the Huffman procedures of
// T.81 Annex C and F.1.2. Tests use it to make streams with exact properties
// (one-row pictures, Ri = 1, a chosen quantization table, Adobe transforms)
// without external tools.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "support/jpeg_stream.h"

namespace wemb_test {

// One component's samples at its own resolution (T.81 A.1.1: a component with
// factors H, V of a frame of X x Y samples and maxima Hmax, Vmax holds
// ceil(X * H / Hmax) x ceil(Y * V / Vmax) samples).
struct SamplePlane {
    int32_t width = 0;
    int32_t height = 0;
    uint8_t h = 1;  // sampling factors, 1 or 2
    uint8_t v = 1;
    std::vector<uint8_t> samples;  // width * height, row-major

    uint8_t At(int32_t x, int32_t y) const { return samples[static_cast<size_t>(y) * width + x]; }
};

// ceil(size * factor / maxFactor): a component's extent along one axis.
inline int32_t ComponentExtent(int32_t size, int factor, int maxFactor) {
    return (size * factor + maxFactor - 1) / maxFactor;
}

// A plane of the given size and factors filled with f(x, y).
SamplePlane MakePlane(int32_t width, int32_t height, uint8_t h, uint8_t v,
                      const std::function<uint8_t(int32_t x, int32_t y)>& f);

// Box-filtered reduction of a full-resolution plane by fx, fy (1 or 2), with
// rounding; edge boxes average the samples that exist. The result carries
// factors h, v.
SamplePlane Downsample(const SamplePlane& full, int fx, int fy, uint8_t h, uint8_t v);

struct BaselineOptions {
    // Natural-order tables. Component 0 uses table 0; the others use table 1
    // when there is one, else table 0. A table with an entry above 255 is
    // written with 16-bit entries (Pq = 1).
    std::vector<QuantValues> quantTables = {kAnnexKLuminanceQuant, kAnnexKChrominanceQuant};
    uint16_t restartInterval = 0;  // in MCUs; 0: no DRI segment
    int adobeTransform = -1;       // 0, 1 or 2 writes an Adobe APP14; -1 writes none
    bool jfif = false;             // write an APP0 JFIF segment
    uint8_t sofCode = kSof0;       // kSof0 or kSof1
};

// Encodes a frame of width x height samples with 1 to 4 components (ids 1..N).
// Component 0 is coded with the Annex K luminance Huffman tables (slot 0), the
// others with the chrominance tables (slot 1). Plane sizes must match
// ComponentExtent for the frame's factors; the edge of each plane is repeated
// to fill the last blocks. No planes, more than four, or no quantization table
// give an empty result.
std::vector<uint8_t> EncodeBaseline(int32_t width, int32_t height,
                                    const std::vector<SamplePlane>& planes,
                                    const BaselineOptions& options = {});

}  // namespace wemb_test
