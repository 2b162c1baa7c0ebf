// DQT and DHT segments: which tables they install and how their lengths are
// accounted.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "jpeg/decoder.h"
#include "primitives/huffman.h"
#include "primitives/idct.h"
#include "support/decoder_inspector.h"
#include "support/jpeg_stream.h"

namespace {

using namespace wemb_test;

DecoderStatus Parse(CJPEGDecoder& decoder, const std::vector<uint8_t>& bytes) {
    decoder.AttachInput(bytes.data(), static_cast<int32_t>(bytes.size()));
    int32_t w, h, n, c, m;
    return decoder.ParseHeaders(&w, &h, &n, &c, &m);
}

DecoderStatus Parse(const std::vector<uint8_t>& bytes) {
    CJPEGDecoder decoder;
    return Parse(decoder, bytes);
}

// Natural-order values 1, 2, 3, ... offset by `base`.
QuantValues Ramp(uint16_t base) {
    QuantValues values;
    for (int i = 0; i < 64; ++i) values[i] = static_cast<uint16_t>(base + i);
    return values;
}

void ExpectPrepared(const CJPEGDecoderQuantTable* table, const QuantValues& natural) {
    ASSERT_NE(table, nullptr);
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(table->m_preparedValues[i], natural[i]) << "entry " << i;
    }
}

TEST(QuantTables, OneSegmentMayDefineAllFourSlots) {
    JpegStream s;
    s.Soi().Dqt({{0, 0, Ramp(1)}, {1, 0, Ramp(2)}, {2, 0, Ramp(3)}, {3, 0, Ramp(4)}}).Eoi();
    ASSERT_EQ(s.Size(), 2u + 2 + 262 + 2);
    CJPEGDecoder decoder;
    ASSERT_EQ(Parse(decoder, s.Bytes()), DecOk);
    DecoderInspector inspect(decoder);
    for (int id = 0; id < 4; ++id) {
        ExpectPrepared(inspect.QuantTable(id), Ramp(static_cast<uint16_t>(id + 1)));
        EXPECT_EQ(inspect.QuantTable(id)->m_tableId, id);
        // The raw values stay in the segment's zig-zag order.
        EXPECT_EQ(inspect.QuantTable(id)->m_rawValues[2], id + 1 + kZigzagToNatural[2]);
    }
}

TEST(QuantTables, EmptySegmentIsAcceptedAndDefinesNothing) {
    JpegStream s;
    s.Soi().Segment(kDqt, {}).Eoi();
    CJPEGDecoder decoder;
    ASSERT_EQ(Parse(decoder, s.Bytes()), DecOk);
    EXPECT_EQ(DecoderInspector(decoder).QuantTable(0), nullptr);
}

TEST(QuantTables, SixteenBitEntriesAreUsedWhole) {
    QuantValues wide = Ramp(1);
    wide[0] = 0x0102;
    wide[9] = 0xFFFF;
    JpegStream s;
    s.Soi().Dqt({{0, 1, Ramp(1)}, {1, 1, wide}}).Eoi();
    CJPEGDecoder decoder;
    ASSERT_EQ(Parse(decoder, s.Bytes()), DecOk);
    DecoderInspector inspect(decoder);
    ExpectPrepared(inspect.QuantTable(0), Ramp(1));  // same as 8-bit entries
    EXPECT_EQ(inspect.QuantTable(1)->m_rawValues[0], 0x02) << "raw bytes keep the low byte";
    EXPECT_EQ(inspect.QuantTable(1)->m_preparedValues[0], 0x0102);
    EXPECT_EQ(inspect.QuantTable(1)->m_preparedValues[9], 32767) << "read as signed later";
}

TEST(QuantTables, ALaterSegmentReplacesTheTable) {
    JpegStream s;
    s.Soi().Dqt(2, Ramp(1)).Dqt(2, Ramp(50)).Eoi();
    CJPEGDecoder decoder;
    ASSERT_EQ(Parse(decoder, s.Bytes()), DecOk);
    ExpectPrepared(DecoderInspector(decoder).QuantTable(2), Ramp(50));
}

