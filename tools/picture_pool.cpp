#include "tools/picture_pool.h"

#include <utility>

bool PicturePool::SameLayout(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b) {
    return a.biWidth == b.biWidth && a.biHeight == b.biHeight && a.biBitCount == b.biBitCount &&
           a.biSizeImage == b.biSizeImage;
}

std::vector<uint8_t> PicturePool::Take(const BITMAPINFOHEADER& format) {
    std::deque<Idle> others;  // freed outside the lock
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto idle = m_idle.begin(); idle != m_idle.end(); ++idle) {
            if (!SameLayout(idle->format, format)) continue;
            std::vector<uint8_t> buffer = std::move(idle->buffer);
            m_idleBytes -= buffer.size();
            m_idle.erase(idle);
            return buffer;
        }
        others.swap(m_idle);
        m_idleBytes = 0;
    }
    return std::vector<uint8_t>(format.biSizeImage);
}

void PicturePool::Give(std::vector<uint8_t>&& buffer, const BITMAPINFOHEADER& format) {
    std::vector<uint8_t> freed = std::move(buffer);  // freed outside the lock unless kept
    if (freed.empty() || freed.size() != format.biSizeImage || freed.size() > m_maxIdleBytes) return;
    std::deque<Idle> evicted;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        while (!m_idle.empty() &&
               (m_idle.size() >= m_maxIdleBuffers || m_idleBytes + freed.size() > m_maxIdleBytes)) {
            m_idleBytes -= m_idle.front().buffer.size();
            evicted.push_back(std::move(m_idle.front()));
            m_idle.pop_front();
        }
        if (m_maxIdleBuffers == 0) return;
        m_idleBytes += freed.size();
        m_idle.push_back(Idle{std::move(freed), format});
    }
}

uint64_t PicturePool::IdleBytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_idleBytes;
}
