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

    // Data bits taken so far: bytes before `position` (a stuffed 0xFF 0x00
    // counting once, nothing from a marker on) less the bits still held.
    int64_t ConsumedBits() const {
        int64_t dataBytes = 0;
        for (int32_t i = 0; i < position; ++i, ++dataBytes) {
            if (bytes[i] == 0xFF && (i + 1 >= length() || bytes[i + 1] != 0x00)) {
                break;
            }
            i += bytes[i] == 0xFF ? 1 : 0;
        }
        return 8 * dataBytes - state.bitCount;
    }
};

class SequentialDecoding : public ::testing::Test {
protected:
    PrimitiveStatus Decode(Stream& s, int16_t* block, int16_t* predictor, bool chroma = false) {
        return DecodeSequentialBlock(s.bytes.data(), s.length(), &s.position, block, predictor,
                                     &s.marker, chroma ? dcC_.get() : dcY_.get(),
                                     chroma ? acC_.get() : acY_.get(), &s.state);
    }
    void PutSymbol(int symbol, int value = 0) {
        const HuffmanCoder& coder = symbol >= 0x100 ? dcCoder_ : acCoder_;
        const int size = symbol & 0x0F;
        coder.Put(writer_, symbol & 0xFF);
        PutValueBits(writer_, value, size);
    }
    void PutDc(int diff) { PutSymbol(0x100 | MagnitudeCategory(diff), diff); }
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
    for (int k = 0; k < 72; ++k) {
        EXPECT_EQ(ZigZagToNatural[k], k < 64 ? order[k] : 63) << k;
    }
}

TEST(HuffmanTables, AnnexKTablesMatchLibjpegsDefaultsAndTheStandardsCodes) {
    const std::vector<uint8_t> rgb(16 * 16 * 3, 0x80);
    const WalkResult walk = WalkGreyStream(LibjpegCompress(rgb, 16, 16, 3, 75, false), 0, 0);
    const HuffmanSpec* expected[2][2] = {{&kLuminanceDc, &kChrominanceDc}, {&kLuminanceAc, &kChrominanceAc}};
    ASSERT_EQ(walk.tables.size(), 4u);
    for (const DhtTable& table : walk.tables) {
        EXPECT_EQ(table.spec.bits, expected[table.tableClass][table.id]->bits);
        EXPECT_EQ(table.spec.values, expected[table.tableClass][table.id]->values);
    }
    // Codes printed in Tables K.3 to K.6: {table, symbol, code, length}.
    struct Known { const HuffmanSpec* spec; int symbol; uint32_t code; int length; };
    for (const Known& k : {Known{&kLuminanceDc, 0, 0b00, 2}, Known{&kLuminanceDc, 11, 0b111111110, 9},
                           Known{&kChrominanceDc, 11, 0b11111111110, 11}, Known{&kLuminanceAc, 0x00, 0b1010, 4},
                           Known{&kLuminanceAc, 0xF0, 0b11111111001, 11}, Known{&kLuminanceAc, 0x08, 0b1111110110, 10},
                           Known{&kLuminanceAc, 0x09, 0b1111111110000010, 16},
                           Known{&kLuminanceAc, 0xFA, 0b1111111111111110, 16}, Known{&kChrominanceAc, 0x00, 0b00, 2},
                           Known{&kChrominanceAc, 0xF0, 0b1111111010, 10}}) {
        const Code code = HuffmanCoder(*k.spec).CodeOf(k.symbol);
        EXPECT_EQ(code.bits, k.code) << k.symbol;
        EXPECT_EQ(code.length, k.length) << k.symbol;
    }
}

TEST(HuffmanTables, RefusedCountsStillHandBackTheTable) {
    std::vector<uint8_t> values(256);
    for (int i = 0; i < 256; ++i) {
        values[i] = static_cast<uint8_t>(255 - i);
    }
    HuffmanDecodeTable* table = nullptr;
    const uint8_t tooMany[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 255};  // 257 codes
    ASSERT_EQ(BuildHuffmanDecodeTable(tooMany, values.data(), &table), PrimErrBadHuffmanTable);
    ASSERT_NE(table, nullptr);
    const HuffmanDecodeTable zeroed{};
    EXPECT_EQ(std::memcmp(table, &zeroed, sizeof(zeroed)), 0);
    EXPECT_EQ(FreeChecked(table), PrimOk);

    // Three 1-bit codes: 0 and 1 fill the lookup, the third (binary 10) does not fit.
    table = nullptr;
    const uint8_t threeOfLengthOne[16] = {3};
    ASSERT_EQ(BuildHuffmanDecodeTable(threeOfLengthOne, values.data(), &table), PrimErrBadHuffmanTable);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->fastLookup[0], (1u << 16) | 255);
    EXPECT_EQ(table->fastLookup[127], (1u << 16) | 255);
    EXPECT_EQ(table->fastLookup[128], (1u << 16) | 254);
    EXPECT_EQ(table->fastLookup[255], (1u << 16) | 254);
    EXPECT_EQ(table->symbols[2], 253);
    EXPECT_EQ(table->maxCode[0], 2);
    EXPECT_EQ(FreeChecked(table), PrimOk);

    HuffmanDecodeTable sentinel;
    HuffmanDecodeTable* const untouched = &sentinel;
    table = untouched;
    EXPECT_EQ(BuildHuffmanDecodeTable(nullptr, values.data(), &table), PrimErrNullPointer);
    EXPECT_EQ(BuildHuffmanDecodeTable(tooMany, nullptr, &table), PrimErrNullPointer);
    EXPECT_EQ(BuildHuffmanDecodeTable(tooMany, values.data(), nullptr), PrimErrNullPointer);
    EXPECT_EQ(table, untouched);
}

