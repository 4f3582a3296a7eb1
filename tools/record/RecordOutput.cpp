#include "tools/record/RecordOutput.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace record
{

std::string IsoUtc(std::chrono::system_clock::time_point t)
{
    using namespace std::chrono;
    const auto us = duration_cast<microseconds>(t.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(us / 1000000);
    long frac = static_cast<long>(us % 1000000);
    if (frac < 0) {
        frac += 1000000;
        --secs;
    }
    // Many lines share a second: its text is made once.
    thread_local std::time_t cachedSecond = -1;
    thread_local char cached[32];
    if (secs != cachedSecond) {
        std::tm tm{};
        gmtime_r(&secs, &tm);
        std::strftime(cached, sizeof cached, "%Y-%m-%dT%H:%M:%S", &tm);
        cachedSecond = secs;
    }
    char text[48];
    std::snprintf(text, sizeof text, "%s.%06ldZ", cached, frac);
    return text;
}

std::string SecondsText(double seconds)
{
    char text[48];
    std::snprintf(text, sizeof text, "%.6f", seconds);
    return text;
}

bool CreateNewFile(CFile& file, const std::string& path, bool force)
{
    if (!force) {
        // Made here and only here, so nothing that existed is ever emptied.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0644);
        if (fd < 0)
            return false;
        ::close(fd);
    }
    if (file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive))
        return true;
    const int err = errno;
    if (!force)
        ::unlink(path.c_str());
    errno = err;
    return false;
}

bool RecordOutput::Create(const std::string& path, OutputFormat format, bool force)
{
    m_format = format;
    m_path = path;
    m_nWritten = 0;
    if (format == OutputFormat::Dat) {
        if (!force) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0644);
            if (fd < 0)
                return false;
            ::close(fd);
        }
        if (m_dat.Create(path))
            return true;
        const int err = errno;
        if (!force)
            ::unlink(path.c_str());
        errno = err ? err : EIO;
        return false;
    }
    if (!CreateNewFile(m_csv, path, force))
        return false;
    static const std::string header = "time_utc,t_s,ch1_angle,ch1_code,ch1_total,ch2_angle,ch2_code,ch2_total\n";
    if (!m_csv.Write(header.data(), header.size())) {
        const int err = errno;
        m_csv.Close();
        ::unlink(path.c_str());
        errno = err;
        return false;
    }
    return true;
}

bool RecordOutput::Append(MeasureState& s, std::chrono::system_clock::time_point utc, double tSeconds)
{
    if (m_format == OutputFormat::Dat) {
        if (!m_dat.Append(s))
            return false;
        ++m_nWritten;
        return true;
    }
    m_line = IsoUtc(utc);
    m_line += ',';
    m_line += SecondsText(tSeconds);
    for (const std::string* field : {&s.m_strAngle1, &s.m_strCode1, &s.m_strTotalAngle1, &s.m_strAngle2,
                                     &s.m_strCode2, &s.m_strTotalAngle2}) {
        m_line += ',';
        m_line += *field;
    }
    m_line += '\n';
    if (m_csv.Write(m_line.data(), m_line.size())) {
        ++m_nWritten;
        return true;
    }
    if (m_nCsvLost == 0)
        m_nCsvError = errno;
    ++m_nCsvLost;
    return false;
}

std::uint64_t RecordOutput::LinesLost() const
{
    return m_format == OutputFormat::Dat ? m_dat.LostLines() : m_nCsvLost;
}

int RecordOutput::FirstError() const
{
    return m_format == OutputFormat::Dat ? m_dat.FirstError() : m_nCsvError;
}

namespace
{

bool SyncAndClose(CFile& file)
{
    if (!file.IsOpen())
        return true;
    const bool ok = ::fsync(file.Handle()) == 0;
    file.Close();
    return ok;
}

} // namespace

bool RecordOutput::Finish()
{
    if (m_format == OutputFormat::Csv)
        return SyncAndClose(m_csv);
    if (!m_dat.IsOpen())
        return true;
    // The record file object has no flush of its own: reopen it for one.
    CFile again;
    bool ok = true;
    m_dat.Close();
    if (again.Open(m_path, CFile::modeWrite))
        ok = SyncAndClose(again);
    return ok;
}

void RecordOutput::Discard()
{
    m_dat.Close();
    m_csv.Close();
    if (!m_path.empty())
        ::unlink(m_path.c_str());
}

bool TimestampFile::Create(const std::string& path, bool force)
{
    m_path = path;
    if (!CreateNewFile(m_file, path, force))
        return false;
    static const std::string header = "line,time_utc,monotonic_s,event\n";
    if (!m_file.Write(header.data(), header.size())) {
        const int err = errno;
        m_file.Close();
        ::unlink(path.c_str());
        errno = err;
        return false;
    }
    return true;
}

void TimestampFile::Write(const std::string& row)
{
    if (!m_file.Write(row.data(), row.size()))
        ++m_nLost;
}

void TimestampFile::Line(std::uint64_t fileLine, const std::chrono::system_clock::time_point& utc,
                         const std::chrono::steady_clock::time_point& mono)
{
    if (!m_file.IsOpen())
        return;
    m_row = std::to_string(fileLine);
    m_row += ',';
    m_row += IsoUtc(utc);
    m_row += ',';
    m_row += SecondsText(std::chrono::duration<double>(mono.time_since_epoch()).count());
    m_row += ",\n";
    Write(m_row);
}

void TimestampFile::Event(const char* what)
{
    if (!m_file.IsOpen())
        return;
    const auto now = std::chrono::steady_clock::now();
    m_row = ",";
    m_row += IsoUtc(std::chrono::system_clock::now());
    m_row += ',';
    m_row += SecondsText(std::chrono::duration<double>(now.time_since_epoch()).count());
    m_row += ',';
    m_row += what;
    m_row += '\n';
    Write(m_row);
}

bool TimestampFile::Finish()
{
    return SyncAndClose(m_file);
}

void TimestampFile::Discard()
{
    m_file.Close();
    if (!m_path.empty())
        ::unlink(m_path.c_str());
}

} // namespace record
