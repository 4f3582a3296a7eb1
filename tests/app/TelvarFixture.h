// The main dialog under test: offscreen, a temporary HOME, a scripted
// presenter, and a pseudo-terminal standing in for the box on 串口1.
#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QAbstractButton>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "QtApp.h"
#include "app/CTelvarDlg.h"
#include "app/resource.h"
#include "platform/draw/Fonts.h"
#include "platform/core/MessageBox.h"
#include "platform/posix/SerialDevice.h"

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<BYTE>;

// Every write that reaches a device, with its start and end on the line.
struct WriteLog {
    struct Write {
        Bytes bytes;
        Clock::time_point begin;
        Clock::time_point end;
    };
    std::mutex lock;
    std::vector<Write> writes;

    static void Observe(void* context, const BYTE* data, std::size_t size, Clock::time_point begin,
                        Clock::time_point end)
    {
        auto* self = static_cast<WriteLog*>(context);
        std::lock_guard<std::mutex> guard(self->lock);
        self->writes.push_back({Bytes(data, data + size), begin, end});
    }
    std::vector<Write> Snapshot()
    {
        std::lock_guard<std::mutex> guard(lock);
        return writes;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(lock);
        writes.clear();
    }
};

// The box's end of a pseudo-terminal: a thread keeps reading what the tool sends.
class PtyBox {
public:
    PtyBox()
    {
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        m_path = name;
        termios t{};
        tcgetattr(m_slave, &t);
        cfmakeraw(&t);
        tcsetattr(m_slave, TCSANOW, &t);
        m_reader = std::thread([this] { Read(); });
    }
    ~PtyBox() { Hangup(); }

    const std::string& Path() const { return m_path; }

    void Send(const Bytes& bytes)
    {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
    }

    Bytes Received()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_received;
    }

    // The device goes away: both ends close.
    void Hangup()
    {
        m_stop = true;
        if (m_reader.joinable())
            m_reader.join();
        if (m_slave >= 0)
            ::close(m_slave);
        if (m_master >= 0)
            ::close(m_master);
        m_slave = m_master = -1;
    }

private:
    void Read()
    {
        BYTE buffer[256];
        while (!m_stop) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0 || !(p.revents & POLLIN))
                continue;
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n > 0) {
                std::lock_guard<std::mutex> guard(m_lock);
                m_received.insert(m_received.end(), buffer, buffer + n);
            }
        }
    }

    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
    std::thread m_reader;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    Bytes m_received;
};

inline Bytes Frame(DWORD word1, DWORD word2)
{
    return {0x7E,
            BYTE(word1 >> 24), BYTE(word1 >> 16), BYTE(word1 >> 8), BYTE(word1),
            BYTE(word2 >> 24), BYTE(word2 >> 16), BYTE(word2 >> 8), BYTE(word2),
            0x7E};
}

inline std::string ReadFileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

class TelvarFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestApp();
        InstallFontSubstitutions();
        char dir[] = "/tmp/telvar-home-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        m_home = dir;
        m_oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
        ::setenv("HOME", m_home.c_str(), 1);
        for (int n = 1; n <= 4; ++n) // absent unless a test gives a device
            ::setenv(("TELVAR_COM" + std::to_string(n)).c_str(), (m_home + "/no-such-device").c_str(), 1);
        SetMessagePresenter(&presenter);
        SetSerialWriteObserver(&WriteLog::Observe, &writes);
        dlg = std::make_unique<CTelvarDlg>();
        ASSERT_TRUE(dlg->Create());
    }

    void TearDown() override
    {
        CDialogEx::SetModalHook(nullptr);
        dlg.reset();
        box.reset();
        SetSerialWriteObserver(nullptr, nullptr);
        SetMessagePresenter(nullptr);
        ::setenv("HOME", m_oldHome.c_str(), 1);
        std::system(("rm -rf '" + m_home + "'").c_str());
    }

    std::string RecordPath() const { return m_home + "/Telvar-Record.dat"; }
    std::string Home() const { return m_home; }

    QWidget* W(int id) const { return dlg->GetDlgItem(id)->Widget(); }
    bool Enabled(int id) const { return dlg->GetDlgItem(id)->IsWindowEnabled(); }
    std::string Text(int id) const { return dlg->GetDlgItemText(id); }
    QComboBox& ComboOf(int id) const { return *qobject_cast<QComboBox*>(W(id)); }

    // The operator clicks a button (the platform toggles checks first).
    void Click(int id) { qobject_cast<QAbstractButton*>(W(id))->click(); }
    // The operator picks a combo item.
    void Choose(int id, int index)
    {
        QComboBox& c = ComboOf(id);
        c.setCurrentIndex(index);
        emit c.activated(index);
    }

    // Opens 串口1 on a fresh pseudo-terminal and waits for the open-time command.
    void OpenPortOnPty()
    {
        box = std::make_unique<PtyBox>();
        ::setenv("TELVAR_COM1", box->Path().c_str(), 1);
        Click(IDC_OPEN_PORT);
        ASSERT_EQ(Text(IDC_OPEN_PORT), "关闭串口");
        ASSERT_TRUE(PumpUntil([&] { return box->Received().size() >= 6 && !writes.Snapshot().empty(); }));
        writes.Clear();
    }

    // Clicks 开始 and waits until the start sequence has left: every write
    // purges unread input, so frames sent meanwhile could be cut.
    void StartAndSettle()
    {
        writes.Clear();
        Click(IDC_START);
        const std::size_t expected = dlg->IsDlgButtonChecked(IDC_CONTINUOUS) ? 5 : 3;
        ASSERT_TRUE(PumpUntil([&] { return writes.Snapshot().size() >= expected; }));
        PumpFor(10);
    }

    // Clicks 停止 (answering No) and, in continuous mode, waits until the stop
    // command has left, so that it is not taken for a later command.
    void StopAndSettle()
    {
        const bool continuous = dlg->IsDlgButtonChecked(IDC_CONTINUOUS) == BST_CHECKED;
        presenter.answers = {IDNO};
        Click(IDC_START);
        if (continuous) {
            ASSERT_TRUE(PumpUntil([&] {
                const auto w = writes.Snapshot();
                return !w.empty() && w.back().bytes == Bytes{0x7E, 0x03, 0x7E};
            }));
        }
    }

    // Frames from the box; the first only brings the collector into step.
    void SendFrames(const std::vector<Bytes>& frames)
    {
        Bytes all;
        for (const Bytes& f : frames)
            all.insert(all.end(), f.begin(), f.end());
        box->Send(all);
    }

    bool Shown(const std::string& text) const
    {
        for (const auto& s : presenter.shown)
            if (s.text == text)
                return true;
        return false;
    }

    ScriptedPresenter presenter;
    WriteLog writes;
    std::unique_ptr<PtyBox> box;
    std::unique_ptr<CTelvarDlg> dlg;

private:
    std::string m_home;
    std::string m_oldHome;
};
