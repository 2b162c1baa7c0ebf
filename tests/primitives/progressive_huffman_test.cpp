#include "primitives/progressive_huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <vector>

#include "support/huffman_encoder.h"
#include "support/libjpeg_reference.h"
#include "support/simd_levels.h"

namespace {

using namespace testing_support;

class ProgressiveDecoding : public ::testing::Test {
protected:
    // Runs one primitive on the stream written so far (closed by a marker on first use).
    PrimitiveStatus Dc(int16_t* block, int16_t* predictor, int32_t al) {
        Prepare();
        return DecodeProgressiveDcBlock(bytes_.data(), Length(), &position_, block, predictor, &marker_, al,
                                        dc_.get(), &state_);
    }
    PrimitiveStatus RefineDc(int16_t* block, int32_t al) {
        Prepare();
        return RefineProgressiveDcBlock(bytes_.data(), Length(), &position_, block, &marker_, al, &state_);
    }
    PrimitiveStatus Ac(int16_t* block, int32_t ss, int32_t se, int32_t al) {
        Prepare();
        return DecodeProgressiveAcBlock(bytes_.data(), Length(), &position_, block, &marker_, ss, se, al,
                                        ac_.get(), &state_);
    }
    PrimitiveStatus RefineAc(int16_t* block, int32_t ss, int32_t se, int32_t al) {
        Prepare();
        return RefineProgressiveAcBlock(bytes_.data(), Length(), &position_, block, &marker_, ss, se, al,
                                        ac_.get(), &state_);
    }
    void Prepare() {
        if (bytes_.empty()) {
            writer_.PutRawBytes({0xFF, 0xD9});
            bytes_ = writer_.bytes();
        }
    }
    int32_t Length() const { return static_cast<int32_t>(bytes_.size()); }
    static int16_t& At(int16_t* block, int zigzagIndex) { return block[kZigzagToNatural[zigzagIndex]]; }

