// Writes an AVI file of frames that declare a huge picture in a few bytes,
// for measuring the memory wemb-decode takes (tests/support/hostile_avi.h).
//
//   wemb_hostile_avi OUT.avi [progressive|refused] [FRAMES] [SIZE]
//
// Defaults: progressive, 8 frames of 16383 x 16383.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/hostile_avi.h"

int main(int argc, char** argv) {
    if (argc < 2 || argc > 5) {
        std::fprintf(stderr, "usage: %s OUT.avi [progressive|refused] [FRAMES] [SIZE]\n", argv[0]);
        return 2;
    }
    const std::string kind = argc > 2 ? argv[2] : "progressive";
    const int frames = argc > 3 ? std::atoi(argv[3]) : 8;
    const int size = argc > 4 ? std::atoi(argv[4]) : 16383;
    if ((kind != "progressive" && kind != "refused") || frames < 1 || size < 1 || size > 65535) {
        std::fprintf(stderr, "%s: bad arguments\n", argv[0]);
        return 2;
    }
    const auto side = static_cast<uint16_t>(size);
    const std::vector<uint8_t> frame = kind == "refused" ? wemb_test::RefusedHeaderFrame(side, side)
                                                         : wemb_test::BrokenProgressiveFrame(side, side);
    if (!wemb_test::WriteImage(argv[1], wemb_test::HostileAvi(frame, frames, size, size))) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[1]);
        return 1;
    }
    return 0;
}
