#include "primitives/progressive_huffman.h"

#include "primitives/bit_reader.h"
#include "primitives/kernels.h"
#include "primitives/scalar_kernels.h"

using huffman_internal::BitReader;
using huffman_internal::Wrap16;

// The kernel behind the band refinement's mask of non-zero history.
uint64_t NonZeroMaskScalar(const int16_t* block) {
    uint64_t mask = 0;
    for (int32_t p = 0; p < 64; ++p) {
        mask |= static_cast<uint64_t>(block[p] != 0) << p;
    }
    return mask;
}

namespace {

bool InvalidAl(int32_t al) { return al < 0 || al > 13; }

// Argument checks shared by the two AC primitives, in their fixed order.
PrimitiveStatus CheckAcArguments(const uint8_t* src, int32_t srcLength, const int32_t* position,
                                 const int16_t* block, const int32_t* marker, int32_t ss, int32_t se,
                                 int32_t al, const HuffmanDecodeTable* acTable,
                                 const HuffmanState* state) {
    if (src == nullptr) {
        return PrimErrNullPointer;
    }
    if (srcLength <= 0) {
        return PrimErrBadSize;
    }
    if (position == nullptr || block == nullptr || marker == nullptr) {
        return PrimErrNullPointer;
    }
    if (ss <= 0 || ss > 63 || se < ss || se > 63 || InvalidAl(al)) {
        return PrimErrOutOfRange;
    }
    if (acTable == nullptr || state == nullptr) {
        return PrimErrNullPointer;
    }
    return PrimOk;
}

// An EOBr symbol's run: 2^r blocks plus the r bits that follow it
// (T.81 G.1.2.2). `eobRun` holds 2^r already if the extra bits fail.
WEMB_ALWAYS_INLINE PrimitiveStatus ReadEobRun(BitReader& reader, int32_t r, int32_t& eobRun) {
    eobRun = 1 << r;
    if (r > 0) {
        const PrimitiveStatus status = huffman_internal::NeedBits(reader, r);
        if (status != PrimOk) {
            return status;
        }
        eobRun += static_cast<int32_t>(huffman_internal::TakeBits(reader, r));
    }
    return PrimOk;
}

// Successive approximation of a coefficient already non-zero: a correction
// bit of 1 adds one unit at bit Al away from zero, unless that bit is set.
WEMB_ALWAYS_INLINE PrimitiveStatus RefineCoefficient(BitReader& reader, int16_t* coefficient,
                                                     int32_t p1, int32_t m1) {
    const int32_t bit = huffman_internal::ReadBit(reader);
    if (bit < 0) {
        return static_cast<PrimitiveStatus>(bit);
    }
    // Without branches: correction bits are as good as random.
    const int32_t c = *coefficient;
    const uint32_t apply = 0u - static_cast<uint32_t>(bit & ((c & p1) == 0 ? 1 : 0));
    const uint32_t step = static_cast<uint32_t>(c >= 0 ? p1 : m1);
    *coefficient = Wrap16(static_cast<uint32_t>(c) + (step & apply));
    return PrimOk;
}

WEMB_ALWAYS_INLINE PrimitiveStatus DecodeAcBand(BitReader& reader, int16_t* block, int32_t ss,
                                                int32_t se, int32_t al,
                                                const HuffmanDecodeTable* acTable, int32_t& eobRun) {
    for (int32_t k = ss; k <= se;) {
        const int32_t symbol = huffman_internal::DecodeNextSymbol(reader, acTable);
        if (symbol < 0) {
            return static_cast<PrimitiveStatus>(symbol);
        }
        const int32_t run = symbol >> 4;
        const int32_t size = symbol & 0x0F;
        if (size != 0) {
            k += run;
            const PrimitiveStatus status = huffman_internal::NeedBits(reader, size);
            if (status != PrimOk) {
                return status;
            }
            const int32_t value = huffman_internal::Extend(huffman_internal::TakeBits(reader, size), size);
            if (k > 71) {
                return PrimErrBadCode;  // damaged run: beyond even the padded table
            }
            block[ZigZagToNatural[k]] = Wrap16(static_cast<uint32_t>(value) << al);
            ++k;
        } else if (run == 15) {
            k += 16;  // ZRL
        } else {
            const PrimitiveStatus status = ReadEobRun(reader, run, eobRun);
            if (status != PrimOk) {
                return status;
            }
            --eobRun;  // this block is the run's first
            return PrimOk;
        }
    }
    return PrimOk;
}

// The zig-zag index of each natural position, found by walking the
// anti-diagonals of the block as T.81 Figure A.6 does: even ones upwards
// (row falling), odd ones downwards.
struct ZigZagIndexes {
    int8_t ofNatural[64];
};

constexpr ZigZagIndexes MakeZigZagIndexes() {
    ZigZagIndexes indexes = {};
    int32_t next = 0;
    for (int32_t diagonal = 0; diagonal < 15; ++diagonal) {
        const int32_t first = diagonal < 8 ? 0 : diagonal - 7;
        const int32_t last = diagonal < 8 ? diagonal : 7;
        for (int32_t i = first; i <= last; ++i) {
            const int32_t row = diagonal % 2 == 0 ? diagonal - i : i;
            indexes.ofNatural[8 * row + (diagonal - row)] = static_cast<int8_t>(next++);
        }
    }
    return indexes;
}

constexpr ZigZagIndexes kZigZagIndexes = MakeZigZagIndexes();
static_assert(kZigZagIndexes.ofNatural[1] == 1 && kZigZagIndexes.ofNatural[8] == 2 &&
                  kZigZagIndexes.ofNatural[16] == 3 && kZigZagIndexes.ofNatural[2] == 5 &&
                  kZigZagIndexes.ofNatural[57] == 36 && kZigZagIndexes.ofNatural[62] == 62 && kZigZagIndexes.ofNatural[63] == 63,
              "the zig-zag walk of T.81 Figure A.6");

// For each row r of the block and each byte b of flags for its eight natural
// positions, the same flags moved to those positions' zig-zag bits: a
// natural-order mask becomes a zig-zag one with eight look-ups.
struct ZigZagBits {
    uint64_t ofRowByte[8][256];
};

constexpr ZigZagBits MakeZigZagBits() {
    ZigZagBits bits = {};
    for (int32_t row = 0; row < 8; ++row) {
        for (int32_t flags = 0; flags < 256; ++flags) {
            uint64_t mask = 0;
            for (int32_t column = 0; column < 8; ++column) {
                if ((flags >> column) & 1) {
                    mask |= uint64_t{1} << kZigZagIndexes.ofNatural[8 * row + column];
                }
            }
            bits.ofRowByte[row][flags] = mask;
        }
    }
    return bits;
}

constexpr ZigZagBits kZigZagBits = MakeZigZagBits();

// Bit k set for each zig-zag index k of ss..se whose coefficient has a
// non-zero history. Built without branches on the coefficients, whose being
// zero or not is as good as random.
WEMB_ALWAYS_INLINE uint64_t NonZeroHistory(const int16_t* block, int32_t ss, int32_t se) {
    const uint64_t natural = ActiveKernels().nonZeroMask(block);
    uint64_t zigZag = 0;
    for (int32_t row = 0; row < 8; ++row) {
        zigZag |= kZigZagBits.ofRowByte[row][(natural >> (8 * row)) & 0xFF];
    }
    const uint64_t band = (~uint64_t{0} << ss) & (~uint64_t{0} >> (63 - se));
    return zigZag & band;
}

// Zig-zag indexes from..63 as a mask (from <= 63).
WEMB_ALWAYS_INLINE uint64_t IndexesFrom(int32_t from) { return ~uint64_t{0} << from; }

WEMB_ALWAYS_INLINE int32_t LowestIndex(uint64_t mask) { return __builtin_ctzll(mask); }

// Refines, in zig-zag order, the coefficients whose bits are set in `mask`.
WEMB_ALWAYS_INLINE PrimitiveStatus RefineMarked(BitReader& reader, int16_t* block, uint64_t mask,
                                                int32_t p1, int32_t m1) {
    for (; mask != 0; mask &= mask - 1) {
        const PrimitiveStatus status =
            RefineCoefficient(reader, &block[ZigZagToNatural[LowestIndex(mask)]], p1, m1);
        if (status != PrimOk) {
            return status;
        }
    }
    return PrimOk;
}

// T.81 G.1.2.3: new coefficients of magnitude 1 land on zero-history
// positions, correction bits refine the non-zero ones passed on the way.
//
// The walk over the band is done on a mask of the positions with a non-zero
// history, taken once per block: only positions not yet passed are looked
// up, and those change only when passed (a refined coefficient stays
// non-zero, a new one is placed where the walk stops), so the mask stays
// true for them. Bits are read in the same order as a walk coefficient by
// coefficient would read them.
WEMB_ALWAYS_INLINE PrimitiveStatus RefineAcBand(BitReader& reader, int16_t* block, int32_t ss,
                                                int32_t se, int32_t al,
                                                const HuffmanDecodeTable* acTable, int32_t& eobRun) {
    const int32_t p1 = 1 << al;
    const int32_t m1 = -p1;
    const uint64_t nonZero = NonZeroHistory(block, ss, se);
    const uint64_t band = IndexesFrom(ss) & (~uint64_t{0} >> (63 - se));
    int32_t k = ss;
    if (eobRun == 0) {
        while (k <= se) {
            const int32_t symbol = huffman_internal::DecodeNextSymbol(reader, acTable);
            if (symbol < 0) {
                return static_cast<PrimitiveStatus>(symbol);
            }
            int32_t run = symbol >> 4;
            int32_t value = 0;
            if ((symbol & 0x0F) != 0) {
                const int32_t sign = huffman_internal::ReadBit(reader);
                if (sign < 0) {
                    return static_cast<PrimitiveStatus>(sign);
                }
                value = sign != 0 ? p1 : m1;
            } else if (run != 15) {
                const PrimitiveStatus status = ReadEobRun(reader, run, eobRun);
                if (status != PrimOk) {
                    return status;
                }
                break;
            }
            // Skip `run` zero-history coefficients (ZRL: 16) and stop on the
            // next one, refining the non-zero ones passed; without such a
            // one the walk ends past se (se + 1 <= 64, which the padded
            // table maps onto a real position).
            const uint64_t ahead = band & IndexesFrom(k);
            uint64_t zeros = ahead & ~nonZero;
            for (; run > 0 && zeros != 0; --run) {
                zeros &= zeros - 1;
            }
            const int32_t stop = zeros != 0 ? LowestIndex(zeros) : se + 1;
            const uint64_t passed = stop <= 63 ? ~IndexesFrom(stop) : ~uint64_t{0};
            const PrimitiveStatus status = RefineMarked(reader, block, ahead & nonZero & passed, p1, m1);
            if (status != PrimOk) {
                return status;
            }
            k = stop;
            if (value != 0) {
                block[ZigZagToNatural[k]] = static_cast<int16_t>(value);
            }
            ++k;
        }
    }
    if (eobRun > 0) {
        if (k <= se) {
            const PrimitiveStatus status =
                RefineMarked(reader, block, band & IndexesFrom(k) & nonZero, p1, m1);
            if (status != PrimOk) {
                return status;
            }
        }
        --eobRun;
    }
    return PrimOk;
}

}  // namespace

