// Checks a record file against the frames the simulator logged as sent: the
// expected lines come from the tool's own decoder fed with the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "measurement/RecordFile.h"
#include "measurement/SampleDecoder.h"

namespace bench
{

struct ChannelSetup {
    int dataType1 = 0;
    int bitWidth1 = 26;
    int dataType2 = 0;
    int bitWidth2 = 26;
};

struct RecordCheck {
    std::size_t framesSent = 0;
    std::size_t expectedLines = 0; // lines the decoder makes of all frames sent
    std::size_t recordedLines = 0;
    std::size_t offset = 0; // expected line the record file begins with
    std::size_t mismatches = 0;
    bool headerOk = false;
    bool aligned = false;
    std::string firstMismatch;
    // Recorded lines that are no expected line in order, when lines may be
    // missing in between (each recorded line matched to the next equal one).
    std::size_t notInOrder = 0;
    // Expected lines from the first recorded one up to the last recorded one,
    // and the expected lines after the last recorded one.
    std::size_t spanned = 0;
    std::size_t after = 0;
    // Expected lines missing between the first and the last recorded line.
    std::size_t MissingBetween() const
    {
        const std::size_t matched = recordedLines - notInOrder;
        return spanned > matched ? spanned - matched : 0;
    }

    // Lines expected but not in the file, after its first line (a stop cuts
    // the end of a stream that does not end by itself, hence "after start").
    std::size_t MissingAfterStart() const
    {
        return expectedLines > offset + recordedLines ? expectedLines - offset - recordedLines : 0;
    }
};

inline std::string ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

namespace detail
{

class LineCollector : public IFrameSink
{
public:
    std::vector<std::string> lines;
    void ShowGauges(const MeasureState&) override {}
    void AppendRecord(MeasureState& state) override
    {
        BuildRecordLine(state);
        lines.push_back(state.m_strRecordLine);
    }
    void ShowLabels(const MeasureState&) override {}
};

} // namespace detail

// sentLog: one line per frame, "WORD1 WORD2" in hex (fault notes after them
// are not expected: the benchmarks inject none).
inline RecordCheck CheckRecord(const std::string& sentLogPath, const std::string& recordPath, const ChannelSetup& setup)
{
    RecordCheck r;

    MeasureState ref;
    ref.m_nDataType1 = setup.dataType1;
    ref.m_nBitWidth1 = setup.bitWidth1;
    ref.m_nDataType2 = setup.dataType2;
    ref.m_nBitWidth2 = setup.bitWidth2;
    ref.m_bRecording = true;
    detail::LineCollector expected;
    {
        std::ifstream log(sentLogPath);
        std::string line;
        while (std::getline(log, line)) {
            unsigned long w1 = 0;
            unsigned long w2 = 0;
            if (std::sscanf(line.c_str(), "%lx %lx", &w1, &w2) != 2)
                continue;
            ++r.framesSent;
            const BYTE frame[10] = {0x7E,           BYTE(w1 >> 24), BYTE(w1 >> 16), BYTE(w1 >> 8), BYTE(w1),
                                    BYTE(w2 >> 24), BYTE(w2 >> 16), BYTE(w2 >> 8),  BYTE(w2),      0x7E};
            for (BYTE b : frame)
                HandleReceivedByte(ref, 0, b, 1, expected);
        }
    }
    r.expectedLines = expected.lines.size();

    const std::string file = ReadWholeFile(recordPath);
    const std::string& header = RecordHeaderBytes();
    r.headerOk = file.compare(0, header.size(), header) == 0;
    std::vector<std::string> recorded;
    for (std::size_t pos = header.size(); pos < file.size();) {
        const std::size_t end = file.find("\r\n", pos);
        const std::size_t next = end == std::string::npos ? file.size() : end + 2;
        recorded.push_back(file.substr(pos, next - pos));
        pos = next;
    }
    r.recordedLines = recorded.size();
    if (recorded.empty())
        return r;

    // The collector of the tool starts on the stream where the decoder here
    // starts, unless bytes before the first full frame went missing: look for
    // the first recorded line among the first expected ones.
    for (std::size_t k = 0; k < expected.lines.size() && k < 64; ++k) {
        if (expected.lines[k] == recorded[0]) {
            r.offset = k;
            r.aligned = true;
            break;
        }
    }
    if (!r.aligned) {
        r.firstMismatch = "first recorded line not among the first expected: " + recorded[0];
        r.mismatches = recorded.size();
        return r;
    }
    for (std::size_t i = 0, k = r.offset; i < recorded.size(); ++i) {
        std::size_t j = k;
        while (j < expected.lines.size() && expected.lines[j] != recorded[i])
            ++j;
        if (j == expected.lines.size())
            ++r.notInOrder;
        else
            k = j + 1;
        r.spanned = k - r.offset;
    }
    r.after = expected.lines.size() - r.offset - r.spanned;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        const std::size_t k = r.offset + i;
        if (k >= expected.lines.size() || recorded[i] != expected.lines[k]) {
            if (r.mismatches++ == 0)
                r.firstMismatch = "line " + std::to_string(i + 1) + ": recorded '" + recorded[i] + "' expected '" +
                                  (k < expected.lines.size() ? expected.lines[k] : std::string("(none)")) + "'";
        }
    }
    return r;
}

inline void PrintCheck(const char* what, const RecordCheck& r)
{
    std::printf("  %s: %zu frames sent, %zu lines expected, %zu recorded (from expected line %zu), "
                "header %s, %zu wrong lines, %zu missing after the first\n",
                what, r.framesSent, r.expectedLines, r.recordedLines, r.offset + 1, r.headerOk ? "ok" : "WRONG",
                r.mismatches, r.MissingAfterStart());
    if (!r.firstMismatch.empty())
        std::printf("  first difference: %s\n", r.firstMismatch.c_str());
}

} // namespace bench
