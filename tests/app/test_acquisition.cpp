// Acquisition control: the commands of start, stop and polling on the line,
// the checks of the typed numbers, channel settings and zero points.
#include "TelvarFixture.h"

#include <sys/stat.h>

#include "measurement/RecordFile.h"

namespace {


std::vector<Bytes> BytesOf(const std::vector<WriteLog::Write>& writes)
{
    std::vector<Bytes> out;
    for (const auto& w : writes)
        out.push_back(w.bytes);
    return out;
}

// Answers like the scripted presenter; when the save question comes, first
// looks whether the stop command has reached the line.
class StopWatchingPresenter : public ScriptedPresenter {
public:
    explicit StopWatchingPresenter(WriteLog& log) : m_log(log) {}
    bool stopOnLineAtQuestion = false;
    int ShowMessage(QWidget* owner, const MessageBoxRequest& request) override
    {
        if (request.text == "是否保存历史数据") {
            const auto deadline = Clock::now() + std::chrono::seconds(2);
            while (!stopOnLineAtQuestion && Clock::now() < deadline) {
                for (const auto& w : m_log.Snapshot())
                    if (w.bytes == Bytes{0x7E, 0x03, 0x7E})
                        stopOnLineAtQuestion = true;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        return ScriptedPresenter::ShowMessage(owner, request);
    }

private:
    WriteLog& m_log;
};

} // namespace

using AcquisitionTest = TelvarFixture;

TEST_F(AcquisitionTest, ContinuousStartSendsFiveCommandsInOrderAtLeast2msApart)
{
    OpenPortOnPty();
    Choose(IDC_CLOCK, 4);     // 10  M -> 7F 05 7F
    Choose(IDC_FREQUENCY, 0); // 1 kHz -> 7D 01 7D
    Click(IDC_START);
    ASSERT_TRUE(PumpUntil([&] { return writes.Snapshot().size() >= 5; }));
    PumpFor(30);
    const auto w = writes.Snapshot();
    EXPECT_EQ(BytesOf(w), (std::vector<Bytes>{{0x7A, 26, 0x7A}, {0x7B, 26, 0x7B}, {0x7F, 0x05, 0x7F},
                                              {0x7D, 0x01, 0x7D}, {0x7E, 0x01, 0x7E}}));
    for (std::size_t i = 1; i < w.size(); ++i)
        EXPECT_GE(w[i].begin - w[i - 1].end, std::chrono::milliseconds(2)) << i;
    EXPECT_EQ(Text(IDC_START), "停止");
    EXPECT_EQ(ReadFileBytes(RecordPath()), RecordHeaderBytes());

    // Acquiring: only the start/stop and zero buttons and exit are live.
    for (int id : {IDC_INTERVAL, IDC_CONTINUOUS, IDC_RESPONSE, IDC_OPEN_PORT, IDC_BIT_WIDTH1, IDC_BIT_WIDTH2,
                   IDC_DATA_TYPE1, IDC_DATA_TYPE2, IDC_CLOCK, IDC_FREQUENCY, IDC_OTHER_BITS1, IDC_OTHER_BITS2,
                   IDC_OTHER_BITS_EDIT1, IDC_OTHER_BITS_EDIT2})
        EXPECT_FALSE(Enabled(id)) << id;
    for (int id : {IDC_START, IDC_ZERO1, IDC_ZERO2, IDC_EXIT})
        EXPECT_TRUE(Enabled(id)) << id;
}

TEST_F(AcquisitionTest, ContinuousStopSendsStopBeforeTheQuestion)
{
    StopWatchingPresenter watching(writes);
    SetMessagePresenter(&watching);
    OpenPortOnPty();
    StartAndSettle();
    writes.Clear();
    watching.answers = {IDNO};
    Click(IDC_START);
    EXPECT_TRUE(watching.stopOnLineAtQuestion);
    ASSERT_FALSE(watching.shown.empty());
    EXPECT_EQ(watching.shown.back().text, "是否保存历史数据");
    EXPECT_EQ(watching.shown.back().type, MB_YESNO);
    PumpFor(30);
    EXPECT_EQ(BytesOf(writes.Snapshot()), (std::vector<Bytes>{{0x7E, 0x03, 0x7E}}));
    // Ready again.
    EXPECT_EQ(Text(IDC_START), "开始");
    for (int id : {IDC_CONTINUOUS, IDC_RESPONSE, IDC_OPEN_PORT, IDC_BIT_WIDTH1, IDC_BIT_WIDTH2, IDC_DATA_TYPE1,
                   IDC_DATA_TYPE2, IDC_CLOCK, IDC_FREQUENCY, IDC_OTHER_BITS1, IDC_OTHER_BITS2})
        EXPECT_TRUE(Enabled(id)) << id;
    for (int id : {IDC_INTERVAL, IDC_ZERO1, IDC_ZERO2, IDC_OTHER_BITS_EDIT1, IDC_OTHER_BITS_EDIT2})
        EXPECT_FALSE(Enabled(id)) << id;
    SetMessagePresenter(&presenter);
}

TEST_F(AcquisitionTest, ResponseModePollsOneIntervalApartAndItsStopSendsNothing)
{
    OpenPortOnPty();
    Click(IDC_RESPONSE);
    EXPECT_TRUE(Enabled(IDC_INTERVAL));
    dlg->SetDlgItemText(IDC_INTERVAL, "100");
    const auto started = Clock::now();
    Click(IDC_START);
    ASSERT_EQ(Text(IDC_START), "停止");
    EXPECT_EQ(dlg->TimerInterval(POLL_TIMER_ID), 100);
    ASSERT_TRUE(PumpUntil([&] { return writes.Snapshot().size() >= 3 + 4; }));
    const auto w = writes.Snapshot();
    EXPECT_EQ(BytesOf({w.begin(), w.begin() + 3}),
              (std::vector<Bytes>{{0x7A, 26, 0x7A}, {0x7B, 26, 0x7B}, {0x7F, 0x06, 0x7F}}));
    for (std::size_t i = 3; i < w.size(); ++i)
        EXPECT_EQ(w[i].bytes, (Bytes{0x7E, 0x02, 0x7E})) << i;
    // No poll at the start itself: the first comes one interval later.
    EXPECT_GE(w[3].begin - started, std::chrono::milliseconds(90));
    // One interval apart on average; a late poll is not made up for by two.
    const auto span = std::chrono::duration_cast<std::chrono::milliseconds>(w.back().begin - w[3].begin);
    const double mean = double(span.count()) / double(w.size() - 4);
    EXPECT_GE(mean, 80.0);
    EXPECT_LE(mean, 200.0);
    for (std::size_t i = 4; i < w.size(); ++i)
        EXPECT_GE(w[i].begin - w[i - 1].begin, std::chrono::milliseconds(30)) << i;

    presenter.answers = {IDNO};
    Click(IDC_START);
    EXPECT_FALSE(dlg->HasTimer(POLL_TIMER_ID));
    PumpFor(20);
    writes.Clear();
    PumpFor(250);
    EXPECT_TRUE(writes.Snapshot().empty());
    EXPECT_TRUE(Enabled(IDC_INTERVAL)); // response mode: the interval is offered again
}

TEST_F(AcquisitionTest, OtherWidthsGoOutAsNumbers)
{
    OpenPortOnPty();
    Click(IDC_OTHER_BITS1);
    Click(IDC_OTHER_BITS2);
    EXPECT_FALSE(Enabled(IDC_BIT_WIDTH1));
    EXPECT_TRUE(Enabled(IDC_OTHER_BITS_EDIT1));
    dlg->SetDlgItemText(IDC_OTHER_BITS_EDIT1, "10");
    dlg->SetDlgItemText(IDC_OTHER_BITS_EDIT2, "32");
    StartAndSettle();
    const auto w = BytesOf(writes.Snapshot());
    ASSERT_GE(w.size(), 2u);
    EXPECT_EQ(w[0], (Bytes{0x7A, 0x0A, 0x7A}));
    EXPECT_EQ(w[1], (Bytes{0x7B, 0x20, 0x7B}));
    EXPECT_EQ(dlg->State().m_nBitWidth1, 10);
    EXPECT_EQ(dlg->State().m_nBitWidth2, 32);
    EXPECT_EQ(dlg->State().m_strOtherBits1, "10");

    // After the stop the edits are offered again, the combos not; unchecking
    // brings the combo back but the typed width stays until the combo changes.
    StopAndSettle();
    EXPECT_TRUE(Enabled(IDC_OTHER_BITS_EDIT1));
    EXPECT_FALSE(Enabled(IDC_BIT_WIDTH1));
    Click(IDC_OTHER_BITS1);
    EXPECT_TRUE(Enabled(IDC_BIT_WIDTH1));
    EXPECT_FALSE(Enabled(IDC_OTHER_BITS_EDIT1));
    EXPECT_EQ(dlg->State().m_nBitWidth1, 10);
    StartAndSettle();
    EXPECT_EQ(BytesOf(writes.Snapshot())[0], (Bytes{0x7A, 0x0A, 0x7A}));
    StopAndSettle();
    Choose(IDC_BIT_WIDTH1, 3);
    EXPECT_EQ(dlg->State().m_nBitWidth1, 32);
}

TEST_F(AcquisitionTest, TypedNumbersAreCheckedBeforeAnythingStarts)
{
    const char* width1Msg = "传感器位宽限制10-32Bit,通道1设置超限";
    const char* width2Msg = "传感器位宽限制10-32Bit,通道2设置超限";
    const char* intervalMsg = "定时间隔为1-2000ms";
    struct Case {
        const char* other1; // null: unchecked
        const char* other2;
        const char* interval; // null: continuous mode
        const char* message;  // null: the start succeeds
        std::size_t commands; // commands that went out
        int timer;            // poll interval in force afterwards, -1 none
    } cases[] = {
        {"", nullptr, nullptr, width1Msg, 0, -1},
        {"9", nullptr, nullptr, width1Msg, 0, -1},
        {"33", nullptr, nullptr, width1Msg, 0, -1},
        {"99999999999", nullptr, nullptr, width1Msg, 0, -1},
        {"10", nullptr, nullptr, nullptr, 5, -1},
        {"32", nullptr, nullptr, nullptr, 5, -1},
        {"9", "33", nullptr, width1Msg, 0, -1},
        {"12", "40", nullptr, width2Msg, 0, -1},
        {nullptr, "", nullptr, width2Msg, 0, -1},
        {nullptr, nullptr, "0", intervalMsg, 3, -1},
        {nullptr, nullptr, "2001", intervalMsg, 3, -1},
        {nullptr, nullptr, "abc", intervalMsg, 3, -1},
        {nullptr, nullptr, "-5", intervalMsg, 3, -1},
        {nullptr, nullptr, "1", nullptr, 3, 1},
        {nullptr, nullptr, "2000", nullptr, 3, 2000},
        {nullptr, nullptr, " 25", nullptr, 3, 25},
        {nullptr, nullptr, "25ms", nullptr, 3, 25},
    };
    OpenPortOnPty();
    for (const Case& c : cases) {
        const std::string name = std::string(c.other1 ? c.other1 : "-") + "/" + (c.other2 ? c.other2 : "-") + "/"
                                 + (c.interval ? c.interval : "-");
        dlg->CheckDlgButton(IDC_OTHER_BITS1, c.other1 ? BST_CHECKED : BST_UNCHECKED);
        dlg->CheckDlgButton(IDC_OTHER_BITS2, c.other2 ? BST_CHECKED : BST_UNCHECKED);
        dlg->SetDlgItemText(IDC_OTHER_BITS_EDIT1, c.other1 ? c.other1 : "");
        dlg->SetDlgItemText(IDC_OTHER_BITS_EDIT2, c.other2 ? c.other2 : "");
        dlg->CheckRadioButton(IDC_CONTINUOUS, IDC_RESPONSE, c.interval ? IDC_RESPONSE : IDC_CONTINUOUS);
        dlg->SetDlgItemText(IDC_INTERVAL, c.interval ? c.interval : "");
        dlg->KillTimer(POLL_TIMER_ID);
        Choose(IDC_BIT_WIDTH1, 2);
        Choose(IDC_BIT_WIDTH2, 2);
        PumpFor(20);
        writes.Clear();
        presenter.shown.clear();
        ::unlink(RecordPath().c_str());

        Click(IDC_START);
        PumpFor(40);
        std::size_t commands = 0; // polls aside
        for (const auto& w : writes.Snapshot())
            commands += w.bytes != Bytes{0x7E, 0x02, 0x7E};
        EXPECT_EQ(commands, c.commands) << name;
        EXPECT_EQ(dlg->TimerInterval(POLL_TIMER_ID), c.timer) << name;
        if (c.message) {
            ASSERT_EQ(presenter.shown.size(), 1u) << name;
            EXPECT_EQ(presenter.shown[0].text, c.message) << name;
            EXPECT_EQ(presenter.shown[0].type & MB_ICONMASK, MB_ICONERROR) << name;
            EXPECT_EQ(Text(IDC_START), "开始") << name;
            EXPECT_FALSE(dlg->State().m_bRecording) << name;
            EXPECT_FALSE(FileExists(RecordPath())) << name;
        } else {
            EXPECT_TRUE(presenter.shown.empty()) << name;
            EXPECT_EQ(Text(IDC_START), "停止") << name;
            EXPECT_TRUE(dlg->State().m_bRecording) << name;
            StopAndSettle();
        }
        if (std::string(c.other1 ? c.other1 : "") == "12") {
            EXPECT_EQ(dlg->State().m_nBitWidth1, 12) << "channel 1's width stays in force";
        }
    }
}

TEST_F(AcquisitionTest, RecordFileThatCannotBeCreatedLeavesTheStartUndone)
{
    OpenPortOnPty();
    ASSERT_EQ(::mkdir(RecordPath().c_str(), 0700), 0); // a directory where the file should be
    Click(IDC_START);
    PumpFor(40);
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].text, "创建文件失败.");
    EXPECT_EQ(presenter.shown[0].type, MB_OK);
    // The box has been told to stream, but nothing is recorded.
    EXPECT_EQ(writes.Snapshot().size(), 5u);
    EXPECT_EQ(Text(IDC_START), "开始");
    EXPECT_FALSE(dlg->State().m_bRecording);
    EXPECT_TRUE(Enabled(IDC_OPEN_PORT));
    EXPECT_FALSE(Enabled(IDC_ZERO1));
}

