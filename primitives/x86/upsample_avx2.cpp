// Up-sampling rows with AVX2: 32 output columns at a time, then 16, then the
// scalar finish.
#include "primitives/x86/upsample_body.h"
#include "primitives/x86/vector256.h"
#include "primitives/x86/x86_kernels.h"

void UpsampleH2V1RowAvx2(const uint8_t* src, uint8_t* dst, size_t width) {
    const size_t done = H2V1Groups<Vector128>(src, dst, H2V1Groups<Vector256>(src, dst, 0, width), width);
    FinishH2V1(src, dst, done, width);
}

void UpsampleH2V2RowAvx2(const uint8_t* nearRow, const uint8_t* farRow, uint8_t* dst, size_t width) {
    const size_t done =
        H2V2Groups<Vector128>(nearRow, farRow, dst, H2V2Groups<Vector256>(nearRow, farRow, dst, 0, width), width);
    FinishH2V2(nearRow, farRow, dst, done, width);
}
