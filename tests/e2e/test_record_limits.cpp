// The record file meets its end of room during a run: a file size limit, or
// a small filesystem that fills. One message, the frames go on being decoded
// and counted, no torn line, recording resumes when there is room again, and
// the stop tells how many lines are missing.
#include "E2eFixture.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

constexpr int RUN_FRAMES = 3000;

double AngleOf(std::uint32_t word) { return static_cast<double>(word & MASK26) / static_cast<double>(MASK26) * 360.0; }

// Index of the sent frame whose codes the line holds.
std::size_t SentIndexOf(const RecordLine& line, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& sent)
{
    for (std::size_t i = 0; i < sent.size(); ++i)
        if (std::to_string(sent[i].first & MASK26) == line[1] && std::to_string(sent[i].second & MASK26) == line[4])
            return i;
    return sent.size();
}

// The turns a fresh dialog counts over sent[k...]: the first frame is compared
// with angles of 0, unless the collector had to find its step again first.
std::pair<int, int> ExpectedTurns(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& sent, std::size_t k)
{
    int turns1 = 0, turns2 = 0;
    double prev1 = 0.0, prev2 = 0.0;
    bool skip = k != 1;
    for (std::size_t i = k; i < sent.size(); ++i) {
        const double a1 = AngleOf(sent[i].first);
        const double a2 = AngleOf(sent[i].second);
        if (!skip) {
            for (auto [a, prev, turns] : {std::tuple{a2, prev2, &turns2}, std::tuple{a1, prev1, &turns1}}) {
                const double d = a - prev;
                if (d > 350.0)
                    --*turns;
                else if (d < -350.0)
                    ++*turns;
            }
        }
        skip = false;
        prev1 = a1;
        prev2 = a2;
    }
    return {turns1, turns2};
}

class RecordLimits : public E2eFixture {
protected:
    // Streams RUN_FRAMES frames two turns a second; fill() takes the room
    // away once lines are being written, release() gives it back once lines
    // are being lost. `expectedErrno` is what the write meets.
    void RunOutOfRoom(const std::function<void()>& fill, const std::function<void()>& release, int expectedErrno)
    {
        // Where the tool writes it: HOME may have been moved to a small disk.
        const std::string record = RECORD_FILE_PATH();
        OpenOnSimulator({"--rate", "1000", "--frames", std::to_string(RUN_FRAMES), "--speed1", "720", "--speed2",
                         "-500", "--start1", "100", "--start2", "200"});
        StartAndSettle();
        ASSERT_EQ(Text(IDC_START), "停止");
        const std::size_t shownBefore = presenter.shown.size();
        ASSERT_TRUE(PumpUntil([&] { return CheckRecord(ReadFileBytes(record)).lines.size() >= 100; }, 10000));
        fill();
        ASSERT_TRUE(PumpUntil([&] { return dlg->RecordFile().LostLines() >= 200; }, 10000))
            << "lost " << dlg->RecordFile().LostLines();
        const std::size_t linesWhenFull = CheckRecord(ReadFileBytes(record)).lines.size();

        // One message, that does not hold the stream up.
        std::vector<std::string> texts = TextsSince(presenter, shownBefore);
        ASSERT_EQ(texts.size(), 1u) << ::testing::PrintToString(texts);
        EXPECT_EQ(texts[0], std::string("记录文件写入失败，数据行正在丢失：") + std::strerror(expectedErrno));
        EXPECT_FALSE(presenter.shown.back().blocking);
        EXPECT_EQ(presenter.shown.back().type & MB_ICONMASK, MB_ICONERROR);
        EXPECT_EQ(Text(IDC_START), "停止");

        release();
        ASSERT_TRUE(PumpUntil([&] { return CheckRecord(ReadFileBytes(record)).lines.size() > linesWhenFull + 100; },
                              10000));
        ASSERT_TRUE(PumpUntil([&] { return ReadSentWords(SentLog()).size() == RUN_FRAMES; }, 15000));
        PumpFor(300);

        const RecordCheck file = CheckRecord(ReadFileBytes(record));
        ASSERT_TRUE(file.ok) << file.why;
        const auto sent = ReadSentWords(SentLog());
        std::string why;
        EXPECT_TRUE(InSentOrder(file.lines, sent, why)) << why;
        const std::size_t k = SentIndexOf(file.lines.front(), sent);
        ASSERT_LT(k, 5u);
        const std::uint64_t lost = dlg->RecordFile().LostLines();
        std::printf("%d frames, the first recorded is #%zu; %zu lines in the file, %llu lost\n", RUN_FRAMES, k,
                    file.lines.size(), static_cast<unsigned long long>(lost));
        // Every frame decoded while recording is either in the file or counted lost.
        EXPECT_EQ(file.lines.size() + lost, sent.size() - k);
        // The turns were counted across the lost lines.
        const auto [turns1, turns2] = ExpectedTurns(sent, k);
        EXPECT_EQ(dlg->State().m_nTurns1, turns1);
        EXPECT_EQ(dlg->State().m_nTurns2, turns2);
        EXPECT_GE(turns1, 4);
        EXPECT_LE(turns2, -3);
        EXPECT_EQ(file.lines.back()[2], dlg->State().m_strTotalAngle1);
        EXPECT_EQ(file.lines.back()[5], dlg->State().m_strTotalAngle2);
        EXPECT_EQ(TextsSince(presenter, shownBefore).size(), 1u);

        // The stop tells the count, then asks as always.
        Click(IDC_START);
        texts = TextsSince(presenter, shownBefore + 1);
        EXPECT_EQ(texts, (std::vector<std::string>{"本次记录有" + std::to_string(lost) + "行数据未能写入记录文件。",
                                                   "是否保存历史数据"}));
        EXPECT_EQ(Text(IDC_START), "开始");
    }
};

