#include "primitives/huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "support/bit_writer.h"
#include "support/huffman_encoder.h"
#include "support/libjpeg_reference.h"
#include "support/refill_model.h"
#include "support/scan_walker.h"

namespace {

using namespace testing_support;

// The caller-held variables of one entropy-coded stream.
struct Stream {
    std::vector<uint8_t> bytes;
    int32_t position = 0;
    int32_t marker = 0;
    HuffmanState state{};

    explicit Stream(std::vector<uint8_t> data) : bytes(std::move(data)) {}
    int32_t length() const { return static_cast<int32_t>(bytes.size()); }
};

class SequentialDecoding : public ::testing::Test {
protected:
    PrimitiveStatus Decode(Stream& s, int16_t* block, int16_t* predictor, bool chroma = false) {
        return DecodeSequentialBlock(s.bytes.data(), s.length(), &s.position, block, predictor, &s.marker,
                                     chroma ? dcC_.get() : dcY_.get(), chroma ? acC_.get() : acY_.get(), &s.state);
    }
    void PutAc(int symbol, int value = 0) {
        acCoder_.Put(writer_, symbol);
        PutValueBits(writer_, value, symbol & 0x0F);
    }
    void PutDc(int diff) {
        dcCoder_.Put(writer_, MagnitudeCategory(diff));
        PutValueBits(writer_, diff, MagnitudeCategory(diff));
    }
    Stream Finish() {
        writer_.Flush();
        return Stream(writer_.bytes());
    }

