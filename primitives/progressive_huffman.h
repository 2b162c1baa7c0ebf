// Block decoders of progressive scans (ITU-T T.81 Annex G): first and
// refinement scans of the DC coefficient and of an AC band Ss..Se at bit
// position Al. They add to blocks that persist across the frame's scans.
#pragma once

#include <cstddef>
#include <cstdint>

#include "primitives/entropy_stream.h"
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

// The blocks of one component along a block row of the frame, in the order
// a scan of that component alone visits them. Block i (from 0) lies
// (i / blocksPerGroup) * groupStride + (i % blocksPerGroup) * 64
// coefficients after `first`: a group is the component's blocks of that row
// inside one MCU.
struct ComponentBlockRow {
    int16_t* first;
    int32_t blocksPerGroup;  // H of the component, 1..4
    ptrdiff_t groupStride;   // coefficients from one MCU to the next
};

// The blocks a DC scan decodes in every MCU, in order: each one's index
// inside the MCU and, for first scans, its component's DC table and
// predictor.
struct DcScanLayout {
    int32_t mcuBlocks;   // blocks per MCU, the distance from one MCU to the next
    int32_t blockCount;  // 0..kMaxBlocksPerMcu
    int32_t blockIndexes[kMaxBlocksPerMcu];
    const HuffmanDecodeTable* dcTables[kMaxBlocksPerMcu];
    int16_t* dcPredictors[kMaxBlocksPerMcu];
};

// The four decoders on the decoder's stream, which reads ahead as its policy
// says (entropy_stream.h) and holds the EOB run, each over many blocks:
// `mcuCount` MCUs lying one after the other from `mcus`, or the blocks
// first..first + count - 1 of a block row. Each block is decoded as the
// block primitives above decode it; on a failure the blocks before the
// failing one are complete and its status is returned.
PrimitiveStatus DecodeProgressiveDcMcus(EntropyStream* stream, const DcScanLayout* layout,
                                        int16_t* mcus, int32_t mcuCount, int32_t al);
PrimitiveStatus RefineProgressiveDcMcus(EntropyStream* stream, const DcScanLayout* layout,
                                        int16_t* mcus, int32_t mcuCount, int32_t al);
PrimitiveStatus DecodeProgressiveDcBlocks(EntropyStream* stream, const ComponentBlockRow* row,
                                          int32_t first, int32_t count, int16_t* dcPredictor,
                                          int32_t al, const HuffmanDecodeTable* dcTable);
PrimitiveStatus RefineProgressiveDcBlocks(EntropyStream* stream, const ComponentBlockRow* row,
                                          int32_t first, int32_t count, int32_t al);
// (C linkage, like ReconstructBlock's: the tests count the blocks it is given.)
extern "C" PrimitiveStatus DecodeProgressiveAcBlocks(EntropyStream* stream, const ComponentBlockRow* row,
                                                     int32_t first, int32_t count, int32_t ss, int32_t se,
                                                     int32_t al, const HuffmanDecodeTable* acTable);
PrimitiveStatus RefineProgressiveAcBlocks(EntropyStream* stream, const ComponentBlockRow* row,
                                          int32_t first, int32_t count, int32_t ss, int32_t se,
                                          int32_t al, const HuffmanDecodeTable* acTable);
