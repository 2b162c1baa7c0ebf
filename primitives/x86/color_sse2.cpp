// Colour conversion and interleaving rows with SSE2, 16 pixels at a time.
#include "primitives/x86/color_body.h"
#include "primitives/x86/x86_kernels.h"

void Interleave3RowSse2(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(Interleave3RowScalar, 3, 3, rows, dst, InterleaveGroups<Vector128, 3>(rows, dst, 0, count), count);
}

void Interleave4RowSse2(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(Interleave4RowScalar, 4, 4, rows, dst, InterleaveGroups<Vector128, 4>(rows, dst, 0, count), count);
}

void YccToBgrRowSse2(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(YccToBgrRowScalar, 3, 3, rows, dst, ConvertGroups<Vector128, Layout::Bgr>(rows, dst, 0, count), count);
}

void YccToRgbRowSse2(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(YccToRgbRowScalar, 3, 3, rows, dst, ConvertGroups<Vector128, Layout::Rgb>(rows, dst, 0, count), count);
}

void YcckToCmykRowSse2(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(YcckToCmykRowScalar, 4, 4, rows, dst, ConvertGroups<Vector128, Layout::Cmyk>(rows, dst, 0, count),
              count);
}
