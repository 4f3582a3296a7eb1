// A file written in full beside its target and put in the target's place only
// once complete and on disk: a copy that fails, or a process that dies part
// way, leaves an existing target exactly as it was and no partial file.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

class CReplacementFile {
public:
    CReplacementFile() = default;
    ~CReplacementFile();
    CReplacementFile(const CReplacementFile&) = delete;
    CReplacementFile& operator=(const CReplacementFile&) = delete;

    // Prepares the replacement of target (UTF-8 path) without blocking and
    // without touching it. Refuses (false, errno set) a target that is not a
    // regular file (EINVAL: FIFO, device node, socket, directory), one that
    // another opener has locked (EWOULDBLOCK), and a folder where no new file
    // can be made. A symbolic link is followed: the file it names is replaced.
    bool Open(const std::string& target);
    int Handle() const { return m_fd; }

    // Writes all count bytes, or false with errno set.
    bool Write(const void* buffer, std::size_t count);

    // Flushes the new file to disk, gives it the old target's mode, puts it in
    // the target's place and flushes the folder. False with errno set; the
    // target is then as it was (unless only the last folder flush failed).
    bool Commit();

    // Drops the new file; the target stays as it was. The destructor does this
    // when Commit has not succeeded.
    void Abandon();

private:
    int m_fd = -1;           // the new file
    int m_targetFd = -1;     // the old target, held under its lock until replaced
    bool m_anonymous = false; // the new file has no name yet (O_TMPFILE)
    bool m_haveOldMode = false;
    mode_t m_oldMode = 0;
    uid_t m_oldUid = 0;
    gid_t m_oldGid = 0;
    std::string m_finalPath; // the file replaced
    std::string m_dir;
    std::string m_tempPath;  // the new file's name while it has one
};
