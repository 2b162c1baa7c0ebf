// Aligned heap blocks, zero fill and copy, and the in-place mirror of a
// 24-bit picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "primitives/status.h"

// The process heap, through one door. Every allocation of the codec (aligned
// blocks and objects alike) comes from HeapAllocate and goes back through
// HeapRelease.
void* HeapAllocate(size_t size);
void HeapRelease(void* memory);

// The heap block under HeapAllocate: `bytes` from the C library's malloc, or
// from calloc when `zeroed`; HeapRelease hands it back to free. It is alone
// in heap_block.cpp and has C linkage, so that a test program can link a
// definition of its own instead, one that fails on demand
// (tests/support/failing_heap.h); the library's is then never linked in.
extern "C" void* WembHeapBlock(size_t bytes, bool zeroed);

// What HeapAllocate has handed out and HeapRelease not yet taken back, in
// requested bytes, counted for the calling thread (a decoder runs on one
// thread), and the most that was ever in use since the last ResetHeapPeak.
// For tests and benchmarks; the codec itself never reads them.
struct HeapStatistics {
    int64_t bytesInUse;
    int64_t peakBytes;
};
HeapStatistics ReadHeapStatistics();

// Starts a new peak from the bytes in use now.
void ResetHeapPeak();

// Classes whose objects the codec creates declare their allocation through
// the same heap: `new (std::nothrow) T` then yields null when the heap (or an
// injected failure) refuses, and `delete` hands the memory back.
#define WEMB_HEAP_ALLOCATED                                                          \
    static void* operator new(size_t size, const std::nothrow_t&) noexcept {         \
        return HeapAllocate(size);                                                   \
    }                                                                                \
    static void operator delete(void* memory) noexcept { HeapRelease(memory); }      \
    static void operator delete(void* memory, const std::nothrow_t&) noexcept {      \
        HeapRelease(memory);                                                         \
    }

// Every block is aligned to this many bytes.
constexpr int32_t kAlignment = 32;

// Returns a block of at least `size` usable bytes whose address is a multiple
// of kAlignment, or null when size <= 0, when the padded size would not fit,
// or when the heap is exhausted. Release it with AlignedFree or FreeChecked.
void* AlignedAlloc(int32_t size);

// As AlignedAlloc, for a block that must start out as zero bytes. The heap
// hands out fresh memory already zero, so nothing needs writing twice.
void* AlignedAllocZeroed(int32_t size);

// Makes `slot` hold an aligned block of at least `size` bytes (at most
// INT32_MAX), `capacity` being what it holds now: a block already that large
// is kept, a smaller one replaced, so that buffers used frame after frame are
// allocated once. What the block holds is not kept. False, with the slot
// empty, when the heap refuses.
template <typename T>
bool ReserveAligned(T*& slot, int32_t& capacity, int64_t size);

// Frees the block of a slot that ReserveAligned filled and empties the slot.
template <typename T>
void ReleaseAligned(T*& slot, int32_t& capacity);

// Releases a block from AlignedAlloc; null does nothing.
void AlignedFree(void* block);

// As AlignedFree, but null is refused with PrimErrNullPointer.
PrimitiveStatus FreeChecked(void* block);

template <typename T>
bool ReserveAligned(T*& slot, int32_t& capacity, int64_t size) {
    if (slot != nullptr && capacity >= size) {
        return true;
    }
    AlignedFree(slot);
    slot = size > 0 && size <= INT32_MAX ? static_cast<T*>(AlignedAlloc(static_cast<int32_t>(size))) : nullptr;
    capacity = slot != nullptr ? static_cast<int32_t>(size) : 0;
    return slot != nullptr;
}

template <typename T>
void ReleaseAligned(T*& slot, int32_t& capacity) {
    AlignedFree(slot);
    slot = nullptr;
    capacity = 0;
}

// Sets `length` bytes at dst to zero.
PrimitiveStatus ZeroBytes(void* dst, int32_t length);

// Copies `length` bytes between ranges that do not overlap.
PrimitiveStatus CopyBytes(const uint8_t* src, uint8_t* dst, int32_t length);

enum MirrorAxis : int32_t {
    AxisHorizontal = 0,  // rows reversed: top to bottom
    AxisVertical = 1,    // pixels reversed within each row
    AxisBoth = 2,        // a half turn
};

// Mirrors a picture of 3-byte pixels in place. Row padding beyond 3 x width
// bytes is never touched.
PrimitiveStatus MirrorImage24(uint8_t* image, int32_t step, int32_t width, int32_t height,
                              int32_t axis);
