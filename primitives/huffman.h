// Huffman decoding of sequential entropy-coded data (ITU-T T.81 Annex F):
// the decode table built from a DHT table, the bit reader with its byte
// stuffing and marker rules, and the block decoder of SOF0/SOF1 scans.
//
// Stream variables are passed by address on every call: `src`/`srcLength`
// are the whole compressed frame, `position` is the offset of the next byte
// to read, `marker` is 0 until a marker ends the entropy-coded data and then
// holds its second byte; once it is set no further byte is read.
#pragma once

#include <cstdint>

#include "primitives/entropy_stream.h"
#include "primitives/status.h"

// Bits looked at by a decode table's code-and-value lookup.
constexpr int32_t kCodeValueLookupBits = 12;

// The decoding form of one Huffman table. Per-length arrays are indexed
// by code length - 1.
struct HuffmanDecodeTable {
    uint16_t symbols[256];      // symbol values in code order
    uint32_t fastLookup[256];   // next 8 bits -> (length << 16) | symbol; 0 = longer code
    uint16_t minCode[16];       // first code of each length
    uint16_t maxCode[16];       // last code of each length; 0xFFFF = no codes
    uint16_t firstSymbol[16];   // index in `symbols` of each length's first code
    // Next kCodeValueLookupBits bits -> the code they start with and, when
    // the value bits of its symbol's size (low four bits) follow within them,
    // the value too; 0 = no code that short. The layout is bit_reader.h's.
    uint32_t codeValueLookup[1 << kCodeValueLookupBits];
};

// The entropy decoder's state between calls.
struct HuffmanState {
    uint32_t bitBuffer;  // the low `bitCount` bits are unread input, next bit highest
    int32_t bitCount;    // 0..32
    int32_t eobRun;      // progressive AC scans: blocks an EOB run still covers
};

// Builds the decode table for the 16 code counts `bits` and the symbol
// values `values`. The table is allocated with AlignedAlloc and stored in
// *out also when the counts are rejected (PrimErrBadHuffmanTable).
PrimitiveStatus BuildHuffmanDecodeTable(const uint8_t* bits, const uint8_t* values,
                                        HuffmanDecodeTable** out);

// Allocates a zeroed HuffmanState and stores its address in *out.
PrimitiveStatus CreateHuffmanState(HuffmanState** out);

// Drops all buffered bits and any EOB run.
PrimitiveStatus ResetHuffmanState(HuffmanState* state);

// Tops the bit buffer up to at least 25 bits unless a marker or the end of
// the data stops it. `need` (0..16) is the number of bits the caller is about
// to take and only decides whether running short is an error.
PrimitiveStatus FillBits(const uint8_t* src, int32_t srcLength, int32_t* position,
                         int32_t* marker, int32_t need, HuffmanState* state);

// DECODE: one Huffman code with `table`; its symbol (0..255) goes to *symbol.
PrimitiveStatus DecodeSymbol(const uint8_t* src, int32_t srcLength, int32_t* position,
                             int32_t* marker, int32_t* symbol, const HuffmanDecodeTable* table,
                             HuffmanState* state);

// RECEIVE(s) followed by EXTEND: the next `s` bits (0..15) as a signed
// coefficient value, stored in *value.
PrimitiveStatus ReceiveExtend(const uint8_t* src, int32_t srcLength, int32_t* position,
                              int32_t* marker, int32_t s, int32_t* value, HuffmanState* state);

// Decodes one whole block of a sequential scan (DC difference and all AC
// coefficients) into `block` (64 coefficients, natural order) and updates
// the DC predictor.
PrimitiveStatus DecodeSequentialBlock(const uint8_t* src, int32_t srcLength, int32_t* position,
                                      int16_t* block, int16_t* dcPredictor, int32_t* marker,
                                      const HuffmanDecodeTable* dcTable,
                                      const HuffmanDecodeTable* acTable, HuffmanState* state);

// The blocks of one MCU of a sequential scan, in order, each with the tables
// and the DC predictor of its component.
constexpr int32_t kMaxBlocksPerMcu = 10;
struct SequentialMcuLayout {
    int32_t blockCount;  // 1..kMaxBlocksPerMcu
    const HuffmanDecodeTable* dcTables[kMaxBlocksPerMcu];
    const HuffmanDecodeTable* acTables[kMaxBlocksPerMcu];
    int16_t* dcPredictors[kMaxBlocksPerMcu];
};

// Decodes `mcuCount` MCUs of a sequential scan from `stream` into the
// consecutive blocks from `blocks` on, as DecodeSequentialBlock decodes each
// block, except that the blocks must be all zero beforehand: only the
// coefficients decoded are written. extents[b] receives, for the b-th block,
// the highest zig-zag index written (0 = the DC coefficient alone). On a
// failure the blocks before the failing one are complete and its status is
// returned.
PrimitiveStatus DecodeSequentialMcus(EntropyStream* stream, const SequentialMcuLayout* layout,
                                     int32_t mcuCount, int16_t* blocks, uint8_t* extents);
