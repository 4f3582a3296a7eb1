#include "tools/boxsim/DeviceWatch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
    return c;
}

} // namespace boxsim