TEST(QuantTables, IdentifiersAboveThreeAreRefused) {
    JpegStream s;
    s.Soi().Dqt({{0, 0, Ramp(1)}, {4, 0, Ramp(1)}}).Eoi();
    CJPEGDecoder decoder;
    EXPECT_EQ(Parse(decoder, s.Bytes()), DecErrBadQuantTableId);
    EXPECT_NE(DecoderInspector(decoder).QuantTable(0), nullptr) << "earlier entries stay";
}

TEST(QuantTables, LengthsThatDoNotMatchTheTables) {
    // One byte too long: the byte after the segment is read as one more
    // Pq/Tq byte. 0x05 names slot 5.
    JpegStream longId;
    longId.Soi().WithLength(2 + 65 + 1).Dqt(0, Ramp(1)).Raw({0x05}).Eoi();
    EXPECT_EQ(Parse(longId.Bytes()), DecErrBadQuantTableId);
    // Byte 0x01 names slot 1: a further table is read from what follows and
    // installed before the length is found wrong.
    JpegStream longTable;
    longTable.Soi().WithLength(2 + 65 + 1).Dqt(0, Ramp(1)).Raw({0x01});
    for (int i = 0; i < 64; ++i) longTable.Raw({static_cast<uint8_t>(100 + i)});
    longTable.Eoi();
    CJPEGDecoder decoder;
    EXPECT_EQ(Parse(decoder, longTable.Bytes()), DecErrBadLength);
    ASSERT_NE(DecoderInspector(decoder).QuantTable(1), nullptr);
    EXPECT_EQ(DecoderInspector(decoder).QuantTable(1)->m_rawValues[0], 100);
    // One byte too short: the last table is still read whole and installed.
    JpegStream shortLength;
    shortLength.Soi().WithLength(2 + 65 - 1).Dqt(3, Ramp(7)).Eoi();
    CJPEGDecoder shortDecoder;
    EXPECT_EQ(Parse(shortDecoder, shortLength.Bytes()), DecErrBadLength);
    ExpectPrepared(DecoderInspector(shortDecoder).QuantTable(3), Ramp(7));
    // A length below two.
    JpegStream one;
    one.Soi().WithLength(1).Segment(kDqt, {}).Eoi();
    EXPECT_EQ(Parse(one.Bytes()), DecErrBadLength);
}

TEST(QuantTables, ATableCutByTheEndOfTheDataIsNotRead) {
    JpegStream s;
    s.Soi().Dqt(0, Ramp(1));
    std::vector<uint8_t> bytes = s.Bytes();
    bytes.resize(bytes.size() - 10);
    EXPECT_EQ(Parse(bytes), DecErrEndOfData);
}

HuffmanCodeLengths Counts(std::array<uint8_t, 16> counts) {
    HuffmanCodeLengths spec{counts, {}};
    const int total = std::accumulate(counts.begin(), counts.end(), 0);
    for (int i = 0; i < total; ++i) spec.values.push_back(static_cast<uint8_t>(i));
    return spec;
}

TEST(HuffmanTables, OneSegmentMayHoldTheFourUsualTables) {
    JpegStream s;
    s.Soi()
        .Dht({{kDcClass, 0, AnnexKLuminanceDc()},
              {kAcClass, 0, AnnexKLuminanceAc()},
              {kDcClass, 1, AnnexKChrominanceDc()},
              {kAcClass, 1, AnnexKChrominanceAc()}})
        .Eoi();
    CJPEGDecoder decoder;
    ASSERT_EQ(Parse(decoder, s.Bytes()), DecOk);
    DecoderInspector inspect(decoder);
    for (int id = 0; id < 2; ++id) {
        ASSERT_NE(inspect.DcTable(id), nullptr);
        ASSERT_NE(inspect.AcTable(id), nullptr);
        EXPECT_NE(inspect.DcTable(id)->m_codeTable, nullptr);
        EXPECT_EQ(inspect.DcTable(id)->m_tableClass, 0);
        EXPECT_EQ(inspect.AcTable(id)->m_tableClass, 1);
        EXPECT_EQ(inspect.AcTable(id)->m_tableId, id);
    }
    EXPECT_EQ(inspect.AcTable(1)->m_symbols[0], 0x00);  // K.6 begins with EOB
    EXPECT_EQ(inspect.AcTable(1)->m_codeCounts[15], 0x77);
    EXPECT_EQ(inspect.DcTable(2), nullptr);
}

