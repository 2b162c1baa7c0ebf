#include "primitives/huffman.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "primitives/bit_reader.h"
#include "primitives/kernels.h"
#include "primitives/memory.h"
#include "primitives/zigzag.h"

namespace hi = huffman_internal;

namespace {

constexpr int32_t kMaxCodeLength = 16;
constexpr int32_t kMaxCodes = 256;
constexpr int32_t kLookupBits = 8;
constexpr uint16_t kNoCodes = 0xFFFF;

// The code-and-value lookup entries of one code of `length` bits whose
// symbol is `symbol`: the 2^spare entries that start with it, spare being the
// lookup's bits after the code. When the value bits of the symbol's size fit
// in them, each value v owns the 2^(spare - size) entries whose bits after
// the code start with v; otherwise all entries are the same.
void FillCodeEntries(uint32_t* entries, int32_t length, int32_t symbol) {
    const int32_t spare = kCodeValueLookupBits - length;
    const int32_t size = symbol & 0x0F;
    if (size == 0 || size > spare) {
        std::fill_n(entries, 1u << spare, hi::MakeCodeValueEntry(length, symbol, kCodeValueLookupBits, 0));
        return;
    }
    const int32_t unused = spare - size;  // bits after the value bits
    for (uint32_t v = 0; v < (1u << size); ++v) {
        std::fill_n(entries + (v << unused), 1u << unused,
                    hi::MakeCodeValueEntry(length, symbol, kCodeValueLookupBits, v << unused));
    }
}

// The code-and-value lookup of a table whose per-length limits are set: for
// every value w of the next kCodeValueLookupBits bits, what the canonical
// search of DECODE finds in them. The search takes the first length L whose
// last code is at least the first L bits of w; those are the w below
// (maxCode[L] + 1) shifted up to the lookup's width, so the w that no
// shorter length takes and length L does form one range, which starts on a
// code of length L (every shorter length's range ends on one) and is filled
// code by code. Where the search meets a symbol index outside `symbols`
// (over-subscribed counts) the entries are kBadShortCode, which sends
// decoding the step-by-step way; where it finds no code that short they are
// kNoShortCode.
void FillCodeValueLookup(HuffmanDecodeTable* table) {
    constexpr uint32_t kEntries = 1u << kCodeValueLookupBits;
    uint32_t* lookup = table->codeValueLookup;
    uint32_t taken = 0;  // the w below this are found at a shorter length
    for (int32_t length = 1; length <= kCodeValueLookupBits && taken < kEntries; ++length) {
        const uint32_t maxCode = table->maxCode[length - 1];
        if (maxCode == kNoCodes) {
            continue;
        }
        const int32_t spare = kCodeValueLookupBits - length;
        const uint32_t end = (maxCode + 1) << spare < kEntries ? (maxCode + 1) << spare : kEntries;
        for (uint32_t code = taken >> spare; (code << spare) < end; ++code) {
            const int32_t index = int32_t{table->firstSymbol[length - 1]} + static_cast<int32_t>(code) -
                                  int32_t{table->minCode[length - 1]};
            if (index >= 0 && index < kMaxCodes) {
                FillCodeEntries(lookup + (code << spare), length, table->symbols[index]);
            } else {
                std::fill_n(lookup + (code << spare), 1u << spare, hi::kBadShortCode);
            }
        }
        if (end > taken) taken = end;
    }
    std::fill(lookup + taken, lookup + kEntries, hi::kNoShortCode);
}

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
    FillCodeValueLookup(table);
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

PrimitiveStatus CreateHuffmanState(HuffmanState** out) {
    if (out == nullptr) {
        return PrimErrNullPointer;
    }
    void* block = AlignedAlloc(static_cast<int32_t>(sizeof(HuffmanState)));
    if (block == nullptr) {
        return PrimErrNullPointer;
    }
    std::memset(block, 0, sizeof(HuffmanState));
    *out = static_cast<HuffmanState*>(block);
    return PrimOk;
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

namespace {

// What DecodeLongCode returns when no code fits the bits held.
constexpr int32_t kNoCodeInHeldBits = 256;

// A code of 9 to 16 bits found in the bits held, when the 8-bit lookup has
// ruled out the shorter ones and more than 8 bits are held. The canonical
// search below takes 9 bits and then one bit at a time, refilling only when
// no bit is left; for a code no longer than the bits held it therefore never
// refills, and comparing the first L held bits with the codes of each length
// L gives the same code, symbol and consumed bits. When no code of up to
// min(m_bitCount, 16) bits matches, the stream is left as it was and
// kNoCodeInHeldBits returned: the caller then runs the bitwise search, with
// its refills and its error.
int32_t DecodeLongCode(EntropyStream& stream, const HuffmanDecodeTable* table) {
    const int32_t held = stream.m_bitCount < 16 ? stream.m_bitCount : 16;  // 9..16
    // The next `held` bits, first bit at bit 15, zeros after them.
    const uint32_t next16 = PeekBits(stream, 16);
    for (int32_t length = kLookupBits + 1; length <= held; ++length) {
        const uint32_t code = next16 >> (16 - length);
        const uint32_t maxCode = table->maxCode[length - 1];
        if (maxCode != kNoCodes && code <= maxCode) {
            SkipBits(stream, length);
            // Over-subscribed counts can place the index outside `symbols`.
            const int32_t index = int32_t{table->firstSymbol[length - 1]} + static_cast<int32_t>(code) -
                                  int32_t{table->minCode[length - 1]};
            if (index < 0 || index >= kMaxCodes) {
                return PrimErrBadHuffmanCode;
            }
            return table->symbols[index];
        }
    }
    return kNoCodeInHeldBits;
}

// The canonical search one bit at a time (T.81 F.2.2.3), after the 8-bit
// lookup found nothing: from 9 bits when 8 were held, else from 1.
int32_t DecodeCanonical(EntropyStream& stream, const HuffmanDecodeTable* table, int32_t fillTarget) {
    int32_t length = stream.m_bitCount >= kLookupBits ? kLookupBits + 1 : 1;
    const PrimitiveStatus status = NeedBits(stream, fillTarget, length);
    if (status != PrimOk) {
        return status;
    }
    uint32_t code = TakeBits(stream, length);
    for (;;) {
        if (length > kMaxCodeLength) {
            return PrimErrBadHuffmanCode;
        }
        const uint16_t maxCode = table->maxCode[length - 1];
        if (maxCode != kNoCodes && code <= maxCode) {
            const int32_t index = int32_t{table->firstSymbol[length - 1]} + static_cast<int32_t>(code) -
                                  int32_t{table->minCode[length - 1]};
            if (index < 0 || index >= kMaxCodes) {
                return PrimErrBadHuffmanCode;
            }
            return table->symbols[index];
        }
        const int32_t bit = ReadBit(stream, fillTarget);
        if (bit < 0) {
            return bit;
        }
        code = (code << 1) | static_cast<uint32_t>(bit);
        ++length;
    }
}

}  // namespace

int32_t DecodeSymbolStepwise(EntropyStream* stream, const HuffmanDecodeTable* table,
                             int32_t fillTarget) {
    EntropyStream& s = *stream;
    if (s.m_bitCount < kLookupBits) {
        const PrimitiveStatus status = Refill(s, fillTarget, 0);
        if (status != PrimOk) {
            return status;
        }
    }
    if (s.m_bitCount >= kLookupBits) {
        const uint32_t entry = table->fastLookup[PeekBits(s, kLookupBits)];
        if (entry != 0) {
            SkipBits(s, static_cast<int32_t>(entry >> 16));
            return static_cast<int32_t>(entry & 0xFFFFu);
        }
        if (s.m_bitCount > kLookupBits) {
            const int32_t symbol = DecodeLongCode(s, table);
            if (symbol != kNoCodeInHeldBits) {
                return symbol;
            }
        }
    }
    return DecodeCanonical(s, table, fillTarget);
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
    EntropyStream stream = hi::LoadEntropyStream(src, srcLength, position, marker, state);
    const PrimitiveStatus status = hi::FillBytes(&stream, hi::ByteWiseReads::kFillTarget, need);
    hi::StoreEntropyStream(stream, position, marker, state);
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
    EntropyStream stream = hi::LoadEntropyStream(src, srcLength, position, marker, state);
    const int32_t result = hi::DecodeNextSymbol<hi::ByteWiseReads>(stream, table);
    hi::StoreEntropyStream(stream, position, marker, state);
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
    EntropyStream stream = hi::LoadEntropyStream(src, srcLength, position, marker, state);
    const PrimitiveStatus status =
        hi::ReceiveExtendBits(stream, hi::ByteWiseReads::kFillTarget, s, value);
    hi::StoreEntropyStream(stream, position, marker, state);
    return status;
}

namespace {

// DC difference and AC coefficients of one sequential block (T.81 F.2.2.1
// and F.2.2.2) into a block that is all zero: only the coefficients decoded
// are written. *extent receives the highest zig-zag index written.
//
// A coefficient whose code and value bits both lie in the lookup's bits is
// taken in one step; the others take the code, then the value bits.
template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus DecodeBlock(EntropyStream& stream, int16_t* block,
                                               int16_t* dcPredictor,
                                               const HuffmanDecodeTable* dcTable,
                                               const HuffmanDecodeTable* acTable, int32_t* extent) {
    int32_t diff;
    PrimitiveStatus status = hi::DecodeDcDifference<Reads>(stream, dcTable, &diff);
    if (status != PrimOk) {
        return status;
    }
    *dcPredictor = hi::Wrap16(static_cast<uint32_t>(*dcPredictor) + static_cast<uint32_t>(diff));
    block[0] = *dcPredictor;

    int32_t last = 0;
    for (int32_t k = 1; k <= 63;) {
        uint32_t entry;
        status = hi::LookUpNextCode<Reads>(stream, acTable, &entry);
        if (status != PrimOk) {
            return status;
        }
        if (entry >= hi::kEntryWithValue) {
            hi::SkipEntryBits(stream, entry);
            k += hi::EntryRun(entry);
            if (k > 71) {
                return PrimErrBadCode;  // damaged run: beyond even the padded table
            }
            block[ZigZagToNatural[k]] = static_cast<int16_t>(hi::EntryValue(entry));
            last = k++;
            continue;
        }
        const int32_t symbol = hi::SymbolOf(stream, entry, acTable, Reads::kFillTarget);
        if (symbol < 0) {
            return static_cast<PrimitiveStatus>(symbol);
        }
        const int32_t run = symbol >> 4;
        const int32_t size = symbol & 0x0F;
        if (size == 0) {
            if (run != 15) {
                break;  // EOB
            }
            k += 16;  // ZRL
            continue;
        }
        k += run;
        status = hi::NeedBits(stream, Reads::kFillTarget, size);
        if (status != PrimOk) {
            return status;
        }
        const int32_t value = hi::Extend(hi::TakeBits(stream, size), size);
        if (k > 71) {
            return PrimErrBadCode;
        }
        block[ZigZagToNatural[k]] = static_cast<int16_t>(value);
        last = k++;
    }
    *extent = last < 63 ? last : 63;
    return PrimOk;
}

template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus DecodeMcus(EntropyStream& stream, const SequentialMcuLayout& layout,
                                              int32_t mcuCount, int16_t* blocks, uint8_t* extents) {
    for (int32_t mcu = 0; mcu < mcuCount; ++mcu) {
        for (int32_t b = 0; b < layout.blockCount; ++b) {
            int32_t extent;
            const PrimitiveStatus status = DecodeBlock<Reads>(
                stream, blocks, layout.dcPredictors[b], layout.dcTables[b], layout.acTables[b], &extent);
            if (status != PrimOk) {
                return status;
            }
            *extents++ = static_cast<uint8_t>(extent);
            blocks += 64;
        }
    }
    return PrimOk;
}

PrimitiveStatus DecodeMcusPlain(EntropyStream* stream, const SequentialMcuLayout& layout, int32_t mcuCount,
                                int16_t* blocks, uint8_t* extents) {
    return hi::WithReadAhead(stream, [&](EntropyStream& s, auto reads) {
        return DecodeMcus<decltype(reads)>(s, layout, mcuCount, blocks, extents);
    });
}

#if WEMB_X86_KERNELS && defined(__GNUC__)
// The same loop compiled for BMI2, whose shifts by a register (SHLX, SHRX)
// take one cycle and leave the flags alone: the bit buffer's shift by each
// code's length lies on the loop's longest chain of dependent steps. The
// inline steps of bit_reader.h are inlined into it and compiled for BMI2
// here (written out rather than through WithReadAhead's lambda, which would
// be a function of its own, compiled plain); the out-of-line ones (refills
// near a 0xFF, long codes) stay plain. Streams read byte-wise take the plain
// loop.
__attribute__((target("bmi2"))) PrimitiveStatus DecodeMcusBmi2(EntropyStream* stream,
                                                               const SequentialMcuLayout& layout,
                                                               int32_t mcuCount, int16_t* blocks,
                                                               uint8_t* extents) {
    EntropyStream copy = *stream;
    const PrimitiveStatus status = DecodeMcus<hi::WideReads>(copy, layout, mcuCount, blocks, extents);
    *stream = copy;
    return status;
}

#endif

}  // namespace

#if WEMB_X86_KERNELS && defined(__GNUC__)
// The BMI2 loops run where the AVX2 kernels run (the instruction-set limit
// of the tests and hosts applies to both) and the processor has BMI2.
bool huffman_internal::UsesBmi2() {
    static const bool hasBmi2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("bmi2") != 0;
    }();
    return hasBmi2 && ActiveKernels().level >= SimdAvx2;
}
#endif

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
    // Copied from a zero block: compilers turn this into a few vector
    // stores, where a 128-byte memset tends to become a slow `rep stos`.
    static const int16_t kZeroBlock[64] = {};
    std::memcpy(block, kZeroBlock, sizeof(kZeroBlock));
    EntropyStream stream = hi::LoadEntropyStream(src, srcLength, position, marker, state);
    int32_t extent;
    const PrimitiveStatus status =
        DecodeBlock<hi::ByteWiseReads>(stream, block, dcPredictor, dcTable, acTable, &extent);
    hi::StoreEntropyStream(stream, position, marker, state);
    return status;
}

PrimitiveStatus DecodeSequentialMcus(EntropyStream* stream, const SequentialMcuLayout* layout,
                                     int32_t mcuCount, int16_t* blocks, uint8_t* extents) {
    if (stream == nullptr || layout == nullptr || blocks == nullptr || extents == nullptr) {
        return PrimErrNullPointer;
    }
    if (mcuCount < 0 || layout->blockCount < 1 || layout->blockCount > kMaxBlocksPerMcu) {
        return PrimErrOutOfRange;
    }
    for (int32_t b = 0; b < layout->blockCount; ++b) {
        if (layout->dcTables[b] == nullptr || layout->acTables[b] == nullptr ||
            layout->dcPredictors[b] == nullptr) {
            return PrimErrNullPointer;
        }
    }
#if WEMB_X86_KERNELS && defined(__GNUC__)
    if (stream->m_readAhead == ReadAheadWide && hi::UsesBmi2()) {
        return DecodeMcusBmi2(stream, *layout, mcuCount, blocks, extents);
    }
#endif
    return DecodeMcusPlain(stream, *layout, mcuCount, blocks, extents);
}
