// How wemb-decode divides the processors between frames and the threads
// within a frame.
#include "tools/thread_plan.h"

#include <gtest/gtest.h>

#include "platform/worker_pool.h"

namespace {

TEST(PlanThreads, FramesSideBySideFirstAndNeverMoreThreadsThanProcessorsUnlessBothAreAsked) {
    struct Case {
        int processors;
        size_t frames;
        int workers, codecThreads;  // asked for; 0 = not
        int plannedWorkers, plannedCodecThreads;
    };
    const Case cases[] = {
        // Nothing asked: one frame per processor, and the processors that
        // frames cannot use go to the frames there are.
        {2, 250, 0, 0, 2, 1},
        {8, 250, 0, 0, 8, 1},
        {8, 1, 0, 0, 1, 8},
        {8, 3, 0, 0, 3, 2},
        {32, 1, 0, 0, 1, kAutoPoolThreads},  // no more per frame than the codec would take itself
        {1, 250, 0, 0, 1, 1},
        {0, 250, 0, 0, 1, 1},  // processors unknown
        {4, 0, 0, 0, 1, 4},
        // -j alone: the processors it leaves, shared among its frames.
        {8, 250, 2, 0, 2, 4},
        {8, 250, 3, 0, 3, 2},
        {2, 250, 1, 0, 1, 2},
        {2, 250, 4, 0, 4, 1},   // more workers than processors: one thread each
        {2, 250, 256, 0, 8, 1}, // at most 4 workers per processor
        {8, 2, 6, 0, 2, 4},     // no more workers than frames
        // --codec-threads alone: as many frames at once as fit beside it.
        {8, 250, 0, 2, 4, 2},
        {8, 250, 0, 3, 2, 3},
        {2, 250, 0, 4, 1, 4},
        {8, 1, 0, 2, 1, 2},
        // Both asked: taken as they are, even beyond the processors.
        {2, 250, 2, 2, 2, 2},
        {8, 250, 1, 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.processors) + " processors, " + std::to_string(c.frames) + " frames, -j " +
                     std::to_string(c.workers) + ", --codec-threads " + std::to_string(c.codecThreads));
        const ThreadPlan plan = PlanThreads(c.processors, c.frames, c.workers, c.codecThreads);
        EXPECT_EQ(plan.frameWorkers, c.plannedWorkers);
        EXPECT_EQ(plan.codecThreads, c.plannedCodecThreads);
        if (c.workers == 0 || c.codecThreads == 0) {
            EXPECT_LE(plan.frameWorkers * plan.codecThreads,
                      std::max({c.processors, 1, c.workers, c.codecThreads}));
        }
    }
}

TEST(CodecThreadsSetting, OnlyANumberIsAChoice) {
    EXPECT_EQ(CodecThreadsSetting("3"), 3);
    EXPECT_EQ(CodecThreadsSetting("007"), 7);
    EXPECT_EQ(CodecThreadsSetting("1000"), kMaxPoolThreads);
    for (const char* none : {"", "0", "00", "-2", " 2", "2x", "auto"}) EXPECT_EQ(CodecThreadsSetting(none), 0) << none;
    EXPECT_EQ(CodecThreadsSetting(nullptr), 0);
}

}  // namespace
