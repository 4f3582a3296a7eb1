// Runs the real telvar-boxsim for a test and talks to it through its device.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

class BoxSimProcess
{
public:
    BoxSimProcess() = default;
    ~BoxSimProcess(); // ends the process if it still runs
    BoxSimProcess(const BoxSimProcess&) = delete;
    BoxSimProcess& operator=(const BoxSimProcess&) = delete;

    // Starts the simulator with the arguments and reads the first line of its
    // stdout (the device path). False when it did not start.
    bool Start(const std::vector<std::string>& args);
    const std::string& DevicePath() const { return m_path; }
    pid_t Pid() const { return m_pid; }
    // Closes the simulator's stdin.
    void CloseStdin();
    // Sends the signal and waits; returns the exit status, or -1 on a timeout or a crash.
    int Stop(int signal);
    // Waits for the process to end by itself; -1 when it has not.
    int WaitExit(std::chrono::milliseconds timeout);
    bool Running();
    // All of stdout after the first line, read to end of file (after the process ended).
    std::string RestOfStdout();
    // CPU time used so far, user and system.
    std::chrono::milliseconds CpuTime() const;

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
    int m_status = -1;
    std::string m_path;
    std::string m_stdoutRest;
};

// The device side: opens the slave raw and non-blocking, as the tool does.
class DeviceSide
{
public:
    explicit DeviceSide(const std::string& path);
    ~DeviceSide();
    DeviceSide(const DeviceSide&) = delete;
    DeviceSide& operator=(const DeviceSide&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    // TIOCEXCL, as the tool's serial port sets it; and whether it is set.
    void SetExclusive();
    bool Exclusive() const;
    void Write(const std::vector<std::uint8_t>& bytes);
    // Everything that arrives within the duration.
    std::vector<std::uint8_t> ReadFor(std::chrono::milliseconds duration);
    // Reads until n bytes have come or the timeout passes.
    std::vector<std::uint8_t> ReadAtLeast(std::size_t n, std::chrono::milliseconds timeout);
    // Reads until nothing has come for the quiet spell (or the timeout passes).
    std::vector<std::uint8_t> ReadUntilQuiet(std::chrono::milliseconds quiet, std::chrono::milliseconds timeout);
    void Close();

private:
    int m_fd = -1;
};

std::string BoxSimExecutable();
