// ThreadSanitizer starts a helper thread of its own along with the first
// thread a process creates, which would show in the thread count of the
// first test to start threads. One thread started and joined as the test
// program starts puts the helper in place before any test counts.
#include "support/process_counts.h"

namespace {

const bool g_threadRuntimeReady = [] {
    const int before = wemb_test::ThreadCount();
    std::thread([] {}).join();
    // Back to the count before at once, unless a helper stays (or the
    // kernel takes a moment to end the joined thread): then it waits a
    // little.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
    while (wemb_test::ThreadCount() > before && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}();

}  // namespace
