// The object a HANDLE points at. Private to the platform layer.
#pragma once

#include <string>

void ReleaseSerialLock(const std::string& lockPath);

namespace telvar_platform
{

struct KernelObject {
    enum class Kind { Event, SerialDevice };
    Kind kind;
    int fd;
    bool manualReset;
    std::string lockPath = {}; // a serial device's UUCP lock file, removed with the object

    // CloseHandle closes fd first: the lock goes after the device.
    ~KernelObject() { ReleaseSerialLock(lockPath); }
};

inline KernelObject* ToObject(void* handle)
{
    return static_cast<KernelObject*>(handle);
}

} // namespace telvar_platform
