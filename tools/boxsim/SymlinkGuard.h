// A symlink to the device for the life of the simulator.
#pragma once

#include <string>

namespace boxsim
{

class SymlinkGuard
{
public:
    SymlinkGuard() = default;
    ~SymlinkGuard() { Remove(); }
    SymlinkGuard(const SymlinkGuard&) = delete;
    SymlinkGuard& operator=(const SymlinkGuard&) = delete;

    // Makes link point to target. A symlink already at link is replaced (a
    // stale one from an earlier run); any other file there is left alone and
    // the call fails.
    bool Create(const std::string& link, const std::string& target, std::string& error);
    // Removes the link if it still points to our target.
    void Remove();

private:
    std::string m_link;
    std::string m_target;
};

} // namespace boxsim
