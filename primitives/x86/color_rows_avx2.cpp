// B, G, R rows with AVX2: 32 pixels at a time, then 16, then the portable
// finish.
#include "primitives/x86/color_rows_body.h"
#include "primitives/x86/vector256.h"
#include "primitives/x86/x86_kernels.h"

WEMB_DEFINE_BGR_ROW_KERNELS(Avx2, 3, Vector256, Vector128)
WEMB_DEFINE_BGR_ROW_KERNELS(Avx2, 4, Vector256, Vector128)
