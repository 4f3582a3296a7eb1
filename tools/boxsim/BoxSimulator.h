// The box itself, without any I/O: takes the bytes the tool writes, keeps the
// settings they command, and produces the frames it answers with. The event
// loop decides when streamed frames are due; tests drive it directly.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "tools/boxsim/CommandParser.h"
#include "tools/boxsim/EncoderModel.h"
#include "tools/boxsim/FaultInjector.h"
#include "tools/boxsim/SimTime.h"

namespace boxsim
{

class LogFile;

struct ChannelSettings {
    int width = 26; // until the first width command
    bool gray = false;
    double startDeg = 0.0;
    double speedDegPerS = 0.0;
};

struct SimSettings {
    std::array<ChannelSettings, 2> channel{};
    bool burst = false;           // stream as fast as the line takes it
    double rateHz = 0.0;          // > 0: stream at this rate whatever the frequency command says
    std::uint64_t frameLimit = 0; // > 0: a start streams at most this many frames
    bool force7e = false;         // every word's low byte is 0x7E
    FaultSettings faults;
};

class BoxSimulator
{
public:
    static constexpr std::uint8_t DEFAULT_CLOCK_CODE = 0x02;
    static constexpr std::uint8_t DEFAULT_FREQUENCY_CODE = 0x02; // 100 Hz

    // The logs may be null. The command log gets one line per command or
    // garbage byte, the sent log one line per frame.
    explicit BoxSimulator(const SimSettings& settings, LogFile* commandLog = nullptr, LogFile* sentLog = nullptr);

    // Bytes written by the tool, all received at now.
    void Receive(std::span<const std::uint8_t> bytes, SimTime now);
    // An unfinished command becomes garbage.
    void FlushPartial(SimTime now);
    bool HasPartial() const { return m_parser.HasPending(); }

    bool Streaming() const { return m_streaming; }
    // Time between streamed frames; zero in burst mode.
    std::chrono::nanoseconds FramePeriod() const;
    // When the current stream schedule began (the start or the last frequency change).
    SimTime StreamStart() const { return m_streamStart; }
    // Changes whenever streaming starts, stops or changes rate, so the loop
    // knows to re-arm its timer.
    std::uint64_t ScheduleVersion() const { return m_scheduleVersion; }

    // A streamed frame due at t; ends streaming when the frame limit is reached.
    void EmitStreamFrame(SimTime t);
    // Bytes to send, in order; the caller takes them.
    std::vector<std::uint8_t> TakeOutput();
    std::size_t OutputSize() const { return m_output.size(); }

    // The words the box sends at t with the current settings (before faults).
    std::pair<std::uint32_t, std::uint32_t> WordsAt(SimTime t) const;

    int Width(int channel) const { return m_width[channel == 1 ? 0 : 1]; }
    std::uint8_t ClockCode() const { return m_clockCode; }
    std::uint8_t FrequencyCode() const { return m_frequencyCode; }
    std::uint64_t FramesSent() const { return m_framesSent; }
    std::uint64_t CommandsReceived() const { return m_commands; }
    std::uint64_t GarbageBytes() const { return m_garbage; }
    const FaultInjector& Faults() const { return m_faults; }

    // Period of a frequency code: 1 = 1 ms, 2 = 10 ms, 3 = 100 ms, 4 = 1 s; 0 for others.
    static std::chrono::nanoseconds PeriodOfCode(std::uint8_t code);

private:
    // Applies a command; false when its parameter means nothing to the box.
    bool Apply(const ParsedItem& command, SimTime now);
    void EmitFrame(SimTime t);
    void StartStreaming(SimTime now);
    void StopStreaming();
    void LogItem(const ParsedItem& item, bool ignored, SimTime now);

    SimSettings m_settings;
    LogFile* m_commandLog;
    LogFile* m_sentLog;
    CommandParser m_parser;
    std::array<EncoderModel, 2> m_encoder;
    FaultInjector m_faults;

    std::array<int, 2> m_width{};
    std::uint8_t m_clockCode = DEFAULT_CLOCK_CODE;
    std::uint8_t m_frequencyCode = DEFAULT_FREQUENCY_CODE;
    bool m_streaming = false;
    SimTime m_streamStart{};
    std::uint64_t m_scheduleVersion = 0;
    std::uint64_t m_streamedSinceStart = 0;

    std::vector<std::uint8_t> m_output;
    std::vector<ParsedItem> m_items;
    std::uint64_t m_framesSent = 0;
    std::uint64_t m_commands = 0;
    std::uint64_t m_garbage = 0;
};

} // namespace boxsim
