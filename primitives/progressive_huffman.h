// Block decoders of progressive scans (ITU-T T.81 Annex G): first and
// refinement scans of the DC coefficient and of an AC band Ss..Se at bit
// position Al. They add to blocks that persist across the frame's scans.
#pragma once

#include <cstdint>

#include "primitives/huffman.h"
#include "primitives/status.h"

PrimitiveStatus DecodeProgressiveDcBlock(const uint8_t* src, int32_t srcLength,
                                         int32_t* position, int16_t* block,
                                         int16_t* dcPredictor, int32_t* marker, int32_t al,
                                         const HuffmanDecodeTable* dcTable,
                                         HuffmanState* state);

PrimitiveStatus RefineProgressiveDcBlock(const uint8_t* src, int32_t srcLength,
                                         int32_t* position, int16_t* block, int32_t* marker,
                                         int32_t al, HuffmanState* state);

PrimitiveStatus DecodeProgressiveAcBlock(const uint8_t* src, int32_t srcLength,
                                         int32_t* position, int16_t* block, int32_t* marker,
                                         int32_t ss, int32_t se, int32_t al,
                                         const HuffmanDecodeTable* acTable,
                                         HuffmanState* state);

PrimitiveStatus RefineProgressiveAcBlock(const uint8_t* src, int32_t srcLength,
                                         int32_t* position, int16_t* block, int32_t* marker,
                                         int32_t ss, int32_t se, int32_t al,
                                         const HuffmanDecodeTable* acTable,
                                         HuffmanState* state);
