#include "primitives/progressive_huffman.h"

#include "primitives/bit_reader.h"
#include "primitives/kernels.h"
#include "primitives/scalar_kernels.h"
#include "primitives/zigzag.h"

namespace hi = huffman_internal;
using huffman_internal::Wrap16;

// The kernel behind the band refinement's mask of non-zero history.
uint64_t NonZeroMaskScalar(const int16_t* block) {
    uint64_t mask = 0;
    for (int32_t p = 1; p < 64; ++p) {
        mask |= static_cast<uint64_t>(block[p] != 0) << p;
    }
    return mask;
}

namespace {

bool InvalidAl(int32_t al) { return al < 0 || al > 13; }

bool InvalidBand(int32_t ss, int32_t se, int32_t al) {
    return ss <= 0 || ss > 63 || se < ss || se > 63 || InvalidAl(al);
}

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
    if (InvalidBand(ss, se, al)) {
        return PrimErrOutOfRange;
    }
    if (acTable == nullptr || state == nullptr) {
        return PrimErrNullPointer;
    }
    return PrimOk;
}

// The checks of the decoders over a block row: the row and the range of
// its blocks, then what the block primitives check.
PrimitiveStatus CheckBlockRun(const EntropyStream* stream, const ComponentBlockRow* row, int32_t first,
                              int32_t count) {
    if (stream == nullptr || row == nullptr || row->first == nullptr) {
        return PrimErrNullPointer;
    }
    if (first < 0 || count < 0 || row->blocksPerGroup < 1 || row->blocksPerGroup > 4) {
        return PrimErrOutOfRange;
    }
    return PrimOk;
}

PrimitiveStatus CheckAcRun(const EntropyStream* stream, const ComponentBlockRow* row, int32_t first,
                           int32_t count, int32_t ss, int32_t se, int32_t al,
                           const HuffmanDecodeTable* acTable) {
    const PrimitiveStatus status = CheckBlockRun(stream, row, first, count);
    if (status != PrimOk) {
        return status;
    }
    if (InvalidBand(ss, se, al)) {
        return PrimErrOutOfRange;
    }
    return acTable == nullptr ? PrimErrNullPointer : PrimOk;
}

// The checks of the decoders over MCUs; first scans need every block's
// table and predictor.
PrimitiveStatus CheckDcMcus(const EntropyStream* stream, const DcScanLayout* layout, const int16_t* mcus,
                            int32_t mcuCount, int32_t al, bool firstScan) {
    if (stream == nullptr || layout == nullptr || mcus == nullptr) {
        return PrimErrNullPointer;
    }
    if (mcuCount < 0 || layout->blockCount < 0 || layout->blockCount > kMaxBlocksPerMcu ||
        InvalidAl(al)) {
        return PrimErrOutOfRange;
    }
    for (int32_t b = 0; b < layout->blockCount; ++b) {
        if (layout->blockIndexes[b] < 0 || layout->blockIndexes[b] >= layout->mcuBlocks) {
            return PrimErrOutOfRange;
        }
        if (firstScan && (layout->dcTables[b] == nullptr || layout->dcPredictors[b] == nullptr)) {
            return PrimErrNullPointer;
        }
    }
    return PrimOk;
}

// An EOBr symbol's run: 2^r blocks plus the r bits that follow it
// (T.81 G.1.2.2). `eobRun` holds 2^r already if the extra bits fail.
template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus ReadEobRun(EntropyStream& stream, int32_t r) {
    stream.m_eobRun = 1 << r;
    if (r > 0) {
        const PrimitiveStatus status = hi::NeedBits(stream, Reads::kFillTarget, r);
        if (status != PrimOk) {
            return status;
        }
        stream.m_eobRun += static_cast<int32_t>(hi::TakeBits(stream, r));
    }
    return PrimOk;
}

