#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>

#include "app/AppInfo.h"
#include "app/CTelvarApp.h"
#include "app/CTelvarDlg.h"
#include "app/CommandLine.h"
#include "app/StartUp.h"
#include "platform/window/DialogEx.h"
#include "platform/core/MessageBox.h"

CTelvarApp theApp;

namespace
{

// For the start-up benchmark only, never set by operators:
// TELVAR_EXIT_AFTER_SHOWN=1 prints "shown MONOTONIC_SECONDS" once the main
// dialog has been painted for the first time, then ends the dialog.
class ShownProbe : public QObject
{
public:
    ShownProbe(CDialogEx& dlg, QObject* parent) : QObject(parent), m_dlg(dlg) {}
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_bSeen) {
            m_bSeen = true;
            QTimer::singleShot(0, this, [this] {
                timespec ts{};
                clock_gettime(CLOCK_MONOTONIC, &ts);
                std::printf("shown %lld.%09ld\n", static_cast<long long>(ts.tv_sec), ts.tv_nsec);
                std::fflush(stdout);
                m_dlg.EndDialog(IDCANCEL);
            });
        }
        return false;
    }

private:
    CDialogEx& m_dlg;
    bool m_bSeen = false;
};

} // namespace

int main(int argc, char** argv)
{
    // Before Qt: --help, --version and usage errors need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    LaunchOptions options;
    const CommandLineOutcome outcome = ParseCommandLine(arguments, options);
    if (!outcome.run) {
        std::fputs(outcome.out.c_str(), stdout);
        std::fputs(outcome.err.c_str(), stderr);
        return outcome.exitCode;
    }
    if (!PrepareProcess(argc, argv))
        return 1;
    // Lets the desktop and Wayland shells match the window to its entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(TELVAR_APP_ID));

    const char* probe = std::getenv("TELVAR_EXIT_AFTER_SHOWN");
    const bool exitAfterShown = probe && probe[0] == '1';
    if (exitAfterShown || options.Any()) {
        CDialogEx::SetModalHook([exitAfterShown, options, first = true](CDialogEx& dlg) mutable {
            if (exitAfterShown)
                if (QWidget* w = dlg.GetSafeHwnd())
                    w->installEventFilter(new ShownProbe(dlg, w));
            // The steps run once, in the main dialog's loop, as the first clicks would.
            auto* main = dynamic_cast<CTelvarDlg*>(&dlg);
            if (first && main && options.Any())
                QTimer::singleShot(0, dlg.GetSafeHwnd(), [main, options] { RunLaunchSteps(*main, options); });
            first = false;
        });
    }
    return theApp.Run(argc, argv);
}
