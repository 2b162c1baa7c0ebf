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
#include "tools/picture_pool.h"

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

// The part of the budget that picture buffers may take while they wait,
// written, for a later frame (tools/picture_pool.h). Not held to the budget
// either: a frame that takes one is charged for it again.
constexpr uint64_t kIdlePicturesShare = 8;  // an eighth of the budget

// One decoding thread: its own codec session, its own compressed buffer,
// and the part of the run's memory budget its frame holds.
class Worker {
public:
    // `costed` hears the cost of each frame as soon as its header pass has
    // given it, before the frame waits for the budget.
    Worker(const FrameSource& source, MemoryBudget& budget, PicturePool& pictures, const PictureLayout& layout,
           size_t workers, const std::function<void(uint64_t)>& costed)
        : m_source(source),
          m_budget(budget),
          m_pictures(pictures),
          m_layout(layout),
          m_keptLimit(budget.Limit() / (kKeptBuffersShare * workers)),
          m_costed(costed) {}

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
            m_begun = m_session.Begin(input, m_layout, &frame->error);
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
        m_costed(cost);
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
        frame->format = m_session.OutputFormat();
        frame->pixels = m_pictures.Take(frame->format);
        const LRESULT result = m_session.Decompress(bytes.data(), static_cast<uint32_t>(bytes.size()),
                                                    frame->pixels.data());
        LimitKeptBuffers(shape);
        // The codec's working memory is free again; the picture buffer is
        // held until the frame has been delivered, whatever its fate.
        Hold(pictureBytes);
        if (result != ICERR_OK) {
            frame->error = result == ICERR_BADFORMAT
                               ? "the codec refused the frame (ICERR_BADFORMAT)"
                               : "the codec failed (" + std::to_string(result) + ")";
            return;
        }
        frame->ok = true;
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
    PicturePool& m_pictures;
    const PictureLayout m_layout;
    const uint64_t m_keptLimit;
    const std::function<void(uint64_t)>& m_costed;
    uint64_t m_kept = 0;  // the most the instance's kept buffers may hold
    std::vector<uint8_t> m_bytes;  // the compressed frame, reused from frame to frame
    CodecSession m_session;
    BITMAPINFOHEADER m_input = {};
    bool m_begun = false;
    size_t m_turn = 0;
    bool m_turnTaken = false;
    uint64_t m_held = 0;
};

// How many workers may decode at once when frames cost `cost` each: as many
// frames as the budget holds at once, at least one; one while no frame has
// been costed (`cost` 0). More would only wait for the budget, and each
// thread that has decoded a frame keeps its working memory, once freed, in
// the C library's heap for that thread (glibc's per-thread arenas keep
// freed blocks below a threshold that grows with the blocks freed): with
// large frames taking turns on every worker, every worker's thread would
// keep the memory of one (sixteen 4096 x 4096 frames on 8 workers: 190 MB
// at the peak instead of 69).
size_t SeatsFor(uint64_t cost, uint64_t memoryLimit, size_t workers) {
    if (cost == 0) return 1;
    return std::clamp<uint64_t>(memoryLimit / cost, 1, workers);
}

}  // namespace

PipelineStats RunDecodePipeline(const FrameSource& source, const std::vector<size_t>& indices,
                                int threads, uint64_t memoryLimit, const FrameSink& deliver,
                                const PictureLayout& layout) {
    const size_t total = indices.size();
    const size_t workers = std::max<size_t>(1, std::min<size_t>(std::max(threads, 1), total));
    const size_t window = workers * kLookAheadPerThread;

    struct Ready {
        DecodedFrame frame;
        uint64_t held = 0;  // bytes of the budget its picture holds
    };
    MemoryBudget budget(memoryLimit);
    PicturePool pictures(window, memoryLimit / kIdlePicturesShare);
    std::mutex mutex;
    std::condition_variable changed;
    std::map<size_t, Ready> ready;  // by position in `indices`
    size_t next = 0;                // next position a worker takes
    size_t delivered = 0;           // positions handed to `deliver`
    bool stop = false;              // `deliver` ended the run

    uint64_t frameCost = 0;         // the cost of the last frame costed, 0 before the first
    size_t seated = 0;              // workers that may take frames (SeatsFor)

    const std::function<void(uint64_t)> costed = [&](uint64_t cost) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            frameCost = cost;
        }
        changed.notify_all();
    };

    // A worker keeps its seat from frame to frame, so that the same threads
    // go on decoding while the seats are few; it gives the seat up when the
    // frames have grown too large for all the seats taken.
    auto work = [&] {
        Worker worker(source, budget, pictures, layout, workers, costed);
        bool seat = false;
        for (;;) {
            size_t position;
            {
                std::unique_lock<std::mutex> lock(mutex);
                if (seat && seated > SeatsFor(frameCost, memoryLimit, workers)) {
                    seat = false;
                    --seated;
                    changed.notify_all();
                }
                changed.wait(lock, [&] {
                    return stop || next >= total ||
                           (next < delivered + window &&
                            (seat || seated < SeatsFor(frameCost, memoryLimit, workers)));
                });
                if (stop || next >= total) return;
                if (!seat) {
                    seat = true;
                    ++seated;
                }
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
        pictures.Give(std::move(frame.pixels), frame.format);
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