TEST_F(AcquisitionTest, ModeRadiosAndSelections)
{
    OpenPortOnPty();
    Click(IDC_RESPONSE);
    EXPECT_TRUE(Enabled(IDC_INTERVAL));
    Click(IDC_CONTINUOUS);
    EXPECT_FALSE(Enabled(IDC_INTERVAL));
    const int widths[] = {13, 25, 26, 32};
    for (int i = 0; i < 4; ++i) {
        Choose(IDC_BIT_WIDTH2, i);
        EXPECT_EQ(dlg->State().m_nBitWidth2, widths[i]);
    }
    Choose(IDC_DATA_TYPE2, 1);
    EXPECT_EQ(dlg->State().m_nDataType2, 1);
    Choose(IDC_DATA_TYPE2, 0);
    EXPECT_EQ(dlg->State().m_nDataType2, 0);
    // No selection changes nothing.
    ComboSetCurSel(ComboOf(IDC_DATA_TYPE1), 1);
    dlg->OnCbnSelchangeDataType1();
    ComboSetCurSel(ComboOf(IDC_DATA_TYPE1), -1);
    dlg->OnCbnSelchangeDataType1();
    EXPECT_EQ(dlg->State().m_nDataType1, 1);
    ComboSetCurSel(ComboOf(IDC_BIT_WIDTH1), -1);
    dlg->OnCbnSelchangeBitWidth1();
    EXPECT_EQ(dlg->State().m_nBitWidth1, 26);
}

