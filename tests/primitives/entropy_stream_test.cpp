// The decoder's entropy stream and its decoders (DecodeSequentialMcus and the
// progressive ...Mcus and ...Blocks), which read ahead 64 bits at a time and
// resolve whole coefficients with one lookup, checked on random tables and
// random, damaged data against two references:
// - a model that decodes the logical bits of the data (stuffing removed, up
//   to the marker or the end) with the bit-by-bit canonical search and the
//   coefficient-by-coefficient procedures, sharing no code with the codec;
// - the block primitives, which read byte by byte into 32 bits.
// Statuses, coefficients, predictors and EOB runs must agree with both, and
// so must what the marker loop finds after the scan; a source ending in
// 0xFF, which fails where the byte-wise refill meets that byte, must leave
// every stream variable as the primitives do.
#include "primitives/entropy_stream.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "primitives/bit_reader.h"
#include "primitives/huffman.h"
#include "primitives/progressive_huffman.h"
#include "support/huffman_encoder.h"
#include "support/simd_levels.h"

namespace {

using namespace wemb_test;

// ---------------------------------------------------------------------------
// The model.

// The bits a decoder may take from `from` on: stuffed 0xFF 0x00 pairs give
// 0xFF, fill bytes are dropped, and the data ends at a marker or at the end
// of the source (a lone 0xFF there included).
struct LogicalData {
    std::vector<uint8_t> bits;
    bool endsAtMarker = false;
};

LogicalData LogicalBitsOf(const std::vector<uint8_t>& bytes, size_t from) {
    LogicalData data;
    for (size_t i = from; i < bytes.size();) {
        const uint8_t byte = bytes[i++];
        if (byte == 0xFF) {
            while (i < bytes.size() && bytes[i] == 0xFF) ++i;
            if (i == bytes.size()) break;
            if (bytes[i++] != 0x00) {
                data.endsAtMarker = true;
                break;
            }
        }
        for (int b = 7; b >= 0; --b) data.bits.push_back((byte >> b) & 1);
    }
    return data;
}

struct ModelReader {
    const LogicalData& data;
    size_t next = 0;

    PrimitiveStatus Shortage() const { return data.endsAtMarker ? PrimErrBadHuffmanCode : PrimErrSourceExhausted; }
    bool Take(int n, uint32_t* value) {
        if (next + n > data.bits.size()) return false;
        *value = 0;
        for (int i = 0; i < n; ++i) *value = (*value << 1) | data.bits[next++];
        return true;
    }
};

int32_t Extended(uint32_t v, int s) { return v >> (s - 1) ? static_cast<int32_t>(v) : static_cast<int32_t>(v) + 1 - (1 << s); }
int16_t Wrapped(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }
int NaturalOf(int k) { return k < 64 ? kZigzagToNatural[k] : 63; }

// DECODE of T.81 F.2.2.3 one bit at a time, on the per-length limits the
// decode table holds: the 16-bit last and first codes of each length, 0xFFFF
// for a length without codes, and symbols past the table's values read as 0.
class ModelTable {
public:
    explicit ModelTable(const HuffmanCodeLengths& table) {
        std::copy(table.values.begin(), table.values.end(), values_.begin());
        uint32_t code = 0;
        int first = 0;
        for (int length = 1; length <= 16; ++length, code <<= 1) {
            const int count = table.counts[length - 1];
            maxCode_[length] = count == 0 ? 0xFFFF : static_cast<uint16_t>(code + count - 1);
            minCode_[length] = static_cast<uint16_t>(code);
            firstSymbol_[length] = first;
            code += count;
            first += count;
        }
    }
    int32_t Decode(ModelReader& reader) const {
        uint32_t code = 0, bit;
        for (int length = 1; length <= 16; ++length) {
            if (!reader.Take(1, &bit)) return reader.Shortage();
            code = (code << 1) | bit;
            if (maxCode_[length] != 0xFFFF && code <= maxCode_[length]) {
                const int index = firstSymbol_[length] + static_cast<int>(code) - minCode_[length];
                return index < 0 || index > 255 ? int32_t{PrimErrBadHuffmanCode} : values_[index];
            }
        }
        return reader.Take(1, &bit) ? PrimErrBadHuffmanCode : reader.Shortage();  // the 17th bit
    }

private:
    std::array<uint8_t, 256> values_{};
    uint16_t maxCode_[17] = {}, minCode_[17] = {};
    int firstSymbol_[17] = {};
};

// A DC difference, or a negative status.
PrimitiveStatus ModelDcDifference(ModelReader& reader, const ModelTable& table, int32_t* diff) {
    const int32_t symbol = table.Decode(reader);
    if (symbol < 0) return static_cast<PrimitiveStatus>(symbol);
    uint32_t bits = 0;
    const int size = symbol & 15;
    if (size != 0 && !reader.Take(size, &bits)) return reader.Shortage();
    *diff = size == 0 ? 0 : Extended(bits, size);
    return PrimOk;
}

PrimitiveStatus ModelSequentialBlock(ModelReader& reader, const ModelTable& dc, const ModelTable& ac, int16_t* block,
                                     int16_t* predictor) {
    int32_t diff;
    const PrimitiveStatus status = ModelDcDifference(reader, dc, &diff);
    if (status != PrimOk) return status;
    *predictor = Wrapped(*predictor + diff);
    block[0] = *predictor;
    for (int k = 1; k <= 63;) {
        const int32_t symbol = ac.Decode(reader);
        if (symbol < 0) return static_cast<PrimitiveStatus>(symbol);
        const int run = symbol >> 4, size = symbol & 15;
        if (size == 0) {
            if (run != 15) break;
            k += 16;
            continue;
        }
        k += run;
        uint32_t bits;
        if (!reader.Take(size, &bits)) return reader.Shortage();
        if (k > 71) return PrimErrBadCode;
        block[NaturalOf(k)] = static_cast<int16_t>(Extended(bits, size));
        ++k;
    }
    return PrimOk;
}

// The four progressive procedures of T.81 G.1.2, the refinement walking the
// band coefficient by coefficient.
struct ModelProgressive {
    int32_t ss, se, ah, al;
    int32_t eobRun = 0;

