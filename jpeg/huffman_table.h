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
    ~CJPEGDecoderHuffmanTable();
    CJPEGDecoderHuffmanTable(const CJPEGDecoderHuffmanTable&) = delete;
    CJPEGDecoderHuffmanTable& operator=(const CJPEGDecoderHuffmanTable&) = delete;

    // Takes m_codeTable for the 16 code counts and their values from
    // `cache`, which builds it unless it holds one built from the same counts
    // and values. The cache must outlive the table.
    DecoderStatus Define(const uint8_t* counts, const uint8_t* values, CHuffmanTableCache* cache);

    const HuffmanDecodeTable* m_codeTable;  // the cache's; null until Define

private:
    void ReleaseCodeTable();

    CHuffmanTableCache* m_cache;  // where m_codeTable comes from
    int32_t m_cacheEntry;         // its entry there; -1 = none
};
