// B, G, R rows with SSE2, 16 pixels at a time.
#include "primitives/x86/color_rows_body.h"
#include "primitives/x86/x86_kernels.h"

WEMB_DEFINE_BGR_ROW_KERNELS(Sse2, 3, Vector128)
WEMB_DEFINE_BGR_ROW_KERNELS(Sse2, 4, Vector128)
