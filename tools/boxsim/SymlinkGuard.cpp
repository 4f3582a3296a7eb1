#include "tools/boxsim/SymlinkGuard.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

namespace boxsim
{

namespace
{

bool PointsTo(const std::string& link, const std::string& target)
{
    char buf[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf - 1);
    return n >= 0 && std::string(buf, static_cast<std::size_t>(n)) == target;
}

} // namespace

bool SymlinkGuard::Create(const std::string& link, const std::string& target, std::string& error)
{
    Remove();
    struct stat st {
    };
    if (::lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            error = link + ": exists and is not a symlink";
            return false;
        }
        ::unlink(link.c_str());
    }
    if (::symlink(target.c_str(), link.c_str()) != 0) {
        error = link + ": " + std::strerror(errno);
        return false;
    }
    m_link = link;
    m_target = target;
    return true;
}

void SymlinkGuard::Remove()
{
    if (m_link.empty())
        return;
    // Another simulator may have taken the name over since; leave its link.
    if (PointsTo(m_link, m_target))
        ::unlink(m_link.c_str());
    m_link.clear();
    m_target.clear();
}

} // namespace boxsim
