// Tests of the test support code itself: the stream builder, the baseline
// encoder, the libjpeg reference decoder, the comparison helpers and the
// committed test streams.
#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/baseline_encoder.h"
#include "support/jpeg_stream.h"
#include "support/reference_decoder.h"

namespace wemb_test {
namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------- helpers

struct Segment {
    uint8_t code;
    Bytes payload;  // after the length field
};

// The marker segments from `start` up to and including the first SOS.
std::vector<Segment> HeaderSegments(const Bytes& data, size_t start = 2 /* after SOI */) {
    std::vector<Segment> segments;
    size_t pos = start;
    while (pos + 4 <= data.size() && data[pos] == 0xFF) {
        const uint8_t code = data[pos + 1];
        const size_t length = static_cast<size_t>(data[pos + 2]) << 8 | data[pos + 3];
        if (length < 2 || pos + 2 + length > data.size()) {
            break;
        }
        segments.push_back({code, Bytes(data.begin() + pos + 4, data.begin() + pos + 2 + length)});
        pos += 2 + length;
        if (code == kSos) {
            break;
        }
    }
    return segments;
}

// The first segment with this marker code (a copy: callers often pass a temporary).
std::optional<Segment> FindSegment(const std::vector<Segment>& segments, uint8_t code) {
    for (const Segment& s : segments) {
        if (s.code == code) {
            return s;
        }
    }
    return std::nullopt;
}

// Marker codes of RSTn markers in the stream (a 0xFF in entropy-coded data is
// always followed by 0x00, so a byte scan finds exactly the markers).
std::vector<uint8_t> RestartMarkers(const Bytes& data) {
    std::vector<uint8_t> markers;
    for (size_t i = 0; i + 1 < data.size(); ++i) {
        if (data[i] == 0xFF && data[i + 1] >= 0xD0 && data[i + 1] <= 0xD7) {
            markers.push_back(data[i + 1]);
        }
    }
    return markers;
}

Bytes ReadTestdata(const std::string& name) {
    Bytes data;
    EXPECT_TRUE(ReadFile(TestdataPath(name), &data)) << name;
    return data;
}

// A picture with flat areas, edges, a checkerboard (long zero runs before
// high-frequency coefficients: ZRL codes) and noise (large AC categories).
uint8_t Texture(int32_t x, int32_t y) {
    if ((x / 8 + y / 8) % 4 == 0) {
        return 77;
    }
    if ((x / 8 + y / 8) % 4 == 1) {
        return static_cast<uint8_t>((x + y) % 2 != 0 ? 30 : 220);
    }
    if ((x / 8 + y / 8) % 4 == 2) {
        return static_cast<uint8_t>((x * 2654435761u ^ y * 40503u) >> 7);
    }
    return static_cast<uint8_t>(20 + 3 * x + 2 * y);
}

// ---------------------------------------------------------------- JpegStream

TEST(JpegStream, SegmentsMatchHandWrittenBytes) {
    JpegStream s;
    s.Soi()
        .Dri(1)
        .Sof0(17, 9, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}})
        .Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}})
        .Rst(9)
        .Com("hi")
        .Adobe(2)
        .Eoi();
    const Bytes expected = {
        0xFF, 0xD8,                                      // SOI
        0xFF, 0xDD, 0x00, 0x04, 0x00, 0x01,              // DRI, Ri = 1
        0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x09, 0x00, 0x11, 0x03,  // SOF0 8 bits, Y 9, X 17
        0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01,
        0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11,  // SOS
        0x00, 0x3F, 0x00,                                // Ss 0, Se 63, Ah Al 0
        0xFF, 0xD1,                                      // RST1 (9 modulo 8)
        0xFF, 0xFE, 0x00, 0x04, 'h', 'i',                // COM
        0xFF, 0xEE, 0x00, 0x0E, 'A', 'd', 'o', 'b', 'e', 0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x02,
        0xFF, 0xD9};
    EXPECT_EQ(s.Bytes(), expected);
}

