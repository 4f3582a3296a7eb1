// Frames per second through the main dialog while recording: first the
// received-byte handler alone (decode, gauges, record line, labels, with the
// gauges painting as the event loop allows), then end to end from the
// simulated box streaming as fast as the pseudo-terminal takes it.
#include <QApplication>
#include <QAbstractButton>
#include <QElapsedTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include "app/CTelvarDlg.h"
#include "app/resource.h"
#include "platform/draw/Fonts.h"
#include "platform/core/MessageBox.h"

extern char** environ;

namespace {

void Pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

void Click(CTelvarDlg& dlg, int id) { qobject_cast<QAbstractButton*>(dlg.GetDlgItem(id)->Widget())->click(); }

std::size_t RecordLines()
{
    std::ifstream in(RECORD_FILE_PATH(), std::ios::binary);
    std::size_t n = 0;
    std::string line;
    while (std::getline(in, line))
        ++n;
    return n > 0 ? n - 1 : 0;
}

void HandlerThroughput(ScriptedPresenter& presenter)
{
    int master = -1, slave = -1;
    char name[256] = {};
    openpty(&master, &slave, name, nullptr, nullptr);
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    setenv("TELVAR_COM1", name, 1);

    CTelvarDlg dlg;
    dlg.Create();
    Click(dlg, IDC_OPEN_PORT);
    Click(dlg, IDC_START);
    Pump(50);

    constexpr int FRAMES = 100000;
    BYTE frame[10] = {0x7E, 0, 0, 0, 0, 0, 0, 0, 0, 0x7E};
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i <= FRAMES; ++i) {
        const DWORD w1 = static_cast<DWORD>(i) * 2617u;
        const DWORD w2 = 0x03FFFFFFu - static_cast<DWORD>(i) * 911u;
        for (int k = 0; k < 4; ++k) {
            frame[1 + k] = static_cast<BYTE>(w1 >> (24 - 8 * k));
            frame[5 + k] = static_cast<BYTE>(w2 >> (24 - 8 * k));
        }
        for (BYTE b : frame)
            dlg.WindowProc(WM_SERIAL_BYTE, b, 1);
        if (i % 50 == 0)
            QCoreApplication::processEvents(); // lets the gauges and labels paint
    }
    const double seconds = timer.nsecsElapsed() / 1e9;
    presenter.answers = {IDNO};
    Click(dlg, IDC_START);
    std::printf("handler, recording:   %8.0f frames/s  (%d frames, %zu lines recorded)\n", FRAMES / seconds, FRAMES,
                RecordLines());
    Click(dlg, IDC_OPEN_PORT);
    Pump(50);
    close(slave);
    close(master);
}

void EndToEnd(ScriptedPresenter& presenter, const char* boxsim)
{
    char dir[] = "/tmp/telvar-bench-XXXXXX";
    mkdtemp(dir);
    const std::string link = std::string(dir) + "/box";
    const char* argv[] = {boxsim, "--link", link.c_str(), "--burst", "--speed1", "5000", "--speed2", "-700", nullptr};
    pid_t pid = -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid, boxsim, &actions, nullptr, const_cast<char* const*>(argv), environ) != 0) {
        std::printf("end to end: the simulator did not start\n");
        return;
    }
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; i < 100 && access(link.c_str(), F_OK) != 0; ++i)
        Pump(20);
    setenv("TELVAR_COM1", link.c_str(), 1);

    CTelvarDlg dlg;
    dlg.Create();
    dlg.GetSafeHwnd()->show();
    Click(dlg, IDC_OPEN_PORT);
    Pump(100);
    Click(dlg, IDC_START);
    Pump(200); // let the stream settle in
    const std::size_t before = RecordLines();
    QElapsedTimer timer;
    timer.start();
    Pump(3000);
    const std::size_t after = RecordLines();
    const double seconds = timer.nsecsElapsed() / 1e9;
    presenter.answers = {IDNO};
    Click(dlg, IDC_START);
    Click(dlg, IDC_OPEN_PORT);
    Pump(100);
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::printf("end to end, recording: %7.0f frames/s  (boxsim --burst through a pty, %.1f s)\n",
                (after - before) / seconds, seconds);
    std::system((std::string("rm -rf ") + dir).c_str());
}

} // namespace

int main(int argc, char** argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char home[] = "/tmp/telvar-bench-home-XXXXXX";
    mkdtemp(home);
    setenv("HOME", home, 1);
    QApplication app(argc, argv);
    InstallFontSubstitutions();
    ScriptedPresenter presenter;
    SetMessagePresenter(&presenter);

    HandlerThroughput(presenter);
#ifdef TELVAR_BOXSIM
    EndToEnd(presenter, TELVAR_BOXSIM);
#endif
    SetMessagePresenter(nullptr);
    std::system((std::string("rm -rf ") + home).c_str());
    return 0;
}
