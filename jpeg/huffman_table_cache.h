// CHuffmanTableCache: the decode tables a decoder has built, kept by the
// exact DHT content (code counts and symbol values) they were built from.
//
// A video carries the same Huffman tables frame after frame, and a decoder
// kept from frame to frame would otherwise build each of them again for
// every frame. A decode table is a pure function of the counts and values,
// so handing out a table built earlier from the same bytes gives exactly
// what a new build would, failures included: nothing that a table cached
// for one frame holds can change another frame's picture.
//
// Entries in use by a CJPEGDecoderHuffmanTable are never replaced; there is
// an entry for every table a decoder can hold at once (its eight slots and
// the tables it keeps for scans decoded later), so an entry can always be
// had. Of the entries no table uses, the most recently used kKeptUnused
// keep their tables, which bounds what the cache holds between frames. The
// cache is only touched by the thread that reads DHT segments; the threads
// that decode scans only read the tables it hands out.
#pragma once

#include <cstdint>

#include "primitives/status.h"

struct HuffmanDecodeTable;

class CHuffmanTableCache {
public:
    static constexpr int32_t kEntries = 80;
    static constexpr int32_t kKeptUnused = 16;

    CHuffmanTableCache();
    ~CHuffmanTableCache();
    CHuffmanTableCache(const CHuffmanTableCache&) = delete;
    CHuffmanTableCache& operator=(const CHuffmanTableCache&) = delete;

    // The decode table of the 16 code counts `counts` and the symbol values
    // `values` (as many as the counts add up to, at most 256), found or
    // built with BuildHuffmanDecodeTable, whose status is returned. Unless
    // the status is PrimErrNullPointer (nothing could be allocated) the
    // table, also a partly built one, goes to *table and stays valid until
    // Release(*entry); *entry is -1 otherwise.
    PrimitiveStatus Acquire(const uint8_t* counts, const uint8_t* values,
                            const HuffmanDecodeTable** table, int32_t* entry);
    void Release(int32_t entry);

    // How many times Acquire built a table: for tests.
    int64_t BuildCount() const { return m_builds; }

private:
    struct Entry {
        HuffmanDecodeTable* table;  // owned; null for an empty entry
        PrimitiveStatus status;     // the build's
        int32_t users;
        uint64_t lastUse;
        uint8_t counts[16];
        uint8_t values[256];        // the first (sum of counts) are meaningful
    };

    int32_t Find(const uint8_t* counts, const uint8_t* values, int32_t valueCount) const;
    int32_t FreeEntry() const;
    int32_t LeastRecentlyUsedUnused() const;
    void Empty(Entry& entry);

    Entry m_entries[kEntries];
    uint64_t m_clock;
    int64_t m_builds;
};
