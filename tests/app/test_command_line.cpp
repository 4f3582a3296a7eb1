// The command line: what it accepts and refuses, and that its start-up steps
// do exactly what the operator's clicks do.
#include "TelvarFixture.h"

#include "app/AppInfo.h"
#include "app/CommandLine.h"
#include "measurement/RecordFile.h"

namespace {

QStringList Args(std::initializer_list<const char*> args)
{
    QStringList list{QStringLiteral("/usr/bin/telvar")};
    for (const char* a : args)
        list << QString::fromUtf8(a);
    return list;
}

struct ParseCase {
    std::vector<const char*> args;
    bool run;
    int exitCode;
    std::optional<int> port;
    bool open;
    bool start;
    const char* errPart; // in stderr when not null
};

} // namespace

TEST(CommandLine, AcceptsOurOptionsAndQtsOwnAndRefusesTheRest)
{
    const std::vector<ParseCase> cases = {
        {{}, true, 0, std::nullopt, false, false, nullptr},
        {{"--port", "3"}, true, 0, 3, false, false, nullptr},
        {{"--port=4", "--open"}, true, 0, 4, true, false, nullptr},
        {{"--port", "1", "--open", "--start"}, true, 0, 1, true, true, nullptr},
        {{"--open"}, true, 0, std::nullopt, true, false, nullptr},
        // Qt's options are left for Qt, as before there was a command line.
        {{"-platform", "offscreen", "-style=fusion", "-reverse", "--port", "2"}, true, 0, 2, false, false, nullptr},
        {{"--frob"}, false, 2, std::nullopt, false, false, "未知的选项“--frob”"},
        {{"-x"}, false, 2, std::nullopt, false, false, "未知的选项“-x”"},
        {{"--port"}, false, 2, std::nullopt, false, false, "选项“--port”缺少数值"},
        {{"--port", "0"}, false, 2, std::nullopt, false, false, "--port 需要1到4的串口号"},
        {{"--port", "5"}, false, 2, std::nullopt, false, false, "“5”"},
        {{"--port", "1x"}, false, 2, std::nullopt, false, false, "“1x”"},
        {{"--port", "-1"}, false, 2, std::nullopt, false, false, "“-1”"},
        {{"--start"}, false, 2, std::nullopt, false, false, "--start 需要 --open"},
        {{"--port", "1", "--start"}, false, 2, std::nullopt, false, false, "--start 需要 --open"},
        {{"extra"}, false, 2, std::nullopt, false, false, "多余的参数“extra”"},
    };
    for (const ParseCase& c : cases) {
        QStringList args{QStringLiteral("telvar")};
        std::string shown;
        for (const char* a : c.args) {
            args << QString::fromUtf8(a);
            shown += std::string(" ") + a;
        }
        SCOPED_TRACE("telvar" + shown);
        LaunchOptions options;
        options.open = true; // every parse starts from nothing
        const CommandLineOutcome out = ParseCommandLine(args, options);
        EXPECT_EQ(out.run, c.run);
        EXPECT_EQ(out.exitCode, c.exitCode);
        EXPECT_TRUE(out.out.empty());
        if (c.errPart) {
            EXPECT_NE(out.err.find(c.errPart), std::string::npos) << out.err;
            EXPECT_NE(out.err.find("telvar --help"), std::string::npos) << out.err;
        } else {
            EXPECT_TRUE(out.err.empty()) << out.err;
        }
        if (c.run) {
            EXPECT_EQ(options.port, c.port);
            EXPECT_EQ(options.open, c.open);
            EXPECT_EQ(options.start, c.start);
        }
    }
}

TEST(CommandLine, HelpAndVersionPrintAndEndWithSuccess)
{
    for (const char* opt : {"--help", "-h"}) {
        LaunchOptions options;
        const CommandLineOutcome out = ParseCommandLine(Args({opt}), options);
        EXPECT_FALSE(out.run);
        EXPECT_EQ(out.exitCode, 0);
        EXPECT_TRUE(out.err.empty());
        EXPECT_EQ(out.out.rfind("用法：telvar [选项]\n", 0), 0u) << out.out;
        for (const char* listed : {"--help", "--version", "--port <N>", "--open", "--start", "--trend"})
            EXPECT_NE(out.out.find(listed), std::string::npos) << listed;
        EXPECT_EQ(out.out.find("platform"), std::string::npos); // Qt's options stay out of it
    }
    for (const char* opt : {"--version", "-v"}) {
        LaunchOptions options;
        const CommandLineOutcome out = ParseCommandLine(Args({opt}), options);
        EXPECT_FALSE(out.run);
        EXPECT_EQ(out.exitCode, 0);
        EXPECT_EQ(out.out, "telvar " TELVAR_VERSION "\n");
    }
    // A usage error counts even beside --help.
    LaunchOptions options;
    EXPECT_EQ(ParseCommandLine(Args({"--help", "--frob"}), options).exitCode, 2);
}

using LaunchStepsTest = TelvarFixture;

TEST_F(LaunchStepsTest, NoOptionsLeaveTheStartUpStateAlone)
{
    RunLaunchSteps(*dlg, LaunchOptions{});
    PumpFor(20);
    EXPECT_EQ(ComboOf(IDC_PORT).currentIndex(), 0);
    EXPECT_EQ(Text(IDC_PORT_STATUS), "串口未打开");
    EXPECT_EQ(Text(IDC_OPEN_PORT), "打开串口");
    EXPECT_FALSE(Enabled(IDC_START));
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_TRUE(writes.Snapshot().empty());
}

