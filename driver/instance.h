// DriverInstance: what one open of the codec keeps between messages.
#pragma once

#include <atomic>

#include "primitives/memory.h"

class CJPEGDecoder;

// The decoder of the last frame is kept, with its working buffers, from the
// first frame to ICM_DECOMPRESS_END or DRV_CLOSE, so that a stream of frames
// allocates once. A host may decode on several threads through one instance:
// the frame that finds the decoder taken uses one of its own.
struct DriverInstance {
    WEMB_HEAP_ALLOCATED

    DriverInstance() = default;
    ~DriverInstance();
    DriverInstance(const DriverInstance&) = delete;
    DriverInstance& operator=(const DriverInstance&) = delete;

    // The kept decoder for one frame, made when there is none yet; null when
    // another thread has it or there is no memory for it. Give it back with
    // ReturnDecoder.
    CJPEGDecoder* TakeDecoder();
    void ReturnDecoder();

    // Releases the kept decoder and its buffers, unless a frame is using it.
    void ReleaseDecoder();

    CJPEGDecoder* decoder = nullptr;
    std::atomic<bool> decoderTaken{false};
};
