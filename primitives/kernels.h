// The instruction-set kernels of the pixel primitives: the per-block and
// per-row work, without argument checks, behind one table of function
// pointers per instruction-set level.
//
// Every kernel of every level gives exactly the bytes of the scalar kernel
// (the reference, and the fallback on processors without the instruction
// sets). The primitives check their arguments and then call
//
//     ActiveKernels().yccToBgrRow(rows, dst, width);
//
// which costs two loads and an indirect call: the table is that of the
// highest level that both the processor and LimitSimdLevel
// (primitives/simd.h) allow, chosen at the first call under each limit.
//
// Adding a kernel: a member here, its scalar version in
// primitives/scalar_kernels.h (that is what every level starts from), and
// for each level that has a faster version a declaration in
// primitives/x86/x86_kernels.h, the definition in the level's own source
// file (compiled with that instruction set, see CMakeLists.txt) and one line
// in that level's table in primitives/kernels.cpp.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "primitives/simd.h"

// The highest zig-zag index of a block that may hold a non-zero coefficient:
// 0 for a block of DC only, 63 when nothing is known.
constexpr int32_t kFullBlockExtent = 63;

// A row kernel over planes: `count` pixels from the rows rows[0], rows[1],
// ... into one interleaved row. Count may be 0.
using PlaneRowsKernel = void (*)(const uint8_t* const* rows, uint8_t* dst, size_t count);

// Rows of B, G, R pixels straight from a decoder's component rows, chroma
// up-sampled on the way: exactly the bytes of up-sampling (upsampleH2V1Row,
// upsampleH2V2Row), then converting (yccToBgrRow, and so on). What rows[]
// holds for each:
struct BgrRowKernels {
    PlaneRowsKernel grey;     // grey: B = G = R
    PlaneRowsKernel rgb;      // R, G, B
    PlaneRowsKernel ycc;      // Y, Cb, Cr, all of full resolution
    PlaneRowsKernel yccH2V1;  // Y, Cb, Cr; chroma of half width, cb[-1 .. count / 2] read
    PlaneRowsKernel yccH2V2;  // Y, Cb, Cr, far Cb, far Cr; chroma of half width and height:
                              // each chroma sample 3 parts its row, 1 part the far row
    PlaneRowsKernel cmyk;     // Adobe CMYK (inverted ink): R = C x K / 255 rounded, ...
    PlaneRowsKernel ycck;     // Adobe YCCK: Y, Cb, Cr to R, G, B, then as CMYK of 255 - R, ...
};

struct Kernels {
    // The instruction-set level these kernels were compiled for: the level
    // of the table, or lower where that level has no version of its own.
    int32_t level;

    // Dequantizes an 8x8 block (64 coefficients in natural order) with a
    // prepared table, inverse-transforms it, adds 128, clamps to 0..255 and
    // writes 8 rows of 8 samples `step` bytes apart: the bytes of
    // ReconstructBlock. `extent` (0..63) is the caller's word that the
    // coefficients after that zig-zag index are zero (kFullBlockExtent when
    // nothing is known); the kernel may then leave them unread. Should the
    // word be broken, every level still gives the same bytes: those of the
    // block cut to the top-left corner (1, 2, 4 or 8 on a side) that holds
    // zig-zag indexes 0..extent.
    void (*reconstructBlock)(const int16_t* block, uint8_t* dst, ptrdiff_t step,
                             const uint16_t* quantTable, int32_t extent);
    // Two blocks of one quantization table whose samples lie side by side:
    // the bytes of reconstructBlock on `left` at dst and on `right` at
    // dst + 8, each with its own extent.
    void (*reconstructBlockPair)(const int16_t* left, const int16_t* right, uint8_t* dst, ptrdiff_t step,
                                 const uint16_t* quantTable, int32_t leftExtent, int32_t rightExtent);

    // Row kernels: `count` pixels from the rows rows[0], rows[1], ... (one
    // per plane, the same pixel at the same index) into one interleaved row
    // of 3 or 4 bytes per pixel. Count may be 0.
    void (*interleave3Row)(const uint8_t* const* rows, uint8_t* dst, size_t count);
    void (*interleave4Row)(const uint8_t* const* rows, uint8_t* dst, size_t count);
    void (*yccToBgrRow)(const uint8_t* const* rows, uint8_t* dst, size_t count);
    void (*yccToRgbRow)(const uint8_t* const* rows, uint8_t* dst, size_t count);
    void (*ycckToCmykRow)(const uint8_t* const* rows, uint8_t* dst, size_t count);

    // Up-sampling rows of `width` output samples (triangle filters); they
    // read one source sample beyond each end of src[0 .. (width - 1) / 2].
    // H2V1: from one source row. H2V2: from the nearer source row (weight 3)
    // and the farther one (weight 1).
    void (*upsampleH2V1Row)(const uint8_t* src, uint8_t* dst, size_t width);
    void (*upsampleH2V2Row)(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst,
                            size_t width);

    // Bit p set for each natural position p of 1..63 whose coefficient is
    // non-zero; bit 0 is clear. The DC coefficient is not read: AC scans
    // decoded on one thread call this while a DC scan on another may be
    // writing it.
    uint64_t (*nonZeroMask)(const int16_t* block);

    // B, G, R rows of 3 bytes a pixel ([0]) and of 4, the fourth 255 ([1]).
    BgrRowKernels bgrRows[2];
};

namespace kernels_internal {

// The table chosen under each limit, null until the first call under that
// limit. The tables are constants fixed at build time, so a pointer read
// without ordering always finds a complete table.
extern std::atomic<const Kernels*> g_chosenTables[kSimdLevelCount];

// Detects the processor's level (once), chooses the table for `limit` and
// stores it in its slot.
const Kernels& ChooseTable(int32_t limit);

}  // namespace kernels_internal

// The kernels to use now.
inline const Kernels& ActiveKernels() {
    const int32_t limit = g_simdLevelLimit.load(std::memory_order_relaxed);
    const Kernels* table = kernels_internal::g_chosenTables[limit].load(std::memory_order_relaxed);
    return table != nullptr ? *table : kernels_internal::ChooseTable(limit);
}

// The table ActiveKernels() gives under LimitSimdLevel(level) on this
// processor; tests compare every table with the scalar one.
const Kernels& KernelsForLevel(int32_t level);
