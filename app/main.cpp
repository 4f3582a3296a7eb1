#include <cstdio>
#include <cstdlib>
#include <ctime>

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include "app/CTelvarApp.h"
#include "app/StartUp.h"
#include "platform/DialogEx.h"
#include "platform/MessageBox.h"

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
    if (!PrepareProcess(argc, argv))
        return 1;
    if (const char* v = std::getenv("TELVAR_EXIT_AFTER_SHOWN"); v && v[0] == '1') {
        CDialogEx::SetModalHook([](CDialogEx& dlg) {
            if (QWidget* w = dlg.GetSafeHwnd())
                w->installEventFilter(new ShownProbe(dlg, w));
        });
    }
    return theApp.Run(argc, argv);
}
