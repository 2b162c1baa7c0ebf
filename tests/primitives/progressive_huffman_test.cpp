#include "primitives/progressive_huffman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <random>
#include <vector>

#include "support/bit_writer.h"
#include "support/huffman_encoder.h"
#include "support/libjpeg_reference.h"
#include "support/refill_model.h"
#include "support/scan_walker.h"
#include "support/simd_levels.h"

namespace {

using namespace testing_support;

class ProgressiveDecoding : public ::testing::Test {
protected:
    // Runs one primitive on the stream written so far (flushed on first use).
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
    void PutAc(int symbol, int value = 0) {
        acCoder_.Put(writer_, symbol);
        PutValueBits(writer_, value, symbol & 0x0F);
    }
    void PutDc(int diff) {
        dcCoder_.Put(writer_, MagnitudeCategory(diff));
        PutValueBits(writer_, diff, MagnitudeCategory(diff));
    }
    void Prepare() {
        if (bytes_.empty()) {
            writer_.PutRawBytes({0xFF, 0xD9});
            bytes_ = writer_.bytes();
        }
    }
    int32_t Length() const { return static_cast<int32_t>(bytes_.size()); }
    int16_t& At(int16_t* block, int zigzagIndex) { return block[zigzag_[zigzagIndex]]; }

