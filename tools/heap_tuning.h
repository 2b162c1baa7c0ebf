// Process-wide allocator settings for programs that decode many frames.
#pragma once

#include <cstdint>

// The codec builds its working buffers anew for every frame. glibc gives
// freed blocks above its thresholds back to the system, so every frame
// would fault its pages in again, and with several threads each arena trims
// its own heap. Keeping freed memory in the process avoids that, but memory
// kept is memory no budget sees: each of `threads` arenas keeps at most
// `memoryBudget` / (4 x `threads`) of it (and never more than 256 MiB), and
// blocks larger than that (at most 32 MiB) are mapped on their own and
// unmapped when freed. Without a budget: 256 MiB kept, blocks of 32 MiB.
// Does nothing where the C library is not glibc.
void KeepFreedMemory(uint64_t memoryBudget = UINT64_MAX, int threads = 1);
