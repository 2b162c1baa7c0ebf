// B, G, R rows of 3 bytes a pixel with SSSE3, whose byte shuffle stores
// three channels faster; 4-byte pixels gain nothing from it.
#include "primitives/x86/color_rows_body.h"
#include "primitives/x86/x86_kernels.h"

WEMB_DEFINE_BGR_ROW_KERNELS(Ssse3, 3, Vector128)