TEST_F(AcquisitionTest, ZeroPointsSetCancelAndOutlastAStop)
{
    OpenPortOnPty();
    Choose(IDC_BIT_WIDTH1, 0);
    StartAndSettle();
    // Before any frame: the zero point is 0.
    Click(IDC_ZERO1);
    EXPECT_EQ(Text(IDC_ZERO1), "取消通道1归零");
    EXPECT_EQ(Text(IDC_ZERO_ANGLE1), "0.0000 °");
    EXPECT_EQ(dlg->State().m_dZeroAngle1, 0.0);
    Click(IDC_ZERO1); // cancel
    EXPECT_EQ(Text(IDC_ZERO1), "通道1光栅归零");
    EXPECT_EQ(Text(IDC_ZERO_ANGLE1), "0.0000 °");

    // Channel 1 at 180.0220 (13 bits), channel 2 just above 0 (26 bits).
    SendFrames({Frame(0x1000, 0x1000), Frame(0x1000, 0x1000)});
    ASSERT_TRUE(PumpUntil([&] { return Text(IDC_CODE1) == "4096"; }));
    Click(IDC_ZERO1);
    EXPECT_EQ(Text(IDC_ZERO_ANGLE1), "180.0220 °");
    EXPECT_NEAR(dlg->State().m_dZeroAngle1, 180.0219753, 1e-6);
    EXPECT_TRUE(dlg->State().m_bNoPrevSample);
    EXPECT_EQ(Text(IDC_REL_ANGLE1), "180.0220"); // labels change with the next frame only

    // Channel 2 wraps backwards between the frames: the zero of channel 1
    // keeps channel 2 from counting that turn.
    const DWORD ch2High = 0x03FFF000; // 26 bits, about 359.9
    SendFrames({Frame(0x1000, ch2High)});
    ASSERT_TRUE(PumpUntil([&] { return Text(IDC_CODE2) == std::to_string(ch2High); }));
    EXPECT_EQ(Text(IDC_REL_ANGLE1), "0.0000");
    EXPECT_EQ(dlg->State().m_nTurns2, 0);
    // Without a zero in between the same jump counts.
    SendFrames({Frame(0x1000, 0x1000)});
    ASSERT_TRUE(PumpUntil([&] { return Text(IDC_CODE2) == "4096"; }));
    EXPECT_EQ(dlg->State().m_nTurns2, 1);
    SendFrames({Frame(0x1000, ch2High)});
    ASSERT_TRUE(PumpUntil([&] { return Text(IDC_CODE2) == std::to_string(ch2High); }));
    EXPECT_EQ(dlg->State().m_nTurns2, 0);

    Click(IDC_ZERO2);
    EXPECT_EQ(Text(IDC_ZERO2), "取消通道2归零");
    EXPECT_EQ(Text(IDC_ZERO_ANGLE2), "359.9780 °");

    // Across a stop and the next start the captions and zero points stay.
    presenter.answers = {IDNO};
    Click(IDC_START);
    EXPECT_FALSE(Enabled(IDC_ZERO1));
    EXPECT_EQ(Text(IDC_ZERO1), "取消通道1归零");
    EXPECT_EQ(Text(IDC_ZERO_ANGLE2), "359.9780 °");
    StartAndSettle();
    EXPECT_TRUE(Enabled(IDC_ZERO1));
    EXPECT_EQ(Text(IDC_ZERO1), "取消通道1归零");
    EXPECT_NEAR(dlg->State().m_dZeroAngle1, 180.0219753, 1e-6);

    // Cancel: zero 0, turns and total reset, the previous angle kept.
    const double prev = dlg->State().m_dPrevAngle1;
    Click(IDC_ZERO1);
    EXPECT_EQ(Text(IDC_ZERO1), "通道1光栅归零");
    EXPECT_EQ(Text(IDC_ZERO_ANGLE1), "0.0000 °");
    EXPECT_EQ(dlg->State().m_dZeroAngle1, 0.0);
    EXPECT_EQ(dlg->State().m_nTurns1, 0);
    EXPECT_EQ(dlg->State().m_dTotalAngle1, 0.0);
    EXPECT_EQ(dlg->State().m_dPrevAngle1, prev);
}