    const HuffmanCodeLengths acTable_ = ProgressiveAcTable();
    DecodeTablePtr dc_ = BuildTable(wemb_test::AnnexKLuminanceDc()), ac_ = BuildTable(acTable_);
    HuffmanCoder dcCoder_{wemb_test::AnnexKLuminanceDc()}, acCoder_{acTable_};
    BitWriter writer_;
    std::vector<uint8_t> bytes_;
    int32_t position_ = 0, marker_ = 0;
    HuffmanState state_{};
};

TEST_F(ProgressiveDecoding, DcFirstScanShiftsThePredictorByAl) {
    // {difference, predictor before, coefficient at Al 1}: symbol 0 shifts
    // the old predictor; 2 x 20000 is kept to 16 bits.
    const int cases[3][3] = {{5, 0, 10}, {0, 7, 14}, {0, 20000, 40000 - 65536}};
    for (const auto& c : cases) dcCoder_.PutDc(writer_, c[0]);
    int16_t block[64];
    std::fill(block, block + 64, int16_t{0x11});
    for (const auto& c : cases) {
        int16_t predictor = static_cast<int16_t>(c[1]);
        ASSERT_EQ(Dc(block, &predictor, 1), PrimOk);
        EXPECT_EQ(predictor, c[0] + c[1]);
        EXPECT_EQ(block[0], c[2]);
    }
    EXPECT_EQ(std::count(block + 1, block + 64, 0x11), 63);
}

TEST_F(ProgressiveDecoding, DcRefinementOrsOneBitAndFailsAtOnceAfterAMarker) {
    // {al, before, bit, after}
    const int cases[][4] = {{0, 10, 1, 11}, {0, 10, 0, 10}, {0, 11, 1, 11}, {2, -8, 1, -4}};
    for (const auto& c : cases) writer_.PutBits(static_cast<uint32_t>(c[2]), 1);
    writer_.PutBits(0x5A5A5A, 28);  // 32 bits of data in all
    for (const auto& c : cases) {
        int16_t block[64] = {static_cast<int16_t>(c[1])};
        ASSERT_EQ(RefineDc(block, c[0]), PrimOk);
        EXPECT_EQ(block[0], c[3]) << c[0] << " " << c[1] << " " << c[2];
    }
    int16_t block[64] = {};
    for (int i = 0; i < 28; ++i) ASSERT_EQ(RefineDc(block, 0), PrimOk);
    // The 33rd bit: the refill meets the marker with no bit held.
    block[0] = 4;
    EXPECT_EQ(RefineDc(block, 0), PrimErrBadHuffmanCode);
    EXPECT_EQ(block[0], 4);
    EXPECT_EQ(state_.bitCount, 0);
    EXPECT_EQ(marker_, 0xD9);
    EXPECT_EQ(position_, Length());
}

TEST_F(ProgressiveDecoding, AcFirstScanEobRunsCoverLaterBlocksWithoutReading) {
    acCoder_.Put(writer_, 0x01, 1);
    acCoder_.Put(writer_, 0x00);           // EOB0: this block only
    acCoder_.Put(writer_, 0x20, 0b01, 2);  // EOB2 + 1: a run of 5 blocks
    acCoder_.Put(writer_, 0x02, -3);       // the block after the run ...
    acCoder_.Put(writer_, 0x10, 0b1, 1);   // ... ends with EOB1 + 1: a run of 3
    int16_t block[64] = {};
    ASSERT_EQ(Ac(block, 1, 63, 0), PrimOk);
    EXPECT_EQ(At(block, 1), 1);
    EXPECT_EQ(state_.eobRun, 0);
    ASSERT_EQ(Ac(block, 1, 63, 0), PrimOk);
    EXPECT_EQ(state_.eobRun, 4);
    const int32_t position = position_, bitCount = state_.bitCount;
    for (int i = 3; i >= 0; --i) {
        int16_t untouched[64];
        std::fill(untouched, untouched + 64, int16_t{9});
        ASSERT_EQ(Ac(untouched, 1, 63, 0), PrimOk);
        EXPECT_EQ(state_.eobRun, i);
        EXPECT_EQ(std::count(untouched, untouched + 64, 9), 64);
        EXPECT_EQ(position_, position);
        EXPECT_EQ(state_.bitCount, bitCount);
    }
    std::fill(block, block + 64, int16_t{0});
    ASSERT_EQ(Ac(block, 1, 63, 0), PrimOk);
    EXPECT_EQ(At(block, 1), -3);
    EXPECT_EQ(state_.eobRun, 2);
}

TEST_F(ProgressiveDecoding, AcFirstScanStoresShiftedAndGuardsTheIndex) {
    acCoder_.Put(writer_, 0x03, -5);  // band 5..5 at Al 2: -20 at natural position 2
    acCoder_.Put(writer_, 0x71, 1);   // band 1..5, run 7: lands on zig-zag 8 beyond the band, unchecked
    for (int i = 0; i < 3; ++i) acCoder_.Put(writer_, 0xF0);
    acCoder_.Put(writer_, 0x71, 1);   // zig-zag 56
    acCoder_.Put(writer_, 0xF1, 1);   // run 15 from 57: index 72, past the table
    int16_t block[64] = {};
    ASSERT_EQ(Ac(block, 5, 5, 2), PrimOk);
    EXPECT_EQ(block[2], -20);
    EXPECT_EQ(std::count(block, block + 64, 0), 63);
    ASSERT_EQ(Ac(block, 1, 5, 0), PrimOk);
    EXPECT_EQ(At(block, 8), 1);
    EXPECT_EQ(Ac(block, 1, 63, 0), PrimErrBadCode);
    EXPECT_EQ(At(block, 56), 1);
}

TEST_F(ProgressiveDecoding, EobRunBitsCutShortByAMarkerFailWithTheRunStarted) {
    acCoder_.Put(writer_, 0xE0, 0x2AA, 11);  // EOB14 with 11 of its 14 bits
    int16_t block[64] = {};
    EXPECT_EQ(Ac(block, 1, 63, 0), PrimErrBadHuffmanCode);
    EXPECT_EQ(state_.eobRun, 1 << 14);
    EXPECT_EQ(state_.bitCount, 11);
    EXPECT_EQ(marker_, 0xD9);
}

TEST_F(ProgressiveDecoding, AcRefinementSkipsZeroHistoryCoefficientsAndCorrectsTheOthers) {
    // Al 1, band 1..63, existing 4 at zig-zag 1, -4 at 3, 4 at 6. Run 1 with
    // sign 1: refine 1 (bit 1), pass the zero at 2, refine 3 (bit 0), land
    // on 4: +2. Then EOB0 refines 6 (bit 1).
    acCoder_.Put(writer_, 0x11, 1);
    writer_.PutBits(0b10, 2);
    acCoder_.Put(writer_, 0x00);
    writer_.PutBits(0b1, 1);
    // Al 2, new coefficients with sign 0 and 1, then EOB0.
    acCoder_.Put(writer_, 0x01, -1);
    acCoder_.Put(writer_, 0x01, 1);
    acCoder_.Put(writer_, 0x00);
    // Band 1..2, both set: the skip runs off the band and the new value
    // lands on zig-zag 3 (se + 1); both are refined on the way.
    acCoder_.Put(writer_, 0x01, 1);
    writer_.PutBits(0b01, 2);
    // At Al 0, 3 and -3 already have bit 0: corrections 1, 1 change nothing;
    // inside the EOB run of 5, 2 and -2 with bits 1, 1 become 3 and -3.
    acCoder_.Put(writer_, 0x20, 0b01, 2);
    writer_.PutBits(0b1111, 4);

    int16_t block[64] = {};
    At(block, 1) = 4;
    At(block, 3) = -4;
    At(block, 6) = 4;
    ASSERT_EQ(RefineAc(block, 1, 63, 1), PrimOk);
    for (const auto& [index, value] : {std::pair<int, int>{1, 6}, {3, -4}, {4, 2}, {6, 6}}) {
        EXPECT_EQ(At(block, index), value) << index;
    }
    EXPECT_EQ(std::count(block, block + 64, 0), 60);

    int16_t fresh[64] = {};
    ASSERT_EQ(RefineAc(fresh, 1, 63, 2), PrimOk);
    EXPECT_EQ(At(fresh, 1), -4);  // m1 at Al 2
    EXPECT_EQ(At(fresh, 2), 4);

    int16_t full[64] = {};
    At(full, 1) = 8;
    At(full, 2) = -8;
    ASSERT_EQ(RefineAc(full, 1, 2, 0), PrimOk);
    EXPECT_EQ(At(full, 1), 8);
    EXPECT_EQ(At(full, 2), -9);
    EXPECT_EQ(At(full, 3), 1);

    // {before, after} for zig-zag 1 and 2 in two blocks of the EOB run.
    for (const auto& [before, after] : {std::pair<int, int>{3, 3}, {2, 3}}) {
        int16_t run[64] = {};
        At(run, 1) = static_cast<int16_t>(before);
        At(run, 2) = static_cast<int16_t>(-before);
        ASSERT_EQ(RefineAc(run, 1, 63, 0), PrimOk);
        EXPECT_EQ(At(run, 1), after);
        EXPECT_EQ(At(run, 2), -after);
    }
    EXPECT_EQ(state_.eobRun, 3);
}

TEST_F(ProgressiveDecoding, ArgumentsAreCheckedInOrder) {
    Prepare();
    int16_t block[64] = {};
    int16_t predictor = 0;
    const uint8_t* src = bytes_.data();
    const HuffmanDecodeTable* ac = ac_.get();
    int32_t* p = &position_;
    for (auto f : {&DecodeProgressiveAcBlock, &RefineProgressiveAcBlock}) {
        EXPECT_EQ(f(nullptr, 0, p, block, &marker_, 0, 0, 14, ac, &state_), PrimErrNullPointer);
        EXPECT_EQ(f(src, 0, nullptr, block, &marker_, 0, 0, 14, ac, &state_), PrimErrBadSize);
        EXPECT_EQ(f(src, 2, nullptr, block, &marker_, 0, 0, 14, ac, &state_), PrimErrNullPointer);
        EXPECT_EQ(f(src, 2, p, block, &marker_, 0, 5, 0, nullptr, &state_), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, p, block, &marker_, 64, 64, 0, ac, &state_), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, p, block, &marker_, 5, 4, 0, ac, &state_), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, p, block, &marker_, 5, 64, 0, ac, &state_), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, p, block, &marker_, 1, 63, 14, nullptr, &state_), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, p, block, &marker_, 1, 63, 13, ac, nullptr), PrimErrNullPointer);
    }
    const HuffmanDecodeTable* dc = dc_.get();
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 0, p, block, &predictor, &marker_, 0, dc, &state_), PrimErrBadSize);
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 2, p, block, nullptr, &marker_, -1, dc, &state_), PrimErrNullPointer);
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 2, p, block, &predictor, &marker_, -1, nullptr, &state_), PrimErrOutOfRange);
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 2, p, block, &predictor, &marker_, 0, nullptr, &state_), PrimErrNullPointer);
    EXPECT_EQ(RefineProgressiveDcBlock(nullptr, 0, p, block, &marker_, 0, &state_), PrimErrNullPointer);
    EXPECT_EQ(RefineProgressiveDcBlock(src, 0, p, block, &marker_, 0, &state_), PrimErrBadSize);
    EXPECT_EQ(RefineProgressiveDcBlock(src, 2, p, block, &marker_, 14, nullptr), PrimErrOutOfRange);
    EXPECT_EQ(RefineProgressiveDcBlock(src, 2, p, block, &marker_, 0, nullptr), PrimErrNullPointer);
    EXPECT_EQ(position_, 0);
    EXPECT_EQ(std::count(block, block + 64, 0), 64);
}