TEST(JpegStream, DqtWritesZigzagOrderWithEightOrSixteenBitEntries) {
    QuantValues natural;
    for (int i = 0; i < 64; ++i) {
        natural[i] = static_cast<uint16_t>(i);
    }
    JpegStream s;
    s.Dqt(1, natural).Dqt(2, natural, 1);
    const Bytes& b = s.Bytes();
    ASSERT_EQ(b.size(), 4u + 65u + 4u + 129u);
    // 8-bit: length 67, Pq 0 Tq 1, then the zig-zag walk of T.81 Figure A.6.
    EXPECT_EQ(Bytes(b.begin(), b.begin() + 13),
              (Bytes{0xFF, 0xDB, 0x00, 0x43, 0x01, 0, 1, 8, 16, 9, 2, 3, 10}));
    EXPECT_EQ(b[4 + 64], 63);
    // 16-bit: length 131, Pq 1 Tq 2, big-endian entries.
    const size_t second = 4 + 65;
    EXPECT_EQ(Bytes(b.begin() + second, b.begin() + second + 11),
              (Bytes{0xFF, 0xDB, 0x00, 0x83, 0x12, 0, 0, 0, 1, 0, 8}));
}

TEST(JpegStream, DhtCarriesCountsAndValues) {
    JpegStream s;
    s.Dht(kDcClass, 0, AnnexKLuminanceDc()).Dht(kAcClass, 3, {1, 0, 1}, {0x00, 0x11});
    const Bytes expected = {
        0xFF, 0xC4, 0x00, 0x1F, 0x00,                    // length 31, Tc 0 Th 0
        0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0,  // T.81 Table K.3 BITS
        0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11,            // HUFFVAL
        0xFF, 0xC4, 0x00, 0x15, 0x13,                    // length 21, Tc 1 Th 3
        1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x00, 0x11};
    EXPECT_EQ(s.Bytes(), expected);
}

TEST(JpegStream, LengthOverrideAppliesToTheNextSegmentOnly) {
    JpegStream s;
    s.WithLength(5).Dri(7).Dri(7).WithLength(0).Com(Bytes{});
    const Bytes expected = {0xFF, 0xDD, 0x00, 0x05, 0x00, 0x07,  // lying length
                            0xFF, 0xDD, 0x00, 0x04, 0x00, 0x07,  // true length again
                            0xFF, 0xFE, 0x00, 0x00};
    EXPECT_EQ(s.Bytes(), expected);
}

TEST(JpegStream, RawAndFillBytesGoInAsGiven) {
    JpegStream s;
    s.Fill(3).Soi().Raw({0x12, 0xFF, 0x00}).Fill(2).Marker(kSof3);
    EXPECT_EQ(s.Bytes(), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xD8, 0x12, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xC3}));
}

// cjpeg -quality 50 writes the Annex K quantization tables unscaled, and cjpeg
// without -optimize writes the Annex K Huffman tables: an outside check of
// every value typed into jpeg_stream.h.
TEST(AnnexKTables, EqualTheTablesThatCjpegWrites) {
    // Payloads of the DQT and DHT segments, in stream order.
    auto tables = [](const std::vector<Segment>& segments) {
        std::vector<Bytes> payloads;
        for (const Segment& s : segments) {
            if (s.code == kDqt || s.code == kDht) {
                payloads.push_back(s.payload);
            }
        }
        return payloads;
    };
    JpegStream ours;
    ours.Dqt(0, kAnnexKLuminanceQuant).Dqt(1, kAnnexKChrominanceQuant);
    ours.Dht(kDcClass, 0, AnnexKLuminanceDc()).Dht(kAcClass, 0, AnnexKLuminanceAc());
    ours.Dht(kDcClass, 1, AnnexKChrominanceDc()).Dht(kAcClass, 1, AnnexKChrominanceAc());

    const std::vector<Bytes> cjpeg = tables(HeaderSegments(ReadTestdata("ycc420_64x48_q50.jpg")));
    const std::vector<Bytes> expected = tables(HeaderSegments(ours.Bytes(), 0));
    ASSERT_EQ(expected.size(), 6u);
    EXPECT_EQ(cjpeg, expected);
}