PrimitiveStatus DecodeProgressiveDcBlock(const uint8_t* src, int32_t srcLength,
                                         int32_t* position, int16_t* block,
                                         int16_t* dcPredictor, int32_t* marker, int32_t al,
                                         const HuffmanDecodeTable* dcTable,
                                         HuffmanState* state) {
    if (src == nullptr) {
        return PrimErrNullPointer;
    }
    if (srcLength <= 0) {
        return PrimErrBadSize;
    }
    if (position == nullptr || block == nullptr || dcPredictor == nullptr || marker == nullptr) {
        return PrimErrNullPointer;
    }
    if (InvalidAl(al)) {
        return PrimErrOutOfRange;
    }
    if (dcTable == nullptr || state == nullptr) {
        return PrimErrNullPointer;
    }
    BitReader reader = huffman_internal::LoadBitReader(src, srcLength, position, marker, state);
    PrimitiveStatus status = PrimOk;
    const int32_t symbol = huffman_internal::DecodeNextSymbol(reader, dcTable);
    if (symbol < 0) {
        status = static_cast<PrimitiveStatus>(symbol);
    } else {
        int32_t diff = 0;
        if (symbol != 0) {
            status = huffman_internal::ReceiveExtendBits(reader, symbol & 0x0F, &diff);
        }
        if (status == PrimOk) {
            *dcPredictor = Wrap16(static_cast<uint32_t>(*dcPredictor) + static_cast<uint32_t>(diff));
            block[0] = Wrap16(static_cast<uint32_t>(*dcPredictor) << al);
        }
    }
    huffman_internal::StoreBitReader(reader, position, marker, state);
    return status;
}

