// The picture check of decode_check_fuzzer: a frame that libjpeg-turbo
// decodes without a warning must come out of DriverProc as libjpeg's
// picture, within the tolerance of the reference tests
// (tests/support/libjpeg_reference.h); four-component frames through the
// viewers' formula, within the bound it gives (picture_check.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/vfw.h"

// What the codec's header pass and ICM_DECOMPRESS made of the frame.
struct CodecFrame {
    int32_t width = 0;
    int32_t height = 0;
    int32_t components = 0;
    int32_t colorModel = 0;
    int32_t samplingMode = 0;
    LRESULT result = ICERR_ERROR;
    const std::vector<uint8_t>* pixels = nullptr;  // the bottom-up output buffer
};

// Compares the codec's picture with libjpeg's when the frame is one both
// decode to the same picture by design (see picture_check.cpp); aborts with
// a description on standard error when they differ.
void CheckPictureAgainstLibjpeg(const uint8_t* stream, size_t size, const CodecFrame& frame);