    const HuffmanTable acTable_ = ProgressiveAcTable();
    DecodeTablePtr dc_ = BuildTable(kLuminanceDc), ac_ = BuildTable(acTable_);
    HuffmanCoder dcCoder_{kLuminanceDc}, acCoder_{acTable_};
    BitWriter writer_;
    std::vector<uint8_t> bytes_;
    int32_t position_ = 0;
    int32_t marker_ = 0;
    HuffmanState state_{};
    const std::array<int, 64> zigzag_ = ZigZagOrder();
};

TEST_F(ProgressiveDecoding, DcFirstScanShiftsThePredictorByAl) {
    PutDc(5);
    PutDc(0);
    PutDc(0);
    int16_t block[64];
    std::fill(block, block + 64, int16_t{0x11});
    int16_t predictor = 0;
    ASSERT_EQ(Dc(block, &predictor, 1), PrimOk);
    EXPECT_EQ(predictor, 5);
    EXPECT_EQ(block[0], 10);
    predictor = 7;  // symbol 0: the old predictor, shifted
    ASSERT_EQ(Dc(block, &predictor, 1), PrimOk);
    EXPECT_EQ(block[0], 14);
    predictor = 20000;  // 40000 kept to 16 bits
    ASSERT_EQ(Dc(block, &predictor, 1), PrimOk);
    EXPECT_EQ(block[0], 40000 - 65536);
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
    PutAc(0x01, 1);
    PutAc(0x00);      // EOB0: this block only
    PutAc(0x20);      // EOB2 ...
    writer_.PutBits(0b01, 2);  // ... + 1: a run of 5 blocks
    PutAc(0x02, -3);  // the block after the run
    PutAc(0x00);
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
}

TEST_F(ProgressiveDecoding, AcFirstScanStoresShiftedAndGuardsTheIndex) {
    PutAc(0x03, -5);  // band 5..5 at Al 2: -20 at natural position 2
    PutAc(0x71, 1);   // band 1..5, run 7: lands on zig-zag 8 beyond the band, unchecked
    for (int i = 0; i < 3; ++i) PutAc(0xF0);
    PutAc(0x71, 1);   // zig-zag 56
    PutAc(0xF1, 1);   // run 15 from 57: index 72, past the table
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
    // 8 bits of block 1, then EOB14 (13 bits) and 11 of its 14 bits: exactly
    // the 32 bits of the first refill; the next refill meets the marker.
    PutAc(0x01, 1);
    PutAc(0x01, 1);
    PutAc(0x00);
    PutAc(0xE0);
    ASSERT_EQ(writer_.bitsWritten(), 21);
    writer_.PutBits(0x2AA, 11);
    int16_t block[64] = {};
    ASSERT_EQ(Ac(block, 1, 63, 0), PrimOk);
    EXPECT_EQ(Ac(block, 1, 63, 0), PrimErrBadHuffmanCode);
    EXPECT_EQ(state_.eobRun, 1 << 14);
    EXPECT_EQ(state_.bitCount, 11);
    EXPECT_EQ(marker_, 0xD9);
}

TEST_F(ProgressiveDecoding, AcRefinementCorrectsAndPlacesCoefficients) {
    // Block 1 (Al 0): 3 and -3 already have bit 0: correction bits 1, 1 change nothing.
    PutAc(0x20);
    writer_.PutBits(0b01, 2);  // EOB run of 5
    writer_.PutBits(0b11, 2);
    // Block 2, inside the run: 2 and -2 with bits 1, 1 become 3 and -3.
    writer_.PutBits(0b11, 2);
    int16_t block[64] = {};
    At(block, 1) = 3;
    At(block, 2) = -3;
    ASSERT_EQ(RefineAc(block, 1, 63, 0), PrimOk);
    EXPECT_EQ(At(block, 1), 3);
    EXPECT_EQ(At(block, 2), -3);
    EXPECT_EQ(state_.eobRun, 4);
    At(block, 1) = 2;
    At(block, 2) = -2;
    ASSERT_EQ(RefineAc(block, 1, 63, 0), PrimOk);
    EXPECT_EQ(At(block, 1), 3);
    EXPECT_EQ(At(block, 2), -3);
    EXPECT_EQ(state_.eobRun, 3);
}

TEST_F(ProgressiveDecoding, AcRefinementSkipsZeroHistoryCoefficients) {
    // Al 1, band 1..63, existing 4 at zig-zag 1, -4 at 3, 4 at 6.
    // Run 1 with sign 1: refine zig-zag 1 (bit 1), pass the zero at 2,
    // refine 3 (bit 0), land on 4: +2. Then EOB0 refines 6 (bit 1).
    acCoder_.Put(writer_, 0x11);  // refinement: a sign bit, no value bits
    writer_.PutBits(0b1, 1);
    writer_.PutBits(0b10, 2);  // corrections for 1 and 3
    PutAc(0x00);
    writer_.PutBits(0b1, 1);   // correction for 6
    // Al 2, new coefficients with sign 0 and 1, then EOB0.
    acCoder_.Put(writer_, 0x01);
    writer_.PutBits(0b0, 1);
    acCoder_.Put(writer_, 0x01);
    writer_.PutBits(0b1, 1);
    PutAc(0x00);
    // Band 62..63, both set: the skip runs off the band and the new value
    // lands on zig-zag 64, which is natural position 63.
    acCoder_.Put(writer_, 0x01);
    writer_.PutBits(0b100, 3);  // sign 1, corrections 0, 0
    int16_t block[64] = {};
    At(block, 1) = 4;
    At(block, 3) = -4;
    At(block, 6) = 4;
    ASSERT_EQ(RefineAc(block, 1, 63, 1), PrimOk);
    for (const auto& e : {std::pair<int, int>{1, 6}, {3, -4}, {4, 2}, {6, 6}}) {
        EXPECT_EQ(At(block, e.first), e.second) << e.first;
    }
    EXPECT_EQ(std::count(block, block + 64, 0), 60);

    int16_t fresh[64] = {};
    ASSERT_EQ(RefineAc(fresh, 1, 63, 2), PrimOk);
    EXPECT_EQ(At(fresh, 1), -4);  // m1 at Al 2
    EXPECT_EQ(At(fresh, 2), 4);
    int16_t full[64] = {};
    At(full, 62) = 8;
    At(full, 63) = 8;
    ASSERT_EQ(RefineAc(full, 62, 63, 0), PrimOk);
    EXPECT_EQ(At(full, 62), 8);
    EXPECT_EQ(full[63], 1);
}

TEST_F(ProgressiveDecoding, ArgumentsAreCheckedInOrder) {
    Prepare();
    int16_t block[64] = {};
    int16_t predictor = 0;
    const uint8_t* src = bytes_.data();
    const HuffmanDecodeTable* ac = ac_.get();
    using AcPrimitive = PrimitiveStatus (*)(const uint8_t*, int32_t, int32_t*, int16_t*, int32_t*, int32_t, int32_t,
                                            int32_t, const HuffmanDecodeTable*, HuffmanState*);
    for (AcPrimitive f : {&DecodeProgressiveAcBlock, &RefineProgressiveAcBlock}) {
        EXPECT_EQ(f(nullptr, 0, &position_, block, &marker_, 0, 0, 14, ac, &state_), PrimErrNullPointer);
        EXPECT_EQ(f(src, 0, nullptr, block, &marker_, 0, 0, 14, ac, &state_), PrimErrBadSize);
        EXPECT_EQ(f(src, 2, nullptr, block, &marker_, 0, 0, 14, ac, &state_), PrimErrNullPointer);
        EXPECT_EQ(f(src, 2, &position_, block, &marker_, 0, 5, 0, nullptr, &state_), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, &position_, block, &marker_, 64, 64, 0, ac, &state_), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, &position_, block, &marker_, 5, 4, 0, ac, &state_), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, &position_, block, &marker_, 5, 64, 0, ac, &state_), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, &position_, block, &marker_, 1, 63, 14, nullptr, &state_), PrimErrOutOfRange);
        EXPECT_EQ(f(src, 2, &position_, block, &marker_, 1, 63, 13, ac, nullptr), PrimErrNullPointer);
    }
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 0, &position_, block, &predictor, &marker_, 0, dc_.get(), &state_),
              PrimErrBadSize);
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 2, &position_, block, nullptr, &marker_, -1, dc_.get(), &state_),
              PrimErrNullPointer);
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 2, &position_, block, &predictor, &marker_, -1, nullptr, &state_),
              PrimErrOutOfRange);
    EXPECT_EQ(DecodeProgressiveDcBlock(src, 2, &position_, block, &predictor, &marker_, 0, nullptr, &state_),
              PrimErrNullPointer);
    EXPECT_EQ(RefineProgressiveDcBlock(nullptr, 0, &position_, block, &marker_, 0, &state_), PrimErrNullPointer);
    EXPECT_EQ(RefineProgressiveDcBlock(src, 0, &position_, block, &marker_, 0, &state_), PrimErrBadSize);
    EXPECT_EQ(RefineProgressiveDcBlock(src, 2, &position_, block, &marker_, 14, nullptr), PrimErrOutOfRange);
    EXPECT_EQ(RefineProgressiveDcBlock(src, 2, &position_, block, &marker_, 0, nullptr), PrimErrNullPointer);
    EXPECT_EQ(position_, 0);
    EXPECT_EQ(std::count(block, block + 64, 0), 64);
}

