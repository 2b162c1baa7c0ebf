#include "primitives/memory.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>


namespace {

// Each heap block starts with its requested size, so that a release can count
// it off; the prefix is as wide as the heap's own alignment, which the memory
// after it therefore keeps.
constexpr size_t kSizePrefixBytes = alignof(std::max_align_t);
static_assert(kSizePrefixBytes >= sizeof(size_t), "the prefix holds a size_t");

// Bytes in use and their peak, per thread: a decoder runs on one thread from
// start to end, and decoders on other threads share nothing with it, not even
// a counter.
thread_local size_t t_bytesInUse = 0;
thread_local size_t t_peakBytes = 0;

void CountAllocation(size_t size) {
    t_bytesInUse += size;
    if (t_bytesInUse > t_peakBytes) t_peakBytes = t_bytesInUse;
}

// The heap block behind both allocation doors: `zeroed` asks the heap for
// memory that reads as zero, which it can often give without writing it.
void* AllocateCounted(size_t size, bool zeroed) {
    if (size > SIZE_MAX - kSizePrefixBytes) {
        return nullptr;
    }
    const size_t total = size + kSizePrefixBytes;
    uint8_t* raw = static_cast<uint8_t*>(WembHeapBlock(total, zeroed));
    if (raw == nullptr) {
        return nullptr;
    }
    std::memcpy(raw, &size, sizeof(size));
    CountAllocation(size);
    return raw + kSizePrefixBytes;
}

}  // namespace

void* HeapAllocate(size_t size) { return AllocateCounted(size, false); }

void HeapRelease(void* memory) {
    if (memory == nullptr) {
        return;
    }
    uint8_t* raw = static_cast<uint8_t*>(memory) - kSizePrefixBytes;
    size_t size;
    std::memcpy(&size, raw, sizeof(size));
    t_bytesInUse -= size;
    std::free(raw);
}

HeapStatistics ReadHeapStatistics() {
    return {static_cast<int64_t>(t_bytesInUse), static_cast<int64_t>(t_peakBytes)};
}

void ResetHeapPeak() { t_peakBytes = t_bytesInUse; }

namespace {

// The heap's own address is kept in the word just below the aligned block.
// A pointer needs 8 bytes on 64-bit builds, so the header is one pointer
// wide: with kAlignment + sizeof(void*) spare bytes, rounding the first free
// address up to the alignment always leaves room for it.
constexpr size_t kHeaderBytes = sizeof(void*);
constexpr size_t kPaddingBytes = kAlignment + kHeaderBytes;

void** HeaderOf(void* block) { return static_cast<void**>(block) - 1; }

}  // namespace

namespace {

void* AlignedBlock(int32_t size, bool zeroed) {
    if (size <= 0) {
        return nullptr;
    }
    // Sizes come in as int32_t; the padded size is formed in size_t, which on
    // a 32-bit build can still wrap for sizes near 2^31.
    const size_t requested = static_cast<size_t>(size);
    if (requested > SIZE_MAX - kPaddingBytes) {
        return nullptr;
    }
    void* raw = AllocateCounted(requested + kPaddingBytes, zeroed);
    if (raw == nullptr) {
        return nullptr;
    }
    const uintptr_t firstFree = reinterpret_cast<uintptr_t>(raw) + kHeaderBytes;
    const uintptr_t aligned = (firstFree + (kAlignment - 1)) & ~static_cast<uintptr_t>(kAlignment - 1);
    void* block = reinterpret_cast<void*>(aligned);
    *HeaderOf(block) = raw;
    return block;
}

}  // namespace

void* AlignedAlloc(int32_t size) { return AlignedBlock(size, false); }

void* AlignedAllocZeroed(int32_t size) { return AlignedBlock(size, true); }

void AlignedFree(void* block) {
    if (block == nullptr) {
        return;
    }
    HeapRelease(*HeaderOf(block));
}

PrimitiveStatus FreeChecked(void* block) {
    if (block == nullptr) {
        return PrimErrNullPointer;
    }
    AlignedFree(block);
    return PrimOk;
}

