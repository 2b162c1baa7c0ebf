// 128-bit integer vectors for the kernels of every x86 level: the operations
// the row kernels share with their 256-bit versions (vector256.h), under
// the same names, so that one kernel body serves both widths.
//
// Included only by the per-level kernel files, each compiled with its own
// instruction set: everything here is inside an unnamed namespace, so that
// no function compiled for one level can stand in for the same function of
// another level at link time. The 3-channel store uses the SSSE3 byte
// shuffle in files compiled for it and SSE2 shifts otherwise.
#pragma once

#include <emmintrin.h>
#if defined(__SSSE3__)
#include <tmmintrin.h>
#endif

#include <cstddef>
#include <cstdint>

#define WEMB_VECTOR_INLINE inline __attribute__((always_inline))

namespace {

struct Vector128 {
    using Vec = __m128i;
    static constexpr size_t kBytes = 16;

    static WEMB_VECTOR_INLINE Vec Load(const uint8_t* p) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    }
    static WEMB_VECTOR_INLINE void Store(uint8_t* p, Vec v) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
    }
    // kBytes / 2 bytes widened to 16-bit lanes, in order.
    static WEMB_VECTOR_INLINE Vec LoadWidened(const uint8_t* p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), _mm_setzero_si128());
    }

    static WEMB_VECTOR_INLINE Vec Zero() { return _mm_setzero_si128(); }
    static WEMB_VECTOR_INLINE Vec Set8(int8_t v) { return _mm_set1_epi8(v); }
    static WEMB_VECTOR_INLINE Vec Set16(int16_t v) { return _mm_set1_epi16(v); }
    static WEMB_VECTOR_INLINE Vec Set32(int32_t v) { return _mm_set1_epi32(v); }
    // A pair of 16-bit multipliers for MulAdd16: `first` for the even lanes.
    static WEMB_VECTOR_INLINE Vec SetPair16(int16_t first, int16_t second) {
        return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(first) |
                                                   (uint32_t{static_cast<uint16_t>(second)} << 16)));
    }

    static WEMB_VECTOR_INLINE Vec Add16(Vec a, Vec b) { return _mm_add_epi16(a, b); }
    static WEMB_VECTOR_INLINE Vec Sub16(Vec a, Vec b) { return _mm_sub_epi16(a, b); }
    static WEMB_VECTOR_INLINE Vec Add32(Vec a, Vec b) { return _mm_add_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec Xor(Vec a, Vec b) { return _mm_xor_si128(a, b); }
    // High 16 bits of the signed 32-bit products.
    static WEMB_VECTOR_INLINE Vec MulHi16(Vec a, Vec b) { return _mm_mulhi_epi16(a, b); }
    static WEMB_VECTOR_INLINE Vec MulLo16(Vec a, Vec b) { return _mm_mullo_epi16(a, b); }
    // Products of 16-bit lane pairs, summed in 32 bits.
    static WEMB_VECTOR_INLINE Vec MulAdd16(Vec a, Vec b) { return _mm_madd_epi16(a, b); }
    template <int kShift>
    static WEMB_VECTOR_INLINE Vec ShiftRightArith16(Vec v) {
        return _mm_srai_epi16(v, kShift);
    }
    template <int kShift>
    static WEMB_VECTOR_INLINE Vec ShiftRightLogical16(Vec v) {
        return _mm_srli_epi16(v, kShift);
    }
    template <int kShift>
    static WEMB_VECTOR_INLINE Vec ShiftRightArith32(Vec v) {
        return _mm_srai_epi32(v, kShift);
    }

    // Interleaving and packing work within each 128-bit half, in the same
    // way at both widths.
    static WEMB_VECTOR_INLINE Vec UnpackLo8(Vec a, Vec b) { return _mm_unpacklo_epi8(a, b); }
    static WEMB_VECTOR_INLINE Vec UnpackHi8(Vec a, Vec b) { return _mm_unpackhi_epi8(a, b); }
    static WEMB_VECTOR_INLINE Vec UnpackLo16(Vec a, Vec b) { return _mm_unpacklo_epi16(a, b); }
    static WEMB_VECTOR_INLINE Vec UnpackHi16(Vec a, Vec b) { return _mm_unpackhi_epi16(a, b); }
    // 32-bit lanes to 16 with signed saturation, 16-bit lanes to bytes with
    // unsigned saturation (a clamp to 0..255).
    static WEMB_VECTOR_INLINE Vec PackSigned32(Vec a, Vec b) { return _mm_packs_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec PackUnsigned16(Vec a, Vec b) { return _mm_packus_epi16(a, b); }

    // 16 pixels of 3 channels from one vector per channel, 48 bytes.
    static WEMB_VECTOR_INLINE void Store3(uint8_t* dst, Vec c0, Vec c1, Vec c2);
    // 16 pixels of 4 channels, 64 bytes.
    static WEMB_VECTOR_INLINE void Store4(uint8_t* dst, Vec c0, Vec c1, Vec c2, Vec c3) {
        const Vec lo01 = _mm_unpacklo_epi8(c0, c1), hi01 = _mm_unpackhi_epi8(c0, c1);
        const Vec lo23 = _mm_unpacklo_epi8(c2, c3), hi23 = _mm_unpackhi_epi8(c2, c3);
        Store(dst, _mm_unpacklo_epi16(lo01, lo23));
        Store(dst + 16, _mm_unpackhi_epi16(lo01, lo23));
        Store(dst + 32, _mm_unpacklo_epi16(hi01, hi23));
        Store(dst + 48, _mm_unpackhi_epi16(hi01, hi23));
    }
};

#if defined(__SSSE3__)

// From lo = (c0, c1) bytes 0..7 interleaved and hi = the same of bytes
// 8..15, output byte 3p + ch (ch < 2) is byte 2p + ch of lo (p < 8) or
// 2(p - 8) + ch of hi, and output byte 3p + 2 is byte p of c2; a shuffle
// index of -128 yields zero, so each output block is the OR of its shuffled
// sources.
WEMB_VECTOR_INLINE void Vector128::Store3(uint8_t* dst, Vec c0, Vec c1, Vec c2) {
    constexpr int8_t z = -128;
    const Vec lo = _mm_unpacklo_epi8(c0, c1), hi = _mm_unpackhi_epi8(c0, c1);
    const Vec out0 = _mm_or_si128(
        _mm_shuffle_epi8(lo, _mm_setr_epi8(0, 1, z, 2, 3, z, 4, 5, z, 6, 7, z, 8, 9, z, 10)),
        _mm_shuffle_epi8(c2, _mm_setr_epi8(z, z, 0, z, z, 1, z, z, 2, z, z, 3, z, z, 4, z)));
    const Vec out1 = _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(lo, _mm_setr_epi8(11, z, 12, 13, z, 14, 15, z, z, z, z, z, z, z, z, z)),
                     _mm_shuffle_epi8(hi, _mm_setr_epi8(z, z, z, z, z, z, z, z, 0, 1, z, 2, 3, z, 4, 5))),
        _mm_shuffle_epi8(c2, _mm_setr_epi8(z, 5, z, z, 6, z, z, 7, z, z, 8, z, z, 9, z, z)));
    const Vec out2 = _mm_or_si128(
        _mm_shuffle_epi8(hi, _mm_setr_epi8(z, 6, 7, z, 8, 9, z, 10, 11, z, 12, 13, z, 14, 15, z)),
        _mm_shuffle_epi8(c2, _mm_setr_epi8(10, z, z, 11, z, z, 12, z, z, 13, z, z, 14, z, z, 15)));
    Store(dst, out0);
    Store(dst + 16, out1);
    Store(dst + 32, out2);
}

