// What a process holds that a leak would grow: its threads (the entries of
// /proc/self/task) and its open file descriptors (/proc/self/fd), and a
// variable of the environment set for the lifetime of an object.
#pragma once

#include <dirent.h>
#include <stdlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

namespace wemb_test {

// The entries of a /proc directory, "." and ".." left out; -1 when it
// cannot be read.
inline int ProcEntries(const char* path) {
    DIR* directory = opendir(path);
    if (directory == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = readdir(directory)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(directory);
    return count;
}

inline int ThreadCount() { return ProcEntries("/proc/self/task"); }

// The descriptor opendir holds while it counts is among them, every time.
inline int DescriptorCount() { return ProcEntries("/proc/self/fd"); }

// The thread count once it equals `expected`, or whatever it is after two
// seconds: a joined thread can stay listed for a moment after its join
// returned, while the kernel finishes its exit.
inline int ThreadCountSettlingAt(int expected) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int count = ThreadCount();
    while (count != expected && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        count = ThreadCount();
    }
    return count;
}

// Sets (or, with null, unsets) an environment variable, and restores its
// former state when the object goes away.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : m_name(name) {
        if (const char* old = getenv(name)) m_old = old;
        Set(value);
    }
    ~ScopedEnvironment() { Set(m_old ? m_old->c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void Set(const char* value) {
        if (value != nullptr) {
            setenv(m_name.c_str(), value, 1);
        } else {
            unsetenv(m_name.c_str());
        }
    }

    std::string m_name;
    std::optional<std::string> m_old;
};

}  // namespace wemb_test
