#include "platform/posix/ReplacementFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/File.h"

namespace {

std::string DirOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string BaseOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A hidden name beside the target that no one else uses at this moment.
std::string TempName(const std::string& dir, const std::string& base)
{
    static std::atomic<unsigned> counter{0};
    std::string name = BaseOf(base);
    if (name.size() > 150)
        name.resize(150);
    return dir + "/." + name + ".telvar-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
}

void CloseKeepingErrno(int& fd)
{
    if (fd < 0)
        return;
    const int e = errno;
    ::close(fd);
    fd = -1;
    errno = e;
}

} // namespace

CReplacementFile::~CReplacementFile() { Abandon(); }

bool CReplacementFile::Open(const std::string& target)
{
    Abandon();
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        // Looked at before any open: opening a FIFO can block and opening a
        // device can change its lines.
        if (!S_ISREG(st.st_mode)) {
            errno = EINVAL;
            return false;
        }
        m_targetFd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (m_targetFd < 0)
            return false;
        // The name may have changed hands since the stat.
        if (::fstat(m_targetFd, &st) != 0 || !S_ISREG(st.st_mode)) {
            CloseKeepingErrno(m_targetFd);
            errno = EINVAL;
            return false;
        }
        if (::flock(m_targetFd, LOCK_EX | LOCK_NB) != 0) {
            CloseKeepingErrno(m_targetFd);
            return false;
        }
        char* resolved = ::realpath(target.c_str(), nullptr);
        if (!resolved) {
            CloseKeepingErrno(m_targetFd);
            return false;
        }
        m_finalPath = resolved;
        std::free(resolved);
        m_haveOldMode = true;
        m_oldMode = st.st_mode & 07777;
        m_oldUid = st.st_uid;
        m_oldGid = st.st_gid;
    } else if (errno == ENOENT) {
        struct stat link {};
        if (::lstat(target.c_str(), &link) == 0) {
            errno = ENOENT; // a link to nowhere: nothing sensible to replace
            return false;
        }
        m_finalPath = target;
    } else {
        return false;
    }

    m_dir = DirOf(m_finalPath);
    // Unnamed until complete, so that even a killed process leaves nothing.
    m_fd = ::open(m_dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (m_fd >= 0) {
        m_anonymous = true;
        return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        CloseKeepingErrno(m_targetFd);
        return false;
    }
    // Filesystems without unnamed files (FAT, some network ones): a hidden
    // name, removed again unless the copy completes.
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_tempPath = TempName(m_dir, m_finalPath);
        m_fd = ::open(m_tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC, 0644);
        if (m_fd >= 0)
            return true;
        if (errno != EEXIST)
            break;
    }
    m_tempPath.clear();
    CloseKeepingErrno(m_targetFd);
    return false;
}

bool CReplacementFile::Write(const void* buffer, std::size_t count)
{
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    const char* p = static_cast<const char*>(buffer);
    while (count > 0) {
        const ssize_t n = ::write(m_fd, p, count);
        if (n > 0) {
            p += n;
            count -= static_cast<std::size_t>(n);
        } else if (n == 0) {
            errno = ENOSPC;
            return false;
        } else if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool CReplacementFile::Commit()
{
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    if (!FlushFileToDisk(m_fd, m_finalPath))
        return false;
    if (m_haveOldMode) {
        // As the old file was; an owner we may not give stays ours.
        (void)!::fchown(m_fd, m_oldUid, m_oldGid);
        (void)!::fchmod(m_fd, m_oldMode);
    }
    if (m_anonymous) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = TempName(m_dir, m_finalPath);
            // Through /proc, or directly where that is not mounted (which
            // needs a privilege).
            if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0
                || (errno == ENOENT && ::linkat(m_fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0)) {
                m_tempPath = name;
                break;
            }
            if (errno != EEXIST)
                return false;
        }
        if (m_tempPath.empty())
            return false;
        m_anonymous = false;
    }
    if (::rename(m_tempPath.c_str(), m_finalPath.c_str()) != 0)
        return false;
    m_tempPath.clear();
    ::close(m_fd);
    m_fd = -1;
    CloseKeepingErrno(m_targetFd);
    // The new name must reach the disk as well as the data.
    int dirFd = ::open(m_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    const bool ok = FlushFileToDisk(dirFd, m_dir);
    CloseKeepingErrno(dirFd);
    return ok;
}

void CReplacementFile::Abandon()
{
    if (!m_tempPath.empty()) {
        ::unlink(m_tempPath.c_str());
        m_tempPath.clear();
    }
    CloseKeepingErrno(m_fd);
    CloseKeepingErrno(m_targetFd);
    m_anonymous = false;
    m_haveOldMode = false;
}
