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

namespace {

// Frames decoded ahead of the one being delivered, per worker.
constexpr size_t kLookAheadPerThread = 2;

bool SameFormat(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b) {
    return a.biWidth == b.biWidth && a.biHeight == b.biHeight &&
           a.biCompression == b.biCompression && a.biBitCount == b.biBitCount;
}

class Worker {
public:
    explicit Worker(const FrameSource& source) : m_source(source) {}

    DecodedFrame Decode(size_t index) {
        DecodedFrame frame;
        frame.index = index;
        // A picture too large for the memory left fails alone; the run goes on.
        try {
            DecodeInto(&frame);
        } catch (const std::bad_alloc&) {
            frame.ok = false;
            frame.error = "not enough memory to decode the frame";
            frame.pixels = std::vector<uint8_t>();
        }
        return frame;
    }

private:
    void DecodeInto(DecodedFrame* frame) {
        const size_t index = frame->index;
        std::vector<uint8_t>& bytes = m_bytes;
        BITMAPINFOHEADER input = {};
        if (!m_source.Load(index, &bytes, &input, &frame->error)) return;
        if (bytes.empty()) {
            frame->dropped = true;
            return;
        }
        if (!m_begun || !SameFormat(input, m_input)) {
            m_begun = m_session.Begin(input, &frame->error);
            m_input = input;
            if (!m_begun) return;
        }
        const LRESULT result = m_session.Decompress(bytes.data(), static_cast<uint32_t>(bytes.size()),
                                                    &frame->pixels);
        if (result != ICERR_OK) {
            frame->error = result == ICERR_BADFORMAT
                               ? "the codec refused the frame (ICERR_BADFORMAT)"
                               : "the codec failed (" + std::to_string(result) + ")";
            frame->pixels = std::vector<uint8_t>();
            return;
        }
        frame->ok = true;
        frame->format = m_session.OutputFormat();
    }

    const FrameSource& m_source;
    std::vector<uint8_t> m_bytes;  // the compressed frame, reused from frame to frame
    CodecSession m_session;
    BITMAPINFOHEADER m_input = {};
    bool m_begun = false;
};

}  // namespace

PipelineStats RunDecodePipeline(const FrameSource& source, const std::vector<size_t>& indices,
                                int threads, const FrameSink& deliver) {
    const size_t total = indices.size();
    const size_t workers = std::max<size_t>(1, std::min<size_t>(std::max(threads, 1), total));
    const size_t window = workers * kLookAheadPerThread;

    std::mutex mutex;
    std::condition_variable changed;
    std::map<size_t, DecodedFrame> ready;  // by position in `indices`
    size_t next = 0;                       // next position a worker takes
    size_t delivered = 0;                  // positions handed to `deliver`
    bool stop = false;                     // `deliver` ended the run

    auto work = [&] {
        Worker worker(source);
        for (;;) {
            size_t position;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return stop || next >= total || next < delivered + window; });
                if (stop || next >= total) return;
                position = next++;
            }
            DecodedFrame frame = worker.Decode(indices[position]);
            {
                std::lock_guard<std::mutex> lock(mutex);
                ready.emplace(position, std::move(frame));
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> pool;
    for (size_t i = 0; i < workers; ++i) pool.emplace_back(work);

    PipelineStats stats;
    for (size_t position = 0; position < total && !stats.stopped; ++position) {
        DecodedFrame frame;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait(lock, [&] { return ready.count(position) != 0; });
            frame = std::move(ready[position]);
            ready.erase(position);
            delivered = position + 1;
        }
        changed.notify_all();
        if (frame.ok) {
            ++stats.decoded;
            stats.megapixels += double(frame.format.biWidth) * std::abs(double(frame.format.biHeight)) / 1e6;
        } else if (frame.dropped) {
            ++stats.dropped;
        } else {
            ++stats.failed;
        }
        stats.stopped = !deliver(frame) && position + 1 < total;
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    changed.notify_all();
    for (std::thread& t : pool) t.join();
    return stats;
}