TEST(HuffmanTables, CountLimits) {
    JpegStream empty;
    empty.Soi().Dht(kDcClass, 0, Counts({})).Eoi();  // Lh = 19
    CJPEGDecoder decoder;
    EXPECT_EQ(Parse(decoder, empty.Bytes()), DecOk);
    EXPECT_NE(DecoderInspector(decoder).DcTable(0), nullptr);

    // 256 codes of 16 bits fit; 257 do not.
    JpegStream full;
    full.Soi().Dht(kAcClass, 3, Counts({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 255})).Eoi();
    EXPECT_EQ(Parse(full.Bytes()), DecOk);
    JpegStream exactly256;
    exactly256.Soi().Dht(kAcClass, 3, Counts({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 255})).Eoi();
    EXPECT_EQ(Parse(exactly256.Bytes()), DecOk);
    JpegStream over;
    over.Soi().Dht(kAcClass, 3, Counts({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 255})).Eoi();
    EXPECT_EQ(Parse(over.Bytes()), DecErrBadHuffmanSegment);
    // More values announced than the segment holds.
    JpegStream lying;
    HuffmanCodeLengths spec = Counts({0, 3});
    spec.values.pop_back();
    lying.Soi().Dht(kDcClass, 0, spec).Eoi();
    EXPECT_EQ(Parse(lying.Bytes()), DecErrBadHuffmanSegment);
    // Counts that cannot form a code (three codes of one bit).
    JpegStream oversubscribed;
    oversubscribed.Soi().Dht(kDcClass, 0, Counts({3})).Eoi();
    EXPECT_EQ(Parse(oversubscribed.Bytes()), DecErrFailed);
}

TEST(HuffmanTables, ClassesAndReplacement) {
    JpegStream s;
    s.Soi()
        .Dht(2, 1, Counts({1, 1}))  // Tc = 2 is an AC table of class 2
        .Dht(kAcClass, 1, AnnexKChrominanceAc())
        .Dht(kAcClass, 1, AnnexKLuminanceAc())
        .Eoi();
    CJPEGDecoder decoder;
    ASSERT_EQ(Parse(decoder, s.Bytes()), DecOk);
    EXPECT_EQ(DecoderInspector(decoder).AcTable(1)->m_codeCounts[15], 0x7d) << "the last one wins";

    JpegStream classTwo;
    classTwo.Soi().Dht(2, 1, Counts({1, 1})).Eoi();
    CJPEGDecoder classDecoder;
    ASSERT_EQ(Parse(classDecoder, classTwo.Bytes()), DecOk);
    EXPECT_EQ(DecoderInspector(classDecoder).AcTable(1)->m_tableClass, 2);
}

TEST(HuffmanTables, BadIdentifiersAndLengths) {
    JpegStream id4;
    id4.Soi().Dht(kDcClass, 4, Counts({1})).Eoi();
    EXPECT_EQ(Parse(id4.Bytes()), DecErrBadHuffmanSegment) << "only four slots";

    JpegStream tooLong;
    tooLong.Soi().WithLength(2 + 17 + 1 + 1).Dht(kDcClass, 0, Counts({1})).Raw({0x00}).Eoi();
    CJPEGDecoder decoder;
    EXPECT_EQ(Parse(decoder, tooLong.Bytes()), DecErrBadLength);
    EXPECT_NE(DecoderInspector(decoder).DcTable(0), nullptr) << "complete entries stay";

    for (uint16_t length : {3, 10, 18}) {
        JpegStream s;
        s.Soi().WithLength(length).Segment(kDht, std::vector<uint8_t>(length - 2, 0)).Eoi();
        EXPECT_EQ(Parse(s.Bytes()), DecErrBadLength) << "Lh " << length;
    }
}

}  // namespace
