// The name under which a serial device comes back after it was unplugged.
#pragma once

#include <string>

namespace record
{

// The entry of byIdDir (a folder of links such as /dev/serial/by-id) that
// leads to the same device as path; path itself when there is none.
std::string StableDevicePath(const std::string& path, const std::string& byIdDir = "/dev/serial/by-id");

// Why an open of a serial device failed, from its errno, in one line.
std::string OpenFailureReason(int err);

} // namespace record
