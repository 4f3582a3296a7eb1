// The master side of a pseudo-terminal, raw, non-blocking. The slave is the
// device the tool opens.
#pragma once

#include <string>

namespace boxsim {

class PseudoTerminal {
public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool Open(std::string& error);
    int MasterFd() const { return m_master; }
    const std::string& SlavePath() const { return m_slavePath; }

    // True while no slave is open after one was (the master then reports
    // POLLHUP continuously and reads fail with EIO). A fresh terminal whose
    // slave was never opened is not hung up.
    bool HungUp() const;

private:
    int m_master = -1;
    std::string m_slavePath;
};

} // namespace boxsim
