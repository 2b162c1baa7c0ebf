// The entropy decoder's bit reader as inline helpers for the block decoders
// of huffman.cpp and progressive_huffman.cpp. Not part of the primitive
// interface.
//
// A block decoder copies the caller's stream variables (position, marker,
// bit buffer) into a BitReader on entry, works on that copy, which the
// compiler keeps in registers, and writes it back on every exit. The common
// steps (a refill of plain bytes, an 8-bit lookup, a longer code found in the
// bits held, taking value bits) are inline; the rare ones (stuffed or fill
// bytes, markers, the end of the data, a code longer than the bits held) go
// through out-of-line functions that work on a second copy, so that the
// first one never has its address taken.
//
// The reader consumes bytes and bits exactly as the byte-wise FillBits does,
// refilling only where DECODE and RECEIVE call for it, with one addition:
// when a refill stops at a marker while fewer bits are held than the caller
// is about to take, the read fails at once with PrimErrBadHuffmanCode instead
// of going on with missing bits.
#pragma once

#include <cstdint>

#include "primitives/huffman.h"
#include "primitives/status.h"

#if defined(__GNUC__)
#define WEMB_ALWAYS_INLINE inline __attribute__((always_inline))
#else
#define WEMB_ALWAYS_INLINE inline
#endif

