// CJPEGDecoderHuffmanTable: one DHT table with the decode table built from it.
#pragma once

#include <cstdint>

#include "jpeg/decoder_types.h"
#include "primitives/memory.h"

struct HuffmanDecodeTable;

class CJPEGDecoderHuffmanTable {
public:
    WEMB_HEAP_ALLOCATED

    CJPEGDecoderHuffmanTable();
    virtual ~CJPEGDecoderHuffmanTable();
    CJPEGDecoderHuffmanTable(const CJPEGDecoderHuffmanTable&) = delete;
    CJPEGDecoderHuffmanTable& operator=(const CJPEGDecoderHuffmanTable&) = delete;

    // Keeps the 16 code counts and 256 value bytes and builds m_codeTable.
    DecoderStatus Define(int32_t tableId, int32_t tableClass, const uint8_t* counts,
                         const uint8_t* values);

    int32_t m_tableId;
    int32_t m_tableClass;               // 0 for DC, the segment's Tc for AC
    HuffmanDecodeTable* m_codeTable;    // owned; null until Define
    uint8_t m_codeCounts[16];
    uint8_t m_symbols[256];
};
