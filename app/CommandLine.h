// The tool's command line. Without arguments the tool starts as it always did;
// the options only do at start-up what the operator's first clicks would do.
//
// Adding an option: a field in LaunchOptions, its definition and reading in
// CommandLine.cpp (ParseCommandLine), its step in RunLaunchSteps, and a line
// in docs/man/telvar.1 (a test checks that every option is there).
#pragma once

#include <optional>
#include <string>

#include <QStringList>

class CTelvarDlg;

constexpr int LAUNCH_PORT_COUNT = 4; // 串口1 to 串口4

struct LaunchOptions {
    std::optional<int> port; // --port N: 1 to LAUNCH_PORT_COUNT
    bool open = false;       // --open
    bool start = false;      // --start
    bool trend = false;      // --trend

    bool Any() const { return port.has_value() || open || start || trend; }
};

struct CommandLineOutcome {
    bool run = true;   // false: print and exit with exitCode
    int exitCode = 0;  // 0 for --help and --version, 2 for a usage error
    std::string out;   // for stdout (UTF-8)
    std::string err;   // for stderr (UTF-8)
};

// arguments: the whole argv, program name first, before Qt takes its own
// options out (those are accepted and left for Qt).
CommandLineOutcome ParseCommandLine(const QStringList& arguments, LaunchOptions& options);

// The operator's clicks that the options stand for, in order: 趋势图…, choose
// the port, 打开串口, 开始. Each runs only when its control is enabled, as a click would.
void RunLaunchSteps(CTelvarDlg& dlg, const LaunchOptions& options);
