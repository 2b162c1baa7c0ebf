// The B, G, R row kernels for x86, written once over a vector type V
// (Vector128 or Vector256): each group makes V::kBytes pixels. Chroma of
// half resolution is filtered by the up-sampling arithmetic (upsample_body.h)
// and goes to the colour conversion (color_body.h) in its 16-bit lanes, never
// stored: the bytes are those of up-sampling and converting one after the
// other. A kernel runs its widest groups first, then narrower ones, and
// leaves the last pixels to the portable kernel.
//
// Included only by the per-level kernel files; everything is inside an
// unnamed namespace (see vector128.h).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <tuple>

#include "primitives/scalar_kernels.h"
#include "primitives/x86/color_body.h"
#include "primitives/x86/upsample_body.h"

namespace {

template <class V, int kPixelBytes>
WEMB_VECTOR_INLINE void StoreBgr(uint8_t* dst, typename V::Vec b, typename V::Vec g, typename V::Vec r) {
    if (kPixelBytes == 3) {
        V::Store3(dst, b, g, r);
    } else {
        V::Store4(dst, b, g, r, V::Set8(-1));
    }
}

// The chroma of a group as 16-bit lanes, in the order UnpackLo8 and
// UnpackHi8 widen the group's Y: within each 128-bit half, the first eight
// pixels of the half in `lo`, the next eight in `hi`.
template <class V>
struct Chroma16 {
    typename V::Vec cbLo, cbHi, crLo, crHi;
};

// Full resolution: the samples widened as Y is.
template <class V>
struct FullChroma {
    const uint8_t* cb;
    const uint8_t* cr;
    WEMB_VECTOR_INLINE Chroma16<V> At(size_t j) const {
        const typename V::Vec zero = V::Zero(), b = V::Load(cb + j), r = V::Load(cr + j);
        return {V::UnpackLo8(b, zero), V::UnpackHi8(b, zero), V::UnpackLo8(r, zero), V::UnpackHi8(r, zero)};
    }
};

// Filtered columns in pixel order: lane i of `even` and `odd` holds pixels 2i
// and 2i + 1, so interleaving them by 16-bit lanes within each half gives the
// halves' first and next eight pixels.
template <class V>
WEMB_VECTOR_INLINE void Interleave(const EvenOdd<V>& columns, typename V::Vec* lo, typename V::Vec* hi) {
    *lo = V::UnpackLo16(columns.even, columns.odd);
    *hi = V::UnpackHi16(columns.even, columns.odd);
}

// Half-width chroma comes from 16-bit columns of a chunk of the row (see
// ChunkedChromaRow): columns[i] holds source column i - 1 of the chunk,
// `first` is the chunk's first pixel. Each pixel pair's chroma takes three
// neighbouring columns.
template <class V, class Filter>
struct ChunkChroma {
    const int16_t* cbColumns;
    const int16_t* crColumns;
    size_t first;
    static WEMB_VECTOR_INLINE EvenOdd<V> EvenOddAt(const int16_t* columns) {
        const auto load = [](const int16_t* p) { return V::Load(reinterpret_cast<const uint8_t*>(p)); };
        return Filter::template EvenOddOf<V>(load(columns), load(columns + 1), load(columns + 2));
    }
    WEMB_VECTOR_INLINE Chroma16<V> At(size_t j) const {
        Chroma16<V> c;
        Interleave<V>(EvenOddAt(cbColumns + (j - first) / 2), &c.cbLo, &c.cbHi);
        Interleave<V>(EvenOddAt(crColumns + (j - first) / 2), &c.crLo, &c.crHi);
        return c;
    }
};

// H2V1: the columns are the source samples widened.
struct H2V1Filter {
    template <class V>
    static WEMB_VECTOR_INLINE typename V::Vec Columns(const uint8_t* source, const uint8_t*) {
        return V::LoadWidened(source);
    }
    static int16_t Column(const uint8_t* source, const uint8_t*, ptrdiff_t i) { return source[i]; }
    template <class V>
    static WEMB_VECTOR_INLINE EvenOdd<V> EvenOddOf(typename V::Vec left, typename V::Vec centre,
                                                   typename V::Vec right) {
        return H2V1EvenOddOfColumns<V>(left, centre, right);
    }
};

// H2V2: the columns are blended with the far row first, 3 x near + far.
struct H2V2Filter {
    template <class V>
    static WEMB_VECTOR_INLINE typename V::Vec Columns(const uint8_t* nearSource, const uint8_t* farSource) {
        return ColumnSums<V>(nearSource, farSource);
    }
    static int16_t Column(const uint8_t* nearSource, const uint8_t* farSource, ptrdiff_t i) {
        return static_cast<int16_t>(3 * nearSource[i] + farSource[i]);
    }
    template <class V>
    static WEMB_VECTOR_INLINE EvenOdd<V> EvenOddOf(typename V::Vec left, typename V::Vec centre,
                                                   typename V::Vec right) {
        return H2V2EvenOddOfSums<V>(left, centre, right);
    }
};

// Y, Cb, Cr groups into B, G, R; `chroma` gives each group's chroma lanes.
template <class V, int kPixelBytes, class Chroma>
WEMB_VECTOR_INLINE size_t YccGroups(const uint8_t* y, const Chroma& chroma, uint8_t* dst, size_t from,
                                    size_t count) {
    using Vec = typename V::Vec;
    const Vec zero = V::Zero();
    size_t j = from;
    for (; j + V::kBytes <= count; j += V::kBytes) {
        const Vec luma = V::Load(y + j);
        const Chroma16<V> c = chroma.At(j);
        const Rgb16<V> lo = YccToRgb16<V>(V::UnpackLo8(luma, zero), c.cbLo, c.crLo);
        const Rgb16<V> hi = YccToRgb16<V>(V::UnpackHi8(luma, zero), c.cbHi, c.crHi);
        // The unsigned pack clamps to 0..255.
        StoreBgr<V, kPixelBytes>(dst + kPixelBytes * j, V::PackUnsigned16(lo.b, hi.b), V::PackUnsigned16(lo.g, hi.g),
                                 V::PackUnsigned16(lo.r, hi.r));
    }
    return j;
}

template <class V, int kPixelBytes>
WEMB_VECTOR_INLINE size_t GreyGroups(const uint8_t* grey, uint8_t* dst, size_t from, size_t count) {
    size_t j = from;
    for (; j + V::kBytes <= count; j += V::kBytes) {
        const typename V::Vec g = V::Load(grey + j);
        StoreBgr<V, kPixelBytes>(dst + kPixelBytes * j, g, g, g);
    }
    return j;
}

template <class V, int kPixelBytes>
WEMB_VECTOR_INLINE size_t RgbGroups(const uint8_t* const* rows, uint8_t* dst, size_t from, size_t count) {
    size_t j = from;
    for (; j + V::kBytes <= count; j += V::kBytes) {
        StoreBgr<V, kPixelBytes>(dst + kPixelBytes * j, V::Load(rows[2] + j), V::Load(rows[1] + j),
                                 V::Load(rows[0] + j));
    }
    return j;
}

// a x k / 255 rounded to nearest for 16-bit lanes of 0..255: with t = a k +
// 128, (t + (t >> 8)) >> 8 is (a k + 127) / 255 for every product up to
// 255 x 255, and no step leaves 16 bits.
template <class V>
WEMB_VECTOR_INLINE typename V::Vec ScaleByInk16(typename V::Vec a, typename V::Vec k) {
    const typename V::Vec t = V::Add16(V::MulLo16(a, k), V::Set16(128));
    return V::template ShiftRightLogical16<8>(V::Add16(t, V::template ShiftRightLogical16<8>(t)));
}

// Three inverted-ink planes and K into B, G, R.
template <class V, int kPixelBytes>
WEMB_VECTOR_INLINE void StoreInk(uint8_t* dst, typename V::Vec c, typename V::Vec m, typename V::Vec y,
                                 typename V::Vec k) {
    using Vec = typename V::Vec;
    const Vec zero = V::Zero();
    const Vec kLo = V::UnpackLo8(k, zero), kHi = V::UnpackHi8(k, zero);
    const auto scale = [&](Vec v) {
        return V::PackUnsigned16(ScaleByInk16<V>(V::UnpackLo8(v, zero), kLo),
                                 ScaleByInk16<V>(V::UnpackHi8(v, zero), kHi));
    };
    StoreBgr<V, kPixelBytes>(dst, scale(y), scale(m), scale(c));
}

template <class V, int kPixelBytes>
WEMB_VECTOR_INLINE size_t CmykGroups(const uint8_t* const* rows, uint8_t* dst, size_t from, size_t count) {
    size_t j = from;
    for (; j + V::kBytes <= count; j += V::kBytes) {
        StoreInk<V, kPixelBytes>(dst + kPixelBytes * j, V::Load(rows[0] + j), V::Load(rows[1] + j),
                                 V::Load(rows[2] + j), V::Load(rows[3] + j));
    }
    return j;
}

// YCCK: the YCbCr conversion, clamped by the pack, gives R, G, B; the ink
// planes are their complements (every bit flipped).
template <class V, int kPixelBytes>
WEMB_VECTOR_INLINE size_t YcckGroups(const uint8_t* const* rows, uint8_t* dst, size_t from, size_t count) {
    using Vec = typename V::Vec;
    const Vec zero = V::Zero(), ones = V::Set8(-1);
    size_t j = from;
    for (; j + V::kBytes <= count; j += V::kBytes) {
        const Vec y = V::Load(rows[0] + j), cb = V::Load(rows[1] + j), cr = V::Load(rows[2] + j);
        const Rgb16<V> lo = YccToRgb16<V>(V::UnpackLo8(y, zero), V::UnpackLo8(cb, zero), V::UnpackLo8(cr, zero));
        const Rgb16<V> hi = YccToRgb16<V>(V::UnpackHi8(y, zero), V::UnpackHi8(cb, zero), V::UnpackHi8(cr, zero));
        StoreInk<V, kPixelBytes>(dst + kPixelBytes * j, V::Xor(V::PackUnsigned16(lo.r, hi.r), ones),
                                 V::Xor(V::PackUnsigned16(lo.g, hi.g), ones),
                                 V::Xor(V::PackUnsigned16(lo.b, hi.b), ones), V::Load(rows[3] + j));
    }
    return j;
}

// The rows' pixels from `done` on, by the portable kernel: `planes` rows of
// full resolution, then `halfPlanes` of half width (which start at done / 2;
// `done` is even).
WEMB_VECTOR_INLINE void FinishBgrRow(PlaneRowsKernel scalar, int kPixelBytes, int planes, int halfPlanes,
                                     const uint8_t* const* rows, uint8_t* dst, size_t done, size_t count) {
    if (done == count) {
        return;
    }
    const uint8_t* rest[5] = {};
    for (int c = 0; c < planes + halfPlanes; ++c) {
        rest[c] = rows[c] + (c < planes ? done : done / 2);
    }
    scalar(rest, dst + kPixelBytes * done, count - done);
}

// Whole rows: groups of each vector type in Vs, widest first, then the
// portable kernel.
template <int kPixelBytes, class... Vs>
WEMB_VECTOR_INLINE void GreyRow(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    size_t j = 0;
    ((j = GreyGroups<Vs, kPixelBytes>(rows[0], dst, j, count)), ...);
    FinishBgrRow(GreyToBgrRowScalar<kPixelBytes>, kPixelBytes, 1, 0, rows, dst, j, count);
}

template <int kPixelBytes, class... Vs>
WEMB_VECTOR_INLINE void RgbRow(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    size_t j = 0;
    ((j = RgbGroups<Vs, kPixelBytes>(rows, dst, j, count)), ...);
    FinishBgrRow(RgbToBgrRowScalar<kPixelBytes>, kPixelBytes, 3, 0, rows, dst, j, count);
}

template <int kPixelBytes, class... Vs>
WEMB_VECTOR_INLINE void YccRow(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    size_t j = 0;
    ((j = YccGroups<Vs, kPixelBytes>(rows[0], FullChroma<Vs>{rows[1], rows[2]}, dst, j, count)), ...);
    FinishBgrRow(YccToBgrxRowScalar<kPixelBytes>, kPixelBytes, 3, 0, rows, dst, j, count);
}

// The 16-bit columns of source columns from - 1 .. from + count - 2 into
// columns[0 .. count - 1]; V's widest groups, then one at a time.
template <class V, class Filter>
WEMB_VECTOR_INLINE void FillChunkColumns(const uint8_t* nearRow, const uint8_t* farRow, ptrdiff_t from,
                                         size_t count, int16_t* columns) {
    constexpr size_t kLanes = V::kBytes / 2;
    size_t i = 0;
    for (; i + kLanes <= count; i += kLanes) {
        const ptrdiff_t column = from - 1 + static_cast<ptrdiff_t>(i);
        V::Store(reinterpret_cast<uint8_t*>(columns + i),
                 Filter::template Columns<V>(nearRow + column, farRow == nullptr ? nullptr : farRow + column));
    }
    for (; i < count; ++i) {
        columns[i] = Filter::Column(nearRow, farRow, from - 1 + static_cast<ptrdiff_t>(i));
    }
}

// Half-width chroma rows (H2V1: Y, Cb, Cr; H2V2: Y, Cb, Cr, far Cb, far
// Cr) in chunks of up to kChunkPixels: the chunk's 16-bit columns, which
// each pixel pair's chroma takes three of, are prepared once into a small
// buffer instead of three times in registers. A chunk of pixels j .. end - 1
// reads source columns j / 2 - 1 .. end / 2, inside what the row may read.
// The first of Vs prepares the columns; groups of each of Vs, widest first,
// convert the chunk; the portable kernel finishes the row.
template <int kPixelBytes, class Filter, class... Vs>
WEMB_VECTOR_INLINE void ChunkedChromaRow(const uint8_t* const* rows, uint8_t* dst, size_t count,
                                         const uint8_t* cbFar, const uint8_t* crFar, PlaneRowsKernel scalar,
                                         int halfPlanes) {
    constexpr size_t kChunkPixels = 512;
    alignas(32) int16_t cbColumns[kChunkPixels / 2 + 2], crColumns[kChunkPixels / 2 + 2];
    using Widest = std::tuple_element_t<0, std::tuple<Vs...>>;
    constexpr size_t kNarrowest = std::min({Vs::kBytes...});
    size_t j = 0;
    while (j + kNarrowest <= count) {
        const size_t first = j;
        const size_t end = count - first > kChunkPixels ? first + kChunkPixels : count;
        const size_t columns = end / 2 - first / 2 + 2;
        FillChunkColumns<Widest, Filter>(rows[1], cbFar, static_cast<ptrdiff_t>(first / 2), columns, cbColumns);
        FillChunkColumns<Widest, Filter>(rows[2], crFar, static_cast<ptrdiff_t>(first / 2), columns, crColumns);
        ((j = YccGroups<Vs, kPixelBytes>(rows[0], ChunkChroma<Vs, Filter>{cbColumns, crColumns, first}, dst, j,
                                         end)),
         ...);
        if (j < end) break;  // the row's last pixels
    }
    FinishBgrRow(scalar, kPixelBytes, 1, halfPlanes, rows, dst, j, count);
}

template <int kPixelBytes, class... Vs>
WEMB_VECTOR_INLINE void YccH2V1Row(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    ChunkedChromaRow<kPixelBytes, H2V1Filter, Vs...>(rows, dst, count, nullptr, nullptr,
                                                     YccH2V1ToBgrRowScalar<kPixelBytes>, 2);
}

template <int kPixelBytes, class... Vs>
WEMB_VECTOR_INLINE void YccH2V2Row(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    ChunkedChromaRow<kPixelBytes, H2V2Filter, Vs...>(rows, dst, count, rows[3], rows[4],
                                                     YccH2V2ToBgrRowScalar<kPixelBytes>, 4);
}

template <int kPixelBytes, class... Vs>
WEMB_VECTOR_INLINE void CmykRow(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    size_t j = 0;
    ((j = CmykGroups<Vs, kPixelBytes>(rows, dst, j, count)), ...);
    FinishBgrRow(CmykToBgrRowScalar<kPixelBytes>, kPixelBytes, 4, 0, rows, dst, j, count);
}

template <int kPixelBytes, class... Vs>
WEMB_VECTOR_INLINE void YcckRow(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    size_t j = 0;
    ((j = YcckGroups<Vs, kPixelBytes>(rows, dst, j, count)), ...);
    FinishBgrRow(YcckToBgrRowScalar<kPixelBytes>, kPixelBytes, 4, 0, rows, dst, j, count);
}

}  // namespace

