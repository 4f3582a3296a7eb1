// Every byte that passes between the tool and the encoder interface box.
#pragma once

#include <array>
#include <cstddef>

#include "platform/posix/WinTypes.h"

namespace protocol {

// Three-byte commands: command byte, parameter, command byte again.
constexpr BYTE CMD_WIDTH_CH1 = 0x7A;
constexpr BYTE CMD_WIDTH_CH2 = 0x7B;
constexpr BYTE CMD_CLOCK = 0x7F;
constexpr BYTE CMD_FREQUENCY = 0x7D;
constexpr BYTE CMD_RUN = 0x7E;

constexpr BYTE RUN_START = 0x01;
constexpr BYTE RUN_POLL = 0x02;
constexpr BYTE RUN_STOP = 0x03;

constexpr std::size_t COMMAND_LENGTH = 3;
constexpr std::size_t OPEN_COMMAND_LENGTH = 6;

using Command = std::array<BYTE, COMMAND_LENGTH>;

constexpr Command POLL_CMD = {CMD_RUN, RUN_POLL, CMD_RUN};
constexpr Command START_CMD = {CMD_RUN, RUN_START, CMD_RUN};
constexpr Command STOP_CMD = {CMD_RUN, RUN_STOP, CMD_RUN};
// A clock command with code 2 followed by a frequency command with code 2, sent as one write.
constexpr std::array<BYTE, OPEN_COMMAND_LENGTH> OPEN_CMD = {0x7F, 0x02, 0x7F, 0x7D, 0x02, 0x7D};

constexpr int CLOCK_ITEMS = 5;
constexpr int FREQ_ITEMS = 4;

// Sampling clock, in the order of the clock combo box. The codes do not follow the items.
constexpr std::array<const char*, CLOCK_ITEMS> CLOCK_TEXTS = {"0.2 M", "0.5 M", " 2  M", " 5  M", "10  M"};
constexpr std::array<BYTE, CLOCK_ITEMS> CLOCK_CODES = {0x07, 0x06, 0x03, 0x04, 0x05};

// Continuous sampling frequency; entry k has the code k + 1.
constexpr std::array<const char*, FREQ_ITEMS> FREQ_TEXTS = {"1 kHz", "100Hz", "10 Hz", "1  Hz"};
constexpr std::array<BYTE, FREQ_ITEMS> FREQ_CODES = {0x01, 0x02, 0x03, 0x04};

constexpr Command MakeCommand(BYTE command, BYTE parameter) { return {command, parameter, command}; }

// The width goes out as a number (10 to 32 -> 0x0A to 0x20), not as text.
constexpr Command WidthCommand(int channel, int width)
{
    return MakeCommand(channel == 1 ? CMD_WIDTH_CH1 : CMD_WIDTH_CH2, static_cast<BYTE>(width));
}

// A table of commands as the dialog stores it: one command after another.
template <std::size_t N>
constexpr std::array<BYTE, N * COMMAND_LENGTH> CommandTable(BYTE command, const std::array<BYTE, N>& codes)
{
    std::array<BYTE, N * COMMAND_LENGTH> t{};
    for (std::size_t i = 0; i < N; ++i) {
        const Command c = MakeCommand(command, codes[i]);
        for (std::size_t k = 0; k < COMMAND_LENGTH; ++k)
            t[i * COMMAND_LENGTH + k] = c[k];
    }
    return t;
}
constexpr auto ClockCommandTable() { return CommandTable(CMD_CLOCK, CLOCK_CODES); }
constexpr auto FreqCommandTable() { return CommandTable(CMD_FREQUENCY, FREQ_CODES); }

// Sample frame: 0x7E, channel 1 word (big-endian), channel 2 word (big-endian), 0x7E.
constexpr std::size_t FRAME_LENGTH = 10;
constexpr BYTE FRAME_DELIMITER = 0x7E;
constexpr std::size_t FRAME_CH1_OFFSET = 1;
constexpr std::size_t FRAME_CH2_OFFSET = 5;
constexpr std::size_t FRAME_WORD_LENGTH = 4;

constexpr int MIN_BIT_WIDTH = 10;
constexpr int MAX_BIT_WIDTH = 32;

} // namespace protocol