TEST_F(AcquisitionTest, StopWithYesExportsAnIdenticalCopy)
{
    OpenPortOnPty();
    StartAndSettle();
    SendFrames({Frame(1, 2), Frame(3, 4), Frame(5, 6), Frame(7, 8)});
    ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes(RecordPath()).size() > RecordHeaderBytes().size() + 60; }));
    PumpFor(30);
    const std::string target = Home() + "/export.dat";
    presenter.answers = {IDYES};
    presenter.saves = {target};
    bool exportShown = false;
    CDialogEx::SetModalHook([&](CDialogEx& d) {
        exportShown = d.GetWindowText() == "保存";
        qobject_cast<QAbstractButton*>(d.GetDlgItem(IDC_SAVE_BROWSE)->Widget())->click();
        qobject_cast<QAbstractButton*>(d.GetDlgItem(IDC_SAVE_OK)->Widget())->click();
    });
    Click(IDC_START);
    EXPECT_TRUE(exportShown);
    EXPECT_TRUE(Shown("拷贝数据成功"));
    EXPECT_EQ(ReadFileBytes(target), ReadFileBytes(RecordPath()));
    EXPECT_EQ(ReadFileBytes(RecordPath()).substr(0, 94), RecordHeaderBytes());
    EXPECT_EQ(Text(IDC_START), "开始");
}

