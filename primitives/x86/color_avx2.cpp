// Colour conversion and interleaving rows with AVX2: 32 pixels at a time,
// then 16, then the scalar finish.
#include "primitives/x86/color_body.h"
#include "primitives/x86/vector256.h"
#include "primitives/x86/x86_kernels.h"

namespace {

template <Layout kLayout>
size_t ConvertWideThenNarrow(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    return ConvertGroups<Vector128, kLayout>(rows, dst, ConvertGroups<Vector256, kLayout>(rows, dst, 0, count), count);
}

template <int kChannels>
size_t InterleaveWideThenNarrow(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    return InterleaveGroups<Vector128, kChannels>(rows, dst, InterleaveGroups<Vector256, kChannels>(rows, dst, 0, count),
                                                  count);
}

}  // namespace

void Interleave3RowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(Interleave3RowScalar, 3, 3, rows, dst, InterleaveWideThenNarrow<3>(rows, dst, count), count);
}

void Interleave4RowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(Interleave4RowScalar, 4, 4, rows, dst, InterleaveWideThenNarrow<4>(rows, dst, count), count);
}

void YccToBgrRowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(YccToBgrRowScalar, 3, 3, rows, dst, ConvertWideThenNarrow<Layout::Bgr>(rows, dst, count), count);
}

void YccToRgbRowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(YccToRgbRowScalar, 3, 3, rows, dst, ConvertWideThenNarrow<Layout::Rgb>(rows, dst, count), count);
}

void YcckToCmykRowAvx2(const uint8_t* const* rows, uint8_t* dst, size_t count) {
    FinishRow(YcckToCmykRowScalar, 4, 4, rows, dst, ConvertWideThenNarrow<Layout::Cmyk>(rows, dst, count), count);
}