PrimitiveStatus ZeroBytes(void* dst, int32_t length) {
    if (dst == nullptr) {
        return PrimErrNullPointer;
    }
    if (length <= 0) {
        return PrimErrBadSize;
    }
    std::memset(dst, 0, static_cast<size_t>(length));
    return PrimOk;
}

PrimitiveStatus CopyBytes(const uint8_t* src, uint8_t* dst, int32_t length) {
    if (src == nullptr || dst == nullptr) {
        return PrimErrNullPointer;
    }
    if (length <= 0) {
        return PrimErrBadSize;
    }
    // The ranges never overlap, so the library copy moves the same bytes as
    // the ascending word copy would, and as fast as the machine allows.
    std::memcpy(dst, src, static_cast<size_t>(length));
    return PrimOk;
}

namespace {

void SwapPixels(uint8_t* a, uint8_t* b) {
    for (int k = 0; k < 3; ++k) {
        const uint8_t t = a[k];
        a[k] = b[k];
        b[k] = t;
    }
}

void SwapRows(uint8_t* a, uint8_t* b, int32_t width) {
    const size_t bytes = static_cast<size_t>(width) * 3;
    // Two rows of one picture never overlap: 32 bytes of each go through
    // registers and come back out on the other side (the compiler turns the
    // fixed-size copies into vector loads and stores), the rest byte by byte.
    size_t done = 0;
    for (; done + 32 <= bytes; done += 32) {
        uint8_t fromA[32];
        uint8_t fromB[32];
        std::memcpy(fromA, a + done, sizeof(fromA));
        std::memcpy(fromB, b + done, sizeof(fromB));
        std::memcpy(a + done, fromB, sizeof(fromB));
        std::memcpy(b + done, fromA, sizeof(fromA));
    }
    for (; done < bytes; ++done) {
        const uint8_t t = a[done];
        a[done] = b[done];
        b[done] = t;
    }
}

void ReverseRow(uint8_t* row, int32_t width) {
    for (int32_t j = 0; j < width / 2; ++j) {
        SwapPixels(row + 3 * static_cast<ptrdiff_t>(j), row + 3 * static_cast<ptrdiff_t>(width - 1 - j));
    }
}

uint8_t* RowAt(uint8_t* image, int32_t step, int32_t row) {
    return image + static_cast<ptrdiff_t>(step) * row;
}

}  // namespace

PrimitiveStatus MirrorImage24(uint8_t* image, int32_t step, int32_t width, int32_t height,
                              int32_t axis) {
    if (image == nullptr) {
        return PrimErrNullPointer;
    }
    if (width <= 0 || height <= 0) {
        return PrimErrBadSize;
    }
    if (axis != AxisHorizontal && axis != AxisVertical && axis != AxisBoth) {
        return PrimErrBadAxis;
    }
    if ((axis != AxisVertical && height < 2) || (axis != AxisHorizontal && width < 2)) {
        return PrimErrBadSize;
    }
    if (axis == AxisHorizontal) {
        for (int32_t i = 0; i < height / 2; ++i) {
            SwapRows(RowAt(image, step, i), RowAt(image, step, height - 1 - i), width);
        }
    } else if (axis == AxisVertical) {
        for (int32_t i = 0; i < height; ++i) {
            ReverseRow(RowAt(image, step, i), width);
        }
    } else {
        for (int32_t i = 0; i < height / 2; ++i) {
            uint8_t* top = RowAt(image, step, i);
            uint8_t* bottom = RowAt(image, step, height - 1 - i);
            for (int32_t j = 0; j < width; ++j) {
                SwapPixels(top + 3 * static_cast<ptrdiff_t>(j),
                           bottom + 3 * static_cast<ptrdiff_t>(width - 1 - j));
            }
        }
        if (height % 2 != 0) {
            ReverseRow(RowAt(image, step, height / 2), width);
        }
    }
    return PrimOk;
}
