#include "tools/boxsim/LogFile.h"

#include <cerrno>
#include <cstring>

namespace boxsim
{

LogFile::~LogFile()
{
    Close();
}

bool LogFile::Open(const std::string& path, bool flushEachLine, std::string& error)
{
    Close();
    m_file = std::fopen(path.c_str(), "we");
    if (!m_file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    m_path = path;
    m_flushEachLine = flushEachLine;
    m_reported = false;
    return true;
}

void LogFile::Failed()
{
    if (m_reported)
        return;
    m_reported = true;
    std::fprintf(stderr, "telvar-boxsim: writing %s failed: %s\n", m_path.c_str(), std::strerror(errno));
}

void LogFile::Line(const std::string& text)
{
    if (!m_file)
        return;
    if (std::fputs(text.c_str(), m_file) == EOF || std::fputc('\n', m_file) == EOF)
        Failed();
    if (m_flushEachLine)
        Flush();
}

void LogFile::Flush()
{
    if (m_file && std::fflush(m_file) != 0)
        Failed();
}

void LogFile::Close()
{
    if (!m_file)
        return;
    if (std::fclose(m_file) != 0)
        Failed();
    m_file = nullptr;
}

} // namespace boxsim
