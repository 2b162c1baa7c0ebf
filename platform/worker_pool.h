// A fixed set of worker threads that lets one call spread its work over
// several processors, and the rule that says how many threads to use.
//
// The caller of a run is always one of the participants: a pool of N threads
// has N - 1 workers, which sleep on a condition variable between runs and
// never spin. The workers start on the first run that asks for more than one
// participant (or on Start), and Stop or the destructor joins them. Runs
// allocate nothing.
//
// Tasks return a status, 0 for success, and a run returns the status a
// single thread would have met first (see each call). The pool adds one
// status of its own, PoolErrTooFewThreads. A task must not start another
// run on the same pool: the pool runs one job at a time, and the nested run
// would wait for the run it is part of.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/threads.h"

// Work item of a run: `index` says which part of the job to do.
using PoolTask = int32_t (*)(void* context, int32_t index);

// RunTogether was asked for more participants than the pool has threads.
constexpr int32_t PoolErrTooFewThreads = -100;

// The most threads a pool has, whatever it is asked for. Room for a
// setting above the processor count (tests oversubscribe on purpose) while
// bounding the fixed thread table and the per-thread working memory a
// decoder sets aside.
constexpr int32_t kMaxPoolThreads = 32;

// The most threads chosen from the processor count alone. A frame's
// entropy-coded data is read by one thread at a time, so beyond a few
// threads the others mostly wait for it while each still costs working
// memory; and a player needs processors for its own work (audio, drawing,
// reading the file) besides the codec.
constexpr int32_t kAutoPoolThreads = 8;

// The environment variable that overrides the thread count: a whole number,
// 1 for single-threaded decoding.
constexpr char kThreadsVariable[] = "WEMB_THREADS";

// The thread count for `setting` (the variable's value, or null when it is
// not set) on a machine with `processors` processors: a setting of decimal
// digits alone with a value of 1 or more, limited to kMaxPoolThreads;
// otherwise (not set, empty, 0, a sign, spaces, any other character) the
// processors, limited to kAutoPoolThreads; at least 1.
int32_t ThreadCountFor(const char* setting, int32_t processors);

// ThreadCountFor with this process's environment and processors.
int32_t DecodeThreadCount();

class CWorkerPool {
public:
    // A pool of `threads` threads, the caller's included, limited to
    // 1 .. kMaxPoolThreads. No thread starts here.
    explicit CWorkerPool(int32_t threads);
    ~CWorkerPool();
    CWorkerPool(const CWorkerPool&) = delete;
    CWorkerPool& operator=(const CWorkerPool&) = delete;

    // The threads this pool was made for, the caller's included.
    int32_t Threads() const { return m_threads; }

    // Starts the workers unless they run already, and returns how many
    // threads can run together now, the caller's included: Threads(), or
    // fewer when the system refused a thread (the pool then works with the
    // ones it got until the next Stop).
    int32_t Start();

    // Wakes the workers, lets them end and joins them; waits for a run in
    // progress first. The pool may be started again afterwards.
    void Stop();

    // Runs task(context, k) for k = 0 .. count - 1 at the same time, one
    // participant each, so that they may wait for each other: the caller
    // runs k = 0, workers the rest. Returns when all have returned, with
    // the status of the lowest k that failed, or 0. count <= 0 runs
    // nothing. When fewer than `count` threads can run together (see
    // Start), runs nothing and returns PoolErrTooFewThreads.
    int32_t RunTogether(int32_t count, PoolTask task, void* context);

    // Runs task(context, i) once for each i = 0 .. count - 1, handing out
    // indices in increasing order, in chunks, to the caller and the workers
    // as they become free. Returns when every index handed out has returned,
    // with the status of the lowest index that failed, or 0: exactly what a
    // loop over the indices that stops at the first failure returns. Every
    // index below that one runs. Once a failure is known, no participant
    // starts an index above it; indices above it that had started run to
    // their end, so tasks must not rely on indices past a failure being
    // skipped.
    int32_t ParallelFor(int32_t count, PoolTask task, void* context);

private:
    enum JobKind { JobTogether, JobParallelFor };

    struct Job {
        JobKind kind = JobTogether;
        PoolTask task = nullptr;
        void* context = nullptr;
        int32_t count = 0;
        int32_t participants = 0;  // the caller and workers 1 .. participants - 1
        int32_t chunk = 1;         // indices per hand-out (ParallelFor)
    };

    // What a participant leaves for the caller: the lowest index that failed
    // and its status (index = the job's count and status 0 when none did).
    struct Outcome {
        int32_t index;
        int32_t status;
    };

    // The argument of one worker thread.
    struct WorkerSeat {
        CWorkerPool* pool;
        int32_t participant;   // 1 .. kMaxPoolThreads - 1
        uint32_t generation;   // the job count when the worker was started
    };

    static void WorkerMain(void* seat);
    void WorkerLoop(int32_t participant, uint32_t generation);
    int32_t StartLocked();  // m_runLock held
    int32_t Run(const Job& job);
    void Participate(const Job& job, int32_t participant);
    void RunIndices(const Job& job, int32_t participant);
    void LowerFirstFailure(int32_t index);

    const int32_t m_threads;

    // Held by a run, Start or Stop from beginning to end: one at a time.
    CMutex m_runLock;
    bool m_started = false;   // under m_runLock
    int32_t m_workers = 0;    // workers running; under m_runLock

    // The job board, under m_lock. A new job bumps m_generation and wakes
    // every worker; the last busy worker to finish wakes the caller.
    CMutex m_lock;
    CConditionVariable m_jobPosted;
    CConditionVariable m_jobDone;
    uint32_t m_generation = 0;
    bool m_stopping = false;
    int32_t m_busyWorkers = 0;
    Job m_job;

    // ParallelFor's shared state: the next index to hand out and the lowest
    // index known to have failed (the job's count while none has).
    std::atomic<int32_t> m_nextIndex{0};
    std::atomic<int32_t> m_firstFailure{0};

    // Written by each participant during a run, read by the caller after
    // the workers have reported done under m_lock.
    Outcome m_outcomes[kMaxPoolThreads] = {};

    WorkerSeat m_seats[kMaxPoolThreads - 1] = {};
    CThread m_workerThreads[kMaxPoolThreads - 1];
};
