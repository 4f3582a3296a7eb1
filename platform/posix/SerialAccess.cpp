#include "platform/posix/SerialAccess.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Unix98 pseudo-terminal slaves: majors 136 to 143.
constexpr unsigned kPtySlaveMajor = 136;
constexpr unsigned kPtySlaveMajors = 8;

std::string ReadLink(const std::string& path)
{
    char buf[4096];
    const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

bool IsNumber(const char* s)
{
    if (!*s)
        return false;
    for (; *s; ++s)
        if (*s < '0' || *s > '9')
            return false;
    return true;
}

// The pseudo-terminal index a master descriptor belongs to, -1 if none.
long PtyIndexOfMaster(const std::string& fdinfo)
{
    std::ifstream in(fdinfo);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, 10, "tty-index:") == 0)
            return std::atol(line.c_str() + 10);
    return -1;
}

std::string CommandName(const std::string& procRoot, const std::string& pid)
{
    std::ifstream in(procRoot + "/" + pid + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

bool ProcessAlive(pid_t pid)
{
    return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM);
}

// The PID a lock file names: ASCII (HDB), or the old four-byte binary form.
pid_t ReadLockOwner(const std::string& path, bool& readable)
{
    readable = false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return 0;
    char buf[64] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n < 0)
        return 0;
    readable = true;
    if (n == 4) {
        int binary = 0;
        std::memcpy(&binary, buf, 4);
        bool ascii = true;
        for (int i = 0; i < 4; ++i)
            ascii = ascii && (buf[i] == ' ' || buf[i] == '\n' || (buf[i] >= '0' && buf[i] <= '9'));
        if (!ascii)
            return binary;
    }
    return static_cast<pid_t>(std::atol(buf));
}

// A device of the tty class, by what sysfs says of its number.
bool IsTtyDevice(dev_t rdev)
{
    const std::string subsystem =
        ReadLink("/sys/dev/char/" + std::to_string(major(rdev)) + ":" + std::to_string(minor(rdev)) + "/subsystem");
    const std::size_t slash = subsystem.find_last_of('/');
    return subsystem.substr(slash == std::string::npos ? 0 : slash + 1) == "tty";
}

thread_local SerialOpenFailure t_failure;

} // namespace

std::optional<SerialHolder> FindSerialHolder(const std::string& device, const std::string& procRoot)
{
    struct stat target {};
    if (::stat(device.c_str(), &target) != 0)
        return std::nullopt;
    // Only terminals are shared to anyone's harm (everyone holds /dev/null).
    if (!S_ISCHR(target.st_mode))
        return std::nullopt;
    long ptyIndex = -1;
    if (major(target.st_rdev) >= kPtySlaveMajor && major(target.st_rdev) < kPtySlaveMajor + kPtySlaveMajors)
        ptyIndex = static_cast<long>((major(target.st_rdev) - kPtySlaveMajor) * 256 + minor(target.st_rdev));
    else if (!IsTtyDevice(target.st_rdev))
        return std::nullopt;
    const std::string self = std::to_string(::getpid());

    DIR* proc = ::opendir(procRoot.c_str());
    if (!proc)
        return std::nullopt;
    std::optional<SerialHolder> found;
    while (dirent* p = ::readdir(proc)) {
        if (!IsNumber(p->d_name) || self == p->d_name)
            continue;
        const std::string fdDir = procRoot + "/" + p->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds)
            continue; // gone, or not ours to look at
        bool holds = false;
        bool farEnd = false;
        while (dirent* f = ::readdir(fds)) {
            if (!IsNumber(f->d_name))
                continue;
            const std::string fdPath = fdDir + "/" + f->d_name;
            const std::string link = ReadLink(fdPath);
            // Only device files are looked at: a stat on a network file
            // could hang.
            if (link.compare(0, 5, "/dev/") != 0)
                continue;
            if (ptyIndex >= 0 && (link == "/dev/ptmx" || link == "/dev/pts/ptmx")) {
                if (PtyIndexOfMaster(procRoot + "/" + p->d_name + "/fdinfo/" + f->d_name) == ptyIndex)
                    farEnd = true;
                continue;
            }
            struct stat st {};
            if (::stat(fdPath.c_str(), &st) != 0)
                continue;
            if (S_ISCHR(st.st_mode) && st.st_rdev == target.st_rdev)
                holds = true;
        }
        ::closedir(fds);
        if (holds && !farEnd) {
            found = SerialHolder{static_cast<pid_t>(std::atol(p->d_name)), CommandName(procRoot, p->d_name)};
            break;
        }
    }
    ::closedir(proc);
    return found;
}

