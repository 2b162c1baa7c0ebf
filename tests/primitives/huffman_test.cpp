#include "primitives/huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "primitives/zigzag.h"
#include "support/huffman_encoder.h"

namespace {

using namespace wemb_test;

// The refill rules of DECODE and RECEIVE replayed over the public byte-wise
// FillBits for the reads a BitWriter noted: where position, marker and the
// bit buffer must stand, independently of the block decoders' inline reader.
struct RefillModel {
    Stream s;

    void Replay(const std::vector<int>& reads, size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            if (reads[i] < 0) {
                Take(-reads[i]);
                continue;
            }
            // DECODE: refill below 8 bits; a code of up to 8 bits comes from
            // the lookup, a longer one takes 9 bits (1 when fewer than 8 are
            // held) and then one bit at a time.
            Fill(8, 0);
            if (s.state.bitCount >= 8 && reads[i] <= 8) {
                s.state.bitCount -= reads[i];
                continue;
            }
            int taken = s.state.bitCount >= 8 ? 9 : 1;
            Take(taken);
            for (; taken < reads[i]; ++taken) Take(1);
        }
    }
    // FillBits(need) when fewer than `below` bits are held.
    void Fill(int below, int need) {
        if (s.state.bitCount < below) FillBits(s.bytes.data(), s.length(), &s.position, &s.marker, need, &s.state);
    }
    void Take(int n) {
        Fill(n, n);
        s.state.bitCount -= n;
    }
};

class SequentialDecoding : public ::testing::Test {
protected:
    PrimitiveStatus Decode(Stream& s, int16_t* block, int16_t* predictor, bool chroma = false) {
        return DecodeSequentialBlock(s.bytes.data(), s.length(), &s.position, block, predictor, &s.marker,
                                     chroma ? dcC_.get() : dcY_.get(), chroma ? acC_.get() : acY_.get(), &s.state);
    }

    DecodeTablePtr dcY_ = BuildTable(wemb_test::AnnexKLuminanceDc()), acY_ = BuildTable(wemb_test::AnnexKLuminanceAc());
    DecodeTablePtr dcC_ = BuildTable(wemb_test::AnnexKChrominanceDc()), acC_ = BuildTable(wemb_test::AnnexKChrominanceAc());
    HuffmanCoder dc_{wemb_test::AnnexKLuminanceDc()}, ac_{wemb_test::AnnexKLuminanceAc()};
    BitWriter writer_;
};

TEST(ZigZagToNatural, FollowsFigureA6AndPadsWithTheLastPosition) {
    for (int k = 0; k < 72; ++k) EXPECT_EQ(ZigZagToNatural[k], k < 64 ? kZigzagToNatural[k] : 63) << k;
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
}

TEST(DecodeSymbol, NoMatchFailsWithSymbolZero) {
    // A table without codes builds, and then nothing decodes.
    const uint8_t noCounts[16] = {};
    HuffmanDecodeTable* empty = nullptr;
    ASSERT_EQ(BuildHuffmanDecodeTable(noCounts, noCounts, &empty), PrimOk);
    const DecodeTablePtr emptyOwner(empty);
    EXPECT_EQ(std::count(empty->maxCode, empty->maxCode + 16, 0xFFFF), 16);
    // The 16-bit all-ones code is reserved and never decodes, even with K.5.
    const DecodeTablePtr acY = BuildTable(wemb_test::AnnexKLuminanceAc());
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
        Stream s{c.bytes};
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
        {{}, 0, 0, 1, PrimErrSourceExhausted, 0, 0, 0, 0},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        Stream s{c.bytes};
        s.state.bitCount = c.bitCount;
        s.state.bitBuffer = c.bitCount == 0 ? 0 : (1u << c.bitCount) - 1u;
        s.marker = c.marker;
        const uint8_t none = 0;
        EXPECT_EQ(FillBits(s.length() ? s.bytes.data() : &none, s.length(), &s.position, &s.marker, c.need, &s.state),
                  c.status) << i;
        EXPECT_EQ(s.position, c.position) << i;
        EXPECT_EQ(s.marker, c.markerAfter) << i;
        EXPECT_EQ(s.state.bitCount, c.bitCountAfter) << i;
        if (c.bufferAfter != 0) {
            EXPECT_EQ(s.state.bitBuffer & (0xFFFFFFFFu >> (32 - c.bitCountAfter)), c.bufferAfter) << i;
        }
    }
}