// Successive approximation of a coefficient already non-zero: a correction
// bit of 1 adds one unit at bit Al (p1 = 2^Al) away from zero, unless that
// bit is set. Without branches: correction bits are as good as random.
WEMB_ALWAYS_INLINE int16_t Corrected(int32_t c, int32_t bit, int32_t p1) {
    const int32_t unit = -bit & p1 & ~c;                // p1, or 0 when no unit is added
    const int32_t negative = -static_cast<int32_t>(c < 0);  // 0 or -1
    return Wrap16(static_cast<uint32_t>(c + ((unit ^ negative) - negative)));
}

// The coefficients of a first scan of the band ss..se, shifted left by al.
// A coefficient whose code and value bits both lie in the lookup's bits is
// taken in one step; the others take the code, then the value bits.
template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus DecodeAcBand(EntropyStream& stream, int16_t* block, int32_t ss,
                                                int32_t se, int32_t al,
                                                const HuffmanDecodeTable* acTable) {
    for (int32_t k = ss; k <= se;) {
        uint32_t entry;
        PrimitiveStatus status = hi::LookUpNextCode<Reads>(stream, acTable, &entry);
        if (status != PrimOk) {
            return status;
        }
        if (entry >= hi::kEntryWithValue) {
            hi::SkipEntryBits(stream, entry);
            k += hi::EntryRun(entry);
            if (k > 71) {
                return PrimErrBadCode;  // damaged run: beyond even the padded table
            }
            block[ZigZagToNatural[k]] = Wrap16(static_cast<uint32_t>(hi::EntryValue(entry)) << al);
            ++k;
            continue;
        }
        const int32_t symbol = hi::SymbolOf(stream, entry, acTable, Reads::kFillTarget);
        if (symbol < 0) {
            return static_cast<PrimitiveStatus>(symbol);
        }
        const int32_t run = symbol >> 4;
        const int32_t size = symbol & 0x0F;
        if (size != 0) {
            k += run;
            status = hi::NeedBits(stream, Reads::kFillTarget, size);
            if (status != PrimOk) {
                return status;
            }
            const int32_t value = hi::Extend(hi::TakeBits(stream, size), size);
            if (k > 71) {
                return PrimErrBadCode;
            }
            block[ZigZagToNatural[k]] = Wrap16(static_cast<uint32_t>(value) << al);
            ++k;
        } else if (run == 15) {
            k += 16;  // ZRL
        } else {
            status = ReadEobRun<Reads>(stream, run);
            if (status != PrimOk) {
                return status;
            }
            --stream.m_eobRun;  // this block is the run's first
            return PrimOk;
        }
    }
    return PrimOk;
}

// The next block of a first AC scan: inside an EOB run nothing is read.
template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus DecodeAcBlock(EntropyStream& stream, int16_t* block, int32_t ss,
                                                 int32_t se, int32_t al, const HuffmanDecodeTable* acTable) {
    if (stream.m_eobRun > 0) {
        --stream.m_eobRun;
        return PrimOk;
    }
    return DecodeAcBand<Reads>(stream, block, ss, se, al, acTable);
}

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
                    mask |= uint64_t{1} << NaturalToZigZag[8 * row + column];
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
    uint64_t natural = ActiveKernels().nonZeroMask(block);
    uint64_t zigZag = 0;
#if defined(__GNUC__)
#pragma GCC unroll 8
#endif
    for (int32_t row = 0; row < 8; ++row, natural >>= 8) {
        zigZag |= kZigZagBits.ofRowByte[row][natural & 0xFF];
    }
    const uint64_t band = (~uint64_t{0} << ss) & (~uint64_t{0} >> (63 - se));
    return zigZag & band;
}

// Zig-zag indexes from..63 as a mask (from <= 63).
WEMB_ALWAYS_INLINE uint64_t IndexesFrom(int32_t from) { return ~uint64_t{0} << from; }

WEMB_ALWAYS_INLINE int32_t LowestIndex(uint64_t mask) { return __builtin_ctzll(mask); }

// For each byte value and each n of 0..7, the position of its n-th set bit
// (from 0, lowest first); 8 where it has no such bit.
struct ByteBitPositions {
    uint8_t ofNth[256][8];
};