    PrimitiveStatus Refine(ModelReader& reader, int16_t* coefficient) const {
        uint32_t bit;
        if (!reader.Take(1, &bit)) return reader.Shortage();
        const int32_t p1 = 1 << al;
        if (bit != 0 && (*coefficient & p1) == 0) *coefficient = Wrapped(*coefficient + (*coefficient >= 0 ? p1 : -p1));
        return PrimOk;
    }
    PrimitiveStatus EobRun(ModelReader& reader, int r) {
        eobRun = 1 << r;
        uint32_t bits = 0;
        if (r > 0 && !reader.Take(r, &bits)) return reader.Shortage();
        eobRun += static_cast<int32_t>(bits);
        return PrimOk;
    }
    PrimitiveStatus Block(ModelReader& reader, const ModelTable& table, int16_t* block, int16_t* predictor) {
        uint32_t bit;
        if (ss == 0 && ah == 0) {
            int32_t diff;
            const PrimitiveStatus status = ModelDcDifference(reader, table, &diff);
            if (status != PrimOk) return status;
            *predictor = Wrapped(*predictor + diff);
            block[0] = Wrapped(*predictor * (1 << al));
            return PrimOk;
        }
        if (ss == 0) {
            if (!reader.Take(1, &bit)) return reader.Shortage();
            if (bit != 0) block[0] = Wrapped(block[0] | (1 << al));
            return PrimOk;
        }
        return ah == 0 ? AcFirst(reader, table, block) : AcRefine(reader, table, block);
    }
    PrimitiveStatus AcFirst(ModelReader& reader, const ModelTable& table, int16_t* block) {
        if (eobRun > 0) {
            --eobRun;
            return PrimOk;
        }
        for (int k = ss; k <= se;) {
            const int32_t symbol = table.Decode(reader);
            if (symbol < 0) return static_cast<PrimitiveStatus>(symbol);
            const int run = symbol >> 4, size = symbol & 15;
            if (size != 0) {
                k += run;
                uint32_t bits;
                if (!reader.Take(size, &bits)) return reader.Shortage();
                if (k > 71) return PrimErrBadCode;
                block[NaturalOf(k)] = Wrapped(Extended(bits, size) * (1 << al));
                ++k;
            } else if (run == 15) {
                k += 16;
            } else {
                const PrimitiveStatus status = EobRun(reader, run);
                if (status != PrimOk) return status;
                --eobRun;
                return PrimOk;
            }
        }
        return PrimOk;
    }
    PrimitiveStatus AcRefine(ModelReader& reader, const ModelTable& table, int16_t* block) {
        int k = ss;
        PrimitiveStatus status;
        while (eobRun == 0 && k <= se) {
            const int32_t symbol = table.Decode(reader);
            if (symbol < 0) return static_cast<PrimitiveStatus>(symbol);
            int run = symbol >> 4;
            int32_t value = 0;
            uint32_t bit;
            if ((symbol & 15) != 0) {
                if (!reader.Take(1, &bit)) return reader.Shortage();
                value = bit != 0 ? 1 << al : -(1 << al);
            } else if (run != 15) {
                if ((status = EobRun(reader, run)) != PrimOk) return status;
                break;
            }
            for (; k <= se; ++k) {
                int16_t* coefficient = &block[NaturalOf(k)];
                if (*coefficient != 0) {
                    if ((status = Refine(reader, coefficient)) != PrimOk) return status;
                } else if (--run < 0) {
                    break;
                }
            }
            if (value != 0) block[NaturalOf(k)] = static_cast<int16_t>(value);
            ++k;
        }
        if (eobRun > 0) {
            for (; k <= se; ++k) {
                if (block[NaturalOf(k)] != 0 && (status = Refine(reader, &block[NaturalOf(k)])) != PrimOk) return status;
            }
            --eobRun;
        }
        return PrimOk;
    }
};

// ---------------------------------------------------------------------------
// Random tables and data.

// Code counts that build: a prefix code over random lengths up to 16 bits,
// sometimes with more codes of 9 or more bits than fit (over-subscribed
// counts that the build lets through), and random symbols: DC symbols mostly
// a size, AC symbols mostly short runs (so that blocks end before their runs
// pass the last coefficient), EOB and ZRL, else any byte.
HuffmanCodeLengths RandomTable(std::mt19937& rng, bool dc) {
    HuffmanCodeLengths table{};
    int total = 0;
    int64_t free = 1;
    const int longest = 2 + static_cast<int>(rng() % 15);
    for (int length = 1; length <= longest; ++length) {
        free *= 2;
        int count = static_cast<int>(rng() % (std::min<int64_t>(free, 24) + 1));
        if (length == longest) count = static_cast<int>(std::min<int64_t>(free, 40));
        count = std::min(count, 256 - total);
        table.counts[length - 1] = static_cast<uint8_t>(count);
        total += count;
        free -= count;
    }
    if (rng() % 4 == 0) {
        const int length = 9 + static_cast<int>(rng() % 8);
        const int extra = std::min(1 + static_cast<int>(rng() % 60), 256 - total);
        table.counts[length - 1] = static_cast<uint8_t>(table.counts[length - 1] + extra);
        total += extra;
    }
    for (int i = 0; i < total; ++i) {
        uint32_t value = rng();
        if (dc && rng() % 8 != 0) value %= 16;
        if (!dc && rng() % 2 == 0) value = rng() % 8 == 0 ? 0x00 : rng() % 16 == 0 ? 0xF0 : (rng() % 4) << 4 | (1 + rng() % 11);
        table.values.push_back(static_cast<uint8_t>(value));
    }
    if (!dc && total > 0) table.values[rng() % total] = 0x00;  // an EOB to end blocks with
    return table;
}

// Random bits as entropy-coded bytes: 0xFF once in `ffOneIn` bytes, stuffed.
std::vector<uint8_t> RandomBytes(std::mt19937& rng) {
    const uint32_t ffOneIn = std::array<uint32_t, 3>{2, 8, 200}[rng() % 3];
    std::vector<uint8_t> bytes;
    for (size_t size = 1 + rng() % 600; bytes.size() < size;) {
        bytes.push_back(rng() % ffOneIn == 0 ? 0xFF : static_cast<uint8_t>(rng()));
        if (bytes.back() == 0xFF) bytes.push_back(0x00);
    }
    return bytes;
}

// Blocks as an encoder writes them with the given DC and AC tables: random
// symbols of each table with random value bits, AC runs kept inside the
// block, ended by an EOB where the table has one.
std::vector<uint8_t> EncodedBlocks(std::mt19937& rng, const std::vector<const HuffmanCodeLengths*>& tables,
                                   size_t blocks) {
    BitWriter writer;
    for (size_t b = 0; b < blocks; ++b) {
        const HuffmanCodeLengths& dc = *tables[2 * (b % (tables.size() / 2))];
        const HuffmanCodeLengths& ac = *tables[2 * (b % (tables.size() / 2)) + 1];
        const HuffmanCoder dcCoder(dc), acCoder(ac);
        if (dc.values.empty() || ac.values.empty()) break;
        const int dcSymbol = dc.values[rng() % dc.values.size()];
        dcCoder.Put(writer, dcSymbol, static_cast<int>(rng()), dcSymbol & 15);
        for (int k = 1, tries = 0; k <= 63 && tries < 200; ++tries) {
            const int symbol = ac.values[rng() % ac.values.size()];
            const int run = symbol >> 4, size = symbol & 15;
            if (size == 0 && run != 15) {
                acCoder.Put(writer, symbol);  // EOB: any run but 15 ends the block
                break;
            }
            if (k + run > 63) continue;
            acCoder.Put(writer, symbol, static_cast<int>(rng()), size);
            k += size == 0 ? 16 : run + 1;
        }
    }
    writer.PutRawBytes({});
    return writer.bytes();
}

// Entropy-coded bytes after a few header bytes, ended by a marker, cut
// short, or with one or two 0xFF appended; sometimes with a restart marker
// and fill bytes in between.
struct Data {
    std::vector<uint8_t> bytes;
    int32_t start;
};

Data WithEnding(std::mt19937& rng, const std::vector<uint8_t>& payload) {
    Data data;
    data.start = static_cast<int32_t>(rng() % 12);
    data.bytes.assign(static_cast<size_t>(data.start), 0x55);
    data.bytes.insert(data.bytes.end(), payload.begin(), payload.end());
    if (rng() % 3 == 0) {
        size_t at = data.start + rng() % (payload.size() + 1);
        while (at > static_cast<size_t>(data.start) && data.bytes[at - 1] == 0xFF) --at;  // not inside 0xFF 0x00
        std::vector<uint8_t> marker(rng() % 3, 0xFF);
        marker.insert(marker.end(), {0xFF, static_cast<uint8_t>(0xD0 + rng() % 8)});
        data.bytes.insert(data.bytes.begin() + static_cast<ptrdiff_t>(at), marker.begin(), marker.end());
    }
    const uint32_t ending = rng() % 8;
    if (ending < 3) {
        data.bytes.insert(data.bytes.end(), {0xFF, 0xFF, 0xD9});
    } else if (ending < 6) {
        data.bytes.resize(std::max<size_t>(1, data.start + rng() % (data.bytes.size() - data.start + 1)));
    } else if (ending == 6) {
        data.bytes.push_back(0xFF);
    } else {
        data.bytes.insert(data.bytes.end(), {0x12, 0xFF, 0xFF});
    }
    return data;
}

// The caller-held variables of the primitives, from `start`.
struct PrimitiveStream {
    const std::vector<uint8_t>& bytes;
    int32_t position, marker = 0;
    HuffmanState state{};
    const uint8_t* src() const { return bytes.data(); }
    int32_t length() const { return static_cast<int32_t>(bytes.size()); }
};

EntropyStream StreamAt(const Data& data) {
    EntropyStream stream;
    stream.Attach(data.bytes.data(), static_cast<int32_t>(data.bytes.size()));
    stream.m_position = data.start;
    return stream;
}

// What the marker loop meets after a scan: the marker the scan met, or the
// one its search finds from where the scan stopped, with the position after it.
std::pair<int32_t, int32_t> NextMarker(const std::vector<uint8_t>& bytes, int32_t position, int32_t marker) {
    if (marker != 0) return {marker, position};
    EntropyStream search;
    search.Attach(bytes.data(), static_cast<int32_t>(bytes.size()));
    search.m_position = position;
    const bool found = search.FindMarker();
    return {found ? search.m_pendingMarker : -1, search.m_position};
}

// Splits `total` into random parts, decoded by one call each.
std::vector<int32_t> RandomParts(std::mt19937& rng, int32_t total) {
    std::vector<int32_t> parts;
    while (total > 0) {
        const int32_t part = std::min(total, 1 + static_cast<int32_t>(rng() % 7));
        parts.push_back(part);
        total -= part;
    }
    return parts;
}

// Compares a stream after decoding with the primitives' variables: equal
// throughout when the source ends in 0xFF (read byte by byte alike), else
// equal in what the marker loop goes on with.
void ExpectSameStream(const EntropyStream& stream, const PrimitiveStream& primitive) {
    if (stream.m_readAhead == ReadAheadByteWise) {
        // The unread bits: the stream's top ones, the state's low ones.
        const int32_t count = stream.m_bitCount;
        const uint32_t streamBits = count == 0 ? 0 : static_cast<uint32_t>(stream.m_bitBuffer >> (64 - count));
        const uint32_t stateBits = count == 0 ? 0 : primitive.state.bitBuffer & (0xFFFFFFFFu >> (32 - count));
        EXPECT_EQ(std::vector<int64_t>({stream.m_position, stream.m_pendingMarker, streamBits, stream.m_bitCount,
                                        stream.m_eobRun}),
                  std::vector<int64_t>({primitive.position, primitive.marker, stateBits, primitive.state.bitCount,
                                        primitive.state.eobRun}));
    } else {
        EXPECT_EQ(NextMarker(primitive.bytes, stream.m_position, stream.m_pendingMarker),
                  NextMarker(primitive.bytes, primitive.position, primitive.marker));
        EXPECT_EQ(stream.m_eobRun, primitive.state.eobRun);
    }
}

struct TablePair {
    HuffmanCodeLengths dc, ac;
    DecodeTablePtr dcTable, acTable;
    ModelTable dcModel, acModel;
};

// Two DC and two AC tables, random or the Annex K ones.
std::vector<TablePair> RandomTables(std::mt19937& rng) {
    std::vector<TablePair> tables;
    for (int i = 0; i < 2; ++i) {
        const bool annexK = rng() % 4 == 0;
        HuffmanCodeLengths dc = annexK ? wemb_test::AnnexKLuminanceDc() : RandomTable(rng, true);
        HuffmanCodeLengths ac = annexK ? wemb_test::AnnexKLuminanceAc() : RandomTable(rng, false);
        tables.push_back(TablePair{dc, ac, BuildTable(dc), BuildTable(ac), ModelTable(dc), ModelTable(ac)});
    }
    return tables;
}

// ---------------------------------------------------------------------------

// Every entry of the code-and-value lookup holds what the canonical search
// finds in its bits: the code and its symbol, with the value when the value
// bits follow within the lookup's bits; a bad symbol index; or no code that
// short. Random tables, over-subscribed ones among them.
TEST(EntropyStream, CodeValueLookupHoldsWhatTheCanonicalSearchFinds) {
    namespace hi = huffman_internal;
    std::mt19937 rng(5);
    for (int trial = 0; trial < 300; ++trial) {
        const HuffmanCodeLengths definition = RandomTable(rng, trial % 2 == 0);
        const DecodeTablePtr table = BuildTable(definition);
        ASSERT_NE(table, nullptr);
        const ModelTable model(definition);
        for (uint32_t w = 0; w < (1u << kCodeValueLookupBits); ++w) {
            LogicalData bits;
            for (int b = kCodeValueLookupBits - 1; b >= 0; --b) bits.bits.push_back((w >> b) & 1);
            ModelReader reader{bits};
            const int32_t symbol = model.Decode(reader);
            const uint32_t entry = table->codeValueLookup[w];
            SCOPED_TRACE(testing::Message() << "trial " << trial << ", bits " << w);
            if (symbol == PrimErrSourceExhausted) {
                ASSERT_EQ(entry, hi::kNoShortCode);
                continue;
            }
            if (symbol < 0) {
                ASSERT_EQ(entry, hi::kBadShortCode);
                continue;
            }
            const int codeLength = static_cast<int>(reader.next);
            ASSERT_GE(entry, hi::kEntryWithCode);
            ASSERT_EQ(hi::EntryCodeLength(entry), codeLength);
            ASSERT_EQ(hi::EntrySymbol(entry), symbol);
            const int size = symbol & 15;
            uint32_t valueBits;
            if (size != 0 && reader.Take(size, &valueBits)) {
                ASSERT_GE(entry, hi::kEntryWithValue);
                ASSERT_EQ(hi::EntryBits(entry), codeLength + size);
                ASSERT_EQ(hi::EntryRun(entry), symbol >> 4);
                ASSERT_EQ(hi::EntryValue(entry), Extended(valueBits, size));
            } else {
                ASSERT_LT(entry, hi::kEntryWithValue);
                ASSERT_EQ(hi::EntryBits(entry), codeLength);
            }
        }
    }
}

TEST(EntropyStream, ReadsAheadUnlessTheSourceEndsInFF) {
    const std::vector<uint8_t> plain = {1, 2, 0xFF, 0x00, 3}, lone = {1, 2, 3, 0xFF}, fill = {1, 0xFF, 0xFF};
    EntropyStream stream;
    stream.Attach(plain.data(), 5);
    EXPECT_EQ(stream.m_readAhead, ReadAheadWide);
    stream.Attach(lone.data(), 4);
    EXPECT_EQ(stream.m_readAhead, ReadAheadByteWise);
    stream.Attach(fill.data(), 3);
    EXPECT_EQ(stream.m_readAhead, ReadAheadByteWise);
    stream.Attach(nullptr, 5);
    EXPECT_EQ(std::vector<int64_t>({stream.m_sourceSize, stream.m_position, stream.m_readAhead}),
              std::vector<int64_t>({0, 0, ReadAheadWide}));
    EXPECT_FALSE(stream.FindMarker());
}

TEST(EntropyStream, SequentialMcusMatchTheModelAndThePrimitives) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 1500; ++trial) {
        SCOPED_TRACE(testing::Message() << "trial " << trial);
        const std::vector<TablePair> tables = RandomTables(rng);
        SequentialMcuLayout layout{};
        layout.blockCount = 1 + static_cast<int32_t>(rng() % 6);
        std::vector<int> tableOf(layout.blockCount), componentOf(layout.blockCount);
        std::vector<int16_t> fastPredictors(3), modelPredictors(3), primitivePredictors(3);
        for (int b = 0; b < layout.blockCount; ++b) {
            tableOf[b] = static_cast<int>(rng() % 2);
            componentOf[b] = static_cast<int>(rng() % 3);
            layout.dcTables[b] = tables[tableOf[b]].dcTable.get();
            layout.acTables[b] = tables[tableOf[b]].acTable.get();
            layout.dcPredictors[b] = &fastPredictors[componentOf[b]];
        }
        const int32_t mcus = 1 + static_cast<int32_t>(rng() % 40);
        const size_t blocks = static_cast<size_t>(mcus) * layout.blockCount;
        std::vector<const HuffmanCodeLengths*> blockTables;
        for (int b = 0; b < layout.blockCount; ++b) {
            blockTables.insert(blockTables.end(), {&tables[tableOf[b]].dc, &tables[tableOf[b]].ac});
        }
        const bool encoded = rng() % 2 == 0;
        const Data data = WithEnding(rng, encoded ? EncodedBlocks(rng, blockTables, blocks) : RandomBytes(rng));

        // The model and the primitives, block by block up to the first failure.
        const LogicalData logical = LogicalBitsOf(data.bytes, static_cast<size_t>(data.start));
        ModelReader reader{logical};
        std::vector<int16_t> model(blocks * 64), primitive(blocks * 64);
        PrimitiveStream p{data.bytes, data.start};
        PrimitiveStatus modelStatus = PrimOk, primitiveStatus = PrimOk;
        for (size_t b = 0; b < blocks; ++b) {
            const int t = tableOf[b % layout.blockCount], c = componentOf[b % layout.blockCount];
            if (modelStatus == PrimOk) {
                modelStatus = ModelSequentialBlock(reader, tables[t].dcModel, tables[t].acModel, &model[b * 64],
                                                   &modelPredictors[c]);
            }
            if (primitiveStatus == PrimOk) {
                primitiveStatus = DecodeSequentialBlock(p.src(), p.length(), &p.position, &primitive[b * 64],
                                                        &primitivePredictors[c], &p.marker, tables[t].dcTable.get(),
                                                        tables[t].acTable.get(), &p.state);
            }
        }

        // The stream, a few MCUs per call, into blocks that start zero.
        EntropyStream stream = StreamAt(data);
        std::vector<int16_t> fast(blocks * 64);
        std::vector<uint8_t> extents(blocks, 0xEE);
        PrimitiveStatus fastStatus = PrimOk;
        int32_t done = 0;
        for (int32_t part : RandomParts(rng, mcus)) {
            const size_t first = static_cast<size_t>(done) * layout.blockCount;
            fastStatus = DecodeSequentialMcus(&stream, &layout, part, &fast[first * 64], &extents[first]);
            if (fastStatus != PrimOk) break;
            done += part;
        }

        EXPECT_EQ(fastStatus, primitiveStatus);
        EXPECT_EQ(fast, primitive);
        EXPECT_EQ(fastPredictors, primitivePredictors);
        ExpectSameStream(stream, p);
        if (stream.m_readAhead == ReadAheadWide) {
            EXPECT_EQ(fastStatus, modelStatus);
            EXPECT_EQ(fast, model);
            EXPECT_EQ(fastPredictors, modelPredictors);
        }
        // Extents of the blocks decoded: the highest non-zero zig-zag index.
        for (size_t b = 0; fastStatus == PrimOk && b < blocks; ++b) {
            int highest = 0;
            for (int k = 1; k < 64; ++k) highest = fast[b * 64 + kZigzagToNatural[k]] != 0 ? k : highest;
            ASSERT_EQ(extents[b], highest) << "block " << b;
        }
        if (HasFailure()) return;
    }
}

