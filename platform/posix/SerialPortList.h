// Which serial device each port number stands for, found through sysfs
// without opening any device, and what can be told about each.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "platform/posix/WinTypes.h"

// Port numbers the operator can choose.
constexpr UINT kFirstSerialPort = 1;
constexpr UINT kLastSerialPort = 4;

// One serial device present.
struct SerialDeviceInfo {
    std::string path;         // "/dev/ttyUSB0" (under the root given)
    std::string name;         // "ttyUSB0"
    std::string driver;       // the kernel driver behind it, "ftdi_sio"; may be empty
    std::string byId;         // its stable name, "/dev/serial/by-id/usb-..."; may be empty
    std::string manufacturer; // USB adapters only, from the USB device; may be empty
    std::string product;
    std::string serial;
};

// Serial devices present, in the order they are handed out: ttyUSB*, ttyACM*,
// ttyS* with a real UART behind them, ttyAMA*, ttymxc*, rfcomm*, each group in
// numeric order; the kernel's active consoles left out. Read from
// root/sys/class/tty, root/sys/class/tty/console/active and
// root/dev/serial/by-id; root is empty for the running system.
std::vector<SerialDeviceInfo> FindSerialDevices(const std::string& root = "");
// The paths of FindSerialDevices.
std::vector<std::string> ListSerialDevices(const std::string& root = "");

// Gives each port number without a configured device (empty entry) the next
// found device that no configured entry names.
std::array<std::string, 4> AssignSerialDevices(const std::array<std::string, 4>& configured,
                                               const std::vector<std::string>& found);

// The device port number n (1 to 4) stands for at this moment: the path in
// TELVAR_COM<n> when set, otherwise the next of the devices found not already
// named. Empty when there is none.
std::string SerialPortDevice(UINT portNumber);
// The same for all four numbers, index 0 for port 1.
std::array<std::string, 4> SerialPortDevices();

// What the port tooltip tells of one number.
struct SerialPortEntry {
    std::string device;    // empty: no device for this number
    bool configured = false; // named by TELVAR_COM<n>
    SerialDeviceInfo info; // filled when the device is one of those found
};
std::array<SerialPortEntry, 4> DescribeSerialPorts(const std::string& root = "");
