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

// The V::kBytes / 2 even and the V::kBytes / 2 odd output columns of a
// group as 16-bit lanes, lane i holding output columns 2i and 2i + 1 of the
// group. Output column j lies between source columns s = j / 2 and its
// neighbour: s - 1 for even j, s + 1 for odd j, weighted 3:1 (both ways 3:1
// for H2V2), with rounding terms 1 and 2 (8 and 7 for H2V2). `source` (and
// `farSource`) point at the group's first source column.
template <class V>
struct EvenOdd {
    typename V::Vec even, odd;
};

// From the source columns left of, at and right of each lane's column, as
// 16-bit lanes.
template <class V>
WEMB_VECTOR_INLINE EvenOdd<V> H2V1EvenOddOfColumns(typename V::Vec left, typename V::Vec centre,
                                                   typename V::Vec right) {
    const typename V::Vec centre3 = Times3<V>(centre);
    return {V::template ShiftRightLogical16<2>(V::Add16(V::Add16(centre3, left), V::Set16(1))),
            V::template ShiftRightLogical16<2>(V::Add16(V::Add16(centre3, right), V::Set16(2)))};
}

template <class V>
WEMB_VECTOR_INLINE EvenOdd<V> H2V1EvenOdd(const uint8_t* source) {
    return H2V1EvenOddOfColumns<V>(V::LoadWidened(source - 1), V::LoadWidened(source), V::LoadWidened(source + 1));
}

// Each source column blended vertically, 3:1: 3 x near + far.
template <class V>
WEMB_VECTOR_INLINE typename V::Vec ColumnSums(const uint8_t* nearSource, const uint8_t* farSource) {
    return V::Add16(Times3<V>(V::LoadWidened(nearSource)), V::LoadWidened(farSource));
}

// From the column sums of the source columns left of, at and right of each
// lane's column.
template <class V>
WEMB_VECTOR_INLINE EvenOdd<V> H2V2EvenOddOfSums(typename V::Vec left, typename V::Vec centre, typename V::Vec right) {
    const typename V::Vec centre3 = Times3<V>(centre);
    return {V::template ShiftRightLogical16<4>(V::Add16(V::Add16(centre3, left), V::Set16(8))),
            V::template ShiftRightLogical16<4>(V::Add16(V::Add16(centre3, right), V::Set16(7)))};
}

template <class V>
WEMB_VECTOR_INLINE EvenOdd<V> H2V2EvenOdd(const uint8_t* nearSource, const uint8_t* farSource) {
    return H2V2EvenOddOfSums<V>(ColumnSums<V>(nearSource - 1, farSource - 1), ColumnSums<V>(nearSource, farSource),
                                ColumnSums<V>(nearSource + 1, farSource + 1));
}

// Output columns from..width - 1 in whole groups; returns where the groups
// stopped.
template <class V>
WEMB_VECTOR_INLINE size_t H2V1Groups(const uint8_t* src, uint8_t* dst, size_t from, size_t width) {
    size_t j = from;
    for (; j + V::kBytes <= width; j += V::kBytes) {
        const EvenOdd<V> columns = H2V1EvenOdd<V>(src + j / 2);
        StoreEvenOdd<V>(dst + j, columns.even, columns.odd);
    }
    return j;
}

template <class V>
WEMB_VECTOR_INLINE size_t H2V2Groups(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst, size_t from,
                                     size_t width) {
    size_t j = from;
    for (; j + V::kBytes <= width; j += V::kBytes) {
        const EvenOdd<V> columns = H2V2EvenOdd<V>(nearRow + j / 2, farRow + j / 2);
        StoreEvenOdd<V>(dst + j, columns.even, columns.odd);
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
