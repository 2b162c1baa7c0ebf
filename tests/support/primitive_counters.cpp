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

// The linker's --wrap=SYMBOL sends every undefined reference to SYMBOL to
// __wrap_SYMBOL and lets __real_SYMBOL name the original. The symbols are the
// mangled names of ReconstructBlock and of DecodeProgressiveAcBlocks, the
// decoder's first-scan AC decoder, which decodes `count` blocks per call.
extern "C" {
PrimitiveStatus __real__Z16ReconstructBlockPKsPhiPKt(const int16_t* block, uint8_t* dst,
                                                    int32_t dstStep, const uint16_t* quantTable);
PrimitiveStatus __real__Z25DecodeProgressiveAcBlocksP13EntropyStreamPK17ComponentBlockRowiiiiiPK18HuffmanDecodeTable(
    EntropyStream* stream, const ComponentBlockRow* row, int32_t first, int32_t count, int32_t ss,
    int32_t se, int32_t al, const HuffmanDecodeTable* acTable);

PrimitiveStatus __wrap__Z16ReconstructBlockPKsPhiPKt(const int16_t* block, uint8_t* dst,
                                                    int32_t dstStep, const uint16_t* quantTable) {
    ++wemb_test::t_counts.reconstructBlockCalls;
    return __real__Z16ReconstructBlockPKsPhiPKt(block, dst, dstStep, quantTable);
}

PrimitiveStatus __wrap__Z25DecodeProgressiveAcBlocksP13EntropyStreamPK17ComponentBlockRowiiiiiPK18HuffmanDecodeTable(
    EntropyStream* stream, const ComponentBlockRow* row, int32_t first, int32_t count, int32_t ss,
    int32_t se, int32_t al, const HuffmanDecodeTable* acTable) {
    wemb_test::t_counts.progressiveAcBlockCalls += count;
    return __real__Z25DecodeProgressiveAcBlocksP13EntropyStreamPK17ComponentBlockRowiiiiiPK18HuffmanDecodeTable(
        stream, row, first, count, ss, se, al, acTable);
}
}
