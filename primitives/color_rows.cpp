#include "primitives/color_rows.h"

#include "primitives/color.h"

namespace {

uint8_t Clamp255(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// The triangle filters of the up-sampling: output column j lies between
// source columns s = j / 2 and its neighbour, s - 1 for even j and s + 1 for
// odd j, weighted 3:1; vertically the near row weighs 3 and the far row 1.
// The rounding terms differ between even and odd columns so that rounding
// does not push every sample the same way.
int32_t FilterH2V1(const uint8_t* row, int32_t j) {
    const int32_t s = j / 2, odd = j & 1;
    return (3 * row[s] + row[odd ? s + 1 : s - 1] + 1 + odd) >> 2;
}

int32_t FilterH2V2(const uint8_t* near, const uint8_t* far, int32_t j) {
    const int32_t s = j / 2, odd = j & 1, n = odd ? s + 1 : s - 1;
    const int32_t columnS = 3 * near[s] + far[s];
    const int32_t columnN = 3 * near[n] + far[n];
    return (3 * columnS + columnN + 8 - odd) >> 4;
}

// Pixel j of the destination from its three channels.
void StorePixel(uint8_t* dst, int32_t j, int32_t pixelBytes, uint8_t b, uint8_t g, uint8_t r) {
    uint8_t* p = dst + j * pixelBytes;
    p[0] = b, p[1] = g, p[2] = r;
    if (pixelBytes == 4) p[3] = 255;
}

// The YCbCr conversion of one pixel, in the fixed point of the colour
// tables.
void StoreYcc(uint8_t* dst, int32_t j, int32_t pixelBytes, int32_t y, int32_t cb, int32_t cr) {
    StorePixel(dst, j, pixelBytes, Clamp255(y + CbToB[cb]), Clamp255(y + ((CbToG[cb] + CrToG[cr]) >> 16)),
               Clamp255(y + CrToR[cr]));
}

// a x b / 255 rounded to nearest, for a and b of 0..255: 255 is odd, so no
// quotient lies halfway and adding 127 before the division rounds.
uint8_t ScaleByInk(int32_t a, int32_t b) { return static_cast<uint8_t>((a * b + 127) / 255); }

}  // namespace

void YccRowToBgr(const uint8_t* y, const ChromaRows& chroma, uint8_t* dst, int32_t width,
                 int32_t pixelBytes) {
    for (int32_t j = 0; j < width; ++j) {
        StoreYcc(dst, j, pixelBytes, y[j], chroma.cb[j], chroma.cr[j]);
    }
}

void YccH2V1RowToBgr(const uint8_t* y, const ChromaRows& chroma, uint8_t* dst, int32_t width,
                     int32_t pixelBytes) {
    for (int32_t j = 0; j < width; ++j) {
        StoreYcc(dst, j, pixelBytes, y[j], FilterH2V1(chroma.cb, j), FilterH2V1(chroma.cr, j));
    }
}

void YccH2V2RowToBgr(const uint8_t* y, const ChromaRows& chroma, uint8_t* dst, int32_t width,
                     int32_t pixelBytes) {
    for (int32_t j = 0; j < width; ++j) {
        StoreYcc(dst, j, pixelBytes, y[j], FilterH2V2(chroma.cb, chroma.cbFar, j),
                 FilterH2V2(chroma.cr, chroma.crFar, j));
    }
}

void GreyRowToBgr(const uint8_t* grey, uint8_t* dst, int32_t width, int32_t pixelBytes) {
    for (int32_t j = 0; j < width; ++j) {
        StorePixel(dst, j, pixelBytes, grey[j], grey[j], grey[j]);
    }
}

void CmykRowToBgr(const uint8_t* c, const uint8_t* m, const uint8_t* y, const uint8_t* k,
                  uint8_t* dst, int32_t width, int32_t pixelBytes) {
    for (int32_t j = 0; j < width; ++j) {
        StorePixel(dst, j, pixelBytes, ScaleByInk(y[j], k[j]), ScaleByInk(m[j], k[j]), ScaleByInk(c[j], k[j]));
    }
}

void YcckRowToBgr(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, const uint8_t* k,
                  uint8_t* dst, int32_t width, int32_t pixelBytes) {
    for (int32_t j = 0; j < width; ++j) {
        const int32_t luma = y[j];
        const int32_t red = Clamp255(luma + CrToR[cr[j]]);
        const int32_t green = Clamp255(luma + ((CbToG[cb[j]] + CrToG[cr[j]]) >> 16));
        const int32_t blue = Clamp255(luma + CbToB[cb[j]]);
        StorePixel(dst, j, pixelBytes, ScaleByInk(255 - blue, k[j]), ScaleByInk(255 - green, k[j]),
                   ScaleByInk(255 - red, k[j]));
    }
}

void RgbRowToBgr(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint8_t* dst,
                 int32_t width, int32_t pixelBytes) {
    for (int32_t j = 0; j < width; ++j) {
        StorePixel(dst, j, pixelBytes, b[j], g[j], r[j]);
    }
}