#else

// Four pixels of 4 bytes (the last zero) squeezed into 12 bytes, bytes 12..15
// zero. Within each 64-bit half the second pixel moves down one byte onto
// the first one's zero byte; then the upper half moves down two bytes.
WEMB_VECTOR_INLINE __m128i Squeeze4(__m128i p) {
    const __m128i first = _mm_set_epi32(0, -1, 0, -1);
    const __m128i second = _mm_set_epi32(0xFFFF, static_cast<int32_t>(0xFF000000u), 0xFFFF,
                                         static_cast<int32_t>(0xFF000000u));
    const __m128i pairs = _mm_or_si128(_mm_and_si128(p, first), _mm_and_si128(_mm_srli_epi64(p, 8), second));
    return _mm_or_si128(_mm_move_epi64(pairs), _mm_slli_si128(_mm_srli_si128(pairs, 8), 6));
}

// The pixels as 4-byte groups (channel 3 zero), squeezed to 12 bytes per
// group of four and joined.
WEMB_VECTOR_INLINE void Vector128::Store3(uint8_t* dst, Vec c0, Vec c1, Vec c2) {
    const Vec zero = _mm_setzero_si128();
    const Vec lo01 = _mm_unpacklo_epi8(c0, c1), hi01 = _mm_unpackhi_epi8(c0, c1);
    const Vec lo2 = _mm_unpacklo_epi8(c2, zero), hi2 = _mm_unpackhi_epi8(c2, zero);
    const Vec p0 = Squeeze4(_mm_unpacklo_epi16(lo01, lo2));
    const Vec p1 = Squeeze4(_mm_unpackhi_epi16(lo01, lo2));
    const Vec p2 = Squeeze4(_mm_unpacklo_epi16(hi01, hi2));
    const Vec p3 = Squeeze4(_mm_unpackhi_epi16(hi01, hi2));
    Store(dst, _mm_or_si128(p0, _mm_slli_si128(p1, 12)));
    Store(dst + 16, _mm_or_si128(_mm_srli_si128(p1, 4), _mm_slli_si128(p2, 8)));
    Store(dst + 32, _mm_or_si128(_mm_srli_si128(p2, 8), _mm_slli_si128(p3, 4)));
}

#endif

}  // namespace