PrimitiveStatus RefineProgressiveDcBlock(const uint8_t* src, int32_t srcLength,
                                         int32_t* position, int16_t* block, int32_t* marker,
                                         int32_t al, HuffmanState* state) {
    if (src == nullptr) {
        return PrimErrNullPointer;
    }
    if (srcLength <= 0) {
        return PrimErrBadSize;
    }
    if (position == nullptr || block == nullptr || marker == nullptr) {
        return PrimErrNullPointer;
    }
    if (InvalidAl(al)) {
        return PrimErrOutOfRange;
    }
    if (state == nullptr) {
        return PrimErrNullPointer;
    }
    BitReader reader = huffman_internal::LoadBitReader(src, srcLength, position, marker, state);
    const int32_t bit = huffman_internal::ReadBit(reader);
    if (bit > 0) {
        block[0] = Wrap16(static_cast<uint32_t>(block[0]) | (1u << al));
    }
    huffman_internal::StoreBitReader(reader, position, marker, state);
    return bit < 0 ? static_cast<PrimitiveStatus>(bit) : PrimOk;
}

PrimitiveStatus DecodeProgressiveAcBlock(const uint8_t* src, int32_t srcLength,
                                         int32_t* position, int16_t* block, int32_t* marker,
                                         int32_t ss, int32_t se, int32_t al,
                                         const HuffmanDecodeTable* acTable,
                                         HuffmanState* state) {
    const PrimitiveStatus check =
        CheckAcArguments(src, srcLength, position, block, marker, ss, se, al, acTable, state);
    if (check != PrimOk) {
        return check;
    }
    if (state->eobRun > 0) {
        --state->eobRun;  // inside an EOB run: nothing to read
        return PrimOk;
    }
    BitReader reader = huffman_internal::LoadBitReader(src, srcLength, position, marker, state);
    int32_t eobRun = state->eobRun;
    const PrimitiveStatus status = DecodeAcBand(reader, block, ss, se, al, acTable, eobRun);
    huffman_internal::StoreBitReader(reader, position, marker, state);
    state->eobRun = eobRun;
    return status;
}

PrimitiveStatus RefineProgressiveAcBlock(const uint8_t* src, int32_t srcLength,
                                         int32_t* position, int16_t* block, int32_t* marker,
                                         int32_t ss, int32_t se, int32_t al,
                                         const HuffmanDecodeTable* acTable,
                                         HuffmanState* state) {
    const PrimitiveStatus check =
        CheckAcArguments(src, srcLength, position, block, marker, ss, se, al, acTable, state);
    if (check != PrimOk) {
        return check;
    }
    BitReader reader = huffman_internal::LoadBitReader(src, srcLength, position, marker, state);
    int32_t eobRun = state->eobRun;
    const PrimitiveStatus status = RefineAcBand(reader, block, ss, se, al, acTable, eobRun);
    huffman_internal::StoreBitReader(reader, position, marker, state);
    state->eobRun = eobRun;
    return status;
}
