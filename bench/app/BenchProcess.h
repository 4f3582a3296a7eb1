// Small helpers of the whole-tool benchmarks: child processes with their
// resource use, the box simulator, CPU clocks, a scratch directory.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench
{

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

inline double CpuSeconds(const rusage& u)
{
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

inline rusage Usage(int who)
{
    rusage u{};
    ::getrusage(who, &u);
    return u;
}

inline double MonotonicNow()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// A child process. stdoutPath: "" keeps ours, "|" gives a pipe to read from.
class Child
{
public:
    Child(const std::vector<std::string>& argv, const std::string& stdoutPath = "",
          const std::vector<std::string>& env = {})
    {
        int pipeFds[2] = {-1, -1};
        if (stdoutPath == "|" && ::pipe2(pipeFds, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        m_pid = ::fork();
        if (m_pid < 0)
            throw std::runtime_error("fork failed");
        if (m_pid == 0) {
            if (stdoutPath == "|")
                ::dup2(pipeFds[1], STDOUT_FILENO);
            else if (!stdoutPath.empty()) {
                const int fd = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0)
                    ::_exit(126);
                ::dup2(fd, STDOUT_FILENO);
            }
            for (const std::string& e : env)
                ::putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        if (stdoutPath == "|") {
            ::close(pipeFds[1]);
            m_out = ::fdopen(pipeFds[0], "r");
        }
    }
    ~Child()
    {
        Stop();
        if (m_out)
            std::fclose(m_out);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of the child's stdout pipe, without its newline.
    std::string ReadLine()
    {
        char line[4096];
        if (!m_out || !std::fgets(line, sizeof line, m_out))
            return {};
        std::string s = line;
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
            s.pop_back();
        return s;
    }

    // SIGTERM (unless already ended), then reaps it; its own resource use.
    const rusage& Stop()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            Wait();
        }
        return m_usage;
    }
    // Waits for the child to end by itself.
    int Wait()
    {
        if (m_pid > 0) {
            while (::wait4(m_pid, &m_status, 0, &m_usage) < 0 && errno == EINTR) {
            }
            m_pid = -1;
        }
        return m_status;
    }
    const rusage& Usage() const { return m_usage; }
    pid_t Pid() const { return m_pid; }

private:
    pid_t m_pid = -1;
    FILE* m_out = nullptr;
    int m_status = 0;
    rusage m_usage{};
};

// telvar-boxsim with the given options; DevicePath() is what it prints first.
class BoxSim
{
public:
    explicit BoxSim(std::vector<std::string> options)
    {
        options.insert(options.begin(), TELVAR_BOXSIM_PATH);
        m_child = std::make_unique<Child>(options, "|");
        m_device = m_child->ReadLine();
        if (m_device.empty())
            throw std::runtime_error("telvar-boxsim printed no device");
    }
    const std::string& DevicePath() const { return m_device; }
    const rusage& Stop() { return m_child->Stop(); }

private:
    std::unique_ptr<Child> m_child;
    std::string m_device;
};

// A scratch directory, removed with everything in it.
class TempDir
{
public:
    TempDir()
    {
        const char* base = std::getenv("TELVAR_BENCH_DIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/telvar-bench-XXXXXX";
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        m_path = pattern;
    }
    ~TempDir() { std::system(("rm -rf '" + m_path + "'").c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// CPU time of every thread of a process so far, in seconds (nanosecond
// resolution, from the scheduler's accounting).
inline double ProcessCpu(pid_t pid)
{
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    double total = 0;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.')
                continue;
            std::ifstream in(dir + "/" + e->d_name + "/schedstat");
            unsigned long long ns = 0;
            if (in >> ns)
                total += static_cast<double>(ns) / 1e9;
        }
        ::closedir(d);
    }
    return total;
}

inline long EnvLong(const char* name, long fallback)
{
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

inline long long FileSize(const std::string& path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

} // namespace bench
