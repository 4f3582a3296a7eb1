// Serial devices over POSIX: opening a device exclusively, the fixed line
// settings, purge, queued input, read, write.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "platform/posix/SerialAccess.h"
#include "platform/posix/SerialPortList.h"
#include "platform/posix/Sync.h"
#include "platform/posix/WinTypes.h"

// Opens the device for reading and writing, non-blocking, without becoming the
// controlling terminal, exclusively: refused while another process has it
// open or holds its UUCP lock file (see SerialAccess.h); then the lock file,
// flock and TIOCEXCL. Null on failure with errno set (a device held by
// another opener fails with EBUSY) and LastSerialOpenFailure() telling why.
// Closing the handle removes the lock file.
HANDLE OpenSerialDevice(const std::string& path);
HANDLE OpenSerialDevice(const std::string& path, const SerialOpenOptions& options);

// Raw mode, 115200 baud, 8 data bits, no parity, 1 stop bit, receiver on,
// modem status ignored, no flow control, RTS asserted (where the device has
// modem lines). FALSE with errno set on failure.
BOOL ConfigureSerialLine(HANDLE port);

// Discards unread input and unsent output.
BOOL PurgeSerial(HANDLE port);
// Discards unread input only. Before a write this is all a purge can mean:
// every write has drained, so no output is pending, and on a pseudo-terminal
// an output flush would throw away bytes already written that the far end has
// not read yet.
BOOL PurgeSerialInput(HANDLE port);

// Number of bytes waiting in the input queue, those the driver has received
// but the kernel not yet queued included; -1 with errno set on failure.
int SerialInputQueued(HANDLE port);

// One read() of up to size bytes; the read() result, errno set when negative.
long ReadSerial(HANDLE port, BYTE* buffer, std::size_t size);

// TRUE when the line has hung up or failed (poll reports POLLHUP or POLLERR).
BOOL SerialLineBroken(HANDLE port);

// Number of bytes written but not yet sent on the line, -1 with errno set on
// failure.
int SerialOutputQueued(HANDLE port);

// Writes all bytes and waits until they have left the output queue. Gives up
// after 1000 ms + 1000 ms per byte (errno ETIMEDOUT), or when cancel (an
// event, may be null) is set first (errno ECANCELED).
BOOL WriteSerial(HANDLE port, const BYTE* data, std::size_t size, HANDLE cancel);

// Sees every write that reaches a device, with the moment it began and the
// moment its bytes had left. For tests and diagnostics; set it before any port
// thread runs. Null removes it.
using SerialWriteObserver = void (*)(void* context, const BYTE* data, std::size_t size,
                                     std::chrono::steady_clock::time_point begin,
                                     std::chrono::steady_clock::time_point end);
void SetSerialWriteObserver(SerialWriteObserver observer, void* context);
