// Triangle-filter up-sampling of half-resolution chroma.
//
// Both filters read one sample beyond each side of the source area they
// cover; the caller provides that border.
#pragma once

#include <cstdint>

#include "primitives/status.h"

// Doubles the width (weights 3:1).
PrimitiveStatus UpsampleH2V1(const uint8_t* src, int32_t srcStep, int32_t srcWidth,
                             int32_t srcHeight, uint8_t* dst, int32_t dstStep, int32_t dstWidth,
                             int32_t dstHeight);

// Doubles width and height (weights 9:3:3:1).
PrimitiveStatus UpsampleH2V2(const uint8_t* src, int32_t srcStep, int32_t srcWidth,
                             int32_t srcHeight, uint8_t* dst, int32_t dstStep, int32_t dstWidth,
                             int32_t dstHeight);
