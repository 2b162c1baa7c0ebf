#include "jpeg/huffman_table_cache.h"

#include <cstring>

#include "primitives/huffman.h"
#include "primitives/memory.h"

namespace {

constexpr int32_t kCodeLengths = 16;
constexpr int32_t kMaxValues = 256;

// The values BuildHuffmanDecodeTable reads: one per code, at most 256 (more
// codes fail the build before any value is read).
int32_t ValueCount(const uint8_t* counts) {
    int32_t total = 0;
    for (int32_t i = 0; i < kCodeLengths; ++i) total += counts[i];
    return total < kMaxValues ? total : kMaxValues;
}

}  // namespace

CHuffmanTableCache::CHuffmanTableCache() : m_entries(), m_clock(0), m_builds(0) {}

CHuffmanTableCache::~CHuffmanTableCache() {
    for (Entry& entry : m_entries) {
        AlignedFree(entry.table);
    }
}

int32_t CHuffmanTableCache::Find(const uint8_t* counts, const uint8_t* values, int32_t valueCount) const {
    for (int32_t i = 0; i < kEntries; ++i) {
        const Entry& entry = m_entries[i];
        if (entry.table != nullptr && std::memcmp(entry.counts, counts, kCodeLengths) == 0 &&
            std::memcmp(entry.values, values, static_cast<size_t>(valueCount)) == 0) {
            return i;
        }
    }
    return -1;
}

// The least recently used entry that holds a table no one uses; -1 if none.
int32_t CHuffmanTableCache::LeastRecentlyUsedUnused() const {
    int32_t chosen = -1;
    for (int32_t i = 0; i < kEntries; ++i) {
        const Entry& entry = m_entries[i];
        if (entry.table != nullptr && entry.users == 0 &&
            (chosen < 0 || entry.lastUse < m_entries[chosen].lastUse)) {
            chosen = i;
        }
    }
    return chosen;
}

// An empty entry, else the least recently used one that no table uses.
int32_t CHuffmanTableCache::FreeEntry() const {
    for (int32_t i = 0; i < kEntries; ++i) {
        if (m_entries[i].table == nullptr) {
            return i;
        }
    }
    return LeastRecentlyUsedUnused();
}

void CHuffmanTableCache::Empty(Entry& entry) {
    AlignedFree(entry.table);
    entry.table = nullptr;
    entry.users = 0;
}

PrimitiveStatus CHuffmanTableCache::Acquire(const uint8_t* counts, const uint8_t* values,
                                            const HuffmanDecodeTable** table, int32_t* entry) {
    *entry = -1;
    const int32_t valueCount = ValueCount(counts);
    int32_t found = Find(counts, values, valueCount);
    if (found < 0) {
        found = FreeEntry();
        if (found < 0) {
            return PrimErrNullPointer;  // more tables in use than a decoder holds
        }
        Entry& slot = m_entries[found];
        Empty(slot);
        HuffmanDecodeTable* built = nullptr;
        slot.status = BuildHuffmanDecodeTable(counts, values, &built);
        ++m_builds;
        if (built == nullptr) {
            return slot.status;
        }
        slot.table = built;
        slot.users = 0;
        std::memcpy(slot.counts, counts, kCodeLengths);
        std::memcpy(slot.values, values, static_cast<size_t>(valueCount));
    }
    Entry& hit = m_entries[found];
    ++hit.users;
    hit.lastUse = ++m_clock;
    *table = hit.table;
    *entry = found;
    return hit.status;
}

void CHuffmanTableCache::Release(int32_t entry) {
    if (entry < 0 || entry >= kEntries || m_entries[entry].users <= 0) {
        return;
    }
    if (--m_entries[entry].users > 0) {
        return;
    }
    int32_t unused = 0;
    for (const Entry& e : m_entries) {
        if (e.table != nullptr && e.users == 0) ++unused;
    }
    for (; unused > kKeptUnused; --unused) {
        Empty(m_entries[LeastRecentlyUsedUnused()]);
    }
}
