// telvar-record as operators run it, against the real simulator: the bytes on
// the line, the endings, a lost device, existing and full output files, bad
// options.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>

#include "RecordRun.h"
#include "measurement/RecordFile.h"
#include "tests/boxsim/BoxSimProcess.h"
#include "tests/boxsim/TempDir.h"

using namespace std::chrono_literals;

namespace
{

// The header, then whole lines of six TAB-separated fields, CR LF each.
::testing::AssertionResult WellFormedDat(const std::string& bytes)
{
    const std::string& header = RecordHeaderBytes();
    if (bytes.compare(0, header.size(), header) != 0)
        return ::testing::AssertionFailure() << "header differs";
    std::size_t pos = header.size();
    std::size_t n = 0;
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos)
            return ::testing::AssertionFailure() << "a piece of a line at the end: " << bytes.substr(pos);
        const std::string line = bytes.substr(pos, end - pos);
        if (SplitFields(line, '\t').size() != 6)
            return ::testing::AssertionFailure() << "line " << n + 1 << " has not six fields: " << line;
        pos = end + 2;
        ++n;
    }
    return ::testing::AssertionSuccess();
}

// Channel words of the frames the simulator sent, in order.
std::vector<std::pair<std::uint32_t, std::uint32_t>> SentWords(const std::string& path)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> words;
    for (const std::string& line : SplitLines(ReadAll(path))) {
        unsigned a = 0, b = 0;
        if (std::sscanf(line.c_str(), "%x %x", &a, &b) == 2)
            words.emplace_back(a, b);
    }
    return words;
}

// The box's frames carry no escape: a position byte may be 0x7E. The collector
// arms at one 0x7E and collects from the next, refusing ten bytes not framed
// by 0x7E and looking at the last of them again. Returns the index of the
// first frame it takes whole from the sent stream, and how many it refuses
// before; -1 when it would first take ten bytes that are no sent frame.
long FirstFrameAfterSync(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& sent, int& refused)
{
    refused = 0;
    bool armed = false, collecting = false;
    std::vector<std::uint8_t> window;
    std::size_t windowFrame = 0, windowAt = 0;
    for (std::size_t f = 0; f < sent.size(); ++f) {
        std::uint8_t bytes[10] = {0x7E};
        for (int i = 0; i < 4; ++i) {
            bytes[1 + i] = static_cast<std::uint8_t>(sent[f].first >> (24 - 8 * i));
            bytes[5 + i] = static_cast<std::uint8_t>(sent[f].second >> (24 - 8 * i));
        }
        bytes[9] = 0x7E;
        for (std::size_t at = 0; at < 10; ++at) {
            const std::uint8_t b = bytes[at];
            if (collecting) {
                if (window.empty()) {
                    windowFrame = f;
                    windowAt = at;
                }
                window.push_back(b);
                if (window.size() == 10) {
                    if (window.front() == 0x7E && window.back() == 0x7E)
                        return windowAt == 0 ? static_cast<long>(windowFrame) : -1;
                    ++refused;
                    window.clear();
                    armed = collecting = false;
                }
            }
            if (b == 0x7E) {
                if (!armed && !collecting)
                    armed = true;
                else if (armed && !collecting)
                    collecting = true;
            }
        }
    }
    return -1;
}

// The record's codes are the sent frames from the first the collector can
// take (the second frame, unless a 0x7E among the first frames' position
// bytes delays the step), one after another, none missing between.
::testing::AssertionResult ConsecutiveFromSync(const std::string& datPath, const std::string& sentLog,
                                               std::uint32_t mask = 0x03FFFFFF)
{
    const auto sent = SentWords(sentLog);
    int refused = 0;
    const long first = FirstFrameAfterSync(sent, refused);
    if (first < 1)
        return ::testing::AssertionFailure() << "the sent stream gives no frame to take whole";
    const auto lines = SplitLines(ReadAll(datPath));
    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::size_t k = static_cast<std::size_t>(first) + i - 1;
        if (k >= sent.size())
            return ::testing::AssertionFailure() << "more lines than frames sent";
        const auto f = SplitFields(lines[i], '\t');
        if (f.size() != 6 || f[1] != std::to_string(sent[k].first & mask)
            || f[4] != std::to_string(sent[k].second & mask)) {
            auto failure = ::testing::AssertionFailure();
            failure << "line " << i << " is not frame " << k << " (" << refused << " refused before it): " << lines[i]
                    << "\nfirst frames sent:";
            for (std::size_t j = 0; j < std::min<std::size_t>(sent.size(), 6); ++j)
                failure << " " << std::hex << sent[j].first << "/" << sent[j].second << std::dec;
            return failure;
        }
    }
    return ::testing::AssertionSuccess();
}

