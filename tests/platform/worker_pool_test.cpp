// The worker pool: every index of a job runs exactly once, participants of
// RunTogether really run at the same time, a failure gives the status one
// thread would have given, and threads start lazily, are reused from run to
// run and are all joined by Stop. Run with many more threads than the
// machine has processors, so that the participants contend and interleave.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/worker_pool.h"
#include "support/process_counts.h"

namespace {

using wemb_test::ThreadCount;
using wemb_test::ThreadCountSettlingAt;

// How often each index ran; indices in `failing` return -1 - index.
struct Tally {
    explicit Tally(int32_t count) : hits(static_cast<size_t>(count)) {}

    std::vector<std::atomic<int>> hits;
    std::set<int32_t> failing;

    int Ran(int32_t index) const { return hits[static_cast<size_t>(index)].load(); }
};

// Some indices take longer than others, so that participants finish their
// chunks at different times.
int32_t CountIndex(void* context, int32_t index) {
    Tally& tally = *static_cast<Tally*>(context);
    volatile int32_t spin = (index % 7) * 50;
    while (spin > 0) spin = spin - 1;
    tally.hits[static_cast<size_t>(index)].fetch_add(1);
    return tally.failing.count(index) != 0 ? -1 - index : 0;
}

TEST(WorkerPool, ParallelForRunsEveryIndexExactlyOnce) {
    for (int32_t threads : {1, 2, 3, 8, kMaxPoolThreads}) {
        CWorkerPool pool(threads);
        for (int32_t count : {0, 1, 2, 7, 64, 1000, 100003}) {
            Tally tally(count);
            EXPECT_EQ(pool.ParallelFor(count, CountIndex, &tally), 0);
            for (int32_t index = 0; index < count; ++index) {
                ASSERT_EQ(tally.Ran(index), 1) << threads << " threads, index " << index << " of " << count;
            }
        }
    }
}

// Participants that each wait, for at most ten seconds, until all of them
// have arrived: only participants that run at the same time all get through.
struct Rendezvous {
    explicit Rendezvous(int32_t count) : expected(count), threadOf(static_cast<size_t>(count)) {}

