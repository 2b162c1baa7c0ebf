// The portable B, G, R row kernels: compositions of the portable up-sampling
// and conversion kernels, a short run of pixels at a time through buffers
// on the stack, so that each filter and each conversion is defined once
// (upsample.cpp, color.cpp). The vector kernels fuse the same steps.
#include <algorithm>
#include <cstring>

#include "primitives/scalar_kernels.h"

namespace {

// Pixels converted per run.
constexpr size_t kRun = 64;

// a x b / 255 rounded to nearest, for a and b of 0..255: 255 is odd, so no
// quotient lies halfway and adding 127 before the division rounds.
uint8_t ScaleByInk(uint32_t a, uint32_t b) { return static_cast<uint8_t>((a * b + 127) / 255); }

// `count` B, G, R pixels of `bgr` into dst as kPixelBytes-byte pixels.
template <int kPixelBytes>
void PutPixels(const uint8_t* bgr, uint8_t* dst, size_t count) {
    if (kPixelBytes == 3) {
        std::memcpy(dst, bgr, 3 * count);
        return;
    }
    for (size_t j = 0; j < count; ++j) {
        dst[4 * j] = bgr[3 * j];
        dst[4 * j + 1] = bgr[3 * j + 1];
        dst[4 * j + 2] = bgr[3 * j + 2];
        dst[4 * j + 3] = 255;
    }
}

// Runs `convert(from, n, bgr)` over the row in runs of kRun pixels, each
// converting pixels from..from + n - 1 into the B, G, R buffer.
template <int kPixelBytes, typename Convert>
void InRuns(uint8_t* dst, size_t count, Convert convert) {
    uint8_t bgr[3 * kRun];
    for (size_t from = 0; from < count; from += kRun) {
        const size_t n = std::min(kRun, count - from);
        convert(from, n, bgr);
        PutPixels<kPixelBytes>(bgr, dst + kPixelBytes * from, n);
    }
}

// CMYK samples (C, M, Y, K a pixel) into B, G, R.
void InkToBgr(const uint8_t* cmyk, uint8_t* bgr, size_t count) {
    for (size_t j = 0; j < count; ++j) {
        const uint8_t* p = cmyk + 4 * j;
        bgr[3 * j] = ScaleByInk(p[2], p[3]);
        bgr[3 * j + 1] = ScaleByInk(p[1], p[3]);
        bgr[3 * j + 2] = ScaleByInk(p[0], p[3]);
    }
}

}  // namespace

template <int kPixelBytes>
void GreyToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    InRuns<kPixelBytes>(dst, count, [rows](size_t from, size_t n, uint8_t* bgr) {
        const uint8_t* grey = rows[0] + from;
        const uint8_t* planes[3] = {grey, grey, grey};
        Interleave3RowScalar(planes, bgr, n);
    });
}

template <int kPixelBytes>
void RgbToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    InRuns<kPixelBytes>(dst, count, [rows](size_t from, size_t n, uint8_t* bgr) {
        const uint8_t* planes[3] = {rows[2] + from, rows[1] + from, rows[0] + from};
        Interleave3RowScalar(planes, bgr, n);
    });
}

template <int kPixelBytes>
void YccToBgrxRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    InRuns<kPixelBytes>(dst, count, [rows](size_t from, size_t n, uint8_t* bgr) {
        const uint8_t* planes[3] = {rows[0] + from, rows[1] + from, rows[2] + from};
        YccToBgrRowScalar(planes, bgr, n);
    });
}

// Runs start on even pixels, so that the half-resolution chroma of a run
// starts on its own source sample.
template <int kPixelBytes>
void YccH2V1ToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    InRuns<kPixelBytes>(dst, count, [rows](size_t from, size_t n, uint8_t* bgr) {
        uint8_t cb[kRun], cr[kRun];
        UpsampleH2V1RowScalar(rows[1] + from / 2, cb, n);
        UpsampleH2V1RowScalar(rows[2] + from / 2, cr, n);
        const uint8_t* planes[3] = {rows[0] + from, cb, cr};
        YccToBgrRowScalar(planes, bgr, n);
    });
}

template <int kPixelBytes>
void YccH2V2ToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    InRuns<kPixelBytes>(dst, count, [rows](size_t from, size_t n, uint8_t* bgr) {
        uint8_t cb[kRun], cr[kRun];
        UpsampleH2V2RowScalar(rows[1] + from / 2, rows[3] + from / 2, cb, n);
        UpsampleH2V2RowScalar(rows[2] + from / 2, rows[4] + from / 2, cr, n);
        const uint8_t* planes[3] = {rows[0] + from, cb, cr};
        YccToBgrRowScalar(planes, bgr, n);
    });
}

template <int kPixelBytes>
void CmykToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    InRuns<kPixelBytes>(dst, count, [rows](size_t from, size_t n, uint8_t* bgr) {
        uint8_t cmyk[4 * kRun];
        const uint8_t* planes[4] = {rows[0] + from, rows[1] + from, rows[2] + from, rows[3] + from};
        Interleave4RowScalar(planes, cmyk, n);
        InkToBgr(cmyk, bgr, n);
    });
}

template <int kPixelBytes>
void YcckToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    InRuns<kPixelBytes>(dst, count, [rows](size_t from, size_t n, uint8_t* bgr) {
        uint8_t cmyk[4 * kRun];
        const uint8_t* planes[4] = {rows[0] + from, rows[1] + from, rows[2] + from, rows[3] + from};
        YcckToCmykRowScalar(planes, cmyk, n);
        InkToBgr(cmyk, bgr, n);
    });
}

#define WEMB_BGR_ROW_KERNELS(kPixelBytes)                                                                   \
    template void GreyToBgrRowScalar<kPixelBytes>(const uint8_t* const*, uint8_t*, size_t);             \
    template void RgbToBgrRowScalar<kPixelBytes>(const uint8_t* const*, uint8_t*, size_t);              \
    template void YccToBgrxRowScalar<kPixelBytes>(const uint8_t* const*, uint8_t*, size_t);             \
    template void YccH2V1ToBgrRowScalar<kPixelBytes>(const uint8_t* const*, uint8_t*, size_t);          \
    template void YccH2V2ToBgrRowScalar<kPixelBytes>(const uint8_t* const*, uint8_t*, size_t);          \
    template void CmykToBgrRowScalar<kPixelBytes>(const uint8_t* const*, uint8_t*, size_t);             \
    template void YcckToBgrRowScalar<kPixelBytes>(const uint8_t* const*, uint8_t*, size_t);
WEMB_BGR_ROW_KERNELS(3)
WEMB_BGR_ROW_KERNELS(4)
#undef WEMB_BGR_ROW_KERNELS
