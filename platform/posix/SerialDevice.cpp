#include "platform/posix/SerialDevice.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/KernelObject.h"
#include "platform/posix/SerialAccess.h"

using telvar_platform::KernelObject;
using telvar_platform::ToObject;

namespace
{

struct ObserverSlot {
    std::atomic<SerialWriteObserver> fn{nullptr};
    std::atomic<void*> context{nullptr};
};
ObserverSlot g_observer;

int PortFd(HANDLE port)
{
    KernelObject* o = ToObject(port);
    if (!o || o->kind != KernelObject::Kind::SerialDevice) {
        errno = EBADF;
        return -1;
    }
    return o->fd;
}

} // namespace

namespace
{

HANDLE FailOpen(SerialOpenFailure::Kind kind, const std::string& path, int error, pid_t pid = 0,
                const std::string& processName = {}, const std::string& lockPath = {})
{
    SerialOpenFailure f;
    f.kind = kind;
    f.device = path;
    f.error = error;
    f.pid = pid;
    f.processName = processName;
    f.lockPath = lockPath;
    SetSerialOpenFailure(f);
    errno = error;
    return nullptr;
}

SerialOpenFailure::Kind KindOfOpenError(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV: return SerialOpenFailure::Kind::NoDevice;
    case EACCES:
    case EPERM: return SerialOpenFailure::Kind::PermissionDenied;
    case EBUSY: return SerialOpenFailure::Kind::HeldByProcess;
    default: return SerialOpenFailure::Kind::Other;
    }
}

} // namespace

HANDLE OpenSerialDevice(const std::string& path) { return OpenSerialDevice(path, SerialOpenOptions{}); }

HANDLE OpenSerialDevice(const std::string& path, const SerialOpenOptions& options)
{
    ClearSerialOpenFailure();
    using Kind = SerialOpenFailure::Kind;
    if (path.empty())
        return FailOpen(Kind::NoDevice, path, ENOENT);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return FailOpen(KindOfOpenError(errno), path, errno);

    // Whoever holds the device is asked before it is opened: opening a UART
    // raises its modem lines.
    std::string lockPath;
    bool lockCreated = false;
    if (const pid_t owner = TakeSerialLock(path, options.lockDir, lockPath, lockCreated))
        return FailOpen(Kind::LockedByFile, path, EBUSY, owner, {}, lockPath);
    auto fail = [&](Kind kind, int error, pid_t pid = 0, const std::string& name = {}) {
        if (lockCreated)
            ReleaseSerialLock(lockPath);
        return FailOpen(kind, path, error, pid, name);
    };
    if (const std::optional<SerialHolder> holder = FindSerialHolder(path, options.procRoot))
        return fail(Kind::HeldByProcess, EBUSY, holder->pid, holder->name);

    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return fail(KindOfOpenError(errno), errno);
    // The lock first: setting TIOCEXCL on a device someone else holds would
    // change their terminal.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        return fail(KindOfOpenError(err), err);
    }
    // Not every device is a terminal; the line set-up reports that.
    ioctl(fd, TIOCEXCL);
    auto* object = new KernelObject{KernelObject::Kind::SerialDevice, fd, false};
    if (lockCreated)
        object->lockPath = lockPath;
    return object;
}

BOOL ConfigureSerialLine(HANDLE port)
{
    const int fd = PortFd(port);
    if (fd < 0)
        return FALSE;
    termios t{};
    if (tcgetattr(fd, &t) != 0)
        return FALSE;
    cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    t.c_iflag |= IGNBRK;
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CREAD | CLOCAL;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (cfsetispeed(&t, B115200) != 0 || cfsetospeed(&t, B115200) != 0)
        return FALSE;
    if (tcsetattr(fd, TCSANOW, &t) != 0)
        return FALSE;
    int rts = TIOCM_RTS;
    if (ioctl(fd, TIOCMBIS, &rts) != 0 && errno != ENOTTY && errno != EINVAL)
        return FALSE; // a pseudo-terminal has no modem lines; that is fine
    return TRUE;
}

BOOL PurgeSerial(HANDLE port)
{
    const int fd = PortFd(port);
    return fd >= 0 && tcflush(fd, TCIOFLUSH) == 0 ? TRUE : FALSE;
}

BOOL PurgeSerialInput(HANDLE port)
{
    const int fd = PortFd(port);
    return fd >= 0 && tcflush(fd, TCIFLUSH) == 0 ? TRUE : FALSE;
}

