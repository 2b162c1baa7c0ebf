// How wemb-decode spreads a run over the processors: frames decoded side by
// side, each by its own codec instance on its own thread (-j), and threads
// that each instance spreads one frame over (--codec-threads, the codec's
// WEMB_THREADS).
#pragma once

#include <cstddef>

struct ThreadPlan {
    int frameWorkers = 1;  // frames decoded at once
    int codecThreads = 1;  // threads per frame, the worker's own included
};

// The plan for a run of `frames` frames on `processors` processors.
// `requestedWorkers` and `requestedCodecThreads` are the user's choices, 0
// when not made. The defaults decode side by side first: as many frames at
// once as there are processors and frames, and each frame on the
// processors left over for it (all of them for a single frame), so that
// workers x threads never exceed the processors. A choice the user made is
// kept (-j at most `kMaxWorkersPerProcessor` per processor), and the other
// number divides the processors it leaves; only two choices together can
// ask for more threads than processors. No more workers than frames are
// planned, and at most kAutoPoolThreads threads per frame unless asked.
ThreadPlan PlanThreads(int processors, size_t frames, int requestedWorkers, int requestedCodecThreads);

// Decoding is CPU-bound: workers past a few per processor add nothing but
// the frames each of them holds.
constexpr int kMaxWorkersPerProcessor = 4;

// The threads per frame a WEMB_THREADS setting asks for, when it asks for a
// number (decimal digits alone, 1 or more; limited as the codec limits it);
// 0 when it is absent or leaves the choice to the codec.
int CodecThreadsSetting(const char* setting);
