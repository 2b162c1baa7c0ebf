#include "primitives/huffman.h"

#include <cstring>
#include <new>

#include "primitives/bit_reader.h"
#include "primitives/memory.h"

using huffman_internal::BitReader;

const int32_t ZigZagToNatural[72] = {
    0,  1,  8,  16, 9,  2,  3,  10,  //
    17, 24, 32, 25, 18, 11, 4,  5,   //
    12, 19, 26, 33, 40, 48, 41, 34,  //
    27, 20, 13, 6,  7,  14, 21, 28,  //
    35, 42, 49, 56, 57, 50, 43, 36,  //
    29, 22, 15, 23, 30, 37, 44, 51,  //
    58, 59, 52, 45, 38, 31, 39, 46,  //
    53, 60, 61, 54, 47, 55, 62, 63,  //
    // A run carried past the last coefficient lands on it.
    63, 63, 63, 63, 63, 63, 63, 63,
};

namespace {

constexpr int32_t kMaxCodeLength = 16;
constexpr int32_t kMaxCodes = 256;
constexpr int32_t kLookupBits = 8;
constexpr uint16_t kNoCodes = 0xFFFF;

// Fills a zeroed table from the DHT counts and values (T.81 Annex C for the
// code sizes and codes, Annex F.2.2.3 for the per-length decode limits).
PrimitiveStatus FillDecodeTable(const uint8_t* bits, const uint8_t* values,
                                HuffmanDecodeTable* table) {
    uint8_t sizes[kMaxCodes];
    int32_t count = 0;
    for (int32_t length = 1; length <= kMaxCodeLength; ++length) {
        for (int32_t i = 0; i < bits[length - 1]; ++i) {
            if (count == kMaxCodes) {
                return PrimErrBadHuffmanTable;
            }
            sizes[count++] = static_cast<uint8_t>(length);
        }
    }

    // Canonical codes. Over-subscribed counts make codes outside their
    // length; they are kept as they are (at most 256 increments and 15
    // doublings, so they fit in 32 bits).
    uint32_t codes[kMaxCodes];
    uint32_t code = 0;
    int32_t size = count > 0 ? sizes[0] : 0;
    for (int32_t i = 0; i < count; ++i) {
        for (; size < sizes[i]; ++size) {
            code <<= 1;
        }
        codes[i] = code++;
    }

    int32_t first = 0;
    for (int32_t length = 1; length <= kMaxCodeLength; ++length) {
        const int32_t n = bits[length - 1];
        if (n == 0) {
            table->maxCode[length - 1] = kNoCodes;
            continue;
        }
        table->firstSymbol[length - 1] = static_cast<uint16_t>(first);
        table->minCode[length - 1] = static_cast<uint16_t>(codes[first]);
        for (int32_t i = first; i < first + n; ++i) {
            table->symbols[i] = values[i];
        }
        first += n;
        table->maxCode[length - 1] = static_cast<uint16_t>(codes[first - 1]);
    }

    // Every code of up to 8 bits owns the 2^(8-L) lookup entries that start
    // with it.
    for (int32_t i = 0; i < count && sizes[i] <= kLookupBits; ++i) {
        const int32_t spare = kLookupBits - sizes[i];
        const uint32_t base = codes[i] << spare;
        const uint32_t entry = (uint32_t{sizes[i]} << 16) | values[i];
        for (uint32_t j = 0; j < (1u << spare); ++j) {
            if (base + j >= 256) {
                return PrimErrBadHuffmanTable;
            }
            table->fastLookup[base + j] = entry;
        }
    }
    return PrimOk;
}

}  // namespace

PrimitiveStatus BuildHuffmanDecodeTable(const uint8_t* bits, const uint8_t* values,
                                        HuffmanDecodeTable** out) {
    if (bits == nullptr || values == nullptr || out == nullptr) {
        return PrimErrNullPointer;
    }
    void* block = AlignedAlloc(static_cast<int32_t>(sizeof(HuffmanDecodeTable)));
    if (block == nullptr) {
        return PrimErrNullPointer;
    }
    HuffmanDecodeTable* table = new (block) HuffmanDecodeTable();  // zero-filled
    const PrimitiveStatus status = FillDecodeTable(bits, values, table);
    *out = table;  // also on failure: the caller owns and releases it
    return status;
}

