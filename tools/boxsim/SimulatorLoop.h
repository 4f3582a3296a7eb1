// Runs the box on a pseudo-terminal: reads commands, streams frames on
// absolute deadlines (or as fast as the device takes them in burst mode), and
// ends on a signal. One thread; every wait is a poll(), never a spin.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/boxsim/BoxSimulator.h"
#include "tools/boxsim/DeviceWatch.h"
#include "tools/boxsim/LogFile.h"
#include "tools/boxsim/Options.h"
#include "tools/boxsim/PseudoTerminal.h"
#include "tools/boxsim/SymlinkGuard.h"

namespace boxsim
{

class SimulatorLoop
{
public:
    explicit SimulatorLoop(const Options& options);
    ~SimulatorLoop();
    SimulatorLoop(const SimulatorLoop&) = delete;
    SimulatorLoop& operator=(const SimulatorLoop&) = delete;

    // Sets up the device, prints its path as the first line on stdout and
    // serves until told to end. Returns the process exit status.
    int Run();

private:
    bool SetUp(std::string& error);
    SimTime Now() const;
    void Rearm();
    void ReadDevice();
    void WritePending();
    void FillBurst();
    void OnTimer();
    void OnHangUp();
    void ProcessWatch();
    void ListenerGone();
    // Frames are sent only while someone has the device open.
    bool Listening() const { return !m_hungUp && m_watch.HasListener(); }
    void CollectOutput();
    std::size_t PendingSize() const { return m_pending.size() - m_pendingOffset; }

    Options m_options;
    PseudoTerminal m_pty;
    DeviceWatch m_watch;
    SymlinkGuard m_link;
    LogFile m_commandLog;
    LogFile m_sentLog;
    std::optional<BoxSimulator> m_sim;

    int m_signalFd = -1;
    int m_timerFd = -1;
    std::int64_t m_startNs = 0; // CLOCK_MONOTONIC at start-up

    std::vector<std::uint8_t> m_pending;
    std::size_t m_pendingOffset = 0;

    bool m_hungUp = false;
    bool m_quit = false;

    std::uint64_t m_seenVersion = 0;
    SimTime m_scheduleBase{};
    std::chrono::nanoseconds m_period{};
    std::int64_t m_nextIndex = 0;
    SimTime m_lastByte{};
    std::uint64_t m_overruns = 0;
};

} // namespace boxsim
