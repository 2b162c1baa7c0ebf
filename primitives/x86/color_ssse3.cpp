// The 3-channel rows of color_sse2.cpp compiled for SSSE3, whose byte
// shuffle stores 16 pixels of 3 channels in fewer steps (vector128.h).
#include "primitives/x86/color_body.h"
#include "primitives/x86/x86_kernels.h"

void Interleave3RowSsse3(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(Interleave3RowScalar, 3, 3, rows, dst, InterleaveGroups<Vector128, 3>(rows, dst, 0, count), count);
}

void YccToBgrRowSsse3(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(YccToBgrRowScalar, 3, 3, rows, dst, ConvertGroups<Vector128, Layout::Bgr>(rows, dst, 0, count), count);
}

void YccToRgbRowSsse3(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(YccToRgbRowScalar, 3, 3, rows, dst, ConvertGroups<Vector128, Layout::Rgb>(rows, dst, 0, count), count);
}
