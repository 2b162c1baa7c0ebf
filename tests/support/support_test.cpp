// Tests of the test helpers that no other test checks from outside: the
// stream builder (its streams go to the codec only), the picture comparison
// (one that never failed would pass every test), what the reference decoder
// reports of a stream (the picture check of decode_check_fuzzer decides by
// it which frames to compare) and the Annex K tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "support/jpeg_stream.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"

namespace wemb_test {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(JpegStream, SegmentsMatchHandWrittenBytes) {
    QuantValues natural;
    for (int i = 0; i < 64; ++i) natural[i] = static_cast<uint16_t>(i);
    JpegStream s;
    s.Fill(1).Soi()
        .WithLength(5).Dri(1)
        .Sof0(17, 9, {{1, 2, 2, 0}, {2, 1, 1, 1}})
        .Sos({{1, 0, 0}, {2, 1, 1}}, 1, 5, 2, 3)
        .Rst(9)
        .Dht(kAcClass, 3, {{1, 0, 1}, {0x00, 0x11}})
        .Adobe(2)
        .Dqt(1, natural)
        .Dqt(2, natural, 1);
    Bytes expected = {
        0xFF, 0xFF, 0xD8,                                            // fill, SOI
        0xFF, 0xDD, 0x00, 0x05, 0x00, 0x01,                          // DRI with a lying length
        0xFF, 0xC0, 0x00, 0x0E, 0x08, 0x00, 0x09, 0x00, 0x11, 0x02,  // SOF0 8 bits, Y 9, X 17
        0x01, 0x22, 0x00, 0x02, 0x11, 0x01,
        0xFF, 0xDA, 0x00, 0x0A, 0x02, 0x01, 0x00, 0x02, 0x11, 0x01, 0x05, 0x23,  // SOS
        0xFF, 0xD1,                                                  // RST1 (9 modulo 8)
        0xFF, 0xC4, 0x00, 0x15, 0x13,                                // DHT, Tc 1 Th 3
        1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x11,
        0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'e', 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x02,
        0xFF, 0xDB, 0x00, 0x43, 0x01};                               // DQT, Pq 0 Tq 1
    // Entries in the zig-zag order of T.81 Figure A.6, 8 bits, then 16 bits.
    for (uint8_t natural : kZigzagToNatural) expected.push_back(natural);
    expected.insert(expected.end(), {0xFF, 0xDB, 0x00, 0x83, 0x12});
    for (uint8_t natural : kZigzagToNatural) expected.insert(expected.end(), {0, natural});
    EXPECT_EQ(s.Bytes(), expected);
}

TEST(CompareImages, CountsOnlyPictureBytesAndMeasuresPsnrByHand) {
    // 2 x 2 pixels of 3 bytes, rows of 8 bytes: bytes 6 and 7 are padding.
    Bytes a = {10, 10, 10, 10, 10, 10, 1, 2, 10, 10, 10, 10, 10, 10, 3, 4};
    Bytes b = {10, 10, 10, 10, 10, 10, 9, 9, 10, 10, 10, 10, 10, 10, 9, 9};
    const ImageDifference same = CompareImages(a.data(), b.data(), 2, 2, 8);
    EXPECT_EQ(same.maxAbs, 0);
    EXPECT_TRUE(std::isinf(same.psnr));

    b[8 + 4] = 15;  // pixel (1, 1), green, off by 5
    const ImageDifference one = CompareImages(a.data(), b.data(), 2, 2, 8);
    EXPECT_EQ(one.maxAbs, 5);
    // MSE = 25 / 12 samples; PSNR = 10 log10(65025 * 12 / 25) = 10 log10(31212).
    EXPECT_NEAR(one.psnr, 44.9432, 1e-3);
}

TEST(LargestDifferenceOutsideBandEdges, SkipsOnlyTheLastRowOfEachBandOfSequential420) {
    // 1 x 32 pixels, rows of 4 bytes; the pictures differ by 9 in rows 15
    // and 31, by 2 in row 16.
    Bytes a(4 * 32, 100), b = a;
    b[4 * 15] = b[4 * 31 + 2] = 109;
    b[4 * 16 + 1] = 98;
    EXPECT_EQ(LargestDifferenceOutsideBandEdges(a.data(), b.data(), 1, 32, 4, true), 2);
    EXPECT_EQ(LargestDifferenceOutsideBandEdges(a.data(), b.data(), 1, 32, 4, false), 9);
    EXPECT_EQ(LargestDifferenceOutsideBandEdges(a.data(), b.data(), 1, 15, 4, false), 0);
}

TEST(DecodeReference, ReportsColourSpaceAndScans) {
    struct Case {
        const char* name;
        int32_t colorSpace, scans;
    };
    for (const Case& c : {Case{"grey_64x48_q75.jpg", 1, 1}, Case{"rgb_33x17_q90.jpg", 2, 1},
                          Case{"ycc420_33x17_q85.jpg", 3, 1}, Case{"ycc420_prog_33x17_q85.jpg", 3, 10},
                          Case{"ycc420_prog_dconly_64x48_q85.jpg", 3, 1}, Case{"cmyk_pil_64x48_q90.jpg", 4, 1},
                          Case{"ycck444_64x48_q90.jpg", 5, 1}}) {
        SCOPED_TRACE(c.name);
        ReferenceImage image;
        const ReferenceLayout layout = c.colorSpace >= 4 ? ReferenceLayout::kCmykTopDown : ReferenceLayout::kBgrTopDown;
        ASSERT_TRUE(DecodeReference(Testdata(c.name), layout, &image));
        EXPECT_EQ(image.colorSpace, c.colorSpace);
        EXPECT_EQ(image.scans, c.scans);
    }
}

// Every test stream (made by encoders from 8-bit pictures) stays within the
// range the picture check of decode_check_fuzzer compares in; coefficients
// no encoder makes leave it, and a stream libjpeg refuses has no value.
TEST(SurveyCoefficients, NaturalStreamsStayNearTheSampleRange) {
    for (const std::string& name : ListTestdata()) {
        CoefficientSurvey survey;
        ASSERT_TRUE(SurveyCoefficients(Testdata(name), &survey)) << name;
        EXPECT_GT(survey.largestExactSample, 40.0) << name;
        EXPECT_LE(survey.largestExactSample, 256.0) << name;
    }
    // One DC coefficient of 1000 with a quantizer of 16: a flat block of
    // 16000 / 8 = 2000.
    JpegStream s;
    const HuffmanCodeLengths dc = {{0, 0, 0, 1}, {0x0A}};  // "0000": category 10
    const HuffmanCodeLengths ac = {{1}, {0x00}};           // "0": EOB
    s.Soi().Dqt(0, UniformQuant(16)).Dht(kDcClass, 0, dc).Dht(kAcClass, 0, ac).Sof0(8, 8, {{1, 1, 1, 0}});
    // 0000, then 1000 in 10 bits (1111101000), then EOB 0, then a 1 of padding.
    s.Sos({{1, 0, 0}}).Raw({0x0F, 0xA1}).Eoi();
    CoefficientSurvey survey;
    ASSERT_TRUE(SurveyCoefficients(s.Bytes(), &survey));
    EXPECT_NEAR(survey.largestExactSample, 2000.0, 1e-6);
    EXPECT_FALSE(survey.lastCoefficientSet);
    EXPECT_FALSE(SurveyCoefficients(Bytes(s.Bytes().begin(), s.Bytes().begin() + 30), &survey));
}

// A run that carries a coefficient past position 63: libjpeg puts it at 63
// and says nothing.
TEST(SurveyCoefficients, SeesACoefficientRunPastTheEndOfItsBlock) {
    JpegStream s;
    const HuffmanCodeLengths dc = {{1}, {0x00}};              // "0": DC difference 0
    const HuffmanCodeLengths ac = {{0, 2}, {0xF0, 0xF1}};     // "00": ZRL, "01": run 15, size 1
    s.Soi().Dqt(0, UniformQuant(1)).Dht(kDcClass, 0, dc).Dht(kAcClass, 0, ac).Sof0(8, 8, {{1, 1, 1, 0}});
    // DC 0, three ZRLs (k = 49), then run 15 size 1 (k = 64) with value 1:
    // 0 00 00 00 01 1, padded with ones (0xFF, stuffed).
    s.Sos({{1, 0, 0}}).Raw({0x00, 0xFF, 0x00}).Eoi();
    CoefficientSurvey survey;
    ASSERT_TRUE(SurveyCoefficients(s.Bytes(), &survey));
    EXPECT_TRUE(survey.lastCoefficientSet);
}

// The Annex K tables read from libjpeg's defaults are the ones cjpeg -quality 50
// writes. Nothing else checks them: the primitives tests encode and decode
// with the same tables, so a wrong one would go unnoticed there.
TEST(AnnexKTables, EqualTheTablesThatCjpegWrites) {
    const Bytes cjpeg = Testdata("ycc420_64x48_q50.jpg");
    JpegStream ours;
    ours.Dqt(0, AnnexKLuminanceQuant());
    ours.Dht(kDcClass, 0, AnnexKLuminanceDc()).Dht(kAcClass, 0, AnnexKLuminanceAc());
    ours.Dht(kDcClass, 1, AnnexKChrominanceDc()).Dht(kAcClass, 1, AnnexKChrominanceAc());
    for (size_t at = 0; at + 4 < ours.Bytes().size();) {
        const size_t length = 2 + (ours.Bytes()[at + 2] << 8 | ours.Bytes()[at + 3]);
        const Bytes segment(ours.Bytes().begin() + at, ours.Bytes().begin() + at + length);
        EXPECT_NE(std::search(cjpeg.begin(), cjpeg.end(), segment.begin(), segment.end()), cjpeg.end()) << at;
        at += length;
    }
}

}  // namespace
}  // namespace wemb_test
