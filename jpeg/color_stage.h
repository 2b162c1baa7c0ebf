// Packed 4:2:2 writers of the colour stage (Cb, Y0, Cr, Y1 per pixel pair).
#pragma once

#include <cstdint>

void PackYCbCr422(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t srcStep,
                  uint8_t* dst, int32_t dstStep, int32_t width, int32_t rows);

void PackGrey422(const uint8_t* grey, int32_t srcStep, uint8_t* dst, int32_t dstStep,
                 int32_t width, int32_t rows);
