// One limit on the memory that all the decoding workers of a run hold at
// once. Each frame asks for its cost (tools/frame_memory.h) before anything
// is allocated for it and waits until the cost fits; a frame whose cost
// alone exceeds the limit is refused instead.
//
// Frames are granted in turn, by their place in the run (0, 1, 2, ...):
// the memory that turn N waits for is held only by frames before it, which
// never wait for anything but the CPU and the writer, so the run always
// moves on. Without turns, frames further ahead could take the memory the
// frame the writer waits for needs, and wait themselves for the writer.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

class MemoryBudget {
public:
    explicit MemoryBudget(uint64_t limit) : m_limit(limit) {}

    uint64_t Limit() const { return m_limit; }

    // Waits until every turn before `turn` has been taken and `bytes` more
    // fit under the limit, then holds them. Each turn must be taken once,
    // whatever becomes of its frame: Acquire(turn, 0) passes it on. False,
    // holding nothing, when `bytes` exceed the limit (the turn is taken all
    // the same) or the budget has been closed.
    bool Acquire(size_t turn, uint64_t bytes);

    // Gives back bytes held.
    void Release(uint64_t bytes);

    // Ends the run early: every waiting Acquire returns false, and so does
    // every later one.
    void Close();

    // The most held at once so far.
    uint64_t Peak() const;

private:
    const uint64_t m_limit;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    size_t m_nextTurn = 0;
    uint64_t m_held = 0;
    uint64_t m_peak = 0;
    bool m_closed = false;
};

// The budget when the user gives none: half of the physical memory, or of
// the control group's memory limit when that is lower.
uint64_t DefaultMemoryBudget();

// "12.5 MiB", "3.0 GiB": a byte count for messages.
std::string MemoryText(uint64_t bytes);
