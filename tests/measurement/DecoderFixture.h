#pragma once

#include <string>
#include <vector>

#include "measurement/SampleDecoder.h"

// Records what the decoder hands to its owner, in order.
struct RecordingSink : IFrameSink {
    std::vector<std::string> calls;
    std::vector<std::pair<double, double>> gauges;
    std::vector<std::string> lines;
    void ShowGauges(const MeasureState& s) override
    {
        calls.push_back("gauges");
        gauges.emplace_back(s.m_dRelAngle1, s.m_dRelAngle2);
    }
    void AppendRecord(MeasureState& s) override
    {
        calls.push_back("record");
        lines.push_back(s.m_strAngle1 + "\t" + s.m_strCode1 + "\t" + s.m_strTotalAngle1 + "\t" + s.m_strAngle2 + "\t"
                        + s.m_strCode2 + "\t" + s.m_strTotalAngle2);
    }
    void ShowLabels(const MeasureState&) override { calls.push_back("labels"); }
};

inline std::vector<BYTE> Frame(DWORD w1, DWORD w2)
{
    return {0x7E,
            BYTE(w1 >> 24), BYTE(w1 >> 16), BYTE(w1 >> 8), BYTE(w1),
            BYTE(w2 >> 24), BYTE(w2 >> 16), BYTE(w2 >> 8), BYTE(w2),
            0x7E};
}

// Feeds bytes one at a time on port 1 (selected index 0); returns frames accepted.
inline int Feed(MeasureState& s, IFrameSink& sink, const std::vector<BYTE>& bytes, UINT port = 1, int portIndex = 0)
{
    int accepted = 0;
    for (BYTE b : bytes)
        accepted += HandleReceivedByte(s, portIndex, b, port, sink) ? 1 : 0;
    return accepted;
}

// Puts the collector in step: a frame whose opening 0x7E arms it, then collection.
inline void Synchronise(MeasureState& s, IFrameSink& sink)
{
    Feed(s, sink, {0x7E, 0x7E});
}
