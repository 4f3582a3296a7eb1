// The master side of a pseudo-terminal, raw, non-blocking. The slave is the
// device the tool opens.
//
// The simulator also keeps a slave descriptor of its own. A pty's slave
// outlives its last close while the master is open, and with it the exclusive
// flag (TIOCEXCL) the tool sets: without our own descriptor nobody but root
// could clear the flag, and the tool could not open the port a second time.
// The descriptor also lets frames nobody read be discarded when the tool
// closes, so that a new open does not start with stale data.
#pragma once

#include <string>

namespace boxsim
{

class PseudoTerminal
{
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool Open(std::string& error);
    int MasterFd() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }

    // Clears the exclusive flag the last user of the device left behind.
    void ReleaseExclusive();
    // Discards what was sent to the device and not read.
    void DiscardUnread();

    // True while no slave is open after one was (the master then reports
    // POLLHUP continuously and reads fail with EIO). With our own slave
    // descriptor this does not happen; it is checked all the same.
    bool HungUp() const;

private:
    int m_master = -1;
    int m_keeper = -1; // our own slave descriptor
    std::string m_slavePath;
};

} // namespace boxsim
