// Exporting the record after a stop: targets that cannot be written, and a
// record of several hundred megabytes.
#include "E2eFixture.h"

#include <QAbstractButton>

#include <cstring>
#include <sys/stat.h>

#include "app/CSaveDialog.h"

namespace {

struct TargetCase {
    const char* name;
    std::string (*path)(const std::string& home);
    bool needsUnprivileged; // permission bits stop root from nothing
    const char* message;
    bool opensForRootOnly = false; // others are stopped at the open
};
void PrintTo(const TargetCase& c, std::ostream* os) { *os << c.name; }

class ExportTargets : public E2eFixture, public ::testing::WithParamInterface<TargetCase> {};

TEST_P(ExportTargets, AFailedExportSaysSoAndLeavesTheRecordAlone)
{
    const TargetCase& c = GetParam();
    if (c.needsUnprivileged && ::geteuid() == 0)
        GTEST_SKIP() << "running as root: permission bits do not stop the write";
    const std::string target = c.path(Home());
    const std::string expected = c.opensForRootOnly && ::geteuid() != 0 ? "创建目标文件失败！" : c.message;

    OpenPortOnPty();
    StartAndSettle();
    SendFrames({Frame(1, 2), Frame(3, 4), Frame(5, 6), Frame(7, 8)});
    ASSERT_TRUE(PumpUntil([&] { return CheckRecord(ReadFileBytes(RecordPath())).lines.size() >= 3; }));
    PumpFor(30);
    const std::size_t shownBefore = presenter.shown.size();

    presenter.answers = {IDYES};
    presenter.saves = {target};
    bool stayedOpen = false;
    CDialogEx::SetModalHook([&](CDialogEx& d) {
        auto click = [&](int id) { qobject_cast<QAbstractButton*>(d.GetDlgItem(id)->Widget())->click(); };
        click(IDC_SAVE_BROWSE);
        click(IDC_SAVE_OK);
        if (d.ModalResult() == -1) { // a failure part-way keeps the dialog for another try
            stayedOpen = true;
            click(IDC_SAVE_CANCEL);
        }
    });
    Click(IDC_START);
    const std::string after = ReadFileBytes(RecordPath());

    const std::vector<std::string> texts = TextsSince(presenter, shownBefore);
    ASSERT_EQ(texts.size(), 2u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[0], "是否保存历史数据");
    EXPECT_EQ(texts[1].rfind(expected, 0), 0u) << texts[1];
    EXPECT_FALSE(Shown("拷贝数据成功"));
    EXPECT_EQ(stayedOpen, expected != "创建目标文件失败！");
    EXPECT_TRUE(CheckRecord(after).ok);
    EXPECT_GE(CheckRecord(after).lines.size(), 3u);
    // Back in the ready state, the port still open.
    EXPECT_EQ(Text(IDC_START), "开始");
    EXPECT_TRUE(Enabled(IDC_START));
    EXPECT_EQ(Text(IDC_OPEN_PORT), "关闭串口");
}

INSTANTIATE_TEST_SUITE_P(
    Export, ExportTargets,
    ::testing::Values(
        TargetCase{"MissingDirectory", [](const std::string& home) { return home + "/no/such/dir/export.dat"; }, false,
                   "创建目标文件失败！"},
        TargetCase{"ParentIsARegularFile",
                   [](const std::string& home) {
                       std::ofstream(home + "/a-file") << "x";
                       return home + "/a-file/export.dat";
                   },
                   false, "创建目标文件失败！"},
        // sysfs takes no new files, whoever asks.
        TargetCase{"ReadOnlySysfs", [](const std::string&) { return std::string("/sys/telvar-export.dat"); }, false,
                   "创建目标文件失败！"},
        // procfs lets root open this one for writing, but no new file can be
        // made beside it to take its place.
        TargetCase{"ProcFileThatRefusesWrites", [](const std::string&) { return std::string("/proc/version"); },
                   false, "创建目标文件失败！"},
        TargetCase{"ReadOnlyDirectory",
                   [](const std::string& home) {
                       const std::string dir = home + "/read-only";
                       ::mkdir(dir.c_str(), 0555);
                       return dir + "/export.dat";
                   },
                   true, "创建目标文件失败！"}),
    [](const ::testing::TestParamInfo<TargetCase>& info) { return std::string(info.param.name); });

// A record of 300 MB: copied whole; the time is printed, not judged.
class LargeExport : public E2eFixture {};

TEST_F(LargeExport, ARecordOfThreeHundredMegabytesIsCopiedWhole)
{
    constexpr std::size_t TOTAL = 300u * 1000u * 1000u;
    {
        // Lines as a long run writes them, each block a little different.
        std::string block;
        for (int i = 0; block.size() < (1u << 20); ++i) {
            char line[96];
            std::snprintf(line, sizeof line, "%.4f\t%d\t%.4f\t%.4f\t%d\t%.4f\r\n", (i % 3600) / 10.0, i * 18641,
                          i * 0.36 + 3600.0, 360.0 - (i % 3600) / 10.0, i * 7, -i * 0.36);
            block += line;
        }
        std::FILE* f = std::fopen(RecordPath().c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string& header = RecordHeaderBytes();
        std::fwrite(header.data(), 1, header.size(), f);
        std::size_t written = header.size();
        for (unsigned n = 0; written < TOTAL; ++n) {
            std::memcpy(block.data(), &n, sizeof n); // no two blocks alike
            const std::size_t size = std::min(block.size(), TOTAL - written);
            ASSERT_EQ(std::fwrite(block.data(), 1, size, f), size);
            written += size;
        }
        ASSERT_EQ(std::fclose(f), 0);
    }

    const std::string target = Home() + "/large-export.dat";
    CSaveDialog d;
    ASSERT_TRUE(d.Create());
    presenter.saves = {target};
    auto click = [&](int id) { qobject_cast<QAbstractButton*>(d.GetDlgItem(id)->Widget())->click(); };
    click(IDC_SAVE_BROWSE);
    const auto begin = Clock::now();
    click(IDC_SAVE_OK);
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    std::printf("Exported %zu MB in %.2f s (%.0f MB/s)\n", TOTAL / 1000000, seconds, TOTAL / 1e6 / seconds);
    EXPECT_EQ(TextsSince(presenter, 0), std::vector<std::string>{"拷贝数据成功"});
    EXPECT_EQ(d.ModalResult(), IDOK);

    // Byte for byte.
    std::FILE* a = std::fopen(RecordPath().c_str(), "rb");
    std::FILE* b = std::fopen(target.c_str(), "rb");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::vector<char> ba(1 << 20), bb(1 << 20);
    std::size_t total = 0;
    bool same = true;
    for (;;) {
        const std::size_t na = std::fread(ba.data(), 1, ba.size(), a);
        const std::size_t nb = std::fread(bb.data(), 1, bb.size(), b);
        if (na != nb || std::memcmp(ba.data(), bb.data(), na) != 0) {
            same = false;
            break;
        }
        total += na;
        if (na == 0)
            break;
    }
    std::fclose(a);
    std::fclose(b);
    EXPECT_TRUE(same) << "differs after " << total << " bytes";
    EXPECT_EQ(total, TOTAL);
}

} // namespace
