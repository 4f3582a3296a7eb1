// The record export dialog: choosing the target, copying, and every way the
// copy can go wrong.
#include "TelvarFixture.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>

#include "app/CSaveDialog.h"
#include "platform/posix/File.h"

namespace {

class SaveDialogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        InstallFontSubstitutions();
        char dir[] = "/tmp/telvar-save-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        m_home = dir;
        m_oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
        ::setenv("HOME", m_home.c_str(), 1);
        SetMessagePresenter(&presenter);
    }
    void TearDown() override
    {
        CDialogEx::SetModalHook(nullptr);
        SetMessagePresenter(nullptr);
        ::setenv("HOME", m_oldHome.c_str(), 1);
        std::system(("rm -rf '" + m_home + "'").c_str());
    }

    std::string Record() const { return m_home + "/Telvar-Record.dat"; }
    std::string Path(const std::string& name) const { return m_home + "/" + name; }
    static void WriteFile(const std::string& path, const std::string& bytes)
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string Pattern(std::size_t n)
    {
        std::string s(n, '\0');
        for (std::size_t i = 0; i < n; ++i)
            s[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
        return s;
    }
    static void Click(CSaveDialog& d, int id) { qobject_cast<QAbstractButton*>(d.GetDlgItem(id)->Widget())->click(); }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> t;
        for (const auto& s : presenter.shown)
            t.push_back(s.text);
        return t;
    }

    ScriptedPresenter presenter;

private:
    std::string m_home;
    std::string m_oldHome;
};

} // namespace

TEST_F(SaveDialogTest, TemplateButtonsAndFocus)
{
    CSaveDialog d;
    ASSERT_TRUE(d.Create());
    EXPECT_EQ(d.GetWindowText(), "保存");
    EXPECT_EQ(d.SourcePath(), Record());
    EXPECT_TRUE(d.DestPath().empty());
    EXPECT_FALSE(d.GetSafeHwnd()->windowFlags() & Qt::WindowCloseButtonHint);
    const std::pair<int, const char*> captions[] = {
        {IDC_SAVE_OK, "确定"}, {IDC_SAVE_CANCEL, "取消"}, {IDC_SAVE_BROWSE, "浏览"}, {IDC_SAVE_PATH, ""}};
    for (const auto& [id, text] : captions)
        EXPECT_EQ(d.GetDlgItemText(id), text) << id;
    EXPECT_EQ(dynamic_cast<CCustomDrawBtn*>(d.GetDlgItem(IDC_SAVE_OK)->Widget())->m_clrNormal, RGB(101, 160, 251));
    EXPECT_EQ(dynamic_cast<CCustomDrawBtn*>(d.GetDlgItem(IDC_SAVE_BROWSE)->Widget())->m_clrNormal,
              RGB(101, 160, 251));
    EXPECT_EQ(dynamic_cast<CCustomDrawBtn*>(d.GetDlgItem(IDC_SAVE_CANCEL)->Widget())->m_clrNormal,
              RGB(255, 134, 134));
    EXPECT_EQ(d.GetSafeHwnd()->focusWidget(), d.GetDlgItem(IDC_SAVE_OK)->Widget());
}

TEST_F(SaveDialogTest, OkWithoutABrowsedPathAsksForOne)
{
    WriteFile(Record(), "abc");
    CSaveDialog d;
    ASSERT_TRUE(d.Create());
    Click(d, IDC_SAVE_OK);
    // A path typed by hand does not count either.
    d.SetDlgItemText(IDC_SAVE_PATH, Path("typed.dat"));
    Click(d, IDC_SAVE_OK);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"路径不能为空", "路径不能为空"}));
    EXPECT_EQ(d.ModalResult(), -1); // still open
    EXPECT_TRUE(d.GetSafeHwnd()->isVisible());
    EXPECT_FALSE(FileExists(Path("typed.dat")));
}

