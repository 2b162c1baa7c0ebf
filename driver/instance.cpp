#include "driver/instance.h"

#include <new>

#include "jpeg/decoder.h"
#include "platform/threads.h"

// The workers end before the decoder they may have worked for.
DriverInstance::~DriverInstance() {
    workers.Stop();
    delete decoder;
}

CJPEGDecoder* DriverInstance::TakeDecoder() {
    if (decoderTaken.exchange(true, std::memory_order_acquire)) {
        return nullptr;
    }
    if (decoder == nullptr) {
        decoder = new (std::nothrow) CJPEGDecoder;
        if (decoder == nullptr) {
            decoderTaken.store(false, std::memory_order_release);
            return nullptr;
        }
    } else {
        decoder->BeginFrame();
    }
    return decoder;
}

void DriverInstance::ReturnDecoder() { decoderTaken.store(false, std::memory_order_release); }

void DriverInstance::ReleaseDecoder() {
    if (decoderTaken.exchange(true, std::memory_order_acquire)) {
        return;
    }
    delete decoder;
    decoder = nullptr;
    decoderTaken.store(false, std::memory_order_release);
}

namespace {

// The open instances, newest first. The lock is held only to walk or change
// the list, never while a frame is decoded.
CMutex g_instancesLock;
DriverInstance* g_instances = nullptr;

// The open instance whose address is `driverId`, or null; the lock is held.
// Only addresses are compared: an id is never followed before it is found.
DriverInstance* FindLocked(DWORD_PTR driverId) {
    for (DriverInstance* instance = g_instances; instance != nullptr; instance = instance->next) {
        if (reinterpret_cast<DWORD_PTR>(instance) == driverId) return instance;
    }
    return nullptr;
}

}  // namespace

DriverInstance* OpenDriverInstance() {
    DriverInstance* instance = new (std::nothrow) DriverInstance;
    if (instance == nullptr) return nullptr;
    CMutexLock lock(g_instancesLock);
    instance->next = g_instances;
    if (g_instances != nullptr) g_instances->previous = instance;
    g_instances = instance;
    return instance;
}

bool CloseDriverInstance(DWORD_PTR driverId) {
    DriverInstance* instance;
    {
        CMutexLock lock(g_instancesLock);
        instance = FindLocked(driverId);
        if (instance == nullptr) return false;
        if (instance->previous != nullptr) instance->previous->next = instance->next;
        if (instance->next != nullptr) instance->next->previous = instance->previous;
        if (g_instances == instance) g_instances = instance->next;
    }
    delete instance;  // joins its workers
    return true;
}

DriverInstance* FindDriverInstance(DWORD_PTR driverId) {
    CMutexLock lock(g_instancesLock);
    return FindLocked(driverId);
}

void StopDriverWorkers() {
    CMutexLock lock(g_instancesLock);
    for (DriverInstance* instance = g_instances; instance != nullptr; instance = instance->next) {
        instance->workers.Stop();
    }
}
