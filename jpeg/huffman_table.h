// CJPEGDecoderHuffmanTable: one DHT table with the decode table built from it.
#pragma once

#include <cstdint>

#include "jpeg/decoder_types.h"
#include "primitives/memory.h"

class CHuffmanTableCache;
struct HuffmanDecodeTable;

class CJPEGDecoderHuffmanTable {
public:
    WEMB_HEAP_ALLOCATED

    CJPEGDecoderHuffmanTable();
    virtual ~CJPEGDecoderHuffmanTable();
    CJPEGDecoderHuffmanTable(const CJPEGDecoderHuffmanTable&) = delete;
    CJPEGDecoderHuffmanTable& operator=(const CJPEGDecoderHuffmanTable&) = delete;

    // Keeps the 16 code counts and 256 value bytes and takes m_codeTable
    // for them from `cache`, which builds it unless it holds one built from
    // the same counts and values. The cache must outlive the table.
    DecoderStatus Define(int32_t tableId, int32_t tableClass, const uint8_t* counts,
                         const uint8_t* values, CHuffmanTableCache* cache);

    int32_t m_tableId;
    int32_t m_tableClass;                   // 0 for DC, the segment's Tc for AC
    const HuffmanDecodeTable* m_codeTable;  // the cache's; null until Define
    uint8_t m_codeCounts[16];
    uint8_t m_symbols[256];

private:
    void ReleaseCodeTable();

    CHuffmanTableCache* m_cache;  // where m_codeTable comes from
    int32_t m_cacheEntry;         // its entry there; -1 = none
};