TEST(EntropyStream, ProgressiveScansMatchTheModelAndThePrimitives) {
    std::mt19937 rng(11);
    wemb_test::ForEachSimdLevel([&] {
        for (int trial = 0; trial < 1500; ++trial) {
            SCOPED_TRACE(testing::Message() << "trial " << trial);
            const std::vector<TablePair> tables = RandomTables(rng);
            const Data data = WithEnding(rng, RandomBytes(rng));
            const int kind = static_cast<int>(rng() % 4);  // DC first, DC refinement, AC first, AC refinement
            const int32_t al = static_cast<int32_t>(rng() % 14);
            int32_t ss = 0, se = 0;
            if (kind >= 2) {
                ss = 1 + static_cast<int32_t>(rng() % 63);
                se = ss + static_cast<int32_t>(rng() % (64 - ss));
            }
            ModelProgressive scan{ss, se, kind % 2, al};
            const ModelTable& modelTable = kind == 0 ? tables[0].dcModel : tables[0].acModel;
            const HuffmanDecodeTable* table = kind == 0 ? tables[0].dcTable.get() : tables[0].acTable.get();

            // Blocks with some history: refinements need non-zero coefficients.
            const int32_t count = kind < 2 ? 2 + 2 * static_cast<int32_t>(rng() % 30)  // whole MCUs of two
                                           : 1 + static_cast<int32_t>(rng() % 60);
            std::vector<int16_t> before(static_cast<size_t>(count) * 64);
            for (int16_t& c : before) c = rng() % 3 == 0 ? static_cast<int16_t>(static_cast<int>(rng() % 61) - 30) * (1 << al) : 0;

            // Model and primitives, block by block.
            const LogicalData logical = LogicalBitsOf(data.bytes, static_cast<size_t>(data.start));
            ModelReader reader{logical};
            std::vector<int16_t> model = before, primitive = before;
            int16_t modelPredictor = 0, primitivePredictor = 0;
            PrimitiveStream p{data.bytes, data.start};
            PrimitiveStatus modelStatus = PrimOk, primitiveStatus = PrimOk;
            for (int32_t b = 0; b < count; ++b) {
                int16_t* m = &model[b * 64];
                int16_t* q = &primitive[b * 64];
                if (modelStatus == PrimOk) modelStatus = scan.Block(reader, modelTable, m, &modelPredictor);
                if (primitiveStatus != PrimOk) continue;
                const uint8_t* src = p.src();
                const int32_t n = p.length();
                switch (kind) {
                    case 0: primitiveStatus = DecodeProgressiveDcBlock(src, n, &p.position, q, &primitivePredictor, &p.marker, al, table, &p.state); break;
                    case 1: primitiveStatus = RefineProgressiveDcBlock(src, n, &p.position, q, &p.marker, al, &p.state); break;
                    case 2: primitiveStatus = DecodeProgressiveAcBlock(src, n, &p.position, q, &p.marker, ss, se, al, table, &p.state); break;
                    default: primitiveStatus = RefineProgressiveAcBlock(src, n, &p.position, q, &p.marker, ss, se, al, table, &p.state); break;
                }
            }

            // The stream, on blocks in groups of two among others: DC scans
            // decode blocks 0 and 2 of MCUs of three, AC scans a row of two
            // blocks per MCU, the third being another component's.
            EntropyStream stream = StreamAt(data);
            const int32_t groups = (count + 1) / 2;
            std::vector<int16_t> spaced(static_cast<size_t>(groups) * 3 * 64, 0x3333);
            const int32_t second = kind < 2 ? 2 : 1;  // the group's second block
            const auto blockAt = [&](int32_t i) { return &spaced[((i / 2) * 3 + (i % 2) * second) * 64]; };
            for (int32_t b = 0; b < count; ++b) std::copy_n(&before[b * 64], 64, blockAt(b));
            const ComponentBlockRow row = {spaced.data(), 2, 3 * 64};
            int16_t fastPredictor = 0;
            const DcScanLayout layout = {3, 2, {0, 2}, {table, table}, {&fastPredictor, &fastPredictor}};
            PrimitiveStatus fastStatus = PrimOk;
            int32_t done = 0;
            for (int32_t part : RandomParts(rng, kind < 2 ? groups : count)) {
                switch (kind) {
                    case 0: fastStatus = DecodeProgressiveDcMcus(&stream, &layout, blockAt(2 * done), part, al); break;
                    case 1: fastStatus = RefineProgressiveDcMcus(&stream, &layout, blockAt(2 * done), part, al); break;
                    case 2: fastStatus = DecodeProgressiveAcBlocks(&stream, &row, done, part, ss, se, al, table); break;
                    default: fastStatus = RefineProgressiveAcBlocks(&stream, &row, done, part, ss, se, al, table); break;
                }
                if (fastStatus != PrimOk) break;
                done += part;
            }
            std::vector<int16_t> fast(static_cast<size_t>(count) * 64);
            for (int32_t b = 0; b < count; ++b) std::copy_n(blockAt(b), 64, &fast[b * 64]);
            const int32_t other = kind < 2 ? 1 : 2;  // the block of each group left alone
            for (int32_t g = 0; g < groups; ++g) ASSERT_EQ(spaced[(g * 3 + other) * 64], 0x3333) << "group " << g;

            EXPECT_EQ(fastStatus, primitiveStatus);
            EXPECT_EQ(fast, primitive);
            EXPECT_EQ(fastPredictor, primitivePredictor);
            ExpectSameStream(stream, p);
            if (stream.m_readAhead == ReadAheadWide) {
                EXPECT_EQ(fastStatus, modelStatus);
                EXPECT_EQ(fast, model);
                EXPECT_EQ(fastPredictor, modelPredictor);
                EXPECT_EQ(stream.m_eobRun, scan.eobRun);
            }
            if (HasFailure()) return;
        }
    });
}

