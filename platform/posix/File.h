// Files with the sharing rules the system relies on: "no sharing" and "deny
// write" are non-blocking flock locks, taken before anything is truncated.
#pragma once

#include <cstddef>
#include <string>

#include "platform/posix/WinTypes.h"

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        modeCreate = 0x1000,
    };

    CFile() = default;
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens path (UTF-8). modeCreate creates the file or truncates it, but only
    // once the lock is held. Returns false with errno set on failure.
    bool Open(const std::string& path, UINT flags);
    bool IsOpen() const { return m_fd >= 0; }
    void Close();

    // Reads up to count bytes; returns the count read (0 at the end), or -1.
    long Read(void* buffer, std::size_t count);
    // Writes all count bytes, or reports failure (errno set). A write that
    // stopped part-way is taken back, so the file never ends in a torn piece.
    bool Write(const void* buffer, std::size_t count);
    // Moves to the end; returns the new position or -1.
    long long SeekToEnd();
    // Puts what was written on the disk (fsync). False with errno set.
    bool Flush();

    int Handle() const { return m_fd; }
    const std::string& GetFilePath() const { return m_strPath; }

private:
    int m_fd = -1;
    std::string m_strPath;
};

// True when a and b name the same existing file (same device and inode).
bool SameFile(const std::string& a, const std::string& b);

// Sees every flush of a file to disk, with the path it was made for and
// whether it succeeded. For tests and diagnostics; null removes it.
using FileFlushObserver = void (*)(void* context, const std::string& path, bool ok);
void SetFileFlushObserver(FileFlushObserver observer, void* context);
// Flushes fd to disk (fsync, retried on EINTR) and tells the observer.
bool FlushFileToDisk(int fd, const std::string& path);