TEST_F(RecordLimits, FileSizeLimitDuringARun)
{
    struct sigaction ignore{}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit oldLimit{};
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    RunOutOfRoom(
        [&] {
            rlimit limit = oldLimit;
            limit.rlim_cur = static_cast<rlim_t>(ReadFileBytes(RECORD_FILE_PATH()).size() + 1000);
            setrlimit(RLIMIT_FSIZE, &limit);
        },
        [&] { setrlimit(RLIMIT_FSIZE, &oldLimit); }, EFBIG);
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    sigaction(SIGXFSZ, &old, nullptr);
}

// A real full filesystem: a 1 MiB tmpfs in a user and mount namespace of its
// own. The test runs itself again inside; where no such namespace can be
// made, it is skipped and the size limit above stands in.
TEST_F(RecordLimits, FullDiskDuringARun)
{
    if (const char* small = std::getenv("TELVAR_E2E_SMALL_DISK")) {
        const std::string dir = small;
        const std::string ballast = dir + "/ballast";
        ::setenv("HOME", dir.c_str(), 1);
        RunOutOfRoom(
            [&] {
                // All the room left but a few hundred bytes.
                std::FILE* f = std::fopen(ballast.c_str(), "wb");
                ASSERT_NE(f, nullptr);
                const std::string block(512, 'x');
                while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
                }
                std::fclose(f);
            },
            [&] { ::unlink(ballast.c_str()); }, ENOSPC);
        return;
    }

    const std::string dir = Home() + "/small-disk";
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    const std::string mount = "mount -t tmpfs -o size=1m telvar-small \"$0\"";
    const std::string probe = "unshare -rm sh -c '" + mount + "' '" + dir + "' >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0)
        GTEST_SKIP() << "no user and mount namespace for a small tmpfs here; FileSizeLimitDuringARun stands in";

    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string command = "unshare -rm sh -c '" + mount + " && TELVAR_E2E_SMALL_DISK=\"$0\" exec \"$1\""
                                + " --gtest_filter=RecordLimits.FullDiskDuringARun' '" + dir + "' '" + self + "' 2>&1";
    std::FILE* child = ::popen(command.c_str(), "r");
    ASSERT_NE(child, nullptr);
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, child))
        output.append(buffer, n);
    const int status = ::pclose(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    // Its figures, for the log.
    for (std::size_t pos = 0; (pos = output.find(" frames, the first", pos)) != std::string::npos; ++pos) {
        const std::size_t begin = output.rfind('\n', pos) + 1;
        std::printf("inside: %s\n", output.substr(begin, output.find('\n', pos) - begin).c_str());
    }
}

} // namespace
