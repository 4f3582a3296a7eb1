// A line-oriented log file. A failed write is reported once on stderr and the
// simulator carries on: a full disk must not stop the box.
#pragma once

#include <cstdio>
#include <string>

namespace boxsim
{

class LogFile
{
public:
    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Creates or truncates the file. On failure error holds the reason.
    bool Open(const std::string& path, bool flushEachLine, std::string& error);
    bool IsOpen() const { return m_file != nullptr; }
    void Line(const std::string& text);
    void Flush();
    void Close();

private:
    void Failed();

    std::FILE* m_file = nullptr;
    std::string m_path;
    bool m_flushEachLine = false;
    bool m_reported = false;
};

} // namespace boxsim