// The definitions of a level's B, G, R row kernels (named as in
// x86_kernels.h) from the bodies above, over the level's vector types.
#define WEMB_DEFINE_BGR_ROW_KERNELS(Level, Bytes, ...)                                                       \
    void GreyToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count) {             \
        GreyRow<Bytes, __VA_ARGS__>(rows, dst, count);                                                       \
    }                                                                                                        \
    void RgbToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count) {              \
        RgbRow<Bytes, __VA_ARGS__>(rows, dst, count);                                                        \
    }                                                                                                        \
    void YccToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count) {              \
        YccRow<Bytes, __VA_ARGS__>(rows, dst, count);                                                        \
    }                                                                                                        \
    void YccH2V1ToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count) {          \
        YccH2V1Row<Bytes, __VA_ARGS__>(rows, dst, count);                                                    \
    }                                                                                                        \
    void YccH2V2ToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count) {          \
        YccH2V2Row<Bytes, __VA_ARGS__>(rows, dst, count);                                                    \
    }                                                                                                        \
    void CmykToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count) {             \
        CmykRow<Bytes, __VA_ARGS__>(rows, dst, count);                                                       \
    }                                                                                                        \
    void YcckToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count) {             \
        YcckRow<Bytes, __VA_ARGS__>(rows, dst, count);                                                       \
    }
