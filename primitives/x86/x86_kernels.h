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
void ReconstructBlockPairAvx2(const int16_t* left, const int16_t* right, uint8_t* dst, ptrdiff_t step,
                              const uint16_t* quantTable, int32_t leftExtent, int32_t rightExtent);
void Interleave3RowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void Interleave4RowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YccToBgrRowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YccToRgbRowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void YcckToCmykRowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count);
void UpsampleH2V1RowAvx2(const uint8_t* src, uint8_t* dst, size_t width);
void UpsampleH2V2RowAvx2(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst, size_t width);

// The B, G, R row kernels of a level (color_rows_<level>.cpp), of 3 bytes a
// pixel (Bytes 3) and 4 (Bytes 4), and their BgrRowKernels entry.
#define WEMB_DECLARE_BGR_ROW_KERNELS(Level, Bytes)                                                   \
    void GreyToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count);     \
    void RgbToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count);      \
    void YccToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count);      \
    void YccH2V1ToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count);  \
    void YccH2V2ToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count);  \
    void CmykToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count);     \
    void YcckToBgr##Bytes##Row##Level(const uint8_t* const* rows, uint8_t* dst, size_t count);
#define WEMB_BGR_ROW_KERNELS(Level, Bytes)                                                               \
    BgrRowKernels {                                                                                     \
        GreyToBgr##Bytes##Row##Level, RgbToBgr##Bytes##Row##Level, YccToBgr##Bytes##Row##Level,          \
            YccH2V1ToBgr##Bytes##Row##Level, YccH2V2ToBgr##Bytes##Row##Level, CmykToBgr##Bytes##Row##Level, \
            YcckToBgr##Bytes##Row##Level                                                                  \
    }

WEMB_DECLARE_BGR_ROW_KERNELS(Sse2, 3)
WEMB_DECLARE_BGR_ROW_KERNELS(Sse2, 4)
WEMB_DECLARE_BGR_ROW_KERNELS(Ssse3, 3)
WEMB_DECLARE_BGR_ROW_KERNELS(Avx2, 3)
WEMB_DECLARE_BGR_ROW_KERNELS(Avx2, 4)
