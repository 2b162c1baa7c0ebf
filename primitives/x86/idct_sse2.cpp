// Block reconstruction with SSE2: the 32-bit lanes of the transform in pairs
// of 128-bit registers.
#include "primitives/x86/idct_body.h"
#include "primitives/x86/x86_kernels.h"

void ReconstructBlockSse2(const int16_t* block, uint8_t* dst, ptrdiff_t step, const uint16_t* quantTable,
                          int32_t extent) {
    ReconstructBlockWith<IdctLanes128, IdctLanes4>(block, dst, step, quantTable, extent);
}
