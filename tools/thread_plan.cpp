#include "tools/thread_plan.h"

#include <algorithm>

#include "platform/worker_pool.h"

ThreadPlan PlanThreads(int processors, size_t frames, int requestedWorkers, int requestedCodecThreads) {
    processors = std::max(processors, 1);
    const int frameCount = static_cast<int>(std::min<size_t>(std::max<size_t>(frames, 1), 1 << 20));
    ThreadPlan plan;
    if (requestedWorkers > 0) {
        plan.frameWorkers = std::min(requestedWorkers, processors * kMaxWorkersPerProcessor);
    } else if (requestedCodecThreads > 0) {
        plan.frameWorkers = std::max(1, processors / requestedCodecThreads);
    } else {
        plan.frameWorkers = processors;
    }
    plan.frameWorkers = std::min(plan.frameWorkers, frameCount);
    plan.codecThreads = requestedCodecThreads > 0
                            ? requestedCodecThreads
                            : std::clamp(processors / plan.frameWorkers, 1, int(kAutoPoolThreads));
    return plan;
}

int CodecThreadsSetting(const char* setting) {
    if (setting == nullptr || *setting == '\0') return 0;
    bool nonZero = false;
    for (const char* c = setting; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return 0;
        nonZero = nonZero || *c != '0';
    }
    return nonZero ? ThreadCountFor(setting, 1) : 0;
}
