#include "primitives/kernels.h"

#include <atomic>

#include "primitives/scalar_kernels.h"
#include "primitives/simd.h"
#if WEMB_X86_KERNELS
#include "primitives/x86/x86_kernels.h"
#endif

namespace {

// ---------------------------------------------------------------------------
// One table per level, fixed at build time. Each level starts from the table
// of the level below and replaces the kernels it has a faster version of.

// The pair kernel of a level whose blocks go one at a time.
template <void (*kReconstructBlock)(const int16_t*, uint8_t*, ptrdiff_t, const uint16_t*, int32_t)>
void ReconstructBlocksOneByOne(const int16_t* left, const int16_t* right, uint8_t* dst, ptrdiff_t step,
                               const uint16_t* quantTable, int32_t leftExtent, int32_t rightExtent) {
    kReconstructBlock(left, dst, step, quantTable, leftExtent);
    kReconstructBlock(right, dst + 8, step, quantTable, rightExtent);
}

template <int kPixelBytes>
constexpr BgrRowKernels ScalarBgrRows() {
    return {GreyToBgrRowScalar<kPixelBytes>,    RgbToBgrRowScalar<kPixelBytes>,
            YccToBgrxRowScalar<kPixelBytes>,    YccH2V1ToBgrRowScalar<kPixelBytes>,
            YccH2V2ToBgrRowScalar<kPixelBytes>, CmykToBgrRowScalar<kPixelBytes>,
            YcckToBgrRowScalar<kPixelBytes>};
}

constexpr Kernels kScalarKernels = {
    SimdScalar,
    ReconstructBlockScalar,
    ReconstructBlocksOneByOne<ReconstructBlockScalar>,
    Interleave3RowScalar,
    Interleave4RowScalar,
    YccToBgrRowScalar,
    YccToRgbRowScalar,
    YcckToCmykRowScalar,
    UpsampleH2V1RowScalar,
    UpsampleH2V2RowScalar,
    NonZeroMaskScalar,
    {ScalarBgrRows<3>(), ScalarBgrRows<4>()},
};

#if WEMB_X86_KERNELS

constexpr Kernels Sse2Kernels() {
    Kernels k = kScalarKernels;
    k.level = SimdSse2;
    k.reconstructBlock = ReconstructBlockSse2;
    k.reconstructBlockPair = ReconstructBlocksOneByOne<ReconstructBlockSse2>;
    k.interleave3Row = Interleave3RowSse2;
    k.interleave4Row = Interleave4RowSse2;
    k.yccToBgrRow = YccToBgrRowSse2;
    k.yccToRgbRow = YccToRgbRowSse2;
    k.ycckToCmykRow = YcckToCmykRowSse2;
    k.upsampleH2V1Row = UpsampleH2V1RowSse2;
    k.upsampleH2V2Row = UpsampleH2V2RowSse2;
    k.nonZeroMask = NonZeroMaskSse2;
    k.bgrRows[0] = WEMB_BGR_ROW_KERNELS(Sse2, 3);
    k.bgrRows[1] = WEMB_BGR_ROW_KERNELS(Sse2, 4);
    return k;
}

constexpr Kernels Ssse3Kernels() {
    Kernels k = Sse2Kernels();
    k.level = SimdSsse3;
    k.interleave3Row = Interleave3RowSsse3;
    k.yccToBgrRow = YccToBgrRowSsse3;
    k.yccToRgbRow = YccToRgbRowSsse3;
    k.bgrRows[0] = WEMB_BGR_ROW_KERNELS(Ssse3, 3);
    return k;
}

constexpr Kernels Avx2Kernels() {
    Kernels k = Ssse3Kernels();
    k.level = SimdAvx2;
    k.reconstructBlock = ReconstructBlockAvx2;
    k.reconstructBlockPair = ReconstructBlockPairAvx2;
    k.interleave3Row = Interleave3RowAvx2;
    k.interleave4Row = Interleave4RowAvx2;
    k.yccToBgrRow = YccToBgrRowAvx2;
    k.yccToRgbRow = YccToRgbRowAvx2;
    k.ycckToCmykRow = YcckToCmykRowAvx2;
    k.upsampleH2V1Row = UpsampleH2V1RowAvx2;
    k.upsampleH2V2Row = UpsampleH2V2RowAvx2;
    k.bgrRows[0] = WEMB_BGR_ROW_KERNELS(Avx2, 3);
    k.bgrRows[1] = WEMB_BGR_ROW_KERNELS(Avx2, 4);
    return k;
}

// Indexed by SimdLevel. AVX without AVX2 has no kernels of its own: the
// 128-bit kernels compiled for it, whose VEX encodings spare register
// copies, ran 9% fewer instructions than the SSSE3 ones on a 4:2:0 frame
// but took no measurably shorter time; AVX2 replaces them wherever it runs.
constexpr Kernels kTables[kSimdLevelCount] = {kScalarKernels, Sse2Kernels(), Ssse3Kernels(), Ssse3Kernels(),
                                              Avx2Kernels()};

// The highest level this processor runs. The AVX2 check includes the
// operating system's support for the 256-bit register state.
int32_t DetectProcessorLevel() {
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return SimdAvx2;
    if (__builtin_cpu_supports("avx")) return SimdAvx;
    if (__builtin_cpu_supports("ssse3")) return SimdSsse3;
    if (__builtin_cpu_supports("sse2")) return SimdSse2;
    return SimdScalar;
}

#else

constexpr Kernels kTables[kSimdLevelCount] = {kScalarKernels, kScalarKernels, kScalarKernels, kScalarKernels,
                                              kScalarKernels};

int32_t DetectProcessorLevel() { return SimdScalar; }

#endif

// The processor's level, -1 until detected. Threads that race here detect
// the same value, so the race only repeats the detection.
std::atomic<int32_t> g_processorLevel{-1};

int32_t ProcessorLevel() {
    int32_t level = g_processorLevel.load(std::memory_order_relaxed);
    if (level < 0) {
        level = DetectProcessorLevel();
        g_processorLevel.store(level, std::memory_order_relaxed);
    }
    return level;
}

}  // namespace

const Kernels& KernelsForLevel(int32_t level) {
    const int32_t processor = ProcessorLevel();
    if (level > processor) level = processor;
    if (level < SimdScalar) level = SimdScalar;
    return kTables[level];
}

namespace kernels_internal {

std::atomic<const Kernels*> g_chosenTables[kSimdLevelCount] = {};

// Threads that race here store the same table.
const Kernels& ChooseTable(int32_t limit) {
    const Kernels& table = KernelsForLevel(limit);
    g_chosenTables[limit].store(&table, std::memory_order_relaxed);
    return table;
}

}  // namespace kernels_internal
