// The few operating-system thread services the codec uses: a thread that is
// started and joined, a mutex, a condition variable, the number of
// processors the process may run on, and the process environment.
//
// Windows builds call the Win32 API directly (kernel32 only): the mingw-w64
// compilers use the win32 thread model, which has no std::thread or
// std::mutex, and the module must not depend on a threading DLL such as
// libwinpthread. Linux builds use POSIX threads. std::atomic works on both
// and needs nothing from here.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <pthread.h>
#endif

// What a thread runs; it ends when the function returns.
using ThreadEntry = void (*)(void* argument);

// One operating-system thread. It must be joined before the object goes
// away: the destructor joins a thread still running, so that no thread can
// outlive the object that describes it. The object must not move while its
// thread runs.
class CThread {
public:
    CThread() = default;
    ~CThread() { Join(); }
    CThread(const CThread&) = delete;
    CThread& operator=(const CThread&) = delete;

    // Starts `entry(argument)` on a new thread. False when this object
    // already has a thread or the system refuses one.
    bool Start(ThreadEntry entry, void* argument);

    // Waits until the thread has ended and releases it; nothing when there
    // is no thread. Never call it from the thread itself.
    void Join();

    bool Started() const { return m_started; }

private:
#ifdef _WIN32
    static DWORD WINAPI Trampoline(LPVOID self);
    HANDLE m_handle = nullptr;
#else
    static void* Trampoline(void* self);
    pthread_t m_thread = {};
#endif
    bool m_started = false;
    ThreadEntry m_entry = nullptr;
    void* m_argument = nullptr;
};

// A non-recursive mutex. It can be a global: construction is constant
// initialisation, and it needs no destruction (neither an SRW lock nor a
// default POSIX mutex holds any resource), so it stays usable while other
// globals are destroyed.
class CMutex {
public:
    constexpr CMutex() = default;
    CMutex(const CMutex&) = delete;
    CMutex& operator=(const CMutex&) = delete;

    void Lock();
    void Unlock();

private:
    friend class CConditionVariable;
#ifdef _WIN32
    SRWLOCK m_lock = SRWLOCK_INIT;
#else
    pthread_mutex_t m_lock = PTHREAD_MUTEX_INITIALIZER;
#endif
};

// Holds a mutex for the lifetime of the object.
class CMutexLock {
public:
    explicit CMutexLock(CMutex& mutex) : m_mutex(mutex) { m_mutex.Lock(); }
    ~CMutexLock() { m_mutex.Unlock(); }
    CMutexLock(const CMutexLock&) = delete;
    CMutexLock& operator=(const CMutexLock&) = delete;

private:
    CMutex& m_mutex;
};

// A condition variable used with CMutex. As with every condition variable,
// a wait may return without a wake: waiters test their condition in a loop.
class CConditionVariable {
public:
    constexpr CConditionVariable() = default;
    CConditionVariable(const CConditionVariable&) = delete;
    CConditionVariable& operator=(const CConditionVariable&) = delete;

    // Releases `mutex` (held by the caller), sleeps until woken and takes
    // it again.
    void Wait(CMutex& mutex);
    void WakeOne();
    void WakeAll();

private:
#ifdef _WIN32
    CONDITION_VARIABLE m_condition = CONDITION_VARIABLE_INIT;
#else
    pthread_cond_t m_condition = PTHREAD_COND_INITIALIZER;
#endif
};

// The number of processors this process may run on (its affinity), at
// least 1.
int32_t ProcessorCount();

// Copies the value of the environment variable `name`, with its terminating
// zero, into `text`. False, with `text` undefined, when the variable is not
// set or its value does not fit in `capacity` bytes.
bool ReadEnvironment(const char* name, char* text, size_t capacity);
