// The up-sampling row kernels for x86, written once over a vector type V
// (Vector128 or Vector256). A group makes V::kBytes output columns from
// V::kBytes / 2 source columns in 16-bit lanes (the largest sum, 16 x 255 +
// 8, fits easily); a group starting at output column j reads source columns
// j / 2 - 1 to j / 2 + V::kBytes / 2, all inside what the whole row reads
// when j + V::kBytes <= width. The widening keeps the columns in order, and
// the byte pack and interleave work within each 128-bit half, which holds
// consecutive source columns: the output stays in order at either width.
//
// Included only by the per-level kernel files; everything is inside an
// unnamed namespace (see vector128.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "primitives/scalar_kernels.h"
#include "primitives/x86/vector128.h"

namespace {

template <class V>
WEMB_VECTOR_INLINE typename V::Vec Times3(typename V::Vec v) {
    return V::Add16(V::Add16(v, v), v);
}

// Even output columns from `even`, odd ones from `odd`, as bytes.
template <class V>
WEMB_VECTOR_INLINE void StoreEvenOdd(uint8_t* dst, typename V::Vec even, typename V::Vec odd) {
    V::Store(dst, V::UnpackLo8(V::PackUnsigned16(even, even), V::PackUnsigned16(odd, odd)));
}

// Output columns from..width - 1 in whole groups; returns where the groups
// stopped. Output column j lies between source columns s = j / 2 and its
// neighbour: s - 1 for even j, s + 1 for odd j, weighted 3:1 (both ways 3:1
// for H2V2), with rounding terms 1 and 2 (8 and 7 for H2V2).
template <class V>
WEMB_VECTOR_INLINE size_t H2V1Groups(const uint8_t* src, uint8_t* dst, size_t from, size_t width) {
    using Vec = typename V::Vec;
    const Vec one = V::Set16(1), two = V::Set16(2);
    size_t j = from;
    for (; j + V::kBytes <= width; j += V::kBytes) {
        const uint8_t* s = src + j / 2;
        const Vec centre = Times3<V>(V::LoadWidened(s));
        const Vec even = V::template ShiftRightLogical16<2>(V::Add16(V::Add16(centre, V::LoadWidened(s - 1)), one));
        const Vec odd = V::template ShiftRightLogical16<2>(V::Add16(V::Add16(centre, V::LoadWidened(s + 1)), two));
        StoreEvenOdd<V>(dst + j, even, odd);
    }
    return j;
}

template <class V>
WEMB_VECTOR_INLINE size_t H2V2Groups(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst, size_t from,
                                     size_t width) {
    using Vec = typename V::Vec;
    const Vec seven = V::Set16(7), eight = V::Set16(8);
    size_t j = from;
    for (; j + V::kBytes <= width; j += V::kBytes) {
        const size_t s = j / 2;
        // Each source column pair blended vertically first, 3:1.
        const Vec left = V::Add16(Times3<V>(V::LoadWidened(nearRow + s - 1)), V::LoadWidened(farRow + s - 1));
        const Vec centre = V::Add16(Times3<V>(V::LoadWidened(nearRow + s)), V::LoadWidened(farRow + s));
        const Vec right = V::Add16(Times3<V>(V::LoadWidened(nearRow + s + 1)), V::LoadWidened(farRow + s + 1));
        const Vec centre3 = Times3<V>(centre);
        const Vec even = V::template ShiftRightLogical16<4>(V::Add16(V::Add16(centre3, left), eight));
        const Vec odd = V::template ShiftRightLogical16<4>(V::Add16(V::Add16(centre3, right), seven));
        StoreEvenOdd<V>(dst + j, even, odd);
    }
    return j;
}

// Output columns done..width - 1 by the scalar kernels; `done` is even, so
// the rest starts on source column done / 2.
WEMB_VECTOR_INLINE void FinishH2V1(const uint8_t* src, uint8_t* dst, size_t done, size_t width) {
    if (done < width) {
        UpsampleH2V1RowScalar(src + done / 2, dst + done, width - done);
    }
}

WEMB_VECTOR_INLINE void FinishH2V2(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst, size_t done,
                                   size_t width) {
    if (done < width) {
        UpsampleH2V2RowScalar(nearRow + done / 2, farRow + done / 2, dst + done, width - done);
    }
}

}  // namespace
