// The tool against a bad line: noise, floods of 0x7E, truncated and overlong
// frames, a stream cut in the middle of a frame and a box that vanishes while
// acquiring. Whatever comes in, the dialog stays responsive, the record file
// holds only whole, well-formed lines, and a lost device is told once.
#include "E2eFixture.h"

#include <cctype>
#include <csignal>
#include <random>


namespace {

class LineFaults : public E2eFixture {};

// --- The simulator's line faults -------------------------------------------------

struct FaultCase {
    const char* name;
    std::vector<std::string> args;
    bool lossless; // every frame after the first survives the line
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class SimulatedFaults : public LineFaults, public ::testing::WithParamInterface<FaultCase> {};

constexpr int FAULT_FRAMES = 1500;

TEST_P(SimulatedFaults, OnlyWholeLinesOfRealFramesAreRecorded)
{
    const FaultCase& c = GetParam();
    std::vector<std::string> args = {"--rate", "1000", "--frames", std::to_string(FAULT_FRAMES), "--speed1", "200",
                                     "--speed2", "-70", "--seed", "11"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    OpenOnSimulator(args);
    StartAndSettle();
    ASSERT_EQ(Text(IDC_START), "停止");
    const std::size_t shownBefore = presenter.shown.size();

    // The box stops by itself after its frames; then the line is quiet.
    ASSERT_TRUE(PumpUntil([&] { return ReadSentWords(SentLog()).size() == FAULT_FRAMES; }, 15000));
    std::size_t lines = 0;
    for (int quiet = 0; quiet < 3;) {
        PumpFor(100);
        const std::size_t now = Record().lines.size();
        quiet = now == lines ? quiet + 1 : 0;
        lines = now;
    }
    const RecordCheck record = Record();
    ASSERT_TRUE(record.ok) << record.why;
    const auto sent = ReadSentWords(SentLog());
    std::printf("%s: %zu frames sent, %zu lines recorded\n", c.name, sent.size(), record.lines.size());
    ASSERT_FALSE(record.lines.empty());
    // The display shows the last frame decoded.
    EXPECT_EQ(Text(IDC_CODE1), record.lines.back()[1]);
    EXPECT_EQ(Text(IDC_CODE2), record.lines.back()[4]);
    if (c.lossless) {
        // After the collector is in step, every frame is there.
        // Finding the step may take a few frames when the delimiter is also data.
        std::string why;
        EXPECT_TRUE(InSentOrder(record.lines, sent, why)) << why;
        EXPECT_GE(record.lines.size(), sent.size() - 10);
    } else {
        // The collector finds its way back after every fault: most frames make it.
        EXPECT_GT(record.lines.size(), sent.size() / 3);
    }
    // Faults on the line are never the operator's business.
    EXPECT_TRUE(TextsSince(presenter, shownBefore).empty());

    Click(IDC_START); // stop; the question is answered No
    EXPECT_EQ(TextsSince(presenter, shownBefore), std::vector<std::string>{"是否保存历史数据"});
    EXPECT_TRUE(Record().ok);
}

INSTANTIATE_TEST_SUITE_P(
    Line, SimulatedFaults,
    ::testing::Values(FaultCase{"noise 2%", {"--noise", "0.02"}, false}, FaultCase{"drops 2%", {"--drop", "0.02"}, false},
                      FaultCase{"stray 0x7E before 20% of frames", {"--insert-7e", "0.2"}, false},
                      FaultCase{"0x7E inside every word", {"--force-7e"}, true},
                      FaultCase{"all faults at once",
                                {"--noise", "0.01", "--drop", "0.01", "--insert-7e", "0.1", "--force-7e"},
                                false}),
    [](const ::testing::TestParamInfo<FaultCase>& info) {
        std::string name;
        for (const char* p = info.param.name; *p; ++p)
            name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

// --- Crafted garbage, then clean frames -------------------------------------------

struct GarbageCase {
    const char* name;
    Bytes (*make)();
};
void PrintTo(const GarbageCase& c, std::ostream* os) { *os << c.name; }

Bytes Noise()
{
    std::mt19937 gen(20240611);
    Bytes b(64 * 1024);
    for (BYTE& x : b)
        x = static_cast<BYTE>(gen());
    return b;
}

Bytes Flood7E() { return Bytes(20000, 0x7E); }

Bytes Repeated(Bytes unit, int times)
{
    Bytes b;
    for (int i = 0; i < times; ++i)
        b.insert(b.end(), unit.begin(), unit.end());
    return b;
}

Bytes Truncated()
{
    Bytes f = Frame(0x00111111, 0x00222222);
    f.pop_back(); // nine bytes: no closing delimiter
    return Repeated(f, 300);
}

Bytes Overlong()
{
    Bytes f = Frame(0x00111111, 0x00222222);
    f.insert(f.begin() + 5, 0x33); // eleven bytes
    return Repeated(f, 300);
}

Bytes Mixed()
{
    // Delimiter pairs, half frames and frames of the wrong length, interleaved.
    Bytes b;
    const Bytes good = Frame(0x00010203, 0x00040506);
    for (int i = 0; i < 200; ++i) {
        b.insert(b.end(), {0x7E, 0x7E});
        b.insert(b.end(), good.begin(), good.begin() + 1 + i % 9);
        if (i % 3 == 0)
            b.insert(b.end(), good.begin(), good.end());
    }
    return b;
}

class CraftedGarbage : public LineFaults, public ::testing::WithParamInterface<GarbageCase> {};

TEST_P(CraftedGarbage, TheCollectorFindsTheFramesAgainAndEveryLineIsWhole)
{
    OpenPortOnPty();
    StartAndSettle();
    ASSERT_EQ(Text(IDC_START), "停止");
    const std::size_t shownBefore = presenter.shown.size();

    std::vector<DWORD> w1, w2;
    Bytes stream = GetParam().make();
    for (DWORD i = 0; i < 8; ++i) {
        w1.push_back(0x00123456 + i * 0x00010101);
        w2.push_back(0x02ABCDEF - i * 0x00020202);
        ASSERT_FALSE(HasDelimiterByte(w1.back()) || HasDelimiterByte(w2.back()));
        const Bytes f = Frame(w1.back(), w2.back());
        stream.insert(stream.end(), f.begin(), f.end());
    }
    const double cpuBefore = ProcessCpuSeconds();
    Feeder feeder(*box, stream);
    const std::string last1 = std::to_string(w1.back() & MASK26);
    const std::string last2 = std::to_string(w2.back() & MASK26);
    ASSERT_TRUE(PumpUntil([&] { return feeder.Done() && Text(IDC_CODE1) == last1; }, 15000))
        << GetParam().name << ": shows " << Text(IDC_CODE1);
    feeder.Join();
    std::printf("%s: %zu bytes handled in %.2f s of CPU\n", GetParam().name, stream.size(),
                ProcessCpuSeconds() - cpuBefore);
    EXPECT_EQ(Text(IDC_CODE2), last2);

    const RecordCheck record = CheckRecord(ReadFileBytes(RecordPath()));
    ASSERT_TRUE(record.ok) << record.why;
    // At most the first three clean frames go to finding the step again.
    ASSERT_GE(record.lines.size(), 5u);
    for (std::size_t k = 0; k < 5; ++k) {
        const RecordLine& line = record.lines[record.lines.size() - 5 + k];
        EXPECT_EQ(line[1], std::to_string(w1[3 + k] & MASK26));
        EXPECT_EQ(line[4], std::to_string(w2[3 + k] & MASK26));
    }
    EXPECT_TRUE(TextsSince(presenter, shownBefore).empty());
    EXPECT_EQ(Text(IDC_START), "停止");
}

INSTANTIATE_TEST_SUITE_P(Line, CraftedGarbage,
                         ::testing::Values(GarbageCase{"Noise64KiB", &Noise}, GarbageCase{"Flood7E", &Flood7E},
                                           GarbageCase{"TruncatedFrames", &Truncated},
                                           GarbageCase{"OverlongFrames", &Overlong}, GarbageCase{"Mixed", &Mixed}),
                         [](const ::testing::TestParamInfo<GarbageCase>& info) { return std::string(info.param.name); });

// --- The line goes away -------------------------------------------------------

TEST_F(LineFaults, AStreamCutInTheMiddleOfAFrameLeavesOnlyWholeLines)
{
    OpenPortOnPty();
    StartAndSettle();
    ASSERT_EQ(Text(IDC_START), "停止");
    std::vector<Bytes> frames;
    for (DWORD i = 0; i < 20; ++i)
        frames.push_back(Frame(0x00100000 + i * 0x1000, 0x00200000 + i * 0x1000));
    SendFrames(frames);
    // The first frame may go to finding the step.
    ASSERT_TRUE(PumpUntil([&] { return CheckRecord(ReadFileBytes(RecordPath())).lines.size() >= 19; }));
    PumpFor(50);
    const std::string whole = ReadFileBytes(RecordPath());
    // Half a frame, then the box is gone.
    const Bytes half = Frame(0x00AAAAAA, 0x00BBBBBB);
    box->Send(Bytes(half.begin(), half.begin() + 6));
    PumpFor(50);
    const std::size_t shownBefore = presenter.shown.size();
    box->Hangup();

    ExpectLostCleanly(shownBefore);
    const RecordCheck record = CheckRecord(ReadFileBytes(RecordPath()));
    ASSERT_TRUE(record.ok) << record.why;
    EXPECT_EQ(ReadFileBytes(RecordPath()), whole);
    EXPECT_EQ(record.lines.back()[1], std::to_string((0x00100000 + 19 * 0x1000) & MASK26));

    // Nothing is wedged: another device opens and runs at once.
    presenter.shown.clear();
    OpenPortOnPty();
    EXPECT_EQ(Text(IDC_PORT_STATUS), "串口1已打开");
    StartAndSettle();
    EXPECT_EQ(Text(IDC_START), "停止");
    EXPECT_TRUE(presenter.shown.empty());
}

struct KillCase {
    const char* name;
    bool response;
};
void PrintTo(const KillCase& c, std::ostream* os) { *os << c.name; }

class SimulatorKilled : public LineFaults, public ::testing::WithParamInterface<KillCase> {};

TEST_P(SimulatorKilled, WhileAcquiringTheRunEndsWithOneMessageAndTheFileWhole)
{
    const bool response = GetParam().response;
    OpenOnSimulator({"--rate", "1000", "--speed1", "300", "--speed2", "-40"});
    if (response) {
        dlg->CheckRadioButton(IDC_CONTINUOUS, IDC_RESPONSE, IDC_RESPONSE);
        dlg->SetDlgItemText(IDC_INTERVAL, "2");
    }
    StartAndSettle();
    ASSERT_EQ(Text(IDC_START), "停止");
    ASSERT_TRUE(PumpUntil([&] { return CheckRecord(ReadFileBytes(RecordPath())).lines.size() >= 200; }, 15000));

    const std::size_t shownBefore = presenter.shown.size();
    sim->Stop(SIGKILL); // the box loses power: wherever it was in a frame
    ExpectLostCleanly(shownBefore);
    EXPECT_FALSE(dlg->HasTimer(POLL_TIMER_ID));

    const std::string after = ReadFileBytes(RecordPath());
    const RecordCheck record = CheckRecord(after);
    ASSERT_TRUE(record.ok) << record.why;
    // The sent log may miss the frames of the last moment before the kill.
    std::vector<RecordLine> early(record.lines.begin(), record.lines.end() - std::min<std::size_t>(record.lines.size(), 50));
    std::string why;
    EXPECT_TRUE(InSentOrder(early, ReadSentWords(SentLog()), why)) << why;
    IdleFor(200);
    EXPECT_EQ(ReadFileBytes(RecordPath()), after);
}

INSTANTIATE_TEST_SUITE_P(Line, SimulatorKilled,
                         ::testing::Values(KillCase{"Continuous", false}, KillCase{"Response", true}),
                         [](const ::testing::TestParamInfo<KillCase>& info) { return std::string(info.param.name); });

// --- Two of the tool on one port --------------------------------------------------

TEST_F(LineFaults, ASecondInstanceOnTheSamePortIsToldItIsTaken)
{
    OpenOnSimulator({"--rate", "1000", "--speed1", "30"});
    auto second = std::make_unique<CTelvarDlg>();
    ASSERT_TRUE(second->Create());
    const std::size_t shownBefore = presenter.shown.size();
    auto click = [&](int id) { qobject_cast<QAbstractButton*>(second->GetDlgItem(id)->Widget())->click(); };
    click(IDC_OPEN_PORT);
    EXPECT_EQ(TextsSince(presenter, shownBefore), std::vector<std::string>{"没有发现串口1或被占用"});
    EXPECT_EQ(presenter.shown.back().type & MB_ICONMASK, MB_ICONERROR);
    EXPECT_EQ(second->GetDlgItemText(IDC_PORT_STATUS), "串口1打开失败");
    EXPECT_EQ(second->GetDlgItemText(IDC_OPEN_PORT), "打开串口");
    EXPECT_FALSE(second->GetDlgItem(IDC_START)->IsWindowEnabled());

    // The first keeps its port and its frames.
    StartAndSettle();
    ASSERT_TRUE(PumpUntil([&] { return CheckRecord(ReadFileBytes(RecordPath())).lines.size() >= 20; }));
    Click(IDC_START); // stop, answered No
    Click(IDC_OPEN_PORT);
    ASSERT_EQ(Text(IDC_PORT_STATUS), "串口1已关闭");

    // Once the first has let go, the second gets the port.
    presenter.shown.clear();
    bool opened = false;
    for (int attempt = 0; attempt < 20 && !opened; ++attempt) {
        PumpFor(50); // the first one's worker closes the device by itself
        click(IDC_OPEN_PORT);
        opened = second->GetDlgItemText(IDC_OPEN_PORT) == "关闭串口";
    }
    EXPECT_TRUE(opened) << ::testing::PrintToString(TextsSince(presenter, 0));
    EXPECT_EQ(second->GetDlgItemText(IDC_PORT_STATUS), "串口1已打开");
    second.reset();
}

} // namespace
