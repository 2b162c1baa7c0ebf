#include "primitives/memory.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "primitives/huffman.h"

namespace {

TEST(AlignedAlloc, BlocksAreAlignedUsableAndIndependent) {
    std::vector<void*> blocks;
    for (int32_t size : {1, 3, 31, 32, 33, 100, 4096, 1 << 20}) {
        void* block = AlignedAlloc(size);
        ASSERT_NE(block, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 32, 0u) << size;
        std::memset(block, 0xA5, static_cast<size_t>(size));  // ASan checks the extent
        blocks.push_back(block);
    }
    for (void* block : blocks) {
        AlignedFree(block);
    }
}

TEST(AlignedAllocZeroed, GivesZeroBytesEvenWhereTheHeapHadData) {
    // Freed memory full of data is what the heap hands out next.
    for (int round = 0; round < 3; ++round) {
        void* used = AlignedAlloc(1 << 16);
        ASSERT_NE(used, nullptr);
        std::memset(used, 0xC3, 1 << 16);
        AlignedFree(used);
        uint8_t* block = static_cast<uint8_t*>(AlignedAllocZeroed(1 << 16));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 32, 0u);
        for (int i = 0; i < (1 << 16); ++i) ASSERT_EQ(block[i], 0) << i;
        AlignedFree(block);
    }
    EXPECT_EQ(AlignedAllocZeroed(0), nullptr);
}

TEST(AlignedAlloc, RefusesNonPositiveAndOverflowingSizes) {
    EXPECT_EQ(AlignedAlloc(0), nullptr);
    EXPECT_EQ(AlignedAlloc(-5), nullptr);
    EXPECT_EQ(AlignedAlloc(INT32_MIN), nullptr);
}

TEST(AlignedFree, NullIsIgnoredAndFreeCheckedRefusesIt) {
    AlignedFree(nullptr);
    EXPECT_EQ(FreeChecked(nullptr), PrimErrNullPointer);
    void* block = AlignedAlloc(64);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(FreeChecked(block), PrimOk);
}

TEST(HeapStatistics, CountRequestedBytesUntilReleasedAndKeepThePeak) {
    const HeapStatistics before = ReadHeapStatistics();
    ResetHeapPeak();
    EXPECT_EQ(ReadHeapStatistics().peakBytes, before.bytesInUse);

    void* first = HeapAllocate(1000);
    void* second = HeapAllocate(24);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(ReadHeapStatistics().bytesInUse, before.bytesInUse + 1024);
    HeapRelease(first);
    const HeapStatistics afterOne = ReadHeapStatistics();
    EXPECT_EQ(afterOne.bytesInUse, before.bytesInUse + 24);
    EXPECT_EQ(afterOne.peakBytes, before.bytesInUse + 1024);

    ResetHeapPeak();
    EXPECT_EQ(ReadHeapStatistics().peakBytes, before.bytesInUse + 24);
    HeapRelease(second);
    HeapRelease(nullptr);  // nothing to count
    EXPECT_EQ(ReadHeapStatistics().bytesInUse, before.bytesInUse);
}

TEST(HeapStatistics, AnInjectedFailureCountsNothing) {
    const int64_t before = ReadHeapStatistics().bytesInUse;
    FailAllocationAfter(1);
    EXPECT_EQ(HeapAllocate(64), nullptr);
    FailAllocationAfter(0);
    EXPECT_EQ(ReadHeapStatistics().bytesInUse, before);
}

TEST(HeapStatistics, AlignedBlocksAreCountedWithTheirPaddingAndGiveItAllBack) {
    const int64_t before = ReadHeapStatistics().bytesInUse;
    void* block = AlignedAlloc(4096);
    ASSERT_NE(block, nullptr);
    const int64_t counted = ReadHeapStatistics().bytesInUse - before;
    EXPECT_GE(counted, 4096 + kAlignment);  // the room to align in comes on top
    AlignedFree(block);
    EXPECT_EQ(ReadHeapStatistics().bytesInUse, before);
}

TEST(ZeroBytes, ClearsExactlyTheRangeAtAnyAlignment) {
    std::vector<uint8_t> bytes(80, 0xEE);
    for (int32_t offset = 0; offset < 5; ++offset) {
        std::fill(bytes.begin(), bytes.end(), 0xEE);
        ASSERT_EQ(ZeroBytes(bytes.data() + offset, 67), PrimOk);
        for (int32_t i = 0; i < 80; ++i) {
            const bool inside = i >= offset && i < offset + 67;
            EXPECT_EQ(bytes[i], inside ? 0 : 0xEE) << "offset " << offset << " byte " << i;
        }
    }
}

