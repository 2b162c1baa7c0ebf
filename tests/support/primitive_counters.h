// Counts of what the codec asks of two primitives, for tests that bound the
// work or memory a stream can cost without measuring time.
//
// The test program is linked with --wrap for ReconstructBlock,
// DecodeProgressiveAcBlock and AlignedAlloc (tests/CMakeLists.txt): every
// call the codec's objects make
// goes through a wrapper in primitive_counters.cpp that counts it and then
// calls the real primitive. Calls inside the primitive's own object file
// (AlignedAlloc from memory.cpp) are not seen.
#pragma once

#include <cstdint>

namespace wemb_test {

struct PrimitiveCounts {
    int64_t reconstructBlockCalls = 0;
    int64_t progressiveAcBlockCalls = 0;  // DecodeProgressiveAcBlock
    int64_t largestAlignedAlloc = 0;  // largest size asked of AlignedAlloc, in bytes
};

// Counts since the last ResetPrimitiveCounts on this thread.
const PrimitiveCounts& CurrentPrimitiveCounts();
void ResetPrimitiveCounts();

}  // namespace wemb_test
