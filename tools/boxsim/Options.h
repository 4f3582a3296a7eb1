// Command line of telvar-boxsim.
#pragma once

#include <string>

#include "tools/boxsim/BoxSimulator.h"

namespace boxsim
{

struct Options {
    SimSettings sim;
    std::string linkPath;       // --link: a symlink to the slave device, removed on exit
    std::string commandLogPath; // --log
    std::string sentLogPath;    // --sent-log
    bool exitOnStdinEof = false;
    bool exitOnClose = false;
};

enum class ParseResult { Run, Help, Error };

// getopt_long over argv; error holds the message for ParseResult::Error.
ParseResult ParseOptions(int argc, char** argv, Options& options, std::string& error);
std::string UsageText();

} // namespace boxsim
