// The real telvar-boxsim through a real pseudo-terminal.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "BoxSimProcess.h"
#include "TempDir.h"
#include "tools/boxsim/FrameEncoder.h"

using namespace std::chrono;
using namespace std::chrono_literals;

namespace
{

const std::vector<std::uint8_t> OPEN = {0x7F, 0x02, 0x7F, 0x7D, 0x02, 0x7D};
const std::vector<std::uint8_t> POLL = {0x7E, 0x02, 0x7E};
const std::vector<std::uint8_t> START = {0x7E, 0x01, 0x7E};
const std::vector<std::uint8_t> STOP = {0x7E, 0x03, 0x7E};

std::vector<std::uint8_t> Freq(std::uint8_t code)
{
    return {0x7D, code, 0x7D};
}

// Number of frames, when the bytes are whole frames back to back.
std::size_t WholeFrames(const std::vector<std::uint8_t>& bytes)
{
    EXPECT_EQ(bytes.size() % 10, 0u);
    for (std::size_t i = 0; i + 10 <= bytes.size(); i += 10) {
        EXPECT_EQ(bytes[i], 0x7E) << i;
        EXPECT_EQ(bytes[i + 9], 0x7E) << i;
    }
    return bytes.size() / 10;
}

// Waits until the file has at least n lines.
std::vector<std::string> WaitForLines(const std::string& path, std::size_t n, milliseconds timeout = 10s)
{
    const auto deadline = steady_clock::now() + timeout;
    std::vector<std::string> lines;
    while ((lines = ReadLines(path)).size() < n && steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    return lines;
}

std::int64_t TimeOf(const std::string& line)
{
    return std::stoll(Split(line).at(0));
}

TEST(Executable, PrintsItsDeviceLinksItAndAnswersAPoll)
{
    TempDir dir;
    const std::string link = dir.File("box");
    BoxSimProcess sim;
    ASSERT_TRUE(sim.Start({"--link", link, "--speed1", "30", "--speed2", "-12", "--log", dir.File("cmd.log")}));
    EXPECT_EQ(sim.DevicePath().rfind("/dev/pts/", 0), 0u) << sim.DevicePath();
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), sim.DevicePath());

    DeviceSide dev(link);
    ASSERT_TRUE(dev.IsOpen());
    dev.Write(OPEN);
    EXPECT_TRUE(dev.ReadFor(300ms).empty()) << "nothing is sent before a start or a poll";
    dev.Write(POLL);
    const auto frame = dev.ReadAtLeast(10, 10s);
    ASSERT_EQ(frame.size(), 10u);
    EXPECT_EQ(WholeFrames(frame), 1u);
    EXPECT_TRUE(dev.ReadFor(300ms).empty()) << "a poll yields exactly one frame";

    const auto lines = WaitForLines(dir.File("cmd.log"), 3);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(lines[0].find(' ')), " 7F 02 7F");
    EXPECT_EQ(lines[1].substr(lines[1].find(' ')), " 7D 02 7D");
    EXPECT_EQ(lines[2].substr(lines[2].find(' ')), " 7E 02 7E");
    EXPECT_EQ(TimeOf(lines[0]), TimeOf(lines[1])) << "one write, one time";
    EXPECT_GE(TimeOf(lines[2]) - TimeOf(lines[1]), 250000) << "the poll came at least 300 ms later";

    EXPECT_EQ(sim.Stop(SIGTERM), 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link))) << "link removed on exit";
}

TEST(Executable, StreamsAtTheCommandedRateAndStops)
{
    TempDir dir;
    BoxSimProcess sim;
    ASSERT_TRUE(sim.Start({"--sent-log", dir.File("sent.log")}));
    DeviceSide dev(sim.DevicePath());
    ASSERT_TRUE(dev.IsOpen());

    struct {
        std::uint8_t code;
        double hz;
    } rates[] = {{0x02, 100.0}, {0x03, 10.0}};
    std::size_t total = 0;
    for (const auto& r : rates) {
        dev.Write(Freq(r.code));
        const auto t0 = steady_clock::now();
        dev.Write(START);
        const auto bytes = dev.ReadFor(1500ms);
        const double elapsed = duration<double>(steady_clock::now() - t0).count();
        dev.Write(STOP);
        auto tail = dev.ReadFor(200ms); // frames already on their way
        const std::size_t frames = WholeFrames(bytes) + WholeFrames(tail);
        total += frames;
        // Deadlines are absolute, so late wake-ups catch up; the bounds are
        // loose because this checks behaviour, not timing precision.
        const double expected = r.hz * elapsed;
        EXPECT_GE(static_cast<double>(frames), 0.6 * expected) << r.hz;
        EXPECT_LE(static_cast<double>(frames), 1.3 * expected + 3) << r.hz;
        EXPECT_TRUE(dev.ReadFor(500ms).empty()) << "stop stops at " << r.hz;
    }
    EXPECT_EQ(sim.Stop(SIGINT), 0);
    EXPECT_EQ(ReadLines(dir.File("sent.log")).size(), total) << "one sent-log line per frame";
}

