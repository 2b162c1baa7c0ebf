// The zig-zag order in which a block's 64 coefficients are coded (ITU-T T.81
// Figure A.6), and the tables derived from it. Every other table here is
// computed from ZigZagToNatural at compile time.
#pragma once

#include <array>
#include <cstdint>

// Zig-zag index -> natural (row-major) position. Entries 64..71 are 63 so
// that a run carried up to 8 places past the block lands on position 63.
inline constexpr int32_t ZigZagToNatural[72] = {
    0,  1,  8,  16, 9,  2,  3,  10,  //
    17, 24, 32, 25, 18, 11, 4,  5,   //
    12, 19, 26, 33, 40, 48, 41, 34,  //
    27, 20, 13, 6,  7,  14, 21, 28,  //
    35, 42, 49, 56, 57, 50, 43, 36,  //
    29, 22, 15, 23, 30, 37, 44, 51,  //
    58, 59, 52, 45, 38, 31, 39, 46,  //
    53, 60, 61, 54, 47, 55, 62, 63,  //
    63, 63, 63, 63, 63, 63, 63, 63,
};

namespace zigzag_internal {

// -1 where no zig-zag index names the position (which a permutation never
// leaves), so that the assertion below catches a mistyped entry.
constexpr std::array<int32_t, 64> InvertZigZag() {
    std::array<int32_t, 64> inverse = {};
    for (int32_t p = 0; p < 64; ++p) inverse[p] = -1;
    for (int32_t k = 0; k < 64; ++k) inverse[ZigZagToNatural[k]] = k;
    return inverse;
}

constexpr bool IsPermutation(const std::array<int32_t, 64>& inverse) {
    for (int32_t p = 0; p < 64; ++p) {
        if (inverse[p] < 0) return false;
    }
    return true;
}

}  // namespace zigzag_internal

// Natural position -> zig-zag index.
inline constexpr std::array<int32_t, 64> NaturalToZigZag = zigzag_internal::InvertZigZag();
static_assert(zigzag_internal::IsPermutation(NaturalToZigZag),
              "every natural position has exactly one zig-zag index");
static_assert(NaturalToZigZag[1] == 1 && NaturalToZigZag[8] == 2 && NaturalToZigZag[16] == 3 &&
                  NaturalToZigZag[2] == 5 && NaturalToZigZag[57] == 36 && NaturalToZigZag[62] == 62 &&
                  NaturalToZigZag[63] == 63,
              "the zig-zag walk: even anti-diagonals upwards, odd ones downwards");

// Zig-zag index k -> how many rows of the block, from the top, hold the
// natural positions of zig-zag indexes 0..k: the rows a block whose highest
// zig-zag index written is k can have touched.
struct ZigZagRowTable {
    uint8_t rowsReached[64];
};

namespace zigzag_internal {

constexpr ZigZagRowTable MakeZigZagRows() {
    ZigZagRowTable rows = {};
    int32_t lowest = 0;
    for (int32_t k = 0; k < 64; ++k) {
        const int32_t row = ZigZagToNatural[k] / 8;
        if (row > lowest) lowest = row;
        rows.rowsReached[k] = static_cast<uint8_t>(lowest + 1);
    }
    return rows;
}

}  // namespace zigzag_internal

inline constexpr ZigZagRowTable ZigZagRows = zigzag_internal::MakeZigZagRows();
static_assert(ZigZagRows.rowsReached[1] == 1 && ZigZagRows.rowsReached[2] == 2 &&
                  ZigZagRows.rowsReached[20] == 6 && ZigZagRows.rowsReached[21] == 7 &&
                  ZigZagRows.rowsReached[34] == 7 && ZigZagRows.rowsReached[35] == 8,
              "zig-zag 2, 21 and 35 are the first indexes in rows 1, 6 and 7");
