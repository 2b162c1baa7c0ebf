// Block reconstruction with AVX2: the eight 32-bit lanes of each term of the
// transform in one 256-bit register, half the instructions of the SSE2
// pairs for the same products and sums.
#include <immintrin.h>

#include "primitives/x86/idct_body.h"
#include "primitives/x86/x86_kernels.h"

namespace {

// Lane k at element k: _mm256_cvtepi16_epi32 widens the eight 16-bit lanes in
// that order, and so does putting the low and high unpacks of a pair side by
// side.
struct IdctLanes256 {
    using Vec = __m256i;

    static WEMB_VECTOR_INLINE Vec MulAdd(__m128i a, __m128i b, int16_t first, int16_t second) {
        const __m256i pairs = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)),
                                                      _mm_unpackhi_epi16(a, b), 1);
        const uint32_t pair = uint32_t{static_cast<uint16_t>(first)} | (uint32_t{static_cast<uint16_t>(second)} << 16);
        return _mm256_madd_epi16(pairs, _mm256_set1_epi32(static_cast<int32_t>(pair)));
    }
    static WEMB_VECTOR_INLINE Vec Add(Vec a, Vec b) { return _mm256_add_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec Sub(Vec a, Vec b) { return _mm256_sub_epi32(a, b); }
    static WEMB_VECTOR_INLINE Vec Plus(Vec a, int32_t c) { return _mm256_add_epi32(a, _mm256_set1_epi32(c)); }
    static WEMB_VECTOR_INLINE Vec Times65536(__m128i x) { return _mm256_slli_epi32(_mm256_cvtepi16_epi32(x), 16); }
    static WEMB_VECTOR_INLINE Vec Times32768(__m128i x) { return _mm256_slli_epi32(_mm256_cvtepi16_epi32(x), 15); }
    static WEMB_VECTOR_INLINE Vec OddScale(Vec t) {
        return _mm256_mullo_epi32(_mm256_srai_epi32(_mm256_add_epi32(t, _mm256_set1_epi32(2048)), 12),
                                  _mm256_set1_epi32(5793));
    }
    template <bool kColumns>
    static WEMB_VECTOR_INLINE __m128i Finish(Vec v) {
        const __m256i shifted = kColumns ? _mm256_srai_epi32(_mm256_slli_epi32(v, 4), 16) : _mm256_srai_epi32(v, 21);
        return _mm_packs_epi32(_mm256_castsi256_si128(shifted), _mm256_extracti128_si256(shifted, 1));
    }
};

}  // namespace

void ReconstructBlockAvx2(const int16_t* block, uint8_t* dst, ptrdiff_t step, const uint16_t* quantTable,
                          int32_t extent) {
    ReconstructBlockWith<IdctLanes256, IdctLanes4>(block, dst, step, quantTable, extent);
}
