#include "platform/posix/SerialPortList.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The kinds in the order they are handed out.
constexpr const char* kGroups[] = {"ttyUSB", "ttyACM", "ttyS", "ttyAMA", "ttymxc", "rfcomm"};
constexpr int kGroupCount = sizeof kGroups / sizeof kGroups[0];
constexpr int kUartGroup = 2;

// "ttyUSB12" with prefix "ttyUSB" gives 12; -1 when the rest is not a number.
long DeviceIndex(const std::string& name, const std::string& prefix)
{
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
        return -1;
    long n = 0;
    for (std::size_t i = prefix.size(); i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9' || n > 100000)
            return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

// The first line of a small attribute file, without its line end; empty when
// it cannot be read.
std::string ReadAttribute(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string Resolve(const std::string& path)
{
    char* r = ::realpath(path.c_str(), nullptr);
    if (!r)
        return {};
    std::string s(r);
    std::free(r);
    return s;
}

std::string Parent(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

std::string LinkBaseName(const std::string& link)
{
    char target[4096];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return {};
    std::string s(target, static_cast<std::size_t>(n));
    const std::size_t slash = s.find_last_of('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

std::vector<std::string> DirectoryNames(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The driver of the device behind a tty: the serial core puts port and
// controller devices of its own ("port", "ctrl") between the tty and the
// hardware, so those are looked through.
std::string DriverOf(std::string device, const std::string& sysRoot)
{
    for (int level = 0; level < 4 && device.size() > sysRoot.size() && device.compare(0, sysRoot.size(), sysRoot) == 0;
         ++level) {
        const std::string driver = LinkBaseName(device + "/driver");
        if (!driver.empty() && driver != "port" && driver != "ctrl")
            return driver;
        device = Parent(device);
    }
    return {};
}

// Maker, product and serial number of the USB device a tty hangs under.
void ReadUsbAttributes(std::string device, const std::string& sysRoot, SerialDeviceInfo& info)
{
    while (device.size() > sysRoot.size() && device.compare(0, sysRoot.size(), sysRoot) == 0) {
        if (Exists(device + "/idVendor")) {
            info.manufacturer = ReadAttribute(device + "/manufacturer");
            info.product = ReadAttribute(device + "/product");
            info.serial = ReadAttribute(device + "/serial");
            return;
        }
        device = Parent(device);
    }
}

std::set<std::string> ActiveConsoles(const std::string& classDir)
{
    std::set<std::string> names;
    std::istringstream in(ReadAttribute(classDir + "/console/active"));
    for (std::string name; in >> name;)
        names.insert(name);
    return names;
}

// Device name to its stable name under by-id.
std::map<std::string, std::string> StableNames(const std::string& byIdDir)
{
    std::map<std::string, std::string> names;
    for (const std::string& entry : DirectoryNames(byIdDir)) {
        const std::string device = LinkBaseName(byIdDir + "/" + entry);
        if (!device.empty() && !names.count(device))
            names[device] = byIdDir + "/" + entry;
    }
    return names;
}

std::string SamePath(const std::string& path)
{
    const std::string r = Resolve(path);
    return r.empty() ? path : r;
}

} // namespace

std::vector<SerialDeviceInfo> FindSerialDevices(const std::string& root)
{
    const std::string classDir = root + "/sys/class/tty";
    const std::string sysRoot = Resolve(root + "/sys");
    const std::set<std::string> consoles = ActiveConsoles(classDir);
    std::vector<std::pair<long, std::string>> groups[kGroupCount];
    for (const std::string& name : DirectoryNames(classDir)) {
        for (int g = 0; g < kGroupCount; ++g) {
            const long index = DeviceIndex(name, kGroups[g]);
            if (index >= 0) {
                groups[g].emplace_back(index, name);
                break;
            }
        }
    }
    const std::map<std::string, std::string> stable = StableNames(root + "/dev/serial/by-id");
    std::vector<SerialDeviceInfo> result;
    for (int g = 0; g < kGroupCount; ++g) {
        std::sort(groups[g].begin(), groups[g].end());
        for (const auto& [index, name] : groups[g]) {
            if (consoles.count(name))
                continue; // the kernel writes its messages there
            const std::string entry = classDir + "/" + name;
            // The serial core tells the UART it found; 0 is none. The 8250
            // driver lists every possible ttyS, present or not.
            const std::string type = ReadAttribute(entry + "/type");
            if (g == kUartGroup && (type.empty() || std::atol(type.c_str()) == 0))
                continue;
            if (!type.empty() && std::atol(type.c_str()) == 0)
                continue;
            SerialDeviceInfo info;
            info.name = name;
            info.path = root + "/dev/" + name;
            const std::string device = Resolve(entry + "/device");
            if (!device.empty() && !sysRoot.empty()) {
                info.driver = DriverOf(device, sysRoot);
                if (g == 0 || g == 1)
                    ReadUsbAttributes(device, sysRoot, info);
            }
            if (auto it = stable.find(name); it != stable.end())
                info.byId = it->second;
            result.push_back(std::move(info));
        }
    }
    return result;
}

std::vector<std::string> ListSerialDevices(const std::string& root)
{
    std::vector<std::string> paths;
    for (const SerialDeviceInfo& d : FindSerialDevices(root))
        paths.push_back(d.path);
    return paths;
}

std::array<std::string, 4> AssignSerialDevices(const std::array<std::string, 4>& configured,
                                               const std::vector<std::string>& found)
{
    std::vector<std::string> taken;
    for (const auto& c : configured)
        if (!c.empty())
            taken.push_back(SamePath(c));
    std::array<std::string, 4> result = configured;
    std::size_t next = 0;
    for (auto& slot : result) {
        if (!slot.empty())
            continue;
        while (next < found.size() && std::find(taken.begin(), taken.end(), SamePath(found[next])) != taken.end())
            ++next;
        if (next < found.size())
            slot = found[next++];
    }
    return result;
}

namespace {

std::array<std::string, 4> ConfiguredDevices(bool& needFound)
{
    std::array<std::string, 4> configured;
    needFound = false;
    for (UINT n = kFirstSerialPort; n <= kLastSerialPort; ++n) {
        const std::string var = "TELVAR_COM" + std::to_string(n);
        const char* value = std::getenv(var.c_str());
        if (value && *value)
            configured[n - 1] = value;
        else
            needFound = true;
    }
    return configured;
}

} // namespace

std::array<std::string, 4> SerialPortDevices()
{
    bool needFound = false;
    const std::array<std::string, 4> configured = ConfiguredDevices(needFound);
    return AssignSerialDevices(configured, needFound ? ListSerialDevices() : std::vector<std::string>{});
}

std::string SerialPortDevice(UINT portNumber)
{
    if (portNumber < kFirstSerialPort || portNumber > kLastSerialPort)
        return {};
    return SerialPortDevices()[portNumber - 1];
}

std::array<SerialPortEntry, 4> DescribeSerialPorts(const std::string& root)
{
    bool needFound = false;
    const std::array<std::string, 4> configured = ConfiguredDevices(needFound);
    // Always looked at: a configured path may still be one of these.
    const std::vector<SerialDeviceInfo> found = FindSerialDevices(root);
    std::vector<std::string> paths;
    for (const SerialDeviceInfo& d : found)
        paths.push_back(d.path);
    const std::array<std::string, 4> devices = AssignSerialDevices(configured, paths);
    std::array<SerialPortEntry, 4> entries;
    for (std::size_t i = 0; i < 4; ++i) {
        entries[i].device = devices[i];
        entries[i].configured = !configured[i].empty();
        if (devices[i].empty())
            continue;
        const std::string same = SamePath(devices[i]);
        for (const SerialDeviceInfo& d : found) {
            if (d.path == devices[i] || SamePath(d.path) == same) {
                entries[i].info = d;
                break;
            }
        }
    }
    return entries;
}
