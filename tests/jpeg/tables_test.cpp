// DQT and DHT segments: which tables they install and how their lengths are
// accounted.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <vector>

#include "jpeg/decoder.h"
#include "support/decoder_inspector.h"
#include "support/jpeg_stream.h"

namespace {

using namespace wemb_test;
using Bytes = std::vector<uint8_t>;

DecoderStatus Parse(CJPEGDecoder& decoder, const Bytes& bytes) {
    decoder.AttachInput(bytes.data(), static_cast<int32_t>(bytes.size()));
    int32_t w, h, n, c, m;
    return decoder.ParseHeaders(&w, &h, &n, &c, &m);
}

// Natural-order values base, base + 1, base + 2, ...
QuantValues Ramp(uint16_t base) {
    QuantValues values;
    for (int i = 0; i < 64; ++i) values[i] = static_cast<uint16_t>(base + i);
    return values;
}

// Symbols 0, 1, 2, ... for the given number of codes of each length.
HuffmanCodeLengths Counts(std::array<uint8_t, 16> counts) {
    HuffmanCodeLengths table{counts, {}};
    const int total = std::accumulate(counts.begin(), counts.end(), 0);
    for (int i = 0; i < total; ++i) table.values.push_back(static_cast<uint8_t>(i));
    return table;
}

TEST(QuantTables, SegmentsInstallTheirTablesInNaturalOrder) {
    QuantValues wide = Ramp(1);
    wide[0] = 0x0102;
    wide[9] = 0xFFFF;
    JpegStream s;
    // Four tables in one segment, 8 and 16-bit entries; a later segment
    // replaces table 2; an empty segment defines nothing.
    s.Soi().Dqt({{0, 0, Ramp(1)}, {1, 1, wide}, {2, 0, Ramp(3)}, {3, 0, Ramp(4)}}).Dqt(2, Ramp(50));
    s.Segment(kDqt, {}).Eoi();
    CJPEGDecoder decoder;
    ASSERT_EQ(Parse(decoder, s.Bytes()), DecOk);
    wide[9] = 32767;  // block reconstruction reads the entries as signed
    const QuantValues expected[] = {Ramp(1), wide, Ramp(50), Ramp(4)};
    DecoderInspector inspect(decoder);
    for (int id = 0; id < 4; ++id) {
        ASSERT_NE(inspect.QuantTable(id), nullptr);
        EXPECT_TRUE(std::equal(expected[id].begin(), expected[id].end(), inspect.QuantTable(id)->m_preparedValues))
            << "table " << id;
    }
}

// (DHT and DQT segments of several tables are decoded from
// testdata/ycc420_merged_tables_64x48_q85.jpg by the reference tests.)
TEST(HuffmanTables, AnyClassAboveZeroIsAnAcTable) {
    CJPEGDecoder decoder;
    ASSERT_EQ(Parse(decoder, JpegStream().Soi().Dht(2, 1, Counts({1, 1})).Eoi().Bytes()), DecOk);
    DecoderInspector inspect(decoder);
    ASSERT_NE(inspect.AcTable(1), nullptr);
    EXPECT_EQ(inspect.DcTable(1), nullptr);
}

TEST(TableSegments, MalformedSegmentsGiveTheirStatus) {
    struct Case {
        const char* what;
        Bytes bytes;
        DecoderStatus expected;
    };
    HuffmanCodeLengths lying = Counts({0, 3});
    lying.values.pop_back();
    // A DQT segment one byte too long, which reads the next byte as one more
    // Pq/Tq byte: 0x05 names slot 5; 0x01 names slot 1, read from what follows.
    JpegStream longTable;
    longTable.Soi().WithLength(2 + 65 + 1).Dqt(0, Ramp(1)).Raw({0x01});
    for (int i = 0; i < 64; ++i) longTable.Raw({static_cast<uint8_t>(100 + i)});
    Bytes cutTable = JpegStream().Soi().Dqt(0, Ramp(1)).Bytes();
    cutTable.resize(cutTable.size() - 10);
    std::vector<Case> cases = {
        {"DQT id 4", JpegStream().Soi().Dqt({{0, 0, Ramp(1)}, {4, 0, Ramp(1)}}).Eoi().Bytes(), DecErrBadQuantTableId},
        {"DQT long, next byte 0x05", JpegStream().Soi().WithLength(2 + 65 + 1).Dqt(0, Ramp(1)).Raw({0x05}).Eoi().Bytes(),
         DecErrBadQuantTableId},
        {"DQT long, next byte 0x01", longTable.Eoi().Bytes(), DecErrBadLength},
        {"DQT short", JpegStream().Soi().WithLength(2 + 65 - 1).Dqt(3, Ramp(7)).Eoi().Bytes(), DecErrBadLength},
        {"DQT length 1", JpegStream().Soi().WithLength(1).Segment(kDqt, {}).Eoi().Bytes(), DecErrBadLength},
        {"DQT cut by the end of the data", cutTable, DecErrEndOfData},
        {"DHT without codes", JpegStream().Soi().Dht(kDcClass, 0, Counts({})).Eoi().Bytes(), DecOk},
        {"DHT of 255 codes", JpegStream().Soi().Dht(kAcClass, 3, Counts({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255})).Eoi().Bytes(),
         DecOk},
        {"DHT of 256 codes", JpegStream().Soi().Dht(kAcClass, 3, Counts({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 255})).Eoi().Bytes(),
         DecOk},
        {"DHT of 257 codes", JpegStream().Soi().Dht(kAcClass, 3, Counts({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 255})).Eoi().Bytes(),
         DecErrBadHuffmanSegment},
        {"DHT short of its values", JpegStream().Soi().Dht(kDcClass, 0, lying).Eoi().Bytes(), DecErrBadHuffmanSegment},
        {"DHT of three 1-bit codes", JpegStream().Soi().Dht(kDcClass, 0, Counts({3})).Eoi().Bytes(), DecErrFailed},
        {"DHT id 4", JpegStream().Soi().Dht(kDcClass, 4, Counts({1})).Eoi().Bytes(), DecErrBadHuffmanSegment},
        {"DHT long", JpegStream().Soi().WithLength(2 + 17 + 1 + 1).Dht(kDcClass, 0, Counts({1})).Raw({0x00}).Eoi().Bytes(),
         DecErrBadLength},
    };
    for (uint16_t length : {3, 10, 18}) {
        cases.push_back({"DHT cut inside its counts",
                         JpegStream().Soi().WithLength(length).Segment(kDht, Bytes(length - 2, 0)).Eoi().Bytes(),
                         DecErrBadLength});
    }
    for (const Case& c : cases) {
        CJPEGDecoder decoder;
        EXPECT_EQ(Parse(decoder, c.bytes), c.expected) << c.what;
    }
}

}  // namespace
