// Conversion of planar 8-bit components into pixel-interleaved pictures.
//
// All six primitives take a plane (or a set of planes sharing one row step),
// a destination with its own row step, and a size in pixels. Bytes beyond
// `width` pixels of a destination row are never touched.
#pragma once

#include <cstdint>

#include "primitives/status.h"

// JFIF YCbCr -> RGB in 16-bit fixed point, indexed by a chroma sample.
extern const int32_t CrToR[256];
extern const int32_t CbToB[256];
extern const int32_t CrToG[256];
extern const int32_t CbToG[256];

PrimitiveStatus CopyPlane8u(const uint8_t* src, int32_t srcStep, uint8_t* dst, int32_t dstStep,
                            int32_t width, int32_t height);

PrimitiveStatus InterleavePlanes3(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                                  int32_t dstStep, int32_t width, int32_t height);

PrimitiveStatus InterleavePlanes4(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                                  int32_t dstStep, int32_t width, int32_t height);

PrimitiveStatus YCbCrToBGR(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                           int32_t dstStep, int32_t width, int32_t height);

PrimitiveStatus YCbCrToRGB(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                           int32_t dstStep, int32_t width, int32_t height);

PrimitiveStatus YCCKToCMYK(const uint8_t* const* planes, int32_t srcStep, uint8_t* dst,
                           int32_t dstStep, int32_t width, int32_t height);
