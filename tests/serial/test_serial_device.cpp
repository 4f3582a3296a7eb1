#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <sys/inotify.h>

#include "SerialTestSupport.h"
#include "platform/posix/SerialDevice.h"
#include "platform/posix/Sync.h"

using namespace serialtest;

TEST(SerialEvents, ManualResetEventStaysSetUntilReset)
{
    HANDLE e = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(e));
    ASSERT_TRUE(SetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(e, INFINITE), WAIT_OBJECT_0); // waiting does not consume it
    ASSERT_TRUE(ResetEvent(e));
    EXPECT_EQ(WaitForSingleObject(e, 20), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(e));
}

TEST(SerialEvents, TheLowestSignalledIndexWins)
{
    HANDLE h[3] = {CreateEvent(nullptr, TRUE, FALSE, nullptr), CreateEvent(nullptr, TRUE, FALSE, nullptr),
                   CreateEvent(nullptr, TRUE, FALSE, nullptr)};
    struct Case {
        bool set[3];
        DWORD want;
    };
    const Case cases[] = {{{true, true, true}, WAIT_OBJECT_0},
                          {{false, true, true}, WAIT_OBJECT_0 + 1},
                          {{false, false, true}, WAIT_OBJECT_0 + 2},
                          {{true, false, true}, WAIT_OBJECT_0},
                          {{false, false, false}, WAIT_TIMEOUT}};
    for (const Case& c : cases) {
        for (int i = 0; i < 3; ++i)
            c.set[i] ? SetEvent(h[i]) : ResetEvent(h[i]);
        EXPECT_EQ(WaitForMultipleObjects(3, h, FALSE, 10), c.want);
    }
    for (HANDLE e : h)
        CloseHandle(e);
}

TEST(SerialEvents, AWaitEndsWhenAnotherThreadSetsTheEvent)
{
    HANDLE h[2] = {CreateEvent(nullptr, TRUE, FALSE, nullptr), CreateEvent(nullptr, TRUE, FALSE, nullptr)};
    std::thread setter([&] { SetEvent(h[1]); });
    EXPECT_EQ(WaitForMultipleObjects(2, h, FALSE, INFINITE), WAIT_OBJECT_0 + 1);
    setter.join();
    for (HANDLE e : h)
        CloseHandle(e);
}

TEST(SerialDevices, APortIsSignalledByInputAndByHangUp)
{
    Pty pty;
    HANDLE port = OpenSerialDevice(pty.Path());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(ConfigureSerialLine(port));
    HANDLE stop = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    HANDLE objects[2] = {stop, port};
    EXPECT_EQ(WaitForMultipleObjects(2, objects, FALSE, 20), WAIT_TIMEOUT);
    EXPECT_FALSE(SerialLineBroken(port));

    pty.Send({0x41, 0x42});
    EXPECT_EQ(WaitForMultipleObjects(2, objects, FALSE, 5000), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(SerialInputQueued(port), 2);
    BYTE b[4] = {};
    EXPECT_EQ(ReadSerial(port, b, sizeof b), 2);
    EXPECT_EQ(b[0], 0x41);
    EXPECT_EQ(b[1], 0x42);

    pty.Send({0x43});
    ASSERT_EQ(WaitForMultipleObjects(2, objects, FALSE, 5000), WAIT_OBJECT_0 + 1);
    EXPECT_TRUE(PurgeSerial(port));
    EXPECT_EQ(SerialInputQueued(port), 0);

    const BYTE cmd[3] = {0x7E, 0x01, 0x7E};
    EXPECT_TRUE(WriteSerial(port, cmd, 3, stop));
    std::vector<unsigned char> got;
    pty.Collect(got);
    EXPECT_EQ(got, (std::vector<unsigned char>{0x7E, 0x01, 0x7E}));

    pty.CloseMaster();
    EXPECT_EQ(WaitForMultipleObjects(2, objects, FALSE, 5000), WAIT_OBJECT_0 + 1);
    EXPECT_TRUE(SerialLineBroken(port));
    CloseHandle(port);
    CloseHandle(stop);
}

TEST(SerialDevices, AnOpenDeviceIsHeldExclusively)
{
    Pty pty;
    HANDLE first = OpenSerialDevice(pty.Path());
    ASSERT_NE(first, nullptr);
    errno = 0;
    EXPECT_EQ(OpenSerialDevice(pty.Path()), nullptr);
    EXPECT_EQ(errno, EBUSY);
    CloseHandle(first);
    HANDLE again = OpenSerialDevice(pty.Path());
    EXPECT_NE(again, nullptr);
    CloseHandle(again);
    EXPECT_EQ(OpenSerialDevice("/nonexistent/ttyUSB0"), nullptr);
    EXPECT_EQ(OpenSerialDevice(""), nullptr);
}

TEST(SerialDevices, AWriteThatCannotLeaveIsCancelledByItsEvent)
{
    Pty pty;
    HANDLE port = OpenSerialDevice(pty.Path());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(ConfigureSerialLine(port));
    HANDLE cancel = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    // Nobody reads the master: the line fills up and the write has to wait.
    std::vector<BYTE> big(1 << 20, 0x55);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        SetEvent(cancel);
    });
    errno = 0;
    EXPECT_FALSE(WriteSerial(port, big.data(), big.size(), cancel));
    EXPECT_EQ(errno, ECANCELED);
    canceller.join();
    CloseHandle(cancel);
    CloseHandle(port);
}