TEST(CommandLine, TrendIsReadAloneAndWithTheOthers)
{
    for (const auto& args : {Args({"--trend"}), Args({"--port", "2", "--open", "--start", "--trend"})}) {
        LaunchOptions options;
        const CommandLineOutcome out = ParseCommandLine(args, options);
        EXPECT_TRUE(out.run) << out.err;
        EXPECT_TRUE(options.trend);
        EXPECT_TRUE(options.Any());
    }
    LaunchOptions options;
    ParseCommandLine(Args({"--open"}), options);
    EXPECT_FALSE(options.trend);
}

TEST_F(LaunchStepsTest, TrendOpensTheTrendWindowOnceAndNothingElse)
{
    ASSERT_EQ(dlg->TrendWindow(), nullptr);
    LaunchOptions options;
    options.trend = true;
    RunLaunchSteps(*dlg, options);
    ASSERT_NE(dlg->TrendWindow(), nullptr);
    EXPECT_TRUE(dlg->TrendWindow()->isVisible());
    EXPECT_EQ(Text(IDC_PORT_STATUS), "串口未打开");
    EXPECT_TRUE(presenter.shown.empty());
    // Asked again (by the menu, say), it is the same window.
    CTrendWindow* first = dlg->TrendWindow();
    dlg->OpenTrendWindow();
    EXPECT_EQ(dlg->TrendWindow(), first);
    EXPECT_EQ(dlg->GetSafeHwnd()->findChildren<CTrendWindow*>().size(), 1);
}

TEST_F(LaunchStepsTest, PortOnlySelectsItWithoutOpening)
{
    LaunchOptions options;
    options.port = 4;
    RunLaunchSteps(*dlg, options);
    EXPECT_EQ(ComboOf(IDC_PORT).currentText().toStdString(), "串口4");
    EXPECT_EQ(dlg->PortIndex(), 3);
    EXPECT_EQ(Text(IDC_PORT_STATUS), "串口未打开");
    EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(LaunchStepsTest, OpeningAnAbsentPortShowsWhatAClickShows)
{
    LaunchOptions options;
    options.port = 3;
    options.open = true;
    options.start = true; // 开始 stays disabled after a failed open: no run, no file
    RunLaunchSteps(*dlg, options);
    const std::vector<ScriptedPresenter::Shown> fromOptions = presenter.shown;
    const std::string status = Text(IDC_PORT_STATUS);
    const std::string caption = Text(IDC_OPEN_PORT);
    const bool startEnabled = Enabled(IDC_START);
    const bool portEnabled = Enabled(IDC_PORT);
    EXPECT_FALSE(FileExists(RecordPath()));
    EXPECT_EQ(Text(IDC_START), "开始");

    // The same by hand on a fresh dialog.
    dlg.reset();
    presenter.shown.clear();
    dlg = std::make_unique<CTelvarDlg>();
    ASSERT_TRUE(dlg->Create());
    Choose(IDC_PORT, 2);
    Click(IDC_OPEN_PORT);
    Click(IDC_START);

    ASSERT_EQ(fromOptions.size(), 1u);
    EXPECT_EQ(fromOptions[0].text, "没有发现串口3或被占用");
    EXPECT_EQ(fromOptions[0].type & MB_ICONMASK, MB_ICONERROR);
    ASSERT_EQ(presenter.shown.size(), fromOptions.size());
    EXPECT_EQ(presenter.shown[0].text, fromOptions[0].text);
    EXPECT_EQ(presenter.shown[0].caption, fromOptions[0].caption);
    EXPECT_EQ(presenter.shown[0].type, fromOptions[0].type);
    EXPECT_EQ(presenter.shown[0].blocking, fromOptions[0].blocking);
    EXPECT_EQ(status, "串口3打开失败");
    EXPECT_EQ(Text(IDC_PORT_STATUS), status);
    EXPECT_EQ(Text(IDC_OPEN_PORT), caption);
    EXPECT_EQ(Enabled(IDC_START), startEnabled);
    EXPECT_EQ(Enabled(IDC_PORT), portEnabled);
}

TEST_F(LaunchStepsTest, OpenAndStartSendWhatTheClicksSendAndRecordFrames)
{
    box = std::make_unique<PtyBox>();
    ::setenv("TELVAR_COM1", box->Path().c_str(), 1);
    LaunchOptions options;
    options.port = 1;
    options.open = true;
    options.start = true;
    RunLaunchSteps(*dlg, options);
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_EQ(Text(IDC_PORT_STATUS), "串口1已打开");
    EXPECT_EQ(Text(IDC_OPEN_PORT), "关闭串口");
    EXPECT_EQ(Text(IDC_START), "停止");
    EXPECT_FALSE(Enabled(IDC_OPEN_PORT)); // as during any run
    // Open-time command, then the start sequence of continuous mode with the
    // settings shown: widths 26, clock 0.5 M, 100 Hz, start.
    ASSERT_TRUE(PumpUntil([&] { return writes.Snapshot().size() >= 6; }));
    PumpFor(30);
    const auto w = writes.Snapshot();
    ASSERT_EQ(w.size(), 6u);
    EXPECT_EQ(w[0].bytes, Bytes(protocol::OPEN_CMD.begin(), protocol::OPEN_CMD.end()));
    EXPECT_EQ(w.back().bytes, Bytes(protocol::START_CMD.begin(), protocol::START_CMD.end()));

    SendFrames({Frame(0, 0), Frame(0x100, 0x200), Frame(0x300, 0x400)});
    ASSERT_TRUE(PumpUntil([&] {
        const std::string text = ReadFileBytes(RecordPath());
        return std::count(text.begin(), text.end(), '\n') >= 3;
    }));
    EXPECT_EQ(ReadFileBytes(RecordPath()).rfind(RecordHeaderBytes(), 0), 0u);
}
