#include "support/failing_heap.h"

#include <cstdlib>

#include "primitives/memory.h"

namespace wemb_test {
namespace {
// Allocations left before the failure; 0 = no failure planned.
thread_local int32_t t_allocationsBeforeFailure = 0;
}  // namespace

void FailAllocationAfter(int32_t countdown) { t_allocationsBeforeFailure = countdown > 0 ? countdown : 0; }

}  // namespace wemb_test

void* WembHeapBlock(size_t bytes, bool zeroed) {
    if (wemb_test::t_allocationsBeforeFailure > 0 && --wemb_test::t_allocationsBeforeFailure == 0) {
        return nullptr;
    }
    return zeroed ? std::calloc(1, bytes) : std::malloc(bytes);
}