namespace {

namespace fs = std::filesystem;

// A system's sysfs and /dev as the kernel and udev lay them out, under a
// temporary root.
class FakeSystem {
public:
    FakeSystem() : m_root(fs::temp_directory_path() / ("telvar-sys-" + std::to_string(getpid()) + "-" + std::to_string(s_count++)))
    {
        fs::create_directories(m_root / "sys/class/tty");
        fs::create_directories(m_root / "dev/serial/by-id");
    }
    ~FakeSystem() { fs::remove_all(m_root); }

    std::string Root() const { return m_root.string(); }
    std::string Dev(const std::string& name) const { return (m_root / "dev" / name).string(); }

    // A hardware device under sys/devices with the driver bound to it.
    void Device(const std::string& path, const std::string& driver = "") const
    {
        fs::create_directories(m_root / "sys/devices" / path);
        if (!driver.empty()) {
            fs::create_directories(m_root / "sys/bus/any/drivers" / driver);
            fs::create_symlink(m_root / "sys/bus/any/drivers" / driver, m_root / "sys/devices" / path / "driver");
        }
    }
    // The USB device itself, with the attributes the kernel reads from it.
    void Usb(const std::string& path, const std::string& maker, const std::string& product,
             const std::string& serial) const
    {
        Device(path, "usb");
        Write(path + "/idVendor", "0403");
        Write(path + "/manufacturer", maker);
        Write(path + "/product", product);
        if (!serial.empty())
            Write(path + "/serial", serial);
    }
    // A tty class entry; parent empty for a virtual one, type "" when the
    // serial core does not handle it. Its /dev node is a plain file.
    void Tty(const std::string& name, const std::string& parent, const std::string& type = "") const
    {
        const fs::path dir = parent.empty() ? m_root / "sys/devices/virtual/tty" / name
                                            : m_root / "sys/devices" / parent / "tty" / name;
        fs::create_directories(dir);
        if (!parent.empty())
            fs::create_symlink(m_root / "sys/devices" / parent, dir / "device");
        if (!type.empty())
            std::ofstream(dir / "type") << type << "\n";
        fs::create_directory_symlink(fs::relative(dir, m_root / "sys/class/tty"), m_root / "sys/class/tty" / name);
        std::ofstream(m_root / "dev" / name) << "";
    }
    void ById(const std::string& link, const std::string& name) const
    {
        fs::create_symlink("../../" + name, m_root / "dev/serial/by-id" / link);
    }
    void Consoles(const std::string& active) const
    {
        fs::create_directories(m_root / "sys/devices/virtual/tty/console");
        std::ofstream(m_root / "sys/devices/virtual/tty/console/active") << active << "\n";
        fs::create_directory_symlink("../../devices/virtual/tty/console", m_root / "sys/class/tty/console");
    }

private:
    void Write(const std::string& path, const std::string& text) const
    {
        std::ofstream(m_root / "sys/devices" / path) << text << "\n";
    }

