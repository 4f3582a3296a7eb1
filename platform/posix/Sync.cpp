#include "platform/posix/Sync.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "platform/posix/KernelObject.h"

using telvar_platform::KernelObject;
using telvar_platform::ToObject;

HANDLE CreateEvent(void* security, BOOL manualReset, BOOL initialState, const char* name)
{
    if (security || name) {
        errno = EINVAL;
        return nullptr;
    }
    const int fd = eventfd(initialState ? 1 : 0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return new KernelObject{KernelObject::Kind::Event, fd, manualReset != FALSE};
}

BOOL SetEvent(HANDLE event)
{
    KernelObject* o = ToObject(event);
    if (!o || o->kind != KernelObject::Kind::Event) {
        errno = EINVAL;
        return FALSE;
    }
    const std::uint64_t one = 1;
    for (;;) {
        if (write(o->fd, &one, sizeof one) == static_cast<ssize_t>(sizeof one))
            return TRUE;
        if (errno == EINTR)
            continue;
        // EAGAIN: the counter is at its limit, which is still "set".
        return errno == EAGAIN ? TRUE : FALSE;
    }
}

BOOL ResetEvent(HANDLE event)
{
    KernelObject* o = ToObject(event);
    if (!o || o->kind != KernelObject::Kind::Event) {
        errno = EINVAL;
        return FALSE;
    }
    std::uint64_t value = 0;
    for (;;) {
        if (read(o->fd, &value, sizeof value) == static_cast<ssize_t>(sizeof value))
            return TRUE;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN ? TRUE : FALSE; // EAGAIN: already reset
    }
}

BOOL CloseHandle(HANDLE handle)
{
    KernelObject* o = ToObject(handle);
    if (!o)
        return TRUE;
    const int rc = close(o->fd);
    delete o;
    return rc == 0 ? TRUE : FALSE;
}

int HandleDescriptor(HANDLE handle)
{
    KernelObject* o = ToObject(handle);
    return o ? o->fd : -1;
}

DWORD WaitForMultipleObjectsUntil(DWORD count, const HANDLE* handles, std::chrono::steady_clock::time_point deadline)
{
    if (count == 0 || count > MAXIMUM_WAIT_OBJECTS || !handles) {
        errno = EINVAL;
        return WAIT_FAILED;
    }
    pollfd fds[MAXIMUM_WAIT_OBJECTS];
    for (DWORD i = 0; i < count; ++i) {
        KernelObject* o = ToObject(handles[i]);
        if (!o) {
            errno = EINVAL;
            return WAIT_FAILED;
        }
        fds[i] = pollfd{o->fd, POLLIN, 0};
    }
    using Clock = std::chrono::steady_clock;
    const bool forever = deadline == Clock::time_point::max();
    for (;;) {
        timespec timeout{};
        if (!forever) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - Clock::now()).count();
            if (left > 0) {
                timeout.tv_sec = static_cast<time_t>(left / 1'000'000'000);
                timeout.tv_nsec = static_cast<long>(left % 1'000'000'000);
            }
        }
        const int n = ppoll(fds, count, forever ? nullptr : &timeout, nullptr);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return WAIT_FAILED;
        }
        if (n == 0) {
            // The kernel may wake a little early; only a deadline that has
            // passed ends the wait.
            if (!forever && Clock::now() < deadline)
                continue;
            return WAIT_TIMEOUT;
        }
        for (DWORD i = 0; i < count; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].revents & POLLNVAL) {
                errno = EBADF;
                return WAIT_FAILED;
            }
            KernelObject* o = ToObject(handles[i]);
            if (o->kind == KernelObject::Kind::Event && !o->manualReset)
                ResetEvent(handles[i]);
            return WAIT_OBJECT_0 + i;
        }
    }
}

DWORD WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD milliseconds)
{
    if (waitAll) {
        errno = EINVAL;
        return WAIT_FAILED;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline =
        milliseconds == INFINITE ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(milliseconds);
    return WaitForMultipleObjectsUntil(count, handles, deadline);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds)
{
    return WaitForMultipleObjects(1, &handle, FALSE, milliseconds);
}