    DecodeTablePtr dcY_ = BuildTable(kLuminanceDc), acY_ = BuildTable(kLuminanceAc);
    DecodeTablePtr dcC_ = BuildTable(kChrominanceDc), acC_ = BuildTable(kChrominanceAc);
    HuffmanCoder dcCoder_{kLuminanceDc}, acCoder_{kLuminanceAc};
    BitWriter writer_;
    const std::array<int, 64> zigzag_ = ZigZagOrder();
};

TEST(ZigZagToNatural, FollowsTheDiagonalWalkAndPadsWithTheLastPosition) {
    const std::array<int, 64> order = ZigZagOrder();
    for (int k = 0; k < 72; ++k) EXPECT_EQ(ZigZagToNatural[k], k < 64 ? order[k] : 63) << k;
}

TEST(HuffmanTables, AnnexKTablesMatchLibjpegsDefaultsAndTheStandardsCodes) {
    const WalkResult walk = WalkGreyStream(LibjpegCompress(std::vector<uint8_t>(16 * 16 * 3, 0x80), 16, 16, 3, 75, false), 0, 0);
    const HuffmanTable* expected[2][2] = {{&kLuminanceDc, &kChrominanceDc}, {&kLuminanceAc, &kChrominanceAc}};
    ASSERT_EQ(walk.tables.size(), 4u);
    for (const DefinedTable& table : walk.tables) {
        EXPECT_EQ(table.definition.bits, expected[table.tableClass][table.id]->bits);
        EXPECT_EQ(table.definition.values, expected[table.tableClass][table.id]->values);
    }
    // Codes printed in Tables K.3 to K.6: {table, symbol, code, length}.
    struct Known { const HuffmanTable* table; int symbol; uint32_t code; int length; };
    for (const Known& k : {Known{&kLuminanceDc, 0, 0b00, 2}, Known{&kLuminanceDc, 11, 0b111111110, 9},
                           Known{&kChrominanceDc, 11, 0b11111111110, 11}, Known{&kLuminanceAc, 0x00, 0b1010, 4},
                           Known{&kLuminanceAc, 0xF0, 0b11111111001, 11}, Known{&kLuminanceAc, 0x08, 0b1111110110, 10},
                           Known{&kLuminanceAc, 0x09, 0b1111111110000010, 16},
                           Known{&kLuminanceAc, 0xFA, 0b1111111111111110, 16}, Known{&kChrominanceAc, 0x00, 0b00, 2},
                           Known{&kChrominanceAc, 0xF0, 0b1111111010, 10}}) {
        const Code code = HuffmanCoder(*k.table).CodeOf(k.symbol);
        EXPECT_EQ(code.bits, k.code) << k.symbol;
        EXPECT_EQ(code.length, k.length) << k.symbol;
    }
}

TEST(HuffmanTables, RefusedCountsStillHandBackTheTable) {
    std::vector<uint8_t> values(256);
    for (int i = 0; i < 256; ++i) values[i] = static_cast<uint8_t>(255 - i);
    HuffmanDecodeTable* table = nullptr;
    const uint8_t tooMany[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 255};  // 257 codes
    ASSERT_EQ(BuildHuffmanDecodeTable(tooMany, values.data(), &table), PrimErrBadHuffmanTable);
    ASSERT_NE(table, nullptr);
    const HuffmanDecodeTable zeroed{};
    EXPECT_EQ(std::memcmp(table, &zeroed, sizeof(zeroed)), 0);
    EXPECT_EQ(FreeChecked(table), PrimOk);

    // Three 1-bit codes: 0 and 1 fill the lookup, the third (binary 10) does not fit.
    const uint8_t threeOfLengthOne[16] = {3};
    ASSERT_EQ(BuildHuffmanDecodeTable(threeOfLengthOne, values.data(), &table), PrimErrBadHuffmanTable);
    EXPECT_EQ(table->fastLookup[0], (1u << 16) | 255);
    EXPECT_EQ(table->fastLookup[127], (1u << 16) | 255);
    EXPECT_EQ(table->fastLookup[128], (1u << 16) | 254);
    EXPECT_EQ(table->fastLookup[255], (1u << 16) | 254);
    EXPECT_EQ(table->symbols[2], 253);
    EXPECT_EQ(table->maxCode[0], 2);
    EXPECT_EQ(FreeChecked(table), PrimOk);

    HuffmanDecodeTable sentinel;
    table = &sentinel;
    EXPECT_EQ(BuildHuffmanDecodeTable(nullptr, values.data(), &table), PrimErrNullPointer);
    EXPECT_EQ(BuildHuffmanDecodeTable(tooMany, nullptr, &table), PrimErrNullPointer);
    EXPECT_EQ(BuildHuffmanDecodeTable(tooMany, values.data(), nullptr), PrimErrNullPointer);
    EXPECT_EQ(table, &sentinel);
}

TEST(DecodeSymbol, NoMatchFailsWithSymbolZero) {
    // A table without codes builds, and then nothing decodes.
    const uint8_t noCounts[16] = {};
    HuffmanDecodeTable* empty = nullptr;
    ASSERT_EQ(BuildHuffmanDecodeTable(noCounts, noCounts, &empty), PrimOk);
    const DecodeTablePtr emptyOwner(empty);
    EXPECT_EQ(std::count(empty->maxCode, empty->maxCode + 16, 0xFFFF), 16);
    // The 16-bit all-ones code is reserved and never decodes, even with K.5.
    const DecodeTablePtr acY = BuildTable(kLuminanceAc);
    // The 9-bit row of counts L1 = 2, L9 = 1 (first code 512, beyond every
    // 9-bit code), without the 1-bit codes that shadow it in a built table:
    // the index into `symbols` for code 0 would be 2 + 0 - 512.
    HuffmanDecodeTable overflowing{};
    std::fill(overflowing.maxCode, overflowing.maxCode + 16, 0xFFFF);
    overflowing.minCode[8] = 512;
    overflowing.maxCode[8] = 512;
    overflowing.firstSymbol[8] = 2;

    const std::vector<uint8_t> ones = {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x12}, zeros = {0, 0, 0, 0, 0};
    // The search reads bit 17 before it gives up: DECODE's loop tests the
    // length after taking each bit. The bad index is seen at 9 bits.
    struct Case { const HuffmanDecodeTable* table; const std::vector<uint8_t>& bytes; int32_t bitsLeft; };
    for (const Case& c : {Case{empty, ones, 32 - 17}, Case{acY.get(), ones, 32 - 17}, Case{&overflowing, zeros, 32 - 9}}) {
        Stream s(c.bytes);
        int32_t symbol = 99;
        EXPECT_EQ(DecodeSymbol(s.bytes.data(), s.length(), &s.position, &s.marker, &symbol, c.table, &s.state),
                  PrimErrBadHuffmanCode);
        EXPECT_EQ(symbol, 0);
        EXPECT_EQ(s.state.bitCount, c.bitsLeft);
    }
}

TEST(FillBits, FollowsTheByteRules) {
    struct Case {
        std::vector<uint8_t> bytes;
        int32_t bitCount, marker, need;
        PrimitiveStatus status;
        int32_t position, markerAfter, bitCountAfter;
        uint32_t bufferAfter;  // 0: not checked
    };
    const Case cases[] = {
        {{1, 2, 3, 4, 5}, 0, 0, 0, PrimOk, 4, 0, 32, 0x01020304},         // four bytes reach 25+
        {{1, 2, 3, 4, 5}, 17, 0, 0, PrimOk, 1, 0, 25, 0x01FFFF01},        // 17 + 8 is enough
        {{1, 2, 3, 4, 5}, 16, 0, 0, PrimOk, 2, 0, 32, 0xFFFF0102},
        {{0x12, 0xFF, 0x00, 0x34, 0x56, 0x78}, 0, 0, 0, PrimOk, 5, 0, 32, 0x12FF3456},  // stuffing
        {{0xAB, 0xFF, 0xFF, 0xD0, 0x11}, 0, 0, 16, PrimOk, 4, 0xD0, 8, 0xAB},        // fill, marker
        {{0xAB, 0xCD}, 8, 0xD0, 9, PrimErrBadHuffmanCode, 0, 0xD0, 8, 0},         // after a marker
        {{0xAB, 0xCD}, 8, 0xD0, 8, PrimOk, 0, 0xD0, 8, 0},
        {{0x01}, 0, 0, 9, PrimErrSourceExhausted, 1, 0, 8, 0x01},                // end of data
        {{0x01}, 0, 0, 8, PrimOk, 1, 0, 8, 0x01},
        {{0x01, 0xFF}, 0, 0, 0, PrimErrSourceExhausted, 2, 0, 8, 0x01},           // lone 0xFF
        {{0x01, 0xFF, 0xFF}, 0, 0, 0, PrimErrSourceExhausted, 3, 0, 8, 0x01},
        {{0x01}, 0, 0, 1, PrimErrSourceExhausted, 0, 0, 0, 0},                    // srcLength 0 below
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Stream s(c.bytes);
        s.state.bitCount = c.bitCount;
        s.state.bitBuffer = c.bitCount == 0 ? 0 : (1u << c.bitCount) - 1u;
        s.marker = c.marker;
        const int32_t length = i + 1 == std::size(cases) ? 0 : s.length();
        EXPECT_EQ(FillBits(s.bytes.data(), length, &s.position, &s.marker, c.need, &s.state), c.status) << i;
        EXPECT_EQ(s.position, c.position) << i;
        EXPECT_EQ(s.marker, c.markerAfter) << i;
        EXPECT_EQ(s.state.bitCount, c.bitCountAfter) << i;
        if (c.bufferAfter != 0) {
            EXPECT_EQ(s.state.bitBuffer & (0xFFFFFFFFu >> (32 - c.bitCountAfter)), c.bufferAfter) << i;
        }
    }
    Stream s({1});
    EXPECT_EQ(FillBits(s.bytes.data(), -1, &s.position, &s.marker, 0, &s.state), PrimErrOutOfRange);
    EXPECT_EQ(FillBits(s.bytes.data(), 1, &s.position, &s.marker, 17, &s.state), PrimErrOutOfRange);
    EXPECT_EQ(FillBits(nullptr, -1, &s.position, &s.marker, 0, &s.state), PrimErrNullPointer);
    EXPECT_EQ(FillBits(s.bytes.data(), 1, &s.position, &s.marker, 0, nullptr), PrimErrNullPointer);
    EXPECT_EQ(s.position, 0);
}

TEST(ReceiveExtend, ReturnsTheSignedValuesOfTableF1AndFailsShortBeforeAMarker) {
    // {size, bits, value}: a clear top bit means v + 1 - 2^s.
    const int32_t cases[][3] = {{0, 0, 0}, {1, 0, -1}, {1, 1, 1}, {3, 0b000, -7}, {3, 0b011, -4}, {3, 0b100, 4},
                                {3, 0b111, 7}, {15, 0, -32767}, {15, 0x3FFF, -16384}, {15, 0x4000, 16384},
                                {15, 0x7FFF, 32767}};
    BitWriter writer;
    for (const auto& c : cases) writer.PutBits(static_cast<uint32_t>(c[1]), c[0]);
    writer.Flush();
    Stream s(writer.bytes());
    int32_t value = 99;
    for (const auto& c : cases) {
        ASSERT_EQ(ReceiveExtend(s.bytes.data(), s.length(), &s.position, &s.marker, c[0], &value, &s.state), PrimOk);
        EXPECT_EQ(value, c[2]) << c[0] << " " << c[1];
    }
    EXPECT_EQ(ReceiveExtend(s.bytes.data(), s.length(), &s.position, &s.marker, 16, &value, &s.state), PrimErrOutOfRange);

    // Holding 3 bits, a 5-bit read tops up to 27 with three bytes, or with
    // four when one is a stuffed 0xFF.
    for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>{0x80, 1, 2, 3, 4}, {0x80, 0xFF, 0x00, 2, 3}}) {
        Stream t(bytes);
        t.state.bitCount = 3;
        ASSERT_EQ(ReceiveExtend(t.bytes.data(), t.length(), &t.position, &t.marker, 5, &value, &t.state), PrimOk);
        EXPECT_EQ(value, 0b00010 + 1 - 32);  // 3 zero bits held, then 10 from 0x80
        EXPECT_EQ(t.state.bitCount, 27 - 5);
        EXPECT_EQ(t.position, bytes[1] == 0xFF ? 4 : 3);
    }

    // Two 15-bit reads leave 2 of 32 bits; the third read meets the marker
    // in its own refill and fails at once, leaving the 2 bits.
    Stream m({1, 2, 3, 4, 0xFF, 0xD0, 5});
    for (PrimitiveStatus expected : {PrimOk, PrimOk, PrimErrBadHuffmanCode}) {
        EXPECT_EQ(ReceiveExtend(m.bytes.data(), m.length(), &m.position, &m.marker, 15, &value, &m.state), expected);
    }
    EXPECT_EQ(m.state.bitCount, 2);
    EXPECT_EQ(m.marker, 0xD0);
    EXPECT_EQ(m.position, 6);
}

