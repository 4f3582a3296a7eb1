// The record export dialog: choosing the target, copying, and every way the
// copy can go wrong.
#include "TelvarFixture.h"

#include <csignal>
#include <sys/resource.h>

#include "app/CSaveDialog.h"

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
