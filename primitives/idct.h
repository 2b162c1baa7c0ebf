// Dequantization and the fixed-point 8x8 inverse DCT.
//
// The decoded picture is defined by these integer steps, not by an ideal
// transform: every implementation must match them bit for bit.
#pragma once

#include <cstdint>

#include "primitives/status.h"

// Widens the 64 raw quantizers of a DQT table (zig-zag order) to 16 bits in
// natural order.
PrimitiveStatus PrepareQuantTable(const uint8_t* raw, uint16_t* prepared);

// Dequantizes `block` with `quantTable`, applies the inverse DCT, adds 128,
// clamps to 0..255 and writes 8 rows of 8 samples, `dstStep` bytes apart.
// C linkage gives the symbol a plain name, by which the tests count the
// decoder's calls (tests/support/primitive_counters.h).
extern "C" PrimitiveStatus ReconstructBlock(const int16_t* block, uint8_t* dst, int32_t dstStep,
                                            const uint16_t* quantTable);

// out[i] = a[i] * b[i], saturated to the signed 16-bit range.
void MultiplySaturated(const int16_t* a, const int16_t* b, int16_t* out, int32_t count);

// The two-pass inverse DCT from 64 coefficients to 64 signed 16-bit values,
// natural order in and out.
void InverseDct8x8(const int16_t* in, int16_t* out);
