#include "measurement/RecordFile.h"

#include <cerrno>
#include <cstdlib>
#include <iconv.h>
#include <stdexcept>

std::string RECORD_FILE_PATH()
{
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0')
        return "Telvar-Record.dat";
    std::string path(home);
    if (path.back() != '/')
        path += '/';
    return path + "Telvar-Record.dat";
}

namespace {

std::string Utf8ToGbk(const std::string& utf8)
{
    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error("no GBK converter");
    std::string out(utf8.size() * 2 + 8, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* o = out.data();
    std::size_t outLeft = out.size();
    const std::size_t r = iconv(cd, &in, &inLeft, &o, &outLeft);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1) || inLeft != 0)
        throw std::runtime_error("header not representable in GBK");
    out.resize(out.size() - outLeft);
    return out;
}

} // namespace

const std::string& RecordHeaderBytes()
{
    static const std::string header = Utf8ToGbk(
        "通道1光栅  通道1光栅(原码)  通道1光栅(含圈数)  通道2光栅  通道2光栅(原码)  通道2光栅(含圈数)\r\n");
    return header;
}

void BuildRecordLine(MeasureState& s)
{
    std::string& line = s.m_strRecordLine;
    line.clear();
    line += s.m_strAngle1;
    line += '\t';
    line += s.m_strCode1;
    line += '\t';
    line += s.m_strTotalAngle1;
    line += '\t';
    line += s.m_strAngle2;
    line += '\t';
    line += s.m_strCode2;
    line += '\t';
    line += s.m_strTotalAngle2;
    line += "\r\n";
}

bool CRecordFile::Create(const std::string& path)
{
    m_nLostLines = 0;
    m_nFirstError = 0;
    if (!m_file.Open(path, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive))
        return false;
    const std::string& header = RecordHeaderBytes();
    if (m_file.SeekToEnd() < 0 || !m_file.Write(header.data(), header.size())) {
        m_file.Close();
        return false;
    }
    return true;
}

bool CRecordFile::Append(MeasureState& state)
{
    BuildRecordLine(state);
    const std::string& line = state.m_strRecordLine;
    if (m_file.SeekToEnd() >= 0 && m_file.Write(line.data(), line.size()))
        return true;
    if (m_nLostLines == 0)
        m_nFirstError = errno;
    ++m_nLostLines;
    return false;
}

bool CRecordFile::Close()
{
    if (!m_file.IsOpen())
        return true;
    const bool flushed = m_file.Flush();
    const int e = errno;
    m_file.Close();
    errno = e;
    return flushed;
}
