#include "measurement/StartSequence.h"

#include <thread>

namespace {

constexpr auto CLOCK_TABLE = protocol::ClockCommandTable();
constexpr auto FREQ_TABLE = protocol::FreqCommandTable();

} // namespace

StartCommands MakeStartCommands(int bitWidth1, int bitWidth2, int clockIndex, int freqIndex, bool continuous)
{
    StartCommands c;
    c.width1 = protocol::WidthCommand(1, bitWidth1);
    c.width2 = protocol::WidthCommand(2, bitWidth2);
    if (clockIndex >= 0 && clockIndex < protocol::CLOCK_ITEMS)
        c.clock = &CLOCK_TABLE[static_cast<std::size_t>(clockIndex) * protocol::COMMAND_LENGTH];
    if (freqIndex >= 0 && freqIndex < protocol::FREQ_ITEMS)
        c.frequency = &FREQ_TABLE[static_cast<std::size_t>(freqIndex) * protocol::COMMAND_LENGTH];
    c.continuous = continuous;
    return c;
}

void SendStartSequence(const StartCommands& c, const std::function<void(const BYTE*, int)>& send)
{
    constexpr int n = static_cast<int>(protocol::COMMAND_LENGTH);
    send(c.width1.data(), n);
    std::this_thread::sleep_for(START_COMMAND_PAUSE);
    send(c.width2.data(), n);
    std::this_thread::sleep_for(START_COMMAND_PAUSE);
    if (c.clock)
        send(c.clock, n);
    std::this_thread::sleep_for(START_COMMAND_PAUSE);
    if (c.continuous) {
        if (c.frequency)
            send(c.frequency, n);
        std::this_thread::sleep_for(START_COMMAND_PAUSE);
        send(c.start, n);
    }
}
