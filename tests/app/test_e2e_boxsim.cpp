// The tool against the simulated box: commands as the box received them, and
// every streamed frame in the record file, none lost, turns counted.
#include "TelvarFixture.h"

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

#include "measurement/RecordFile.h"

extern char** environ;

namespace {

class BoxSim {
public:
    explicit BoxSim(const std::vector<std::string>& args)
    {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(TELVAR_BOXSIM));
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&m_pid, TELVAR_BOXSIM, &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~BoxSim() { Stop(); }
    bool Running() const { return m_pid > 0; }
    void Stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
};

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            out.push_back(line);
    }
    return out;
}

std::vector<std::string> Fields(const std::string& line, char sep)
{
    std::vector<std::string> out;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, sep))
        out.push_back(field);
    return out;
}

} // namespace

using BoxSimTest = TelvarFixture;

TEST_F(BoxSimTest, ContinuousRunAt1kHzRecordsEveryFrameAndCountsTurns)
{
    const std::string link = Home() + "/box";
    const std::string cmdLog = Home() + "/commands.log";
    const std::string sentLog = Home() + "/sent.log";
    BoxSim sim({"--link", link, "--log", cmdLog, "--sent-log", sentLog, "--speed1", "1500", "--speed2", "-400"});
    ASSERT_TRUE(sim.Running());
    ASSERT_TRUE(PumpUntil([&] { return FileExists(link); }));
    ::setenv("TELVAR_COM1", link.c_str(), 1);

    Click(IDC_OPEN_PORT);
    ASSERT_EQ(Text(IDC_OPEN_PORT), "关闭串口");
    PumpFor(50);
    Choose(IDC_FREQUENCY, 0); // 1 kHz
    Click(IDC_START);
    ASSERT_EQ(Text(IDC_START), "停止");
    PumpFor(700);
    presenter.answers = {IDNO};
    Click(IDC_START);
    // The box logs what it takes in its own time.
    EXPECT_TRUE(PumpUntil([&] { return ReadFileBytes(cmdLog).find("7E 03 7E") != std::string::npos; }));
    PumpFor(50);
    sim.Stop();

    // The box saw the open-time command, then the start sequence, then the stop.
    std::vector<std::string> names;
    for (const std::string& line : Lines(ReadFileBytes(cmdLog)))
        names.push_back(line.substr(line.find(' ') + 1));
    ASSERT_EQ(names, (std::vector<std::string>{"7F 02 7F", "7D 02 7D", "7A 1A 7A", "7B 1A 7B", "7F 06 7F",
                                               "7D 01 7D", "7E 01 7E", "7E 03 7E"}));
    // (The box stamps a command when it gets round to reading it, so under
    // load its stamps say nothing about the spacing on the line; the tests of
    // the start sequence measure that at the device.)

    // Every frame the box sent while recording is one line, in order, none missing.
    std::vector<std::pair<DWORD, DWORD>> sent;
    for (const std::string& line : Lines(ReadFileBytes(sentLog))) {
        const auto f = Fields(line, ' ');
        sent.emplace_back(static_cast<DWORD>(std::stoul(f[0], nullptr, 16)),
                          static_cast<DWORD>(std::stoul(f[1], nullptr, 16)));
    }
    const std::string record = ReadFileBytes(RecordPath());
    ASSERT_EQ(record.substr(0, RecordHeaderBytes().size()), RecordHeaderBytes());
    const auto lines = Lines(record.substr(RecordHeaderBytes().size()));
    ASSERT_GE(lines.size(), 400u);
    const DWORD mask = 0x03FFFFFF;
    std::size_t first = 0;
    const auto f0 = Fields(lines[0], '\t');
    while (first < sent.size() && std::to_string(sent[first].first & mask) != f0[1])
        ++first;
    ASSERT_LT(first + lines.size(), sent.size() + 1);
    int turns1 = 0;
    double prev1 = -1;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto f = Fields(lines[i], '\t');
        ASSERT_EQ(f.size(), 6u) << i;
        ASSERT_EQ(f[1], std::to_string(sent[first + i].first & mask)) << i;
        ASSERT_EQ(f[4], std::to_string(sent[first + i].second & mask)) << i;
        const double angle1 = std::stod(f[0]);
        if (prev1 >= 0 && angle1 - prev1 < -350.0)
            ++turns1;
        prev1 = angle1;
    }
    // 1500 degrees a second for most of a second: the total runs over several turns.
    EXPECT_GE(turns1, 2);
    const auto last = Fields(lines.back(), '\t');
    EXPECT_NEAR(std::stod(last[2]), turns1 * 360.0 + std::stod(last[0]), 1e-3);
    EXPECT_EQ(dlg->RecordFile().LostLines(), 0u);
}