TEST_F(SaveDialogTest, BrowseOffersTheFiltersAndKeepsThePathWhenCancelled)
{
    WriteFile(Record(), "record");
    CSaveDialog d;
    ASSERT_TRUE(d.Create());
    presenter.saves = {Path("first.dat"), std::nullopt};
    Click(d, IDC_SAVE_BROWSE);
    ASSERT_EQ(presenter.saveRequests.size(), 1u);
    EXPECT_EQ(presenter.saveRequests[0].filter, "DAT文件(*.dat)|*.dat|TXT文件(*.txt)|*.txt|All Files|*.*|");
    EXPECT_TRUE(presenter.saveRequests[0].overwritePrompt);
    EXPECT_EQ(d.GetDlgItemText(IDC_SAVE_PATH), Path("first.dat"));
    Click(d, IDC_SAVE_BROWSE); // cancelled
    EXPECT_EQ(d.DestPath(), Path("first.dat"));
    // Editing the field by hand changes nothing either.
    d.SetDlgItemText(IDC_SAVE_PATH, Path("edited.dat"));
    Click(d, IDC_SAVE_OK);
    EXPECT_EQ(ReadFileBytes(Path("first.dat")), "record");
    EXPECT_FALSE(FileExists(Path("edited.dat")));
    EXPECT_EQ(Texts(), (std::vector<std::string>{"拷贝数据成功"}));
    EXPECT_EQ(d.ModalResult(), IDOK);
}

TEST_F(SaveDialogTest, CopiesExactlyWhateverTheSize)
{
    struct Case {
        const char* name;
        std::size_t size;
        bool targetExists;
    } cases[] = {{"empty", 0, false}, {"one block", 4096, false}, {"block and a byte", 4097, false},
                 {"several blocks", 3 * 4096 + 17, true}, {"existing target", 100, true}};
    for (const Case& c : cases) {
        presenter.shown.clear();
        const std::string content = Pattern(c.size);
        WriteFile(Record(), content);
        const std::string target = Path(std::string("copy-") + std::to_string(c.size) + ".dat");
        if (c.targetExists)
            WriteFile(target, std::string(10000, 'x'));
        CSaveDialog d;
        ASSERT_TRUE(d.Create());
        presenter.saves = {target};
        Click(d, IDC_SAVE_BROWSE);
        Click(d, IDC_SAVE_OK);
        EXPECT_EQ(ReadFileBytes(target), content) << c.name;
        EXPECT_EQ(Texts(), (std::vector<std::string>{"拷贝数据成功"})) << c.name;
        EXPECT_EQ(d.ModalResult(), IDOK) << c.name;
        EXPECT_EQ(ReadFileBytes(Record()), content) << c.name;
    }
}

TEST_F(SaveDialogTest, LongPathsAreCopiedToWhole)
{
    WriteFile(Record(), "long");
    std::string dir = Path("");
    while (dir.size() < 200) {
        dir += "深层目录-directory/";
        ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    }
    const std::string target = dir + "导出的记录文件-with-a-long-name.dat";
    ASSERT_GT(target.size(), 99u);
    CSaveDialog d;
    ASSERT_TRUE(d.Create());
    presenter.saves = {target};
    Click(d, IDC_SAVE_BROWSE);
    EXPECT_EQ(d.DestPath(), target);
    Click(d, IDC_SAVE_OK);
    EXPECT_EQ(ReadFileBytes(target), "long");
}

TEST_F(SaveDialogTest, TheRecordFileItselfIsNeverATarget)
{
    const std::string content = Pattern(5000);
    WriteFile(Record(), content);
    ASSERT_EQ(::symlink(Record().c_str(), Path("alias.dat").c_str()), 0);
    for (const std::string& target : {Record(), Path("alias.dat"), Path("./Telvar-Record.dat")}) {
        presenter.shown.clear();
        CSaveDialog d;
        ASSERT_TRUE(d.Create());
        presenter.saves = {target};
        Click(d, IDC_SAVE_BROWSE);
        Click(d, IDC_SAVE_OK);
        EXPECT_EQ(Texts(), (std::vector<std::string>{"创建目标文件失败！"})) << target;
        EXPECT_EQ(ReadFileBytes(Record()), content) << target;
        EXPECT_EQ(d.ModalResult(), IDOK) << target;
    }
}

TEST_F(SaveDialogTest, MissingSourceCreatesNoTarget)
{
    CSaveDialog d;
    ASSERT_TRUE(d.Create());
    presenter.saves = {Path("target.dat")};
    Click(d, IDC_SAVE_BROWSE);
    Click(d, IDC_SAVE_OK);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"打开源文件失败！"}));
    EXPECT_FALSE(FileExists(Path("target.dat")));
    EXPECT_EQ(d.ModalResult(), IDOK);
}

