#include "tools/boxsim/SimulatorLoop.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace boxsim
{

namespace
{

using namespace std::chrono_literals;

// Frames held back while the reader is slow; beyond this they are skipped,
// as a receiver that does not read would lose them too.
constexpr std::size_t PENDING_LIMIT = 64 * 1024;
// Burst mode keeps about this much queued in front of the device.
constexpr std::size_t BURST_FILL = 4096;
// A timer wake-up sends at most this many overdue frames; the rest are skipped.
constexpr std::uint64_t MAX_CATCH_UP = 100;
// An unfinished command that sees no further byte for this long is garbage.
constexpr auto PARTIAL_TIMEOUT = 100ms;
// While no slave is open the master cannot be polled (POLLHUP is reported
// continuously), so it is checked at this interval.
constexpr int HANGUP_RECHECK_MS = 20;

std::int64_t MonotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

timespec ToTimespec(std::int64_t ns)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    ts.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    return ts;
}

} // namespace

SimulatorLoop::SimulatorLoop(const Options& options) : m_options(options) {}

SimulatorLoop::~SimulatorLoop()
{
    if (m_timerFd >= 0)
        ::close(m_timerFd);
    if (m_signalFd >= 0)
        ::close(m_signalFd);
}

SimTime SimulatorLoop::Now() const
{
    return SimTime(MonotonicNs() - m_startNs);
}

bool SimulatorLoop::SetUp(std::string& error)
{
    m_startNs = MonotonicNs();
    ::signal(SIGPIPE, SIG_IGN);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0 ||
        (m_signalFd = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC)) < 0) {
        error = std::string("signalfd: ") + std::strerror(errno);
        return false;
    }
    m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timerFd < 0) {
        error = std::string("timerfd_create: ") + std::strerror(errno);
        return false;
    }
    if (!m_options.commandLogPath.empty() && !m_commandLog.Open(m_options.commandLogPath, true, error))
        return false;
    if (!m_options.sentLogPath.empty() && !m_sentLog.Open(m_options.sentLogPath, false, error))
        return false;
    if (!m_pty.Open(error))
        return false;
    std::string watchError;
    if (!m_watch.Start(m_pty.SlavePath(), watchError))
        std::fprintf(stderr, "telvar-boxsim: %s; frames will be sent whether the device is open or not\n",
                     watchError.c_str());
    if (!m_options.linkPath.empty() && !m_link.Create(m_options.linkPath, m_pty.SlavePath(), error))
        return false;
    m_sim.emplace(m_options.sim, m_commandLog.IsOpen() ? &m_commandLog : nullptr,
                  m_sentLog.IsOpen() ? &m_sentLog : nullptr);
    m_seenVersion = m_sim->ScheduleVersion();
    return true;
}

void SimulatorLoop::Rearm()
{
    m_seenVersion = m_sim->ScheduleVersion();
    itimerspec timer{};
    m_period = m_sim->FramePeriod();
    if (m_sim->Streaming() && m_period.count() > 0) {
        // Absolute deadlines base + k * period: the kernel keeps the schedule,
        // so late wake-ups do not add up to drift.
        m_scheduleBase = m_sim->StreamStart();
        m_nextIndex = 0;
        timer.it_value = ToTimespec(m_startNs + m_scheduleBase.count());
        timer.it_interval = ToTimespec(m_period.count());
    }
    ::timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &timer, nullptr);
}

void SimulatorLoop::CollectOutput()
{
    std::vector<std::uint8_t> out = m_sim->TakeOutput();
    if (!Listening())
        return; // nobody listens; a real line would carry them nowhere
    if (m_pendingOffset > 0 && m_pendingOffset * 2 >= m_pending.size()) {
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingOffset));
        m_pendingOffset = 0;
    }
    m_pending.insert(m_pending.end(), out.begin(), out.end());
}

void SimulatorLoop::ListenerGone()
{
    m_pending.clear();
    m_pendingOffset = 0;
    m_sim->TakeOutput();
    m_pty.DiscardUnread();
    m_sim->FlushPartial(Now());
    if (m_options.exitOnClose)
        m_quit = true;
}

void SimulatorLoop::OnHangUp()
{
    m_hungUp = true;
    ListenerGone();
}

void SimulatorLoop::ProcessWatch()
{
    const DeviceWatch::Changes c = m_watch.Read();
    if (c.closed == 0)
        return;
    // The exclusive flag belongs to whoever opened the device first and must
    // not outlive them; but root can open a held device too, and its close
    // must not free the device under the holder. So the flag goes once the
    // last opener has closed (on any close when the count is unknown).
    if (!m_watch.Counting() || !m_watch.HasListener())
        m_pty.ReleaseExclusive();
    if (!Listening())
        ListenerGone();
}

