// The command line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/boxsim/Options.h"

using namespace boxsim;

namespace
{

ParseResult Parse(std::vector<std::string> args, Options& o, std::string& error)
{
    args.insert(args.begin(), "telvar-boxsim");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return ParseOptions(static_cast<int>(args.size()), argv.data(), o, error);
}

TEST(Options, DefaultsAreAnIdleBinaryBox)
{
    Options o;
    std::string error;
    ASSERT_EQ(Parse({}, o, error), ParseResult::Run);
    EXPECT_EQ(o.sim.channel[0].width, 26);
    EXPECT_FALSE(o.sim.channel[1].gray);
    EXPECT_EQ(o.sim.channel[0].speedDegPerS, 0.0);
    EXPECT_FALSE(o.sim.burst);
    EXPECT_EQ(o.sim.frameLimit, 0u);
    EXPECT_FALSE(o.sim.faults.Any());
    EXPECT_TRUE(o.linkPath.empty());
}

TEST(Options, EveryOptionIsTaken)
{
    Options o;
    std::string error;
    ASSERT_EQ(Parse({"--link",
                     "/tmp/x",
                     "--speed1",
                     "30",
                     "--speed2",
                     "-12.5",
                     "--start1",
                     "10",
                     "--start2=350",
                     "--width1",
                     "13",
                     "--width2",
                     "32",
                     "--gray1",
                     "--gray2",
                     "--burst",
                     "--frames",
                     "500",
                     "--noise",
                     "0.01",
                     "--drop",
                     "0.02",
                     "--insert-7e",
                     "0.5",
                     "--seed",
                     "77",
                     "--force-7e",
                     "--log",
                     "c.log",
                     "--sent-log",
                     "s.log",
                     "--exit-on-stdin-eof",
                     "--exit-on-close"},
                    o, error),
              ParseResult::Run)
        << error;
    EXPECT_EQ(o.linkPath, "/tmp/x");
    EXPECT_EQ(o.sim.channel[0].speedDegPerS, 30.0);
    EXPECT_EQ(o.sim.channel[1].speedDegPerS, -12.5);
    EXPECT_EQ(o.sim.channel[0].startDeg, 10.0);
    EXPECT_EQ(o.sim.channel[1].startDeg, 350.0);
    EXPECT_EQ(o.sim.channel[0].width, 13);
    EXPECT_EQ(o.sim.channel[1].width, 32);
    EXPECT_TRUE(o.sim.channel[0].gray);
    EXPECT_TRUE(o.sim.channel[1].gray);
    EXPECT_TRUE(o.sim.burst);
    EXPECT_EQ(o.sim.frameLimit, 500u);
    EXPECT_EQ(o.sim.faults.noise, 0.01);
    EXPECT_EQ(o.sim.faults.drop, 0.02);
    EXPECT_EQ(o.sim.faults.insert7e, 0.5);
    EXPECT_EQ(o.sim.faults.seed, 77u);
    EXPECT_TRUE(o.sim.force7e);
    EXPECT_EQ(o.commandLogPath, "c.log");
    EXPECT_EQ(o.sentLogPath, "s.log");
    EXPECT_TRUE(o.exitOnStdinEof);
    EXPECT_TRUE(o.exitOnClose);

    ASSERT_EQ(Parse({"--rate", "2500"}, o, error), ParseResult::Run) << error;
    EXPECT_EQ(o.sim.rateHz, 2500.0);
    EXPECT_FALSE(o.sim.burst) << "a second parse starts from the defaults";
}

TEST(Options, HelpAndErrors)
{
    Options o;
    std::string error;
    EXPECT_EQ(Parse({"--help"}, o, error), ParseResult::Help);
    EXPECT_EQ(Parse({"-h"}, o, error), ParseResult::Help);
    const std::vector<std::vector<std::string>> bad = {
        {"--speed1", "fast"},
        {"--speed1", "1e999"},
        {"--width1", "9"},
        {"--width2", "33"},
        {"--noise", "1.5"},
        {"--drop", "-0.1"},
        {"--frames", "0"},
        {"--frames", "-3"},
        {"--rate", "0"},
        {"--burst", "--rate", "100"},
        {"--seed", "x"},
        {"--bogus"},
        {"--link"},
        {"--link", ""},
        {"stray"},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_EQ(Parse(args, o, error), ParseResult::Error) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
}

TEST(Options, UsageNamesEveryOption)
{
    const std::string usage = UsageText();
    for (const char* name : {"--link",          "--speed1",   "--speed2", "--start1",   "--start2",
                             "--width1",        "--width2",   "--gray1",  "--gray2",    "--burst",
                             "--rate",          "--frames",   "--noise",  "--drop",     "--insert-7e",
                             "--seed",          "--force-7e", "--log",    "--sent-log", "--exit-on-stdin-eof",
                             "--exit-on-close", "--help"})
        EXPECT_NE(usage.find(name), std::string::npos) << name;
}

} // namespace
