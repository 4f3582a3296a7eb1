#include "E2eSupport.h"

#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

bool IsFixed4(const std::string& s)
{
    static const std::regex fixed4("-?[0-9]+\\.[0-9]{4}");
    return std::regex_match(s, fixed4);
}

bool IsCode(const std::string& s)
{
    static const std::regex digits("0|[1-9][0-9]{0,9}");
    return std::regex_match(s, digits) && std::stoull(s) <= 0xFFFFFFFFull;
}

bool IsAngle(const std::string& s)
{
    if (!IsFixed4(s))
        return false;
    const double a = std::stod(s);
    return a >= 0.0 && a <= 360.0;
}

} // namespace

RecordCheck CheckRecord(const std::string& bytes)
{
    RecordCheck r;
    const std::string& header = RecordHeaderBytes();
    if (bytes.compare(0, header.size(), header) != 0) {
        r.why = "the file does not begin with the header";
        return r;
    }
    std::size_t pos = header.size();
    while (pos < bytes.size()) {
        const std::size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos) {
            r.why = "a piece of a line after line " + std::to_string(r.lines.size()) + ": '" + bytes.substr(pos) + "'";
            return r;
        }
        const std::string text = bytes.substr(pos, end - pos);
        RecordLine line;
        std::size_t field = 0;
        std::size_t start = 0;
        for (;;) {
            const std::size_t tab = text.find('\t', start);
            if (field == line.size()) {
                r.why = "more than six fields in line " + std::to_string(r.lines.size() + 1) + ": " + text;
                return r;
            }
            line[field++] = text.substr(start, tab == std::string::npos ? std::string::npos : tab - start);
            if (tab == std::string::npos)
                break;
            start = tab + 1;
        }
        const bool good = field == 6 && IsAngle(line[0]) && IsCode(line[1]) && IsFixed4(line[2]) && IsAngle(line[3])
                          && IsCode(line[4]) && IsFixed4(line[5]) && text.find('\r') == std::string::npos
                          && text.find('\n') == std::string::npos;
        if (!good) {
            r.why = "malformed line " + std::to_string(r.lines.size() + 1) + ": " + text;
            return r;
        }
        r.lines.push_back(line);
        pos = end + 2;
    }
    r.ok = true;
    return r;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> ReadSentWords(const std::string& path)
{
    std::vector<std::pair<std::uint32_t, std::uint32_t>> words;
    std::ifstream in(path);
    std::string w1, w2, rest;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream s(line);
        if (!(s >> w1 >> w2))
            continue;
        words.emplace_back(static_cast<std::uint32_t>(std::stoul(w1, nullptr, 16)),
                           static_cast<std::uint32_t>(std::stoul(w2, nullptr, 16)));
    }
    return words;
}
