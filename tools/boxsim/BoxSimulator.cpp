#include "tools/boxsim/BoxSimulator.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string>

#include "measurement/Protocol.h"
#include "tools/boxsim/LogFile.h"

namespace boxsim
{

BoxSimulator::BoxSimulator(const SimSettings& settings, LogFile* commandLog, LogFile* sentLog)
    : m_settings(settings), m_commandLog(commandLog),
      m_sentLog(sentLog), m_encoder{EncoderModel(settings.channel[0].startDeg, settings.channel[0].speedDegPerS),
                                    EncoderModel(settings.channel[1].startDeg, settings.channel[1].speedDegPerS)},
      m_faults(settings.faults), m_width{settings.channel[0].width, settings.channel[1].width}
{
}

std::chrono::nanoseconds BoxSimulator::PeriodOfCode(std::uint8_t code)
{
    using namespace std::chrono_literals;
    switch (code) {
    case 0x01:
        return 1ms;
    case 0x02:
        return 10ms;
    case 0x03:
        return 100ms;
    case 0x04:
        return 1s;
    default:
        return 0ns;
    }
}

std::chrono::nanoseconds BoxSimulator::FramePeriod() const
{
    if (m_settings.burst)
        return std::chrono::nanoseconds(0);
    if (m_settings.rateHz > 0.0)
        return std::chrono::nanoseconds(static_cast<std::int64_t>(std::llround(1e9 / m_settings.rateHz)));
    return PeriodOfCode(m_frequencyCode);
}

void BoxSimulator::Receive(std::span<const std::uint8_t> bytes, SimTime now)
{
    for (std::uint8_t b : bytes) {
        m_items.clear();
        m_parser.Feed(b, m_items);
        for (const ParsedItem& item : m_items) {
            if (item.kind == ParsedItem::Kind::Command) {
                ++m_commands;
                const bool applied = Apply(item, now);
                LogItem(item, !applied, now);
            } else {
                ++m_garbage;
                LogItem(item, false, now);
            }
        }
    }
}

void BoxSimulator::FlushPartial(SimTime now)
{
    m_items.clear();
    m_parser.Flush(m_items);
    for (const ParsedItem& item : m_items) {
        ++m_garbage;
        LogItem(item, false, now);
    }
}

void BoxSimulator::LogItem(const ParsedItem& item, bool ignored, SimTime now)
{
    if (!m_commandLog)
        return;
    char line[64];
    if (item.kind == ParsedItem::Kind::Command)
        std::snprintf(line, sizeof line, "%" PRId64 " %02X %02X %02X%s", Microseconds(now), item.bytes[0],
                      item.bytes[1], item.bytes[2], ignored ? " ignored" : "");
    else
        std::snprintf(line, sizeof line, "%" PRId64 " ? %02X", Microseconds(now), item.bytes[0]);
    m_commandLog->Line(line);
}

bool BoxSimulator::Apply(const ParsedItem& command, SimTime now)
{
    const std::uint8_t p = command.Parameter();
    switch (command.Code()) {
    case protocol::CMD_WIDTH_CH1:
    case protocol::CMD_WIDTH_CH2:
        if (p < protocol::MIN_BIT_WIDTH || p > protocol::MAX_BIT_WIDTH)
            return false;
        m_width[command.Code() == protocol::CMD_WIDTH_CH1 ? 0 : 1] = p;
        return true;
    case protocol::CMD_CLOCK:
        // The sampling clock changes nothing the tool can see; it is kept and logged.
        m_clockCode = p;
        return true;
    case protocol::CMD_FREQUENCY:
        if (PeriodOfCode(p).count() == 0)
            return false;
        if (p != m_frequencyCode) {
            m_frequencyCode = p;
            if (m_streaming) { // the new rate starts now
                m_streamStart = now;
                ++m_scheduleVersion;
            }
        }
        return true;
    case protocol::CMD_RUN:
        switch (p) {
        case protocol::RUN_START:
            StartStreaming(now);
            return true;
        case protocol::RUN_POLL:
            EmitFrame(now);
            return true;
        case protocol::RUN_STOP:
            StopStreaming();
            return true;
        default:
            return false;
        }
    default:
        return false;
    }
}

void BoxSimulator::StartStreaming(SimTime now)
{
    // Each start begins a new count for the frame limit; a start while
    // streaming keeps the running schedule.
    m_streamedSinceStart = 0;
    if (m_streaming)
        return;
    m_streaming = true;
    m_streamStart = now;
    ++m_scheduleVersion;
}

void BoxSimulator::StopStreaming()
{
    if (!m_streaming)
        return;
    m_streaming = false;
    ++m_scheduleVersion;
}

void BoxSimulator::EmitStreamFrame(SimTime t)
{
    if (!m_streaming)
        return;
    EmitFrame(t);
    ++m_streamedSinceStart;
    if (m_settings.frameLimit > 0 && m_streamedSinceStart >= m_settings.frameLimit)
        StopStreaming();
}

std::pair<std::uint32_t, std::uint32_t> BoxSimulator::WordsAt(SimTime t) const
{
    std::array<std::uint32_t, 2> w{};
    for (std::size_t ch = 0; ch < 2; ++ch) {
        const std::uint32_t code = m_encoder[ch].CodeAt(t, m_width[ch]);
        w[ch] = EncodeWord(code, m_width[ch], m_settings.channel[ch].gray);
        if (m_settings.force7e)
            w[ch] = Force7E(w[ch]);
    }
    return {w[0], w[1]};
}

void BoxSimulator::EmitFrame(SimTime t)
{
    const auto [w1, w2] = WordsAt(t);
    const FaultReport report = m_faults.Append(EncodeFrame(w1, w2), m_output);
    ++m_framesSent;
    if (!m_sentLog)
        return;
    char words[32];
    std::snprintf(words, sizeof words, "%08" PRIX32 " %08" PRIX32, w1, w2);
    std::string line = words;
    if (report.stray7e)
        line += " stray7e";
    for (int i : report.dropped)
        line += " drop@" + std::to_string(i);
    for (int i : report.noised)
        line += " noise@" + std::to_string(i);
    m_sentLog->Line(line);
}

std::vector<std::uint8_t> BoxSimulator::TakeOutput()
{
    std::vector<std::uint8_t> out;
    out.swap(m_output);
    return out;
}

} // namespace boxsim
