// The decoder's way to the B, G, R row kernels: one output row straight
// from the component rows, chroma up-sampled on the way, each chroma row read
// once and each output row written once. What each kernel reads is in
// primitives/kernels.h (BgrRowKernels); the results are exactly those of the
// separate steps, up-sampling then converting, which define them. The
// callers guarantee the rows they pass: no argument is checked.
#pragma once

#include <cstdint>

#include "primitives/kernels.h"

// The kernels for destination pixels of `pixelBytes` bytes: 3 (B, G, R) or 4
// (B, G, R, 255).
inline const BgrRowKernels& BgrRows(int32_t pixelBytes) {
    return ActiveKernels().bgrRows[pixelBytes == 4 ? 1 : 0];
}