namespace huffman_internal {

struct BitReader {
    const uint8_t* src;
    int32_t srcLength;
    int32_t position;  // never negative: callers pass offsets into src
    int32_t marker;
    uint32_t bitBuffer;
    int32_t bitCount;
    // The last position from which four bytes may be loaded at once; -1 once
    // a marker has been met, which closes the refill.
    int32_t fastLimit;
};

inline int32_t FastLimit(int32_t srcLength, int32_t marker) {
    return marker != 0 ? -1 : srcLength - 4;
}

inline BitReader LoadBitReader(const uint8_t* src, int32_t srcLength, const int32_t* position,
                               const int32_t* marker, const HuffmanState* state) {
    return BitReader{src,         srcLength,       *position, *marker, state->bitBuffer,
                     state->bitCount, FastLimit(srcLength, *marker)};
}

inline void StoreBitReader(const BitReader& reader, int32_t* position, int32_t* marker,
                           HuffmanState* state) {
    *position = reader.position;
    *marker = reader.marker;
    state->bitBuffer = reader.bitBuffer;
    state->bitCount = reader.bitCount;
}

// FillBits on a reader: byte by byte, with every stuffing, fill-byte, marker
// and end-of-data rule. Defined in huffman.cpp.
PrimitiveStatus FillBitsBytewise(BitReader* reader, int32_t need);

// The part of DECODE after the 8-bit lookup found nothing (a code longer
// than 8 bits, or fewer than 8 bits left before a marker or the end of the
// data): the canonical search one bit at a time. Returns the symbol (0..255)
// or a negative status. Defined in huffman.cpp.
int32_t DecodeSymbolCanonical(BitReader* reader, const HuffmanDecodeTable* table);

// Refill for a reader holding fewer than 25 bits (which every caller below
// guarantees), then fail with PrimErrBadHuffmanCode if a marker left fewer
// than `need` bits. When the next four bytes lie inside the source and none
// is 0xFF, they are taken in one load; the bytes consumed and the resulting
// buffer are exactly those of the bytewise loop, which tops up to at least 25
// bits one byte at a time: (32 - bitCount) / 8 bytes.
WEMB_ALWAYS_INLINE PrimitiveStatus Refill(BitReader& reader, int32_t need) {
    if (reader.position <= reader.fastLimit) {
        const uint8_t* bytes4 = reader.src + reader.position;
        const uint32_t word = (uint32_t{bytes4[0]} << 24) | (uint32_t{bytes4[1]} << 16) |
                              (uint32_t{bytes4[2]} << 8) | uint32_t{bytes4[3]};
        // Classic zero-byte test applied to ~word: non-zero iff a byte is 0xFF.
        const bool hasFF = ((~word - 0x01010101u) & word & 0x80808080u) != 0;
        if (!hasFF) {
            const int32_t bytes = (32 - reader.bitCount) >> 3;  // 1..4
            const int32_t bits = 8 * bytes;                      // 8..32
            // Shifted in two steps so that a 32-bit shift stays defined.
            reader.bitBuffer = ((reader.bitBuffer << (bits - 1)) << 1) | (word >> (32 - bits));
            reader.bitCount += bits;
            reader.position += bytes;
            return PrimOk;
        }
    }
    BitReader copy = reader;
    PrimitiveStatus status = FillBitsBytewise(&copy, need);
    if (status == PrimOk && copy.bitCount < need) {
        status = PrimErrBadHuffmanCode;  // a marker ended the data short of `need` bits
    }
    copy.fastLimit = FastLimit(copy.srcLength, copy.marker);
    reader = copy;
    return status;
}

// Makes sure at least `need` (1..16) bits are held.
WEMB_ALWAYS_INLINE PrimitiveStatus NeedBits(BitReader& reader, int32_t need) {
    if (reader.bitCount >= need) {
        return PrimOk;
    }
    return Refill(reader, need);
}

// RECEIVE(n) for 1 <= n <= 16 bits already held.
WEMB_ALWAYS_INLINE uint32_t TakeBits(BitReader& reader, int32_t n) {
    reader.bitCount -= n;
    return (reader.bitBuffer >> reader.bitCount) & ((1u << n) - 1u);
}

// EXTEND(v, s) for 1 <= s <= 15: a value whose top bit is clear is negative,
// v + 1 - 2^s. Done with a mask rather than a branch: the sign of a
// coefficient is as good as random.
WEMB_ALWAYS_INLINE int32_t Extend(uint32_t v, int32_t s) {
    const uint32_t topBitClear = 1u - (v >> (s - 1));  // 1 or 0
    const uint32_t negativeOffset = (0u - topBitClear) & ((1u << s) - 1u);
    return static_cast<int32_t>(v) - static_cast<int32_t>(negativeOffset);
}

// RECEIVE(s) followed by EXTEND, 0 <= s <= 15; *value is written on success.
WEMB_ALWAYS_INLINE PrimitiveStatus ReceiveExtendBits(BitReader& reader, int32_t s, int32_t* value) {
    if (s == 0) {
        *value = 0;
        return PrimOk;
    }
    const PrimitiveStatus status = NeedBits(reader, s);
    if (status != PrimOk) {
        return status;
    }
    *value = Extend(TakeBits(reader, s), s);
    return PrimOk;
}

// One bit (0 or 1), or a negative status.
WEMB_ALWAYS_INLINE int32_t ReadBit(BitReader& reader) {
    if (reader.bitCount <= 0) {
        const PrimitiveStatus status = Refill(reader, 1);
        if (status != PrimOk) {
            return status;
        }
    }
    return static_cast<int32_t>(TakeBits(reader, 1));
}

// What DecodeLongCode returns when no code fits the bits held.
constexpr int32_t kNoCodeInHeldBits = 256;

// A code of 9 to 16 bits found without leaving the registers, when the 8-bit
// lookup has ruled out the shorter ones and more than 8 bits are held. The
// canonical search of DecodeSymbolCanonical takes 9 bits and then one bit
// at a time, refilling only when no bit is left; for a code no longer than
// the bits held it therefore never refills, and comparing the first L held
// bits with the codes of each length L gives the same code, symbol and
// consumed bits. When no code of up to min(bitCount, 16) bits matches, the
// reader is left as it was and kNoCodeInHeldBits returned: the caller then
// runs the bitwise search, with its refills and its error.
WEMB_ALWAYS_INLINE int32_t DecodeLongCode(BitReader& reader, const HuffmanDecodeTable* table) {
    const int32_t held = reader.bitCount < 16 ? reader.bitCount : 16;  // 9..16
    // The next `held` bits, first bit at bit 15.
    const uint32_t next16 =
        ((reader.bitBuffer >> (reader.bitCount - held)) << (16 - held)) & 0xFFFFu;
    for (int32_t length = 9; length <= held; ++length) {
        const uint32_t code = next16 >> (16 - length);
        const uint32_t maxCode = table->maxCode[length - 1];
        if (maxCode != 0xFFFFu && code <= maxCode) {
            reader.bitCount -= length;
            // Over-subscribed counts can place the index outside `symbols`.
            const int32_t index = int32_t{table->firstSymbol[length - 1]} +
                                  static_cast<int32_t>(code) - int32_t{table->minCode[length - 1]};
            if (index < 0 || index > 255) {
                return PrimErrBadHuffmanCode;
            }
            return table->symbols[index];
        }
    }
    return kNoCodeInHeldBits;
}

// DECODE: the symbol (0..255) of the next Huffman code, or a negative status.
WEMB_ALWAYS_INLINE int32_t DecodeNextSymbol(BitReader& reader, const HuffmanDecodeTable* table) {
    if (reader.bitCount < 8) {
        const PrimitiveStatus status = Refill(reader, 0);
        if (status != PrimOk) {
            return status;
        }
    }
    if (reader.bitCount >= 8) {
        const uint32_t entry = table->fastLookup[(reader.bitBuffer >> (reader.bitCount - 8)) & 0xFFu];
        if (entry != 0) {
            reader.bitCount -= static_cast<int32_t>(entry >> 16);
            return static_cast<int32_t>(entry & 0xFFFFu);
        }
        if (reader.bitCount > 8) {
            const int32_t symbol = DecodeLongCode(reader, table);
            if (symbol != kNoCodeInHeldBits) {
                return symbol;
            }
        }
    }
    BitReader copy = reader;
    const int32_t symbol = DecodeSymbolCanonical(&copy, table);
    reader = copy;
    return symbol;
}

// A 16-bit coefficient from a 32-bit value, wrapping in two's complement.
WEMB_ALWAYS_INLINE int16_t Wrap16(uint32_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(value));
}

}  // namespace huffman_internal