TEST_F(SequentialDecoding, RunsZrlAndEob) {
    // Block 1: 1 at zig-zag 55, then run 15 carries the index to 71, the
    // last padded entry: position 63; the block ends without EOB.
    PutDc(0);
    for (int i = 0; i < 3; ++i) PutAc(0xF0);
    PutAc(0x61, 1);
    PutAc(0xF1, -1);
    // Block 2: 1 at zig-zag 50, then a ZRL to index 67 ends the block.
    PutDc(0);
    for (int i = 0; i < 3; ++i) PutAc(0xF0);
    PutAc(0x11, 1);
    PutAc(0xF0);
    // Block 3: a ZRL right before EOB is legal.
    PutDc(0);
    PutAc(0x01, 1);
    PutAc(0xF0);
    PutAc(0x00);
    // Block 4: 1 at zig-zag 56, then run 15 reaches index 72: no such entry.
    PutDc(0);
    for (int i = 0; i < 3; ++i) PutAc(0xF0);
    PutAc(0x71, 1);
    PutAc(0xF1, 1);
    const std::vector<int> reads = writer_.reads();
    writer_.PutRawBytes({0xFF, 0xD9});
    Stream s(writer_.bytes());

    int16_t block[64];
    int16_t predictor = 0;
    // {status, zig-zag index or 64 for natural 63, value}
    const int expected[4][3] = {{PrimOk, 64, -1}, {PrimOk, 50, 1}, {PrimOk, 1, 1}, {PrimErrBadCode, 56, 1}};
    for (const auto& e : expected) {
        ASSERT_EQ(Decode(s, block, &predictor), e[0]);
        EXPECT_EQ(block[e[1] == 64 ? 63 : zigzag_[e[1]]], e[2]);
        EXPECT_EQ(std::count(block, block + 64, 0), e[1] == 64 ? 62 : 63);
    }
    RefillModel model(s.bytes);  // the failing value's bit was taken too
    model.Replay(reads, 0, reads.size());
    EXPECT_EQ(s.state.bitCount, model.state.bitCount);
    EXPECT_EQ(s.position, model.position);
}