class RecordExeTest : public ::testing::Test
{
protected:
    std::string File(const std::string& name) const { return dir.File(name); }

    // A simulator with a command log and a sent log.
    void StartSim(std::vector<std::string> args, const std::string& tag = "")
    {
        args.insert(args.end(), {"--log", File("cmd" + tag + ".log"), "--sent-log", File("sent" + tag + ".log")});
        sim = std::make_unique<BoxSimProcess>();
        ASSERT_TRUE(sim->Start(args));
    }

    std::unique_ptr<RecordRun> Run(const std::vector<std::string>& args, rlim_t sizeLimit = 0)
    {
        return std::make_unique<RecordRun>(args, dir.Path(), File("stderr.txt"), sizeLimit);
    }

    // Records the whole of a stream of `frames` frames that the simulator
    // sends after the start, then ends the run with SIGINT.
    void RecordWholeStream(const std::vector<std::string>& simArgs, int frames, const std::string& tag,
                           const std::vector<std::string>& args, const std::string& out)
    {
        std::vector<std::string> all = simArgs;
        all.insert(all.end(), {"--frames", std::to_string(frames)});
        StartSim(all, tag);
        std::vector<std::string> runArgs = {"--device", sim->DevicePath(), "--output", out};
        runArgs.insert(runArgs.end(), args.begin(), args.end());
        auto run = Run(runArgs);
        ASSERT_TRUE(WaitFor([&] { return SentWords(File("sent" + tag + ".log")).size() >= static_cast<std::size_t>(frames); },
                            120s));
        std::size_t last = static_cast<std::size_t>(-1);
        ASSERT_TRUE(WaitFor(
            [&] {
                const std::size_t now = DataLines(out);
                const bool settled = now == last;
                last = now;
                return settled;
            },
            60s));
        run->Signal(SIGINT);
        ASSERT_EQ(run->Wait(60s), 0) << run->Stderr();
        sim->Stop(SIGTERM);
    }

    TempDir dir;
    std::unique_ptr<BoxSimProcess> sim;
};

} // namespace

// The check's own model of the step, on streams seen from the simulator: a
// 0x7E among the first frame's position bytes costs two refusals and three
// more frames.
TEST(RecordExeSync, TheFirstFrameTakenFollowsTheDelimitersRule)
{
    int refused = -1;
    EXPECT_EQ(FirstFrameAfterSync({{0x2302452, 0x3b7fb54}, {0x232220c, 0x3b7b9ca}, {0x2342000, 0x3b77000}}, refused),
              1);
    EXPECT_EQ(refused, 0);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> sevenE = {
        {0x22c28df, 0x3b87e66}, {0x22e2699, 0x3b83cdd}, {0x2302452, 0x3b7fb54},
        {0x232220c, 0x3b7b9ca}, {0x2341fc5, 0x3b77841}, {0x2361d70, 0x3b736b7}};
    EXPECT_EQ(FirstFrameAfterSync(sevenE, refused), 4);
    EXPECT_EQ(refused, 2);
}

