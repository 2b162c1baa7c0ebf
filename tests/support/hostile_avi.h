// AVI files whose few kilobytes make a host set aside gigabytes: frames that
// declare a huge picture and hold almost no data. For the host's memory
// tests and for measuring its peak (tests/make_hostile_avi.cpp).
#pragma once

#include <cstdint>
#include <vector>

#include "support/avi_builder.h"
#include "support/jpeg_stream.h"

namespace wemb_test {

// A progressive grey frame whose one DC scan breaks off after eight blocks.
// The codec accepts its headers, allocates the coefficients and sample
// planes of the whole frame, and builds the whole picture from the one scan
// it has: every byte of its working memory and of the picture is touched.
// About 100 bytes whatever the size.
inline std::vector<uint8_t> BrokenProgressiveFrame(uint16_t width, uint16_t height) {
    const HuffmanCodeLengths oneCode = {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0x00}};
    JpegStream s;
    s.Soi().Dqt(0, UniformQuant(1)).Dht(kDcClass, 0, oneCode).Sof2(width, height, {{1, 1, 1, 0}});
    s.Sos({{1, 0, 0}}, 0, 0).Raw({0x00}).Eoi();
    return s.Bytes();
}

// A frame the codec refuses in its header pass: 12-bit samples.
inline std::vector<uint8_t> RefusedHeaderFrame(uint16_t width, uint16_t height) {
    JpegStream s;
    s.Soi().Dqt(0, UniformQuant(1)).Sof(kSof0 + 1, width, height, {{1, 1, 1, 0}}, 12);
    s.Sos({{1, 0, 0}}).Raw({0x00}).Eoi();
    return s.Bytes();
}

// `count` copies of `frame` in a wemb AVI file of the frame's size.
inline AviImage HostileAvi(const std::vector<uint8_t>& frame, int count, int32_t width, int32_t height) {
    AviOptions options;
    options.frames.assign(static_cast<size_t>(count), frame);
    options.width = width;
    options.height = height;
    return BuildAvi(options);
}

}  // namespace wemb_test
