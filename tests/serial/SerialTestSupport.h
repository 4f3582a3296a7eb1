// Pseudo-terminals, a recording owner window and event-loop waits for the
// serial port tests.
#pragma once

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "platform/core/Wnd.h"

namespace serialtest
{

// The user-interface thread of the tests is the gtest main thread.
inline QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "telvar-serial-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

inline std::thread::id& MainThread()
{
    static std::thread::id id = std::this_thread::get_id();
    return id;
}

// Runs the event loop until pred() holds or the time is up.
inline bool PumpUntil(const std::function<bool()>& pred, int timeoutMs = 30000)
{
    QElapsedTimer clock;
    clock.start();
    QTimer tick; // wakes the loop so that pred() is seen soon
    tick.start(2);
    while (!pred()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs the event loop for a while; for checking that nothing more happens.
inline void PumpFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    PumpUntil([&] { return clock.elapsed() >= ms; }, ms + 1000);
}

inline double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A pseudo-terminal: the test plays the device on the master side; the slave
// path is what the port opens. The slave descriptor stays open for reading the
// line settings back.
class Pty
{
public:
    Pty()
    {
        char name[128] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::abort();
        }
        m_path = name;
        fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
        fcntl(m_master, F_SETFD, FD_CLOEXEC);
        fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    }
    ~Pty()
    {
        CloseMaster();
        if (m_slave >= 0)
            close(m_slave);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const std::string& Path() const { return m_path; }
    int Master() const { return m_master; }
    int Slave() const { return m_slave; }

    void CloseMaster()
    {
        if (m_master >= 0)
            close(m_master);
        m_master = -1;
    }

    // Writes everything into the line towards the port.
    void Send(const std::vector<unsigned char>& bytes) const
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{m_master, POLLOUT, 0};
                poll(&p, 1, 100);
            } else if (n < 0 && errno != EINTR) {
                std::perror("write to pty master");
                std::abort();
            }
        }
    }

    // Collects whatever the port has written so far.
    void Collect(std::vector<unsigned char>& into) const
    {
        unsigned char buf[4096];
        for (;;) {
            const ssize_t n = read(m_master, buf, sizeof buf);
            if (n <= 0)
                return;
            into.insert(into.end(), buf, buf + n);
        }
    }

    // Bytes waiting for the port to read them.
    int PendingTowardsPort() const
    {
        int n = -1;
        ioctl(m_slave, FIONREAD, &n);
        return n;
    }

    // Bytes the port has written that the test has not read.
    int PendingFromPort() const
    {
        int n = -1;
        ioctl(m_master, FIONREAD, &n);
        return n;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

// Sets TELVAR_COM<n> for the life of the object.
class PortEnv
{
public:
    PortEnv(unsigned n, const std::string& path) : m_name("TELVAR_COM" + std::to_string(n))
    {
        setenv(m_name.c_str(), path.c_str(), 1);
    }
    ~PortEnv() { unsetenv(m_name.c_str()); }
    PortEnv(const PortEnv&) = delete;
    PortEnv& operator=(const PortEnv&) = delete;

private:
    std::string m_name;
};

// The owner window: records every message with the thread that handled it.
class RecordingWnd : public CWnd
{
public:
    struct Message {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        std::thread::id thread;
    };
    std::vector<Message> messages;
    std::function<void(UINT, WPARAM, LPARAM)> onMessage;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        messages.push_back({message, wParam, lParam, std::this_thread::get_id()});
        if (onMessage)
            onMessage(message, wParam, lParam);
        return 0;
    }

    std::size_t Count(UINT message) const
    {
        std::size_t n = 0;
        for (const auto& m : messages)
            n += m.message == message;
        return n;
    }

    std::vector<unsigned char> Bytes(UINT byteMessage, LPARAM port) const
    {
        std::vector<unsigned char> out;
        for (const auto& m : messages)
            if (m.message == byteMessage && m.lParam == port)
                out.push_back(static_cast<unsigned char>(m.wParam));
        return out;
    }
};

// Fills the line towards the port as fast as it takes bytes, a counter mod
// 256, until stopped.
class Feeder
{
public:
    explicit Feeder(const Pty& pty) : m_fd(pty.Master())
    {
        m_thread = std::thread([this] { Run(); });
    }
    ~Feeder() { Stop(); }
    void Stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    unsigned long Sent() const { return m_sent.load(); }

private:
    void Run()
    {
        unsigned char buf[256];
        unsigned char next = 0;
        while (!m_stop) {
            for (auto& b : buf)
                b = next++;
            std::size_t done = 0;
            while (done < sizeof buf && !m_stop) {
                const ssize_t n = write(m_fd, buf + done, sizeof buf - done);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                    m_sent += static_cast<unsigned long>(n);
                } else if (n < 0 && errno == EAGAIN) {
                    pollfd p{m_fd, POLLOUT, 0};
                    poll(&p, 1, 20);
                } else if (n < 0 && errno != EINTR) {
                    return;
                }
            }
        }
    }

    int m_fd;
    std::atomic<bool> m_stop{false};
    std::atomic<unsigned long> m_sent{0};
    std::thread m_thread;
};

// Aborts the test program with a message when a step hangs.
class Watchdog
{
public:
    explicit Watchdog(const char* what, int seconds = 120) : m_what(what)
    {
        m_thread = std::thread([this, seconds] {
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; })) {
                std::fprintf(stderr, "HANG: %s\n", m_what);
                std::abort();
            }
        });
    }
    ~Watchdog()
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

private:
    const char* m_what;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

// True when every byte is the one after its predecessor (mod 256).
inline bool Consecutive(const std::vector<unsigned char>& bytes)
{
    for (std::size_t i = 1; i < bytes.size(); ++i)
        if (static_cast<unsigned char>(bytes[i - 1] + 1) != bytes[i])
            return false;
    return true;
}

} // namespace serialtest
