#include "primitives/memory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "primitives/huffman.h"
#include "primitives/upsample.h"
#include "support/failing_heap.h"

namespace {

using wemb_test::FailAllocationAfter;

bool Aligned(const void* block) { return reinterpret_cast<uintptr_t>(block) % 32 == 0; }

TEST(AlignedAlloc, BlocksAreAlignedUsableAndIndependentAndBadSizesRefused) {
    std::vector<void*> blocks;
    for (int32_t size : {1, 3, 31, 32, 33, 100, 4096, 1 << 20}) {
        void* block = AlignedAlloc(size);
        ASSERT_TRUE(block != nullptr && Aligned(block)) << size;
        std::memset(block, 0xA5, static_cast<size_t>(size));  // ASan checks the extent
        blocks.push_back(block);
    }
    for (void* block : blocks) AlignedFree(block);
    for (int32_t size : {0, -5, INT32_MIN}) {
        EXPECT_EQ(AlignedAlloc(size), nullptr) << size;
        EXPECT_EQ(AlignedAllocZeroed(size), nullptr) << size;
    }
    AlignedFree(nullptr);
    EXPECT_EQ(FreeChecked(nullptr), PrimErrNullPointer);
    EXPECT_EQ(FreeChecked(AlignedAlloc(64)), PrimOk);

    // Freed memory full of data is what the heap hands out next.
    for (int round = 0; round < 3; ++round) {
        void* used = AlignedAlloc(1 << 16);
        ASSERT_NE(used, nullptr);
        std::memset(used, 0xC3, 1 << 16);
        AlignedFree(used);
        uint8_t* zeroed = static_cast<uint8_t*>(AlignedAllocZeroed(1 << 16));
        ASSERT_TRUE(zeroed != nullptr && Aligned(zeroed));
        EXPECT_EQ(std::count(zeroed, zeroed + (1 << 16), 0), 1 << 16);
        AlignedFree(zeroed);
    }

    EXPECT_EQ(CreateHuffmanState(nullptr), PrimErrNullPointer);
    HuffmanState* state = nullptr;
    ASSERT_EQ(CreateHuffmanState(&state), PrimOk);
    ASSERT_TRUE(state != nullptr && Aligned(state));
    EXPECT_EQ(std::vector<int64_t>({state->bitBuffer, state->bitCount, state->eobRun}), std::vector<int64_t>(3, 0));
    EXPECT_EQ(FreeChecked(state), PrimOk);
}

TEST(HeapStatistics, CountRequestedBytesUntilReleasedKeepThePeakAndSkipFailures) {
    const int64_t base = ReadHeapStatistics().bytesInUse;
    const auto inUse = [&] { return ReadHeapStatistics().bytesInUse - base; };
    ResetHeapPeak();
    EXPECT_EQ(ReadHeapStatistics().peakBytes, base);
    void* first = HeapAllocate(1000);
    void* second = HeapAllocate(24);
    ASSERT_TRUE(first != nullptr && second != nullptr);
    EXPECT_EQ(inUse(), 1024);
    HeapRelease(first);
    EXPECT_EQ(inUse(), 24);
    EXPECT_EQ(ReadHeapStatistics().peakBytes, base + 1024);
    ResetHeapPeak();
    EXPECT_EQ(ReadHeapStatistics().peakBytes, base + 24);
    HeapRelease(second);
    HeapRelease(nullptr);  // nothing to count
    EXPECT_EQ(inUse(), 0);

    FailAllocationAfter(1);  // the next allocation fails and counts nothing
    EXPECT_EQ(HeapAllocate(64), nullptr);
    FailAllocationAfter(0);
    EXPECT_EQ(inUse(), 0);

    // Aligned blocks are counted with the room to align in, and give it all back.
    void* block = AlignedAlloc(4096);
    ASSERT_NE(block, nullptr);
    EXPECT_GE(inUse(), 4096 + kAlignment);
    AlignedFree(block);
    EXPECT_EQ(inUse(), 0);
}

// ZeroBytes and CopyBytes write exactly their range at any alignment, and
// check their arguments before writing anything.
TEST(ByteRanges, ZeroAndCopyWriteExactlyTheRange) {
    std::vector<uint8_t> src(200);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 7 + 1);
    for (bool copy : {false, true})
        for (int32_t offset = 0; offset < 5; ++offset)
            for (int32_t length : {1, 3, 4, 31, 32, 33, 67, 150}) {
                std::vector<uint8_t> dst(160, 0xEE);
                ASSERT_EQ(copy ? CopyBytes(src.data() + 3, dst.data() + offset, length)
                               : ZeroBytes(dst.data() + offset, length), PrimOk);
                for (int32_t i = 0; i < 160; ++i) {
                    const int expected = i < offset || i >= offset + length ? 0xEE : copy ? src[3 + i - offset] : 0;
                    ASSERT_EQ(dst[i], expected) << (copy ? "copy" : "zero") << " at " << offset << ", " << length;
                }
            }
    uint8_t dst[4] = {9, 9, 9, 9};
    EXPECT_EQ(ZeroBytes(nullptr, 4), PrimErrNullPointer);
    EXPECT_EQ(ZeroBytes(nullptr, 0), PrimErrNullPointer);
    EXPECT_EQ(ZeroBytes(dst, 0), PrimErrBadSize);
    EXPECT_EQ(ZeroBytes(dst, -1), PrimErrBadSize);
    EXPECT_EQ(CopyBytes(src.data(), nullptr, 0), PrimErrNullPointer);
    EXPECT_EQ(CopyBytes(nullptr, dst, 4), PrimErrNullPointer);
    EXPECT_EQ(CopyBytes(src.data(), dst, 0), PrimErrBadSize);
    EXPECT_EQ(CopyBytes(src.data(), dst, -4), PrimErrBadSize);
    EXPECT_EQ(std::vector<uint8_t>(dst, dst + 4), std::vector<uint8_t>(4, 9));
}