TEST_F(SequentialDecoding, DcPredictionCopiesAndWraps) {
    for (int diff : {0, 1, -2047}) {
        PutDc(diff);
        PutAc(0x00);  // EOB first: coefficients 1..63 zero
    }
    Stream s = Finish();
    int16_t block[64];
    std::fill(block, block + 64, int16_t{0x5555});
    // {predictor before, predictor after}
    for (const auto& c : {std::pair<int16_t, int16_t>{77, 77}, {32767, -32768}, {-32768, 30721}}) {
        int16_t predictor = c.first;
        ASSERT_EQ(Decode(s, block, &predictor), PrimOk);
        EXPECT_EQ(predictor, c.second);
        EXPECT_EQ(block[0], c.second);
        EXPECT_EQ(std::count(block + 1, block + 64, 0), 63);
    }
}

TEST_F(SequentialDecoding, StuffingFillBytesAndMarkers) {
    // DC category 10 (11111110) with 1023 (ten 1 bits) makes the data byte 0xFF.
    PutDc(1023);
    PutAc(0x00);
    writer_.PutRawBytes({0xFF, 0xFF, 0xD0, 0x12, 0x34, 0x56, 0x78, 0x9A});  // the marker closes the refill
    Stream s(writer_.bytes());
    ASSERT_EQ(std::vector<uint8_t>(s.bytes.begin(), s.bytes.begin() + 4), (std::vector<uint8_t>{0xFE, 0xFF, 0x00, 0xEB}));
    int16_t block[64];
    int16_t predictor = 0;
    ASSERT_EQ(Decode(s, block, &predictor), PrimOk);
    EXPECT_EQ(block[0], 1023);
    EXPECT_EQ(s.marker, 0xD0);
    EXPECT_EQ(s.position, 7);  // just after 0xD0
    // The code search takes the 2 padding bits, then needs a bit the marker withholds.
    EXPECT_EQ(Decode(s, block, &predictor), PrimErrBadHuffmanCode);
    EXPECT_EQ(s.position, 7);
    EXPECT_EQ(s.state.bitCount, 0);
}

