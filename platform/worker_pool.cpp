#include "platform/worker_pool.h"

namespace {

// ParallelFor hands each participant about this many chunks over a job: a
// participant that draws slow indices gets fewer chunks, so unequal work
// evens out, while the shared counter is touched only a few times per
// participant.
constexpr int32_t kChunksPerParticipant = 4;

// Long enough for any value that can be in range, and then some: a longer
// value is refused as too long before it is read.
constexpr size_t kSettingCapacity = 16;

int32_t Clamp(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : value > high ? high : value;
}

// The value of a setting of decimal digits alone, limited to `limit`; 0 for
// anything else (the empty text included).
int32_t ParseCount(const char* text, int32_t limit) {
    if (text == nullptr || *text == '\0') return 0;
    int32_t value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return 0;
        value = value > limit ? value : value * 10 + (*c - '0');  // stops growing once past limit
    }
    return value > limit ? limit : value;
}

}  // namespace

int32_t ThreadCountFor(const char* setting, int32_t processors) {
    const int32_t chosen = ParseCount(setting, kMaxPoolThreads);
    if (chosen >= 1) return chosen;
    return Clamp(processors, 1, kAutoPoolThreads);
}

int32_t DecodeThreadCount() {
    char setting[kSettingCapacity];
    const bool set = ReadEnvironment(kThreadsVariable, setting, sizeof(setting));
    return ThreadCountFor(set ? setting : nullptr, ProcessorCount());
}

CWorkerPool::CWorkerPool(int32_t threads) : m_threads(Clamp(threads, 1, kMaxPoolThreads)) {}

CWorkerPool::~CWorkerPool() { Stop(); }

int32_t CWorkerPool::Start() {
    CMutexLock run(m_runLock);
    return StartLocked();
}

int32_t CWorkerPool::StartLocked() {
    if (!m_started) {
        m_started = true;
        {
            CMutexLock board(m_lock);
            m_stopping = false;
        }
        // A worker waits for jobs after the one current at its start. It
        // takes that number from its seat, not from the board, since a job
        // may be posted before the new thread first looks.
        for (int32_t participant = 1; participant < m_threads; ++participant) {
            WorkerSeat& seat = m_seats[participant - 1];
            seat = WorkerSeat{this, participant, m_generation};
            if (!m_workerThreads[participant - 1].Start(WorkerMain, &seat)) break;
            ++m_workers;
        }
    }
    return m_workers + 1;
}

void CWorkerPool::Stop() {
    CMutexLock run(m_runLock);
    if (!m_started) return;
    {
        CMutexLock board(m_lock);
        m_stopping = true;
    }
    m_jobPosted.WakeAll();
    for (int32_t worker = 0; worker < m_workers; ++worker) {
        m_workerThreads[worker].Join();
    }
    m_workers = 0;
    m_started = false;
}

void CWorkerPool::WorkerMain(void* seat) {
    const WorkerSeat& mine = *static_cast<const WorkerSeat*>(seat);
    mine.pool->WorkerLoop(mine.participant, mine.generation);
}

void CWorkerPool::WorkerLoop(int32_t participant, uint32_t generation) {
    for (;;) {
        Job job;
        {
            CMutexLock board(m_lock);
            while (!m_stopping && m_generation == generation) {
                m_jobPosted.Wait(m_lock);
            }
            if (m_stopping) return;
            generation = m_generation;
            job = m_job;
        }
        if (participant >= job.participants) continue;  // this job needs fewer threads
        Participate(job, participant);
        CMutexLock board(m_lock);
        if (--m_busyWorkers == 0) m_jobDone.WakeOne();
    }
}

int32_t CWorkerPool::RunTogether(int32_t count, PoolTask task, void* context) {
    if (count <= 0) return 0;
    if (count > m_threads) return PoolErrTooFewThreads;
    Job job;
    job.kind = JobTogether;
    job.task = task;
    job.context = context;
    job.count = count;
    job.participants = count;
    return Run(job);
}

int32_t CWorkerPool::ParallelFor(int32_t count, PoolTask task, void* context) {
    if (count <= 0) return 0;
    Job job;
    job.kind = JobParallelFor;
    job.task = task;
    job.context = context;
    job.count = count;
    job.participants = count < m_threads ? count : m_threads;
    return Run(job);
}

int32_t CWorkerPool::Run(const Job& requested) {
    CMutexLock run(m_runLock);
    Job job = requested;
    if (job.participants > 1) {
        const int32_t available = StartLocked();
        if (job.participants > available) {
            if (job.kind == JobTogether) return PoolErrTooFewThreads;
            job.participants = available;
        }
    }
    job.chunk = job.count / (job.participants * kChunksPerParticipant);
    if (job.chunk < 1) job.chunk = 1;
    m_nextIndex.store(0, std::memory_order_relaxed);
    m_firstFailure.store(job.count, std::memory_order_relaxed);

    if (job.participants > 1) {
        {
            CMutexLock board(m_lock);
            m_job = job;
            m_busyWorkers = job.participants - 1;
            ++m_generation;
        }
        m_jobPosted.WakeAll();
    }
    Participate(job, 0);
    if (job.participants > 1) {
        CMutexLock board(m_lock);
        while (m_busyWorkers > 0) {
            m_jobDone.Wait(m_lock);
        }
    }

    Outcome first = {job.count, 0};
    for (int32_t participant = 0; participant < job.participants; ++participant) {
        if (m_outcomes[participant].index < first.index) first = m_outcomes[participant];
    }
    return first.status;
}

void CWorkerPool::Participate(const Job& job, int32_t participant) {
    if (job.kind == JobParallelFor) {
        RunIndices(job, participant);
        return;
    }
    const int32_t status = job.task(job.context, participant);
    m_outcomes[participant] = Outcome{status != 0 ? participant : job.count, status};
}

void CWorkerPool::RunIndices(const Job& job, int32_t participant) {
    Outcome& outcome = m_outcomes[participant];
    outcome = Outcome{job.count, 0};
    int32_t begin = m_nextIndex.load(std::memory_order_relaxed);
    for (;;) {
        // Take the next chunk; the counter never passes the job's count.
        int32_t end;
        do {
            if (begin >= job.count) return;
            end = job.count - begin > job.chunk ? begin + job.chunk : job.count;
        } while (!m_nextIndex.compare_exchange_weak(begin, end, std::memory_order_relaxed));

        for (int32_t index = begin; index < end; ++index) {
            // An index above a failure would not have run on one thread.
            if (index > m_firstFailure.load(std::memory_order_relaxed)) return;
            const int32_t status = job.task(job.context, index);
            if (status != 0) {
                outcome = Outcome{index, status};
                LowerFirstFailure(index);
                return;
            }
        }
        begin = m_nextIndex.load(std::memory_order_relaxed);
    }
}

void CWorkerPool::LowerFirstFailure(int32_t index) {
    int32_t known = m_firstFailure.load(std::memory_order_relaxed);
    while (index < known &&
           !m_firstFailure.compare_exchange_weak(known, index, std::memory_order_relaxed)) {
    }
}