// A scan whose first block needs more bits than the data holds before a
// restart marker, read by every decoder of the stream: all fail alike.
TEST(EntropyStream, DecodersFailAtTheMarkerAsThePrimitivesDo) {
    const DecodeTablePtr dc = BuildTable(wemb_test::AnnexKLuminanceDc()), ac = BuildTable(wemb_test::AnnexKLuminanceAc());
    // A stuffed 0xFF: eight 1 bits, which no DC code of 8 bits is; the
    // 9-bit code needs a bit that the marker withholds.
    const std::vector<uint8_t> bytes = {0xFF, 0x00, 0xFF, 0xFF, 0xD3, 0x00, 0x00};
    EntropyStream stream;
    stream.Attach(bytes.data(), static_cast<int32_t>(bytes.size()));
    int16_t block[64] = {}, predictor = 0;
    SequentialMcuLayout layout{1, {dc.get()}, {ac.get()}, {&predictor}};
    uint8_t extent = 0;
    EXPECT_EQ(DecodeSequentialMcus(&stream, &layout, 1, block, &extent), PrimErrBadHuffmanCode);
    EXPECT_EQ(std::vector<int64_t>({stream.m_pendingMarker, stream.m_position, stream.m_bitCount}),
              std::vector<int64_t>({0xD3, 5, 8}));
    // A restart boundary drops the bits and takes the marker; decoding goes
    // on after it: 16 zero bits are DC 0 and four 0/1 coefficients of -1,
    // and the data ends in the fifth.
    stream.ResetBits();
    stream.ClearMarker();
    EXPECT_EQ(DecodeSequentialMcus(&stream, &layout, 1, block, &extent), PrimErrSourceExhausted);
    EXPECT_EQ(stream.m_position, 7);
    EXPECT_EQ(std::count(block, block + 64, -1), 4);
}

