#include "platform/SerialDevice.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/KernelObject.h"

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

// "ttyUSB12" with prefix "ttyUSB" gives 12; -1 when the rest is not a number.
long DeviceIndex(const std::string& name, const std::string& prefix)
{
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    long n = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 100000)
            return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

bool HasRealUart(const std::string& path)
{
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY; // held by someone: it is there
    serial_struct info{};
    const bool real = ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    close(fd);
    return real;
}

std::string SamePath(const std::string& path)
{
    char* resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return path;
    std::string s(resolved);
    free(resolved);
    return s;
}

} // namespace

std::vector<std::string> ListSerialDevices(const std::string& devDir)
{
    static const char* const kGroups[] = {"ttyUSB", "ttyACM", "ttyS"};
    std::vector<std::pair<long, std::string>> groups[3];
    if (DIR* dir = opendir(devDir.c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            for (int g = 0; g < 3; ++g) {
                const long index = DeviceIndex(name, kGroups[g]);
                if (index >= 0) {
                    groups[g].emplace_back(index, devDir + "/" + name);
                    break;
                }
            }
        }
        closedir(dir);
    }
    std::vector<std::string> result;
    for (int g = 0; g < 3; ++g) {
        std::sort(groups[g].begin(), groups[g].end());
        for (const auto& [index, path] : groups[g]) {
            if (g == 2 && !HasRealUart(path))
                continue;
            result.push_back(path);
        }
    }
    return result;
}

std::array<std::string, 4> AssignSerialDevices(const std::array<std::string, 4>& configured,
                                               const std::vector<std::string>& found)
{
    std::vector<std::string> taken;
    for (const auto& c : configured)
        if (!c.empty())
            taken.push_back(SamePath(c));
    std::array<std::string, 4> result = configured;
    std::size_t next = 0;
    for (auto& slot : result) {
        if (!slot.empty())
            continue;
        while (next < found.size() && std::find(taken.begin(), taken.end(), SamePath(found[next])) != taken.end())
            ++next;
        if (next < found.size())
            slot = found[next++];
    }
    return result;
}

std::array<std::string, 4> SerialPortDevices()
{
    std::array<std::string, 4> configured;
    bool needFound = false;
    for (UINT n = kFirstSerialPort; n <= kLastSerialPort; ++n) {
        const std::string var = "TELVAR_COM" + std::to_string(n);
        const char* value = std::getenv(var.c_str());
        if (value && *value)
            configured[n - 1] = value;
        else
            needFound = true;
    }
    return AssignSerialDevices(configured, needFound ? ListSerialDevices() : std::vector<std::string>{});
}

std::string SerialPortDevice(UINT portNumber)
{
    if (portNumber < kFirstSerialPort || portNumber > kLastSerialPort)
        return {};
    return SerialPortDevices()[portNumber - 1];
}

HANDLE OpenSerialDevice(const std::string& path)
{
    if (path.empty()) {
        errno = ENOENT;
        return nullptr;
    }
    const int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    // The lock first: setting TIOCEXCL on a device someone else holds would
    // change their terminal.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        errno = err;
        return nullptr;
    }
    // Not every device is a terminal; the line set-up reports that.
    ioctl(fd, TIOCEXCL);
    return new KernelObject{KernelObject::Kind::SerialDevice, fd, false};
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
