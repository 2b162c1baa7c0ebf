#include "support/primitive_counters.h"

#include "primitives/idct.h"
#include "primitives/progressive_huffman.h"

namespace wemb_test {
namespace {
thread_local PrimitiveCounts t_counts;
}  // namespace

const PrimitiveCounts& CurrentPrimitiveCounts() { return t_counts; }

void ResetPrimitiveCounts() { t_counts = PrimitiveCounts{}; }

}  // namespace wemb_test

// The linker's --wrap=SYMBOL sends every reference to SYMBOL from another
// object to __wrap_SYMBOL and lets __real_SYMBOL name the original. Both
// primitives have C linkage, so the symbols are their plain names, and these
// declarations take the primitives' own types: a changed signature fails to
// compile here instead of mislinking.
extern "C" {
decltype(ReconstructBlock) __real_ReconstructBlock;
decltype(ReconstructBlock) __wrap_ReconstructBlock;
decltype(DecodeProgressiveAcBlocks) __real_DecodeProgressiveAcBlocks;
decltype(DecodeProgressiveAcBlocks) __wrap_DecodeProgressiveAcBlocks;

PrimitiveStatus __wrap_ReconstructBlock(const int16_t* block, uint8_t* dst, int32_t dstStep,
                                        const uint16_t* quantTable) {
    ++wemb_test::t_counts.reconstructBlockCalls;
    return __real_ReconstructBlock(block, dst, dstStep, quantTable);
}

// DecodeProgressiveAcBlocks decodes `count` blocks per call.
PrimitiveStatus __wrap_DecodeProgressiveAcBlocks(EntropyStream* stream, const ComponentBlockRow* row,
                                                 int32_t first, int32_t count, int32_t ss, int32_t se,
                                                 int32_t al, const HuffmanDecodeTable* acTable) {
    wemb_test::t_counts.progressiveAcBlockCalls += count;
    return __real_DecodeProgressiveAcBlocks(stream, row, first, count, ss, se, al, acTable);
}
}