namespace {

// Every flush to disk, with the number of message boxes shown before it.
struct FlushLog {
    struct Entry {
        std::string path;
        bool ok;
        std::size_t shownBefore;
    };
    const ScriptedPresenter* presenter = nullptr;
    std::vector<Entry> entries;
    static void Observe(void* context, const std::string& path, bool ok)
    {
        auto* log = static_cast<FlushLog*>(context);
        log->entries.push_back({path, ok, log->presenter->shown.size()});
    }
};

} // namespace

TEST_F(AcquisitionTest, StopPutsTheRecordOnTheDiskBeforeTheQuestion)
{
    FlushLog flushes;
    flushes.presenter = &presenter;
    SetFileFlushObserver(&FlushLog::Observe, &flushes);
    OpenPortOnPty();
    StartAndSettle();
    SendFrames({Frame(1, 2), Frame(3, 4), Frame(5, 6)});
    ASSERT_TRUE(PumpUntil([&] { return ReadFileBytes(RecordPath()).size() > RecordHeaderBytes().size() + 30; }));
    EXPECT_TRUE(flushes.entries.empty()); // not per line: a run at 1 kHz would wait on the disk
    const std::size_t shownBefore = presenter.shown.size();
    StopAndSettle();
    SetFileFlushObserver(nullptr, nullptr);
    ASSERT_EQ(flushes.entries.size(), 1u);
    EXPECT_EQ(flushes.entries[0].path, RecordPath());
    EXPECT_TRUE(flushes.entries[0].ok);
    // Before the question was asked.
    EXPECT_EQ(flushes.entries[0].shownBefore, shownBefore);
    ASSERT_EQ(presenter.shown.size(), shownBefore + 1);
    EXPECT_EQ(presenter.shown.back().text, "是否保存历史数据");
}