PrimitiveStatus ResetHuffmanState(HuffmanState* state) {
    if (state == nullptr) {
        return PrimErrNullPointer;
    }
    state->bitBuffer = 0;
    state->bitCount = 0;
    state->eobRun = 0;
    return PrimOk;
}

namespace huffman_internal {

PrimitiveStatus FillBitsBytewise(BitReader* reader, int32_t need) {
    if (reader->marker != 0) {
        return need > reader->bitCount ? PrimErrBadHuffmanCode : PrimOk;
    }
    while (reader->bitCount < 25) {
        if (reader->position >= reader->srcLength) {
            return need > reader->bitCount ? PrimErrSourceExhausted : PrimOk;
        }
        const uint8_t byte = reader->src[reader->position++];
        if (byte == 0xFF) {
            // 0xFF 0x00 is a stuffed data byte; further 0xFF bytes are fill;
            // anything else is a marker, which ends the entropy-coded data.
            for (;;) {
                if (reader->position >= reader->srcLength) {
                    return PrimErrSourceExhausted;
                }
                const uint8_t next = reader->src[reader->position++];
                if (next == 0x00) {
                    break;
                }
                if (next != 0xFF) {
                    reader->marker = next;
                    return PrimOk;
                }
            }
        }
        reader->bitBuffer = (reader->bitBuffer << 8) | byte;
        reader->bitCount += 8;
    }
    return PrimOk;
}

int32_t DecodeSymbolCanonical(BitReader* reader, const HuffmanDecodeTable* table) {
    // With 8 bits held the lookup has ruled out every code of up to 8 bits.
    int32_t length = reader->bitCount >= kLookupBits ? kLookupBits + 1 : 1;
    const PrimitiveStatus status = NeedBits(*reader, length);
    if (status != PrimOk) {
        return status;
    }
    uint32_t code = TakeBits(*reader, length);
    for (;;) {
        if (length > kMaxCodeLength) {
            return PrimErrBadHuffmanCode;
        }
        const uint16_t maxCode = table->maxCode[length - 1];
        if (maxCode != kNoCodes && code <= maxCode) {
            // Tables with over-subscribed counts can place a code's index
            // outside `symbols`; no code matches then.
            const int32_t index = int32_t{table->firstSymbol[length - 1]} + static_cast<int32_t>(code) -
                                  int32_t{table->minCode[length - 1]};
            if (index < 0 || index >= kMaxCodes) {
                return PrimErrBadHuffmanCode;
            }
            return table->symbols[index];
        }
        const int32_t bit = ReadBit(*reader);
        if (bit < 0) {
            return bit;
        }
        code = (code << 1) | static_cast<uint32_t>(bit);
        ++length;
    }
}

}  // namespace huffman_internal

PrimitiveStatus FillBits(const uint8_t* src, int32_t srcLength, int32_t* position,
                         int32_t* marker, int32_t need, HuffmanState* state) {
    if (src == nullptr) {
        return PrimErrNullPointer;
    }
    if (srcLength < 0) {
        return PrimErrOutOfRange;
    }
    if (position == nullptr || marker == nullptr) {
        return PrimErrNullPointer;
    }
    if (need < 0 || need > 16) {
        return PrimErrOutOfRange;
    }
    if (state == nullptr) {
        return PrimErrNullPointer;
    }
    BitReader reader = huffman_internal::LoadBitReader(src, srcLength, position, marker, state);
    const PrimitiveStatus status = huffman_internal::FillBitsBytewise(&reader, need);
    huffman_internal::StoreBitReader(reader, position, marker, state);
    return status;
}

PrimitiveStatus DecodeSymbol(const uint8_t* src, int32_t srcLength, int32_t* position,
                             int32_t* marker, int32_t* symbol, const HuffmanDecodeTable* table,
                             HuffmanState* state) {
    if (src == nullptr) {
        return PrimErrNullPointer;
    }
    if (srcLength < 0) {
        return PrimErrOutOfRange;
    }
    if (position == nullptr || marker == nullptr || symbol == nullptr || table == nullptr ||
        state == nullptr) {
        return PrimErrNullPointer;
    }
    BitReader reader = huffman_internal::LoadBitReader(src, srcLength, position, marker, state);
    const int32_t result = huffman_internal::DecodeNextSymbol(reader, table);
    huffman_internal::StoreBitReader(reader, position, marker, state);
    if (result >= 0) {
        *symbol = result;
        return PrimOk;
    }
    if (result == PrimErrBadHuffmanCode) {
        *symbol = 0;
    }
    return static_cast<PrimitiveStatus>(result);
}