TEST(DecodeSymbol, NoMatchFailsAfterTheSeventeenthBitWithSymbolZero) {
    // A table without codes builds, and then nothing decodes.
    const uint8_t noCounts[16] = {};
    const uint8_t noValues[1] = {};
    HuffmanDecodeTable* empty = nullptr;
    ASSERT_EQ(BuildHuffmanDecodeTable(noCounts, noValues, &empty), PrimOk);
    DecodeTablePtr emptyOwner(empty);
    for (int length = 0; length < 16; ++length) {
        EXPECT_EQ(empty->maxCode[length], 0xFFFF);
    }
    // The 16-bit all-ones code is reserved and never decodes, even with K.5.
    DecodeTablePtr acY = BuildTable(kLuminanceAc);
    // The 9-bit row of counts L1 = 2, L9 = 1 (first code 512, beyond every
    // 9-bit code), without the 1-bit codes that shadow it in a built table:
    // the index into `symbols` for code 0 would be 2 + 0 - 512.
    HuffmanDecodeTable overflowing{};
    for (int length = 0; length < 16; ++length) {
        overflowing.maxCode[length] = 0xFFFF;
    }
    overflowing.minCode[8] = 512;
    overflowing.maxCode[8] = 512;
    overflowing.firstSymbol[8] = 2;

    const std::vector<uint8_t> ones = {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0x12};
    const std::vector<uint8_t> zeros = {0, 0, 0, 0, 0};
    struct Case { const HuffmanDecodeTable* table; const std::vector<uint8_t>& bytes; int32_t bitsLeft; };
    // The search reads bit 17 before it gives up (DECODE's loop checks the
    // length after taking each bit).
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
        uint32_t bufferAfter;
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
    const int32_t cases[][3] = {{1, 0, -1}, {1, 1, 1}, {3, 0b000, -7}, {3, 0b011, -4}, {3, 0b100, 4},
                                {3, 0b111, 7}, {15, 0, -32767}, {15, 0x3FFF, -16384}, {15, 0x4000, 16384},
                                {15, 0x7FFF, 32767}};
    BitWriter writer;
    for (const auto& c : cases) {
        writer.PutBits(static_cast<uint32_t>(c[1]), c[0]);
    }
    writer.Flush();
    Stream s(writer.bytes());
    int32_t value = 99;
    EXPECT_EQ(ReceiveExtend(s.bytes.data(), s.length(), &s.position, &s.marker, 0, &value, &s.state), PrimOk);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(s.position, 0);  // size 0 takes no bits
    for (const auto& c : cases) {
        ASSERT_EQ(ReceiveExtend(s.bytes.data(), s.length(), &s.position, &s.marker, c[0], &value, &s.state), PrimOk);
        EXPECT_EQ(value, c[2]) << c[0] << " " << c[1];
    }
    EXPECT_EQ(ReceiveExtend(s.bytes.data(), s.length(), &s.position, &s.marker, 16, &value, &s.state),
              PrimErrOutOfRange);

    // Holding 3 bits, a 5-bit read tops up to 27 with three bytes, or four
    // bytes when one of them is a stuffed 0xFF.
    for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>{0x80, 1, 2, 3, 4}, {0x80, 0xFF, 0x00, 2, 3}}) {
        Stream t(bytes);
        t.state.bitCount = 3;
        ASSERT_EQ(ReceiveExtend(t.bytes.data(), t.length(), &t.position, &t.marker, 5, &value, &t.state), PrimOk);
        EXPECT_EQ(value, 0b00010 + 1 - 32);  // 3 zero bits held, then 10 from 0x80
        EXPECT_EQ(t.state.bitCount, 27 - 5);
        EXPECT_EQ(t.position, bytes[1] == 0xFF ? 4 : 3);
    }

    // Two 15-bit reads leave 2 of 32 bits; the third read meets the marker
    // and fails at once without touching the 2 bits.
    Stream m({1, 2, 3, 4, 0xFF, 0xD0, 5});
    for (PrimitiveStatus expected : {PrimOk, PrimOk, PrimErrBadHuffmanCode}) {
        EXPECT_EQ(ReceiveExtend(m.bytes.data(), m.length(), &m.position, &m.marker, 15, &value, &m.state), expected);
    }
    EXPECT_EQ(m.state.bitCount, 2);
    EXPECT_EQ(m.marker, 0xD0);
    EXPECT_EQ(m.position, 6);
}