TEST_F(SaveDialogTest, TargetThatCannotBeCreated)
{
    WriteFile(Record(), "x");
    CSaveDialog d;
    ASSERT_TRUE(d.Create());
    presenter.saves = {Path("no-such-dir/target.dat")};
    Click(d, IDC_SAVE_BROWSE);
    Click(d, IDC_SAVE_OK);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"创建目标文件失败！"}));
    EXPECT_EQ(d.ModalResult(), IDOK);
}

TEST_F(SaveDialogTest, AWriteFailureMidCopyIsReportedAndTheDialogStays)
{
    const std::string content = Pattern(3 * 4096);
    WriteFile(Record(), content);
    CSaveDialog d;
    ASSERT_TRUE(d.Create());
    presenter.saves = {Path("partial.dat")};
    Click(d, IDC_SAVE_BROWSE);

    struct sigaction ignore{}, old{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &old);
    rlimit oldLimit{};
    getrlimit(RLIMIT_FSIZE, &oldLimit);
    rlimit limit = oldLimit;
    limit.rlim_cur = 5000; // the second block does not fit
    setrlimit(RLIMIT_FSIZE, &limit);
    Click(d, IDC_SAVE_OK);
    setrlimit(RLIMIT_FSIZE, &oldLimit);
    sigaction(SIGXFSZ, &old, nullptr);

    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].text.rfind("写入目标文件出错，复制未完成：", 0), 0u) << presenter.shown[0].text;
    EXPECT_EQ(presenter.shown[0].type & MB_ICONMASK, MB_ICONERROR);
    EXPECT_EQ(d.ModalResult(), -1);
    EXPECT_TRUE(d.GetSafeHwnd()->isVisible());
    EXPECT_EQ(ReadFileBytes(Record()), content);

    // A second try once there is room succeeds.
    presenter.shown.clear();
    Click(d, IDC_SAVE_OK);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"拷贝数据成功"}));
    EXPECT_EQ(ReadFileBytes(Path("partial.dat")), content);
}

TEST_F(SaveDialogTest, CancelEscapeAndEnterCopyNothing)
{
    WriteFile(Record(), "data");
    struct Case {
        const char* name;
        std::function<void(CSaveDialog&)> act;
        int result;
    } cases[] = {
        {"cancel", [](CSaveDialog& d) { Click(d, IDC_SAVE_CANCEL); }, IDCANCEL},
        {"escape", [](CSaveDialog& d) { QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Escape); }, IDCANCEL},
        {"enter in the path field",
         [](CSaveDialog& d) {
             QWidget* edit = d.GetDlgItem(IDC_SAVE_PATH)->Widget();
             edit->setFocus();
             QTest::keyClick(edit, Qt::Key_Return);
         },
         IDOK},
        {"close box", [](CSaveDialog& d) { d.GetSafeHwnd()->close(); QTest::keyClick(d.GetSafeHwnd(), Qt::Key_Escape); },
         IDCANCEL},
    };
    for (const Case& c : cases) {
        presenter.shown.clear();
        presenter.saves = {Path(std::string(c.name) + ".dat")};
        CSaveDialog d;
        CDialogEx::SetModalHook([&](CDialogEx&) {
            Click(d, IDC_SAVE_BROWSE);
            c.act(d);
        });
        EXPECT_EQ(d.DoModal(), c.result) << c.name;
        EXPECT_FALSE(FileExists(Path(std::string(c.name) + ".dat"))) << c.name;
        EXPECT_TRUE(presenter.shown.empty()) << c.name;
    }
}

