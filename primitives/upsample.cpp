#include "primitives/upsample.h"

#include <cstddef>
#include <cstring>

#include "primitives/kernels.h"
#include "primitives/scalar_kernels.h"

namespace {

PrimitiveStatus CheckPlane(const uint8_t* plane, int32_t step, int32_t width, int32_t height) {
    if (plane == nullptr) {
        return PrimErrNullPointer;
    }
    if (step <= 0) {
        return PrimErrBadStep;
    }
    if (width <= 0 || height <= 0) {
        return PrimErrBadSize;
    }
    return PrimOk;
}

PrimitiveStatus CheckFilter(const uint8_t* src, int32_t srcStep, int32_t srcWidth,
                            int32_t srcHeight, const uint8_t* dst, int32_t dstStep,
                            int32_t dstWidth, int32_t dstHeight) {
    const PrimitiveStatus status = CheckPlane(src, srcStep, srcWidth, srcHeight);
    return status != PrimOk ? status : CheckPlane(dst, dstStep, dstWidth, dstHeight);
}

}  // namespace

// ---------------------------------------------------------------------------
// The portable row kernels. Output column j lies between source columns
// s = j / 2 and its neighbour n: s - 1 for even j, s + 1 for odd j, weighted
// 3:1. The rounding terms differ between even and odd columns (1 and 2
// horizontally, 8 and 7 in both directions), so that the rounding does not
// push every sample the same way.

void UpsampleH2V1RowScalar(const uint8_t* src, uint8_t* dst, size_t width) {
    // Signed columns: the neighbour of column 0 is source column -1.
    for (ptrdiff_t j = 0; j < static_cast<ptrdiff_t>(width); ++j) {
        const ptrdiff_t s = j / 2;
        const int32_t odd = j & 1;
        const ptrdiff_t neighbour = odd ? s + 1 : s - 1;
        dst[j] = static_cast<uint8_t>((3 * src[s] + src[neighbour] + 1 + odd) >> 2);
    }
}

// The near source row weighs 3, the far one 1; each column pair is blended
// first.
void UpsampleH2V2RowScalar(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst, size_t width) {
    for (ptrdiff_t j = 0; j < static_cast<ptrdiff_t>(width); ++j) {
        const ptrdiff_t s = j / 2;
        const int32_t odd = j & 1;
        const ptrdiff_t n = odd ? s + 1 : s - 1;
        const int32_t columnS = 3 * nearRow[s] + farRow[s];
        const int32_t columnN = 3 * nearRow[n] + farRow[n];
        dst[j] = static_cast<uint8_t>((3 * columnS + columnN + 8 - odd) >> 4);
    }
}

// ---------------------------------------------------------------------------
// The primitives: checks, then the rows through the active kernels.

PrimitiveStatus UpsampleH2V1(const uint8_t* src, int32_t srcStep, int32_t srcWidth,
                             int32_t srcHeight, uint8_t* dst, int32_t dstStep, int32_t dstWidth,
                             int32_t dstHeight) {
    const PrimitiveStatus status =
        CheckFilter(src, srcStep, srcWidth, srcHeight, dst, dstStep, dstWidth, dstHeight);
    if (status != PrimOk) {
        return status;
    }
    const auto row = ActiveKernels().upsampleH2V1Row;
    for (int32_t i = 0; i < dstHeight; ++i) {
        row(src + static_cast<ptrdiff_t>(i) * srcStep, dst + static_cast<ptrdiff_t>(i) * dstStep,
            static_cast<size_t>(dstWidth));
    }
    return PrimOk;
}

PrimitiveStatus UpsampleH2V2(const uint8_t* src, int32_t srcStep, int32_t srcWidth,
                             int32_t srcHeight, uint8_t* dst, int32_t dstStep, int32_t dstWidth,
                             int32_t dstHeight) {
    const PrimitiveStatus status =
        CheckFilter(src, srcStep, srcWidth, srcHeight, dst, dstStep, dstWidth, dstHeight);
    if (status != PrimOk) {
        return status;
    }
    const auto row = ActiveKernels().upsampleH2V2Row;
    for (int32_t i = 0; i < dstHeight; ++i) {
        // The far row is the one above the near row for even output rows and
        // the one below for odd rows; row 0 reads the border row above.
        const uint8_t* near = src + static_cast<ptrdiff_t>(i / 2) * srcStep;
        const uint8_t* far = (i & 1) ? near + srcStep : near - srcStep;
        row(near, far, dst + static_cast<ptrdiff_t>(i) * dstStep, static_cast<size_t>(dstWidth));
    }
    return PrimOk;
}
