// Where decoded frames go: image files named after a pattern, or raw video
// on a stream.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/decode_pipeline.h"

// The file name for a frame. `target` is the -o value: a pattern with one
// printf integer conversion (%d, %05d, ...), a directory (ends with '/' or
// exists), or a file name. `stem` is the JPEG input's name ("" for video
// frames); `several` tells whether more than one frame is written;
// `extension` (".bmp", ".png") ends the names the program makes up: in a
// directory, and for a file name without one.
std::string OutputPathFor(const std::string& target, size_t frame, const std::string& stem,
                          bool several, const std::string& extension = ".bmp");

// The extension of the file name at the end of `path` (".png"), lower case;
// empty when the name has none.
std::string FileExtension(const std::string& path);

// Whether `target` holds exactly one printf integer conversion and no other
// conversion, so that it can be used as a pattern safely.
bool IsFramePattern(const std::string& target);

// Creates every directory on the way to the file `path` that does not exist
// yet, as mkdir -p would. False with a message when one cannot be made.
bool MakeParentDirectories(const std::string& path, std::string* error);

// Writes the frame's rows to `out` in the order the codec wrote them into
// the buffer (top row first for a top-down format), without the row
// padding: 3 or 4 bytes a pixel as the format says, and flushes `out`. A
// closed pipe (EPIPE, with SIGPIPE ignored) is named as such.
bool WriteRawFrame(std::FILE* out, const DecodedFrame& frame, std::string* error);

// The arguments with which ffmpeg reads what WriteRawFrame writes for
// pictures of this size and bit count, top row first, at `rate` / `scale`
// frames a second (a stream without a usable rate is read at 25, ffmpeg's
// own default): "-f rawvideo -pixel_format bgr24 -video_size 1280x720
// -framerate 30000/1001 -i -".
std::string RawVideoArguments(int32_t width, int32_t height, uint16_t bitCount, uint32_t rate,
                              uint32_t scale);