TEST(ZeroBytes, ChecksArgumentsBeforeWriting) {
    uint8_t byte = 7;
    EXPECT_EQ(ZeroBytes(nullptr, 4), PrimErrNullPointer);
    EXPECT_EQ(ZeroBytes(nullptr, 0), PrimErrNullPointer);
    EXPECT_EQ(ZeroBytes(&byte, 0), PrimErrBadSize);
    EXPECT_EQ(ZeroBytes(&byte, -1), PrimErrBadSize);
    EXPECT_EQ(byte, 7);
}

TEST(CreateHuffmanState, MakesAZeroedAlignedRecord) {
    EXPECT_EQ(CreateHuffmanState(nullptr), PrimErrNullPointer);
    HuffmanState* state = nullptr;
    ASSERT_EQ(CreateHuffmanState(&state), PrimOk);
    ASSERT_NE(state, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(state) % 32, 0u);
    EXPECT_EQ(state->bitBuffer, 0u);
    EXPECT_EQ(state->bitCount, 0);
    EXPECT_EQ(state->eobRun, 0);
    EXPECT_EQ(FreeChecked(state), PrimOk);
}

// A picture of 3-byte pixels whose every byte names its row, column and
// channel, with padding bytes after each row.
struct Picture {
    int32_t width, height, step;
    std::vector<uint8_t> bytes;

    Picture(int32_t w, int32_t h) : width(w), height(h), step(w * 3 + 2), bytes(step * h, 0xCC) {
        for (int32_t i = 0; i < h; ++i)
            for (int32_t j = 0; j < w; ++j)
                for (int32_t c = 0; c < 3; ++c) Pixel(i, j)[c] = Code(i, j, c);
    }
    uint8_t* Pixel(int32_t i, int32_t j) { return &bytes[i * step + j * 3]; }
    static uint8_t Code(int32_t i, int32_t j, int32_t c) { return uint8_t(i * 40 + j * 4 + c); }
    bool PaddingIntact() const {
        for (int32_t i = 0; i < height; ++i)
            if (bytes[i * step + width * 3] != 0xCC || bytes[i * step + width * 3 + 1] != 0xCC)
                return false;
        return true;
    }
};

TEST(MirrorImage24, EachAxisMovesWholePixelsToTheirMirrorPlace) {
    struct Case {
        int32_t axis, width, height;
    };
    for (Case c : {Case{AxisHorizontal, 3, 3}, Case{AxisHorizontal, 4, 4}, Case{AxisVertical, 5, 2},
                   Case{AxisVertical, 4, 1}, Case{AxisBoth, 3, 3}, Case{AxisBoth, 4, 2},
                   Case{AxisHorizontal, 300, 2}}) {
        Picture p(c.width, c.height);
        ASSERT_EQ(MirrorImage24(p.bytes.data(), p.step, c.width, c.height, c.axis), PrimOk);
        for (int32_t i = 0; i < c.height; ++i) {
            for (int32_t j = 0; j < c.width; ++j) {
                const int32_t fromRow = c.axis == AxisVertical ? i : c.height - 1 - i;
                const int32_t fromCol = c.axis == AxisHorizontal ? j : c.width - 1 - j;
                for (int32_t ch = 0; ch < 3; ++ch) {
                    ASSERT_EQ(p.Pixel(i, j)[ch], Picture::Code(fromRow, fromCol, ch))
                        << "axis " << c.axis << " size " << c.width << "x" << c.height << " at "
                        << i << "," << j;
                }
            }
        }
        EXPECT_TRUE(p.PaddingIntact());
    }
}

TEST(MirrorImage24, RefusesWhatCannotBeMirroredAndWritesNothing) {
    Picture row(4, 1);
    const std::vector<uint8_t> before = row.bytes;
    EXPECT_EQ(MirrorImage24(row.bytes.data(), row.step, 4, 1, AxisHorizontal), PrimErrBadSize);
    EXPECT_EQ(MirrorImage24(row.bytes.data(), row.step, 4, 1, AxisBoth), PrimErrBadSize);
    Picture column(1, 4);
    EXPECT_EQ(MirrorImage24(column.bytes.data(), column.step, 1, 4, AxisVertical), PrimErrBadSize);
    EXPECT_EQ(MirrorImage24(row.bytes.data(), row.step, 4, 1, 3), PrimErrBadAxis);
    EXPECT_EQ(MirrorImage24(nullptr, row.step, 4, 1, 3), PrimErrNullPointer);
    EXPECT_EQ(MirrorImage24(row.bytes.data(), row.step, 0, 1, AxisVertical), PrimErrBadSize);
    EXPECT_EQ(MirrorImage24(row.bytes.data(), row.step, 4, -1, AxisVertical), PrimErrBadSize);
    EXPECT_EQ(row.bytes, before);
}

}  // namespace
