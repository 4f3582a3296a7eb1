// The commands that start acquisition, in their order and with the pauses the
// box needs between them. The dialog and the headless recorder both send
// exactly this.
#pragma once

#include <chrono>
#include <functional>

#include "measurement/Protocol.h"

// The box needs this long between two commands of the start sequence.
constexpr std::chrono::milliseconds START_COMMAND_PAUSE{2};

struct StartCommands {
    protocol::Command width1{};
    protocol::Command width2{};
    // Three bytes each; null sends nothing for that setting (no selection),
    // so the box keeps what it had.
    const BYTE* clock = nullptr;
    const BYTE* frequency = nullptr;
    const BYTE* start = protocol::START_CMD.data();
    // Continuous mode: frequency and start follow; response mode: they do not.
    bool continuous = true;
};

// The clock and frequency commands of the tables in Protocol.h; an index
// outside a table sends nothing for it.
StartCommands MakeStartCommands(int bitWidth1, int bitWidth2, int clockIndex, int freqIndex, bool continuous);

// Hands each command to send (bytes, length) in order: width 1, pause, width 2,
// pause, clock, pause, and in continuous mode frequency, pause, start.
void SendStartSequence(const StartCommands& commands, const std::function<void(const BYTE*, int)>& send);
