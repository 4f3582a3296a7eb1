// The pieces of telvar-record: its options, names, device names and times,
// and the start sequence it shares with the dialog.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <vector>

#include "measurement/StartSequence.h"
#include "tools/record/RecordOptions.h"
#include "tools/record/RecordOutput.h"
#include "tools/record/StableDevice.h"

using namespace record;

namespace
{

ParseResult Parse(std::vector<std::string> args, RecordOptions& o, std::string& error)
{
    args.insert(args.begin(), "telvar-record");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    return ParseRecordOptions(static_cast<int>(args.size()), argv.data(), o, error);
}

} // namespace

TEST(RecordOptionsTest, LeftOutSettingsAreTheDialogsStartUpValues)
{
    RecordOptions o;
    std::string error;
    ASSERT_EQ(Parse({}, o, error), ParseResult::Run) << error;
    EXPECT_EQ(o.port, 1);
    EXPECT_EQ(o.dataType1, 0);
    EXPECT_EQ(o.dataType2, 0);
    EXPECT_EQ(o.bitWidth1, 26);
    EXPECT_EQ(o.bitWidth2, 26);
    EXPECT_EQ(o.clockIndex, 1); // "0.5 M"
    EXPECT_TRUE(o.continuous);
    EXPECT_EQ(o.rateIndex, 1); // "100Hz"
    EXPECT_EQ(o.format, OutputFormat::Dat);
    EXPECT_FALSE(o.reconnect);
}