TEST(Executable, BurstSendsExactlyTheFramesInTheSentLog)
{
    TempDir dir;
    BoxSimProcess sim;
    ASSERT_TRUE(sim.Start({"--burst", "--frames", "5000", "--speed1", "1000", "--speed2", "-700", "--gray2",
                           "--sent-log", dir.File("sent.log")}));
    DeviceSide dev(sim.DevicePath());
    ASSERT_TRUE(dev.IsOpen());
    dev.Write({0x7A, 0x0D, 0x7A, 0x7B, 0x20, 0x7B});
    dev.Write(START);
    auto bytes = dev.ReadAtLeast(50000, 60s);
    const auto extra = dev.ReadFor(300ms);
    EXPECT_TRUE(extra.empty()) << "the frame limit ends the stream";
    ASSERT_EQ(WholeFrames(bytes), 5000u);
    const auto lines = WaitForLines(dir.File("sent.log"), 5000);
    ASSERT_EQ(lines.size(), 5000u);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto tokens = Split(lines[i]);
        ASSERT_EQ(tokens.size(), 2u);
        const boxsim::Frame f =
            boxsim::EncodeFrame(std::stoul(tokens[0], nullptr, 16), std::stoul(tokens[1], nullptr, 16));
        ASSERT_TRUE(std::equal(f.begin(), f.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i * 10))) << i;
        ASSERT_EQ(std::stoul(tokens[0], nullptr, 16) & ~0x1FFFul, 0u) << "13 bits commanded";
    }
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

TEST(Executable, FaultsWithASeedAreWhatTheSentLogSays)
{
    TempDir dir;
    std::vector<std::vector<std::uint8_t>> runs;
    for (int run = 0; run < 2; ++run) {
        BoxSimProcess sim;
        ASSERT_TRUE(sim.Start({"--burst", "--frames", "2000", "--speed1", "100", "--drop", "0.01", "--insert-7e",
                               "0.05", "--seed", "12345", "--sent-log", dir.File("sent.log")}));
        DeviceSide dev(sim.DevicePath());
        ASSERT_TRUE(dev.IsOpen());
        dev.Write(START);
        runs.push_back(dev.ReadUntilQuiet(500ms, 60s));
        EXPECT_EQ(sim.Stop(SIGTERM), 0);
        std::size_t expected = 0, drops = 0, strays = 0;
        for (const std::string& line : ReadLines(dir.File("sent.log"))) {
            expected += 10;
            for (const std::string& t : Split(line)) {
                drops += t.rfind("drop@", 0) == 0 ? 1 : 0;
                strays += t == "stray7e" ? 1 : 0;
            }
        }
        EXPECT_EQ(expected, 20000u);
        EXPECT_GT(drops, 100u);
        EXPECT_GT(strays, 50u);
        EXPECT_EQ(runs.back().size(), expected - drops + strays);
    }
    // The same seed gives the same faults in the same places; only the angles,
    // which depend on when each frame went out, may differ, and drops and
    // strays do not depend on them.
    EXPECT_EQ(runs[0].size(), runs[1].size());
}