TEST(ReceiveExtend, ReturnsTheSignedValuesOfTableF1AndFailsShortBeforeAMarker) {
    // {size, bits, value}: a clear top bit means v + 1 - 2^s.
    const int32_t cases[][3] = {{0, 0, 0}, {1, 0, -1}, {1, 1, 1}, {3, 0b000, -7}, {3, 0b011, -4}, {3, 0b100, 4},
                                {3, 0b111, 7}, {15, 0, -32767}, {15, 0x3FFF, -16384}, {15, 0x4000, 16384},
                                {15, 0x7FFF, 32767}};
    BitWriter writer;
    for (const auto& c : cases) writer.PutBits(static_cast<uint32_t>(c[1]), c[0]);
    writer.PutRawBytes({});
    Stream s{writer.bytes()};
    int32_t value = 99;
    for (const auto& c : cases) {
        ASSERT_EQ(ReceiveExtend(s.bytes.data(), s.length(), &s.position, &s.marker, c[0], &value, &s.state), PrimOk);
        EXPECT_EQ(value, c[2]) << c[0] << " " << c[1];
    }

    // Holding 3 bits, a 5-bit read tops up to 27 with three bytes, or with
    // four when one is a stuffed 0xFF.
    for (const std::vector<uint8_t>& bytes : {std::vector<uint8_t>{0x80, 1, 2, 3, 4}, {0x80, 0xFF, 0x00, 2, 3}}) {
        Stream t{bytes};
        t.state.bitCount = 3;
        ASSERT_EQ(ReceiveExtend(t.bytes.data(), t.length(), &t.position, &t.marker, 5, &value, &t.state), PrimOk);
        EXPECT_EQ(value, 0b00010 + 1 - 32);  // 3 zero bits held, then 10 from 0x80
        EXPECT_EQ(t.state.bitCount, 27 - 5);
        EXPECT_EQ(t.position, bytes[1] == 0xFF ? 4 : 3);
    }

    // Two 15-bit reads leave 2 of 32 bits; the third read meets the marker
    // in its own refill and fails at once, leaving the 2 bits.
    Stream m{{1, 2, 3, 4, 0xFF, 0xD0, 5}};
    for (PrimitiveStatus expected : {PrimOk, PrimOk, PrimErrBadHuffmanCode}) {
        EXPECT_EQ(ReceiveExtend(m.bytes.data(), m.length(), &m.position, &m.marker, 15, &value, &m.state), expected);
    }
    EXPECT_EQ(m.state.bitCount, 2);
    EXPECT_EQ(m.marker, 0xD0);
    EXPECT_EQ(m.position, 6);
}

// Every argument check of the sequential primitives, in its fixed order;
// a refused call changes nothing. And the reset of the decoder state.
TEST(HuffmanPrimitives, RefuseBadArgumentsInOrderAndResetTheState) {
    const uint8_t counts[16] = {1}, values[1] = {0};
    HuffmanDecodeTable sentinel;
    HuffmanDecodeTable* table = &sentinel;
    EXPECT_EQ(BuildHuffmanDecodeTable(nullptr, values, &table), PrimErrNullPointer);
    EXPECT_EQ(BuildHuffmanDecodeTable(counts, nullptr, &table), PrimErrNullPointer);
    EXPECT_EQ(BuildHuffmanDecodeTable(counts, values, nullptr), PrimErrNullPointer);
    EXPECT_EQ(table, &sentinel);

    Stream s{{0x00}};
    const uint8_t* src = s.bytes.data();
    int32_t *p = &s.position, *m = &s.marker, value = 7;
    EXPECT_EQ(FillBits(src, -1, p, m, 0, &s.state), PrimErrOutOfRange);
    EXPECT_EQ(FillBits(src, 1, p, m, 17, &s.state), PrimErrOutOfRange);
    EXPECT_EQ(FillBits(nullptr, -1, p, m, 0, &s.state), PrimErrNullPointer);
    EXPECT_EQ(FillBits(src, 1, p, m, 0, nullptr), PrimErrNullPointer);
    EXPECT_EQ(ReceiveExtend(src, 1, p, m, 16, &value, &s.state), PrimErrOutOfRange);

    const DecodeTablePtr dc = BuildTable(wemb_test::AnnexKLuminanceDc()), ac = BuildTable(wemb_test::AnnexKLuminanceAc());
    int16_t block[64], predictor = 5;
    std::fill(block, block + 64, int16_t{9});
    EXPECT_EQ(DecodeSequentialBlock(src, -1, p, block, &predictor, m, dc.get(), ac.get(), &s.state), PrimErrOutOfRange);
    EXPECT_EQ(DecodeSequentialBlock(nullptr, -1, p, block, &predictor, m, dc.get(), ac.get(), &s.state), PrimErrNullPointer);
    EXPECT_EQ(DecodeSequentialBlock(src, -1, p, nullptr, &predictor, m, dc.get(), ac.get(), &s.state), PrimErrOutOfRange);
    EXPECT_EQ(DecodeSequentialBlock(src, 1, p, block, &predictor, m, dc.get(), nullptr, &s.state), PrimErrNullPointer);
    EXPECT_EQ(std::count(block, block + 64, 9), 64);
    EXPECT_EQ(std::vector<int64_t>({predictor, value, s.position, s.state.bitCount}), std::vector<int64_t>({5, 7, 0, 0}));

    EXPECT_EQ(ResetHuffmanState(nullptr), PrimErrNullPointer);
    s.state = HuffmanState{0xABCD, 13, 7};
    ASSERT_EQ(ResetHuffmanState(&s.state), PrimOk);
    EXPECT_EQ(std::vector<int64_t>({s.state.bitBuffer, s.state.bitCount, s.state.eobRun}), std::vector<int64_t>(3, 0));
}