    static inline int s_count = 0;
    fs::path m_root;
};

// A machine with a bit of everything: two USB adapters, a modem, the console
// UART, another real UART, a UART slot with nothing behind it, an ARM UART, a
// Bluetooth serial link and the virtual consoles.
void Populate(const FakeSystem& sys, const std::string& consoles)
{
    sys.Usb("pci0000:00/0000:00:14.0/usb1/1-2", "FTDI", "FT232R USB UART", "A10XK3");
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0", "ftdi_sio");
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB10", "ftdi_sio");
    sys.Tty("ttyUSB10", "pci0000:00/0000:00:14.0/usb1/1-2/1-2:1.0/ttyUSB10");
    sys.ById("usb-FTDI_FT232R_USB_UART_A10XK3-if00-port0", "ttyUSB10");

    sys.Usb("pci0000:00/0000:00:14.0/usb1/1-4", "Prolific Technology Inc.", "USB-Serial Controller", "");
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0", "pl2303");
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/ttyUSB2", "pl2303");
    sys.Tty("ttyUSB2", "pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/ttyUSB2");
    sys.ById("usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0", "ttyUSB2");

    sys.Usb("pci0000:00/0000:00:14.0/usb1/1-3", "Arduino (www.arduino.cc)", "Uno", "75439313");
    sys.Device("pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0", "cdc_acm");
    sys.Tty("ttyACM0", "pci0000:00/0000:00:14.0/usb1/1-3/1-3:1.0");
    sys.ById("usb-Arduino__www.arduino.cc__Uno_75439313-if00", "ttyACM0");

    // The 8250 UARTs as recent kernels show them: serial core port and
    // controller devices between the tty and the PNP device.
    for (const char* n : {"0", "1"}) {
        const std::string pnp = std::string("pnp0/00:0") + n;
        sys.Device(pnp, "serial");
        sys.Device(pnp + "/00:0" + n + ":0", "ctrl");
        sys.Device(pnp + "/00:0" + n + ":0/00:0" + n + ":0.0", "port");
        sys.Tty(std::string("ttyS") + n, pnp + "/00:0" + n + ":0/00:0" + n + ":0.0", "4"); // 16550A
    }
    sys.Device("platform/serial8250", "serial8250");
    sys.Tty("ttyS3", "platform/serial8250", "0"); // nothing behind it
    sys.Device("platform/fe201000.serial", "uart-pl011");
    sys.Tty("ttyAMA0", "platform/fe201000.serial", "32");
    sys.Tty("rfcomm0", "");
    sys.Tty("tty0", "");
    sys.Tty("ttyprintk", "");
    sys.Device("platform/not-a-tty");
    sys.Tty("ttyUSBx", "platform/not-a-tty");
    sys.Consoles(consoles);
}

} // namespace

TEST(SerialDevices, FoundThroughSysfsInTheirOrderWithoutOpeningAny)
{
    FakeSystem sys;
    Populate(sys, "tty0 ttyS0");
    // Every open of a device node is seen.
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, (sys.Root() + "/dev").c_str(), IN_OPEN), 0);

    const std::vector<SerialDeviceInfo> found = FindSerialDevices(sys.Root());
    std::vector<std::string> names;
    for (const auto& d : found)
        names.push_back(d.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS1", "ttyAMA0", "rfcomm0"}));
    EXPECT_EQ(ListSerialDevices(sys.Root()),
              (std::vector<std::string>{sys.Dev("ttyUSB2"), sys.Dev("ttyUSB10"), sys.Dev("ttyACM0"), sys.Dev("ttyS1"),
                                        sys.Dev("ttyAMA0"), sys.Dev("rfcomm0")}));
    char events[4096];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "a device node was opened";
    close(watch);

    ASSERT_EQ(found.size(), 6u);
    const SerialDeviceInfo& ftdi = found[1];
    EXPECT_EQ(ftdi.driver, "ftdi_sio");
    EXPECT_EQ(ftdi.byId, sys.Dev("serial/by-id/usb-FTDI_FT232R_USB_UART_A10XK3-if00-port0"));
    EXPECT_EQ(ftdi.manufacturer, "FTDI");
    EXPECT_EQ(ftdi.product, "FT232R USB UART");
    EXPECT_EQ(ftdi.serial, "A10XK3");
    const SerialDeviceInfo& prolific = found[0];
    EXPECT_EQ(prolific.driver, "pl2303");
    EXPECT_EQ(prolific.manufacturer, "Prolific Technology Inc.");
    EXPECT_EQ(prolific.serial, "");
    const SerialDeviceInfo& acm = found[2];
    EXPECT_EQ(acm.driver, "cdc_acm");
    EXPECT_EQ(acm.byId, sys.Dev("serial/by-id/usb-Arduino__www.arduino.cc__Uno_75439313-if00"));
    EXPECT_EQ(acm.product, "Uno");
    EXPECT_EQ(acm.serial, "75439313");
    EXPECT_EQ(found[3].driver, "serial"); // through the serial core's own devices
    EXPECT_EQ(found[3].byId, "");
    EXPECT_EQ(found[3].manufacturer, "");
    EXPECT_EQ(found[4].driver, "uart-pl011");
    EXPECT_EQ(found[5].driver, "");
}

