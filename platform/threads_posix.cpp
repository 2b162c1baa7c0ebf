// POSIX threads behind platform/threads.h (Linux builds).
#include "platform/threads.h"

#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

void* CThread::Trampoline(void* self) {
    CThread* thread = static_cast<CThread*>(self);
    thread->m_entry(thread->m_argument);
    return nullptr;
}

bool CThread::Start(ThreadEntry entry, void* argument) {
    if (m_started || entry == nullptr) return false;
    m_entry = entry;
    m_argument = argument;
    m_started = pthread_create(&m_thread, nullptr, Trampoline, this) == 0;
    return m_started;
}

void CThread::Join() {
    if (!m_started) return;
    pthread_join(m_thread, nullptr);
    m_started = false;
}

void CMutex::Lock() { pthread_mutex_lock(&m_lock); }

void CMutex::Unlock() { pthread_mutex_unlock(&m_lock); }

void CConditionVariable::Wait(CMutex& mutex) { pthread_cond_wait(&m_condition, &mutex.m_lock); }

void CConditionVariable::WakeOne() { pthread_cond_signal(&m_condition); }

void CConditionVariable::WakeAll() { pthread_cond_broadcast(&m_condition); }

int32_t ProcessorCount() {
    // The affinity mask, not the processors installed: `taskset` and CPU
    // sets of containers narrow it.
    cpu_set_t allowed;
    if (sched_getaffinity(0, sizeof(allowed), &allowed) == 0) {
        const int count = CPU_COUNT(&allowed);
        if (count > 0) return count;
    }
    const long online = sysconf(_SC_NPROCESSORS_ONLN);
    return online > 0 && online < INT32_MAX ? static_cast<int32_t>(online) : 1;
}

bool ReadEnvironment(const char* name, char* text, size_t capacity) {
    const char* value = std::getenv(name);
    if (value == nullptr) return false;
    const size_t length = std::strlen(value);
    if (length >= capacity) return false;
    std::memcpy(text, value, length + 1);
    return true;
}
