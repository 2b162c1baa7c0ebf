// Runs a test body once at every instruction-set level the primitives can be
// limited to, so that the scalar, SSE2, SSSE3, AVX and AVX2 paths are all
// checked on a processor that has them (levels it lacks fall back to lower
// ones).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "primitives/simd.h"

namespace wemb_test {

template <typename Body>
void ForEachSimdLevel(Body body) {
    for (int32_t level : {SimdAvx2, SimdAvx, SimdSsse3, SimdSse2, SimdScalar}) {
        SCOPED_TRACE(testing::Message() << "instruction-set level " << level);
        LimitSimdLevel(level);
        body();
        if (testing::Test::HasFatalFailure()) break;
    }
    LimitSimdLevel(SimdAvx2);
}

}  // namespace wemb_test
