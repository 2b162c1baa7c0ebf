// Helpers of the colour stage: the packed 4:2:2 writers (Cb, Y0, Cr, Y1 per
// pixel pair) and the border columns of half-resolution chroma.
#pragma once

#include <cstdint>

void PackYCbCr422(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, int32_t srcStep,
                  uint8_t* dst, int32_t dstStep, int32_t width, int32_t rows);

void PackGrey422(const uint8_t* grey, int32_t srcStep, uint8_t* dst, int32_t dstStep,
                 int32_t width, int32_t rows);

// Replicates the first and last data sample of each of `rows` rows (from
// column 1 to halfWidth) into the border columns 0 and halfWidth + 1.
void FillBorderColumns(uint8_t* firstRow, int32_t step, int32_t rows, int32_t halfWidth);