TEST_F(SequentialDecoding, ACodeCutShortByAMarkerFailsAtOnce) {
    // 24 bits of block (DC 5, three times 0/3 with 5), then the first 8 of
    // the 10-bit code of 0/8; the first refill takes exactly these 4 bytes.
    // The search for the 9th bit meets the marker in its own refill.
    PutDc(5);
    for (int i = 0; i < 3; ++i) PutAc(0x03, 5);
    writer_.PutBits(0b11111101, 8);
    writer_.PutRawBytes({0xFF, 0xD0});
    Stream s(writer_.bytes());
    ASSERT_EQ(s.length(), 6);
    int16_t block[64];
    int16_t predictor = 0;
    EXPECT_EQ(Decode(s, block, &predictor), PrimErrBadHuffmanCode);
    EXPECT_EQ(s.state.bitCount, 8);
    EXPECT_EQ(s.marker, 0xD0);
    EXPECT_EQ(s.position, 6);
    EXPECT_EQ(block[zigzag_[3]], 5);
}

TEST_F(SequentialDecoding, EndOfDataAndBadArguments) {
    int16_t block[64];
    int16_t predictor = 0;
    // 0x2B = 00 1010 11: DC 0, EOB, padding. A lone 0xFF after it fails the
    // first refill although the block needs only those 6 bits.
    Stream lone({0x2B, 0xFF}), complete({0x2B, 0xFF, 0xD9});
    EXPECT_EQ(Decode(lone, block, &predictor), PrimErrSourceExhausted);
    EXPECT_EQ(lone.position, 2);
    EXPECT_EQ(Decode(complete, block, &predictor), PrimOk);

    // Data cut short without a marker.
    int16_t input[64] = {};
    for (int k = 0; k < 64; k += 2) input[zigzag_[k]] = static_cast<int16_t>(k * 7 - 200);
    int dc = 0;
    EncodeSequentialBlock(writer_, input, dc, dcCoder_, acCoder_);
    Stream cut = Finish();
    cut.bytes.resize(cut.bytes.size() / 2);
    EXPECT_EQ(Decode(cut, block, &predictor), PrimErrSourceExhausted);
    EXPECT_EQ(cut.position, cut.length());

    Stream s({0x00});
    const auto decode = [&](const uint8_t* src, int32_t length, int16_t* out, const HuffmanDecodeTable* ac) {
        return DecodeSequentialBlock(src, length, &s.position, out, &predictor, &s.marker, dcY_.get(), ac, &s.state);
    };
    EXPECT_EQ(decode(s.bytes.data(), 0, block, acY_.get()), PrimErrSourceExhausted);
    std::fill(block, block + 64, int16_t{9});
    predictor = 5;
    EXPECT_EQ(decode(s.bytes.data(), -1, block, acY_.get()), PrimErrOutOfRange);
    EXPECT_EQ(decode(nullptr, -1, block, acY_.get()), PrimErrNullPointer);
    EXPECT_EQ(decode(s.bytes.data(), -1, nullptr, acY_.get()), PrimErrOutOfRange);
    EXPECT_EQ(decode(s.bytes.data(), 1, block, nullptr), PrimErrNullPointer);
    EXPECT_EQ(std::count(block, block + 64, 9), 64);
    EXPECT_EQ(predictor, 5);
}

