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

using namespace wemb_test;

// A scan's spectral band and successive approximation, and the block
// primitive it calls for.
struct Scan {
    int32_t ss, se, ah, al;
    const HuffmanDecodeTable *dc, *ac;

    PrimitiveStatus Decode(Stream& s, int16_t* block, int16_t* predictor) const {
        const uint8_t* src = s.bytes.data();
        const int32_t n = s.length();
        int32_t *p = &s.position, *m = &s.marker;
        if (ss == 0 && se == 63) return DecodeSequentialBlock(src, n, p, block, predictor, m, dc, ac, &s.state);
        if (ss == 0 && ah == 0) return DecodeProgressiveDcBlock(src, n, p, block, predictor, m, al, dc, &s.state);
        if (ss == 0) return RefineProgressiveDcBlock(src, n, p, block, m, al, &s.state);
        if (ah == 0) return DecodeProgressiveAcBlock(src, n, p, block, m, ss, se, al, ac, &s.state);
        return RefineProgressiveAcBlock(src, n, p, block, m, ss, se, al, ac, &s.state);
    }
};

// A block holding the given {zig-zag index, value} pairs, zero elsewhere.
std::vector<int16_t> Zigzag(const std::vector<std::pair<int, int>>& values) {
    std::vector<int16_t> block(64, 0);
    for (const auto& [index, value] : values) block[kZigzagToNatural[index]] = static_cast<int16_t>(value);
    return block;
}

class ProgressiveDecoding : public ::testing::Test {
protected:
    PrimitiveStatus Dc(int16_t* block, int16_t* predictor, int32_t al) { return Run(0, 0, 0, al, block, predictor); }
    PrimitiveStatus RefineDc(int16_t* block, int32_t al) { return Run(0, 0, 1, al, block); }
    PrimitiveStatus Ac(int16_t* block, int32_t ss, int32_t se, int32_t al) { return Run(ss, se, 0, al, block); }
    PrimitiveStatus RefineAc(int16_t* block, int32_t ss, int32_t se, int32_t al) { return Run(ss, se, 1, al, block); }
    // Runs a primitive on the stream written so far, closed by a marker on first use.
    PrimitiveStatus Run(int32_t ss, int32_t se, int32_t ah, int32_t al, int16_t* block, int16_t* predictor = nullptr) {
        Prepare();
        return Scan{ss, se, ah, al, dc_.get(), ac_.get()}.Decode(s_, block, predictor);
    }
    void Prepare() {
        if (!s_.bytes.empty()) return;
        writer_.PutRawBytes({0xFF, 0xD9});
        s_.bytes = writer_.bytes();
    }
    static int16_t& At(int16_t* block, int zigzagIndex) { return block[kZigzagToNatural[zigzagIndex]]; }

    const HuffmanCodeLengths acTable_ = ProgressiveAcTable();
    DecodeTablePtr dc_ = BuildTable(wemb_test::AnnexKLuminanceDc()), ac_ = BuildTable(acTable_);
    HuffmanCoder dcCoder_{wemb_test::AnnexKLuminanceDc()}, acCoder_{acTable_};
    BitWriter writer_;
    Stream s_;
};

