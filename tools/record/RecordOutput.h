// The files telvar-record writes: the record itself (dat as the dialog writes
// it, or csv) and the timestamps file. Every line goes out with one write, so
// the files hold whole lines only, also after a crash or on a full disk; a
// line that cannot be written is counted and the next one is tried again.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "measurement/MeasureState.h"
#include "measurement/RecordFile.h"
#include "platform/posix/File.h"
#include "tools/record/RecordOptions.h"

namespace record
{

// "2026-12-10T16:30:00.123456Z"
std::string IsoUtc(std::chrono::system_clock::time_point t);

// Creates path for writing, never replacing an existing file unless force.
// False with errno set (EEXIST for an existing file).
bool CreateNewFile(CFile& file, const std::string& path, bool force);

// Seconds as "%.6f".
std::string SecondsText(double seconds);

class RecordOutput
{
public:
    // Creates the file and writes its header. False with errno set.
    bool Create(const std::string& path, OutputFormat format, bool force);
    // One line for the frame just decoded, taken at utc, tSeconds after the
    // start. False when it could not be written (counted as lost).
    bool Append(MeasureState& state, std::chrono::system_clock::time_point utc, double tSeconds);
    // Flushes to disk and closes. False when the flush failed.
    bool Finish();
    // Removes the file again (a run that never began).
    void Discard();

    const std::string& Path() const { return m_path; }
    std::uint64_t LinesWritten() const { return m_nWritten; }
    std::uint64_t LinesLost() const;
    int FirstError() const;
    // Line number of the last written line in the file, header included.
    std::uint64_t FileLine() const { return m_nWritten + 1; }

private:
    OutputFormat m_format = OutputFormat::Dat;
    std::string m_path;
    CRecordFile m_dat;
    CFile m_csv;
    std::string m_line;
    std::uint64_t m_nWritten = 0;
    std::uint64_t m_nCsvLost = 0;
    int m_nCsvError = 0;
};

// line,time_utc,monotonic_s,event: one row per written record line, and a row
// with an empty line number at each gap ("device-lost", "reconnected").
class TimestampFile
{
public:
    bool Create(const std::string& path, bool force);
    bool IsOpen() const { return m_file.IsOpen(); }
    void Line(std::uint64_t fileLine, const std::chrono::system_clock::time_point& utc,
              const std::chrono::steady_clock::time_point& mono);
    void Event(const char* what);
    bool Finish();
    void Discard();
    std::uint64_t LinesLost() const { return m_nLost; }

private:
    void Write(const std::string& row);

    CFile m_file;
    std::string m_path;
    std::string m_row;
    std::uint64_t m_nLost = 0;
};

} // namespace record
