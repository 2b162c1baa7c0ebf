// Facts of the inverse DCT that every block reconstruction kernel, scalar or
// vector, shares: what a block of DC only becomes.
//
// Included by kernels compiled for different instruction sets, so the
// helpers are inside an unnamed namespace: each file gets its own copy,
// compiled with its own instruction set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// The sample of a block whose AC coefficients are all zero after
// dequantization, from its dequantized DC. Both passes then collapse: the
// column pass turns DC into low16((DC x 32768 + 2048) >> 12), that is
// low16(8 x DC), in column 0 and zero elsewhere, and the row pass turns v
// into (v x 32768 + 2^20) >> 21 = (v + 32) >> 6 everywhere.
constexpr uint8_t DcOnlySample(int16_t dc) {
    const int32_t v = static_cast<int16_t>(static_cast<uint16_t>(8 * static_cast<int32_t>(dc)));
    const int32_t s = ((v + 32) >> 6) + 128;
    return static_cast<uint8_t>(s < 0 ? 0 : (s > 255 ? 255 : s));
}

inline void FillBlock(uint8_t* dst, ptrdiff_t step, uint8_t value) {
    for (int r = 0; r < 8; ++r) {
        std::memset(dst + r * step, value, 8);
    }
}

}  // namespace
