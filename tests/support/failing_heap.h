// Allocation failures on demand. A program that links wemb_test_support has
// its own WembHeapBlock (failing_heap.cpp) in place of the codec's: the same
// malloc and calloc, but the countdown-th allocation from now on this thread
// comes back null, as from an exhausted heap.
#pragma once

#include <cstdint>

namespace wemb_test {

// 1 = the next allocation fails; 0 or a negative value turns failures off.
// Per thread, so that decoders on other threads are never affected.
void FailAllocationAfter(int32_t countdown);

}  // namespace wemb_test