TEST(Executable, CommandLogTimesAndGarbage)
{
    TempDir dir;
    BoxSimProcess sim;
    ASSERT_TRUE(sim.Start({"--log", dir.File("cmd.log")}));
    DeviceSide dev(sim.DevicePath());
    ASSERT_TRUE(dev.IsOpen());
    dev.Write({0x7A, 0x0A, 0x7A});
    std::this_thread::sleep_for(200ms);
    dev.Write({0x55, 0x7B, 0x20, 0x7B});
    std::this_thread::sleep_for(50ms);
    dev.Write({0x7F}); // cut short: reported as garbage after a quiet spell
    const auto lines = WaitForLines(dir.File("cmd.log"), 4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(Split(lines[0]), (std::vector<std::string>{Split(lines[0])[0], "7A", "0A", "7A"}));
    EXPECT_EQ(Split(lines[1]), (std::vector<std::string>{Split(lines[1])[0], "?", "55"}));
    EXPECT_EQ(Split(lines[2]), (std::vector<std::string>{Split(lines[2])[0], "7B", "20", "7B"}));
    EXPECT_EQ(Split(lines[3]), (std::vector<std::string>{Split(lines[3])[0], "?", "7F"}));
    const std::int64_t gap = TimeOf(lines[1]) - TimeOf(lines[0]);
    EXPECT_GE(gap, 190000) << "microseconds, monotonic";
    EXPECT_LT(gap, 10000000);
    EXPECT_EQ(TimeOf(lines[1]), TimeOf(lines[2]));
    EXPECT_GE(TimeOf(lines[3]) - TimeOf(lines[2]), 100000) << "the quiet spell before a stray byte is reported";
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

TEST(Executable, SurvivesTheDeviceClosingWithoutSpinning)
{
    BoxSimProcess sim;
    ASSERT_TRUE(sim.Start({"--speed1", "10"}));
    {
        DeviceSide dev(sim.DevicePath());
        ASSERT_TRUE(dev.IsOpen());
        dev.Write({0x7D, 0x01, 0x7D});
        dev.Write(START); // streaming on while nobody listens
        dev.ReadAtLeast(100, 5s);
    }
    std::this_thread::sleep_for(100ms);
    const auto cpu0 = sim.CpuTime();
    const auto t0 = steady_clock::now();
    std::this_thread::sleep_for(1500ms);
    const auto cpu = sim.CpuTime() - cpu0;
    const auto wall = duration_cast<milliseconds>(steady_clock::now() - t0);
    EXPECT_LT(cpu.count(), wall.count() / 4) << "no busy loop while no device is open";
    ASSERT_TRUE(sim.Running());

    DeviceSide again(sim.DevicePath());
    ASSERT_TRUE(again.IsOpen());
    again.Write(STOP);
    again.ReadFor(300ms);
    again.Write(POLL);
    auto frame = again.ReadAtLeast(10, 10s);
    ASSERT_EQ(frame.size(), 10u) << "serves the next open";
    EXPECT_EQ(WholeFrames(frame), 1u);
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

// A pty's slave keeps its exclusive flag after the last close; the simulator
// clears it, or only root could open the port a second time.
TEST(Executable, ReleasesTheExclusiveFlagWhenTheToolCloses)
{
    BoxSimProcess sim;
    ASSERT_TRUE(sim.Start({}));
    {
        DeviceSide dev(sim.DevicePath());
        ASSERT_TRUE(dev.IsOpen());
        dev.SetExclusive();
        ASSERT_TRUE(dev.Exclusive());
        dev.Write(POLL);
        ASSERT_EQ(dev.ReadAtLeast(10, 10s).size(), 10u);
    }
    const auto deadline = steady_clock::now() + 10s;
    bool exclusive = true;
    while (exclusive && steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        DeviceSide probe(sim.DevicePath()); // as root this opens even while the flag is set
        ASSERT_TRUE(probe.IsOpen());
        exclusive = probe.Exclusive();
    }
    EXPECT_FALSE(exclusive);
    DeviceSide again(sim.DevicePath());
    ASSERT_TRUE(again.IsOpen());
    again.Write(POLL);
    EXPECT_EQ(again.ReadAtLeast(10, 10s).size(), 10u);
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

// Only the holder's close frees the device: another opener (root can open a
// device held exclusively) closing it leaves the tool's hold in place.
TEST(Executable, KeepsTheExclusiveFlagWhileItsHolderHasTheDeviceOpen)
{
    BoxSimProcess sim;
    ASSERT_TRUE(sim.Start({}));
    DeviceSide dev(sim.DevicePath());
    ASSERT_TRUE(dev.IsOpen());
    dev.SetExclusive();
    for (int i = 0; i < 3; ++i) {
        {
            DeviceSide other(sim.DevicePath());
            ASSERT_TRUE(other.IsOpen());
        }
        // A round trip: the simulator has seen the close by the time it answers.
        dev.Write(POLL);
        ASSERT_EQ(dev.ReadAtLeast(10, 10s).size(), 10u);
        std::this_thread::sleep_for(50ms);
        EXPECT_TRUE(dev.Exclusive()) << i;
    }
    dev.Close();
    const auto deadline = steady_clock::now() + 10s;
    bool exclusive = true;
    while (exclusive && steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        DeviceSide probe(sim.DevicePath());
        ASSERT_TRUE(probe.IsOpen());
        exclusive = probe.Exclusive();
    }
    EXPECT_FALSE(exclusive);
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
}

TEST(Executable, ExitOptions)
{
    {
        BoxSimProcess sim;
        ASSERT_TRUE(sim.Start({}));
        sim.CloseStdin();
        EXPECT_EQ(sim.WaitExit(500ms), -1) << "stdin does not matter without the option";
        EXPECT_EQ(sim.Stop(SIGTERM), 0);
    }
    {
        BoxSimProcess sim;
        ASSERT_TRUE(sim.Start({"--exit-on-stdin-eof"}));
        sim.CloseStdin();
        EXPECT_EQ(sim.WaitExit(20s), 0);
    }
    {
        BoxSimProcess sim;
        ASSERT_TRUE(sim.Start({"--exit-on-close"}));
        {
            DeviceSide dev(sim.DevicePath());
        }
        EXPECT_EQ(sim.WaitExit(20s), 0);
    }
}

TEST(Executable, HelpAndBadOptions)
{
    {
        BoxSimProcess sim;
        ASSERT_TRUE(sim.Start({"--help"}));
        EXPECT_EQ(sim.WaitExit(20s), 0);
        const std::string text = sim.DevicePath() + "\n" + sim.RestOfStdout();
        EXPECT_NE(text.find("--exit-on-stdin-eof"), std::string::npos);
        EXPECT_NE(text.find("--sent-log"), std::string::npos);
    }
    {
        BoxSimProcess sim;
        EXPECT_FALSE(sim.Start({"--width1", "99"})) << "no device line on a bad option";
        EXPECT_EQ(sim.WaitExit(20s), 2);
    }
}

} // namespace
