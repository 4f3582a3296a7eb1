// Follows who has the device open, through inotify open and close events on
// the slave's node, checked against the open descriptors that /proc shows
// (the kernel merges events of the same kind that nobody has read yet, so two
// quick opens may come as one). The simulator holds the slave open itself (see
// PseudoTerminal), so the master never sees a hang-up; these events are how it
// knows that the tool has closed the port.
#pragma once

#include <string>
#include <sys/types.h>

namespace boxsim
{

class DeviceWatch
{
public:
    DeviceWatch() = default;
    ~DeviceWatch();
    DeviceWatch(const DeviceWatch&) = delete;
    DeviceWatch& operator=(const DeviceWatch&) = delete;

    // Watches the node; opens before this call are not counted.
    bool Start(const std::string& path, std::string& error);
    int Fd() const { return m_fd; }

    struct Changes {
        int opened = 0;
        int closed = 0;
    };
    // Reads the events queued so far, without blocking.
    Changes Read();
    // True while someone other than the simulator has the device open. Without
    // a watch, or after lost events, the answer is always yes.
    bool HasListener() const { return m_fd < 0 || m_lost || m_open > 0; }
    // True when the count of openers can be trusted (a watch without lost
    // events).
    bool Counting() const { return m_fd >= 0 && !m_lost; }

private:
    // Descriptors of the device in other processes, or -1 when /proc did
    // not show every process.
    int CountHolders() const;

    int m_fd = -1;
    int m_open = 0;
    bool m_lost = false;
    dev_t m_device = 0;
};

} // namespace boxsim
