// Facts of the inverse DCT that every block reconstruction kernel, scalar or
// vector, shares: which corner of a block can hold its non-zero
// coefficients, and what a block of DC only becomes.
//
// A block whose non-zero coefficients all lie in the top-left n x n corner
// (n = 2 or 4) needs only n column steps of n inputs, and row steps of n
// inputs: the zero inputs of the other steps contribute nothing to the
// sums modulo 2^32, and an all-zero column step yields zero outputs (its
// rounding term alone shifts to 0). Leaving them out is therefore exact.
//
// Included by kernels compiled for different instruction sets, so the
// helpers are inside an unnamed namespace: each file gets its own copy,
// compiled with its own instruction set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Where a block's non-zero values lie, in 32 bits: bit 8g + c is set when
// column c has a non-zero value in row group g, the groups being row 0, row
// 1, rows 2 and 3, and rows 4 to 7. That is all that choosing a corner
// needs, and a vector kernel finds it with two byte packs.
constexpr int32_t RowGroupOf(int32_t row) { return row < 2 ? row : (row < 4 ? 2 : 3); }

// The group mask of the top-left corner of side `side` (1, 2, 4 or 8).
constexpr uint32_t CornerMask(int32_t side) {
    uint32_t mask = 0;
    for (int32_t r = 0; r < side; ++r) {
        mask |= ((uint32_t{1} << side) - 1) << (8 * RowGroupOf(r));
    }
    return mask;
}

constexpr uint32_t kCorner1 = CornerMask(1);
constexpr uint32_t kCorner2 = CornerMask(2);
constexpr uint32_t kCorner4 = CornerMask(4);
constexpr uint32_t kCorner8 = CornerMask(8);
static_assert(kCorner1 == 1 && kCorner2 == 0x0303 && kCorner4 == 0x0F0F0F && kCorner8 == 0xFFFFFFFF,
              "corner masks");

// The side (1, 2, 4 or 8) of the smallest top-left corner that holds
// zig-zag indexes 0..extent: index 0 is the DC, 1 and 2 complete the 2 x 2
// corner, 3 to 9 the 4 x 4 one, and 10 is row 4, column 0.
constexpr int32_t CornerOfExtent(int32_t extent) {
    return extent < 1 ? 1 : (extent < 3 ? 2 : (extent < 10 ? 4 : 8));
}

// The group mask of that corner.
constexpr uint32_t CornerMaskOfExtent(int32_t extent) {
    return extent < 1 ? kCorner1 : (extent < 3 ? kCorner2 : (extent < 10 ? kCorner4 : kCorner8));
}

// The side of the smallest corner that holds the non-zero values of a group
// mask; 1 for DC only or nothing.
constexpr int32_t CornerOfMask(uint32_t nonZero) {
    return (nonZero & ~kCorner1) == 0 ? 1 : (nonZero & ~kCorner2) == 0 ? 2 : (nonZero & ~kCorner4) == 0 ? 4 : 8;
}

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