// A code longer than the lookup's bits whose symbol index falls outside the
// table (only hand-made tables have one: counts that would make one do not
// build) fails once its 12 bits are taken, read byte-wise or ahead.
TEST(EntropyStream, LongCodeOutsideTheSymbolsFailsAfterItsBits) {
    HuffmanDecodeTable table{};  // empty lookups: no code of up to 11 bits
    std::fill(table.maxCode, table.maxCode + 16, 0xFFFF);
    table.minCode[11] = 4000;  // 12-bit codes up to 4000, the first being symbol 2
    table.maxCode[11] = 4000;
    table.firstSymbol[11] = 2;
    Stream s{std::vector<uint8_t>(12, 0)};
    int32_t symbol = 9;
    EXPECT_EQ(DecodeSymbol(s.bytes.data(), s.length(), &s.position, &s.marker, &symbol, &table, &s.state),
              PrimErrBadHuffmanCode);
    EXPECT_EQ(std::vector<int32_t>({symbol, s.state.bitCount}), std::vector<int32_t>({0, 32 - 12}));

    EntropyStream stream;
    stream.Attach(s.bytes.data(), s.length());
    int16_t block[64] = {}, predictor = 0;
    const SequentialMcuLayout layout{1, {&table}, {&table}, {&predictor}};
    uint8_t extent = 0;
    EXPECT_EQ(DecodeSequentialMcus(&stream, &layout, 1, block, &extent), PrimErrBadHuffmanCode);
    EXPECT_EQ(stream.m_bitCount, 64 - 12);
}

}  // namespace