TEST_F(SequentialDecoding, RunsZrlEobAndDcPrediction) {
    const std::vector<std::pair<int, int>> blocks[5] = {
        // 1 at zig-zag 55, then run 15 carries the index to 71, the last
        // padded entry: natural position 63; the block ends without EOB.
        {{0xF0, 0}, {0xF0, 0}, {0xF0, 0}, {0x61, 1}, {0xF1, -1}},
        // 1 at zig-zag 50, then a ZRL to index 67 ends the block.
        {{0xF0, 0}, {0xF0, 0}, {0xF0, 0}, {0x11, 1}, {0xF0, 0}},
        // A ZRL right before EOB is legal; EOB first leaves 1..63 zero.
        {{0x01, 1}, {0xF0, 0}, {0x00, 0}},
        {{0x00, 0}},
        // 1 at zig-zag 56, then run 15 reaches index 72: no such entry.
        {{0xF0, 0}, {0xF0, 0}, {0xF0, 0}, {0x71, 1}, {0xF1, 1}}};
    // {DC difference, predictor after, status, zeros among 1..63, zig-zag
    // index (64: natural 63) and value of the last coefficient}: differences
    // wrap in 16 bits, and symbol 0 copies the predictor.
    const int expected[5][6] = {{1, -32768, PrimOk, 61, 64, -1}, {-2047, 30721, PrimOk, 62, 50, 1},
                                {0, 30721, PrimOk, 62, 1, 1}, {0, 30721, PrimOk, 63, 0, 30721},
                                {5, 30726, PrimErrBadCode, 62, 56, 1}};
    for (int b = 0; b < 5; ++b) {
        dc_.PutDc(writer_, expected[b][0]);
        for (const auto& [symbol, value] : blocks[b]) ac_.Put(writer_, symbol, value);
    }
    writer_.PutRawBytes({0xFF, 0xD9});
    Stream s{writer_.bytes()};
    int16_t block[64], predictor = 32767;
    std::fill(block, block + 64, int16_t{0x5555});
    for (const auto& e : expected) {
        ASSERT_EQ(Decode(s, block, &predictor), e[2]);
        EXPECT_EQ(predictor, e[1]);
        EXPECT_EQ(block[0], e[1]);
        EXPECT_EQ(std::count(block + 1, block + 64, 0), e[3]);
        EXPECT_EQ(block[e[4] == 64 ? 63 : kZigzagToNatural[e[4]]], e[5]);
    }
    RefillModel model{Stream{s.bytes}};  // the failing value's bit was taken too
    model.Replay(writer_.reads(), 0, writer_.reads().size());
    EXPECT_EQ(s.variables(), model.s.variables());
}