TEST_F(RecordExeTest, SendsTheDialogsCommandsForATableOfSettings)
{
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> start; // after the open-time command
        std::string during;              // polls in response mode
    };
    const std::vector<Case> cases = {
        {{}, {"7A 1A 7A", "7B 1A 7B", "7F 06 7F", "7D 02 7D", "7E 01 7E"}, ""},
        {{"--width1", "13", "--width2", "32", "--clock", "0.2M", "--rate", "1kHz", "--type1", "gray"},
         {"7A 0D 7A", "7B 20 7B", "7F 07 7F", "7D 01 7D", "7E 01 7E"}, ""},
        {{"--width1", "10", "--width2", "25", "--clock", "10 M", "--rate", "1Hz"},
         {"7A 0A 7A", "7B 19 7B", "7F 05 7F", "7D 04 7D", "7E 01 7E"}, ""},
        {{"--mode", "response", "--interval", "5", "--clock", "2M"}, {"7A 1A 7A", "7B 1A 7B", "7F 03 7F"}, "7E 02 7E"},
        {{"--mode", "response", "--interval", "20", "--width1", "32", "--clock", "5M", "--rate", "10Hz"},
         {"7A 20 7A", "7B 1A 7B", "7F 04 7F"}, "7E 02 7E"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const std::string tag = std::to_string(n++);
        StartSim({"--rate", "1000"}, tag);
        std::vector<std::string> args = {"--device", sim->DevicePath(), "--frames", "20", "--output",
                                         File("out" + tag + ".dat")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto run = Run(args);
        ASSERT_EQ(run->Wait(60s), 0) << run->Stderr();
        EXPECT_EQ(DataLines(File("out" + tag + ".dat")), 20u);
        sim->Stop(SIGTERM);

        std::vector<std::string> expected = {"7F 02 7F", "7D 02 7D"}; // the open-time command
        expected.insert(expected.end(), c.start.begin(), c.start.end());
        const std::vector<std::string> got = LoggedCommands(File("cmd" + tag + ".log"));
        ASSERT_GE(got.size(), expected.size());
        EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + static_cast<long>(expected.size())), expected);
        const std::vector<std::string> rest(got.begin() + static_cast<long>(expected.size()), got.end());
        if (c.during.empty()) {
            // Continuous: the stop command, and nothing else.
            EXPECT_EQ(rest, std::vector<std::string>{"7E 03 7E"});
        } else {
            // Response: polls only (at least one per recorded frame and the
            // one that synchronised), never a stop.
            EXPECT_GE(rest.size(), 21u);
            for (const std::string& r : rest)
                EXPECT_EQ(r, c.during);
        }
    }
}

TEST_F(RecordExeTest, EachEndingSendsTheStopAndLeavesACompleteFile)
{
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int signal; // 0: the run ends by itself
    };
    const std::vector<Case> cases = {
        {"duration", {"--duration", "1.5"}, 0},
        {"frames", {"--frames", "700"}, 0},
        {"SIGINT", {}, SIGINT},
        {"SIGTERM", {}, SIGTERM},
        {"SIGHUP", {}, SIGHUP},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string tag = std::to_string(n++);
        StartSim({"--speed1", "700", "--speed2", "-90"}, tag);
        const std::string out = File("end" + tag + ".dat");
        std::vector<std::string> args = {"--device", sim->DevicePath(), "--rate", "1kHz", "--output", out};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto run = Run(args);
        if (c.signal) {
            ASSERT_TRUE(WaitFor([&] { return DataLines(out) >= 300; }, 60s)) << run->Stderr();
            run->Signal(c.signal);
        }
        ASSERT_EQ(run->Wait(60s), 0) << run->Stderr();
        sim->Stop(SIGTERM);

        const std::vector<std::string> cmds = LoggedCommands(File("cmd" + tag + ".log"));
        ASSERT_FALSE(cmds.empty());
        EXPECT_EQ(cmds.back(), "7E 03 7E");
        const std::string bytes = ReadAll(out);
        EXPECT_TRUE(WellFormedDat(bytes));
        EXPECT_TRUE(ConsecutiveFromSync(out, File("sent" + tag + ".log"))) << run->Stderr();
        const std::size_t lines = DataLines(out);
        if (std::string(c.name) == "frames") {
            EXPECT_EQ(lines, 700u);
        } else {
            EXPECT_GE(lines, 300u);
        }
        // Every frame sent before the stop is recorded: at most the few
        // in flight when the stop left are not (those before the first taken
        // whole only synchronise).
        const auto sentWords = SentWords(File("sent" + tag + ".log"));
        int refused = 0;
        const long first = FirstFrameAfterSync(sentWords, refused);
        ASSERT_GE(first, 1);
        const std::size_t sent = sentWords.size();
        // (The simulator may send a few more before it reads the stop.)
        if (std::string(c.name) != "frames") {
            EXPECT_LE(sent - static_cast<std::size_t>(first) - lines, 25u) << sent << " sent, " << lines << " recorded";
        }
        const std::string err = run->Stderr();
        EXPECT_NE(err.find("错帧 " + std::to_string(refused) + " "), std::string::npos) << err;
        EXPECT_NE(err.find("结束"), std::string::npos) << err;
        EXPECT_NE(err.find("帧 " + std::to_string(lines)), std::string::npos) << err;
    }
}

