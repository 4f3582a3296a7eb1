// telvar-record: unattended recording from the encoder interface box, without
// a display.
#include <QCoreApplication>

#include <sys/signalfd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tools/record/RecordOptions.h"
#include "tools/record/Recorder.h"

int main(int argc, char** argv)
{
    record::RecordOptions options;
    std::string error;
    switch (record::ParseRecordOptions(argc, argv, options, error)) {
    case record::ParseResult::Help:
        std::fputs(record::RecordUsage().c_str(), stdout);
        return record::EXIT_OK;
    case record::ParseResult::Version:
        std::printf("telvar-record %s\n", TELVAR_VERSION);
        return record::EXIT_OK;
    case record::ParseResult::Error:
        std::fprintf(stderr, "telvar-record: %s\n", error.c_str());
        return record::EXIT_USAGE;
    case record::ParseResult::Run:
        break;
    }

    // A file size limit fails a write (counted as a lost line) instead of
    // ending the run; a closed stderr must not end it either.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // The ending signals are read from a descriptor by the event loop; blocked
    // before any thread starts, so every thread leaves them to it.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);
    const int signalFd = signalfd(-1, &ending, SFD_NONBLOCK | SFD_CLOEXEC);
    if (signalFd < 0) {
        std::perror("telvar-record: signalfd");
        return record::EXIT_INTERNAL;
    }

    // Qt sees no options of ours.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QCoreApplication app(qtArgc, qtArgv);
    record::Recorder recorder(options, signalFd);
    return recorder.Run();
}
