// The cache of decode tables: a table is built once for each DHT content and
// handed out again for the same counts and values, never replaced while in
// use, and equal to what a build of its own would give, failed builds
// included. Frames decoded through a kept decoder are checked by the output
// digests of driver instances (OutputDigests.EveryThreadCount...).
#include "jpeg/huffman_table_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "jpeg/decoder.h"
#include "primitives/huffman.h"
#include "support/decoder_inspector.h"
#include "support/huffman_encoder.h"
#include "support/jpeg_stream.h"
#include "support/libjpeg_reference.h"
#include "support/testdata_files.h"

namespace {

using namespace wemb_test;

struct Definition {
    uint8_t counts[16] = {};
    uint8_t values[256] = {};
};

// Eight 3-bit codes, the first symbol being `first`.
Definition EightCodes(uint8_t first) {
    Definition d;
    d.counts[2] = 8;
    for (int i = 0; i < 8; ++i) d.values[i] = static_cast<uint8_t>(first + i);
    return d;
}

// What BuildHuffmanDecodeTable gives for the definition, and its status.
bool SameAsABuild(const Definition& d, const HuffmanDecodeTable* table, PrimitiveStatus status) {
    HuffmanDecodeTable* own = nullptr;
    const PrimitiveStatus ownStatus = BuildHuffmanDecodeTable(d.counts, d.values, &own);
    const DecodeTablePtr owner(own);
    return own != nullptr && ownStatus == status && std::memcmp(own, table, sizeof(*own)) == 0;
}

TEST(HuffmanTableCache, SameContentIsBuiltOnce) {
    CHuffmanTableCache cache;
    Definition a = EightCodes(0x10), b = EightCodes(0x10);
    b.values[200] = 0x77;  // beyond the eight values: not part of the content
    const HuffmanDecodeTable *first = nullptr, *second = nullptr, *third = nullptr;
    int32_t e1, e2, e3;
    EXPECT_EQ(cache.Acquire(a.counts, a.values, &first, &e1), PrimOk);
    EXPECT_EQ(cache.Acquire(b.counts, b.values, &second, &e2), PrimOk);
    EXPECT_EQ(first, second);
    EXPECT_EQ(cache.BuildCount(), 1);
    // One value or one count apart: another table.
    b.values[7] = 0x55;
    EXPECT_EQ(cache.Acquire(b.counts, b.values, &third, &e3), PrimOk);
    EXPECT_NE(third, first);
    b.values[7] = a.values[7];
    b.counts[2] = 7;
    b.counts[3] = 2;
    EXPECT_EQ(cache.Acquire(b.counts, b.values, &third, &e3), PrimOk);
    EXPECT_EQ(cache.BuildCount(), 3);
    EXPECT_TRUE(SameAsABuild(a, first, PrimOk));
    EXPECT_TRUE(SameAsABuild(b, third, PrimOk));
}

TEST(HuffmanTableCache, TablesInUseOutliveEveryOtherTable) {
    CHuffmanTableCache cache;
    std::vector<const HuffmanDecodeTable*> kept(8);
    for (int i = 0; i < 8; ++i) {
        const Definition d = EightCodes(static_cast<uint8_t>(i));
        int32_t entry;
        ASSERT_EQ(cache.Acquire(d.counts, d.values, &kept[i], &entry), PrimOk);
    }
    // Many more tables, each released at once: they take turns in the
    // entries that are left.
    for (int i = 8; i < 100; ++i) {
        const Definition d = EightCodes(static_cast<uint8_t>(i));
        const HuffmanDecodeTable* table = nullptr;
        int32_t entry;
        ASSERT_EQ(cache.Acquire(d.counts, d.values, &table, &entry), PrimOk);
        ASSERT_TRUE(SameAsABuild(d, table, PrimOk)) << i;
        cache.Release(entry);
    }
    const int64_t builds = cache.BuildCount();
    EXPECT_EQ(builds, 100);  // each table once
    for (int i = 0; i < 8; ++i) {
        const Definition d = EightCodes(static_cast<uint8_t>(i));
        const HuffmanDecodeTable* table = nullptr;
        int32_t entry;
        ASSERT_EQ(cache.Acquire(d.counts, d.values, &table, &entry), PrimOk);
        EXPECT_EQ(table, kept[i]) << i;
        EXPECT_TRUE(SameAsABuild(d, kept[i], PrimOk)) << i;
    }
    EXPECT_EQ(cache.BuildCount(), builds);
}

TEST(HuffmanTableCache, OnlyTheLastUnusedTablesAreKept) {
    CHuffmanTableCache cache;
    const int kept = CHuffmanTableCache::kKeptUnused;
    // Every entry in use at once, each table then released in turn.
    std::vector<int32_t> entries(CHuffmanTableCache::kEntries);
    for (int i = 0; i < CHuffmanTableCache::kEntries; ++i) {
        const Definition d = EightCodes(static_cast<uint8_t>(i));
        const HuffmanDecodeTable* table = nullptr;
        ASSERT_EQ(cache.Acquire(d.counts, d.values, &table, &entries[i]), PrimOk) << i;
    }
    for (int32_t entry : entries) cache.Release(entry);
    // The tables released last are found; the ones before them are gone.
    const int64_t builds = cache.BuildCount();
    for (int i = CHuffmanTableCache::kEntries - kept; i < CHuffmanTableCache::kEntries; ++i) {
        const Definition d = EightCodes(static_cast<uint8_t>(i));
        const HuffmanDecodeTable* table = nullptr;
        int32_t entry;
        ASSERT_EQ(cache.Acquire(d.counts, d.values, &table, &entry), PrimOk);
        cache.Release(entry);
    }
    EXPECT_EQ(cache.BuildCount(), builds);
    const Definition first = EightCodes(0);
    const HuffmanDecodeTable* table = nullptr;
    int32_t entry;
    ASSERT_EQ(cache.Acquire(first.counts, first.values, &table, &entry), PrimOk);
    EXPECT_EQ(cache.BuildCount(), builds + 1);
}

TEST(HuffmanTableCache, RefusedCountsFailAgainWithTheSamePartlyBuiltTable) {
    CHuffmanTableCache cache;
    Definition d;
    d.counts[0] = 3;  // three 1-bit codes
    d.values[0] = 9;
    const HuffmanDecodeTable *first = nullptr, *second = nullptr;
    int32_t e1, e2;
    EXPECT_EQ(cache.Acquire(d.counts, d.values, &first, &e1), PrimErrBadHuffmanTable);
    EXPECT_EQ(cache.Acquire(d.counts, d.values, &second, &e2), PrimErrBadHuffmanTable);
    EXPECT_EQ(first, second);
    EXPECT_EQ(cache.BuildCount(), 1);
    EXPECT_TRUE(SameAsABuild(d, first, PrimErrBadHuffmanTable));
}

// A decoder kept from frame to frame builds the tables of its first frame
// only, while each frame still fails on a refused table.
TEST(HuffmanTableCache, KeptDecodersBuildEachTableOnce) {
    using namespace wemb_test;
    const std::vector<uint8_t> frame = Testdata("ycc420_64x48_q85.jpg");
    CJPEGDecoder decoder;
    std::vector<uint8_t> first, pixels(64 * 48 * 3);
    int64_t builds = 0;
    for (int n = 0; n < 3; ++n) {
        decoder.BeginFrame();
        decoder.AttachInput(frame.data(), static_cast<int32_t>(frame.size()));
        int32_t w, h, c, m, s;
        ASSERT_EQ(decoder.ParseHeaders(&w, &h, &c, &m, &s), DecOk);
        ASSERT_EQ(decoder.AttachOutput(pixels.data(), 64, 64 * 3, 48, 3, ColorBGR), DecOk);
        ASSERT_EQ(decoder.DecodeImage(), DecOk);
        if (n == 0) {
            first = pixels;
            builds = DecoderInspector(decoder).HuffmanTableBuilds();
            EXPECT_GE(builds, 2);
        }
        EXPECT_EQ(pixels, first);
        EXPECT_EQ(DecoderInspector(decoder).HuffmanTableBuilds(), builds);
    }
    const std::vector<uint8_t> refused =
        JpegStream().Soi().Dht(kDcClass, 0, HuffmanCodeLengths{{3}, {1, 2, 3}}).Eoi().Bytes();
    for (int n = 0; n < 2; ++n) {
        decoder.BeginFrame();
        decoder.AttachInput(refused.data(), static_cast<int32_t>(refused.size()));
        int32_t w, h, c, m, s;
        EXPECT_EQ(decoder.ParseHeaders(&w, &h, &c, &m, &s), DecErrFailed);
    }
}

}  // namespace