TEST_F(RecordExeTest, ALostDeviceEndsWithStatusThreeAndAWholeFile)
{
    const std::string link = File("box");
    StartSim({"--link", link, "--rate", "1000"});
    const std::string out = File("lost.dat");
    auto run = Run({"--device", link, "--output", out, "--timestamps", File("lost.ts")});
    ASSERT_TRUE(WaitFor([&] { return DataLines(out) >= 100; }, 60s)) << run->Stderr();
    sim->Stop(SIGKILL);
    EXPECT_EQ(run->Wait(60s), 3) << run->Stderr();
    EXPECT_TRUE(WellFormedDat(ReadAll(out)));
    const std::string err = run->Stderr();
    EXPECT_NE(err.find("设备丢失"), std::string::npos) << err;
    const auto ts = SplitLines(ReadAll(File("lost.ts")));
    ASSERT_FALSE(ts.empty());
    EXPECT_EQ(SplitFields(ts.back(), ',').back(), "device-lost");
}

TEST_F(RecordExeTest, WithReconnectItWaitsForTheSameLinkThenSendsTheSettingsAgainAndAppends)
{
    const std::string link = File("box");
    StartSim({"--link", link, "--rate", "1000", "--speed1", "100"}, "a");
    const std::string out = File("again.dat");
    const std::string ts = File("again.ts");
    auto run = Run({"--device", link, "--reconnect", "--width1", "13", "--rate", "1kHz", "--output", out,
                    "--timestamps", ts});
    ASSERT_TRUE(WaitFor([&] { return DataLines(out) >= 200; }, 60s)) << run->Stderr();
    // Ended so that it takes its link along: a link left behind would name a
    // pseudo-terminal number that any other program may be given next.
    sim->Stop(SIGTERM);
    ASSERT_TRUE(WaitFor([&] { return ReadAll(ts).find("device-lost") != std::string::npos; }, 30s));
    const std::size_t before = DataLines(out);
    std::this_thread::sleep_for(700ms);
    EXPECT_TRUE(run->Running()) << run->Stderr();
    EXPECT_EQ(DataLines(out), before);

    StartSim({"--link", link, "--rate", "1000", "--speed1", "100"}, "b");
    ASSERT_TRUE(WaitFor([&] { return DataLines(out) >= before + 200; }, 60s)) << run->Stderr();
    run->Signal(SIGTERM);
    ASSERT_EQ(run->Wait(60s), 0) << run->Stderr();
    sim->Stop(SIGTERM);

    EXPECT_TRUE(WellFormedDat(ReadAll(out)));
    const std::vector<std::string> cmds = LoggedCommands(File("cmdb.log"));
    const std::vector<std::string> expected = {"7F 02 7F", "7D 02 7D", "7A 0D 7A", "7B 1A 7B",
                                               "7F 06 7F", "7D 01 7D", "7E 01 7E", "7E 03 7E"};
    EXPECT_EQ(cmds, expected);
    // The gap is marked once each way, between line numbers that go on.
    const auto rows = SplitLines(ReadAll(ts));
    std::vector<std::string> events;
    long last = 1;
    for (std::size_t i = 1; i < rows.size(); ++i) {
        const auto f = SplitFields(rows[i], ',');
        ASSERT_EQ(f.size(), 4u) << rows[i];
        if (!f[3].empty()) {
            events.push_back(f[3]);
            continue;
        }
        EXPECT_EQ(std::stol(f[0]), last + 1);
        last = std::stol(f[0]);
    }
    EXPECT_EQ(events, (std::vector<std::string>{"device-lost", "reconnected"}));
    EXPECT_EQ(static_cast<std::size_t>(last - 1), DataLines(out));
}