namespace {

// The names in a folder, sorted.
std::vector<std::string> Listing(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Exports to target in a dialog that clicks 浏览 and 确定.
int ExportTo(CSaveDialog& d, ScriptedPresenter& presenter, const std::string& target)
{
    presenter.saves = {target};
    qobject_cast<QAbstractButton*>(d.GetDlgItem(IDC_SAVE_BROWSE)->Widget())->click();
    qobject_cast<QAbstractButton*>(d.GetDlgItem(IDC_SAVE_OK)->Widget())->click();
    return d.ModalResult();
}

struct FlushEntry {
    std::string path;
    std::size_t shownBefore;
};
struct FlushLog {
    const ScriptedPresenter* presenter;
    std::vector<FlushEntry> entries;
    static void Observe(void* context, const std::string& path, bool ok)
    {
        auto* log = static_cast<FlushLog*>(context);
        if (ok)
            log->entries.push_back({path, log->presenter->shown.size()});
    }
};

} // namespace

TEST_F(SaveDialogTest, TargetsThatAreNoRegularFileAreRefusedWithoutBlocking)
{
    const std::string content = Pattern(6000);
    WriteFile(Record(), content);
    struct Case {
        const char* name;
        std::function<std::string()> make; // the target
        mode_t type;
    };
    std::atomic<bool> readerStop{false};
    std::thread reader; // keeps a FIFO open for reading, so that its open would succeed
    const Case cases[] = {
        {"FIFO without a reader",
         [&] {
             const std::string p = Path("fifo-alone");
             EXPECT_EQ(::mkfifo(p.c_str(), 0600), 0);
             return p;
         },
         S_IFIFO},
        {"FIFO with a reader",
         [&] {
             const std::string p = Path("fifo-read");
             EXPECT_EQ(::mkfifo(p.c_str(), 0600), 0);
             reader = std::thread([p, &readerStop] {
                 const int fd = ::open(p.c_str(), O_RDONLY | O_NONBLOCK);
                 char buf[4096];
                 while (!readerStop)
                     if (::read(fd, buf, sizeof buf) <= 0)
                         std::this_thread::sleep_for(std::chrono::milliseconds(2));
                 ::close(fd);
             });
             std::this_thread::sleep_for(std::chrono::milliseconds(50));
             return p;
         },
         S_IFIFO},
        {"device node", [] { return std::string("/dev/null"); }, S_IFCHR},
        {"socket",
         [&] {
             const std::string p = Path("sock");
             const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un a{};
             a.sun_family = AF_UNIX;
             std::snprintf(a.sun_path, sizeof a.sun_path, "%s", p.c_str());
             EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
             ::close(s);
             return p;
         },
         S_IFSOCK},
        {"link to a FIFO",
         [&] {
             const std::string p = Path("fifo-link");
             EXPECT_EQ(::symlink(Path("fifo-alone").c_str(), p.c_str()), 0);
             return p;
         },
         S_IFIFO},
    };
    for (const Case& c : cases) {
        presenter.shown.clear();
        const std::string target = c.make();
        // A blocked open is ended by opening the FIFO's other end, so that
        // the test fails instead of hanging.
        std::atomic<bool> done{false};
        std::atomic<bool> blocked{false};
        std::thread watchdog([&] {
            for (int i = 0; i < 500 && !done; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (done)
                return;
            blocked = true;
            const int fd = ::open(target.c_str(), O_RDONLY);
            char buf[4096];
            while (fd >= 0 && ::read(fd, buf, sizeof buf) > 0) {
            }
            ::close(fd);
        });
        CSaveDialog d;
        ASSERT_TRUE(d.Create());
        const int result = ExportTo(d, presenter, target);
        done = true;
        watchdog.join();
        EXPECT_FALSE(blocked) << c.name;
        EXPECT_EQ(Texts(), (std::vector<std::string>{"创建目标文件失败！"})) << c.name;
        EXPECT_EQ(result, IDOK) << c.name;
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0) << c.name;
        EXPECT_EQ(st.st_mode & S_IFMT, c.type) << c.name;
        EXPECT_EQ(ReadFileBytes(Record()), content) << c.name;
    }
    readerStop = true;
    if (reader.joinable())
        reader.join();
    // Nothing was left beside them.
    EXPECT_EQ(Listing(Path("")),
              (std::vector<std::string>{"Telvar-Record.dat", "fifo-alone", "fifo-link", "fifo-read", "sock"}));
}

TEST_F(SaveDialogTest, TheCopyIsOnTheDiskBeforeItIsCalledDone)
{
    const std::string content = Pattern(9000);
    WriteFile(Record(), content);
    const std::string target = Path("export.dat");
    WriteFile(target, "old");
    FlushLog flushes{&presenter, {}};
    SetFileFlushObserver(&FlushLog::Observe, &flushes);
    CSaveDialog d;
    ASSERT_TRUE(d.Create());
    EXPECT_EQ(ExportTo(d, presenter, target), IDOK);
    SetFileFlushObserver(nullptr, nullptr);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"拷贝数据成功"}));
    EXPECT_EQ(ReadFileBytes(target), content);
    // The data and the folder that names it, both before the message.
    ASSERT_EQ(flushes.entries.size(), 2u);
    EXPECT_EQ(flushes.entries[0].path, target);
    EXPECT_EQ(flushes.entries[0].shownBefore, 0u);
    EXPECT_EQ(flushes.entries[1].path, Path("").substr(0, Path("").size() - 1));
    EXPECT_EQ(flushes.entries[1].shownBefore, 0u);
    EXPECT_EQ(Listing(Path("")), (std::vector<std::string>{"Telvar-Record.dat", "export.dat"}));
}