void SimulatorLoop::ReadDevice()
{
    std::uint8_t buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_pty.MasterFd(), buf, sizeof buf);
        if (n > 0) {
            m_lastByte = Now();
            m_sim->Receive(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)), m_lastByte);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        OnHangUp(); // EIO: the last slave closed
        return;
    }
}

void SimulatorLoop::WritePending()
{
    while (Listening() && PendingSize() > 0) {
        const ssize_t n = ::write(m_pty.MasterFd(), m_pending.data() + m_pendingOffset, PendingSize());
        if (n > 0) {
            m_pendingOffset += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            return;
        OnHangUp();
        return;
    }
    if (PendingSize() == 0) {
        m_pending.clear();
        m_pendingOffset = 0;
    }
}

void SimulatorLoop::FillBurst()
{
    if (!Listening() || !m_sim->Streaming() || m_sim->FramePeriod().count() != 0)
        return;
    const SimTime now = Now();
    while (m_sim->Streaming() && PendingSize() + m_sim->OutputSize() < BURST_FILL)
        m_sim->EmitStreamFrame(now);
    CollectOutput();
}

void SimulatorLoop::OnTimer()
{
    std::uint64_t expirations = 0;
    if (::read(m_timerFd, &expirations, sizeof expirations) != sizeof expirations)
        return;
    for (std::uint64_t i = 0; i < expirations && m_sim->Streaming(); ++i) {
        const SimTime due = m_scheduleBase + m_period * m_nextIndex++;
        if (i >= MAX_CATCH_UP || !Listening() || PendingSize() + m_sim->OutputSize() >= PENDING_LIMIT) {
            ++m_overruns;
            continue;
        }
        m_sim->EmitStreamFrame(due);
    }
    CollectOutput();
}

int SimulatorLoop::Run()
{
    std::string error;
    if (!SetUp(error)) {
        std::fprintf(stderr, "telvar-boxsim: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s\n", m_pty.SlavePath().c_str());
    std::fflush(stdout);

    while (!m_quit) {
        if (m_sim->ScheduleVersion() != m_seenVersion)
            Rearm();
        if (m_hungUp && !m_pty.HungUp())
            m_hungUp = false; // a slave is open again
        FillBurst();
        WritePending();
        m_sentLog.Flush();

        const bool wantWrite =
            Listening() && (PendingSize() > 0 || (m_sim->Streaming() && m_sim->FramePeriod().count() == 0));
        pollfd fds[5];
        nfds_t count = 0;
        fds[count++] = {m_signalFd, POLLIN, 0};
        fds[count++] = {m_timerFd, POLLIN, 0};
        const nfds_t deviceIndex = count;
        // While hung up the master is left out: it would report POLLHUP at once, every time.
        fds[count++] = {m_hungUp ? -1 : m_pty.MasterFd(), static_cast<short>(POLLIN | (wantWrite ? POLLOUT : 0)), 0};
        const nfds_t watchIndex = count;
        fds[count++] = {m_watch.Fd(), POLLIN, 0};
        const nfds_t stdinIndex = count;
        if (m_options.exitOnStdinEof)
            fds[count++] = {STDIN_FILENO, POLLIN, 0};

        int timeout = -1;
        if (m_hungUp)
            timeout = HANGUP_RECHECK_MS;
        else if (m_sim->HasPartial())
            timeout = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(PARTIAL_TIMEOUT).count());

        const int ready = ::poll(fds, count, timeout);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "telvar-boxsim: poll: %s\n", std::strerror(errno));
            break;
        }
        if (fds[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(m_signalFd, &info, sizeof info) == sizeof info)
                m_quit = true;
        }
        if (m_options.exitOnStdinEof && (fds[stdinIndex].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buf[4096];
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                m_quit = true;
        }
        const short dev = fds[deviceIndex].revents;
        // Opens and closes first: the tool's open comes before its first command.
        if ((fds[watchIndex].revents & POLLIN) || dev != 0)
            ProcessWatch();
        if (dev & (POLLIN | POLLHUP | POLLERR))
            ReadDevice(); // reads what is left, then sees EIO on a hang-up
        if (fds[1].revents & POLLIN)
            OnTimer();
        if (m_sim->HasPartial() && Now() - m_lastByte >= PARTIAL_TIMEOUT)
            m_sim->FlushPartial(Now());
        CollectOutput();
    }

    m_sim->FlushPartial(Now());
    m_commandLog.Flush();
    m_sentLog.Flush();
    std::fprintf(stderr,
                 "telvar-boxsim: %" PRIu64 " frames sent, %" PRIu64 " commands, %" PRIu64 " garbage bytes, %" PRIu64
                 " frames skipped\n",
                 m_sim->FramesSent(), m_sim->CommandsReceived(), m_sim->GarbageBytes(), m_overruns);
    m_link.Remove();
    return 0;
}

} // namespace boxsim
