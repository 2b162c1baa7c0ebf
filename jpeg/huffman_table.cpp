// DHT segments and the Huffman tables they define.
#include "jpeg/huffman_table.h"

#include <new>

#include "jpeg/decoder.h"
#include "jpeg/huffman_table_cache.h"
#include "primitives/huffman.h"

namespace {

constexpr int32_t kCodeLengths = 16;
constexpr int32_t kMaxSymbols = 256;
constexpr int32_t kTableSlots = 4;

}  // namespace

CJPEGDecoderHuffmanTable::CJPEGDecoderHuffmanTable()
    : m_codeTable(nullptr),
      m_cache(nullptr),
      m_cacheEntry(-1) {}

CJPEGDecoderHuffmanTable::~CJPEGDecoderHuffmanTable() { ReleaseCodeTable(); }

void CJPEGDecoderHuffmanTable::ReleaseCodeTable() {
    if (m_cache != nullptr) {
        m_cache->Release(m_cacheEntry);
    }
    m_codeTable = nullptr;
    m_cache = nullptr;
    m_cacheEntry = -1;
}

DecoderStatus CJPEGDecoderHuffmanTable::Define(const uint8_t* counts, const uint8_t* values,
                                               CHuffmanTableCache* cache) {
    ReleaseCodeTable();
    m_cache = cache;
    const PrimitiveStatus status = cache->Acquire(counts, values, &m_codeTable, &m_cacheEntry);
    return status == PrimOk ? DecOk : DecErrFailed;
}

DecoderStatus CJPEGDecoder::ReadHuffmanTables(CJPEGDecoderHuffmanTable** dcTables,
                                              CJPEGDecoderHuffmanTable** acTables) {
    if (!HasBytes(2)) return DecErrEndOfData;
    int32_t remaining = TakeWord() - 2;
    // Counts first, then up to 256 values; bytes past the values are zero.
    uint8_t work[kCodeLengths + kMaxSymbols] = {};
    while (remaining > kCodeLengths) {
        if (!HasBytes(1 + kCodeLengths)) return DecErrEndOfData;
        const int32_t classAndId = TakeByte();
        int32_t total = 0;
        for (int32_t i = 0; i < kCodeLengths; ++i) {
            work[i] = static_cast<uint8_t>(TakeByte());
            total += work[i];
        }
        remaining -= 1 + kCodeLengths;
        if (total > kMaxSymbols || total > remaining) return DecErrBadHuffmanSegment;
        if (!HasBytes(total)) return DecErrEndOfData;
        for (int32_t i = 0; i < total; ++i) {
            work[kCodeLengths + i] = static_cast<uint8_t>(TakeByte());
        }
        remaining -= total;

        const int32_t tableClass = classAndId >> 4;
        const int32_t id = classAndId & 0x0F;
        // Four slots per class: a larger id has nowhere to go.
        if (id >= kTableSlots) return DecErrBadHuffmanSegment;
        CJPEGDecoderHuffmanTable** set = tableClass == 0 ? dcTables : acTables;
        DiscardHuffmanTable(set[id]);
        set[id] = new (std::nothrow) CJPEGDecoderHuffmanTable;
        if (set[id] == nullptr) return DecErrFailed;
        const DecoderStatus status = set[id]->Define(work, work + kCodeLengths, &m_huffmanCache);
        if (status != DecOk) return status;
    }
    if (remaining != 0) return DecErrBadLength;
    m_stream.ClearMarker();
    return DecOk;
}