TEST_F(ProgressiveDecoding, DcScansShiftByAlRefineByOneBitAndFailAtOnceAfterAMarker) {
    // First scan at Al 1, {difference, predictor before, coefficient}:
    // symbol 0 shifts the old predictor; 2 x 20000 is kept to 16 bits.
    const int firsts[3][3] = {{5, 0, 10}, {0, 7, 14}, {0, 20000, 40000 - 65536}};
    // Refinement {al, before, bit, after}.
    const int refinements[][4] = {{0, 10, 1, 11}, {0, 10, 0, 10}, {0, 11, 1, 11}, {2, -8, 1, -4}};
    for (const auto& c : firsts) dcCoder_.PutDc(writer_, c[0]);  // 6 + 2 + 2 bits
    for (const auto& c : refinements) writer_.PutBits(static_cast<uint32_t>(c[2]), 1);
    writer_.PutBits(0x2A5A5, 18);  // 32 bits of data in all
    int16_t block[64];
    std::fill(block, block + 64, int16_t{0x11});
    for (const auto& c : firsts) {
        int16_t predictor = static_cast<int16_t>(c[1]);
        ASSERT_EQ(Dc(block, &predictor, 1), PrimOk);
        EXPECT_EQ(predictor, c[0] + c[1]);
        EXPECT_EQ(block[0], c[2]);
    }
    EXPECT_EQ(std::count(block + 1, block + 64, 0x11), 63);
    for (const auto& c : refinements) {
        block[0] = static_cast<int16_t>(c[1]);
        ASSERT_EQ(RefineDc(block, c[0]), PrimOk);
        EXPECT_EQ(block[0], c[3]) << c[0] << " " << c[1] << " " << c[2];
    }
    for (int i = 0; i < 18; ++i) ASSERT_EQ(RefineDc(block, 0), PrimOk);
    // The 33rd bit: the refill meets the marker with no bit held.
    block[0] = 4;
    EXPECT_EQ(RefineDc(block, 0), PrimErrBadHuffmanCode);
    EXPECT_EQ(block[0], 4);
    EXPECT_EQ(s_.state.bitCount, 0);
    EXPECT_EQ(s_.marker, 0xD9);
    EXPECT_EQ(s_.position, s_.length());
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
    EXPECT_EQ(s_.state.eobRun, 0);
    ASSERT_EQ(Ac(block, 1, 63, 0), PrimOk);
    EXPECT_EQ(s_.state.eobRun, 4);
    const int32_t position = s_.position, bitCount = s_.state.bitCount;
    for (int i = 3; i >= 0; --i) {
        int16_t untouched[64];
        std::fill(untouched, untouched + 64, int16_t{9});
        ASSERT_EQ(Ac(untouched, 1, 63, 0), PrimOk);
        EXPECT_EQ(s_.state.eobRun, i);
        EXPECT_EQ(std::count(untouched, untouched + 64, 9), 64);
        EXPECT_EQ(s_.position, position);
        EXPECT_EQ(s_.state.bitCount, bitCount);
    }
    std::fill(block, block + 64, int16_t{0});
    ASSERT_EQ(Ac(block, 1, 63, 0), PrimOk);
    EXPECT_EQ(At(block, 1), -3);
    EXPECT_EQ(s_.state.eobRun, 2);
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
    EXPECT_EQ(s_.state.eobRun, 1 << 14);
    EXPECT_EQ(s_.state.bitCount, 11);
    EXPECT_EQ(s_.marker, 0xD9);
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

    // {band, Al, coefficients before and after as {zig-zag index, value}}
    struct Step {
        int32_t ss, se, al;
        std::vector<std::pair<int, int>> before, after;
    };
    const Step steps[] = {{1, 63, 1, {{1, 4}, {3, -4}, {6, 4}}, {{1, 6}, {3, -4}, {4, 2}, {6, 6}}},
                          {1, 63, 2, {}, {{1, -4}, {2, 4}}},
                          {1, 2, 0, {{1, 8}, {2, -8}}, {{1, 8}, {2, -9}, {3, 1}}},
                          {1, 63, 0, {{1, 3}, {2, -3}}, {{1, 3}, {2, -3}}},
                          {1, 63, 0, {{1, 2}, {2, -2}}, {{1, 3}, {2, -3}}}};
    for (const Step& step : steps) {
        std::vector<int16_t> block = Zigzag(step.before);
        ASSERT_EQ(RefineAc(block.data(), step.ss, step.se, step.al), PrimOk);
        EXPECT_EQ(block, Zigzag(step.after)) << "Al " << step.al << ", band " << step.ss << ".." << step.se;
    }
    EXPECT_EQ(s_.state.eobRun, 3);
}

