// The picture buffers of a run, handed from frame to frame.
//
// A frame's picture is written into a buffer the host owns, written out,
// and then not needed any more. Allocating it afresh for every frame would
// have the C library map and the system fault in megabytes per frame (glibc
// serves blocks this large with their own mappings); the pool gives each
// written buffer to a later frame of the same format instead, so that a run
// of one format allocates a buffer only for each frame in flight at once.
//
// A buffer is zeroed once, when it is allocated, and then only ever holds
// pictures of one format: the codec writes every pixel of a frame it
// decodes and never the padding at the end of a row, so the padding stays
// zero and no buffer needs clearing between frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/vfw.h"

class PicturePool {
public:
    // Keeps at most `maxIdleBuffers` buffers of at most `maxIdleBytes` bytes
    // in all between their frames.
    PicturePool(size_t maxIdleBuffers, uint64_t maxIdleBytes)
        : m_maxIdleBuffers(maxIdleBuffers), m_maxIdleBytes(maxIdleBytes) {}

    // A buffer of `format`'s biSizeImage bytes for a picture of `format`:
    // one that held a picture of the same size, bit count and row order, or
    // a new zeroed one, when there is none (idle buffers of other formats
    // are then freed: the run has moved on to another format). May throw
    // std::bad_alloc. Safe to call from several threads.
    std::vector<uint8_t> Take(const BITMAPINFOHEADER& format);

    // Takes back a buffer that holds a picture of `format`, or what is left
    // of one (a frame that failed), to hand to a later frame. A buffer that
    // would go beyond either limit is freed instead, and so is an empty one.
    void Give(std::vector<uint8_t>&& buffer, const BITMAPINFOHEADER& format);

    // The bytes held by idle buffers.
    uint64_t IdleBytes() const;

private:
    struct Idle {
        std::vector<uint8_t> buffer;
        BITMAPINFOHEADER format;
    };

    static bool SameLayout(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b);

    const size_t m_maxIdleBuffers;
    const uint64_t m_maxIdleBytes;
    mutable std::mutex m_mutex;
    std::deque<Idle> m_idle;  // oldest first
    uint64_t m_idleBytes = 0;
};
