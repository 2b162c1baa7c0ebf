// Checks that decode real pictures through the installed codec and compare
// them bit for bit with the Linux host's pictures of the same frames.
#pragma once

#include "host.h"

namespace vfw_host {

// One JPEG frame through ICDecompress (--frame).
void CheckDecodeFrame(Report& report, const Inputs& inputs);

// An AVI clip played through Wine's own AVI reader: AVIFile opens it and
// AVIStreamGetFrame has the compression manager decode it (--clip).
void CheckPlayClip(Report& report, const Inputs& inputs);

}  // namespace vfw_host
