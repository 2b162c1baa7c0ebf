// What one frame costs the host in memory, learnt from the frame's headers
// before anything is set aside for it.
//
// The host runs the codec's own header pass (CJPEGDecoder::ParseHeaders,
// the first half of what ICM_DECOMPRESS does) on each frame. A frame the
// codec refuses there fails at once, before its picture buffer exists; a
// frame it accepts is given a cost that the memory budget must cover while
// it is decoded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/vfw.h"

struct FrameShape {
    int32_t width = 0;
    int32_t height = 0;
    int32_t components = 0;
    bool progressive = false;  // or not known to be sequential
};

// Runs the codec's header pass on a frame. False, with the reason, when the
// codec refuses the frame's headers or would refuse the frame after them (a
// sampling structure it does not decode, a colour model it cannot turn into
// B, G, R).
bool ReadFrameShape(const uint8_t* frame, size_t size, FrameShape* shape, std::string* error);

// The memory the codec works with while it decodes a frame of this shape,
// over and above the picture it writes into, as an upper bound:
//
//   a fixed 2 MiB for the decoder object and its tables (the Huffman decode
//   tables of a frame that keeps replacing them: 80 of some 18 KB), plus
//   6 bytes per sample of each component for each band of the frame the
//   codec holds at once: 2 for the coefficients (64 coefficients of 2 bytes
//   per 64 samples) and 4 for the sample planes the up-sampling and colour
//   conversion read and write (about 2 in the codec as it stands; the rest
//   is room for the planes to grow).
//
// A progressive frame keeps every coefficient until its last scan: its
// band is the whole frame. A sequential frame is decoded in 16-row bands,
// two for each thread that shares it (at most kMaxPoolThreads, and no more
// than it has MCU rows); shared, one of its threads may decode the data
// ahead into coefficients for the whole frame, with a record of 64 bytes
// for each MCU, which adds 3 bytes per sample of the frame. Components are
// counted at full resolution, which over-counts sub-sampled chroma.
//
// A driver instance keeps its decoder's buffers from frame to frame, grown
// to the largest frame it has decoded, until ICM_DECOMPRESS_END: what it
// keeps is bounded by the largest of these figures over its frames.
uint64_t CodecWorkingBytes(const FrameShape& shape);

// All a worker holds for one frame while it decodes it: the compressed
// bytes, the picture (`pictureBytes`, the output format's biSizeImage) and
// the codec's working memory.
uint64_t FrameMemoryCost(const FrameShape& shape, size_t compressedBytes, uint64_t pictureBytes);
