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
// mangled names of ReconstructBlock and DecodeProgressiveAcBlock.
extern "C" {
PrimitiveStatus __real__Z16ReconstructBlockPKsPhiPKt(const int16_t* block, uint8_t* dst,
                                                    int32_t dstStep, const uint16_t* quantTable);
PrimitiveStatus __real__Z24DecodeProgressiveAcBlockPKhiPiPsS1_iiiPK18HuffmanDecodeTableP12HuffmanState(
    const uint8_t* src, int32_t srcLength, int32_t* position, int16_t* block, int32_t* marker,
    int32_t ss, int32_t se, int32_t al, const HuffmanDecodeTable* acTable, HuffmanState* state);

PrimitiveStatus __wrap__Z16ReconstructBlockPKsPhiPKt(const int16_t* block, uint8_t* dst,
                                                    int32_t dstStep, const uint16_t* quantTable) {
    ++wemb_test::t_counts.reconstructBlockCalls;
    return __real__Z16ReconstructBlockPKsPhiPKt(block, dst, dstStep, quantTable);
}

PrimitiveStatus __wrap__Z24DecodeProgressiveAcBlockPKhiPiPsS1_iiiPK18HuffmanDecodeTableP12HuffmanState(
    const uint8_t* src, int32_t srcLength, int32_t* position, int16_t* block, int32_t* marker,
    int32_t ss, int32_t se, int32_t al, const HuffmanDecodeTable* acTable, HuffmanState* state) {
    ++wemb_test::t_counts.progressiveAcBlockCalls;
    return __real__Z24DecodeProgressiveAcBlockPKhiPiPsS1_iiiPK18HuffmanDecodeTableP12HuffmanState(
        src, srcLength, position, block, marker, ss, se, al, acTable, state);
}
}
