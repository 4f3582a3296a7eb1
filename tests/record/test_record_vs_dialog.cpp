// One stream, two recorders: the dialog's record file and telvar-record's dat
// output are the same bytes.
#include "tests/app/TelvarFixture.h"

#include <csignal>

#include "RecordRun.h"
#include "tests/boxsim/BoxSimProcess.h"

using namespace std::chrono_literals;

namespace
{

std::size_t SentFrames(const std::string& path)
{
    return SplitLines(ReadAll(path)).size();
}

} // namespace

using RecordVsDialogTest = TelvarFixture;

TEST_F(RecordVsDialogTest, DatIsByteForByteTheDialogsRecordOfTheSameStream)
{
    // Resting encoders with seeded noise, stray delimiters and dropped bytes:
    // the same bytes in both runs, refused frames and counted turns included.
    const int frames = 3000;
    const std::vector<std::string> stream = {"--burst", "--frames", std::to_string(frames), "--start1", "359.95",
                                             "--start2", "0.02", "--noise", "0.002", "--insert-7e", "0.002",
                                             "--drop", "0.001", "--seed", "11"};

    // The dialog: channel 1 Gray code at 25 bits, clock " 2  M", "1 kHz".
    const std::string dialogSent = Home() + "/dialog-sent.log";
    BoxSimProcess dialogSim;
    std::vector<std::string> args = stream;
    args.insert(args.end(), {"--sent-log", dialogSent});
    ASSERT_TRUE(dialogSim.Start(args));
    ::setenv("TELVAR_COM1", dialogSim.DevicePath().c_str(), 1);
    Click(IDC_OPEN_PORT);
    ASSERT_EQ(Text(IDC_OPEN_PORT), "关闭串口");
    ASSERT_TRUE(PumpUntil([&] { return !writes.Snapshot().empty(); }));
    Choose(IDC_DATA_TYPE1, 1);
    Choose(IDC_BIT_WIDTH1, 1);
    Choose(IDC_CLOCK, 2);
    Choose(IDC_FREQUENCY, 0);
    StartAndSettle();
    ASSERT_TRUE(PumpUntil([&] { return SentFrames(dialogSent) >= static_cast<std::size_t>(frames); }, 120000));
    PumpFor(500);
    StopAndSettle();
    const std::string dialogRecord = ReadFileBytes(RecordPath());
    Click(IDC_OPEN_PORT);
    dialogSim.Stop(SIGTERM);

    // telvar-record with the same settings on a fresh simulator.
    const std::string toolSent = Home() + "/tool-sent.log";
    const std::string out = Home() + "/tool.dat";
    BoxSimProcess toolSim;
    args = stream;
    args.insert(args.end(), {"--sent-log", toolSent});
    ASSERT_TRUE(toolSim.Start(args));
    RecordRun run({"--device", toolSim.DevicePath(), "--type1", "gray", "--width1", "25", "--clock", "2M", "--rate",
                   "1kHz", "--output", out, "--quiet"},
                  Home(), Home() + "/stderr.txt");
    ASSERT_TRUE(WaitFor([&] { return SentFrames(toolSent) >= static_cast<std::size_t>(frames); }, 120s));
    std::size_t last = static_cast<std::size_t>(-1);
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::size_t now = DataLines(out);
            const bool settled = now == last;
            last = now;
            return settled;
        },
        60s));
    run.Signal(SIGINT);
    ASSERT_EQ(run.Wait(60s), 0) << run.Stderr();
    toolSim.Stop(SIGTERM);

    // The streams were the same, and so are the records.
    ASSERT_EQ(ReadAll(dialogSent), ReadAll(toolSent));
    const std::string toolRecord = ReadAll(out);
    EXPECT_GT(SplitLines(toolRecord).size(), 2500u);
    EXPECT_EQ(toolRecord.size(), dialogRecord.size());
    EXPECT_TRUE(toolRecord == dialogRecord) << "the records differ";
}
