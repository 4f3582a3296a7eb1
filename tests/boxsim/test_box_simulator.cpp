// The box's behaviour without a device: commands, frames, streaming state, logs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>

#include "TempDir.h"
#include "measurement/SampleDecoder.h"
#include "tools/boxsim/BoxSimulator.h"
#include "tools/boxsim/LogFile.h"

using namespace boxsim;
using namespace std::chrono_literals;

namespace
{

void Send(BoxSimulator& sim, std::vector<std::uint8_t> bytes, SimTime at = 0ns)
{
    sim.Receive(bytes, at);
}

std::pair<std::uint32_t, std::uint32_t> WordsOf(const std::vector<std::uint8_t>& f, std::size_t at = 0)
{
    auto word = [&](std::size_t o) {
        return (std::uint32_t(f[at + o]) << 24) | (std::uint32_t(f[at + o + 1]) << 16) |
               (std::uint32_t(f[at + o + 2]) << 8) | f[at + o + 3];
    };
    return {word(1), word(5)};
}

TEST(BoxSimulator, WidthCommandsSetTheWidthsWithinRange)
{
    BoxSimulator sim(SimSettings{});
    EXPECT_EQ(sim.Width(1), 26);
    EXPECT_EQ(sim.Width(2), 26);
    Send(sim, {0x7A, 0x0A, 0x7A, 0x7B, 0x20, 0x7B});
    EXPECT_EQ(sim.Width(1), 10);
    EXPECT_EQ(sim.Width(2), 32);
    Send(sim, {0x7A, 0x09, 0x7A, 0x7B, 0x21, 0x7B}); // out of range: ignored
    EXPECT_EQ(sim.Width(1), 10);
    EXPECT_EQ(sim.Width(2), 32);
    EXPECT_EQ(sim.CommandsReceived(), 4u);
}

TEST(BoxSimulator, ClockAndFrequencyCodes)
{
    BoxSimulator sim(SimSettings{});
    EXPECT_EQ(sim.FrequencyCode(), 2);
    Send(sim, {0x7F, 0x07, 0x7F});
    EXPECT_EQ(sim.ClockCode(), 7);
    const std::pair<std::uint8_t, std::chrono::nanoseconds> table[] = {{1, 1ms}, {2, 10ms}, {3, 100ms}, {4, 1s}};
    for (const auto& [code, period] : table) {
        Send(sim, {0x7D, code, 0x7D});
        EXPECT_EQ(sim.FrequencyCode(), code);
        EXPECT_EQ(sim.FramePeriod(), period);
    }
    Send(sim, {0x7D, 0x05, 0x7D}); // no such frequency: ignored
    EXPECT_EQ(sim.FrequencyCode(), 4);
    Send(sim, {0x7F, 0x02, 0x7F, 0x7D, 0x02, 0x7D}); // the open-time command
    EXPECT_EQ(sim.ClockCode(), 2);
    EXPECT_EQ(sim.FramePeriod(), 10ms);
}

TEST(BoxSimulator, PollYieldsExactlyOneFrameOfThePositionNow)
{
    SimSettings s;
    s.channel[0] = {13, false, 0.0, 30.0};
    s.channel[1] = {26, true, 90.0, -12.0};
    BoxSimulator sim(s);
    Send(sim, {0x7E, 0x02, 0x7E}, 3s);
    const std::vector<std::uint8_t> out = sim.TakeOutput();
    ASSERT_EQ(out.size(), 10u);
    EXPECT_EQ(out.front(), 0x7E);
    EXPECT_EQ(out.back(), 0x7E);
    EXPECT_FALSE(sim.Streaming());
    EXPECT_EQ(sim.FramesSent(), 1u);
    const auto [w1, w2] = WordsOf(out);
    EXPECT_EQ(w1, EncoderModel::Quantise(90.0, 13));               // 0 + 30 * 3
    EXPECT_EQ(GrayToBinary(w2), EncoderModel::Quantise(54.0, 26)); // 90 - 12 * 3, Gray-coded
    EXPECT_TRUE(sim.TakeOutput().empty());
}

TEST(BoxSimulator, StartStreamsUntilStop)
{
    BoxSimulator sim(SimSettings{});
    const auto v0 = sim.ScheduleVersion();
    Send(sim, {0x7E, 0x01, 0x7E}, 5ms);
    EXPECT_TRUE(sim.Streaming());
    EXPECT_EQ(sim.StreamStart(), 5ms);
    const auto v1 = sim.ScheduleVersion();
    EXPECT_NE(v1, v0);
    EXPECT_TRUE(sim.TakeOutput().empty()) << "frames come from the schedule, not from the start itself";

    Send(sim, {0x7E, 0x01, 0x7E}, 7ms); // already streaming: the schedule stands
    EXPECT_EQ(sim.ScheduleVersion(), v1);
    EXPECT_EQ(sim.StreamStart(), 5ms);

    Send(sim, {0x7D, 0x03, 0x7D}, 9ms); // a new rate starts a new schedule
    EXPECT_NE(sim.ScheduleVersion(), v1);
    EXPECT_EQ(sim.StreamStart(), 9ms);
    EXPECT_EQ(sim.FramePeriod(), 100ms);

    sim.EmitStreamFrame(9ms);
    sim.EmitStreamFrame(109ms);
    EXPECT_EQ(sim.TakeOutput().size(), 20u);

    const auto v2 = sim.ScheduleVersion();
    Send(sim, {0x7E, 0x03, 0x7E}, 150ms);
    EXPECT_FALSE(sim.Streaming());
    EXPECT_NE(sim.ScheduleVersion(), v2);
    sim.EmitStreamFrame(209ms);
    EXPECT_TRUE(sim.TakeOutput().empty());
}

TEST(BoxSimulator, FrameLimitCountsFromEachStart)
{
    SimSettings s;
    s.frameLimit = 3;
    BoxSimulator sim(s);
    for (int round = 0; round < 2; ++round) {
        Send(sim, {0x7E, 0x01, 0x7E});
        for (int i = 0; i < 5; ++i)
            sim.EmitStreamFrame(SimTime(i * 1ms));
        EXPECT_FALSE(sim.Streaming());
        EXPECT_EQ(sim.TakeOutput().size(), 30u);
    }
    EXPECT_EQ(sim.FramesSent(), 6u);
}

TEST(BoxSimulator, BurstAndRateOverrideTheFrequency)
{
    SimSettings s;
    s.burst = true;
    EXPECT_EQ(BoxSimulator(s).FramePeriod(), 0ns);
    s.burst = false;
    s.rateHz = 250.0;
    BoxSimulator sim(s);
    Send(sim, {0x7D, 0x04, 0x7D});
    EXPECT_EQ(sim.FramePeriod(), 4ms);
}

TEST(BoxSimulator, WordsFollowTheCommandedWidth)
{
    SimSettings s;
    s.channel[0].startDeg = 359.99;
    s.channel[1].startDeg = 180.0;
    BoxSimulator sim(s);
    Send(sim, {0x7A, 0x0A, 0x7A, 0x7B, 0x20, 0x7B});
    const auto [w1, w2] = sim.WordsAt(0ns);
    EXPECT_EQ(w1, 0x3FFu);                            // 359.99 of 10 bits rounds to the mask
    EXPECT_EQ(w2, EncoderModel::Quantise(180.0, 32)); // 0x80000000
    EXPECT_EQ(w2, 0x80000000u);
}

// The tool's own decoder reads the words the box sent, and the angles the
// encoders are at.
TEST(BoxSimulator, ToolDecodesTheSimulatedFrames)
{
    struct NullSink : IFrameSink {
        void ShowGauges(const MeasureState&) override {}
        void AppendRecord(MeasureState&) override {}
        void ShowLabels(const MeasureState&) override {}
    } sink;
    for (bool force7e : {false, true}) {
        SimSettings s;
        s.channel[0] = {13, true, 10.0, 30.0};
        s.channel[1] = {32, false, 300.0, -12.0};
        s.force7e = force7e;
        BoxSimulator sim(s);
        Send(sim, {0x7A, 13, 0x7A, 0x7B, 32, 0x7B, 0x7E, 0x01, 0x7E});
        MeasureState state;
        state.m_nBitWidth1 = 13;
        state.m_nBitWidth2 = 32;
        state.m_nDataType1 = 1;
        int decoded = 0;
        for (int i = 0; i < 200; ++i) {
            const SimTime t = SimTime(i * 10ms);
            sim.EmitStreamFrame(t);
            bool accepted = false;
            for (std::uint8_t b : sim.TakeOutput())
                accepted = HandleReceivedByte(state, 0, b, 1, sink) || accepted;
            if (!accepted)
                continue;
            ++decoded;
            const auto [w1, w2] = sim.WordsAt(t);
            ASSERT_EQ(state.m_dwCode1, GrayToBinary(w1)) << i;
            ASSERT_EQ(state.m_dwCode2, w2) << i;
            if (!force7e) {
                EXPECT_NEAR(state.m_dAngle1, EncoderModel(10.0, 30.0).AngleAt(t), 360.0 / 8191) << i;
                EXPECT_NEAR(state.m_dAngle2, EncoderModel(300.0, -12.0).AngleAt(t), 1e-6) << i;
            }
        }
        // The collector needs a frame or two to find the boundary; 0x7E in the data
        // may cost it a few more, never the boundary itself.
        EXPECT_GE(decoded, 195) << force7e;
    }
}

TEST(BoxSimulator, CommandLogHasTimesBytesGarbageAndIgnored)
{
    TempDir dir;
    std::string error;
    {
        LogFile log;
        ASSERT_TRUE(log.Open(dir.File("cmd.log"), true, error)) << error;
        BoxSimulator sim(SimSettings{}, &log);
        Send(sim, {0x7A, 0x1A, 0x7A}, 123456us);
        Send(sim, {0x55, 0x7E, 0x02, 0x7E}, 123999us);
        Send(sim, {0x7D, 0x09, 0x7D}, 2s);
        Send(sim, {0x7B}, 3s);
        // Flushed per line: readable while the simulator runs.
        EXPECT_EQ(ReadLines(dir.File("cmd.log")).size(), 4u);
        sim.FlushPartial(3100ms);
    }
    const std::vector<std::string> expected = {"123456 7A 1A 7A", "123999 ? 55", "123999 7E 02 7E",
                                               "2000000 7D 09 7D ignored", "3100000 ? 7B"};
    EXPECT_EQ(ReadLines(dir.File("cmd.log")), expected);
}

TEST(BoxSimulator, SentLogMatchesTheBytesSent)
{
    TempDir dir;
    std::string error;
    SimSettings s;
    s.channel[0] = {26, false, 0.0, 30.0};
    s.channel[1] = {26, true, 0.0, -12.0};
    s.faults = {0.02, 0.02, 0.2, 99};
    std::vector<std::uint8_t> sent;
    {
        LogFile log;
        ASSERT_TRUE(log.Open(dir.File("sent.log"), false, error)) << error;
        BoxSimulator sim(s, nullptr, &log);
        Send(sim, {0x7E, 0x01, 0x7E});
        for (int i = 0; i < 500; ++i)
            sim.EmitStreamFrame(SimTime(i * 1ms));
        sent = sim.TakeOutput();
    }
    const std::vector<std::string> lines = ReadLines(dir.File("sent.log"));
    ASSERT_EQ(lines.size(), 500u);
    // Rebuild the byte stream from the log alone.
    std::vector<std::uint8_t> rebuilt;
    std::vector<std::size_t> noisy;
    int faulty = 0;
    for (const std::string& line : lines) {
        const auto tokens = Split(line);
        ASSERT_GE(tokens.size(), 2u) << line;
        const Frame f = EncodeFrame(std::stoul(tokens[0], nullptr, 16), std::stoul(tokens[1], nullptr, 16));
        std::vector<bool> drop(10, false), noise(10, false);
        bool stray = false;
        for (std::size_t k = 2; k < tokens.size(); ++k) {
            if (tokens[k] == "stray7e")
                stray = true;
            else if (tokens[k].rfind("drop@", 0) == 0)
                drop[std::stoi(tokens[k].substr(5))] = true;
            else if (tokens[k].rfind("noise@", 0) == 0)
                noise[std::stoi(tokens[k].substr(6))] = true;
            else
                ADD_FAILURE() << "unknown token " << tokens[k];
        }
        faulty += tokens.size() > 2 ? 1 : 0;
        if (stray)
            rebuilt.push_back(0x7E);
        for (int i = 0; i < 10; ++i) {
            if (drop[i])
                continue;
            if (noise[i])
                noisy.push_back(rebuilt.size());
            rebuilt.push_back(f[i]);
        }
    }
    EXPECT_GT(faulty, 50);
    ASSERT_EQ(rebuilt.size(), sent.size());
    for (std::size_t i : noisy) {
        EXPECT_NE(sent[i], rebuilt[i]);
        rebuilt[i] = sent[i];
    }
    EXPECT_EQ(rebuilt, sent);
}

} // namespace
