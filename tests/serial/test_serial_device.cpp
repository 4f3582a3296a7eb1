#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/inotify.h>

#include "SerialTestSupport.h"
#include "platform/SerialDevice.h"
#include "platform/Sync.h"

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