TEST_F(ProgressiveDecoding, RandomFirstScansRoundTrip) {
    std::mt19937 rng(99);
    for (int trial = 0; trial < 24; ++trial) {
        const int ss = 1 + static_cast<int>(rng() % 63);
        const int se = ss + static_cast<int>(rng() % (64 - ss));
        const int al = static_cast<int>(rng() % 4);
        // The last trial holds a run longer than one EOB14 can carry.
        const size_t count = trial == 23 ? 33000 : 300;
        std::vector<std::array<int16_t, 64>> bands(count);  // zig-zag order, units of the scan
        BitWriter dcWriter, acWriter;
        ProgressiveAcEncoder encoder(acWriter, acCoder_);
        int predictor = 0;
        std::vector<size_t> dcReadsAfter;
        for (size_t b = 0; b < count; ++b) {
            std::array<int16_t, 64>& band = bands[b];
            band.fill(0);
            band[0] = static_cast<int16_t>(static_cast<int>(rng() % 2047) - 1023);
            const int density = trial == 23 && b + 1 < count ? 0 : static_cast<int>(rng() % 3) * 24;
            for (int k = ss; k <= se; ++k) {
                if (static_cast<int>(rng() % 64) < density) {
                    const int size = 1 + static_cast<int>(rng() % 10);
                    const int magnitude = (1 << (size - 1)) + static_cast<int>(rng() % (1u << (size - 1)));
                    band[k] = static_cast<int16_t>(rng() % 2 ? magnitude : -magnitude);
                }
            }
            const int diff = band[0] - predictor;
            predictor = band[0];
            dcCoder_.Put(dcWriter, MagnitudeCategory(diff));
            PutValueBits(dcWriter, diff, MagnitudeCategory(diff));
            dcReadsAfter.push_back(dcWriter.reads().size());
            encoder.EncodeBlock(band.data(), ss, se);
        }
        encoder.FlushEobRun();
        dcWriter.PutRawBytes({0xFF, 0xD9});
        acWriter.PutRawBytes({0xFF, 0xD9});

        HuffmanState dcState{}, acState{};
        int32_t dcPosition = 0, acPosition = 0, dcMarker = 0, acMarker = 0;
        int16_t decodedPredictor = 0;
        const int32_t dcLength = static_cast<int32_t>(dcWriter.bytes().size());
        const int32_t acLength = static_cast<int32_t>(acWriter.bytes().size());
        RefillModel dcModel(dcWriter.bytes()), acModel(acWriter.bytes());
        for (size_t b = 0; b < count; ++b) {
            int16_t block[64] = {};
            ASSERT_EQ(DecodeProgressiveDcBlock(dcWriter.bytes().data(), dcLength, &dcPosition, block,
                                               &decodedPredictor, &dcMarker, al, dc_.get(), &dcState),
                      PrimOk);
            ASSERT_EQ(DecodeProgressiveAcBlock(acWriter.bytes().data(), acLength, &acPosition, block, &acMarker, ss,
                                               se, al, ac_.get(), &acState),
                      PrimOk)
                << "trial " << trial << " block " << b;
            int16_t expected[64] = {static_cast<int16_t>(bands[b][0] * (1 << al))};
            for (int k = ss; k <= se; ++k) expected[zigzag_[k]] = static_cast<int16_t>(bands[b][k] * (1 << al));
            ASSERT_TRUE(std::equal(block, block + 64, expected)) << "trial " << trial << " block " << b;
            // Refills where the FillBits and DECODE rules put them: after every DC block,
            // and after the whole AC scan (an EOB run's code is written when
            // the run ends but read in its first block).
            dcModel.Replay(dcWriter.reads(), b == 0 ? 0 : dcReadsAfter[b - 1], dcReadsAfter[b]);
            ASSERT_EQ(dcPosition, dcModel.position) << b;
            ASSERT_EQ(dcState.bitCount, dcModel.state.bitCount) << b;
        }
        EXPECT_EQ(acState.eobRun, 0);
        acModel.Replay(acWriter.reads(), 0, acWriter.reads().size());
        EXPECT_EQ(acPosition, acModel.position);
        EXPECT_EQ(acState.bitCount, acModel.state.bitCount);
        EXPECT_EQ(acState.bitBuffer, acModel.state.bitBuffer);
    }
}