    std::mutex mutex;
    std::condition_variable allArrived;
    int32_t expected;
    int32_t arrived = 0;
    int32_t timedOut = 0;
    std::vector<std::thread::id> threadOf;
    std::set<int32_t> failing;
};

int32_t MeetOthers(void* context, int32_t participant) {
    Rendezvous& meeting = *static_cast<Rendezvous*>(context);
    std::unique_lock<std::mutex> lock(meeting.mutex);
    meeting.threadOf[static_cast<size_t>(participant)] = std::this_thread::get_id();
    if (++meeting.arrived == meeting.expected) meeting.allArrived.notify_all();
    if (!meeting.allArrived.wait_for(lock, std::chrono::seconds(10),
                                     [&] { return meeting.arrived == meeting.expected; })) {
        ++meeting.timedOut;
    }
    return meeting.failing.count(participant) != 0 ? -1 - participant : 0;
}

TEST(WorkerPool, RunTogetherRunsEveryParticipantAtOnceTheCallerFirst) {
    for (int32_t threads : {1, 2, 3, 8}) {
        CWorkerPool pool(threads);
        for (int32_t count = 1; count <= threads; ++count) {
            Rendezvous meeting(count);
            EXPECT_EQ(pool.RunTogether(count, MeetOthers, &meeting), 0);
            EXPECT_EQ(meeting.arrived, count);
            EXPECT_EQ(meeting.timedOut, 0) << count << " of " << threads << " did not meet";
            EXPECT_EQ(meeting.threadOf[0], std::this_thread::get_id()) << "participant 0 is the caller";
            const std::set<std::thread::id> distinct(meeting.threadOf.begin(), meeting.threadOf.end());
            EXPECT_EQ(distinct.size(), static_cast<size_t>(count)) << "one thread per participant";
        }
    }
}

TEST(WorkerPool, RunTogetherRefusesMoreParticipantsThanThreadsAndRunsNothing) {
    const int before = ThreadCount();
    CWorkerPool pool(3);
    Tally tally(4);
    EXPECT_EQ(pool.RunTogether(4, CountIndex, &tally), PoolErrTooFewThreads);
    EXPECT_EQ(pool.RunTogether(0, CountIndex, &tally), 0);
    EXPECT_EQ(pool.RunTogether(-1, CountIndex, &tally), 0);
    EXPECT_EQ(pool.ParallelFor(-1, CountIndex, &tally), 0);
    for (int32_t index = 0; index < 4; ++index) EXPECT_EQ(tally.Ran(index), 0);
    EXPECT_EQ(ThreadCount(), before) << "a refused run starts no thread";
}

// The status is the one of the lowest failing index, as a loop that stops
// at the first failure would return, and every index below it ran once.
TEST(WorkerPool, ParallelForReturnsTheFirstFailureOfASingleThreadLoop) {
    const int32_t kCount = 1000, kThreads = 4;
    const std::set<int32_t> cases[] = {{}, {0}, {5}, {999}, {700, 3}, {10, 500, 11}, {250, 251}};
    CWorkerPool pool(kThreads);
    for (int repeat = 0; repeat < 20; ++repeat) {
        for (const std::set<int32_t>& failing : cases) {
            Tally tally(kCount);
            tally.failing = failing;
            const int32_t first = failing.empty() ? kCount : *failing.begin();
            EXPECT_EQ(pool.ParallelFor(kCount, CountIndex, &tally), failing.empty() ? 0 : -1 - first);
            for (int32_t index = 0; index < kCount; ++index) {
                // Past the failure an index may have run or not, never twice.
                ASSERT_TRUE(tally.Ran(index) == 1 || (index > first && tally.Ran(index) == 0))
                    << "index " << index << " ran " << tally.Ran(index) << " times, first failure "
                    << first;
            }
        }
    }
}

// Index 0 fails at once; every other index takes a millisecond. The other
// participants start at most a few of them before they learn of the
// failure, instead of working through the whole job.
int32_t FailFirstSleepOthers(void* context, int32_t index) {
    static_cast<std::atomic<int>*>(context)->fetch_add(1);
    if (index == 0) return -7;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 0;
}

TEST(WorkerPool, ParallelForStopsSoonAfterAFailure) {
    const int32_t kCount = 100000;  // 25 s of work for 4 threads without the stop
    CWorkerPool pool(4);
    std::atomic<int> ran{0};
    EXPECT_EQ(pool.ParallelFor(kCount, FailFirstSleepOthers, &ran), -7);
    EXPECT_LT(ran.load(), kCount / 10);
}

TEST(WorkerPool, RunTogetherReturnsTheStatusOfTheLowestFailingParticipant) {
    CWorkerPool pool(4);
    const std::set<int32_t> cases[] = {{}, {0}, {3}, {2, 1}, {0, 1, 2, 3}};
    for (const std::set<int32_t>& failing : cases) {
        Rendezvous meeting(4);
        meeting.failing = failing;
        EXPECT_EQ(pool.RunTogether(4, MeetOthers, &meeting), failing.empty() ? 0 : -1 - *failing.begin());
        EXPECT_EQ(meeting.arrived, 4) << "every participant runs, failing or not";
    }
}

int32_t AddIndex(void* context, int32_t index) {
    static_cast<std::atomic<int64_t>*>(context)->fetch_add(index + 1);
    return 0;
}

// One set of threads serves every run: the count of threads does not grow
// with the runs, and a run after thousands of others is still complete.
TEST(WorkerPool, ServesRunAfterRunWithTheSameThreads) {
    const int before = ThreadCount();
    CWorkerPool pool(4);
    for (int run = 0; run < 3000; ++run) {
        std::atomic<int64_t> sum{0};
        const int32_t count = 1 + run % 9;
        if (run % 2 == 0) {
            ASSERT_EQ(pool.ParallelFor(count, AddIndex, &sum), 0);
        } else {
            ASSERT_EQ(pool.RunTogether(count % 4 + 1, AddIndex, &sum), 0);
        }
        const int32_t ran = run % 2 == 0 ? count : count % 4 + 1;
        ASSERT_EQ(sum.load(), int64_t{ran} * (ran + 1) / 2) << "run " << run;
    }
    EXPECT_EQ(ThreadCount(), before + 3);
}

int32_t NoteThread(void* context, int32_t) {
    auto& seen = *static_cast<std::pair<std::mutex, std::set<std::thread::id>>*>(context);
    std::lock_guard<std::mutex> lock(seen.first);
    seen.second.insert(std::this_thread::get_id());
    return 0;
}

TEST(WorkerPool, StartsOnTheFirstRunThatWantsHelpAndStopsAndRestarts) {
    const int before = ThreadCount();
    {
        CWorkerPool pool(4);
        EXPECT_EQ(pool.Threads(), 4);
        EXPECT_EQ(ThreadCount(), before) << "constructed";
        std::atomic<int64_t> sum{0};
        EXPECT_EQ(pool.ParallelFor(1, AddIndex, &sum), 0);
        EXPECT_EQ(pool.RunTogether(1, AddIndex, &sum), 0);
        EXPECT_EQ(sum.load(), 2);
        EXPECT_EQ(ThreadCount(), before) << "runs of one participant";
        pool.Stop();  // stopping a pool that never started does nothing

        EXPECT_EQ(pool.ParallelFor(2, AddIndex, &sum), 0);
        EXPECT_EQ(ThreadCount(), before + 3) << "first run that wants help";
        EXPECT_EQ(pool.Start(), 4);
        EXPECT_EQ(ThreadCount(), before + 3) << "started twice";

        pool.Stop();
        EXPECT_EQ(ThreadCountSettlingAt(before), before) << "stopped";
        pool.Stop();
        EXPECT_EQ(pool.Start(), 4);
        EXPECT_EQ(ThreadCount(), before + 3) << "restarted";
        pool.Stop();
        Tally tally(500);
        EXPECT_EQ(pool.ParallelFor(500, CountIndex, &tally), 0);
        for (int32_t index = 0; index < 500; ++index) ASSERT_EQ(tally.Ran(index), 1);
        EXPECT_EQ(ThreadCount(), before + 3) << "restarted by a run";
    }
    EXPECT_EQ(ThreadCountSettlingAt(before), before) << "destroyed";

    // A pool of one thread is the caller alone.
    CWorkerPool single(1);
    EXPECT_EQ(single.Start(), 1);
    std::pair<std::mutex, std::set<std::thread::id>> seen;
    EXPECT_EQ(single.ParallelFor(1000, NoteThread, &seen), 0);
    EXPECT_EQ(seen.second, std::set<std::thread::id>{std::this_thread::get_id()});
    EXPECT_EQ(ThreadCount(), before);
}

TEST(WorkerPool, ClampsItsThreadCount) {
    EXPECT_EQ(CWorkerPool(0).Threads(), 1);
    EXPECT_EQ(CWorkerPool(-5).Threads(), 1);
    EXPECT_EQ(CWorkerPool(kMaxPoolThreads + 1).Threads(), kMaxPoolThreads);
}

// Several host threads share one pool (one codec instance used from several
// threads): they take turns, and Stop waits for the run in progress.
TEST(WorkerPool, CallersOnSeveralThreadsTakeTurns) {
    CWorkerPool pool(3);
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int caller = 0; caller < 3; ++caller) {
        callers.emplace_back([&pool, &wrong, caller] {
            for (int run = 0; run < 100; ++run) {
                const int32_t count = 50 + caller * 7 + run;
                Tally tally(count);
                if (pool.ParallelFor(count, CountIndex, &tally) != 0) ++wrong;
                for (int32_t index = 0; index < count; ++index) {
                    if (tally.Ran(index) != 1) ++wrong;
                }
                Rendezvous meeting(3);
                if (pool.RunTogether(3, MeetOthers, &meeting) != 0 || meeting.timedOut != 0) ++wrong;
            }
        });
    }
    callers.emplace_back([&pool] {
        for (int stop = 0; stop < 30; ++stop) {
            pool.Stop();
            std::this_thread::yield();
        }
    });
    for (std::thread& caller : callers) caller.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(ThreadCount, SettingOrProcessorsWithinTheirLimits) {
    const struct {
        const char* setting;
        int32_t processors;
        int32_t threads;
    } rows[] = {
        {"1", 16, 1},          {"4", 2, 4},         {"32", 2, 32},         {"33", 2, 32},
        {"007", 1, 7},         {"99999999999999999999", 2, 32},            {nullptr, 2, 2},
        {nullptr, 1, 1},       {nullptr, 8, 8},     {nullptr, 64, 8},      {nullptr, 0, 1},
        {nullptr, -3, 1},      {"", 3, 3},          {"0", 3, 3},           {"-2", 3, 3},
        {"+2", 3, 3},          {" 2", 3, 3},        {"2 ", 3, 3},          {"2x", 3, 3},
        {"two", 3, 3},         {"1.5", 3, 3},       {"0x10", 3, 3},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ThreadCountFor(row.setting, row.processors), row.threads)
            << (row.setting != nullptr ? row.setting : "(not set)") << ", " << row.processors
            << " processors";
    }
}

TEST(ThreadCount, ReadsTheEnvironment) {
    {
        wemb_test::ScopedEnvironment setting(kThreadsVariable, "3");
        EXPECT_EQ(DecodeThreadCount(), 3);
    }
    {
        wemb_test::ScopedEnvironment setting(kThreadsVariable, "many");
        EXPECT_EQ(DecodeThreadCount(), ThreadCountFor(nullptr, ProcessorCount()));
    }
    wemb_test::ScopedEnvironment unset(kThreadsVariable, nullptr);
    const int32_t processors = ProcessorCount();
    EXPECT_GE(processors, 1);
    EXPECT_LE(processors, static_cast<int32_t>(std::thread::hardware_concurrency()));
    EXPECT_EQ(DecodeThreadCount(), processors < kAutoPoolThreads ? processors : kAutoPoolThreads);
}

}  // namespace
