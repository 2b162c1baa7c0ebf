// The Win32 API behind platform/threads.h (Windows builds). Every function
// used here lives in kernel32.dll, so the module gains no new dependency.
#include "platform/threads.h"

DWORD WINAPI CThread::Trampoline(LPVOID self) {
    CThread* thread = static_cast<CThread*>(self);
    thread->m_entry(thread->m_argument);
    return 0;
}

bool CThread::Start(ThreadEntry entry, void* argument) {
    if (m_started || entry == nullptr) return false;
    m_entry = entry;
    m_argument = argument;
    // CreateThread rather than _beginthreadex: the module uses the C run
    // time of msvcrt.dll, which sets up and frees its per-thread data itself
    // as threads attach and detach.
    m_handle = CreateThread(nullptr, 0, Trampoline, this, 0, nullptr);
    m_started = m_handle != nullptr;
    return m_started;
}

void CThread::Join() {
    if (!m_started) return;
    WaitForSingleObject(m_handle, INFINITE);
    CloseHandle(m_handle);
    m_handle = nullptr;
    m_started = false;
}

void CMutex::Lock() { AcquireSRWLockExclusive(&m_lock); }

void CMutex::Unlock() { ReleaseSRWLockExclusive(&m_lock); }

void CConditionVariable::Wait(CMutex& mutex) {
    SleepConditionVariableSRW(&m_condition, &mutex.m_lock, INFINITE, 0);
}

void CConditionVariable::WakeOne() { WakeConditionVariable(&m_condition); }

void CConditionVariable::WakeAll() { WakeAllConditionVariable(&m_condition); }

int32_t ProcessorCount() {
    // The process affinity mask: the processors of the process's group it
    // may run on, which is what its threads can use.
    DWORD_PTR process = 0, system = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
        int32_t count = 0;
        for (; process != 0; process &= process - 1) ++count;
        return count;
    }
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int32_t>(info.dwNumberOfProcessors) : 1;
}

bool ReadEnvironment(const char* name, char* text, size_t capacity) {
    // The process environment itself, as SetEnvironmentVariable leaves it,
    // rather than the C run time's copy made at start-up.
    if (capacity == 0 || capacity > MAXDWORD) return false;
    const DWORD length = GetEnvironmentVariableA(name, text, static_cast<DWORD>(capacity));
    return length > 0 && length < capacity;
}