constexpr ByteBitPositions MakeByteBitPositions() {
    ByteBitPositions positions = {};
    for (int32_t byte = 0; byte < 256; ++byte) {
        int32_t n = 0;
        for (int32_t bit = 0; bit < 8; ++bit) {
            if ((byte >> bit) & 1) positions.ofNth[byte][n++] = static_cast<uint8_t>(bit);
        }
        for (; n < 8; ++n) positions.ofNth[byte][n] = 8;
    }
    return positions;
}

constexpr ByteBitPositions kByteBitPositions = MakeByteBitPositions();

// The index of the n-th set bit of `mask` (from 0, lowest first; n <= 63),
// or 64 when it has n or fewer set bits. Without a loop over the bits, whose
// length would be as good as random: the set bits of each byte are counted,
// summed from the lowest byte up, the first byte whose running sum exceeds
// n is found by comparing all eight sums with n + 1 at once (each sum is at
// most 64, so that no comparison borrows from the next byte), and the bit
// inside it is looked up.
WEMB_ALWAYS_INLINE int32_t NthSetBit(uint64_t mask, int32_t n) {
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighs = 0x8080808080808080ull;
    uint64_t counts = mask - ((mask >> 1) & 0x5555555555555555ull);
    counts = (counts & 0x3333333333333333ull) + ((counts >> 2) & 0x3333333333333333ull);
    counts = (counts + (counts >> 4)) & 0x0F0F0F0F0F0F0F0Full;  // set bits of each byte
    const uint64_t sums = counts * kOnes;                        // of each byte and those below it
    const uint64_t reached = ((sums | kHighs) - static_cast<uint64_t>(n + 1) * kOnes) & kHighs;
    if (reached == 0) {
        return 64;
    }
    const int32_t byte = LowestIndex(reached) >> 3;
    const int32_t below = static_cast<int32_t>(((sums << 8) >> (8 * byte)) & 0xFF);  // bits in the bytes under it
    return 8 * byte + kByteBitPositions.ofNth[(mask >> (8 * byte)) & 0xFF][n - below];
}

