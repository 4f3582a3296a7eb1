#include "app/StartUp.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <unistd.h>

#include <QCoreApplication>
#include <QList>
#include <QMessageLogContext>
#include <QString>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace
{

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// The platform Qt will load: `-platform NAME` on the command line, else
// QT_QPA_PLATFORM (possibly a list: the first entry), else Qt's default.
std::string PlatformName(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return argv[i + 1];
    std::string p = Env("QT_QPA_PLATFORM");
    if (const auto semi = p.find(';'); semi != std::string::npos)
        p.resize(semi);
    if (const auto colon = p.find(':'); colon != std::string::npos)
        p.resize(colon); // plugin options
    return p;
}

// True when the platform needs a display server and none is named.
bool DisplayMissing(int argc, char** argv)
{
    const std::string platform = PlatformName(argc, argv);
    const bool x11 = !Env("DISPLAY").empty();
    // Wayland clients fall back to the socket wayland-0 when none is named.
    const std::string runtime = Env("XDG_RUNTIME_DIR");
    const bool wayland = !Env("WAYLAND_DISPLAY").empty()
                         || (!runtime.empty() && access((runtime + "/wayland-0").c_str(), F_OK) == 0);
    if (platform.empty())
        return !x11 && !wayland;
    if (platform == "xcb")
        return !x11;
    if (platform.rfind("wayland", 0) == 0)
        return !wayland;
    return false; // offscreen, vnc, eglfs, linuxfb...: no display server needed
}

const char* const NO_DISPLAY_LINE =
    "telvar: 没有图形显示（DISPLAY 未设置或无法连接）：请在桌面会话中启动，或用 xvfb-run telvar 在虚拟显示上运行。\n";

// While Qt connects to the display, its messages wait here: if it cannot,
// Qt's fatal error becomes our one line and status 1 instead of an abort.
QtMessageHandler g_previousHandler = nullptr;
QList<std::tuple<QtMsgType, QString, QString>> g_heldMessages;
bool g_holding = false;

void StartUpMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtFatalMsg) {
        std::fputs(NO_DISPLAY_LINE, stderr);
        std::fflush(stderr);
        std::_Exit(1);
    }
    if (g_holding) {
        g_heldMessages.append({type, QString::fromUtf8(context.category ? context.category : ""), text});
        return;
    }
    if (g_previousHandler)
        g_previousHandler(type, context, text);
}

void ReleaseHeldMessages()
{
    g_holding = false;
    qInstallMessageHandler(g_previousHandler);
    for (const auto& [type, category, text] : g_heldMessages) {
        const QByteArray c = category.toUtf8();
        const QMessageLogContext context(nullptr, 0, nullptr, c.isEmpty() ? nullptr : c.constData());
        qt_message_output(type, context, text);
    }
    g_heldMessages.clear();
}

// Every operator text is Chinese, so Qt's own texts (file dialog, context
// menus, questions) are Chinese too, whatever the locale.
void LoadQtTranslations()
{
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qt"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace

void OnApplicationMade()
{
    ReleaseHeldMessages();
    LoadQtTranslations();
}

Q_COREAPP_STARTUP_FUNCTION(OnApplicationMade)

bool PrepareProcess(int argc, char** argv)
{
    // A file size limit must fail a write (EFBIG), which the record and the
    // export report, instead of ending the process in the middle of a line.
    std::signal(SIGXFSZ, SIG_IGN);

    if (DisplayMissing(argc, argv)) {
        std::fputs(NO_DISPLAY_LINE, stderr);
        return false;
    }
    g_holding = true;
    g_previousHandler = qInstallMessageHandler(StartUpMessageHandler);
    return true;
}
