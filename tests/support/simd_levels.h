// Runs a test body once at every instruction-set level the kernels can be
// limited to, so that the scalar, SSE2, SSSE3 and AVX2 kernels are all
// checked on a processor that has them. A level whose kernel table is one
// already run (a level without kernels of its own, or one the processor
// lacks) is skipped.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "primitives/kernels.h"
#include "primitives/simd.h"

namespace wemb_test {

template <typename Body>
void ForEachSimdLevel(Body body) {
    std::vector<const Kernels*> done;
    for (int32_t level : {SimdAvx2, SimdAvx, SimdSsse3, SimdSse2, SimdScalar}) {
        const Kernels* table = &KernelsForLevel(level);
        bool seen = false;
        for (const Kernels* other : done) seen = seen || other == table;
        if (seen) continue;
        done.push_back(table);
        SCOPED_TRACE(testing::Message() << "instruction-set level " << level);
        LimitSimdLevel(level);
        body();
        if (testing::Test::HasFatalFailure()) break;
    }
    LimitSimdLevel(SimdAvx2);
}

}  // namespace wemb_test