TEST(ProgressiveScans, MatchLibjpegCoefficients) {
    // Smooth areas make long EOB runs, noisy ones many refinement bits.
    const int width = 64, height = 48;
    std::vector<uint8_t> pixels(width * height);
    std::mt19937 rng(11);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            pixels[y * width + x] = static_cast<uint8_t>(y < height / 2 ? 60 + 2 * x : rng() % 256);
        }
    }
    for (int quality : {50, 90}) {
        const std::vector<uint8_t> jpeg = LibjpegCompress(pixels, width, height, 1, quality, true);
        int wide = 0, high = 0;
        const std::vector<int16_t> expected = LibjpegCoefficients(jpeg, &wide, &high);
        // The refinement finds non-zero coefficients with SSE2 or without.
        wemb_test::ForEachSimdLevel([&] {
            const WalkResult walk = WalkGreyStream(jpeg, wide, high);
            EXPECT_EQ(walk.firstFailure, PrimOk);
            EXPECT_EQ(walk.coefficients, expected) << quality;
        });
    }
}

}  // namespace

namespace {

// Whatever the bytes, every block primitive stays inside the source and the
// block (the sanitizer build checks the memory) and ends with a known status.
TEST(EntropyPrimitives, RandomBytesStayInBoundsAndFailCleanly) {
    using namespace testing_support;
    const uint8_t threeOfLengthOne[16] = {3};
    const uint8_t values[3] = {0x01, 0xF1, 0x2E};
    HuffmanDecodeTable* oversubscribed = nullptr;
    ASSERT_EQ(BuildHuffmanDecodeTable(threeOfLengthOne, values, &oversubscribed), PrimErrBadHuffmanTable);
    const DecodeTablePtr owner(oversubscribed);
    const DecodeTablePtr dc = BuildTable(kLuminanceDc), ac = BuildTable(kLuminanceAc);
    const DecodeTablePtr progressiveAc = BuildTable(ProgressiveAcTable());
    const HuffmanDecodeTable* acTables[] = {ac.get(), progressiveAc.get(), oversubscribed};
    std::mt19937 rng(5);
    for (int trial = 0; trial < 3000; ++trial) {
        const int32_t length = 1 + static_cast<int32_t>(rng() % 48);
        std::unique_ptr<uint8_t[]> src(new uint8_t[length]);  // exact size for the address sanitizer
        for (int32_t i = 0; i < length; ++i) src[i] = static_cast<uint8_t>(rng() % 3 == 0 ? 0xFF : rng());
        const HuffmanDecodeTable* acTable = acTables[trial % 3];
        const int kind = static_cast<int>(rng() % 5);
        const int32_t ss = 1 + static_cast<int32_t>(rng() % 63), al = static_cast<int32_t>(rng() % 14);
        const int32_t se = ss + static_cast<int32_t>(rng() % (64 - ss));
        int32_t position = 0, marker = 0;
        HuffmanState state{};
        int16_t predictor = static_cast<int16_t>(rng());
        std::unique_ptr<int16_t[]> block(new int16_t[64]());
        PrimitiveStatus status = PrimOk;
        for (int b = 0; b < 64 && status == PrimOk; ++b) {
            const uint8_t* bytes = src.get();
            int16_t* out = block.get();
            status = kind == 0   ? DecodeSequentialBlock(bytes, length, &position, out, &predictor, &marker, dc.get(), acTable, &state)
                     : kind == 1 ? DecodeProgressiveDcBlock(bytes, length, &position, out, &predictor, &marker, al, acTable, &state)
                     : kind == 2 ? RefineProgressiveDcBlock(bytes, length, &position, out, &marker, al, &state)
                     : kind == 3 ? DecodeProgressiveAcBlock(bytes, length, &position, out, &marker, ss, se, al, acTable, &state)
                                 : RefineProgressiveAcBlock(bytes, length, &position, out, &marker, ss, se, al, acTable, &state);
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
