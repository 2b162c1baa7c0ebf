// The colour conversion and interleaving row kernels for x86, written once
// over a vector type V (Vector128 or Vector256): each group takes V::kBytes
// pixels. A kernel runs its widest groups first, then narrower ones, and
// leaves the last pixels to the scalar kernel.
//
// Included only by the per-level kernel files; everything is inside an
// unnamed namespace (see vector128.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "primitives/scalar_kernels.h"
#include "primitives/x86/vector128.h"

namespace {

// Output byte orders of the colour transforms.
enum class Layout { Bgr, Rgb, Cmyk };

template <class V>
struct Rgb16 {
    typename V::Vec r, g, b;  // as 16-bit lanes, before clamping
};

// The colour tables' terms computed instead of looked up, with the same
// results: a multiplier m = 65536 n + f (n whole, |f| < 32768) is applied as
// n x c plus a 16-bit product for f.
//   CrToR: 91881 = 65536 + 26345:      c + ((26345 c + 32768) >> 16)
//   CbToB: 116130 = 131072 - 14942:    2c + ((-14942 c + 32768) >> 16)
//   green: -46802 = 18734 - 65536:     ((-22554 cb + 18734 cr + 32768) >> 16) - cr
// with c the chroma sample minus 128. (k c + 32768) >> 16 comes from the
// high half of the 16-bit product of 2c and k, which is floor(2 k c /
// 65536), plus one, halved.
template <class V>
WEMB_VECTOR_INLINE typename V::Vec RoundedProduct(typename V::Vec c, int16_t k) {
    const typename V::Vec product = V::MulHi16(V::Add16(c, c), V::Set16(k));
    return V::template ShiftRightArith16<1>(V::Add16(product, V::Set16(1)));
}

// Y, Cb and Cr samples as 16-bit lanes.
template <class V>
WEMB_VECTOR_INLINE Rgb16<V> YccToRgb16(typename V::Vec y, typename V::Vec cb, typename V::Vec cr) {
    using Vec = typename V::Vec;
    const Vec centre = V::Set16(128);
    cb = V::Sub16(cb, centre);
    cr = V::Sub16(cr, centre);
    const Vec greenPair = V::SetPair16(-22554, 18734);
    const Vec half = V::Set32(32768);
    const Vec greenLo =
        V::template ShiftRightArith32<16>(V::Add32(V::MulAdd16(V::UnpackLo16(cb, cr), greenPair), half));
    const Vec greenHi =
        V::template ShiftRightArith32<16>(V::Add32(V::MulAdd16(V::UnpackHi16(cb, cr), greenPair), half));
    const Vec green = V::Sub16(V::PackSigned32(greenLo, greenHi), cr);
    const Vec red = V::Add16(RoundedProduct<V>(cr, 26345), cr);
    const Vec blue = V::Add16(RoundedProduct<V>(cb, -14942), V::Add16(cb, cb));
    return {V::Add16(y, red), V::Add16(y, green), V::Add16(y, blue)};
}

// Pixels from..count - 1 in whole groups; returns where the groups stopped.
template <class V, Layout kLayout>
WEMB_VECTOR_INLINE size_t ConvertGroups(const uint8_t* const* rows, uint8_t* dst, size_t from, size_t count) {
    using Vec = typename V::Vec;
    const Vec zero = V::Zero();
    size_t j = from;
    for (; j + V::kBytes <= count; j += V::kBytes) {
        const Vec y = V::Load(rows[0] + j), cb = V::Load(rows[1] + j), cr = V::Load(rows[2] + j);
        const Rgb16<V> lo = YccToRgb16<V>(V::UnpackLo8(y, zero), V::UnpackLo8(cb, zero), V::UnpackLo8(cr, zero));
        const Rgb16<V> hi = YccToRgb16<V>(V::UnpackHi8(y, zero), V::UnpackHi8(cb, zero), V::UnpackHi8(cr, zero));
        // The unsigned pack clamps to 0..255.
        const Vec r = V::PackUnsigned16(lo.r, hi.r);
        const Vec g = V::PackUnsigned16(lo.g, hi.g);
        const Vec b = V::PackUnsigned16(lo.b, hi.b);
        if (kLayout == Layout::Bgr) {
            V::Store3(dst + 3 * j, b, g, r);
        } else if (kLayout == Layout::Rgb) {
            V::Store3(dst + 3 * j, r, g, b);
        } else {
            const Vec ones = V::Set8(-1);  // 255 - v is v with every bit flipped
            V::Store4(dst + 4 * j, V::Xor(r, ones), V::Xor(g, ones), V::Xor(b, ones), V::Load(rows[3] + j));
        }
    }
    return j;
}

template <class V, int kChannels>
WEMB_VECTOR_INLINE size_t InterleaveGroups(const uint8_t* const* rows, uint8_t* dst, size_t from, size_t count) {
    size_t j = from;
    for (; j + V::kBytes <= count; j += V::kBytes) {
        const typename V::Vec c0 = V::Load(rows[0] + j), c1 = V::Load(rows[1] + j), c2 = V::Load(rows[2] + j);
        if (kChannels == 3) {
            V::Store3(dst + 3 * j, c0, c1, c2);
        } else {
            V::Store4(dst + 4 * j, c0, c1, c2, V::Load(rows[3] + j));
        }
    }
    return j;
}

// Pixels done..count - 1 of a row by the scalar kernel.
using PlaneRowsKernel = void (*)(const uint8_t* const* rows, uint8_t* dst, size_t count);

WEMB_VECTOR_INLINE void FinishRow(PlaneRowsKernel scalar, int planes, int channels, const uint8_t* const* rows,
                                  uint8_t* dst, size_t done, size_t count) {
    if (done == count) {
        return;
    }
    const uint8_t* rest[4] = {};
    for (int c = 0; c < planes; ++c) {
        rest[c] = rows[c] + done;
    }
    scalar(rest, dst + channels * done, count - done);
}

}  // namespace
