// Status codes and enumerations shared by the decoder and its callers.
#pragma once

#include <cstdint>

// Result of every decoder operation. The first non-zero code met is passed
// up unchanged through every level of the decoder.
enum DecoderStatus : int32_t {
    DecOk = 0,
    DecErrUnsupported = -1,            // coding process, precision or layout not supported
    DecErrFailed = -2,                 // a primitive or an allocation failed
    DecErrEndOfData = -3,              // the data ended before the stream did
    DecErrBadHuffmanSegment = -4,      // DHT counts exceed 256 or the segment
    DecErrBadQuantTableId = -5,        // DQT table id above 3
    DecErrBadScanComponentCount = -6,  // SOS with Ns of 0 or above 4
    DecErrBadLength = -7,              // a segment length that does not match its content
    DecErrUnknownComponent = -8,       // SOS names a component the frame does not have
    DecErrBadGreySampling = -9,        // one-component frame not sampled 1x1
    DecErrBadFrameComponents = -10,    // more than 4 components, or a zero factor
};

// Colour model of the JPEG data and of the destination.
enum ColorModel : int32_t {
    ColorUnknown = 0,
    ColorGrey = 1,
    ColorRGB = 2,
    ColorBGR = 3,
    ColorYCbCr = 4,
    ColorCMYK = 5,
    ColorYCCK = 6,
    ColorBGRA = 7,  // destinations only: B, G, R and a fourth byte of 255
};

// Sampling structure of a frame.
enum SamplingMode : int32_t {
    SamplingFull = 0,         // every component 1x1
    SamplingHalfH = 1,        // 2x1, 1x1, 1x1 (and 2x1): 4:2:2
    SamplingHalfHV = 2,       // 2x2, 1x1, 1x1 (and 2x2): 4:2:0
    SamplingUnsupported = 3,  // anything else; refused at the first scan
};

// Whether frame component `component` is chroma held at half resolution:
// components 1 and 2 of any frame not sampled SamplingFull (4:2:2 chroma is
// half width, 4:2:0 chroma half width and half height).
constexpr bool IsHalfResolutionChroma(SamplingMode samplingMode, int32_t component) {
    return samplingMode != SamplingFull && (component == 1 || component == 2);
}