// Refines, in zig-zag order, the coefficients whose bits are set in `mask`,
// one correction bit each, refilling whenever no bit is left. Between
// refills the bits are taken from local copies of the buffer, which the
// compiler keeps in registers.
template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus RefineMarked(EntropyStream& stream, int16_t* block, uint64_t mask,
                                                int32_t p1) {
    while (mask != 0) {
        if (stream.m_bitCount <= 0) {
            const PrimitiveStatus status = hi::Refill(stream, Reads::kFillTarget, 1);
            if (status != PrimOk) {
                return status;
            }
        }
        uint64_t buffer = stream.m_bitBuffer;
        int32_t count = stream.m_bitCount;
        do {
            --count;
            const int32_t bit = static_cast<int32_t>(buffer >> 63);
            buffer <<= 1;
            int16_t* coefficient = &block[ZigZagToNatural[LowestIndex(mask)]];
            *coefficient = Corrected(*coefficient, bit, p1);
            mask &= mask - 1;
        } while (mask != 0 && count > 0);
        stream.m_bitBuffer = buffer;
        stream.m_bitCount = count;
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
template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus RefineAcBand(EntropyStream& stream, int16_t* block, int32_t ss,
                                                int32_t se, int32_t al,
                                                const HuffmanDecodeTable* acTable) {
    const int32_t p1 = 1 << al;
    const int32_t m1 = -p1;
    const uint64_t nonZero = NonZeroHistory(block, ss, se);
    const uint64_t band = IndexesFrom(ss) & (~uint64_t{0} >> (63 - se));
    int32_t k = ss;
    if (stream.m_eobRun == 0) {
        while (k <= se) {
            const int32_t symbol = hi::DecodeNextSymbol<Reads>(stream, acTable);
            if (symbol < 0) {
                return static_cast<PrimitiveStatus>(symbol);
            }
            const int32_t run = symbol >> 4;
            int32_t value = 0;
            if ((symbol & 0x0F) != 0) {
                const int32_t sign = hi::ReadBit(stream, Reads::kFillTarget);
                if (sign < 0) {
                    return static_cast<PrimitiveStatus>(sign);
                }
                value = m1 ^ ((m1 ^ p1) & -sign);  // p1 for a 1, m1 for a 0: no branch on a random bit
            } else if (run != 15) {
                const PrimitiveStatus status = ReadEobRun<Reads>(stream, run);
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
            const int32_t found = NthSetBit(ahead & ~nonZero, run);
            const int32_t stop = found < 64 ? found : se + 1;
            const uint64_t passed = stop <= 63 ? ~IndexesFrom(stop) : ~uint64_t{0};
            const PrimitiveStatus status =
                RefineMarked<Reads>(stream, block, ahead & nonZero & passed, p1);
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
    if (stream.m_eobRun > 0) {
        if (k <= se) {
            const PrimitiveStatus status =
                RefineMarked<Reads>(stream, block, band & IndexesFrom(k) & nonZero, p1);
            if (status != PrimOk) {
                return status;
            }
        }
        --stream.m_eobRun;
    }
    return PrimOk;
}

// The first scan of a DC coefficient: the predictor moves by the decoded
// difference and the coefficient becomes the predictor shifted by al.
template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus DecodeDcFirst(EntropyStream& stream, int16_t* block,
                                                 int16_t* dcPredictor, int32_t al,
                                                 const HuffmanDecodeTable* dcTable) {
    int32_t diff;
    const PrimitiveStatus status = hi::DecodeDcDifference<Reads>(stream, dcTable, &diff);
    if (status != PrimOk) {
        return status;
    }
    *dcPredictor = Wrap16(static_cast<uint32_t>(*dcPredictor) + static_cast<uint32_t>(diff));
    block[0] = Wrap16(static_cast<uint32_t>(*dcPredictor) << al);
    return PrimOk;
}

// A DC refinement: one bit, ORed in at bit al.
template <class Reads>
WEMB_ALWAYS_INLINE PrimitiveStatus RefineDc(EntropyStream& stream, int16_t* block, int32_t al) {
    const int32_t bit = hi::ReadBit(stream, Reads::kFillTarget);
    if (bit < 0) {
        return static_cast<PrimitiveStatus>(bit);
    }
    if (bit != 0) {
        block[0] = Wrap16(static_cast<uint32_t>(block[0]) | (1u << al));
    }
    return PrimOk;
}

// Runs `decode` with the caller's variables as a stream read byte by byte,
// and writes them back.
template <class Decode>
WEMB_ALWAYS_INLINE PrimitiveStatus WithCallerStream(const uint8_t* src, int32_t srcLength,
                                                    int32_t* position, int32_t* marker,
                                                    HuffmanState* state, Decode&& decode) {
    EntropyStream stream = hi::LoadEntropyStream(src, srcLength, position, marker, state);
    const PrimitiveStatus status = decode(stream);
    hi::StoreEntropyStream(stream, position, marker, state);
    return status;
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
    return WithCallerStream(src, srcLength, position, marker, state, [&](EntropyStream& stream) {
        return DecodeDcFirst<hi::ByteWiseReads>(stream, block, dcPredictor, al, dcTable);
    });
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
    return WithCallerStream(src, srcLength, position, marker, state, [&](EntropyStream& stream) {
        return RefineDc<hi::ByteWiseReads>(stream, block, al);
    });
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
    return WithCallerStream(src, srcLength, position, marker, state, [&](EntropyStream& stream) {
        return DecodeAcBand<hi::ByteWiseReads>(stream, block, ss, se, al, acTable);
    });
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
    return WithCallerStream(src, srcLength, position, marker, state, [&](EntropyStream& stream) {
        return RefineAcBand<hi::ByteWiseReads>(stream, block, ss, se, al, acTable);
    });
}

namespace {

// Calls visit(block) for the blocks first..first + count - 1 of a row, in
// order, until one fails.
template <class Visit>
WEMB_ALWAYS_INLINE PrimitiveStatus ForEachBlock(const ComponentBlockRow& row, int32_t first, int32_t count,
                                                Visit&& visit) {
    int32_t inGroup = first % row.blocksPerGroup;
    int16_t* group = row.first + (first / row.blocksPerGroup) * row.groupStride;
    for (int32_t n = 0; n < count; ++n) {
        const PrimitiveStatus status = visit(group + 64 * inGroup);
        if (status != PrimOk) {
            return status;
        }
        if (++inGroup == row.blocksPerGroup) {
            inGroup = 0;
            group += row.groupStride;
        }
    }
    return PrimOk;
}

// Calls visit(block, b) for the layout's blocks of `mcuCount` MCUs, in
// order, until one fails.
template <class Visit>
WEMB_ALWAYS_INLINE PrimitiveStatus ForEachMcuBlock(const DcScanLayout& layout, int16_t* mcus,
                                                   int32_t mcuCount, Visit&& visit) {
    const ptrdiff_t mcuCoefficients = static_cast<ptrdiff_t>(layout.mcuBlocks) * 64;
    for (int32_t mcu = 0; mcu < mcuCount; ++mcu, mcus += mcuCoefficients) {
        for (int32_t b = 0; b < layout.blockCount; ++b) {
            const PrimitiveStatus status = visit(mcus + 64 * layout.blockIndexes[b], b);
            if (status != PrimOk) {
                return status;
            }
        }
    }
    return PrimOk;
}

}  // namespace

PrimitiveStatus DecodeProgressiveDcMcus(EntropyStream* stream, const DcScanLayout* layout,
                                        int16_t* mcus, int32_t mcuCount, int32_t al) {
    const PrimitiveStatus check = CheckDcMcus(stream, layout, mcus, mcuCount, al, true);
    if (check != PrimOk) {
        return check;
    }
    return hi::WithReadAhead(stream, [&](EntropyStream& s, auto reads) {
        return ForEachMcuBlock(*layout, mcus, mcuCount, [&](int16_t* block, int32_t b) {
            return DecodeDcFirst<decltype(reads)>(s, block, layout->dcPredictors[b], al,
                                                  layout->dcTables[b]);
        });
    });
}

PrimitiveStatus RefineProgressiveDcMcus(EntropyStream* stream, const DcScanLayout* layout,
                                        int16_t* mcus, int32_t mcuCount, int32_t al) {
    const PrimitiveStatus check = CheckDcMcus(stream, layout, mcus, mcuCount, al, false);
    if (check != PrimOk) {
        return check;
    }
    return hi::WithReadAhead(stream, [&](EntropyStream& s, auto reads) {
        return ForEachMcuBlock(*layout, mcus, mcuCount, [&](int16_t* block, int32_t) {
            return RefineDc<decltype(reads)>(s, block, al);
        });
    });
}

PrimitiveStatus DecodeProgressiveDcBlocks(EntropyStream* stream, const ComponentBlockRow* row,
                                          int32_t first, int32_t count, int16_t* dcPredictor,
                                          int32_t al, const HuffmanDecodeTable* dcTable) {
    const PrimitiveStatus check = CheckBlockRun(stream, row, first, count);
    if (check != PrimOk) {
        return check;
    }
    if (dcPredictor == nullptr) {
        return PrimErrNullPointer;
    }
    if (InvalidAl(al)) {
        return PrimErrOutOfRange;
    }
    if (dcTable == nullptr) {
        return PrimErrNullPointer;
    }
    return hi::WithReadAhead(stream, [&](EntropyStream& s, auto reads) {
        return ForEachBlock(*row, first, count, [&](int16_t* block) {
            return DecodeDcFirst<decltype(reads)>(s, block, dcPredictor, al, dcTable);
        });
    });
}

PrimitiveStatus RefineProgressiveDcBlocks(EntropyStream* stream, const ComponentBlockRow* row,
                                          int32_t first, int32_t count, int32_t al) {
    const PrimitiveStatus check = CheckBlockRun(stream, row, first, count);
    if (check != PrimOk) {
        return check;
    }
    if (InvalidAl(al)) {
        return PrimErrOutOfRange;
    }
    return hi::WithReadAhead(stream, [&](EntropyStream& s, auto reads) {
        return ForEachBlock(*row, first, count, [&](int16_t* block) {
            return RefineDc<decltype(reads)>(s, block, al);
        });
    });
}

namespace {

#if WEMB_X86_KERNELS && defined(__GNUC__)
// The AC loops compiled for BMI2, as the sequential loop in huffman.cpp; the
// streams read byte-wise take the plain loops. Everything the loops call is
// inlined into them (the lambdas too, being always_inline), so that it is
// compiled here, for BMI2: visit(copy, block) for the row's blocks on a copy
// of *stream, written back after.
template <class Visit>
WEMB_ALWAYS_INLINE PrimitiveStatus ForEachBlockOnCopy(EntropyStream* stream, const ComponentBlockRow& row,
                                                      int32_t first, int32_t count, Visit&& visit) {
    EntropyStream copy = *stream;
    const PrimitiveStatus status = ForEachBlock(
        row, first, count, [&](int16_t* block) __attribute__((always_inline)) { return visit(copy, block); });
    *stream = copy;
    return status;
}

__attribute__((target("bmi2"))) PrimitiveStatus DecodeAcBlocksBmi2(EntropyStream* stream,
                                                                   const ComponentBlockRow& row, int32_t first,
                                                                   int32_t count, int32_t ss, int32_t se, int32_t al,
                                                                   const HuffmanDecodeTable* acTable) {
    return ForEachBlockOnCopy(stream, row, first, count,
                              [&](EntropyStream& s, int16_t* block) __attribute__((always_inline)) {
                                  return DecodeAcBlock<hi::WideReads>(s, block, ss, se, al, acTable);
                              });
}

__attribute__((target("bmi2"))) PrimitiveStatus RefineAcBlocksBmi2(EntropyStream* stream,
                                                                   const ComponentBlockRow& row, int32_t first,
                                                                   int32_t count, int32_t ss, int32_t se, int32_t al,
                                                                   const HuffmanDecodeTable* acTable) {
    return ForEachBlockOnCopy(stream, row, first, count,
                              [&](EntropyStream& s, int16_t* block) __attribute__((always_inline)) {
                                  return RefineAcBand<hi::WideReads>(s, block, ss, se, al, acTable);
                              });
}
#endif

}  // namespace

PrimitiveStatus DecodeProgressiveAcBlocks(EntropyStream* stream, const ComponentBlockRow* row,
                                          int32_t first, int32_t count, int32_t ss, int32_t se,
                                          int32_t al, const HuffmanDecodeTable* acTable) {
    const PrimitiveStatus check = CheckAcRun(stream, row, first, count, ss, se, al, acTable);
    if (check != PrimOk) {
        return check;
    }
#if WEMB_X86_KERNELS && defined(__GNUC__)
    if (stream->m_readAhead == ReadAheadWide && hi::UsesBmi2()) {
        return DecodeAcBlocksBmi2(stream, *row, first, count, ss, se, al, acTable);
    }
#endif
    return hi::WithReadAhead(stream, [&](EntropyStream& s, auto reads) {
        return ForEachBlock(*row, first, count, [&](int16_t* block) {
            return DecodeAcBlock<decltype(reads)>(s, block, ss, se, al, acTable);
        });
    });
}

PrimitiveStatus RefineProgressiveAcBlocks(EntropyStream* stream, const ComponentBlockRow* row,
                                          int32_t first, int32_t count, int32_t ss, int32_t se,
                                          int32_t al, const HuffmanDecodeTable* acTable) {
    const PrimitiveStatus check = CheckAcRun(stream, row, first, count, ss, se, al, acTable);
    if (check != PrimOk) {
        return check;
    }
#if WEMB_X86_KERNELS && defined(__GNUC__)
    if (stream->m_readAhead == ReadAheadWide && hi::UsesBmi2()) {
        return RefineAcBlocksBmi2(stream, *row, first, count, ss, se, al, acTable);
    }
#endif
    return hi::WithReadAhead(stream, [&](EntropyStream& s, auto reads) {
        return ForEachBlock(*row, first, count, [&](int16_t* block) {
            return RefineAcBand<decltype(reads)>(s, block, ss, se, al, acTable);
        });
    });
}
