// The non-zero mask of a coefficient block with SSE2.
#include <emmintrin.h>

#include "primitives/x86/x86_kernels.h"

// Eight rows at a time: a signed pack keeps zero and non-zero apart, a byte
// compare and movemask give 16 flags per pair of rows. The first row is
// loaded from coefficient 1 and shifted up one lane, so that the DC
// coefficient is never read and its lane is zero.
uint64_t NonZeroMaskSse2(const int16_t* block) {
    const __m128i zero = _mm_setzero_si128();
    uint64_t zeros = 0;
    for (int32_t pair = 0; pair < 4; ++pair) {
        const __m128i first =
            pair == 0 ? _mm_slli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 1)), 2)
                      : _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * pair));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * pair + 8));
        const int32_t flags = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_packs_epi16(first, second), zero));
        zeros |= static_cast<uint64_t>(static_cast<uint32_t>(flags)) << (16 * pair);
    }
    return ~zeros;
}
