// Where decoded frames go: BMP files named after a pattern, or raw bgr24 on
// a stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/decode_pipeline.h"

// The BMP file name for a frame. `target` is the -o value: a pattern with one
// printf integer conversion (%d, %05d, ...), a directory (ends with '/' or
// exists), or a file name. `stem` is the JPEG input's name ("" for video
// frames); `several` tells whether more than one frame is written.
std::string OutputPathFor(const std::string& target, size_t frame, const std::string& stem,
                          bool several);

// Whether `target` holds exactly one printf integer conversion and no other
// conversion, so that it can be used as a pattern safely.
bool IsFramePattern(const std::string& target);

// Creates every directory on the way to the file `path` that does not exist
// yet, as mkdir -p would. False with a message when one cannot be made.
bool MakeParentDirectories(const std::string& path, std::string* error);

// Writes the frame's rows to `out` as the codec returns them, bottom row
// first, without the row padding: 3 bytes per pixel (bgr24), and flushes
// `out`. A closed pipe (EPIPE, with SIGPIPE ignored) is named as such.
bool WriteRawFrame(std::FILE* out, const DecodedFrame& frame, std::string* error);
