// The x86 kernels of each instruction-set level, for the tables of
// primitives/kernels.cpp. Each level's kernels live in files named after the
// level (idct_sse2.cpp, color_avx2.cpp, ...), which are compiled for that
// instruction set and called only through the tables, on processors that
// have it. The signatures are those of the Kernels members.
#pragma once

#include <cstddef>
#include <cstdint>

// SSE2.
void ReconstructBlockSse2(const int16_t* block, uint8_t* dst, ptrdiff_t step, const uint16_t* quantTable,
                          int32_t extent);
void Interleave3RowSse2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void Interleave4RowSse2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YccToBgrRowSse2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YccToRgbRowSse2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YcckToCmykRowSse2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void UpsampleH2V1RowSse2(const uint8_t* src, uint8_t* dst, size_t width);
void UpsampleH2V2RowSse2(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst, size_t width);
uint64_t NonZeroMaskSse2(const int16_t* block);

// SSSE3: the 3-channel rows with the byte-shuffle store.
void Interleave3RowSsse3(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YccToBgrRowSsse3(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YccToRgbRowSsse3(const uint8_t* const* rows, uint8_t* dst, size_t count);

// AVX2.
void ReconstructBlockAvx2(const int16_t* block, uint8_t* dst, ptrdiff_t step, const uint16_t* quantTable,
                          int32_t extent);
void Interleave3RowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void Interleave4RowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YccToBgrRowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YccToRgbRowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YcckToCmykRowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void UpsampleH2V1RowAvx2(const uint8_t* src, uint8_t* dst, size_t width);
void UpsampleH2V2RowAvx2(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst, size_t width);