TEST_F(SequentialDecoding, StuffingMarkersAndTheEndOfTheData) {
    int16_t block[64], predictor = 0;
    // DC category 10 (11111110) with 1023 (ten 1 bits) makes the data byte
    // 0xFF; after the block a fill byte and a marker close the refill.
    dc_.PutDc(writer_, 1023);
    ac_.Put(writer_, 0x00);
    writer_.PutRawBytes({0xFF, 0xFF, 0xD0, 0x12, 0x34, 0x56, 0x78, 0x9A});
    Stream s{writer_.bytes()};
    ASSERT_EQ(std::vector<uint8_t>(s.bytes.begin(), s.bytes.begin() + 4), (std::vector<uint8_t>{0xFE, 0xFF, 0x00, 0xEB}));
    ASSERT_EQ(Decode(s, block, &predictor), PrimOk);
    EXPECT_EQ(block[0], 1023);
    EXPECT_EQ(s.marker, 0xD0);
    EXPECT_EQ(s.position, 7);  // just after 0xD0
    // The code search takes the 2 padding bits, then needs a bit the marker withholds.
    EXPECT_EQ(Decode(s, block, &predictor), PrimErrBadHuffmanCode);
    EXPECT_EQ(s.position, 7);
    EXPECT_EQ(s.state.bitCount, 0);

    // 24 bits of block (DC 5, three times 0/3 with 5), then the first 8 of
    // the 10-bit code of 0/8; the first refill takes exactly these 4 bytes.
    // The search for the 9th bit meets the marker in its own refill.
    BitWriter cut;
    dc_.PutDc(cut, 5);
    for (int i = 0; i < 3; ++i) ac_.Put(cut, 0x03, 5);
    cut.PutBits(0b11111101, 8);
    cut.PutRawBytes({0xFF, 0xD0});
    Stream c{cut.bytes()};
    ASSERT_EQ(c.length(), 6);
    EXPECT_EQ(Decode(c, block, &predictor), PrimErrBadHuffmanCode);
    EXPECT_EQ(c.state.bitCount, 8);
    EXPECT_EQ(c.marker, 0xD0);
    EXPECT_EQ(c.position, 6);
    EXPECT_EQ(block[kZigzagToNatural[3]], 5);

    // 0x2B = 00 1010 11: DC 0, EOB, padding. A lone 0xFF after it fails the
    // first refill although the block needs only those 6 bits.
    Stream lone{{0x2B, 0xFF}}, complete{{0x2B, 0xFF, 0xD9}};
    EXPECT_EQ(Decode(lone, block, &predictor), PrimErrSourceExhausted);
    EXPECT_EQ(lone.position, 2);
    EXPECT_EQ(Decode(complete, block, &predictor), PrimOk);
    // Zero bits are DC 0 and then 0/1 coefficients of -1 until the data
    // runs out without a marker, here or at once.
    for (int32_t length : {2, 0}) {
        Stream zeros{std::vector<uint8_t>(2, 0)};
        EXPECT_EQ(DecodeSequentialBlock(zeros.bytes.data(), length, &zeros.position, block, &predictor, &zeros.marker,
                                        dcY_.get(), acY_.get(), &zeros.state),
                  PrimErrSourceExhausted);
        EXPECT_EQ(zeros.position, length);
    }
}

TEST_F(SequentialDecoding, RandomBlocksRoundTripWithTheByteWiseRefills) {
    std::mt19937 rng(20240611);
    const HuffmanCoder dcC(wemb_test::AnnexKChrominanceDc()), acC(wemb_test::AnnexKChrominanceAc());
    // MCUs of two luminance and two chrominance blocks, like 4:2:2 YCbCr.
    const auto componentOf = [](size_t b) { return b % 4 < 2 ? 0 : static_cast<int>(b % 4) - 1; };
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<std::array<int16_t, 64>> blocks(240);
        std::vector<size_t> readsAfter;
        BitWriter writer;
        int predictors[3] = {};
        for (size_t b = 0; b < blocks.size(); ++b) {
            std::array<int16_t, 64>& block = blocks[b];
            const int component = componentOf(b);
            block[0] = static_cast<int16_t>(rng() % 4 == 0 ? predictors[component] : int(rng() % 2047) - 1023);
            const uint32_t density = rng() % 64;
            for (int k = 1; k < 64; ++k) {
                if (rng() % 64 >= density) continue;
                const int size = 1 + static_cast<int>(rng() % 10);
                const int magnitude = (1 << (size - 1)) + static_cast<int>(rng() % (1u << (size - 1)));
                block[kZigzagToNatural[k]] = static_cast<int16_t>(rng() % 2 ? magnitude : -magnitude);
            }
            EncodeSequentialBlock(writer, block.data(), predictors[component], component ? dcC : dc_,
                                  component ? acC : ac_);
            readsAfter.push_back(writer.reads().size());
        }
        writer.PutRawBytes({0xFF, 0xD9});
        Stream s{writer.bytes()};
        RefillModel model{Stream{s.bytes}};
        int16_t decodedPredictors[3] = {};
        for (size_t b = 0; b < blocks.size(); ++b) {
            int16_t block[64];
            ASSERT_EQ(Decode(s, block, &decodedPredictors[componentOf(b)], componentOf(b) != 0), PrimOk) << b;
            ASSERT_TRUE(std::equal(block, block + 64, blocks[b].begin())) << "trial " << trial << " block " << b;
            // Refills where the FillBits and DECODE rules put them, no more, no less.
            model.Replay(writer.reads(), b == 0 ? 0 : readsAfter[b - 1], readsAfter[b]);
            ASSERT_EQ(s.variables(), model.s.variables()) << b;
        }
    }
}

}  // namespace