int SerialInputQueued(HANDLE port)
{
    const int fd = PortFd(port);
    if (fd < 0)
        return -1;
    // Bytes the driver has received wait for a kernel worker before the line
    // discipline counts them, a while on a busy machine; a poll takes them
    // in at once. Without it they would be missed here, and a purge right
    // after would throw them away.
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 0) < 0 && errno == EINTR) {
    }
    int n = 0;
    if (ioctl(fd, FIONREAD, &n) != 0)
        return -1;
    return n;
}

long ReadSerial(HANDLE port, BYTE* buffer, std::size_t size)
{
    const int fd = PortFd(port);
    if (fd < 0)
        return -1;
    for (;;) {
        const ssize_t n = read(fd, buffer, size);
        if (n < 0 && errno == EINTR)
            continue;
        return static_cast<long>(n);
    }
}

BOOL SerialLineBroken(HANDLE port)
{
    const int fd = PortFd(port);
    if (fd < 0)
        return TRUE;
    pollfd p{fd, POLLIN, 0};
    int n;
    do
        n = poll(&p, 1, 0);
    while (n < 0 && errno == EINTR);
    return n > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) ? TRUE : FALSE;
}

int SerialOutputQueued(HANDLE port)
{
    const int fd = PortFd(port);
    if (fd < 0)
        return -1;
    int n = 0;
    if (ioctl(fd, TIOCOUTQ, &n) != 0)
        return -1;
    return n;
}

namespace
{

using Clock = std::chrono::steady_clock;

// Waits for the descriptor's events or the cancel event until the deadline,
// to the nanosecond. 1: the descriptor is ready (revents set), 0: the time is
// up, -1: errno set (ECANCELED when cancel was set).
int WaitWriteStep(int fd, short events, HANDLE cancel, Clock::time_point until, short& revents)
{
    pollfd p[2] = {{fd, events, 0}, {HandleDescriptor(cancel), POLLIN, 0}};
    const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(until - Clock::now()).count();
    timespec timeout{};
    if (left > 0) {
        timeout.tv_sec = static_cast<time_t>(left / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(left % 1'000'000'000);
    }
    const int r = ppoll(p, cancel ? 2 : 1, &timeout, nullptr);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    if (r > 0 && cancel && (p[1].revents & POLLIN)) {
        errno = ECANCELED;
        return -1;
    }
    revents = p[0].revents;
    return r > 0 && revents != 0 ? 1 : 0;
}

// One byte on the line: start bit, 8 data bits, stop bit at 115200 baud.
constexpr std::chrono::nanoseconds kByteTime{86'806};

} // namespace

BOOL WriteSerial(HANDLE port, const BYTE* data, std::size_t size, HANDLE cancel)
{
    const int fd = PortFd(port);
    if (fd < 0)
        return FALSE;
    const auto begin = Clock::now();
    const auto deadline = begin + std::chrono::milliseconds(1000 + 1000 * static_cast<long long>(size));
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return FALSE;
        if (Clock::now() >= deadline) {
            errno = ETIMEDOUT;
            return FALSE;
        }
        short revents = 0;
        const int r = WaitWriteStep(fd, POLLOUT, cancel, deadline, revents);
        if (r < 0)
            return FALSE;
        if (r > 0 && (revents & (POLLERR | POLLHUP | POLLNVAL))) {
            errno = EIO;
            return FALSE;
        }
    }
    // Until the bytes have left: a stalled adapter holds them for ever, so
    // the wait has the same limit and the same cancel as the write. tcdrain
    // could be neither limited nor cancelled.
    for (;;) {
        const int queued = SerialOutputQueued(port);
        if (queued < 0) {
            // Not a terminal's output queue (ENOTTY, EINVAL): nothing to wait for.
            if (errno == ENOTTY || errno == EINVAL)
                break;
            return FALSE;
        }
        if (queued == 0)
            break;
        const auto now = Clock::now();
        if (now >= deadline) {
            errno = ETIMEDOUT;
            return FALSE;
        }
        // About the time the queued bytes take on the line, so that a short
        // command is waited for without many wake-ups.
        const auto until = std::min(deadline, now + kByteTime * queued);
        short revents = 0;
        if (WaitWriteStep(fd, 0, cancel, until, revents) < 0)
            return FALSE;
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
            errno = EIO;
            return FALSE;
        }
    }
    if (SerialWriteObserver fn = g_observer.fn.load())
        fn(g_observer.context.load(), data, size, begin, Clock::now());
    return TRUE;
}

void SetSerialWriteObserver(SerialWriteObserver observer, void* context)
{
    g_observer.context.store(context);
    g_observer.fn.store(observer);
}
