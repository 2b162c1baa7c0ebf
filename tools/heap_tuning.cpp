#include "tools/heap_tuning.h"

#include <algorithm>
#include <cstdlib>  // defines __GLIBC__ where the C library is glibc

#ifdef __GLIBC__
#include <malloc.h>
#endif

void KeepFreedMemory(uint64_t memoryBudget, int threads) {
#ifdef __GLIBC__
    constexpr uint64_t kMaxKeptPerArena = uint64_t(256) << 20;
    constexpr uint64_t kMaxHeapBlock = uint64_t(32) << 20;
    const uint64_t kept = std::min(kMaxKeptPerArena, memoryBudget / (4 * uint64_t(std::max(threads, 1))));
    mallopt(M_MMAP_THRESHOLD, static_cast<int>(std::min(kMaxHeapBlock, kept)));
    mallopt(M_TRIM_THRESHOLD, static_cast<int>(kept));
#else
    (void)memoryBudget;
    (void)threads;
#endif
}
