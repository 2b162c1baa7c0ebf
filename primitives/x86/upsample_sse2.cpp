// Up-sampling rows with SSE2, 16 output columns at a time.
#include "primitives/x86/upsample_body.h"
#include "primitives/x86/x86_kernels.h"

void UpsampleH2V1RowSse2(const uint8_t* src, uint8_t* dst, size_t width) {
    FinishH2V1(src, dst, H2V1Groups<Vector128>(src, dst, 0, width), width);
}

void UpsampleH2V2RowSse2(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst, size_t width) {
    FinishH2V2(nearRow, farRow, dst, H2V2Groups<Vector128>(nearRow, farRow, dst, 0, width), width);
}
