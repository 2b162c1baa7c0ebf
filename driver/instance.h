// DriverInstance: what one open of the codec keeps between messages, and
// the list of the open instances.
#pragma once

#include <atomic>

#include "platform/vfw.h"
#include "platform/worker_pool.h"
#include "primitives/memory.h"

class CJPEGDecoder;

// The decoder of the last frame is kept, with its working buffers, from the
// first frame to ICM_DECOMPRESS_END or DRV_CLOSE, so that a stream of frames
// allocates once. A host may decode on several threads through one instance:
// the frame that finds the decoder taken uses one of its own. The worker
// threads that decode the instance's frames with the calling thread start
// with the first frame that can share its work, and end with the instance
// (or at DRV_FREE).
struct DriverInstance {
    WEMB_HEAP_ALLOCATED

    DriverInstance() : workers(DecodeThreadCount()) {}
    ~DriverInstance();
    DriverInstance(const DriverInstance&) = delete;
    DriverInstance& operator=(const DriverInstance&) = delete;

    // The kept decoder for one frame, made when there is none yet; null when
    // another thread has it or there is no memory for it. Give it back with
    // ReturnDecoder.
    CJPEGDecoder* TakeDecoder();
    void ReturnDecoder();

    // Releases the kept decoder and its buffers, unless a frame is using it.
    void ReleaseDecoder();

    CJPEGDecoder* decoder = nullptr;
    std::atomic<bool> decoderTaken{false};
    CWorkerPool workers;

    // Neighbours on the list of open instances.
    DriverInstance* previous = nullptr;
    DriverInstance* next = nullptr;
};

// Every open instance is on one list, so that a driver id is checked before
// it is used (hosts and tests also send messages with ids that no DRV_OPEN
// returned, such as 0 and 1, or one closed already) and so that DRV_FREE can
// join the threads of instances the host never closed before the module is
// unloaded. Threads are started and joined only from DriverProc, never from
// the DLL entry, where a join under the loader lock would deadlock.
//
// OpenDriverInstance makes an instance and puts it on the list; null when
// the heap refuses. CloseDriverInstance takes the instance named by the
// driver id off the list and deletes it, joining its threads; false when the
// id names no open instance. FindDriverInstance gives the open instance named
// by the driver id, or null. StopDriverWorkers joins the worker threads of
// every open instance; they start again with a later frame that needs them.
DriverInstance* OpenDriverInstance();
bool CloseDriverInstance(DWORD_PTR driverId);
DriverInstance* FindDriverInstance(DWORD_PTR driverId);
void StopDriverWorkers();