TEST_F(ProgressiveDecoding, ArgumentsAreCheckedInOrder) {
    Prepare();
    int16_t block[64] = {}, predictor = 0;
    const uint8_t* src = s_.bytes.data();
    const HuffmanDecodeTable *ac = ac_.get(), *dc = dc_.get();
    int32_t *p = &s_.position, *m = &s_.marker;
    HuffmanState* st = &s_.state;
    for (auto f : {&DecodeProgressiveAcBlock, &RefineProgressiveAcBlock}) {
        EXPECT_EQ(f(nullptr, 0, p, block, m, 0, 0, 14, ac, st), PrimErrNullPointer);
        EXPECT_EQ(f(src, 0, nullptr, block, m, 0, 0, 14, ac, st), PrimErrBadSize);
        EXPECT_EQ(f(src, 2, nullptr, block, m, 0, 0, 14, ac, st), PrimErrNullPointer);
        EXPECT_EQ(f(src, 2, p, block, m, 0, 5, 0, nullptr, st), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, p, block, m, 64, 64, 0, ac, st), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, p, block, m, 5, 4, 0, ac, st), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, p, block, m, 5, 64, 0, ac, st), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, p, block, m, 1, 63, 14, nullptr, st), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, p, block, m, 1, 63, 13, ac, nullptr), PrimErrNullPointer);
    }
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 0, p, block, &predictor, m, 0, dc, st), PrimErrBadSize);
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 2, p, block, nullptr, m, -1, dc, st), PrimErrNullPointer);
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 2, p, block, &predictor, m, -1, nullptr, st), PrimErrOutOfRange);
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 2, p, block, &predictor, m, 0, nullptr, st), PrimErrNullPointer);
    EXPECT_EQ(RefineProgressiveDcBlock(nullptr, 0, p, block, m, 0, st), PrimErrNullPointer);
    EXPECT_EQ(RefineProgressiveDcBlock(src, 0, p, block, m, 0, st), PrimErrBadSize);
    EXPECT_EQ(RefineProgressiveDcBlock(src, 2, p, block, m, 14, nullptr), PrimErrOutOfRange);
    EXPECT_EQ(RefineProgressiveDcBlock(src, 2, p, block, m, 0, nullptr), PrimErrNullPointer);
    EXPECT_EQ(s_.position, 0);
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
        const Scan scan{segment[3], segment[4], segment[5] >> 4, segment[5] & 15, tables[0][segment[2] >> 4].get(),
                        tables[1][segment[2] & 15].get()};
        Stream s{jpeg};
        s.position = static_cast<int32_t>(at);
        int16_t predictor = 0;
        for (size_t b = 0; b < blocks && *failure == PrimOk; ++b) *failure = scan.Decode(s, &coefficients[b * 64], &predictor);
        // The refill may have taken the marker after the scan already.
        at = static_cast<size_t>(s.marker != 0 ? s.position - 2 : s.position);
        while (s.marker == 0 && at + 1 < jpeg.size() && !(jpeg[at] == 0xFF && jpeg[at + 1] != 0 && jpeg[at + 1] != 0xFF)) ++at;
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
        std::vector<uint8_t> bytes(1 + rng() % 48);
        for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
        Stream s{std::move(bytes)};  // allocated to the byte, for the address sanitizer
        const HuffmanDecodeTable* acTable = acTables[trial % 3];
        const int kind = static_cast<int>(rng() % 5);  // sequential, DC first, DC refinement, AC first, AC refinement
        int32_t ss = 1 + static_cast<int32_t>(rng() % 63), se = ss + static_cast<int32_t>(rng() % (64 - ss));
        if (kind < 3) {
            ss = 0;
            se = kind == 0 ? 63 : 0;
        }
        const Scan scan{ss, se, kind == 2 || kind == 4, static_cast<int32_t>(rng() % 14), kind ? acTable : dc.get(), acTable};
        int16_t predictor = static_cast<int16_t>(rng());
        std::vector<int16_t> block(64);
        PrimitiveStatus status = PrimOk;
        for (int b = 0; b < 64 && status == PrimOk; ++b) {
            status = scan.Decode(s, block.data(), &predictor);
            ASSERT_LE(s.position, s.length());
            ASSERT_GE(s.state.bitCount, 0);
            ASSERT_LE(s.state.bitCount, 32);
        }
        EXPECT_TRUE(status == PrimOk || status == PrimErrBadCode || status == PrimErrSourceExhausted ||
                    status == PrimErrBadHuffmanCode)
            << status;
    }
}

}  // namespace
