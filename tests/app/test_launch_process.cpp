// The real telvar executable: --help, --version and usage errors need no
// display; --port 1 --open --start against the simulated box records frames.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "app/AppInfo.h"

extern char** environ;

namespace {

struct Outcome {
    int status = -1; // exit code, or -1 when killed or not started
    std::string out;
    std::string err;
};

// The environment of this test without any display, plus extra.
std::vector<std::string> BaseEnvironment(const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (name == "DISPLAY" || name == "WAYLAND_DISPLAY" || name == "QT_QPA_PLATFORM" || name == "HOME" ||
            name.rfind("TELVAR_", 0) == 0)
            continue;
        env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

class Process {
public:
    Process(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env)
    {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            return;
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (const std::string& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        if (posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        m_out = out[0];
        m_err = err[0];
    }
    ~Process()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        for (int fd : {m_out, m_err})
            if (fd >= 0)
                ::close(fd);
    }
    bool Started() const { return m_pid > 0; }

    // Reads both pipes until the process ends or timeoutMs passes (then kills it).
    Outcome Finish(int timeoutMs, int signal = 0)
    {
        Outcome run;
        if (signal && m_pid > 0)
            ::kill(m_pid, signal);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (m_out >= 0 || m_err >= 0) {
            pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
            const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                  deadline - std::chrono::steady_clock::now())
                                                  .count());
            if (left <= 0 || ::poll(fds, 2, left) <= 0)
                break;
            for (int i = 0; i < 2; ++i) {
                if (!fds[i].revents)
                    continue;
                char buffer[4096];
                const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
                int& fd = i == 0 ? m_out : m_err;
                if (n <= 0) {
                    ::close(fd);
                    fd = -1;
                } else {
                    (i == 0 ? run.out : run.err).append(buffer, static_cast<std::size_t>(n));
                }
            }
        }
        if (m_pid > 0) {
            if (m_out >= 0 || m_err >= 0)
                ::kill(m_pid, SIGKILL); // timed out
            int status = 0;
            ::waitpid(m_pid, &status, 0);
            m_pid = -1;
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        return run;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_err = -1;
};

Outcome RunTelvar(const std::vector<std::string>& args)
{
    Process p(TELVAR_EXE, args, BaseEnvironment({}));
    EXPECT_TRUE(p.Started());
    return p.Finish(20000);
}

int CountLines(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string line;
    int n = 0;
    while (std::getline(in, line))
        ++n;
    return n;
}

} // namespace

TEST(TelvarProcess, HelpAndVersionWithoutADisplay)
{
    for (const char* opt : {"--help", "-h"}) {
        const Outcome run = RunTelvar({opt});
        EXPECT_EQ(run.status, 0) << opt << run.err;
        EXPECT_EQ(run.out.rfind("用法：telvar [选项]", 0), 0u) << run.out;
        for (const char* listed : {"--port <N>", "--open", "--start", "--version"})
            EXPECT_NE(run.out.find(listed), std::string::npos) << listed;
        EXPECT_EQ(run.err, "");
    }
    const Outcome version = RunTelvar({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "telvar " TELVAR_VERSION "\n");
    EXPECT_EQ(version.err, "");
}

TEST(TelvarProcess, UsageErrorsEndWithStatus2AndSayWhy)
{
    struct Case {
        std::vector<std::string> args;
        const char* said;
    };
    for (const Case& c : std::vector<Case>{{{"--frob"}, "未知的选项“--frob”"},
                                           {{"--port", "7"}, "“7”"},
                                           {{"--start"}, "--start 需要 --open"},
                                           {{"--port"}, "缺少数值"}}) {
        const Outcome run = RunTelvar(c.args);
        EXPECT_EQ(run.status, 2) << c.args[0];
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
    }
}

TEST(TelvarProcess, PortOneOpenStartRecordsFramesFromTheSimulator)
{
    char dir[] = "/tmp/telvar-launch-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string home = dir;
    const std::string link = home + "/box";
    const std::string record = home + "/Telvar-Record.dat";
    Process sim(TELVAR_BOXSIM, {"--link", link, "--speed1", "30", "--speed2", "-12", "--exit-on-close"},
                BaseEnvironment({}));
    ASSERT_TRUE(sim.Started());
    for (int i = 0; i < 100 && ::access(link.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(::access(link.c_str(), F_OK), 0);

    Process tool(TELVAR_EXE, {"--port", "1", "--open", "--start"},
                 BaseEnvironment({"QT_QPA_PLATFORM=offscreen", "HOME=" + home, "TELVAR_COM1=" + link}));
    ASSERT_TRUE(tool.Started());
    // 100 Hz with the settings shown: a header and a second's worth of lines.
    bool recorded = false;
    for (int i = 0; i < 300 && !recorded; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        recorded = CountLines(record) >= 1 + 50;
    }
    EXPECT_TRUE(recorded) << CountLines(record) << " lines";
    const Outcome run = tool.Finish(10000, SIGTERM);
    EXPECT_EQ(run.err.find("没有发现串口"), std::string::npos) << run.err;
    // The simulator ends by itself once the tool has let go of the device.
    const Outcome simRun = sim.Finish(10000);
    EXPECT_EQ(simRun.status, 0);
    std::system(("rm -rf '" + home + "'").c_str());
}
