// telvar-boxsim: the encoder interface box on a pseudo-terminal.
#include <cstdio>
#include <string>

#include "tools/boxsim/Options.h"
#include "tools/boxsim/SimulatorLoop.h"

int main(int argc, char** argv)
{
    boxsim::Options options;
    std::string error;
    switch (boxsim::ParseOptions(argc, argv, options, error)) {
    case boxsim::ParseResult::Help:
        std::fputs(boxsim::UsageText().c_str(), stdout);
        return 0;
    case boxsim::ParseResult::Error:
        std::fprintf(stderr, "telvar-boxsim: %s\nTry 'telvar-boxsim --help'.\n", error.c_str());
        return 2;
    case boxsim::ParseResult::Run:
        break;
    }
    boxsim::SimulatorLoop loop(options);
    return loop.Run();
}
