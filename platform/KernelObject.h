// The object a HANDLE points at. Private to the platform layer.
#pragma once

namespace telvar_platform
{

struct KernelObject {
    enum class Kind { Event, SerialDevice };
    Kind kind;
    int fd;
    bool manualReset;
};

inline KernelObject* ToObject(void* handle)
{
    return static_cast<KernelObject*>(handle);
}

} // namespace telvar_platform
