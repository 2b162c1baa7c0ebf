#include "tools/decode_pipeline.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
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
        std::vector<uint8_t> bytes;
        BITMAPINFOHEADER input = {};
        if (!m_source.Load(index, &bytes, &input, &frame.error)) return frame;
        if (bytes.empty()) {
            frame.dropped = true;
            return frame;
        }
        if (!m_begun || !SameFormat(input, m_input)) {
            m_begun = m_session.Begin(input, &frame.error);
            m_input = input;
            if (!m_begun) return frame;
        }
        const LRESULT result = m_session.Decompress(bytes.data(), static_cast<uint32_t>(bytes.size()),
                                                    &frame.pixels);
        if (result != ICERR_OK) {
            frame.error = result == ICERR_BADFORMAT ? "the codec refused the frame (ICERR_BADFORMAT)"
                                                    : "the codec failed (" + std::to_string(result) + ")";
            frame.pixels.clear();
            return frame;
        }
        frame.ok = true;
        frame.format = m_session.OutputFormat();
        return frame;
    }

private:
    const FrameSource& m_source;
    CodecSession m_session;
    BITMAPINFOHEADER m_input = {};
    bool m_begun = false;
};

}  // namespace

PipelineStats RunDecodePipeline(const FrameSource& source, const std::vector<size_t>& indices,
                                int threads, const std::function<void(DecodedFrame&)>& deliver) {
    const size_t total = indices.size();
    const size_t workers = std::max<size_t>(1, std::min<size_t>(threads, total));
    const size_t window = workers * kLookAheadPerThread;

    std::mutex mutex;
    std::condition_variable changed;
    std::map<size_t, DecodedFrame> ready;  // by position in `indices`
    size_t next = 0;                       // next position a worker takes
    size_t delivered = 0;                  // positions handed to `deliver`

    auto work = [&] {
        Worker worker(source);
        for (;;) {
            size_t position;
            {
                std::unique_lock<std::mutex> lock(mutex);
                changed.wait(lock, [&] { return next >= total || next < delivered + window; });
                if (next >= total) return;
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
    for (size_t position = 0; position < total; ++position) {
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
        deliver(frame);
    }
    for (std::thread& t : pool) t.join();
    return stats;
}