TEST_F(RecordExeTest, AnExistingOutputIsRefusedBeforeThePortIsTouchedUnlessForced)
{
    StartSim({"--exit-on-close", "--rate", "1000"});
    const std::string out = File("old.dat");
    {
        std::ofstream f(out);
        f << "precious";
    }
    auto run = Run({"--device", sim->DevicePath(), "--output", out, "--frames", "5"});
    EXPECT_EQ(run->Wait(60s), 5);
    EXPECT_EQ(ReadAll(out), "precious");
    EXPECT_NE(run->Stderr().find("--force"), std::string::npos) << run->Stderr();
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(sim->Running()); // it ends when a program that opened the device closes it
    EXPECT_TRUE(LoggedCommands(File("cmd.log")).empty());

    // The same for the timestamps file; the record file is not left behind.
    const std::string ts = File("old.ts");
    {
        std::ofstream f(ts);
        f << "precious";
    }
    run = Run({"--device", sim->DevicePath(), "--output", File("new.dat"), "--timestamps", ts, "--frames", "5"});
    EXPECT_EQ(run->Wait(60s), 5);
    EXPECT_EQ(ReadAll(ts), "precious");
    EXPECT_NE(::access(File("new.dat").c_str(), F_OK), 0);

    run = Run({"--device", sim->DevicePath(), "--output", out, "--frames", "5", "--force"});
    EXPECT_EQ(run->Wait(60s), 0) << run->Stderr();
    EXPECT_TRUE(WellFormedDat(ReadAll(out)));
    EXPECT_EQ(DataLines(out), 5u);
}

TEST_F(RecordExeTest, AFullDiskCountsTheLostLinesAndTheRunGoesOn)
{
    StartSim({"--rate", "1000"});
    const std::string out = File("full.dat");
    const rlim_t limit = 2000; // the header and some 35 lines
    auto run = Run({"--device", sim->DevicePath(), "--output", out, "--frames", "300", "--rate", "1kHz"}, limit);
    EXPECT_EQ(run->Wait(60s), 5) << run->Stderr();
    const std::string bytes = ReadAll(out);
    EXPECT_LE(bytes.size(), limit);
    EXPECT_TRUE(WellFormedDat(bytes));
    const std::size_t written = DataLines(out);
    EXPECT_GT(written, 10u);
    const std::string err = run->Stderr();
    const std::string lost = "丢行 " + std::to_string(300 - written);
    EXPECT_NE(err.find(lost), std::string::npos) << err;
    EXPECT_NE(err.find("帧 300"), std::string::npos) << err;
    EXPECT_EQ(LoggedCommands(File("cmd.log")).back(), "7E 03 7E");
}

TEST_F(RecordExeTest, BadOptionValuesExitTwoWithOneLineBeforeThePortIsTouched)
{
    StartSim({"--exit-on-close"});
    const std::vector<std::vector<std::string>> cases = {
        {"--width1", "9"},         {"--width2", "33"},          {"--width1", "26x"},
        {"--type1", "grey"},       {"--clock", "1M"},           {"--mode", "polled"},
        {"--rate", "50Hz"},        {"--mode", "response"},      {"--mode", "response", "--interval", "0"},
        {"--mode", "response", "--interval", "2001"},          {"--interval", "10"},
        {"--duration", "0"},       {"--duration", "-3"},        {"--duration", "abc"},
        {"--frames", "0"},         {"--port", "5"},             {"--format", "xls"},
        {"--port", "1"},           {"--no-such-option"},        {"surplus"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c));
        std::vector<std::string> args = c;
        // --port with --device is itself refused.
        args.insert(args.end(), {"--device", sim->DevicePath(), "--output", File("bad.dat")});
        auto run = Run(args);
        EXPECT_EQ(run->Wait(60s), 2);
        const std::string err = run->Stderr();
        EXPECT_EQ(SplitLines(err).size(), 1u) << err;
        EXPECT_EQ(err.rfind("telvar-record: ", 0), 0u) << err;
        EXPECT_NE(::access(File("bad.dat").c_str(), F_OK), 0);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(sim->Running());
    EXPECT_TRUE(LoggedCommands(File("cmd.log")).empty());
}