// A picture of 3-byte pixels whose every byte names its row, column and
// channel, with two padding bytes after each row.
struct Picture {
    int32_t width, height, step;
    std::vector<uint8_t> bytes;

    Picture(int32_t w, int32_t h) : width(w), height(h), step(w * 3 + 2), bytes(step * h, 0xCC) {
        for (int32_t i = 0; i < h; ++i)
            for (int32_t j = 0; j < w * 3; ++j) bytes[i * step + j] = Code(i, j / 3, j % 3);
    }
    static uint8_t Code(int32_t i, int32_t j, int32_t c) { return uint8_t(i * 40 + j * 4 + c); }
    PrimitiveStatus Mirror(int32_t axis) { return MirrorImage24(bytes.data(), step, width, height, axis); }
};

TEST(MirrorImage24, EachAxisMovesWholePixelsToTheirMirrorPlace) {
    // {axis, width, height}
    const int32_t cases[7][3] = {{AxisHorizontal, 3, 3}, {AxisHorizontal, 4, 4}, {AxisVertical, 5, 2}, {AxisVertical, 4, 1},
                                 {AxisBoth, 3, 3},       {AxisBoth, 4, 2},       {AxisHorizontal, 300, 2}};
    for (const auto& [axis, width, height] : cases) {
        Picture p(width, height);
        ASSERT_EQ(p.Mirror(axis), PrimOk);
        for (int32_t i = 0; i < height; ++i) {
            const int32_t fromRow = axis == AxisVertical ? i : height - 1 - i;
            for (int32_t j = 0; j < width * 3 + 2; ++j) {
                const int32_t fromColumn = axis == AxisHorizontal ? j / 3 : width - 1 - j / 3;
                ASSERT_EQ(p.bytes[i * p.step + j], j < width * 3 ? Picture::Code(fromRow, fromColumn, j % 3) : 0xCC)
                    << "axis " << axis << " size " << width << "x" << height << " at " << i << "," << j;
            }
        }
    }
}

TEST(MirrorImage24, RefusesWhatCannotBeMirroredInOrderAndWritesNothing) {
    Picture row(4, 1), column(1, 4);
    const std::vector<uint8_t> before = row.bytes;
    EXPECT_EQ(row.Mirror(AxisHorizontal), PrimErrBadSize);
    EXPECT_EQ(row.Mirror(AxisBoth), PrimErrBadSize);
    EXPECT_EQ(column.Mirror(AxisVertical), PrimErrBadSize);
    EXPECT_EQ(row.Mirror(3), PrimErrBadAxis);
    EXPECT_EQ(MirrorImage24(nullptr, row.step, 4, 1, 3), PrimErrNullPointer);
    EXPECT_EQ(MirrorImage24(row.bytes.data(), row.step, 0, 1, 3), PrimErrBadSize);
    EXPECT_EQ(MirrorImage24(row.bytes.data(), row.step, 4, -1, AxisVertical), PrimErrBadSize);
    EXPECT_EQ(row.bytes, before);
}

}  // namespace
