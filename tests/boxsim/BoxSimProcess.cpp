#include "BoxSimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

using namespace std::chrono;

std::string BoxSimExecutable()
{
    return BOXSIM_EXE;
}

namespace
{

// Milliseconds left until the deadline, for poll().
int Remaining(steady_clock::time_point deadline)
{
    const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

BoxSimProcess::~BoxSimProcess()
{
    if (m_pid > 0)
        Stop(SIGKILL);
    if (m_stdin >= 0)
        ::close(m_stdin);
    if (m_stdout >= 0)
        ::close(m_stdout);
}

bool BoxSimProcess::Start(const std::vector<std::string>& args)
{
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(out, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<std::string> all = {BoxSimExecutable()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_stdin = in[1];
    m_stdout = out[0];
    if (rc != 0) {
        m_pid = -1;
        return false;
    }
    // The first line is the device path.
    const auto deadline = steady_clock::now() + 20s; // generous: sanitizer start-up on a loaded machine
    std::string line;
    for (;;) {
        pollfd p{m_stdout, POLLIN, 0};
        if (::poll(&p, 1, Remaining(deadline)) <= 0)
            return false;
        char c;
        const ssize_t n = ::read(m_stdout, &c, 1);
        if (n <= 0)
            return false;
        if (c == '\n')
            break;
        line += c;
    }
    m_path = line;
    return true;
}

void BoxSimProcess::CloseStdin()
{
    if (m_stdin >= 0)
        ::close(m_stdin);
    m_stdin = -1;
}

int BoxSimProcess::WaitExit(milliseconds timeout)
{
    if (m_pid <= 0)
        return m_status;
    const auto deadline = steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return m_status;
        }
        if (steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(10ms);
    }
}

bool BoxSimProcess::Running()
{
    return WaitExit(0ms) == -1 && m_pid > 0;
}

int BoxSimProcess::Stop(int signal)
{
    if (m_pid <= 0)
        return m_status;
    ::kill(m_pid, signal);
    const int status = WaitExit(20s);
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        WaitExit(20s);
        return -1;
    }
    return status;
}

std::string BoxSimProcess::RestOfStdout()
{
    char buf[4096];
    ssize_t n;
    while (m_stdout >= 0 && (n = ::read(m_stdout, buf, sizeof buf)) > 0)
        m_stdoutRest.append(buf, static_cast<std::size_t>(n));
    return m_stdoutRest;
}

milliseconds BoxSimProcess::CpuTime() const
{
    // Fields 14 and 15 of /proc/PID/stat, in clock ticks.
    std::ifstream in("/proc/" + std::to_string(m_pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return milliseconds(0);
    std::istringstream fields(stat.substr(close + 2));
    std::string f;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && (fields >> f); ++i) {
        if (i == 14)
            utime = std::stol(f);
        if (i == 15)
            stime = std::stol(f);
    }
    return milliseconds((utime + stime) * 1000 / ::sysconf(_SC_CLK_TCK));
}

DeviceSide::DeviceSide(const std::string& path)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return;
    termios t{};
    ::tcgetattr(m_fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(m_fd, TCSANOW, &t);
    ::tcflush(m_fd, TCIOFLUSH);
}

DeviceSide::~DeviceSide()
{
    Close();
}

void DeviceSide::SetExclusive()
{
    ::ioctl(m_fd, TIOCEXCL);
}

bool DeviceSide::Exclusive() const
{
    int on = 0;
    return ::ioctl(m_fd, TIOCGEXCL, &on) == 0 && on != 0;
}

void DeviceSide::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void DeviceSide::Write(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else if (!(n < 0 && errno == EINTR)) {
            return;
        }
    }
    ::tcdrain(m_fd);
}

std::vector<std::uint8_t> DeviceSide::ReadFor(milliseconds duration)
{
    return ReadAtLeast(SIZE_MAX, duration);
}

std::vector<std::uint8_t> DeviceSide::ReadAtLeast(std::size_t n, milliseconds timeout)
{
    std::vector<std::uint8_t> data;
    const auto deadline = steady_clock::now() + timeout;
    std::uint8_t buf[65536];
    while (data.size() < n) {
        pollfd p{m_fd, POLLIN, 0};
        const int r = ::poll(&p, 1, Remaining(deadline));
        if (r <= 0)
            break;
        const ssize_t got = ::read(m_fd, buf, sizeof buf);
        if (got > 0)
            data.insert(data.end(), buf, buf + got);
        else if (!(got < 0 && (errno == EAGAIN || errno == EINTR)))
            break;
    }
    return data;
}

std::vector<std::uint8_t> DeviceSide::ReadUntilQuiet(milliseconds quiet, milliseconds timeout)
{
    std::vector<std::uint8_t> data;
    const auto deadline = steady_clock::now() + timeout;
    while (steady_clock::now() < deadline) {
        const auto chunk = ReadFor(quiet);
        if (chunk.empty())
            break;
        data.insert(data.end(), chunk.begin(), chunk.end());
    }
    return data;
}
