#include "primitives/color.h"

#include <cstddef>
#include <cstring>

#include "primitives/kernels.h"
#include "primitives/scalar_kernels.h"

// ---------------------------------------------------------------------------
// Colour tables: JFIF YCbCr -> RGB in 16-bit fixed point (1.402, 1.772,
// 0.71414 and 0.34414 times 65536, rounded). R and B carry their rounding
// half and are already shifted; the two green terms are summed first and
// shifted once, so CbToG alone carries the half.

namespace {

constexpr int32_t CrToREntry(int32_t i) { return (91881 * (i - 128) + 32768) >> 16; }
constexpr int32_t CbToBEntry(int32_t i) { return (116130 * (i - 128) + 32768) >> 16; }
constexpr int32_t CrToGEntry(int32_t i) { return -46802 * (i - 128); }
constexpr int32_t CbToGEntry(int32_t i) { return -22554 * (i - 128) + 32768; }

}  // namespace

#define WEMB_ENTRIES16(f, i)                                                                  \
    f(i), f(i + 1), f(i + 2), f(i + 3), f(i + 4), f(i + 5), f(i + 6), f(i + 7), f(i + 8),   \
        f(i + 9), f(i + 10), f(i + 11), f(i + 12), f(i + 13), f(i + 14), f(i + 15)
#define WEMB_ENTRIES256(f)                                                                      \
    WEMB_ENTRIES16(f, 0), WEMB_ENTRIES16(f, 16), WEMB_ENTRIES16(f, 32), WEMB_ENTRIES16(f, 48),  \
        WEMB_ENTRIES16(f, 64), WEMB_ENTRIES16(f, 80), WEMB_ENTRIES16(f, 96),                    \
        WEMB_ENTRIES16(f, 112), WEMB_ENTRIES16(f, 128), WEMB_ENTRIES16(f, 144),                 \
        WEMB_ENTRIES16(f, 160), WEMB_ENTRIES16(f, 176), WEMB_ENTRIES16(f, 192),                 \
        WEMB_ENTRIES16(f, 208), WEMB_ENTRIES16(f, 224), WEMB_ENTRIES16(f, 240)

constexpr int32_t CrToR[256] = {WEMB_ENTRIES256(CrToREntry)};
constexpr int32_t CbToB[256] = {WEMB_ENTRIES256(CbToBEntry)};
constexpr int32_t CrToG[256] = {WEMB_ENTRIES256(CrToGEntry)};
constexpr int32_t CbToG[256] = {WEMB_ENTRIES256(CbToGEntry)};

#undef WEMB_ENTRIES256
#undef WEMB_ENTRIES16

static_assert(CrToR[0] == -179 && CrToR[128] == 0 && CrToR[255] == 178, "CrToR range");
static_assert(CbToB[0] == -227 && CbToB[128] == 0 && CbToB[255] == 225, "CbToB range");
static_assert(CrToG[0] == 5990656 && CrToG[255] == -5943854, "CrToG range");
static_assert(CbToG[0] == 2919680 && CbToG[128] == 32768 && CbToG[255] == -2831590,
              "CbToG range");

// ---------------------------------------------------------------------------
// The portable row kernels.

namespace {

template <int kChannels>
void InterleaveRow(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    for (size_t j = 0; j < count; ++j) {
        for (int c = 0; c < kChannels; ++c) {
            dst[j * kChannels + c] = rows[c][j];
        }
    }
}

uint8_t Clamp255(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Output byte orders of the colour transforms.
enum class Layout { Bgr, Rgb, Cmyk };

template <Layout kLayout>
void ConvertRow(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    for (size_t j = 0; j < count; ++j) {
        const int32_t y = rows[0][j], cb = rows[1][j], cr = rows[2][j];
        const uint8_t r = Clamp255(y + CrToR[cr]);
        const uint8_t g = Clamp255(y + ((CbToG[cb] + CrToG[cr]) >> 16));
        const uint8_t b = Clamp255(y + CbToB[cb]);
        if (kLayout == Layout::Bgr) {
            uint8_t* p = dst + 3 * j;
            p[0] = b, p[1] = g, p[2] = r;
        } else if (kLayout == Layout::Rgb) {
            uint8_t* p = dst + 3 * j;
            p[0] = r, p[1] = g, p[2] = b;
        } else {
            uint8_t* p = dst + 4 * j;
            p[0] = static_cast<uint8_t>(255 - r), p[1] = static_cast<uint8_t>(255 - g);
            p[2] = static_cast<uint8_t>(255 - b), p[3] = rows[3][j];
        }
    }
}

}  // namespace

void Interleave3RowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    InterleaveRow<3>(rows, dst, count);
}

void Interleave4RowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    InterleaveRow<4>(rows, dst, count);
}

void YccToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    ConvertRow<Layout::Bgr>(rows, dst, count);
}

void YccToRgbRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    ConvertRow<Layout::Rgb>(rows, dst, count);
}

void YcckToCmykRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    ConvertRow<Layout::Cmyk>(rows, dst, count);
}

// ---------------------------------------------------------------------------
// The primitives: checks, then the rows through the active kernels.

