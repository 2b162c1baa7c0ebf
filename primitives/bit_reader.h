// The entropy decoder's bit reader: inline steps on an EntropyStream for the
// block decoders of huffman.cpp and progressive_huffman.cpp. Not part of the
// primitive interface.
//
// A block decoder copies the stream into a local EntropyStream on entry,
// works on that copy, which the compiler keeps in registers, and writes it
// back on every exit. The common steps (a refill of bytes that hold no 0xFF,
// a code or a whole coefficient found with one lookup, taking value bits)
// are inline; the rare ones (bytes near a 0xFF, markers, the end of the
// data, codes longer than the lookup) go through out-of-line functions that
// work on a second copy, so that the first one never has its address taken.
//
// Every step takes a read-ahead policy, ByteWiseReads or WideReads (see
// entropy_stream.h). Under ByteWiseReads the reader consumes bytes and bits
// exactly as the byte-wise FillBits does, refilling only where DECODE and
// RECEIVE call for it (below 8 bits for a code, below the size for value
// bits), with one addition: when a refill stops at a marker while fewer bits
// are held than the caller is about to take, the read fails at once with
// PrimErrBadHuffmanCode instead of going on with missing bits. WideReads
// reads the same bits further ahead and refills earlier.
#pragma once

#include <cstdint>
#include <cstring>

#include "primitives/entropy_stream.h"
#include "primitives/huffman.h"
#include "primitives/status.h"

#if defined(__GNUC__)
#define WEMB_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define WEMB_ALWAYS_INLINE inline
#endif

