#include "app/CommandLine.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFileInfo>

#include "app/AppInfo.h"
#include "app/CTelvarDlg.h"
#include "app/resource.h"

namespace {

const QString PORT = QStringLiteral("port");
const QString OPEN = QStringLiteral("open");
const QString START = QStringLiteral("start");
const QString TREND = QStringLiteral("trend");

// Qt's own options (QGuiApplication, QApplication, the xcb plugin): accepted
// here and left in argv for Qt, as before the tool had a command line.
const char* const QT_VALUE_OPTIONS[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowtitle", "title", "qwindowicon", "icon", "display", "name", "style", "stylesheet",
    "session", "qmljsdebugger",
};
const char* const QT_FLAG_OPTIONS[] = {"reverse", "testability", "nograb", "dograb", "widgetcount"};

QString ProgramName(const QStringList& arguments)
{
    const QString name = arguments.isEmpty() ? QString() : QFileInfo(arguments.first()).fileName();
    return name.isEmpty() ? QStringLiteral("telvar") : name;
}

// The option as the operator typed it (-x or --x), for the error message.
QString AsTyped(const QStringList& arguments, const QString& name)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString a = arguments[i].section(QLatin1Char('='), 0, 0);
        if (a == QLatin1Char('-') + name || a == QStringLiteral("--") + name)
            return a;
    }
    return QStringLiteral("--") + name;
}

CommandLineOutcome UsageError(const QString& program, const QString& message)
{
    CommandLineOutcome outcome;
    outcome.run = false;
    outcome.exitCode = 2;
    outcome.err = QStringLiteral("%1: %2\n请用“%1 --help”查看可用的选项。\n").arg(program, message).toStdString();
    return outcome;
}

} // namespace

CommandLineOutcome ParseCommandLine(const QStringList& arguments, LaunchOptions& options)
{
    options = LaunchOptions{};
    const QString program = ProgramName(arguments);

    QCommandLineParser parser;
    // Qt's options are single-dash words (-platform xcb); so are ours then.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral("监视串口上的双通道绝对角度编码器接口盒。"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("显示本帮助并退出。"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("显示版本并退出。"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(QCommandLineOption(PORT, QStringLiteral("启动时在串口框中选择串口N（1到%1）。").arg(LAUNCH_PORT_COUNT),
                                        QStringLiteral("N")));
    parser.addOption(QCommandLineOption(OPEN, QStringLiteral("然后打开该串口，如同点击“打开串口”。")));
    parser.addOption(QCommandLineOption(START, QStringLiteral("然后以窗口中的设置开始采集，如同点击“开始”；需要 --open。")));
    parser.addOption(QCommandLineOption(TREND, QStringLiteral("同时打开趋势图窗口，如同选择右键菜单的“趋势图…”。")));
    for (const char* name : QT_VALUE_OPTIONS) {
        QCommandLineOption o(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }
    for (const char* name : QT_FLAG_OPTIONS) {
        QCommandLineOption o(QString::fromLatin1(name));
        o.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(o);
    }

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return UsageError(program, QStringLiteral("未知的选项“%1”。").arg(AsTyped(arguments, unknown.first())));
        // The only other refusal of the parser: an option without its value.
        const QString error = parser.errorText();
        const qsizetype quote = error.indexOf(QLatin1Char('\''));
        if (error.startsWith(QStringLiteral("Missing value")) && quote >= 0)
            return UsageError(program, QStringLiteral("选项“%1”缺少数值。").arg(error.mid(quote + 1).section(QLatin1Char('\''), 0, 0)));
        return UsageError(program, error);
    }
    if (parser.isSet(help)) {
        CommandLineOutcome outcome;
        outcome.run = false;
        QString text = parser.helpText();
        // The first line names the program as Qt sees it; ours names it plainly.
        const qsizetype firstBreak = text.indexOf(QLatin1Char('\n'));
        text = QStringLiteral("用法：%1 [选项]").arg(program) + (firstBreak < 0 ? QString() : text.mid(firstBreak));
        text.replace(QStringLiteral("Options:"), QStringLiteral("选项："));
        text += QStringLiteral("\n不带选项时，窗口照常打开，串口保持关闭。\n");
        outcome.out = text.toStdString();
        return outcome;
    }
    if (parser.isSet(version)) {
        CommandLineOutcome outcome;
        outcome.run = false;
        outcome.out = program.toStdString() + " " TELVAR_VERSION "\n";
        return outcome;
    }
    if (!parser.positionalArguments().isEmpty())
        return UsageError(program, QStringLiteral("多余的参数“%1”。").arg(parser.positionalArguments().first()));
    if (parser.isSet(PORT)) {
        const QString value = parser.value(PORT);
        bool ok = false;
        const int port = value.toInt(&ok, 10);
        if (!ok || port < 1 || port > LAUNCH_PORT_COUNT)
            return UsageError(program,
                              QStringLiteral("--port 需要1到%1的串口号，而不是“%2”。").arg(LAUNCH_PORT_COUNT).arg(value));
        options.port = port;
    }
    options.open = parser.isSet(OPEN);
    options.start = parser.isSet(START);
    options.trend = parser.isSet(TREND);
    if (options.start && !options.open)
        return UsageError(program, QStringLiteral("--start 需要 --open：串口打开之后才能开始。"));
    return CommandLineOutcome{};
}

void RunLaunchSteps(CTelvarDlg& dlg, const LaunchOptions& options)
{
    auto widget = [&dlg](int id) -> QWidget* {
        CDlgItem* item = dlg.GetDlgItem(id);
        return item ? item->Widget() : nullptr;
    };
    auto click = [&widget](int id) {
        // A disabled button ignores the click, as it ignores the operator's.
        if (auto* button = qobject_cast<QAbstractButton*>(widget(id)))
            button->click();
    };
    // First, so that the window sees the run from its start.
    if (options.trend)
        dlg.OpenTrendWindow();
    if (options.port) {
        auto* combo = qobject_cast<QComboBox*>(widget(IDC_PORT));
        const int index = *options.port - 1;
        if (combo && combo->isEnabled() && index < combo->count()) {
            combo->setCurrentIndex(index);
            emit combo->activated(index); // the operator's choice, as the combo reports it
        }
    }
    if (options.open)
        click(IDC_OPEN_PORT);
    if (options.start)
        click(IDC_START);
}
