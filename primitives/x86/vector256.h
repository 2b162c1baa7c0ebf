// 256-bit integer vectors (AVX2) with the operations and names of
// Vector128, for the files compiled for AVX2.
//
// AVX2's unpacks and packs work within each 128-bit half, as two 128-bit
// operations side by side would. A kernel body that widens bytes with
// UnpackLo8 / UnpackHi8, works on 16-bit lanes and packs back with
// PackUnsigned16 therefore gets its pixels back in order at either width;
// the stores split the halves. As in vector128.h, everything is inside an
// unnamed namespace.
#pragma once

#include <immintrin.h>

#include "primitives/x86/vector128.h"

namespace {

struct Vector256 {
    using Vec = __m256i;
    static constexpr size_t kBytes = 32;

    static WEMB_VECTOR_INLINE Vec Load(const uint8_t* p) {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }
    static WEMB_VECTOR_INLINE void Store(uint8_t* p, Vec v) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
    }
    static WEMB_VECTOR_INLINE Vec LoadWidened(const uint8_t* p) {
        return _mm256_cvtepu8_epi16(Vector128::Load(p));
    }

    static WEMB_VECTOR_INLINE Vec Zero() { return _mm256_setzero_si256(); }
    static WEMB_VECTOR_INLINE Vec Set8(int8_t v) { return _mm256_set1_epi8(v); }
    static WEMB_VECTOR_INLINE Vec Set16(int16_t v) { return _mm256_set1_epi16(v); }
    static WEMB_VECTOR_INLINE Vec Set32(int32_t v) { return _mm256_set1_epi32(v); }
    static WEMB_VECTOR_INLINE Vec SetPair16(int16_t first, int16_t second) {
        return _mm256_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(first) |
                                                      (uint32_t{static_cast<uint16_t>(second)} << 16)));
    }

    static WEMB_VECTOR_INLINE Vec Add16(Vec a, Vec b) { return _mm256_add_epi16(a, b); }
    static WEMB_VECTOR_INLINE Vec Sub16(Vec a, Vec b) { return _mm256_sub_epi16(a, b); }
    static WEMB_VECTOR_INLINE Vec Add32(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec Xor(Vec a, Vec b) { return _mm256_xor_si256(a, b); }
    static WEMB_VECTOR_INLINE Vec MulHi16(Vec a, Vec b) { return _mm256_mulhi_epi16(a, b); }
    static WEMB_VECTOR_INLINE Vec MulLo16(Vec a, Vec b) { return _mm256_mullo_epi16(a, b); }
    static WEMB_VECTOR_INLINE Vec MulAdd16(Vec a, Vec b) { return _mm256_madd_epi16(a, b); }
    template <int kShift>
    static WEMB_VECTOR_INLINE Vec ShiftRightArith16(Vec v) {
        return _mm256_srai_epi16(v, kShift);
    }
    template <int kShift>
    static WEMB_VECTOR_INLINE Vec ShiftRightLogical16(Vec v) {
        return _mm256_srli_epi16(v, kShift);
    }
    template <int kShift>
    static WEMB_VECTOR_INLINE Vec ShiftRightArith32(Vec v) {
        return _mm256_srai_epi32(v, kShift);
    }

    static WEMB_VECTOR_INLINE Vec UnpackLo8(Vec a, Vec b) { return _mm256_unpacklo_epi8(a, b); }
    static WEMB_VECTOR_INLINE Vec UnpackHi8(Vec a, Vec b) { return _mm256_unpackhi_epi8(a, b); }
    static WEMB_VECTOR_INLINE Vec UnpackLo16(Vec a, Vec b) { return _mm256_unpacklo_epi16(a, b); }
    static WEMB_VECTOR_INLINE Vec UnpackHi16(Vec a, Vec b) { return _mm256_unpackhi_epi16(a, b); }
    static WEMB_VECTOR_INLINE Vec PackSigned32(Vec a, Vec b) { return _mm256_packs_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec PackUnsigned16(Vec a, Vec b) { return _mm256_packus_epi16(a, b); }

    static WEMB_VECTOR_INLINE __m128i Low(Vec v) { return _mm256_castsi256_si128(v); }
    static WEMB_VECTOR_INLINE __m128i High(Vec v) { return _mm256_extracti128_si256(v, 1); }

    static WEMB_VECTOR_INLINE void Store3(uint8_t* dst, Vec c0, Vec c1, Vec c2);
    static WEMB_VECTOR_INLINE void Store4(uint8_t* dst, Vec c0, Vec c1, Vec c2, Vec c3) {
        Vector128::Store4(dst, Low(c0), Low(c1), Low(c2), Low(c3));
        Vector128::Store4(dst + 64, High(c0), High(c1), High(c2), High(c3));
    }
};

// Three channels of 16 pixels (one 128-bit half) interleave into 48 bytes,
// blocks o0, o1, o2 of 16; byte p of block j is channel (16j + p) mod 3 =
// (j + p) mod 3 of pixel (16j + p) / 3. Each channel is first rotated with
// one byte shuffle so that its byte for position p of whichever block takes
// it from that position lies at p: channel c's byte at p goes to block
// j = (c - p) mod 3. Every block is then two blends of the rotated channels,
// picking channel (j + p) mod 3 at each p. Both halves work alike, so one
// 256-bit shuffle or blend serves 32 pixels; only the stores split them.
// (The 128-bit version shuffles each block out of every source: 7 byte
// shuffles per 16 pixels where this takes 3 per 32.)
struct Interleave3Tables {
    alignas(32) int8_t rotate[3][32];    // [channel]: the byte shuffle
    alignas(32) int8_t pick[3][2][32];  // [block][0]: take channel 1; [1]: take channel 2
};

constexpr Interleave3Tables MakeInterleave3Tables() {
    Interleave3Tables t = {};
    for (int half = 0; half < 2; ++half) {
        for (int p = 0; p < 16; ++p) {
            for (int c = 0; c < 3; ++c) {
                const int block = ((c - p) % 3 + 3) % 3;
                t.rotate[c][16 * half + p] = static_cast<int8_t>((16 * block + p) / 3);
            }
            for (int block = 0; block < 3; ++block) {
                const int channel = (block + p) % 3;
                t.pick[block][0][16 * half + p] = static_cast<int8_t>(channel == 1 ? -1 : 0);
                t.pick[block][1][16 * half + p] = static_cast<int8_t>(channel == 2 ? -1 : 0);
            }
        }
    }
    return t;
}

constexpr Interleave3Tables kInterleave3 = MakeInterleave3Tables();

// 32 pixels: 96 bytes, the low half's 48 first.
WEMB_VECTOR_INLINE void Vector256::Store3(uint8_t* dst, Vec c0, Vec c1, Vec c2) {
    const auto table = [](const int8_t* bytes) { return _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes)); };
    const Vec rotated[3] = {_mm256_shuffle_epi8(c0, table(kInterleave3.rotate[0])),
                            _mm256_shuffle_epi8(c1, table(kInterleave3.rotate[1])),
                            _mm256_shuffle_epi8(c2, table(kInterleave3.rotate[2]))};
#pragma GCC unroll 3
    for (int block = 0; block < 3; ++block) {
        const Vec out = _mm256_blendv_epi8(
            _mm256_blendv_epi8(rotated[0], rotated[1], table(kInterleave3.pick[block][0])), rotated[2],
            table(kInterleave3.pick[block][1]));
        Vector128::Store(dst + 16 * block, Low(out));
        Vector128::Store(dst + 48 + 16 * block, High(out));
    }
}

}  // namespace
