#include "platform/posix/File.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

CFile::~CFile() { Close(); }

bool CFile::Open(const std::string& path, UINT flags)
{
    Close();
    int access = O_RDONLY;
    if (flags & modeWrite)
        access = O_WRONLY;
    else if (flags & modeReadWrite)
        access = O_RDWR;
    int oflags = access | O_CLOEXEC | O_NOCTTY;
    if (flags & modeCreate)
        oflags |= O_CREAT; // truncation waits for the lock
    const int fd = ::open(path.c_str(), oflags, 0644);
    if (fd < 0)
        return false;

    int lock = 0;
    if (flags & shareExclusive)
        lock = LOCK_EX;
    else if (flags & shareDenyWrite)
        lock = LOCK_SH;
    if (lock != 0 && ::flock(fd, lock | LOCK_NB) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return false;
    }
    if ((flags & modeCreate) && ::ftruncate(fd, 0) != 0) {
        const int e = errno;
        ::close(fd);
        errno = e;
        return false;
    }
    m_fd = fd;
    m_strPath = path;
    return true;
}

void CFile::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_strPath.clear();
}

long CFile::Read(void* buffer, std::size_t count)
{
    if (m_fd < 0) {
        errno = EBADF;
        return -1;
    }
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, count);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno != EINTR)
            return -1;
    }
}

bool CFile::Write(const void* buffer, std::size_t count)
{
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    const off_t start = ::lseek(m_fd, 0, SEEK_CUR);
    const char* p = static_cast<const char*>(buffer);
    std::size_t left = count;
    while (left > 0) {
        const ssize_t n = ::write(m_fd, p, left);
        if (n > 0) {
            p += n;
            left -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        const int e = (n == 0) ? ENOSPC : errno;
        if (start >= 0 && left != count && ::ftruncate(m_fd, start) == 0)
            ::lseek(m_fd, start, SEEK_SET);
        errno = e;
        return false;
    }
    return true;
}

long long CFile::SeekToEnd()
{
    if (m_fd < 0) {
        errno = EBADF;
        return -1;
    }
    return static_cast<long long>(::lseek(m_fd, 0, SEEK_END));
}

bool CFile::Flush()
{
    if (m_fd < 0) {
        errno = EBADF;
        return false;
    }
    return FlushFileToDisk(m_fd, m_strPath);
}

namespace {
std::atomic<FileFlushObserver> g_flushObserver{nullptr};
std::atomic<void*> g_flushContext{nullptr};
} // namespace

void SetFileFlushObserver(FileFlushObserver observer, void* context)
{
    g_flushContext.store(context);
    g_flushObserver.store(observer);
}

bool FlushFileToDisk(int fd, const std::string& path)
{
    int rc;
    do
        rc = ::fsync(fd);
    while (rc != 0 && errno == EINTR);
    const int e = errno;
    if (FileFlushObserver fn = g_flushObserver.load())
        fn(g_flushContext.load(), path, rc == 0);
    errno = e;
    return rc == 0;
}

bool SameFile(const std::string& a, const std::string& b)
{
    struct stat sa {};
    struct stat sb {};
    if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0)
        return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}