// ---------------------------------------------------------------------------
// All block primitives together.

// The coefficients of a one-component stream as libjpeg writes it (no
// restart intervals, blocks in raster order), decoded scan by scan with the
// block primitive each scan calls for; *failure is the first failing status.
std::vector<int16_t> DecodeGreyStream(const std::vector<uint8_t>& jpeg, size_t blocks, PrimitiveStatus* failure) {
    std::vector<int16_t> coefficients(blocks * 64, 0);
    DecodeTablePtr tables[2][4];
    const uint8_t* src = jpeg.data();
    const int32_t size = static_cast<int32_t>(jpeg.size());
    *failure = PrimOk;
    for (size_t at = 2; *failure == PrimOk && at + 4 <= jpeg.size() && jpeg[at + 1] != 0xD9;) {
        const uint8_t code = jpeg[at + 1];
        const uint8_t* segment = &jpeg[at + 4];
        const size_t length = (size_t{jpeg[at + 2]} << 8) | jpeg[at + 3];
        at += 2 + length;
        for (const uint8_t* p = segment; code == 0xC4 && p < segment + length - 2;) {  // DHT
            const size_t count = std::accumulate(p + 1, p + 17, size_t{0});
            HuffmanCodeLengths table{{}, std::vector<uint8_t>(p + 17, p + 17 + count)};
            std::copy(p + 1, p + 17, table.counts.begin());
            tables[*p >> 4][*p & 15] = BuildTable(table);
            p += 17 + count;
        }
        if (code != 0xDA) continue;
        const HuffmanDecodeTable* dc = tables[0][segment[2] >> 4].get();
        const HuffmanDecodeTable* ac = tables[1][segment[2] & 15].get();
        const int ss = segment[3], se = segment[4], ah = segment[5] >> 4, al = segment[5] & 15;
        int32_t position = static_cast<int32_t>(at), marker = 0;
        int16_t predictor = 0;
        HuffmanState state{};
        for (size_t b = 0; b < blocks && *failure == PrimOk; ++b) {
            int16_t* block = &coefficients[b * 64];
            *failure = ss == 0 && se == 63 ? DecodeSequentialBlock(src, size, &position, block, &predictor, &marker, dc, ac, &state)
                       : ss == 0 && ah == 0 ? DecodeProgressiveDcBlock(src, size, &position, block, &predictor, &marker, al, dc, &state)
                       : ss == 0            ? RefineProgressiveDcBlock(src, size, &position, block, &marker, al, &state)
                       : ah == 0 ? DecodeProgressiveAcBlock(src, size, &position, block, &marker, ss, se, al, ac, &state)
                                 : RefineProgressiveAcBlock(src, size, &position, block, &marker, ss, se, al, ac, &state);
        }
        // The refill may have taken the marker after the scan already.
        at = static_cast<size_t>(marker != 0 ? position - 2 : position);
        while (marker == 0 && at + 1 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] != 0 && jpeg[at + 1] != 0xFF)) ++at;
    }
    return coefficients;
}