TEST(SerialDevices, TheKernelsActiveConsolesAreLeftOut)
{
    struct Case {
        const char* consoles;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"tty0", {"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS0", "ttyS1", "ttyAMA0", "rfcomm0"}},
        {"ttyS0", {"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS1", "ttyAMA0", "rfcomm0"}},
        {"ttyS1 ttyAMA0", {"ttyUSB2", "ttyUSB10", "ttyACM0", "ttyS0", "rfcomm0"}},
        {"ttyUSB2", {"ttyUSB10", "ttyACM0", "ttyS0", "ttyS1", "ttyAMA0", "rfcomm0"}},
    };
    for (const Case& c : cases) {
        FakeSystem sys;
        Populate(sys, c.consoles);
        std::vector<std::string> names;
        for (const auto& d : FindSerialDevices(sys.Root()))
            names.push_back(d.name);
        EXPECT_EQ(names, c.want) << c.consoles;
    }
    FakeSystem empty;
    EXPECT_TRUE(FindSerialDevices(empty.Root()).empty());
    EXPECT_TRUE(FindSerialDevices("/nonexistent-root").empty());
}

TEST(SerialDevices, ConfiguredNumbersKeepTheirDevicesAndTheRestTakeWhatIsFound)
{
    struct Case {
        std::array<std::string, 4> configured;
        std::vector<std::string> found;
        std::array<std::string, 4> want;
    };
    const Case cases[] = {
        {{"", "", "", ""}, {"/dev/ttyUSB0"}, {"/dev/ttyUSB0", "", "", ""}},
        {{"", "/tmp/box", "", ""},
         {"/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyS0"},
         {"/dev/ttyUSB0", "/tmp/box", "/dev/ttyACM0", "/dev/ttyS0"}},
        {{"/dev/ttyUSB0", "", "", ""}, {"/dev/ttyUSB0", "/dev/ttyUSB1"}, {"/dev/ttyUSB0", "/dev/ttyUSB1", "", ""}},
        {{"a", "b", "c", "d"}, {"/dev/ttyUSB0"}, {"a", "b", "c", "d"}},
        {{"", "", "", ""}, {}, {"", "", "", ""}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AssignSerialDevices(c.configured, c.found), c.want);
}

TEST(SerialDevices, TheEnvironmentNamesThePortDevice)
{
    PortEnv e1(1, "/tmp/one");
    PortEnv e2(2, "/tmp/two");
    PortEnv e3(3, "/tmp/three");
    PortEnv e4(4, "/tmp/four");
    EXPECT_EQ(SerialPortDevice(1), "/tmp/one");
    EXPECT_EQ(SerialPortDevice(4), "/tmp/four");
    EXPECT_EQ(SerialPortDevices(), (std::array<std::string, 4>{"/tmp/one", "/tmp/two", "/tmp/three", "/tmp/four"}));
    EXPECT_EQ(SerialPortDevice(0), "");
    EXPECT_EQ(SerialPortDevice(5), "");
}

namespace {

// Another program: a child process that runs `sleep` with the given
// descriptors open (they survive the exec).
class OtherProgram {
public:
    // Holds path open, as cat or screen would, without any lock.
    static std::unique_ptr<OtherProgram> Holding(const std::string& path)
    {
        return std::unique_ptr<OtherProgram>(new OtherProgram([path] {
            if (::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) < 0)
                ::_exit(3);
        }));
    }
    // Plays the far end of a fresh pseudo-terminal as the simulator does:
    // the master and a slave descriptor of its own. Its slave path is sent
    // back.
    static std::unique_ptr<OtherProgram> FarEnd(std::string& slavePath)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return nullptr;
        auto p = std::unique_ptr<OtherProgram>(new OtherProgram([&] {
            ::close(fds[0]);
            const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
            char name[128] = {};
            if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0
                || ::ptsname_r(master, name, sizeof name) != 0 || ::open(name, O_RDWR | O_NOCTTY) < 0)
                ::_exit(3);
            (void)!::write(fds[1], name, std::strlen(name));
            ::close(fds[1]);
        }));
        ::close(fds[1]);
        char name[128] = {};
        const ssize_t n = ::read(fds[0], name, sizeof name - 1);
        ::close(fds[0]);
        slavePath = n > 0 ? std::string(name, static_cast<std::size_t>(n)) : std::string();
        return p;
    }
    // A live process that holds nothing.
    static std::unique_ptr<OtherProgram> Idle()
    {
        return std::unique_ptr<OtherProgram>(new OtherProgram([] {}));
    }
    ~OtherProgram()
    {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    pid_t Pid() const { return m_pid; }

private:
    explicit OtherProgram(const std::function<void()>& setUp)
    {
        m_pid = ::fork();
        if (m_pid == 0) {
            setUp();
            ::execlp("sleep", "sleep", "60", static_cast<char*>(nullptr));
            ::_exit(4);
        }
        // Running `sleep` means the set-up is done.
        const std::string comm = "/proc/" + std::to_string(m_pid) + "/comm";
        for (int i = 0; i < 1000; ++i) {
            std::ifstream in(comm);
            std::string name;
            std::getline(in, name);
            if (name == "sleep")
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    pid_t m_pid = -1;
};

// A PID that no process has: a child that has ended and been reaped.
pid_t DeadPid()
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

std::string LockText(pid_t pid)
{
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct TempLockDir {
    TempLockDir()
    {
        char dir[] = "/tmp/telvar-lock-XXXXXX";
        path = ::mkdtemp(dir);
    }
    ~TempLockDir() { std::filesystem::remove_all(path); }
    std::string path;
};

} // namespace

TEST(SerialDevices, APortAnotherProgramHoldsWithoutALockIsRefused)
{
    Pty pty;
    TempLockDir locks;
    const SerialOpenOptions options{locks.path, "/proc"};
    {
        auto cat = OtherProgram::Holding(pty.Path());
        errno = 0;
        EXPECT_EQ(OpenSerialDevice(pty.Path(), options), nullptr);
        EXPECT_EQ(errno, EBUSY);
        const SerialOpenFailure& f = LastSerialOpenFailure();
        EXPECT_EQ(f.kind, SerialOpenFailure::Kind::HeldByProcess);
        EXPECT_EQ(f.pid, cat->Pid());
        EXPECT_EQ(f.processName, "sleep");
        EXPECT_EQ(f.device, pty.Path());
        // Refused before the lock was taken, or the lock given back.
        EXPECT_FALSE(std::filesystem::exists(SerialLockPath(pty.Path(), locks.path)));
    }
    // Once it has let go, the port opens.
    HANDLE port = OpenSerialDevice(pty.Path(), options);
    EXPECT_NE(port, nullptr);
    EXPECT_EQ(LastSerialOpenFailure().kind, SerialOpenFailure::Kind::None);
    CloseHandle(port);
}

TEST(SerialDevices, TheFarEndOfAPseudoTerminalIsNoCompetingReader)
{
    std::string path;
    auto box = OtherProgram::FarEnd(path);
    ASSERT_FALSE(path.empty());
    TempLockDir locks;
    const SerialOpenOptions options{locks.path, "/proc"};
    HANDLE port = OpenSerialDevice(path, options);
    EXPECT_NE(port, nullptr) << SerialOpenReasonLogLine(LastSerialOpenFailure(), 1);
    CloseHandle(port);
    // A third program on the same line is one.
    auto reader = OtherProgram::Holding(path);
    EXPECT_EQ(OpenSerialDevice(path, options), nullptr);
    EXPECT_EQ(LastSerialOpenFailure().kind, SerialOpenFailure::Kind::HeldByProcess);
    EXPECT_EQ(LastSerialOpenFailure().pid, reader->Pid());
}

TEST(SerialDevices, UucpLockFilesAreHonouredCreatedAndTakenOverWhenStale)
{
    Pty pty;
    TempLockDir locks;
    const SerialOpenOptions options{locks.path, "/proc"};
    const std::string lockPath = SerialLockPath(pty.Path(), locks.path);
    EXPECT_EQ(lockPath, locks.path + "/LCK.." + pty.Path().substr(pty.Path().find_last_of('/') + 1));
    auto live = OtherProgram::Idle();
    struct Case {
        const char* name;
        std::string content; // of the lock file found; empty: none
        bool opens;
    };
    const Case cases[] = {
        {"no lock file", "", true},
        {"lock of a live process", LockText(live->Pid()), false},
        {"lock of a live process, unpadded", std::to_string(live->Pid()) + "\n", false},
        {"stale lock of a process gone", LockText(DeadPid()), true},
        {"unreadable content", "garbage\n", true},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(lockPath);
        if (!c.content.empty())
            std::ofstream(lockPath) << c.content;
        HANDLE port = OpenSerialDevice(pty.Path(), options);
        EXPECT_EQ(port != nullptr, c.opens) << c.name;
        if (port) {
            // Ours while we hold the port, in the usual ten-character form.
            EXPECT_EQ(ReadAll(lockPath), LockText(::getpid())) << c.name;
            CloseHandle(port);
            EXPECT_FALSE(std::filesystem::exists(lockPath)) << c.name;
        } else {
            const SerialOpenFailure& f = LastSerialOpenFailure();
            EXPECT_EQ(f.kind, SerialOpenFailure::Kind::LockedByFile) << c.name;
            EXPECT_EQ(f.pid, live->Pid()) << c.name;
            EXPECT_EQ(f.lockPath, lockPath) << c.name;
            EXPECT_EQ(ReadAll(lockPath), c.content) << c.name; // left alone
        }
    }
    // A folder where no lock can be made: the port still opens.
    HANDLE port = OpenSerialDevice(pty.Path(), SerialOpenOptions{locks.path + "/missing", "/proc"});
    EXPECT_NE(port, nullptr);
    CloseHandle(port);
}

TEST(SerialDevices, FailureReasonsForTheOperatorAndTheLog)
{
    using Kind = SerialOpenFailure::Kind;
    struct Case {
        SerialOpenFailure failure;
        const char* text;
        const char* log;
    };
    const Case cases[] = {
        {{Kind::NoDevice, "", ENOENT, 0, "", ""},
         "原因：没有设备对应串口2（未发现 USB 串口适配器或其他串口）",
         "telvar: port 2: no such device (no serial device found for this number)"},
        {{Kind::NoDevice, "/dev/ttyUSB0", ENOENT, 0, "", ""}, "原因：设备 /dev/ttyUSB0 不存在",
         "telvar: port 2: /dev/ttyUSB0: no such device"},
        {{Kind::PermissionDenied, "/dev/ttyUSB0", EACCES, 0, "", ""},
         "原因：没有权限打开 /dev/ttyUSB0。请把当前用户加入 dialout 组（sudo usermod -aG dialout 用户名），"
         "重新登录后生效；用 id -nG 可查看当前用户所在的组。",
         "telvar: port 2: /dev/ttyUSB0: permission denied; join the dialout group (sudo usermod -aG dialout "
         "$USER), log in again, and check with `id -nG`"},
        {{Kind::HeldByProcess, "/dev/ttyUSB0", EBUSY, 4242, "screen", ""},
         "原因：/dev/ttyUSB0 已被其他程序占用（PID 4242，screen）",
         "telvar: port 2: /dev/ttyUSB0: held by another program: PID 4242 (screen)"},
        {{Kind::HeldByProcess, "/dev/ttyUSB0", EBUSY, 0, "", ""}, "原因：/dev/ttyUSB0 已被其他程序占用",
         "telvar: port 2: /dev/ttyUSB0: held by another program"},
        {{Kind::LockedByFile, "/dev/ttyUSB0", EBUSY, 777, "", "/run/lock/LCK..ttyUSB0"},
         "原因：/dev/ttyUSB0 已被锁文件 /run/lock/LCK..ttyUSB0 锁定（PID 777）",
         "telvar: port 2: /dev/ttyUSB0: locked by the lock file /run/lock/LCK..ttyUSB0 of PID 777"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SerialOpenReasonText(c.failure, 2), c.text);
        EXPECT_EQ(SerialOpenReasonLogLine(c.failure, 2), c.log);
    }
    // What an open finds out.
    EXPECT_EQ(OpenSerialDevice("/nonexistent/ttyUSB0"), nullptr);
    EXPECT_EQ(LastSerialOpenFailure().kind, Kind::NoDevice);
    EXPECT_EQ(LastSerialOpenFailure().device, "/nonexistent/ttyUSB0");
    EXPECT_EQ(OpenSerialDevice(""), nullptr);
    EXPECT_EQ(LastSerialOpenFailure().kind, Kind::NoDevice);
    EXPECT_EQ(LastSerialOpenFailure().device, "");
}
