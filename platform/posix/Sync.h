// Events, waits and critical sections in the manner the system's code uses
// them. Events are eventfd descriptors, so one poll() can wait for several of
// them together with a serial device.
#pragma once

#include <chrono>
#include <mutex>

#include "platform/posix/WinTypes.h"

// A kernel object: an event or an open serial device. Null means none.
using HANDLE = void*;

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD MAXIMUM_WAIT_OBJECTS = 64;

// Creates an event; the security attributes and the name are not supported
// and must be null. Returns null (errno set) on failure.
HANDLE CreateEvent(void* security, BOOL manualReset, BOOL initialState, const char* name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// Closes an event or a serial device. Null is accepted and ignored.
BOOL CloseHandle(HANDLE handle);

// Waits until one of the objects is signalled and returns WAIT_OBJECT_0 + the
// lowest index among those signalled, WAIT_TIMEOUT, or WAIT_FAILED (errno set).
// An event is signalled while set; a serial device while it has input to read
// or its line has failed (hang-up, error). Only waitAll == FALSE is supported.
DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
// The same with a deadline, kept to the nanosecond: a wait of less than a
// millisecond neither returns at once nor waits a whole millisecond.
// time_point::max() waits without limit.
DWORD WaitForMultipleObjectsUntil(DWORD count, const HANDLE* handles, std::chrono::steady_clock::time_point deadline);

// The descriptor behind an object, for the platform's own code; -1 for null.
int HandleDescriptor(HANDLE handle);

// A mutual-exclusion lock. Usable with std::lock_guard.
class CCriticalSection
{
public:
    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }
    bool try_lock() { return m_mutex.try_lock(); }

private:
    std::mutex m_mutex;
};

using CRITICAL_SECTION = CCriticalSection;
// The lock is ready from construction; this exists for the callers' symmetry.
inline void InitializeCriticalSection(CRITICAL_SECTION*) {}
inline void DeleteCriticalSection(CRITICAL_SECTION*) {}
inline void EnterCriticalSection(CRITICAL_SECTION* cs)
{
    cs->Lock();
}
inline void LeaveCriticalSection(CRITICAL_SECTION* cs)
{
    cs->Unlock();
}