TEST(EntropyScans, MatchLibjpegCoefficients) {
    // A gentle gradient (long zero runs and EOB runs) above noise (big
    // coefficients, long codes, many refinement bits).
    const int width = 128, height = 48;
    std::vector<uint8_t> pixels(width * height);
    std::mt19937 rng(11);
    for (int i = 0; i < width * height; ++i) {
        pixels[i] = static_cast<uint8_t>(i < width * height / 2 ? 40 + i % width / 2 + i / width : rng() % 256);
    }
    // Sequential streams use the Annex K tables, progressive ones libjpeg's own.
    for (const auto& kind : {std::pair<int, bool>{95, false}, {50, true}, {90, true}}) {
        SCOPED_TRACE(testing::Message() << "quality " << kind.first << (kind.second ? ", progressive" : ""));
        const std::vector<uint8_t> jpeg = LibjpegCompress(pixels, width, height, 1, kind.first, kind.second);
        int wide = 0, high = 0;
        const std::vector<int16_t> expected = LibjpegCoefficients(jpeg, &wide, &high);
        // The refinement finds non-zero coefficients with SSE2 or without.
        wemb_test::ForEachSimdLevel([&] {
            PrimitiveStatus failure;
            EXPECT_EQ(DecodeGreyStream(jpeg, static_cast<size_t>(wide) * high, &failure), expected);
            EXPECT_EQ(failure, PrimOk);
        });
    }
}

