// The driver instances: one record per DRV_OPEN, each with the worker
// threads that decode its frames.
//
// Every open instance is on one list, so that a driver id can be checked
// before it is used (hosts and tests also send messages with ids that no
// DRV_OPEN returned, such as 0), and so that DRV_FREE can join the threads of
// instances the host never closed before the module is unloaded. Threads are
// started and joined only from DriverProc, never from the DLL entry, where
// the loader lock would deadlock a join.
#include <new>

#include "driver/driver.h"
#include "platform/threads.h"
#include "platform/worker_pool.h"
#include "primitives/memory.h"

struct DriverInstance {
    WEMB_HEAP_ALLOCATED

    DriverInstance() : m_workers(DecodeThreadCount()) {}

    // Idle until the first frame that can share its work (decompress.cpp).
    CWorkerPool m_workers;
    DriverInstance* m_previous = nullptr;
    DriverInstance* m_next = nullptr;
};

namespace {

// The open instances, newest first. The lock is held only to walk or change
// the list, never while a frame is decoded.
CMutex g_instancesLock;
DriverInstance* g_instances = nullptr;

// The open instance whose address is `driverId`, or null; the lock is held.
DriverInstance* FindLocked(DWORD_PTR driverId) {
    for (DriverInstance* instance = g_instances; instance != nullptr; instance = instance->m_next) {
        if (reinterpret_cast<DWORD_PTR>(instance) == driverId) return instance;
    }
    return nullptr;
}

}  // namespace

DriverInstance* OpenDriverInstance() {
    DriverInstance* instance = new (std::nothrow) DriverInstance;
    if (instance == nullptr) return nullptr;
    CMutexLock lock(g_instancesLock);
    instance->m_next = g_instances;
    if (g_instances != nullptr) g_instances->m_previous = instance;
    g_instances = instance;
    return instance;
}

bool CloseDriverInstance(DWORD_PTR driverId) {
    DriverInstance* instance;
    {
        CMutexLock lock(g_instancesLock);
        instance = FindLocked(driverId);
        if (instance == nullptr) return false;
        if (instance->m_previous != nullptr) instance->m_previous->m_next = instance->m_next;
        if (instance->m_next != nullptr) instance->m_next->m_previous = instance->m_previous;
        if (g_instances == instance) g_instances = instance->m_next;
    }
    delete instance;  // joins its workers
    return true;
}

CWorkerPool* InstanceWorkers(DWORD_PTR driverId) {
    CMutexLock lock(g_instancesLock);
    DriverInstance* instance = FindLocked(driverId);
    return instance != nullptr ? &instance->m_workers : nullptr;
}

void StopInstanceWorkers() {
    CMutexLock lock(g_instancesLock);
    for (DriverInstance* instance = g_instances; instance != nullptr; instance = instance->m_next) {
        instance->m_workers.Stop();
    }
}
