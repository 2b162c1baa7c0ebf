// Decodes a run of frames on several threads and hands the results over in
// frame order.
//
// Each worker keeps its own codec instance (one DRV_OPEN each, as several
// ICOpen calls would), negotiated for the picture layout the caller asks
// for, and sends one ICM_DECOMPRESS per frame. The caller's thread receives
// the frames in order; workers run at most a few frames ahead of it. Once a
// frame has been delivered, its picture buffer goes to a later frame of the
// same format (tools/picture_pool.h), and each worker keeps its buffer of
// compressed bytes: a run of one format allocates nothing per frame.
//
// Memory: before a frame's picture buffer is allocated, the worker runs the
// codec's header pass on it (a frame refused there costs nothing more) and
// acquires the frame's cost (tools/frame_memory.h) from one budget shared by
// all workers (tools/memory_budget.h), waiting while other frames hold it.
// The codec's working memory is given back when the frame is decoded, the
// picture once it has been delivered. A frame that costs more than the whole
// budget fails with a message saying so. Two kinds of memory stay outside
// the budget, each bounded by a share of it: the buffers a driver instance
// keeps between frames, a quarter at most over all workers (a worker whose
// instance keeps more ends the stream, ICM_DECOMPRESS_END, after its frame,
// which gives them back); and the picture buffers waiting between one frame
// and the next, an eighth at most.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/vfw.h"
#include "tools/codec_session.h"
#include "tools/frame_source.h"

struct DecodedFrame {
    size_t index = 0;               // the frame's number in its source
    bool ok = false;                // decoded
    bool dropped = false;           // a frame of zero bytes: nothing to decode
    std::string error;              // why it failed
    BITMAPINFOHEADER format = {};   // the output format agreed with the codec
    std::vector<uint8_t> pixels;    // the picture as the codec wrote it, when ok
};

// Counts of the frames handed to `deliver`.
struct PipelineStats {
    size_t decoded = 0;
    size_t failed = 0;
    size_t dropped = 0;
    double megapixels = 0.0;
    bool stopped = false;  // `deliver` asked to stop before the last frame
    uint64_t peakMemory = 0;  // the most of the memory budget held at once
};

// Receives each frame on the calling thread; returns false to end the run
// (the output failed): no further frame is delivered and the workers stop.
using FrameSink = std::function<bool(DecodedFrame&)>;

// Decodes `indices` of `source` on `threads` workers (at most one per frame)
// into pictures of `layout`, holding at most `memoryLimit` bytes for the
// frames between their header pass and their delivery, and calls `deliver`
// for each frame in the order of `indices`. `deliver` may keep a frame's
// pixels by swapping them for another picture's (with its format), which
// then goes back to the pool in their place.
PipelineStats RunDecodePipeline(const FrameSource& source, const std::vector<size_t>& indices,
                                int threads, uint64_t memoryLimit, const FrameSink& deliver,
                                const PictureLayout& layout = PictureLayout());
