#include "tools/boxsim/DeviceWatch.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace boxsim
{

DeviceWatch::~DeviceWatch()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool DeviceWatch::Start(const std::string& path, std::string& error)
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        error = std::string("inotify_init1: ") + std::strerror(errno);
        return false;
    }
    struct stat st{};
    if (::stat(path.c_str(), &st) == 0)
        m_device = st.st_rdev;
    if (::inotify_add_watch(m_fd, path.c_str(), IN_OPEN | IN_CLOSE) < 0) {
        error = path + ": inotify_add_watch: " + std::strerror(errno);
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

DeviceWatch::Changes DeviceWatch::Read()
{
    Changes c;
    if (m_fd < 0)
        return c;
    alignas(inotify_event) char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            inotify_event ev;
            std::memcpy(&ev, buf + at, sizeof ev);
            if (ev.mask & IN_Q_OVERFLOW)
                m_lost = true;
            if (ev.mask & IN_OPEN) {
                ++c.opened;
                ++m_open;
            }
            if (ev.mask & IN_CLOSE) {
                ++c.closed;
                if (m_open > 0)
                    --m_open;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev.len);
        }
    }
    // After a close the count is checked where it can be: a closed
    // descriptor has left its process's table by the time its event comes
    // (a new one may not be in it yet when its open event comes).
    if (c.closed > 0) {
        const int holders = CountHolders();
        if (holders >= 0) {
            m_open = holders;
            m_lost = false;
        }
    }
    return c;
}

int DeviceWatch::CountHolders() const
{
    if (m_device == 0)
        return -1;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return -1;
    const std::string self = std::to_string(::getpid());
    int holders = 0;
    bool complete = true;
    while (dirent* p = ::readdir(proc)) {
        if (p->d_name[0] < '0' || p->d_name[0] > '9' || self == p->d_name)
            continue;
        const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds) {
            if (errno != ENOENT) // ENOENT: the process has just ended
                complete = false;
            continue;
        }
        while (dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.')
                continue;
            struct stat st{};
            if (::stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == m_device)
                ++holders;
        }
        ::closedir(fds);
    }
    ::closedir(proc);
    return complete ? holders : -1;
}

} // namespace boxsim