TEST(RecordOptionsTest, ValuesMapToTheDialogsItems)
{
    struct Case {
        std::vector<std::string> args;
        int clock, rate, width1, width2, type1, type2;
        bool continuous;
    };
    const std::vector<Case> cases = {
        {{"--clock", "0.2M", "--rate", "1kHz"}, 0, 0, 26, 26, 0, 0, true},
        {{"--clock", " 2  M", "--rate", "10 Hz"}, 2, 2, 26, 26, 0, 0, true},
        {{"--clock", "5m", "--rate", "1  Hz", "--width1", "10", "--width2", "32"}, 3, 3, 10, 32, 0, 0, true},
        {{"--clock", "10M", "--type1", "gray", "--type2", "Gray"}, 4, 1, 26, 26, 1, 1, true},
        {{"--mode", "response", "--interval", "1", "--width1", "13"}, 1, 1, 13, 26, 0, 0, false},
        {{"--mode", "response", "--interval", "2000"}, 1, 1, 26, 26, 0, 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        RecordOptions o;
        std::string error;
        ASSERT_EQ(Parse(c.args, o, error), ParseResult::Run) << error;
        EXPECT_EQ(o.clockIndex, c.clock);
        EXPECT_EQ(o.rateIndex, c.rate);
        EXPECT_EQ(o.bitWidth1, c.width1);
        EXPECT_EQ(o.bitWidth2, c.width2);
        EXPECT_EQ(o.dataType1, c.type1);
        EXPECT_EQ(o.dataType2, c.type2);
        EXPECT_EQ(o.continuous, c.continuous);
    }
}

TEST(RecordOptionsTest, HelpAndVersion)
{
    RecordOptions o;
    std::string error;
    EXPECT_EQ(Parse({"--help"}, o, error), ParseResult::Help);
    EXPECT_EQ(Parse({"--version"}, o, error), ParseResult::Version);
    EXPECT_NE(RecordUsage().find("--timestamps"), std::string::npos);
}

TEST(RecordOutputTest, DefaultNameCarriesTheLocalTime)
{
    const std::string dat = DefaultOutputName(0, OutputFormat::Dat);
    const std::string csv = DefaultOutputName(0, OutputFormat::Csv);
    EXPECT_EQ(dat.size(), std::string("Telvar-Record-19700101-000000.dat").size());
    EXPECT_EQ(dat.rfind("Telvar-Record-19", 0), 0u);
    EXPECT_EQ(dat.substr(dat.size() - 4), ".dat");
    EXPECT_EQ(csv.substr(csv.size() - 4), ".csv");
}

TEST(RecordOutputTest, UtcTimesHaveMicroseconds)
{
    using namespace std::chrono;
    const system_clock::time_point t{microseconds(1796913000123456LL)};
    EXPECT_EQ(IsoUtc(t), "2026-12-10T14:30:00.123456Z");
    EXPECT_EQ(IsoUtc(t + microseconds(1)), "2026-12-10T14:30:00.123457Z");
    EXPECT_EQ(IsoUtc(system_clock::time_point{}), "1970-01-01T00:00:00.000000Z");
}

TEST(StableDeviceTest, ALinkInTheByIdFolderNamesTheDevice)
{
    namespace fs = std::filesystem;
    char tmpl[] = "/tmp/telvar-byid-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const fs::path root = tmpl;
    fs::create_directories(root / "dev" / "serial" / "by-id");
    std::ofstream(root / "dev" / "ttyUSB0").put('x');
    std::ofstream(root / "dev" / "ttyUSB1").put('x');
    fs::create_symlink("../../ttyUSB1", root / "dev" / "serial" / "by-id" / "usb-FTDI_FT232R_A1-if00-port0");
    const std::string byId = (root / "dev" / "serial" / "by-id").string();

    EXPECT_EQ(StableDevicePath((root / "dev" / "ttyUSB1").string(), byId),
              byId + "/usb-FTDI_FT232R_A1-if00-port0");
    // A stable name already, no link for it, or no such folder: the path as given.
    EXPECT_EQ(StableDevicePath(byId + "/usb-FTDI_FT232R_A1-if00-port0", byId), byId + "/usb-FTDI_FT232R_A1-if00-port0");
    EXPECT_EQ(StableDevicePath((root / "dev" / "ttyUSB0").string(), byId), (root / "dev" / "ttyUSB0").string());
    EXPECT_EQ(StableDevicePath((root / "dev" / "ttyUSB1").string(), (root / "none").string()),
              (root / "dev" / "ttyUSB1").string());
    // Gone: nothing to compare with.
    EXPECT_EQ(StableDevicePath((root / "dev" / "ttyUSB7").string(), byId), (root / "dev" / "ttyUSB7").string());
    fs::remove_all(root);
}

TEST(StartSequenceTest, CommandsInOrderWithTheirPauses)
{
    using Clock = std::chrono::steady_clock;
    struct Sent {
        std::vector<BYTE> bytes;
        Clock::time_point at;
    };
    for (const bool continuous : {true, false}) {
        SCOPED_TRACE(continuous ? "continuous" : "response");
        std::vector<Sent> sent;
        SendStartSequence(MakeStartCommands(13, 32, 0, 3, continuous), [&](const BYTE* b, int n) {
            sent.push_back({std::vector<BYTE>(b, b + n), Clock::now()});
        });
        std::vector<std::vector<BYTE>> expected = {{0x7A, 13, 0x7A}, {0x7B, 32, 0x7B}, {0x7F, 0x07, 0x7F}};
        if (continuous) {
            expected.push_back({0x7D, 0x04, 0x7D});
            expected.push_back({0x7E, 0x01, 0x7E});
        }
        ASSERT_EQ(sent.size(), expected.size());
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_EQ(sent[i].bytes, expected[i]) << i;
            if (i > 0) {
                EXPECT_GE(sent[i].at - sent[i - 1].at, START_COMMAND_PAUSE) << i;
            }
        }
    }
    // No selection: nothing for that setting, the pauses kept.
    std::vector<std::vector<BYTE>> sent;
    SendStartSequence(MakeStartCommands(26, 26, -1, 7, true),
                      [&](const BYTE* b, int n) { sent.emplace_back(b, b + n); });
    EXPECT_EQ(sent, (std::vector<std::vector<BYTE>>{{0x7A, 26, 0x7A}, {0x7B, 26, 0x7B}, {0x7E, 0x01, 0x7E}}));
}
