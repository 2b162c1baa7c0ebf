// Instruction-set levels of the pixel kernels, and the limit that tests put
// on them.
//
// The kernels themselves (primitives/kernels.h) come in one table of
// function pointers per level; ActiveKernels() picks the table of the
// highest level that both the processor and this limit allow.
#pragma once

#include <atomic>
#include <cstdint>

// Instruction-set levels, lowest first. A level without kernels of its own
// runs those of the next lower level that has them.
enum SimdLevel : int32_t {
    SimdScalar = 0,
    SimdSse2 = 1,
    SimdSsse3 = 2,
    SimdAvx = 3,
    SimdAvx2 = 4,
};

constexpr int32_t kSimdLevelCount = SimdAvx2 + 1;

// The limit, always a SimdLevel; written only by LimitSimdLevel.
// ActiveKernels() reads it with one relaxed load per call, so a change takes
// effect at the next call.
inline std::atomic<int32_t> g_simdLevelLimit{SimdAvx2};

// Test hook: from now on the kernels use no instruction set above `level`
// (clamped to the levels above), so that every path can be tested on one
// processor. SimdAvx2, the default, lets them use whatever the processor
// has.
inline void LimitSimdLevel(int32_t level) {
    const int32_t clamped = level < SimdScalar ? SimdScalar : (level > SimdAvx2 ? SimdAvx2 : level);
    g_simdLevelLimit.store(clamped, std::memory_order_relaxed);
}