// Two streams over the same data stand at the same data-bit position exactly
// when they will read the same bits next, whatever each has buffered: the
// position counts the bits taken, stuffing, fill bytes and markers left out,
// and a stream moved on to a later byte (SkipDataTo) goes on reading the
// data where a stream from the start reading that far would.
TEST(EntropyStream, DataBitPositionsNameTheSameBitsWhateverIsBuffered) {
    std::mt19937 random(23);
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 3000; ++i) {
        const uint32_t pick = random() % 64;
        if (pick == 0) {
            bytes.insert(bytes.end(), {0xFF, 0x00});
        } else if (pick == 1) {
            bytes.insert(bytes.end(), {0xFF, 0xFF, 0x00});  // a fill byte before the stuffed zero
        } else {
            bytes.push_back(static_cast<uint8_t>(random() % 255));
        }
    }
    bytes.insert(bytes.end(), {0xFF, 0xD9, 0x12, 0x34});
    const LogicalData data = LogicalBitsOf(bytes, 0);
    const auto bitsFrom = [&](EntropyStream stream, size_t count) {
        std::vector<uint8_t> taken;
        while (taken.size() < count) {
            if (stream.m_bitCount == 0 &&
                huffman_internal::FillBytes(&stream, huffman_internal::WideReads::kFillTarget, 1) != PrimOk) {
                break;
            }
            taken.push_back(static_cast<uint8_t>(huffman_internal::TakeBits(stream, 1)));
        }
        return taken;
    };
    for (const int32_t fillTarget : {8, 25, 57}) {
        SCOPED_TRACE(fillTarget);
        EntropyStream stream;
        stream.Attach(bytes.data(), static_cast<int32_t>(bytes.size()));
        int64_t taken = 0;
        for (int step = 0;; ++step) {
            ASSERT_EQ(stream.DataBitPosition(), taken);
            const int32_t want = 1 + step % 13;
            if (stream.m_bitCount < want) huffman_internal::FillBytes(&stream, std::max(fillTarget, want), 0);
            if (stream.m_bitCount < want) break;
            huffman_internal::SkipBits(stream, want);
            taken += want;
        }
        EXPECT_TRUE(data.endsAtMarker);
        EXPECT_GE(taken + 13, static_cast<int64_t>(data.bits.size()));
    }
    for (int32_t target = 1; target < static_cast<int32_t>(bytes.size()); target += 7) {
        EntropyStream start;
        start.Attach(bytes.data(), static_cast<int32_t>(bytes.size()));
        if (!start.SkipDataTo(target)) {
            EXPECT_GE(target, static_cast<int32_t>(bytes.size()) - 4) << target;  // only the marker stops it
            continue;
        }
        ASSERT_GE(start.m_position, target);
        const int64_t position = start.DataBitPosition();
        ASSERT_EQ(position % 8, 0);
        ASSERT_LE(position, static_cast<int64_t>(data.bits.size()));
        const std::vector<uint8_t> expected(data.bits.begin() + position,
                                            data.bits.begin() + std::min<size_t>(position + 64, data.bits.size()));
        EXPECT_EQ(bitsFrom(start, expected.size()), expected) << target;
    }
}