// Whatever the bytes, every block primitive stays inside the source and the
// block (the sanitizer build checks the memory) and ends with a known status.
TEST(EntropyPrimitives, RandomBytesStayInBoundsAndFailCleanly) {
    const uint8_t threeOfLengthOne[16] = {3}, values[3] = {0x01, 0xF1, 0x2E};
    HuffmanDecodeTable* oversubscribed = nullptr;
    ASSERT_EQ(BuildHuffmanDecodeTable(threeOfLengthOne, values, &oversubscribed), PrimErrBadHuffmanTable);
    const DecodeTablePtr owner(oversubscribed), dc = BuildTable(wemb_test::AnnexKLuminanceDc());
    const DecodeTablePtr ac = BuildTable(wemb_test::AnnexKLuminanceAc()), progressiveAc = BuildTable(ProgressiveAcTable());
    const HuffmanDecodeTable* acTables[] = {ac.get(), progressiveAc.get(), oversubscribed};
    std::mt19937 rng(5);
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<uint8_t> bytes(1 + rng() % 48);  // allocated to the byte, for the address sanitizer
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
        const uint8_t* src = bytes.data();
        const int32_t length = static_cast<int32_t>(bytes.size());
        const HuffmanDecodeTable* acTable = acTables[trial % 3];
        const int kind = static_cast<int>(rng() % 5);
        const int32_t ss = 1 + static_cast<int32_t>(rng() % 63), al = static_cast<int32_t>(rng() % 14);
        const int32_t se = ss + static_cast<int32_t>(rng() % (64 - ss));
        int32_t position = 0, marker = 0;
        HuffmanState state{};
        int16_t predictor = static_cast<int16_t>(rng());
        std::vector<int16_t> out(64);
        int16_t* block = out.data();
        PrimitiveStatus status = PrimOk;
        for (int b = 0; b < 64 && status == PrimOk; ++b) {
            status = kind == 0   ? DecodeSequentialBlock(src, length, &position, block, &predictor, &marker, dc.get(), acTable, &state)
                     : kind == 1 ? DecodeProgressiveDcBlock(src, length, &position, block, &predictor, &marker, al, acTable, &state)
                     : kind == 2 ? RefineProgressiveDcBlock(src, length, &position, block, &marker, al, &state)
                     : kind == 3 ? DecodeProgressiveAcBlock(src, length, &position, block, &marker, ss, se, al, acTable, &state)
                                 : RefineProgressiveAcBlock(src, length, &position, block, &marker, ss, se, al, acTable, &state);
            ASSERT_LE(position, length);
            ASSERT_GE(state.bitCount, 0);
            ASSERT_LE(state.bitCount, 32);
        }
        EXPECT_TRUE(status == PrimOk || status == PrimErrBadCode || status == PrimErrSourceExhausted ||
                    status == PrimErrBadHuffmanCode)
            << status;
    }
}

}  // namespace