namespace {

// Where pixel j of row i of a plane or destination starts.
const uint8_t* RowOf(const uint8_t* base, int32_t step, size_t row) {
    return base + static_cast<ptrdiff_t>(row) * step;
}
uint8_t* RowOf(uint8_t* base, int32_t step, size_t row) {
    return base + static_cast<ptrdiff_t>(row) * step;
}

// Rows of one call. When the source rows are exactly `width` bytes apart and
// the destination rows exactly `channels` x `width`, the image is one long
// row; that saves the per-row overhead and gives the same bytes.
struct Extent {
    size_t rowLength;
    size_t rows;
};

Extent ExtentOf(int32_t srcStep, int32_t dstStep, int32_t channels, int32_t width, int32_t height) {
    if (srcStep == width && static_cast<int64_t>(dstStep) == int64_t{channels} * srcStep) {
        return {static_cast<size_t>(width) * static_cast<size_t>(height), 1};
    }
    return {static_cast<size_t>(width), static_cast<size_t>(height)};
}

PrimitiveStatus CheckPlanes(const uint8_t* const* planes, int32_t count, const uint8_t* dst) {
    if (planes == nullptr || dst == nullptr) {
        return PrimErrNullPointer;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (planes[i] == nullptr) {
            return PrimErrNullPointer;
        }
    }
    return PrimOk;
}

PrimitiveStatus CheckSteps(int32_t srcStep, int32_t dstStep) {
    return srcStep <= 0 || dstStep <= 0 ? PrimErrBadStep : PrimOk;
}

PrimitiveStatus CheckSize(int32_t width, int32_t height) {
    return width <= 0 || height <= 0 ? PrimErrBadSize : PrimOk;
}

// Where row `row` of each plane starts, in plane order.
struct SourceRows {
    const uint8_t* plane[4];
};

SourceRows SourceRowsOf(const uint8_t* const* planes, int32_t count, int32_t step, size_t row) {
    SourceRows rows = {};
    for (int32_t c = 0; c < count; ++c) {
        rows.plane[c] = RowOf(planes[c], step, row);
    }
    return rows;
}

using PlaneRowsKernel = void (*)(const uint8_t* const* rows, uint8_t* dst, size_t count);

// Every row of one call through one row kernel.
void ForEachRow(PlaneRowsKernel kernel, const uint8_t* const* planes, int32_t planeCount, int32_t channels,
                int32_t srcStep, uint8_t* dst, int32_t dstStep, int32_t width, int32_t height) {
    const Extent extent = ExtentOf(srcStep, dstStep, channels, width, height);
    for (size_t i = 0; i < extent.rows; ++i) {
        kernel(SourceRowsOf(planes, planeCount, srcStep, i).plane, RowOf(dst, dstStep, i), extent.rowLength);
    }
}

PrimitiveStatus Interleave(const uint8_t* const* planes, int32_t channels, int32_t srcStep,
                           uint8_t* dst, int32_t dstStep, int32_t width, int32_t height) {
    PrimitiveStatus status = CheckPlanes(planes, channels, dst);
    if (status == PrimOk) {
        status = CheckSize(width, height);
    }
    if (status != PrimOk) {
        return status;
    }
    const Kernels& kernels = ActiveKernels();
    ForEachRow(channels == 3 ? kernels.interleave3Row : kernels.interleave4Row, planes, channels, channels, srcStep,
               dst, dstStep, width, height);
    return PrimOk;
}

PrimitiveStatus Convert(const uint8_t* const* planes, int32_t planeCount, PlaneRowsKernel kernel,
                        int32_t srcStep, uint8_t* dst, int32_t dstStep, int32_t width,
                        int32_t height) {
    PrimitiveStatus status = CheckPlanes(planes, planeCount, dst);
    if (status == PrimOk) {
        status = CheckSteps(srcStep, dstStep);
    }
    if (status == PrimOk) {
        status = CheckSize(width, height);
    }
    if (status != PrimOk) {
        return status;
    }
    ForEachRow(kernel, planes, planeCount, planeCount == 4 ? 4 : 3, srcStep, dst, dstStep, width, height);
    return PrimOk;
}

}  // namespace

PrimitiveStatus CopyPlane8u(const uint8_t* src, int32_t srcStep, uint8_t* dst, int32_t dstStep,
                            int32_t width, int32_t height) {
    if (src == nullptr || dst == nullptr) {
        return PrimErrNullPointer;
    }
    const PrimitiveStatus status = CheckSize(width, height);
    if (status != PrimOk) {
        return status;
    }
    const Extent extent = ExtentOf(srcStep, dstStep, 1, width, height);
    for (size_t i = 0; i < extent.rows; ++i) {
        std::memcpy(RowOf(dst, dstStep, i), RowOf(src, srcStep, i), extent.rowLength);
    }
    return PrimOk;
}

PrimitiveStatus InterleavePlanes3(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                                  int32_t dstStep, int32_t width, int32_t height) {
    return Interleave(planes, 3, srcStep, dst, dstStep, width, height);
}

PrimitiveStatus InterleavePlanes4(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                                  int32_t dstStep, int32_t width, int32_t height) {
    return Interleave(planes, 4, srcStep, dst, dstStep, width, height);
}

PrimitiveStatus YCbCrToBGR(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                           int32_t dstStep, int32_t width, int32_t height) {
    return Convert(planes, 3, ActiveKernels().yccToBgrRow, srcStep, dst, dstStep, width, height);
}

PrimitiveStatus YCbCrToRGB(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                           int32_t dstStep, int32_t width, int32_t height) {
    return Convert(planes, 3, ActiveKernels().yccToRgbRow, srcStep, dst, dstStep, width, height);
}

PrimitiveStatus YCCKToCMYK(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                           int32_t dstStep, int32_t width, int32_t height) {
    return Convert(planes, 4, ActiveKernels().ycckToCmykRow, srcStep, dst, dstStep, width, height);
}