TEST_F(SequentialDecoding, RandomBlocksRoundTrip) {
    std::mt19937 rng(20240611);
    const HuffmanCoder dcC(kChrominanceDc), acC(kChrominanceAc);
    for (int trial = 0; trial < 20; ++trial) {
        // MCUs of two luminance and two chrominance blocks, like 4:2:2 YCbCr.
        std::vector<std::array<int16_t, 64>> blocks(240);
        std::vector<size_t> readsAfter;
        BitWriter writer;
        int predictors[3] = {};
        for (size_t b = 0; b < blocks.size(); ++b) {
            std::array<int16_t, 64>& block = blocks[b];
            block.fill(0);
            const int component = b % 4 < 2 ? 0 : static_cast<int>(b % 4) - 1;
            block[0] = static_cast<int16_t>(rng() % 4 == 0 ? predictors[component] : int(rng() % 2047) - 1023);
            const int density = static_cast<int>(rng() % 64);
            for (int k = 1; k < 64; ++k) {
                if (static_cast<int>(rng() % 64) < density) {
                    const int size = 1 + static_cast<int>(rng() % 10);
                    const int magnitude = (1 << (size - 1)) + static_cast<int>(rng() % (1u << (size - 1)));
                    block[zigzag_[k]] = static_cast<int16_t>(rng() % 2 ? magnitude : -magnitude);
                }
            }
            EncodeSequentialBlock(writer, block.data(), predictors[component], component ? dcC : dcCoder_,
                                  component ? acC : acCoder_);
            readsAfter.push_back(writer.reads().size());
        }
        writer.PutRawBytes({0xFF, 0xD9});
        Stream s(writer.bytes());
        RefillModel model(s.bytes);
        int16_t decodedPredictors[3] = {};
        for (size_t b = 0; b < blocks.size(); ++b) {
            const int component = b % 4 < 2 ? 0 : static_cast<int>(b % 4) - 1;
            int16_t block[64];
            ASSERT_EQ(Decode(s, block, &decodedPredictors[component], component != 0), PrimOk) << b;
            ASSERT_TRUE(std::equal(block, block + 64, blocks[b].begin())) << "trial " << trial << " block " << b;
            // Refills where the FillBits and DECODE rules put them, no more, no less.
            model.Replay(writer.reads(), b == 0 ? 0 : readsAfter[b - 1], readsAfter[b]);
            ASSERT_EQ(s.position, model.position) << b;
            ASSERT_EQ(s.marker, model.marker) << b;
            ASSERT_EQ(s.state.bitCount, model.state.bitCount) << b;
            ASSERT_EQ(s.state.bitBuffer, model.state.bitBuffer) << b;
        }
    }
}

TEST(SequentialScan, MatchesLibjpegCoefficients) {
    // Left half a gentle gradient (long zero runs), right half noise (big
    // coefficients, long codes).
    const int width = 64, height = 48;
    std::vector<uint8_t> pixels(width * height);
    std::mt19937 rng(7);
    for (int i = 0; i < width * height; ++i) {
        pixels[i] = static_cast<uint8_t>(i % width < width / 2 ? 40 + i % width + i / width : rng() % 256);
    }
    const std::vector<uint8_t> jpeg = LibjpegCompress(pixels, width, height, 1, 95, false);
    int wide = 0, high = 0;
    const std::vector<int16_t> expected = LibjpegCoefficients(jpeg, &wide, &high);
    const WalkResult walk = WalkGreyStream(jpeg, wide, high);
    EXPECT_EQ(walk.firstFailure, PrimOk);
    EXPECT_EQ(walk.coefficients, expected);
}

}  // namespace
