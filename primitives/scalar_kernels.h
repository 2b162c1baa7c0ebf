// The portable kernels: the reference for every instruction-set version,
// the fallback where the processor has none, and the finish of a row that
// a vector kernel leaves shorter than its groups. The signatures are those
// of the Kernels members (primitives/kernels.h).
#pragma once

#include <cstddef>
#include <cstdint>

// idct.cpp
void ReconstructBlockScalar(const int16_t* block, uint8_t* dst, ptrdiff_t step, const uint16_t* quantTable,
                            int32_t extent);

// color.cpp
void Interleave3RowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);
void Interleave4RowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YccToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YccToRgbRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YcckToCmykRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);

// color_rows.cpp: B, G, R rows of kPixelBytes (3, or 4 with 255 last).
template <int kPixelBytes> void GreyToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);
template <int kPixelBytes> void RgbToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);
template <int kPixelBytes> void YccToBgrxRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);
template <int kPixelBytes> void YccH2V1ToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);
template <int kPixelBytes> void YccH2V2ToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);
template <int kPixelBytes> void CmykToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);
template <int kPixelBytes> void YcckToBgrRowScalar(const uint8_t* const* rows, uint8_t* dst, size_t count);

// upsample.cpp
void UpsampleH2V1RowScalar(const uint8_t* src, uint8_t* dst, size_t width);
void UpsampleH2V2RowScalar(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst, size_t width);

// progressive_huffman.cpp
uint64_t NonZeroMaskScalar(const int16_t* block);