TEST_F(SequentialDecoding, LongCodesRunsAndZrlDecodeAsEncoded) {
    int16_t input[64] = {};
    input[0] = -2047;                // DC category 11: a 9-bit code
    input[zigzag_[1]] = -1023;       // 0/A: 16 bits
    input[zigzag_[20]] = 5;          // run 18: ZRL, then 2/3
    input[zigzag_[40]] = 300;        // run 19: ZRL, then 3/9 (16 bits)
    int predictor = 0;
    EncodeSequentialBlock(writer_, input, predictor, dcCoder_, acCoder_);
    const int64_t blockBits = writer_.bitsWritten();
    // A ZRL directly before EOB is legal and ends nothing by itself.
    PutDc(0);
    PutSymbol(0x01, 1);
    PutSymbol(0xF0);
    PutSymbol(0x00);
    writer_.PutRawBytes({0xFF, 0xD9});
    Stream s(writer_.bytes());

    int16_t block[64];
    int16_t dcPredictor = 0;
    ASSERT_EQ(Decode(s, block, &dcPredictor), PrimOk);
    EXPECT_EQ(std::vector<int16_t>(block, block + 64), std::vector<int16_t>(input, input + 64));
    EXPECT_EQ(dcPredictor, -2047);
    EXPECT_EQ(s.ConsumedBits(), blockBits);
    ASSERT_EQ(Decode(s, block, &dcPredictor), PrimOk);
    EXPECT_EQ(block[0], -2047);
    EXPECT_EQ(block[1], 1);
    EXPECT_EQ(std::count(block, block + 64, 0), 62);
}

TEST_F(SequentialDecoding, RunsPastTheLastCoefficient) {
    // Block 1: 1 at zig-zag 55, then run 15 carries the index to 71, the
    // last padded entry: position 63; the block ends.
    PutDc(0);
    for (int i = 0; i < 3; ++i) PutSymbol(0xF0);
    PutSymbol(0x61, 1);
    PutSymbol(0xF1, -1);
    // Block 2: 1 at zig-zag 50, then a ZRL to index 67 ends the block.
    PutDc(0);
    for (int i = 0; i < 3; ++i) PutSymbol(0xF0);
    PutSymbol(0x11, 1);
    PutSymbol(0xF0);
    // Block 3: 1 at zig-zag 56, then run 15 reaches index 72: no such entry.
    PutDc(0);
    for (int i = 0; i < 3; ++i) PutSymbol(0xF0);
    PutSymbol(0x71, 1);
    PutSymbol(0xF1, 1);
    const int64_t bitsThroughBlock3 = writer_.bitsWritten();
    writer_.PutRawBytes({0xFF, 0xD9});
    Stream s(writer_.bytes());

    int16_t block[64];
    int16_t predictor = 0;
    ASSERT_EQ(Decode(s, block, &predictor), PrimOk);
    EXPECT_EQ(block[zigzag_[55]], 1);
    EXPECT_EQ(block[63], -1);
    EXPECT_EQ(std::count(block, block + 64, 0), 62);
    ASSERT_EQ(Decode(s, block, &predictor), PrimOk);
    EXPECT_EQ(block[zigzag_[50]], 1);
    EXPECT_EQ(std::count(block, block + 64, 0), 63);
    EXPECT_EQ(Decode(s, block, &predictor), PrimErrBadCode);
    EXPECT_EQ(block[zigzag_[56]], 1);  // kept from before the failure
    EXPECT_EQ(s.ConsumedBits(), bitsThroughBlock3);
}