std::string SerialLockPath(const std::string& device, const std::string& lockDir)
{
    // Every name of the device shares one lock: the name of the file itself.
    char* resolved = ::realpath(device.c_str(), nullptr);
    std::string path = resolved ? resolved : device;
    std::free(resolved);
    const std::size_t slash = path.find_last_of('/');
    return lockDir + "/LCK.." + (slash == std::string::npos ? path : path.substr(slash + 1));
}

pid_t TakeSerialLock(const std::string& device, const std::string& lockDir, std::string& lockPath, bool& created)
{
    created = false;
    lockPath = SerialLockPath(device, lockDir);
    const bool writable = ::access(lockDir.c_str(), W_OK) == 0;
    for (int attempt = 0; attempt < 5; ++attempt) {
        bool readable = false;
        const pid_t owner = ReadLockOwner(lockPath, readable);
        if (readable) {
            if (owner == ::getpid())
                return 0; // ours already; the device's own lock decides
            if (ProcessAlive(owner))
                return owner;
            if (!writable)
                return 0;
            // Its process is gone: the lock is stale.
            ::unlink(lockPath.c_str());
        } else if (!writable) {
            return 0;
        }
        const int fd = ::open(lockPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) {
            if (errno == EEXIST)
                continue; // someone was quicker: look again
            return 0; // no lock can be made here; the device's own lock still holds
        }
        char text[16];
        const int n = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(::getpid()));
        const bool ok = ::write(fd, text, static_cast<std::size_t>(n)) == n;
        ::close(fd);
        if (!ok) {
            ::unlink(lockPath.c_str());
            return 0;
        }
        created = true;
        return 0;
    }
    return 0;
}

void ReleaseSerialLock(const std::string& lockPath)
{
    if (lockPath.empty())
        return;
    bool readable = false;
    if (ReadLockOwner(lockPath, readable) == ::getpid() && readable)
        ::unlink(lockPath.c_str());
}

const SerialOpenFailure& LastSerialOpenFailure() { return t_failure; }
void SetSerialOpenFailure(const SerialOpenFailure& failure) { t_failure = failure; }
void ClearSerialOpenFailure() { t_failure = SerialOpenFailure{}; }

std::string SerialOpenReasonText(const SerialOpenFailure& f, unsigned port)
{
    using Kind = SerialOpenFailure::Kind;
    const std::string& d = f.device;
    switch (f.kind) {
    case Kind::None: return {};
    case Kind::NoDevice:
        if (d.empty())
            return "原因：没有设备对应串口" + std::to_string(port) + "（未发现 USB 串口适配器或其他串口）";
        return "原因：设备 " + d + " 不存在";
    case Kind::PermissionDenied:
        return "原因：没有权限打开 " + d
               + "。请把当前用户加入 dialout 组（sudo usermod -aG dialout 用户名），重新登录后生效；"
                 "用 id -nG 可查看当前用户所在的组。";
    case Kind::HeldByProcess:
        if (f.pid > 0)
            return "原因：" + d + " 已被其他程序占用（PID " + std::to_string(f.pid) + "，" + f.processName + "）";
        return "原因：" + d + " 已被其他程序占用";
    case Kind::LockedByFile:
        return "原因：" + d + " 已被锁文件 " + f.lockPath + " 锁定（PID " + std::to_string(f.pid) + "）";
    case Kind::Other: return "原因：打开 " + d + " 失败：" + std::strerror(f.error);
    }
    return {};
}

std::string SerialOpenReasonLogLine(const SerialOpenFailure& f, unsigned port)
{
    using Kind = SerialOpenFailure::Kind;
    const std::string head = "telvar: port " + std::to_string(port) + ": ";
    const std::string& d = f.device;
    switch (f.kind) {
    case Kind::None: return head + "cannot be opened";
    case Kind::NoDevice:
        if (d.empty())
            return head + "no such device (no serial device found for this number)";
        return head + d + ": no such device";
    case Kind::PermissionDenied:
        return head + d + ": permission denied; join the dialout group (sudo usermod -aG dialout $USER), "
               + "log in again, and check with `id -nG`";
    case Kind::HeldByProcess:
        if (f.pid > 0)
            return head + d + ": held by another program: PID " + std::to_string(f.pid) + " (" + f.processName + ")";
        return head + d + ": held by another program";
    case Kind::LockedByFile:
        return head + d + ": locked by the lock file " + f.lockPath + " of PID " + std::to_string(f.pid);
    case Kind::Other: return head + d + ": " + std::strerror(f.error);
    }
    return head;
}
