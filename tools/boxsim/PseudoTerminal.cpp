#include "tools/boxsim/PseudoTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace boxsim
{

PseudoTerminal::~PseudoTerminal()
{
    if (m_keeper >= 0)
        ::close(m_keeper);
    if (m_master >= 0)
        ::close(m_master);
}

void PseudoTerminal::ReleaseExclusive()
{
    if (m_keeper >= 0)
        ::ioctl(m_keeper, TIOCNXCL);
}

void PseudoTerminal::DiscardUnread()
{
    if (m_keeper >= 0)
        ::tcflush(m_keeper, TCIFLUSH);
}

bool PseudoTerminal::Open(std::string& error)
{
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("posix_openpt: ") + std::strerror(errno);
        return false;
    }
    char name[PATH_MAX];
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0 || ::ptsname_r(fd, name, sizeof name) != 0) {
        error = std::string("pseudo-terminal set-up: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    // Terminal attributes set through the master belong to the slave: raw, so
    // nothing is echoed, translated or held back for a line.
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        error = std::string("tcgetattr: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::cfsetispeed(&t, B115200);
    ::cfsetospeed(&t, B115200);
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        error = std::string("tcsetattr: ") + std::strerror(errno);
        ::close(fd);
        return false;
    }
    const int keeper = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (keeper < 0) {
        error = std::string(name) + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_master = fd;
    m_keeper = keeper;
    m_slavePath = name;
    return true;
}

bool PseudoTerminal::HungUp() const
{
    pollfd p{m_master, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP) != 0;
}

} // namespace boxsim