TEST_F(RecordExeTest, AFailedOpenSaysWhyExitsFourAndLeavesNoFile)
{
    auto run = Run({"--device", File("no-such-tty"), "--output", File("none.dat")});
    EXPECT_EQ(run->Wait(60s), 4);
    EXPECT_NE(run->Stderr().find("没有这个设备"), std::string::npos) << run->Stderr();
    EXPECT_NE(::access(File("none.dat").c_str(), F_OK), 0);
}

TEST_F(RecordExeTest, CsvAndTimestampsAgreeWithTheDatOfTheSameStream)
{
    // Resting encoders and seeded line noise: the same bytes in every run.
    const std::vector<std::string> stream = {"--burst", "--start1", "123.4", "--start2", "355.9",
                                             "--noise", "0.001", "--seed", "5"};
    const int frames = 3000;
    const std::string dat = File("same.dat");
    const std::string csv = File("same.csv");
    RecordWholeStream(stream, frames, "dat", {"--timestamps", File("dat.ts"), "--width2", "20"}, dat);
    RecordWholeStream(stream, frames, "csv", {"--timestamps", File("csv.ts"), "--width2", "20", "--format", "csv"},
                      csv);

    const auto datLines = SplitLines(ReadAll(dat));
    const auto csvLines = SplitLines(ReadAll(csv));
    ASSERT_GT(datLines.size(), 2000u);
    ASSERT_EQ(csvLines.size(), datLines.size());
    EXPECT_EQ(csvLines[0], "time_utc,t_s,ch1_angle,ch1_code,ch1_total,ch2_angle,ch2_code,ch2_total");
    const auto csvTimes = SplitLines(ReadAll(File("csv.ts")));
    ASSERT_EQ(csvTimes.size(), csvLines.size());
    EXPECT_EQ(csvTimes[0], "line,time_utc,monotonic_s,event");
    EXPECT_EQ(SplitLines(ReadAll(File("dat.ts"))).size(), datLines.size());
    double lastT = 0, lastMono = 0;
    std::string lastUtc;
    for (std::size_t i = 1; i < datLines.size(); ++i) {
        const auto d = SplitFields(datLines[i], '\t');
        const auto c = SplitFields(csvLines[i], ',');
        const auto t = SplitFields(csvTimes[i], ',');
        ASSERT_EQ(c.size(), 8u) << csvLines[i];
        ASSERT_EQ(t.size(), 4u) << csvTimes[i];
        EXPECT_EQ(std::vector<std::string>(c.begin() + 2, c.end()), d) << "line " << i + 1;
        EXPECT_EQ(t[0], std::to_string(i + 1));
        EXPECT_EQ(t[1], c[0]); // the same moment in both files
        EXPECT_TRUE(t[3].empty());
        ASSERT_EQ(c[0].size(), 27u) << c[0]; // 2026-12-10T16:30:00.123456Z
        EXPECT_EQ(c[0][10], 'T');
        EXPECT_EQ(c[0].back(), 'Z');
        EXPECT_GE(c[0], lastUtc);
        const double ts = std::stod(c[1]);
        const double mono = std::stod(t[2]);
        EXPECT_GE(ts, lastT);
        EXPECT_GE(mono, lastMono);
        lastUtc = c[0];
        lastT = ts;
        lastMono = mono;
    }
}