TEST_F(SaveDialogTest, AReplacedTargetKeepsItsModeAndALinkIsWrittenThrough)
{
    WriteFile(Record(), "new content");
    const std::string real = Path("real.dat");
    WriteFile(real, "old");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(::symlink(real.c_str(), Path("link.dat").c_str()), 0);
    CSaveDialog d;
    ASSERT_TRUE(d.Create());
    EXPECT_EQ(ExportTo(d, presenter, Path("link.dat")), IDOK);
    EXPECT_EQ(Texts(), (std::vector<std::string>{"拷贝数据成功"}));
    struct stat st {};
    ASSERT_EQ(::lstat(Path("link.dat").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadFileBytes(real), "new content");
    EXPECT_EQ(Listing(Path("")), (std::vector<std::string>{"Telvar-Record.dat", "link.dat", "real.dat"}));
}

// The tool dies of a file size limit part way (SIGXFSZ at its default
// action, in a child process): the old target is untouched and no partial
// file is left, whatever the tool could still do.
TEST_F(SaveDialogTest, AnExportKilledPartWayLeavesTheOldTargetAndNoPartialFile)
{
    const std::string content = Pattern(40000);
    WriteFile(Record(), content);
    const std::string target = Path("export.dat");
    const std::string old = Pattern(3000).substr(1000) + "the old export";
    WriteFile(target, old);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGXFSZ, &dfl, nullptr);
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 10000;
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
            ::_exit(CSaveDialog::CopyRecordFile(Record().c_str(), target.c_str()) ? 0 : 1);
        } catch (const CCopyError&) {
            ::_exit(2);
        }
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGXFSZ) << status;
    EXPECT_EQ(ReadFileBytes(target), old);
    EXPECT_EQ(ReadFileBytes(Record()), content);
    EXPECT_EQ(Listing(Path("")), (std::vector<std::string>{"Telvar-Record.dat", "export.dat"}));
}

// A full disk: a 1 MiB tmpfs in a user and mount namespace of its own. The
// test runs itself again inside; where no such namespace can be made, it is
// skipped and the size limit above stands in.
TEST_F(SaveDialogTest, AnExportToAFullDiskLeavesTheOldTargetAsItWas)
{
    if (const char* small = std::getenv("TELVAR_TEST_SMALL_DISK")) {
        const std::string dir = small;
        const std::string content = Pattern(1500 * 1000); // more than the disk holds
        WriteFile(Record(), content);
        const std::string target = dir + "/export.dat";
        const std::string old = Pattern(100 * 1000).substr(7) + "the old export";
        WriteFile(target, old);
        ASSERT_EQ(ReadFileBytes(target), old);
        CSaveDialog d;
        ASSERT_TRUE(d.Create());
        EXPECT_EQ(ExportTo(d, presenter, target), -1); // stays open for another try
        ASSERT_EQ(presenter.shown.size(), 1u);
        EXPECT_EQ(presenter.shown[0].text, std::string("写入目标文件出错，复制未完成：") + std::strerror(ENOSPC));
        EXPECT_EQ(ReadFileBytes(target), old);
        EXPECT_EQ(ReadFileBytes(Record()), content);
        EXPECT_EQ(Listing(dir), std::vector<std::string>{"export.dat"});
        return;
    }
    const std::string dir = Path("small-disk");
    ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
    const std::string mount = "mount -t tmpfs -o size=1m telvar-small \"$0\"";
    const std::string probe = "unshare -rm sh -c '" + mount + "' '" + dir + "' >/dev/null 2>&1";
    if (std::system(probe.c_str()) != 0)
        GTEST_SKIP() << "no user and mount namespace for a small tmpfs here; the size limit test stands in";
    char self[4096] = {};
    ASSERT_GT(::readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string command = "unshare -rm sh -c '" + mount + " && TELVAR_TEST_SMALL_DISK=\"$0\" exec \"$1\""
                                + " --gtest_filter=SaveDialogTest.AnExportToAFullDiskLeavesTheOldTargetAsItWas' '"
                                + dir + "' '" + self + "' 2>&1";
    std::FILE* child = ::popen(command.c_str(), "r");
    ASSERT_NE(child, nullptr);
    std::string output;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, child))
        output.append(buffer, n);
    const int status = ::pclose(child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
    EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
}