namespace huffman_internal {

// The refill of FillBits: byte by byte to at least 25 bits, and before a
// code only when fewer than 8 bits are held.
struct ByteWiseReads {
    static constexpr int32_t kFillTarget = 25;
    static constexpr int32_t kCodeRefillBelow = 8;
};

// Up to 64 bits, and a refill before a code when fewer than 16 bits are
// held: then any code (16 bits at most) is found in the bits held, and so is
// a coefficient that the lookup resolves with its value bits.
struct WideReads {
    static constexpr int32_t kFillTarget = 57;
    static constexpr int32_t kCodeRefillBelow = 16;
};

// The stream of a block primitive's arguments: the caller's position, marker
// and state, read byte by byte. Defined in entropy_stream.cpp.
EntropyStream LoadEntropyStream(const uint8_t* src, int32_t srcLength, const int32_t* position,
                                const int32_t* marker, const HuffmanState* state);
// Writes the stream's position, marker and state back to the caller's
// variables. The stream holds at most 32 bits then, which become the low
// bits of the state's bit buffer (the bits above them are zero).
void StoreEntropyStream(const EntropyStream& stream, int32_t* position, int32_t* marker,
                        HuffmanState* state);

// The refill with every byte rule (stuffing, fill bytes, markers, the end of
// the data): takes bytes one after the other, as FillBits does, until
// m_bitCount is at least `fillTarget` or a marker or the end of the data
// stops it; the bytes before the next 0xFF several at a time. `need` (0..16)
// is the number of bits the caller is about to take and only decides whether
// running short is an error. Defined in entropy_stream.cpp.
PrimitiveStatus FillBytes(EntropyStream* stream, int32_t fillTarget, int32_t need);

// DECODE one step at a time, as the primitives define it: a refill below 8
// bits, the 8-bit lookup, then the canonical search of longer codes, whose
// refills top up to `fillTarget`. Returns the symbol (0..255) or a negative
// status. Defined in huffman.cpp.
int32_t DecodeSymbolStepwise(EntropyStream* stream, const HuffmanDecodeTable* table,
                             int32_t fillTarget);

#if WEMB_X86_KERNELS && defined(__GNUC__)
// Whether the block loops compiled for BMI2 (whose shifts by a register take
// one cycle and leave the flags alone) are to run: on processors with BMI2,
// where the AVX2 kernels run. Defined in huffman.cpp.
bool UsesBmi2();
#endif

// Eight bytes as one big-endian number.
WEMB_ALWAYS_INLINE uint64_t LoadBigEndian64(const uint8_t* bytes) {
    uint64_t word;
    std::memcpy(&word, bytes, sizeof(word));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    word = __builtin_bswap64(word);
#endif
    return word;
}

// Appends the next `bytes` (1..8) bytes to the bits held, from one load;
// none of them is 0xFF, eight bytes from m_position lie inside the source
// and the buffer has room for them (m_bitCount + 8 * bytes <= 64). Only
// those bytes are kept of the load, so that the bits after the held ones
// stay zero.
WEMB_ALWAYS_INLINE void TakePlainBytes(EntropyStream& stream, int32_t bytes) {
    const int32_t bits = 8 * bytes;
    const uint64_t word = LoadBigEndian64(stream.m_source + stream.m_position) & (~uint64_t{0} << (64 - bits));
    stream.m_bitBuffer |= word >> stream.m_bitCount;
    stream.m_bitCount += bits;
    stream.m_position += bytes;
}

// Refill for a stream holding fewer than `fillTarget` bits (which every
// caller below guarantees), then fail with PrimErrBadHuffmanCode if a marker
// left fewer than `need` bits. The byte-wise loop would take (fillTarget + 7
// - m_bitCount) / 8 bytes; when they are known to hold no 0xFF (which also
// means that no marker is pending), they are taken from one load.
WEMB_ALWAYS_INLINE PrimitiveStatus Refill(EntropyStream& stream, int32_t fillTarget, int32_t need) {
    const int32_t bytes = (fillTarget + 7 - stream.m_bitCount) >> 3;  // 1..8
    if (stream.m_plainEnd - stream.m_position >= bytes) {
        TakePlainBytes(stream, bytes);
        return PrimOk;
    }
    EntropyStream copy = stream;
    PrimitiveStatus status = FillBytes(&copy, fillTarget, need);
    if (status == PrimOk && copy.m_bitCount < need) {
        status = PrimErrBadHuffmanCode;  // a marker ended the data short of `need` bits
    }
    stream = copy;
    return status;
}

// Makes sure at least `need` (1..16) bits are held.
WEMB_ALWAYS_INLINE PrimitiveStatus NeedBits(EntropyStream& stream, int32_t fillTarget, int32_t need) {
    if (stream.m_bitCount >= need) {
        return PrimOk;
    }
    return Refill(stream, fillTarget, need);
}

// The next n bits (1 <= n <= 32), first bit highest; those beyond the bits
// held read as zero.
WEMB_ALWAYS_INLINE uint32_t PeekBits(const EntropyStream& stream, int32_t n) {
    return static_cast<uint32_t>(stream.m_bitBuffer >> (64 - n));
}

// Drops the next n (0..16) bits held.
WEMB_ALWAYS_INLINE void SkipBits(EntropyStream& stream, int32_t n) {
    stream.m_bitBuffer <<= n;
    stream.m_bitCount -= n;
}

// RECEIVE(n) for 1 <= n <= 16 bits already held.
WEMB_ALWAYS_INLINE uint32_t TakeBits(EntropyStream& stream, int32_t n) {
    const uint32_t bits = PeekBits(stream, n);
    SkipBits(stream, n);
    return bits;
}

// EXTEND(v, s) for 1 <= s <= 15: a value whose top bit is clear is negative,
// v + 1 - 2^s. Done with a mask rather than a branch: the sign of a
// coefficient is as good as random.
constexpr int32_t Extend(uint32_t v, int32_t s) {
    const uint32_t topBitClear = 1u - (v >> (s - 1));  // 1 or 0
    const uint32_t negativeOffset = (0u - topBitClear) & ((1u << s) - 1u);
    return static_cast<int32_t>(v) - static_cast<int32_t>(negativeOffset);
}

// RECEIVE(s) followed by EXTEND, 0 <= s <= 15; *value is written on success.
WEMB_ALWAYS_INLINE PrimitiveStatus ReceiveExtendBits(EntropyStream& stream, int32_t fillTarget,
                                                     int32_t s, int32_t* value) {
    if (s == 0) {
        *value = 0;
        return PrimOk;
    }
    const PrimitiveStatus status = NeedBits(stream, fillTarget, s);
    if (status != PrimOk) {
        return status;
    }
    *value = Extend(TakeBits(stream, s), s);
    return PrimOk;
}

// One bit (0 or 1), or a negative status.
WEMB_ALWAYS_INLINE int32_t ReadBit(EntropyStream& stream, int32_t fillTarget) {
    if (stream.m_bitCount <= 0) {
        const PrimitiveStatus status = Refill(stream, fillTarget, 1);
        if (status != PrimOk) {
            return status;
        }
    }
    return static_cast<int32_t>(TakeBits(stream, 1));
}

// Entries of HuffmanDecodeTable::codeValueLookup, for the code the next
// kCodeValueLookupBits bits start with:
//   bits 0..5    bits the entry takes: the code, and the value bits when it
//                carries the value; a shift of the bit buffer by the entry
//                itself (whose count the processor takes modulo 64) drops them
//   bits 6..9    the code's length
//   bits 10..17  the symbol (its run in bits 14..17)
//   bits 18..31  the value (RECEIVE and EXTEND of the symbol's size) as a
//                14-bit number, when the value bits fit; else 0, which no
//                value of a size of 1 to 15 is
// Entries below kEntryWithCode have no code length: kNoShortCode where no
// code of up to kCodeValueLookupBits bits starts the bits, kBadShortCode
// where the canonical search fails on one (a symbol index outside the
// table, from over-subscribed counts).
constexpr uint32_t kNoShortCode = 0;
constexpr uint32_t kBadShortCode = 1;
constexpr int32_t kEntryLengthShift = 6;
constexpr int32_t kEntrySymbolShift = 10;
constexpr int32_t kEntryValueShift = 18;
constexpr uint32_t kEntryWithCode = 1u << kEntryLengthShift;   // entries from here on have a code
constexpr uint32_t kEntryWithValue = 1u << kEntryValueShift;  // entries from here on carry their value
static_assert(kCodeValueLookupBits <= 15 && kCodeValueLookupBits - 1 <= 32 - kEntryValueShift - 1,
              "a lookup entry's bit count and value fit their fields");

constexpr uint32_t MakeCodeValueEntry(int32_t codeLength, int32_t symbol, int32_t valueBits,
                                      uint32_t bitsAfterCode) {
    const int32_t size = symbol & 0x0F;
    const uint32_t codeAndSymbol = static_cast<uint32_t>((codeLength << kEntryLengthShift) |
                                                         (symbol << kEntrySymbolShift));
    if (size == 0 || codeLength + size > valueBits) {
        return static_cast<uint32_t>(codeLength) | codeAndSymbol;
    }
    const uint32_t raw = bitsAfterCode >> (valueBits - codeLength - size);
    const int32_t value = Extend(raw & ((1u << size) - 1u), size);
    return static_cast<uint32_t>(codeLength + size) | codeAndSymbol |
           (static_cast<uint32_t>(value) << kEntryValueShift);
}

WEMB_ALWAYS_INLINE int32_t EntryBits(uint32_t entry) { return static_cast<int32_t>(entry & 63u); }
WEMB_ALWAYS_INLINE int32_t EntryCodeLength(uint32_t entry) {
    return static_cast<int32_t>((entry >> kEntryLengthShift) & 15u);
}
WEMB_ALWAYS_INLINE int32_t EntrySymbol(uint32_t entry) {
    return static_cast<int32_t>((entry >> kEntrySymbolShift) & 255u);
}
WEMB_ALWAYS_INLINE int32_t EntryRun(uint32_t entry) {
    return static_cast<int32_t>((entry >> (kEntrySymbolShift + 4)) & 15u);
}
WEMB_ALWAYS_INLINE int32_t EntryValue(uint32_t entry) {
    return static_cast<int32_t>(entry) >> kEntryValueShift;  // arithmetic: the sign extends
}

// Drops the bits an entry with a code takes.
WEMB_ALWAYS_INLINE void SkipEntryBits(EntropyStream& stream, uint32_t entry) {
    SkipBits(stream, EntryBits(entry));
}

// Refills before a code as the policy says, then looks the code up:
// *entry receives the lookup entry, or kNoShortCode when fewer bits are held
// than the lookup looks at (the end of the data is near). The table holds,
// for every value of the bits, what the canonical search of DECODE finds in
// them, so both ways agree with the step-by-step DECODE. A policy that
// refills below the lookup's width has to check the bits held only after a
// refill.
template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus LookUpNextCode(EntropyStream& stream, const HuffmanDecodeTable* table,
                                                  uint32_t* entry) {
    constexpr bool kWideEnoughAfterCheck = Reads::kCodeRefillBelow >= kCodeValueLookupBits;
    if (stream.m_bitCount < Reads::kCodeRefillBelow) {
        const PrimitiveStatus status = Refill(stream, Reads::kFillTarget, 0);
        if (status != PrimOk) {
            return status;
        }
        if (kWideEnoughAfterCheck && stream.m_bitCount < kCodeValueLookupBits) {
            *entry = kNoShortCode;
            return PrimOk;
        }
    }
    if (!kWideEnoughAfterCheck && stream.m_bitCount < kCodeValueLookupBits) {
        *entry = kNoShortCode;
        return PrimOk;
    }
    *entry = table->codeValueLookup[PeekBits(stream, kCodeValueLookupBits)];
    return PrimOk;
}

// Takes the code of an entry with a code and returns its symbol.
WEMB_ALWAYS_INLINE int32_t TakeCode(EntropyStream& stream, uint32_t entry) {
    SkipBits(stream, EntryCodeLength(entry));
    return EntrySymbol(entry);
}

// What LongCodeInHeldBits returns when the step-by-step search must decide.
constexpr int32_t kSearchStepwise = 256;

// A code longer than the lookup's bits, when the lookup found no shorter one
// and at least 16 bits are held: the canonical search over the lengths
// above kCodeValueLookupBits, on the held bits. It never refills there, so
// it finds the code, symbol and status of DECODE; only when no code of up to
// 16 bits matches (DECODE then reads a 17th bit) is the stream left as it
// was and kSearchStepwise returned.
WEMB_ALWAYS_INLINE int32_t LongCodeInHeldBits(EntropyStream& stream, const HuffmanDecodeTable* table) {
    const uint32_t next16 = PeekBits(stream, 16);
    for (int32_t length = kCodeValueLookupBits + 1; length <= 16; ++length) {
        const uint32_t code = next16 >> (16 - length);
        const uint32_t maxCode = table->maxCode[length - 1];
        if (maxCode != 0xFFFFu && code <= maxCode) {
            SkipBits(stream, length);
            // Over-subscribed counts can place the index outside `symbols`.
            const int32_t index = int32_t{table->firstSymbol[length - 1]} + static_cast<int32_t>(code) -
                                  int32_t{table->minCode[length - 1]};
            if (index < 0 || index > 255) {
                return PrimErrBadHuffmanCode;
            }
            return table->symbols[index];
        }
    }
    return kSearchStepwise;
}

// The symbol of the entry for the next code, or a negative status: the
// entry's code is taken; without one, a longer code is searched in the held
// bits, and where that cannot decide, step by step.
WEMB_ALWAYS_INLINE int32_t SymbolOf(EntropyStream& stream, uint32_t entry,
                                    const HuffmanDecodeTable* table, int32_t fillTarget) {
    if (entry >= kEntryWithCode) {
        return TakeCode(stream, entry);
    }
    if (entry == kNoShortCode && stream.m_bitCount >= 16) {
        const int32_t symbol = LongCodeInHeldBits(stream, table);
        if (symbol != kSearchStepwise) {
            return symbol;
        }
    }
    EntropyStream copy = stream;
    const int32_t symbol = DecodeSymbolStepwise(&copy, table, fillTarget);
    stream = copy;
    return symbol;
}

// DECODE: the symbol (0..255) of the next Huffman code, or a negative status.
template <class Reads>
WEMB_ALWAYS_INLINE int32_t DecodeNextSymbol(EntropyStream& stream, const HuffmanDecodeTable* table) {
    uint32_t entry;
    const PrimitiveStatus status = LookUpNextCode<Reads>(stream, table, &entry);
    if (status != PrimOk) {
        return status;
    }
    return SymbolOf(stream, entry, table, Reads::kFillTarget);
}

// A DC difference: DECODE, then RECEIVE and EXTEND of the symbol's size (its
// low four bits; the others are ignored). Symbol 0 is a difference of 0.
template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus DecodeDcDifference(EntropyStream& stream,
                                                      const HuffmanDecodeTable* table,
                                                      int32_t* diff) {
    uint32_t entry;
    const PrimitiveStatus status = LookUpNextCode<Reads>(stream, table, &entry);
    if (status != PrimOk) {
        return status;
    }
    if (entry >= kEntryWithValue) {
        SkipEntryBits(stream, entry);
        *diff = EntryValue(entry);
        return PrimOk;
    }
    const int32_t symbol = SymbolOf(stream, entry, table, Reads::kFillTarget);
    if (symbol < 0) {
        return static_cast<PrimitiveStatus>(symbol);
    }
    return ReceiveExtendBits(stream, Reads::kFillTarget, symbol & 0x0F, diff);
}

// A 16-bit coefficient from a 32-bit value, wrapping in two's complement.
WEMB_ALWAYS_INLINE int16_t Wrap16(uint32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(value));
}

// Runs `decode` on a copy of *stream under the stream's read-ahead policy
// and writes the copy back.
template <class Decode>
WEMB_ALWAYS_INLINE PrimitiveStatus WithReadAhead(EntropyStream* stream, Decode&& decode) {
    EntropyStream copy = *stream;
    const PrimitiveStatus status = copy.m_readAhead == ReadAheadWide ? decode(copy, WideReads{})
                                                                     : decode(copy, ByteWiseReads{});
    *stream = copy;
    return status;
}

}  // namespace huffman_internal
