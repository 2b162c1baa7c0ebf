// The Linux host's decoded pictures (wemb-decode writes them as BMP files),
// and the byte-for-byte comparison of a DIB that a Windows host got from the
// codec with them.
#pragma once

#include <string>
#include <vector>

#include "host.h"

namespace vfw_host {

// A 24-bit bottom-up picture as the codec returns it: `height` rows,
// bottom row first, `rowStep` bytes apart, each width x 3 bytes of blue,
// green, red and then the padding to a multiple of 4.
struct ReferencePicture {
    LONG width = 0;
    LONG height = 0;
    size_t rowStep = 0;
    std::vector<BYTE> rows;
};

// Reads a BMP file of 24 bits, BI_RGB and positive height, the kind
// wemb-decode writes. False, with the reason, for anything else.
bool LoadReferencePicture(const std::string& path, ReferencePicture* picture, std::string* error);

// Compares the picture part of every row, width x 3 bytes, of `actual`
// (rows `actualStep` bytes apart, in the same bottom-up order) with the
// reference. The padding at the end of each row is left out: the codec does
// not write it, so it holds whatever each host's buffer held. Returns an
// empty string when they agree, else where they first differ.
std::string FirstDifference(const ReferencePicture& expected, const BYTE* actual,
                            size_t actualStep);

}  // namespace vfw_host
