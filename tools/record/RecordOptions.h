// Command line of telvar-record.
#pragma once

#include <cstdint>
#include <string>

namespace record
{

enum class OutputFormat { Dat, Csv };

// Every setting left out keeps the dialog's start-up value.
struct RecordOptions {
    int port = 1;            // --port, 1 to 4, mapped as the dialog maps it
    std::string device;      // --device, instead of a port number
    int dataType1 = 0;       // 0 binary, 1 Gray code
    int dataType2 = 0;
    int bitWidth1 = 26;      // 10 to 32
    int bitWidth2 = 26;
    int clockIndex = 1;      // "0.5 M"
    bool continuous = true;
    int rateIndex = 1;       // "100Hz"
    int intervalMs = 0;      // response mode only; 0: not given
    double durationSeconds = 0; // 0: no limit
    std::uint64_t frames = 0;   // 0: no limit
    std::string output;         // empty: Telvar-Record-<local time>.<ext>
    OutputFormat format = OutputFormat::Dat;
    std::string timestamps;
    bool reconnect = false;
    bool quiet = false;
    bool force = false;
};

enum class ParseResult { Run, Help, Version, Error };

// getopt_long over argv. On Error, error holds one line naming the option and
// what is wrong with its value.
ParseResult ParseRecordOptions(int argc, char** argv, RecordOptions& options, std::string& error);
std::string RecordUsage();

// "Telvar-Record-20260101-120000.dat" for the given local time and format.
std::string DefaultOutputName(std::int64_t unixSeconds, OutputFormat format);

} // namespace record
