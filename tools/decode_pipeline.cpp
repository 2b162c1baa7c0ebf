#include "tools/decode_pipeline.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "tools/codec_session.h"
#include "tools/frame_memory.h"
#include "tools/memory_budget.h"

namespace {

// Frames decoded ahead of the one being delivered, per worker.
constexpr size_t kLookAheadPerThread = 2;

// Compressed buffers above this size are given back after their frame
// rather than kept for the next one.
constexpr size_t kKeptInputBytes = size_t(16) << 20;

bool SameFormat(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b) {
    return a.biWidth == b.biWidth && a.biHeight == b.biHeight &&
           a.biCompression == b.biCompression && a.biBitCount == b.biBitCount;
}

std::string SizeText(int32_t width, int32_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

// The part of the budget that the buffers a driver instance keeps from frame
// to frame may take, divided among the workers: a worker whose instance
// keeps more gives the buffers back after its frame. Kept buffers are not
// held to the budget (a worker waiting for its turn would hold memory that
// the turn before it may need), so this bounds what lies outside it.
constexpr uint64_t kKeptBuffersShare = 4;  // a quarter of the budget

// One decoding thread: its own codec session, its own compressed buffer,
// and the part of the run's memory budget its frame holds.
class Worker {
public:
    Worker(const FrameSource& source, MemoryBudget& budget, size_t workers)
        : m_source(source), m_budget(budget), m_keptLimit(budget.Limit() / (kKeptBuffersShare * workers)) {}

    // Decodes frame `index`, the run's `turn`th. On return the frame still
    // holds `*held` bytes of the budget (its picture), to be given back once
    // it has been delivered.
    DecodedFrame Decode(size_t index, size_t turn, uint64_t* held) {
        DecodedFrame frame;
        frame.index = index;
        m_turn = turn;
        m_turnTaken = false;
        m_held = 0;
        // A picture too large for the memory left fails alone; the run goes on.
        try {
            DecodeInto(&frame);
        } catch (const std::bad_alloc&) {
            frame.ok = false;
            frame.error = "not enough memory to decode the frame";
            frame.pixels = std::vector<uint8_t>();
            Hold(0);
        }
        if (!m_turnTaken) m_budget.Acquire(turn, 0);
        if (m_bytes.capacity() > kKeptInputBytes) m_bytes = std::vector<uint8_t>();
        *held = m_held;
        return frame;
    }

private:
    void DecodeInto(DecodedFrame* frame) {
        std::vector<uint8_t>& bytes = m_bytes;
        BITMAPINFOHEADER input = {};
        if (!m_source.Load(frame->index, &bytes, &input, &frame->error)) return;
        if (bytes.empty()) {
            frame->dropped = true;
            return;
        }
        if (!m_begun || !SameFormat(input, m_input)) {
            m_begun = m_session.Begin(input, &frame->error);
            m_input = input;
            if (!m_begun) return;
        }
        // The codec's header pass decides, before any memory is set aside,
        // whether the frame can be decoded and what it costs.
        FrameShape shape;
        if (!ReadFrameShape(bytes.data(), bytes.size(), &shape, &frame->error)) return;
        if (shape.width != input.biWidth || shape.height != input.biHeight) {
            frame->error = "the frame is " + SizeText(shape.width, shape.height) +
                           " but the stream's format is " + SizeText(input.biWidth, input.biHeight) +
                           "; the codec refuses it";
            return;
        }
        const uint64_t pictureBytes = m_session.OutputFormat().biSizeImage;
        const uint64_t cost = FrameMemoryCost(shape, bytes.size(), pictureBytes);
        m_turnTaken = true;
        if (!m_budget.Acquire(m_turn, cost)) {
            frame->error = cost > m_budget.Limit()
                               ? "a " + SizeText(shape.width, shape.height) +
                                     (shape.progressive ? " progressive" : " sequential") +
                                     " frame needs about " + MemoryText(cost) +
                                     " to decode, more than the memory budget of " +
                                     MemoryText(m_budget.Limit()) + " (--max-memory)"
                               : "the run was stopped";
            return;
        }
        m_held = cost;
        const LRESULT result = m_session.Decompress(bytes.data(), static_cast<uint32_t>(bytes.size()),
                                                    &frame->pixels);
        LimitKeptBuffers(shape);
        if (result != ICERR_OK) {
            frame->error = result == ICERR_BADFORMAT
                               ? "the codec refused the frame (ICERR_BADFORMAT)"
                               : "the codec failed (" + std::to_string(result) + ")";
            frame->pixels = std::vector<uint8_t>();
            Hold(0);
            return;
        }
        // The codec's working memory is free again; the picture stays
        // until it has been written.
        Hold(pictureBytes);
        frame->ok = true;
        frame->format = m_session.OutputFormat();
    }

    // The instance has kept the buffers of every frame since the last
    // release, grown to the largest; beyond this worker's share they go.
    void LimitKeptBuffers(const FrameShape& shape) {
        m_kept = std::max(m_kept, CodecWorkingBytes(shape));
        if (m_kept <= m_keptLimit) return;
        m_begun = m_session.ReleaseKeptBuffers();
        m_kept = 0;
    }

    // Gives back what the frame holds beyond `bytes`.
    void Hold(uint64_t bytes) {
        if (m_held > bytes) m_budget.Release(m_held - bytes);
        if (m_held > bytes) m_held = bytes;
    }

    const FrameSource& m_source;
    MemoryBudget& m_budget;
    const uint64_t m_keptLimit;
    uint64_t m_kept = 0;  // the most the instance's kept buffers may hold
    std::vector<uint8_t> m_bytes;  // the compressed frame, reused from frame to frame
    CodecSession m_session;
    BITMAPINFOHEADER m_input = {};
    bool m_begun = false;
    size_t m_turn = 0;
    bool m_turnTaken = false;
    uint64_t m_held = 0;
};

}  // namespace

PipelineStats RunDecodePipeline(const FrameSource& source, const std::vector<size_t>& indices,
                                int threads, uint64_t memoryLimit, const FrameSink& deliver) {
    const size_t total = indices.size();
    const size_t workers = std::max<size_t>(1, std::min<size_t>(std::max(threads, 1), total));
    const size_t window = workers * kLookAheadPerThread;

    struct Ready {
        DecodedFrame frame;
        uint64_t held = 0;  // bytes of the budget its picture holds
    };
    MemoryBudget budget(memoryLimit);
    std::mutex mutex;
    std::condition_variable changed;
    std::map<size_t, Ready> ready;  // by position in `indices`
    size_t next = 0;                // next position a worker takes
    size_t delivered = 0;           // positions handed to `deliver`
    bool stop = false;              // `deliver` ended the run

    auto work = [&] {
        Worker worker(source, budget, workers);
        for (;;) {
            size_t position;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || next >= total || next < delivered + window; });
                if (stop || next >= total) return;
                position = next++;
            }
            Ready done;
            done.frame = worker.Decode(indices[position], position, &done.held);
            {
                std::lock_guard<std::mutex> lock(mutex);
                ready.emplace(position, std::move(done));
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (size_t i = 0; i < workers; ++i) pool.emplace_back(work);

    PipelineStats stats;
    for (size_t position = 0; position < total && !stats.stopped; ++position) {
        Ready done;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return ready.count(position) != 0; });
            done = std::move(ready[position]);
            ready.erase(position);
            delivered = position + 1;
        }
        changed.notify_all();
        DecodedFrame& frame = done.frame;
        if (frame.ok) {
            ++stats.decoded;
            stats.megapixels += double(frame.format.biWidth) * std::abs(double(frame.format.biHeight)) / 1e6;
        } else if (frame.dropped) {
            ++stats.dropped;
        } else {
            ++stats.failed;
        }
        stats.stopped = !deliver(frame) && position + 1 < total;
        budget.Release(done.held);
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    budget.Close();
    changed.notify_all();
    for (std::thread& t : pool) t.join();
    stats.peakMemory = budget.Peak();
    return stats;
}
