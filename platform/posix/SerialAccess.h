// Whether a serial device is free for us: other processes that have it open,
// the UUCP lock files Linux serial programs share, and why an open failed.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

// Where the device may be looked at and locked. Tests point these elsewhere.
struct SerialOpenOptions {
    std::string lockDir = "/run/lock"; // UUCP lock files, used when writable
    std::string procRoot = "/proc";    // processes and their open files
};

// Another process that has the device open.
struct SerialHolder {
    pid_t pid = 0;
    std::string name; // its command name
};

// The first other process that has the device open, found as fuser finds it
// (its open descriptors under procRoot). A process that holds the master side
// of the same pseudo-terminal is the line's far end, not a competing reader,
// and does not count; nor does this process. Only processes whose
// descriptors we may read are seen.
std::optional<SerialHolder> FindSerialHolder(const std::string& device, const std::string& procRoot = "/proc");

// The lock file of a device: lockDir/LCK..<name of the device file>.
std::string SerialLockPath(const std::string& device, const std::string& lockDir);

// Takes the device's lock file: creates it with our PID in the HDB format
// (ten characters, right-aligned, and a line end), taking over a lock whose
// process is gone. Returns the owner's PID when another live process holds
// it (nothing taken), else 0; created tells whether we made the file (and so
// must remove it). An unwritable folder only has its existing locks honoured.
pid_t TakeSerialLock(const std::string& device, const std::string& lockDir, std::string& lockPath, bool& created);

// Removes a lock file we created, if it still names us.
void ReleaseSerialLock(const std::string& lockPath);

// Why the last OpenSerialDevice of this thread failed.
struct SerialOpenFailure {
    enum class Kind { None, NoDevice, PermissionDenied, HeldByProcess, LockedByFile, Other };
    Kind kind = Kind::None;
    std::string device; // the path tried; empty when no device stands for the number
    int error = 0;      // errno of the failure
    pid_t pid = 0;      // the holder or the lock's owner; 0 when unknown
    std::string processName;
    std::string lockPath;
};
const SerialOpenFailure& LastSerialOpenFailure();
void SetSerialOpenFailure(const SerialOpenFailure& failure);
void ClearSerialOpenFailure();

// The reason for the operator (Chinese), and one line for stderr; port is the
// port number the operator chose.
std::string SerialOpenReasonText(const SerialOpenFailure& failure, unsigned port);
std::string SerialOpenReasonLogLine(const SerialOpenFailure& failure, unsigned port);