TEST_F(SequentialDecoding, DcPredictionCopiesAndWraps) {
    PutDc(0);
    PutSymbol(0x00);  // EOB first: coefficients 1..63 zero
    PutDc(1);
    PutSymbol(0x00);
    PutDc(-2047);
    PutSymbol(0x00);
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
    PutSymbol(0x00);
    writer_.PutRawBytes({0xFF, 0xFF, 0xD0, 0x12, 0x34});
    Stream s(writer_.bytes());
    ASSERT_EQ(std::vector<uint8_t>(s.bytes.begin(), s.bytes.begin() + 4),
              (std::vector<uint8_t>{0xFE, 0xFF, 0x00, 0xEB}));
    int16_t block[64];
    int16_t predictor = 0;
    ASSERT_EQ(Decode(s, block, &predictor), PrimOk);
    EXPECT_EQ(block[0], 1023);
    EXPECT_EQ(s.marker, 0xD0);
    EXPECT_EQ(s.position, 7);  // just after 0xD0
    // Only the 2 padding bits are left; the code search takes them and then
    // needs a bit that the marker withholds.
    EXPECT_EQ(Decode(s, block, &predictor), PrimErrBadHuffmanCode);
    EXPECT_EQ(s.position, 7);
    EXPECT_EQ(s.state.bitCount, 0);
}

TEST_F(SequentialDecoding, EndOfDataAndBadArguments) {
    int16_t block[64];
    int16_t predictor = 0;
    // 0x2B = 00 1010 11: DC 0, EOB, padding. A lone 0xFF after it fails the
    // first refill although the block needs only those 6 bits.
    Stream lone({0x2B, 0xFF});
    EXPECT_EQ(Decode(lone, block, &predictor), PrimErrSourceExhausted);
    EXPECT_EQ(lone.position, 2);
    Stream complete({0x2B, 0xFF, 0xD9});
    EXPECT_EQ(Decode(complete, block, &predictor), PrimOk);

    // Data cut short without a marker.
    int16_t input[64] = {};
    for (int k = 0; k < 64; k += 2) input[zigzag_[k]] = static_cast<int16_t>(k * 7 - 200);
    int dc = 0;
    EncodeSequentialBlock(writer_, input, dc, dcCoder_, acCoder_);
    std::vector<uint8_t> cut = Finish().bytes;
    cut.resize(cut.size() / 2);
    Stream s(cut);
    EXPECT_EQ(Decode(s, block, &predictor), PrimErrSourceExhausted);
    EXPECT_EQ(s.position, s.length());

    Stream empty({0x00});
    EXPECT_EQ(DecodeSequentialBlock(empty.bytes.data(), 0, &empty.position, block, &predictor, &empty.marker,
                                    dcY_.get(), acY_.get(), &empty.state),
              PrimErrSourceExhausted);
    std::fill(block, block + 64, int16_t{9});
    predictor = 5;
    EXPECT_EQ(DecodeSequentialBlock(empty.bytes.data(), -1, &empty.position, block, &predictor, &empty.marker,
                                    dcY_.get(), acY_.get(), &empty.state),
              PrimErrOutOfRange);
    EXPECT_EQ(DecodeSequentialBlock(nullptr, -1, &empty.position, block, &predictor, &empty.marker, dcY_.get(),
                                    acY_.get(), &empty.state),
              PrimErrNullPointer);
    EXPECT_EQ(DecodeSequentialBlock(empty.bytes.data(), -1, &empty.position, nullptr, &predictor, &empty.marker,
                                    dcY_.get(), acY_.get(), &empty.state),
              PrimErrOutOfRange);
    EXPECT_EQ(DecodeSequentialBlock(empty.bytes.data(), 1, &empty.position, block, &predictor, &empty.marker,
                                    dcY_.get(), nullptr, &empty.state),
              PrimErrNullPointer);
    EXPECT_EQ(std::count(block, block + 64, 9), 64);
    EXPECT_EQ(predictor, 5);
}

TEST_F(SequentialDecoding, ACodeCutShortByAMarkerFailsAtOnce) {
    // 24 bits of block (DC 5, three times 0/3 with 5), then the first 8 of
    // the 10-bit code of 0/8; the first refill takes exactly these 4 bytes.
    // The search for the 9th bit meets the marker in its own refill.
    PutDc(5);
    for (int i = 0; i < 3; ++i) PutSymbol(0x03, 5);
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
            ASSERT_EQ(std::vector<int16_t>(block, block + 64), std::vector<int16_t>(blocks[b].begin(), blocks[b].end()))
                << "trial " << trial << " block " << b;
            // Refills at exactly the documented points.
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
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels[y * width + x] = static_cast<uint8_t>(x < width / 2 ? 40 + x + y : rng() % 256);
        }
    }
    const std::vector<uint8_t> jpeg = LibjpegCompress(pixels, width, height, 1, 95, false);
    int wide = 0, high = 0;
    const std::vector<int16_t> expected = LibjpegCoefficients(jpeg, &wide, &high);
    const WalkResult walk = WalkGreyStream(jpeg, wide, high);
    EXPECT_EQ(walk.firstFailure, PrimOk);
    EXPECT_EQ(walk.coefficients, expected);
}

}  // namespace
