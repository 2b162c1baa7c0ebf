// One output row of B, G, R pixels (3 bytes, or 4 with a last byte of 255)
// straight from the component rows of the decoder, with half-resolution
// chroma up-sampled on the way: each chroma row is read once and each output
// row written once. The results are exactly those of the separate steps
// (UpsampleH2V1 or UpsampleH2V2, then YCbCrToBGR or InterleavePlanes3), which
// define them.
//
// Half-resolution chroma rows come with one border sample on each side:
// `cb[-1]` and `cb[(width + 1) / 2]` are read. No row pointer may be null and
// `width` must be positive; the callers, inside the decoder, guarantee both.
#pragma once

#include <cstdint>

// The chroma of one output row.
struct ChromaRows {
    const uint8_t* cb;
    const uint8_t* cr;
    // The half-height chroma rows farther from the output row (weight 1 of
    // the vertical filter's 3:1); null for chroma of full height.
    const uint8_t* cbFar;
    const uint8_t* crFar;
};

// YCbCr with chroma of full resolution, of half width, or of half width and
// height.
void YccRowToBgr(const uint8_t* y, const ChromaRows& chroma, uint8_t* dst, int32_t width,
                 int32_t pixelBytes);
void YccH2V1RowToBgr(const uint8_t* y, const ChromaRows& chroma, uint8_t* dst, int32_t width,
                     int32_t pixelBytes);
void YccH2V2RowToBgr(const uint8_t* y, const ChromaRows& chroma, uint8_t* dst, int32_t width,
                     int32_t pixelBytes);

// One grey plane as B = G = R.
void GreyRowToBgr(const uint8_t* grey, uint8_t* dst, int32_t width, int32_t pixelBytes);

// Adobe CMYK, whose planes hold inverted ink (255 = none), as B, G, R the
// way image viewers show it: each colour plane scaled by the K plane, R = C x
// K / 255 (G from M, B from Y), rounded to nearest.
void CmykRowToBgr(const uint8_t* c, const uint8_t* m, const uint8_t* y, const uint8_t* k,
                  uint8_t* dst, int32_t width, int32_t pixelBytes);

// Adobe YCCK: the first three planes through the YCbCr conversion give the
// inverted colour planes (C = 255 - R and so on), then as CMYK.
void YcckRowToBgr(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, const uint8_t* k,
                  uint8_t* dst, int32_t width, int32_t pixelBytes);

// Three planes R, G, B as B, G, R.
void RgbRowToBgr(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* dst,
                 int32_t width, int32_t pixelBytes);
