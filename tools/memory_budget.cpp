#include "tools/memory_budget.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>

bool MemoryBudget::Acquire(size_t turn, uint64_t bytes) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] {
        return m_closed || (m_nextTurn == turn && (bytes > m_limit || m_held + bytes <= m_limit));
    });
    if (m_closed) return false;
    ++m_nextTurn;
    const bool granted = bytes <= m_limit;
    if (granted) {
        m_held += bytes;
        if (m_held > m_peak) m_peak = m_held;
    }
    lock.unlock();
    m_changed.notify_all();  // the next turn may go on
    return granted;
}

void MemoryBudget::Release(uint64_t bytes) {
    if (bytes == 0) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held -= bytes;
    }
    m_changed.notify_all();
}

void MemoryBudget::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
}

uint64_t MemoryBudget::Peak() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_peak;
}

namespace {

// memory.max of the cgroup v2 hierarchy this process runs in ("max" when
// unlimited); 0 when there is none to read.
uint64_t ControlGroupLimit() {
    std::ifstream file("/sys/fs/cgroup/memory.max");
    unsigned long long limit = 0;
    if (!(file >> limit)) return 0;
    return limit;
}

}  // namespace

uint64_t DefaultMemoryBudget() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    uint64_t memory = pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
    const uint64_t group = ControlGroupLimit();
    if (group != 0 && (memory == 0 || group < memory)) memory = group;
    if (memory == 0) memory = uint64_t(2) << 30;  // nothing to go by: assume 2 GiB
    return memory / 2;
}

std::string MemoryText(uint64_t bytes) {
    const double mib = double(bytes) / double(1 << 20);
    char text[32];
    if (mib >= 1024.0) {
        std::snprintf(text, sizeof text, "%.1f GiB", mib / 1024.0);
    } else {
        std::snprintf(text, sizeof text, "%.1f MiB", mib);
    }
    return text;
}
