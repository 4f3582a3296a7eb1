#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

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

TEST(SerialDevices, ListingTakesUsbThenAcmThenRealUartsInNumericOrder)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("telvar-dev-" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const char* name : {"ttyUSB10", "ttyUSB2", "ttyACM1", "ttyACM0", "ttyS0", "ttyUSBx", "tty", "null"})
        std::ofstream(dir / name).put('\n');
    const auto found = ListSerialDevices(dir.string());
    const std::string d = dir.string() + "/";
    // ttyS0 here is a plain file, no UART behind it.
    EXPECT_EQ(found, (std::vector<std::string>{d + "ttyUSB2", d + "ttyUSB10", d + "ttyACM0", d + "ttyACM1"}));
    fs::remove_all(dir);
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
