// The main dialog with the real simulator on 串口1, and the checks the
// end-to-end tests share.
#pragma once

#include "E2eSupport.h"

#include <memory>

#include "tests/boxsim/BoxSimProcess.h"

constexpr DWORD MASK26 = 0x03FFFFFF;

inline bool HasDelimiterByte(DWORD w)
{
    for (int shift = 0; shift < 32; shift += 8)
        if (((w >> shift) & 0xFF) == 0x7E)
            return true;
    return false;
}

// True when every line's codes are those of a frame in `sent`, in order
// (frames may be missing between them, none may be made up).
inline bool InSentOrder(const std::vector<RecordLine>& lines, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& sent,
                 std::string& why)
{
    std::size_t j = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& c1 = lines[i][1];
        const std::string& c2 = lines[i][4];
        while (j < sent.size()
               && (std::to_string(sent[j].first & MASK26) != c1 || std::to_string(sent[j].second & MASK26) != c2))
            ++j;
        if (j == sent.size()) {
            why = "line " + std::to_string(i + 1) + " (" + c1 + ", " + c2 + ") is no frame sent after the one before";
            return false;
        }
        ++j;
    }
    return true;
}

class E2eFixture : public TelvarFixture {
protected:
    void TearDown() override
    {
        sim.reset();
        TelvarFixture::TearDown();
    }

    std::string SentLog() const { return Home() + "/sent.log"; }

    // Starts the simulator and opens 串口1 on it.
    void OpenOnSimulator(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--sent-log", SentLog()});
        sim = std::make_unique<BoxSimProcess>();
        ASSERT_TRUE(sim->Start(args));
        ::setenv("TELVAR_COM1", sim->DevicePath().c_str(), 1);
        Click(IDC_OPEN_PORT);
        ASSERT_EQ(Text(IDC_OPEN_PORT), "关闭串口");
        ASSERT_TRUE(PumpUntil([&] { return !writes.Snapshot().empty(); }));
    }

    RecordCheck Record() const { return CheckRecord(ReadFileBytes(RecordPath())); }

    // After the device is gone: the run ended, the port shows closed, exactly
    // one message told it, and the idle tool costs next to no CPU.
    void ExpectLostCleanly(std::size_t shownBefore)
    {
        ASSERT_TRUE(PumpUntil([&] { return Text(IDC_OPEN_PORT) == "打开串口"; }, 10000));
        PumpFor(100);
        const std::vector<std::string> texts = TextsSince(presenter, shownBefore);
        ASSERT_EQ(texts.size(), 1u) << ::testing::PrintToString(texts);
        EXPECT_EQ(presenter.shown.back().caption, "Application Error");
        EXPECT_EQ(presenter.shown.back().type & MB_ICONMASK, MB_ICONERROR);
        EXPECT_FALSE(texts[0].empty());
        std::printf("The loss was told as: \"%s\" (%s)\n", texts[0].c_str(), presenter.shown.back().caption.c_str());
        EXPECT_EQ(Text(IDC_PORT_STATUS), "串口1已关闭");
        EXPECT_EQ(Text(IDC_START), "开始");
        EXPECT_FALSE(Enabled(IDC_START));
        EXPECT_TRUE(Enabled(IDC_PORT));
        EXPECT_TRUE(Enabled(IDC_OPEN_PORT));
        EXPECT_FALSE(dlg->State().m_bRecording);
        EXPECT_FALSE(dlg->RecordFile().IsOpen());

        const double before = ProcessCpuSeconds();
        IdleFor(1000);
        const double used = ProcessCpuSeconds() - before;
        std::printf("CPU while idle for 1 s after the loss: %.3f s\n", used);
        EXPECT_LT(used, 0.25);
        EXPECT_EQ(presenter.shown.size(), shownBefore + 1);
    }

    std::unique_ptr<BoxSimProcess> sim;
};

