// Runs the real telvar-record as a child process with default signal
// dispositions, an optional file size limit, and its stderr in a file.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

inline std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Lines of a text, without their line ends (LF or CR LF).
inline std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

inline std::vector<std::string> SplitFields(const std::string& line, char sep)
{
    std::vector<std::string> out;
    std::string f;
    std::istringstream in(line);
    while (std::getline(in, f, sep))
        out.push_back(f);
    if (!line.empty() && line.back() == sep)
        out.push_back("");
    return out;
}

class RecordRun
{
public:
    // fileSizeLimit: RLIMIT_FSIZE of the child in bytes, 0 for none.
    RecordRun(const std::vector<std::string>& args, const std::string& dir, const std::string& stderrPath,
              rlim_t fileSizeLimit = 0)
        : m_stderrPath(stderrPath)
    {
        std::vector<std::string> all = {TELVAR_RECORD_EXE};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            // As a shell would start it: nothing blocked, nothing ignored.
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int s = 1; s < NSIG; ++s)
                if (s != SIGKILL && s != SIGSTOP)
                    signal(s, SIG_DFL);
            if (fileSizeLimit > 0) {
                rlimit r{fileSizeLimit, fileSizeLimit};
                setrlimit(RLIMIT_FSIZE, &r);
            }
            if (::chdir(dir.c_str()) != 0)
                ::_exit(120);
            const int err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (err < 0 || null < 0)
                ::_exit(121);
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(err, STDERR_FILENO);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }
    ~RecordRun()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait(std::chrono::seconds(20));
        }
    }
    RecordRun(const RecordRun&) = delete;
    RecordRun& operator=(const RecordRun&) = delete;

    void Signal(int sig) const
    {
        if (m_pid > 0)
            ::kill(m_pid, sig);
    }
    // The exit status; -2 when still running at the timeout, -1 when ended by a signal.
    int Wait(std::chrono::milliseconds timeout)
    {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (m_pid > 0) {
            int status = 0;
            const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_pid = -1;
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                break;
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return -2;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return m_status;
    }
    bool Running() { return Wait(std::chrono::milliseconds(0)) == -2; }
    std::string Stderr() const { return ReadAll(m_stderrPath); }

private:
    pid_t m_pid = -1;
    int m_status = -1;
    std::string m_stderrPath;
};

// Polls until pred() holds or the time is up.
template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Data lines in a record file (CR LF ended), the header not counted.
inline std::size_t DataLines(const std::string& path)
{
    const std::string s = ReadAll(path);
    std::size_t n = 0;
    for (char c : s)
        n += c == '\n';
    return n > 0 ? n - 1 : 0;
}

// Commands from the simulator's log, "7A 1A 7A" each, " ignored" dropped;
// bytes that formed no command are left out.
inline std::vector<std::string> LoggedCommands(const std::string& path)
{
    std::vector<std::string> out;
    for (std::string line : SplitLines(ReadAll(path))) {
        const auto space = line.find(' ');
        if (space == std::string::npos)
            continue;
        line = line.substr(space + 1);
        if (line.rfind("?", 0) == 0)
            continue;
        const auto ignored = line.find(" ignored");
        if (ignored != std::string::npos)
            line = line.substr(0, ignored);
        out.push_back(line);
    }
    return out;
}