PrimitiveStatus ReceiveExtend(const uint8_t* src, int32_t srcLength, int32_t* position,
                              int32_t* marker, int32_t s, int32_t* value, HuffmanState* state) {
    if (src == nullptr) {
        return PrimErrNullPointer;
    }
    if (srcLength < 0) {
        return PrimErrOutOfRange;
    }
    if (position == nullptr || marker == nullptr) {
        return PrimErrNullPointer;
    }
    if (s < 0 || s > 15) {
        return PrimErrOutOfRange;
    }
    if (value == nullptr || state == nullptr) {
        return PrimErrNullPointer;
    }
    BitReader reader = huffman_internal::LoadBitReader(src, srcLength, position, marker, state);
    const PrimitiveStatus status = huffman_internal::ReceiveExtendBits(reader, s, value);
    huffman_internal::StoreBitReader(reader, position, marker, state);
    return status;
}

namespace {

// DC difference and AC coefficients of one sequential block (T.81 F.2.2.1
// and F.2.2.2), read through `reader`; the caller writes the reader back.
WEMB_ALWAYS_INLINE PrimitiveStatus DecodeBlock(BitReader& reader, int16_t* block,
                                               int16_t* dcPredictor,
                                               const HuffmanDecodeTable* dcTable,
                                               const HuffmanDecodeTable* acTable) {
    // Copied from a zero block: compilers turn this into a few vector
    // stores, where a 128-byte memset tends to become a slow `rep stos`.
    static const int16_t kZeroBlock[64] = {};
    std::memcpy(block, kZeroBlock, sizeof(kZeroBlock));

    const int32_t dcSymbol = huffman_internal::DecodeNextSymbol(reader, dcTable);
    if (dcSymbol < 0) {
        return static_cast<PrimitiveStatus>(dcSymbol);
    }
    if (dcSymbol != 0) {
        int32_t diff;
        const PrimitiveStatus status = huffman_internal::ReceiveExtendBits(reader, dcSymbol & 0x0F, &diff);
        if (status != PrimOk) {
            return status;
        }
        *dcPredictor = huffman_internal::Wrap16(static_cast<uint32_t>(*dcPredictor) +
                                                static_cast<uint32_t>(diff));
    }
    block[0] = *dcPredictor;

    for (int32_t k = 1; k <= 63;) {
        const int32_t acSymbol = huffman_internal::DecodeNextSymbol(reader, acTable);
        if (acSymbol < 0) {
            return static_cast<PrimitiveStatus>(acSymbol);
        }
        const int32_t run = acSymbol >> 4;
        const int32_t size = acSymbol & 0x0F;
        if (size == 0) {
            if (run != 15) {
                break;  // EOB
            }
            k += 16;  // ZRL
            continue;
        }
        k += run;
        const PrimitiveStatus status = huffman_internal::NeedBits(reader, size);
        if (status != PrimOk) {
            return status;
        }
        const int32_t value = huffman_internal::Extend(huffman_internal::TakeBits(reader, size), size);
        if (k > 71) {
            return PrimErrBadCode;  // damaged run: beyond even the padded table
        }
        block[ZigZagToNatural[k]] = static_cast<int16_t>(value);
        ++k;
    }
    return PrimOk;
}

}  // namespace

PrimitiveStatus DecodeSequentialBlock(const uint8_t* src, int32_t srcLength, int32_t* position,
                                      int16_t* block, int16_t* dcPredictor, int32_t* marker,
                                      const HuffmanDecodeTable* dcTable,
                                      const HuffmanDecodeTable* acTable, HuffmanState* state) {
    if (src == nullptr) {
        return PrimErrNullPointer;
    }
    if (srcLength < 0) {
        return PrimErrOutOfRange;
    }
    if (position == nullptr || block == nullptr || dcPredictor == nullptr || marker == nullptr ||
        dcTable == nullptr || acTable == nullptr || state == nullptr) {
        return PrimErrNullPointer;
    }
    BitReader reader = huffman_internal::LoadBitReader(src, srcLength, position, marker, state);
    const PrimitiveStatus status = DecodeBlock(reader, block, dcPredictor, dcTable, acTable);
    huffman_internal::StoreBitReader(reader, position, marker, state);
    return status;
}