// ---------------------------------------------------------------- baseline encoder

ReferenceImage DecodeNative(const Bytes& data) {
    ReferenceImage image;
    std::string error;
    EXPECT_TRUE(DecodeReference(data, {ReferenceLayout::kNativeTopDown, true}, &image, &error)) << error;
    return image;
}

// The reference pads rows to 4 bytes while planes are packed: compare row by row.
int MaxPlaneDifference(const ReferenceImage& image, int channel, const SamplePlane& full) {
    int worst = 0;
    for (int32_t y = 0; y < full.height; ++y) {
        for (int32_t x = 0; x < full.width; ++x) {
            const int decoded = image.Row(y)[x * image.channels + channel];
            worst = std::max(worst, std::abs(decoded - full.At(x, y)));
        }
    }
    return worst;
}

TEST(BaselineEncoder, GreyPlanesRoundTripAtFineQuantization) {
    BaselineOptions fine;
    fine.quantTables = {UniformQuant(1)};
    for (auto [w, h] : {std::pair{1, 1}, {64, 1}, {1, 40}, {17, 9}, {33, 17}, {64, 48}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        const SamplePlane y = MakePlane(w, h, 1, 1, Texture);
        const ReferenceImage image = DecodeNative(EncodeBaseline(w, h, {y}, fine));
        ASSERT_EQ(image.width, w);
        ASSERT_EQ(image.height, h);
        ASSERT_EQ(image.channels, 1);
        EXPECT_LE(MaxPlaneDifference(image, 0, y), 2);
    }
}

struct Sampling {
    uint8_t h;
    uint8_t v;
};

TEST(BaselineEncoder, YCbCrPlanesRoundTripInEverySampling) {
    BaselineOptions fine;
    fine.quantTables = {UniformQuant(1)};
    for (Sampling s : {Sampling{1, 1}, Sampling{2, 1}, Sampling{2, 2}}) {
        for (auto [w, h] : {std::pair{1, 1}, {16, 16}, {17, 9}, {33, 17}, {40, 1}, {3, 35}}) {
            SCOPED_TRACE(std::to_string(s.h) + "x" + std::to_string(s.v) + " " + std::to_string(w) + "x" +
                         std::to_string(h));
            // Chroma changes slowly, so that up-sampling restores it closely.
            const SamplePlane y = MakePlane(w, h, s.h, s.v, Texture);
            const SamplePlane cbFull = MakePlane(w, h, 1, 1, [](int32_t x, int32_t yy) {
                return static_cast<uint8_t>(90 + x + yy / 2);
            });
            const SamplePlane crFull = MakePlane(w, h, 1, 1, [](int32_t x, int32_t yy) {
                return static_cast<uint8_t>(170 - x / 2 - yy);
            });
            const SamplePlane cb = Downsample(cbFull, s.h, s.v, 1, 1);
            const SamplePlane cr = Downsample(crFull, s.h, s.v, 1, 1);
            ASSERT_EQ(cb.width, ComponentExtent(w, 1, s.h));
            ASSERT_EQ(cb.height, ComponentExtent(h, 1, s.v));

            const ReferenceImage image = DecodeNative(EncodeBaseline(w, h, {y, cb, cr}, fine));
            ASSERT_EQ(image.width, w);
            ASSERT_EQ(image.height, h);
            ASSERT_EQ(image.channels, 3);
            EXPECT_LE(MaxPlaneDifference(image, 0, y), 2);
            EXPECT_LE(MaxPlaneDifference(image, 1, cbFull), 3);
            EXPECT_LE(MaxPlaneDifference(image, 2, crFull), 3);
        }
    }
}

TEST(BaselineEncoder, AnnexKQuantizationKeepsAPhotoLikePictureClose) {
    const int32_t w = 48;
    const int32_t h = 40;
    const SamplePlane y = MakePlane(w, h, 1, 1, [](int32_t x, int32_t yy) {
        return static_cast<uint8_t>(128 + 60 * std::sin(x * 0.21) * std::cos(yy * 0.13));
    });
    const ReferenceImage image = DecodeNative(EncodeBaseline(w, h, {y}));
    ASSERT_EQ(image.channels, 1);
    Bytes packed;
    for (int32_t row = 0; row < h; ++row) {
        packed.insert(packed.end(), image.Row(row), image.Row(row) + w);
    }
    EXPECT_GT(Psnr(packed.data(), y.samples.data(), w, h, w, 1), 35.0);
}

TEST(BaselineEncoder, RestartIntervalsPutEveryMarkerInTurnWithoutChangingSamples) {
    // 64x48 in 4:2:0 has 4 x 3 = 12 MCUs; 33x17 has 3 x 2 = 6.
    struct Case {
        int32_t w, h;
        uint16_t ri;
        size_t markers;
    };
    for (Case c : {Case{64, 48, 1, 11}, Case{64, 48, 5, 2}, Case{64, 48, 12, 0}, Case{33, 17, 4, 1},
                   Case{33, 17, 7, 0}}) {
        SCOPED_TRACE("Ri " + std::to_string(c.ri) + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
        const SamplePlane y = MakePlane(c.w, c.h, 2, 2, Texture);
        const SamplePlane cb = MakePlane((c.w + 1) / 2, (c.h + 1) / 2, 1, 1, [](int32_t x, int32_t) {
            return static_cast<uint8_t>(100 + x);
        });
        const SamplePlane cr = MakePlane((c.w + 1) / 2, (c.h + 1) / 2, 1, 1, [](int32_t, int32_t yy) {
            return static_cast<uint8_t>(150 - yy);
        });
        BaselineOptions plain;
        BaselineOptions restarts;
        restarts.restartInterval = c.ri;
        const Bytes without = EncodeBaseline(c.w, c.h, {y, cb, cr}, plain);
        const Bytes with = EncodeBaseline(c.w, c.h, {y, cb, cr}, restarts);

        const std::vector<uint8_t> markers = RestartMarkers(with);
        ASSERT_EQ(markers.size(), c.markers);
        for (size_t i = 0; i < markers.size(); ++i) {
            EXPECT_EQ(markers[i], 0xD0 + i % 8) << i;
        }
        const std::optional<Segment> dri = FindSegment(HeaderSegments(with), kDri);
        ASSERT_TRUE(dri.has_value());
        EXPECT_EQ(dri->payload, (Bytes{0, static_cast<uint8_t>(c.ri)}));

        // libjpeg checks the marker sequence (a wrong one is a warning, fatal here).
        const ReferenceImage a = DecodeNative(without);
        const ReferenceImage b = DecodeNative(with);
        EXPECT_EQ(a.pixels, b.pixels);
    }
}

TEST(BaselineEncoder, SixteenBitTablesAreWrittenWithPqOne) {
    // A flat block of 203: DC = 8 * (203 - 128) = 600 = 2 * 300 exactly.
    const SamplePlane y = MakePlane(8, 8, 1, 1, [](int32_t, int32_t) { return uint8_t{203}; });
    BaselineOptions coarse;
    coarse.quantTables = {UniformQuant(300)};
    coarse.sofCode = kSof1;
    const Bytes data = EncodeBaseline(8, 8, {y}, coarse);
    const std::vector<Segment> segments = HeaderSegments(data);
    const std::optional<Segment> dqt = FindSegment(segments, kDqt);
    ASSERT_TRUE(dqt.has_value());
    EXPECT_EQ(dqt->payload.size(), 129u);
    EXPECT_EQ(dqt->payload[0], 0x10);
    EXPECT_TRUE(FindSegment(segments, kSof1).has_value());
    const ReferenceImage image = DecodeNative(data);
    EXPECT_EQ(MaxPlaneDifference(image, 0, y), 0);
}

TEST(BaselineEncoder, AdobeTransformZeroMakesRgbFrames) {
    const SamplePlane r = MakePlane(8, 8, 1, 1, [](int32_t, int32_t) { return uint8_t{200}; });
    const SamplePlane g = MakePlane(8, 8, 1, 1, [](int32_t, int32_t) { return uint8_t{100}; });
    const SamplePlane b = MakePlane(8, 8, 1, 1, [](int32_t, int32_t) { return uint8_t{50}; });
    BaselineOptions options;
    options.quantTables = {UniformQuant(1)};
    options.adobeTransform = 0;
    const Bytes data = EncodeBaseline(8, 8, {r, g, b}, options);
    ReferenceImage image;
    std::string error;
    ASSERT_TRUE(DecodeReference(data, {}, &image, &error)) << error;
    ASSERT_EQ(image.channels, 3);
    EXPECT_EQ(image.Row(3)[3 * 5 + 0], 50);  // B
    EXPECT_EQ(image.Row(3)[3 * 5 + 1], 100);
    EXPECT_EQ(image.Row(3)[3 * 5 + 2], 200);  // R
}

// ---------------------------------------------------------------- reference decoder

TEST(ReferenceDecoder, BottomUpLayoutPutsThePictureTopInTheLastRow) {
    // Width 5: rows of 15 bytes padded to 16. Top 8 rows light, bottom 8 dark.
    const SamplePlane y = MakePlane(5, 16, 1, 1, [](int32_t, int32_t yy) {
        return static_cast<uint8_t>(yy < 8 ? 230 : 30);
    });
    BaselineOptions fine;
    fine.quantTables = {UniformQuant(1)};
    const Bytes data = EncodeBaseline(5, 16, {y}, fine);

    ReferenceImage up;
    ReferenceImage down;
    ASSERT_TRUE(DecodeReference(data, {ReferenceLayout::kBgrBottomUp, true}, &up));
    ASSERT_TRUE(DecodeReference(data, {ReferenceLayout::kBgrTopDown, true}, &down));
    EXPECT_EQ(up.rowStep, 16);
    EXPECT_EQ(up.rowStep, RowStep24(5));
    ASSERT_EQ(up.pixels.size(), 16u * 16u);
    EXPECT_EQ(up.Row(0)[0], 30);    // bottom of the picture
    EXPECT_EQ(up.Row(15)[14], 230); // top of the picture, last byte of R G B
    EXPECT_EQ(up.Row(15)[15], 0);   // padding
    for (int32_t row = 0; row < 16; ++row) {
        EXPECT_TRUE(std::equal(up.Row(row), up.Row(row) + 16, down.Row(15 - row))) << row;
    }
}

TEST(ReferenceDecoder, CmykLayoutGivesTheStoredInkValues) {
    std::vector<SamplePlane> planes;
    for (uint8_t value : {10, 20, 30, 40}) {
        planes.push_back(MakePlane(9, 3, 1, 1, [value](int32_t, int32_t) { return value; }));
    }
    BaselineOptions options;
    options.quantTables = {UniformQuant(1)};
    options.adobeTransform = 0;
    const Bytes data = EncodeBaseline(9, 3, planes, options);

    ReferenceImage image;
    std::string error;
    ASSERT_TRUE(DecodeReference(data, {ReferenceLayout::kCmykTopDown, true}, &image, &error)) << error;
    EXPECT_EQ(image.channels, 4);
    EXPECT_EQ(image.rowStep, 36);
    EXPECT_EQ(image.components, 4);
    EXPECT_EQ((Bytes(image.Row(2) + 32, image.Row(2) + 36)), (Bytes{10, 20, 30, 40}));
    // libjpeg cannot turn CMYK into BGR: that request is an error, not a guess.
    EXPECT_FALSE(DecodeReference(data, {}, &image, &error));
    EXPECT_TRUE(image.pixels.empty());
}

TEST(ReferenceDecoder, RefusesTruncatedDamagedAndEmptyStreams) {
    const Bytes whole = ReadTestdata("ycc420_227x149_q85.jpg");
    ReferenceImage image;
    std::string error;
    ASSERT_TRUE(DecodeReference(whole, {}, &image, &error)) << error;

    const Bytes half(whole.begin(), whole.begin() + whole.size() / 2);
    error.clear();
    EXPECT_FALSE(DecodeReference(half, {}, &image, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(image.pixels.empty());
    // With warnings tolerated libjpeg pads the missing data and succeeds.
    EXPECT_TRUE(DecodeReference(half, {ReferenceLayout::kBgrBottomUp, false}, &image, &error));

    const Bytes headerOnly(whole.begin(), whole.begin() + 100);
    EXPECT_FALSE(DecodeReference(headerOnly, {ReferenceLayout::kBgrBottomUp, false}, &image, &error));
    EXPECT_FALSE(DecodeReference(Bytes{}, {}, &image, &error));
    EXPECT_FALSE(DecodeReference(Bytes{0x89, 'P', 'N', 'G', 0, 0, 0, 0}, {}, &image, &error));

    Bytes badMarker = whole;
    badMarker[whole.size() - 1] = 0xC3;  // EOI becomes SOF3
    EXPECT_FALSE(DecodeReference(badMarker, {}, &image, &error));
}

// ---------------------------------------------------------------- comparison helpers

TEST(CompareImages, CountsOnlyPictureBytesAndMeasuresPsnrByHand) {
    // 2 x 2 pixels of 3 bytes, rows of 8 bytes: bytes 6 and 7 are padding.
    Bytes a = {10, 10, 10, 10, 10, 10, 1, 2, 10, 10, 10, 10, 10, 10, 3, 4};
    Bytes b = {10, 10, 10, 10, 10, 10, 9, 9, 10, 10, 10, 10, 10, 10, 9, 9};
    ImageDifference same = CompareImages(a.data(), b.data(), 2, 2, 8);
    EXPECT_EQ(same.maxAbs, 0);
    EXPECT_EQ(same.differingSamples, 0);
    EXPECT_TRUE(std::isinf(same.psnr));
    EXPECT_EQ(same.firstX, -1);

    b[8 + 4] = 15;  // pixel (1, 1), green, off by 5
    const ImageDifference one = CompareImages(a.data(), b.data(), 2, 2, 8);
    EXPECT_EQ(one.maxAbs, 5);
    EXPECT_EQ(one.differingSamples, 1);
    EXPECT_EQ(one.firstX, 1);
    EXPECT_EQ(one.firstY, 1);
    // MSE = 25 / 12 samples; PSNR = 10 log10(65025 * 12 / 25) = 10 log10(31212).
    EXPECT_NEAR(one.psnr, 44.9432, 1e-3);
    EXPECT_EQ(MaxAbsDifference(a.data(), b.data(), 2, 2, 8), 5);
    EXPECT_NEAR(Psnr(a.data(), b.data(), 2, 2, 8), 44.9432, 1e-3);
}

TEST(ReadFile, ReadsWholeFilesAndReportsMissingOnes) {
    Bytes data;
    ASSERT_TRUE(ReadFile(TestdataPath("grey_1x1_q90.jpg"), &data));
    ASSERT_GE(data.size(), 4u);
    EXPECT_EQ((Bytes{data[0], data[1]}), (Bytes{0xFF, 0xD8}));
    EXPECT_EQ((Bytes{data[data.size() - 2], data[data.size() - 1]}), (Bytes{0xFF, 0xD9}));
    EXPECT_FALSE(ReadFile(TestdataPath("no-such-file.jpg"), &data));
}

// ---------------------------------------------------------------- the committed test streams

// The "_WIDTHxHEIGHT" field of a test stream's name.
bool SizeInName(const std::string& name, int* width, int* height) {
    for (size_t at = name.find('_'); at != std::string::npos; at = name.find('_', at + 1)) {
        char next = 0;
        if (std::sscanf(name.c_str() + at, "_%dx%d%c", width, height, &next) == 3 &&
            (next == '_' || next == '.')) {
            return true;
        }
    }
    return false;
}

// Every stream decodes with libjpeg, without a warning, at the size, component
// count and coding process its name states.
TEST(Testdata, EveryStreamDecodesAsItsNameSays) {
    const std::vector<std::string> names = ListTestdata();
    ASSERT_GE(names.size(), 60u);
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        int width = 0, height = 0;
        ASSERT_TRUE(SizeInName(name, &width, &height));
        const bool fourComponents = name.rfind("cmyk", 0) == 0 || name.rfind("ycck", 0) == 0;
        const int components = name.rfind("grey", 0) == 0 ? 1 : fourComponents ? 4 : 3;

        ReferenceImage image;
        std::string error;
        ReferenceOptions options;
        options.layout = fourComponents ? ReferenceLayout::kCmykTopDown : ReferenceLayout::kBgrBottomUp;
        ASSERT_TRUE(DecodeReference(ReadTestdata(name), options, &image, &error)) << error;
        EXPECT_EQ(image.width, width);
        EXPECT_EQ(image.height, height);
        EXPECT_EQ(image.components, components);
        EXPECT_EQ(image.progressive, name.find("_prog") != std::string::npos);
    }
}

TEST(Testdata, StreamsCarryTheFeaturesTheirNamesPromise) {
    auto header = [](const std::string& name) { return HeaderSegments(ReadTestdata(name)); };

    // 16-bit quantization tables in an SOF1 frame.
    for (const char* name : {"ycc420_sof1_q16bit_64x48_q5.jpg", "grey_sof1_q16bit_64x48_q2.jpg"}) {
        const std::vector<Segment> s = header(name);
        ASSERT_TRUE(FindSegment(s, kSof1).has_value()) << name;
        EXPECT_EQ(FindSegment(s, kDqt)->payload[0] >> 4, 1) << name;
    }
    // Adobe transforms: byte 11 of the APP14 payload.
    const std::vector<std::pair<const char*, int>> adobe = {
        {"rgb_64x48_q90.jpg", 0}, {"cmyk_pil_64x48_q90.jpg", 0}, {"cmyk420_64x48_q90.jpg", 0},
        {"ycck444_64x48_q90.jpg", 2}, {"ycck420_64x48_q90.jpg", 2}, {"ycc420_adobe1_64x48_q85.jpg", 1},
        {"grey_adobe1_64x48_q75.jpg", 1}};
    for (const auto& [name, transform] : adobe) {
        const std::optional<Segment> app14 = FindSegment(header(name), kApp14);
        ASSERT_TRUE(app14.has_value()) << name;
        EXPECT_EQ(app14->payload[11], transform) << name;
    }
    // Restart intervals: 227x149 in 4:2:0 has 15 MCUs per row.
    const std::vector<std::pair<const char*, int>> restart = {
        {"ycc420_rst1mcu_227x149_q85.jpg", 1}, {"ycc420_rst1row_227x149_q85.jpg", 15},
        {"ycc420_rst7mcu_227x149_q85.jpg", 7}, {"grey_rst1mcu_64x48_q75.jpg", 1}};
    for (const auto& [name, ri] : restart) {
        const std::optional<Segment> dri = FindSegment(header(name), kDri);
        ASSERT_TRUE(dri.has_value()) << name;
        EXPECT_EQ(dri->payload[0] << 8 | dri->payload[1], ri) << name;
    }
    // Sampling factors of the first component.
    const std::vector<std::pair<const char*, int>> factors = {
        {"ycc444_64x48_q85.jpg", 0x11}, {"ycc422_64x48_q85.jpg", 0x21}, {"ycc420_64x48_q85.jpg", 0x22},
        {"ycc440_64x48_q85.jpg", 0x12}, {"ycc411_64x48_q85.jpg", 0x41}};
    for (const auto& [name, hv] : factors) {
        const std::optional<Segment> sof = FindSegment(header(name), kSof0);
        ASSERT_TRUE(sof.has_value()) << name;
        EXPECT_EQ(sof->payload[7], hv) << name;
    }
}

}  // namespace
}  // namespace wemb_test
