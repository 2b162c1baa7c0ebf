// Counts of the codec's calls to two primitives, for tests that bound the
// work a stream can cost without measuring time.
//
// Every program that links wemb_test_support is linked with --wrap for
// ReconstructBlock and DecodeProgressiveAcBlocks (tests/support/CMakeLists.txt):
// every call from the codec's objects goes through a wrapper in
// primitive_counters.cpp that counts it (DecodeProgressiveAcBlocks: the
// blocks it is given) and then calls the real primitive.
#pragma once

#include <cstdint>

namespace wemb_test {

struct PrimitiveCounts {
    int64_t reconstructBlockCalls = 0;
    int64_t progressiveAcBlockCalls = 0;  // blocks given to DecodeProgressiveAcBlocks
};

// Counts since the last ResetPrimitiveCounts on this thread.
const PrimitiveCounts& CurrentPrimitiveCounts();
void ResetPrimitiveCounts();

}  // namespace wemb_test
