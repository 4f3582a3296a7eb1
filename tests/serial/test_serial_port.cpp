#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <sys/file.h>

#include "SerialTestSupport.h"
#include "platform/core/MessageBox.h"
#include "platform/posix/SerialDevice.h"
#include "serial/CSerialPort.h"

using namespace serialtest;
using Bytes = std::vector<unsigned char>;

namespace
{

// Records each box and the state of the port while it is up.
class BoxRecorder : public ScriptedPresenter
{
public:
    CSerialPort* port = nullptr;
    std::vector<std::thread::id> threads;
    std::vector<bool> portOpenWhileShown;
    std::vector<std::string>* log = nullptr;
    std::function<void()> onShow;

    int ShowMessage(QWidget* owner, const MessageBoxRequest& request) override
    {
        threads.push_back(std::this_thread::get_id());
        if (port)
            portOpenWhileShown.push_back(port->m_hPort.load() != nullptr && port->m_bAlive.load());
        if (log)
            log->push_back("box");
        if (onShow)
            onShow();
        return ScriptedPresenter::ShowMessage(owner, request);
    }
};

class SerialPortTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        App();
        MainThread();
        SetMessagePresenter(&boxes);
    }
    void TearDown() override { SetMessagePresenter(nullptr); }

    bool CollectUntil(const Pty& pty, Bytes& got, std::size_t count)
    {
        return PumpUntil([&] {
            pty.Collect(got);
            return got.size() >= count;
        });
    }

    BoxRecorder boxes;
    RecordingWnd owner;
};

// Holds a port's lock for a scope, as a slow line would.
class HeldLock
{
public:
    explicit HeldLock(CCriticalSection& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~HeldLock() { LeaveCriticalSection(&m_cs); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    CCriticalSection& m_cs;
};

const BYTE kPoll[3] = {0x7E, 0x02, 0x7E};
const BYTE kStop[3] = {0x7E, 0x03, 0x7E};

} // namespace

TEST_F(SerialPortTest, FailedOpenShowsNothingAndALaterOpenWorks)
{
    Pty pty;
    struct Case {
        const char* name;
        bool held;
    };
    for (const Case c : {Case{"absent", false}, Case{"held by another opener", true}}) {
        SCOPED_TRACE(c.name);
        std::unique_ptr<PortEnv> env;
        auto holder = std::make_unique<CSerialPort>();
        RecordingWnd other;
        if (c.held) {
            env = std::make_unique<PortEnv>(1, pty.Path());
            ASSERT_TRUE(holder->OpenPort(&other, 1));
        } else {
            env = std::make_unique<PortEnv>(1, "/nonexistent/ttyTelvar");
        }
        CSerialPort port;
        EXPECT_FALSE(port.OpenPort(&owner, 1));
        EXPECT_EQ(port.m_hPort.load(), nullptr);
        EXPECT_FALSE(port.StartMonitor());
        EXPECT_FALSE(port.m_bAlive.load());
        EXPECT_TRUE(boxes.shown.empty());

        // Released, or pointed at a present device: the same object opens.
        env.reset();
        holder.reset();
        PortEnv present(1, pty.Path());
        EXPECT_TRUE(port.OpenPort(&owner, 1));
        EXPECT_NE(port.m_hPort.load(), nullptr);
        EXPECT_TRUE(boxes.shown.empty());
    }
}

TEST_F(SerialPortTest, PortNumbersOutsideOneToFourDoNotOpen)
{
    CSerialPort port;
    for (UINT n : {0u, 5u, 99u}) {
        EXPECT_FALSE(port.OpenPort(&owner, n)) << n;
        EXPECT_EQ(port.m_hPort.load(), nullptr);
    }
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SerialPortTest, FailedLineSetUpIsReportedOnceAndTheOpenStands)
{
    // Not a terminal: it opens, but takes no line settings.
    PortEnv env(1, "/dev/null");
    CSerialPort port;
    EXPECT_TRUE(port.OpenPort(&owner, 1));
    EXPECT_NE(port.m_hPort.load(), nullptr);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, std::strerror(ENOTTY));
    EXPECT_EQ(boxes.shown[0].caption, "Application Error");
    EXPECT_EQ(boxes.shown[0].type, MB_ICONERROR);
}

TEST_F(SerialPortTest, ErrorReportOnTheUiThreadShowsTheSystemText)
{
    CSerialPort port;
    errno = EBUSY;
    port.ShowSystemError();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, std::strerror(EBUSY));
    EXPECT_EQ(boxes.shown[0].caption, "Application Error");
    EXPECT_EQ(boxes.shown[0].type, MB_ICONERROR);
}

TEST_F(SerialPortTest, LineSettingsAreRaw115200EightNoneOneWithoutFlowControl)
{
    Pty pty;
    // Start from a line that is far from the wanted one.
    termios before{};
    ASSERT_EQ(tcgetattr(pty.Slave(), &before), 0);
    before.c_lflag |= ICANON | ECHO | ISIG;
    before.c_iflag |= IXON | IXOFF | ICRNL;
    before.c_oflag |= OPOST;
    before.c_cflag |= PARENB | CSTOPB | CRTSCTS;
    cfsetspeed(&before, B9600);
    ASSERT_EQ(tcsetattr(pty.Slave(), TCSANOW, &before), 0);

    PortEnv env(2, pty.Path());
    CSerialPort port;
    ASSERT_TRUE(port.OpenPort(&owner, 2));
    EXPECT_TRUE(boxes.shown.empty());

    termios t{};
    ASSERT_EQ(tcgetattr(pty.Slave(), &t), 0);
    EXPECT_EQ(cfgetispeed(&t), B115200);
    EXPECT_EQ(cfgetospeed(&t), B115200);
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_NE(t.c_cflag & CREAD, 0u);
    EXPECT_NE(t.c_cflag & CLOCAL, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST_F(SerialPortTest, QueuedBytesArriveOneDeliveryEachInOrderOnTheUiThread)
{
    Pty pty;
    PortEnv env(3, pty.Path());
    CSerialPort port;
    ASSERT_TRUE(port.OpenPort(&owner, 3));
    ASSERT_TRUE(port.StartMonitor());
    const Bytes ten = {0x7E, 0x00, 0x7E, 0xFF, 0x10, 0x7E, 0x7E, 0x01, 0x80, 0x7E};
    pty.Send(ten);
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(WM_SERIAL_BYTE) >= ten.size(); }));
    PumpFor(50);
    ASSERT_EQ(owner.Count(WM_SERIAL_BYTE), ten.size());
    std::size_t i = 0;
    for (const auto& m : owner.messages) {
        if (m.message != WM_SERIAL_BYTE)
            continue;
        EXPECT_EQ(m.wParam, ten[i]) << i;
        EXPECT_EQ(m.lParam, 3);
        EXPECT_EQ(m.thread, MainThread());
        ++i;
    }
    EXPECT_EQ(owner.Count(WM_SERIAL_EVENTCHAR), 0u);
}

TEST_F(SerialPortTest, EachBatchEndsWithOneNoticeCountingItsBytes)
{
    Pty pty;
    PortEnv env(2, pty.Path());
    CSerialPort port;
    std::vector<bool> deliveringSeen;
    owner.onMessage = [&](UINT, WPARAM, LPARAM) { deliveringSeen.push_back(port.IsDelivering()); };
    ASSERT_TRUE(port.OpenPort(&owner, 2));
    ASSERT_TRUE(port.StartMonitor());
    EXPECT_FALSE(port.IsDelivering());

    // Two sends far apart cannot share a hand-over.
    pty.Send({1, 2, 3, 4, 5});
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(WM_SERIAL_BATCH_DONE) >= 1 && owner.Count(WM_SERIAL_BYTE) == 5; }));
    PumpFor(100);
    pty.Send({6, 7});
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(WM_SERIAL_BYTE) == 7; }));
    PumpFor(50);

    ASSERT_FALSE(owner.messages.empty());
    EXPECT_EQ(owner.messages.back().message, WM_SERIAL_BATCH_DONE);
    std::size_t sinceNotice = 0;
    std::size_t notices = 0;
    for (const auto& m : owner.messages) {
        if (m.message == WM_SERIAL_BYTE) {
            ++sinceNotice;
            continue;
        }
        ASSERT_EQ(m.message, WM_SERIAL_BATCH_DONE);
        EXPECT_GT(sinceNotice, 0u) << "a notice without bytes";
        EXPECT_EQ(m.wParam, sinceNotice);
        EXPECT_EQ(m.lParam, 2);
        EXPECT_EQ(m.thread, MainThread());
        sinceNotice = 0;
        ++notices;
    }
    EXPECT_GE(notices, 2u);
    EXPECT_EQ(owner.Bytes(WM_SERIAL_BYTE, 2), (Bytes{1, 2, 3, 4, 5, 6, 7}));
    // Delivering throughout, notices included; not once the batch is done.
    EXPECT_EQ(deliveringSeen, std::vector<bool>(owner.messages.size(), true));
    EXPECT_FALSE(port.IsDelivering());
}

TEST_F(SerialPortTest, InputThatArrivedBeforeAWriteIsDeliveredNotPurged)
{
    Pty pty;
    PortEnv env(1, pty.Path());
    CSerialPort port;
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartMonitor());

    // A reply comes in while the write pass waits for the port: it has
    // reached the port before the write, so the write's purge must not
    // take it.
    {
        HeldLock held(port.m_csLock);
        port.m_nWriteLength = 3;
        port.QueueWrite(kPoll);
        ASSERT_TRUE(PumpUntil([&] { return WaitForSingleObject(port.m_hWriteEvent, 0) == WAIT_TIMEOUT; }));
        pty.Send({'X', 'Y', 'Z'});
        ASSERT_TRUE(PumpUntil([&] { return pty.PendingTowardsPort() == 3; }));
    }

    Bytes got;
    ASSERT_TRUE(CollectUntil(pty, got, 3));
    EXPECT_EQ(got, Bytes(kPoll, kPoll + 3));
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(WM_SERIAL_BYTE) >= 3; }));
    pty.Send({'M'});
    ASSERT_TRUE(PumpUntil([&] { return owner.Count(WM_SERIAL_BYTE) >= 4; }));
    PumpFor(20);
    EXPECT_EQ(owner.Bytes(WM_SERIAL_BYTE, 1), (Bytes{'X', 'Y', 'Z', 'M'}));
}

TEST_F(SerialPortTest, PollsAtShortIntervalsLoseNoReply)
{
    // A box that answers every poll within a fraction of a millisecond, as
    // fast as the timer polls: every reply it sent reaches the owner.
    Pty pty;
    PortEnv env(1, pty.Path());
    CSerialPort port;
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartMonitor());
    std::atomic<bool> stop{false};
    std::atomic<unsigned> replies{0};
    std::thread box([&] {
        unsigned char buf[64];
        unsigned char next = 0;
        while (!stop) {
            pollfd p{pty.Master(), POLLIN, 0};
            if (poll(&p, 1, 20) <= 0)
                continue;
            const ssize_t n = read(pty.Master(), buf, sizeof buf);
            for (ssize_t i = 0; i + 2 < n; i += 3) {
                const unsigned char frame[10] = {0x7E, next, 1, 2, 3, 4, 5, 6, 7, 0x7E};
                ++next;
                if (write(pty.Master(), frame, sizeof frame) == 10)
                    ++replies;
            }
        }
    });
    for (int interval : {1, 2, 5}) {
        SCOPED_TRACE(interval);
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&] { port.QueuePoll(kPoll); });
        timer.setTimerType(Qt::PreciseTimer);
        timer.start(interval);
        PumpFor(1000);
        timer.stop();
        PumpFor(50);
        port.DeliverPendingInput();
    }
    stop = true;
    box.join();
    // A reply that comes only as the next poll goes out may meet its purge;
    // one that came before it may not.
    EXPECT_GT(replies.load(), 300u);
    EXPECT_GE(owner.Count(WM_SERIAL_BYTE), 10u * replies.load() * 99 / 100);
    EXPECT_LE(owner.Count(WM_SERIAL_BYTE), 10u * replies.load());
}

TEST_F(SerialPortTest, DeliverPendingInputHandsOverWhatIsBeingGathered)
{
    Pty pty;
    PortEnv env(1, pty.Path());
    CSerialPort port;
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    // Nothing runs: nothing to wait for.
    port.DeliverPendingInput();
    ASSERT_TRUE(port.StartMonitor());
    for (int round = 0; round < 20; ++round) {
        // Right after it came in, the bytes are still being gathered; the
        // call returns only once they have been handled.
        const Bytes frame = {0x7E, static_cast<BYTE>(round), 0, 0, 0, 0, 0, 0, 0, 0x7E};
        pty.Send(frame);
        ASSERT_TRUE(PumpUntil([&] { return pty.PendingTowardsPort() == 0; }));
        port.DeliverPendingInput();
        ASSERT_EQ(owner.Count(WM_SERIAL_BYTE), 10u * static_cast<unsigned>(round + 1)) << round;
    }
    // After the thread has ended it returns at once.
    port.RequestStop();
    ASSERT_TRUE(PumpUntil([&] { return !port.m_bAlive.load(); }));
    port.DeliverPendingInput();
}

namespace
{

// Fills the line towards the far end until a write would block: a far side
// that never reads.
void FillLine(const Pty& pty)
{
    // Through the test's own slave descriptor: same line, same direction.
    const int fd = pty.Slave();
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::vector<unsigned char> block(4096, 0x55);
    // The kernel moves bytes on between its buffers a moment later, making
    // room again: full is when a pause brings no room.
    for (;;) {
        std::size_t wrote = 0;
        ssize_t n;
        while ((n = write(fd, block.data(), block.size())) > 0)
            wrote += static_cast<std::size_t>(n);
        ASSERT_EQ(errno, EAGAIN);
        if (wrote == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

} // namespace

TEST_F(SerialPortTest, AWriteThatCannotLeaveEndsAtItsTimeoutOrAtAStop)
{
    for (bool byStop : {true, false}) {
        SCOPED_TRACE(byStop ? "stop" : "timeout");
        Pty pty;
        PortEnv env(1, pty.Path());
        CSerialPort port;
        ASSERT_TRUE(port.OpenPort(&owner, 1));
        ASSERT_TRUE(port.StartMonitor());
        FillLine(pty);
        const auto begin = std::chrono::steady_clock::now();
        port.m_nWriteLength = 3;
        port.QueueWrite(kStop);
        if (byStop) {
            PumpFor(200);
            port.RequestStop();
            Watchdog dog("stop during a write that cannot leave", 10);
            ASSERT_TRUE(PumpUntil([&] { return !port.m_bAlive.load(); }, 3000));
            EXPECT_TRUE(boxes.shown.empty());
            continue;
        }
        // 1000 ms + 1000 ms per byte, then the error report; the thread goes on.
        ASSERT_TRUE(PumpUntil([&] { return !boxes.shown.empty(); }, 20000));
        EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(4000));
        EXPECT_EQ(boxes.shown[0].text, std::strerror(ETIMEDOUT));
        EXPECT_EQ(boxes.shown[0].caption, "Application Error");
        EXPECT_TRUE(port.m_bAlive.load());
        // The far end reads again: the next command goes out.
        Bytes drained;
        pty.Collect(drained);
        port.QueueWrite(kPoll);
        Bytes got;
        ASSERT_TRUE(CollectUntil(pty, got, 3));
        EXPECT_EQ(got, Bytes(kPoll, kPoll + 3));
        EXPECT_EQ(boxes.shown.size(), 1u);
    }
}

TEST_F(SerialPortTest, StopWinsOverAPendingWriteAndNothingIsSent)
{
    Pty pty;
    PortEnv env(1, pty.Path());
    CSerialPort port;
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    port.m_nWriteLength = 3;
    port.QueueWrite(kPoll);
    SetEvent(port.m_hStopEvent);
    ASSERT_TRUE(port.StartMonitor());
    ASSERT_TRUE(PumpUntil([&] { return !port.m_bAlive.load(); }));
    EXPECT_EQ(port.m_hPort.load(), nullptr);
    EXPECT_EQ(pty.PendingFromPort(), 0);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(owner.messages.empty());
}

TEST_F(SerialPortTest, WritesSendExactlyTheRequestedLength)
{
    const BYTE source[16] = {0x7F, 0x02, 0x7F, 0x7D, 0x02, 0x7D, 0xAA, 0xBB,
                             0xCC, 0xDD, 0xEE, 0xFF, 0x11, 0x22, 0x33, 0x44};
    for (int length : {3, 6}) {
        SCOPED_TRACE(length);
        Pty pty;
        PortEnv env(1, pty.Path());
        CSerialPort port;
        ASSERT_TRUE(port.OpenPort(&owner, 1));
        ASSERT_TRUE(port.StartMonitor());
        port.m_nWriteLength = length;
        port.QueueWrite(source);
        EXPECT_EQ(port.m_pWriteBuf[length], 0); // the rest of the buffer is cleared
        port.m_nWriteLength = 3;
        port.QueueWrite(kStop);
        // Whatever went out beyond the length would come before the marker.
        Bytes got;
        ASSERT_TRUE(CollectUntil(pty, got, static_cast<std::size_t>(length) + 3));
        Bytes want(source, source + length);
        want.insert(want.end(), kStop, kStop + 3);
        EXPECT_EQ(got, want);
    }
}

namespace
{

struct WriteLog {
    struct Entry {
        Bytes bytes;
        std::chrono::steady_clock::time_point begin, end;
    };
    std::mutex mutex;
    std::vector<Entry> entries;

    static void Observe(void* context, const BYTE* data, std::size_t size, std::chrono::steady_clock::time_point begin,
                        std::chrono::steady_clock::time_point end)
    {
        auto* self = static_cast<WriteLog*>(context);
        std::lock_guard lock(self->mutex);
        self->entries.push_back({Bytes(data, data + size), begin, end});
    }
    std::vector<Entry> Snapshot()
    {
        std::lock_guard lock(mutex);
        return entries;
    }
};

} // namespace

TEST_F(SerialPortTest, ABurstOfCommandsGoesOutWholeInOrderAndSpaced)
{
    Pty pty;
    PortEnv env(1, pty.Path());
    WriteLog log;
    struct Observing {
        explicit Observing(WriteLog& l) { SetSerialWriteObserver(&WriteLog::Observe, &l); }
        ~Observing() { SetSerialWriteObserver(nullptr, nullptr); }
    } observing(log);
    {
        CSerialPort port;
        ASSERT_TRUE(port.OpenPort(&owner, 1));
        ASSERT_TRUE(port.StartMonitor());
        const std::array<std::array<BYTE, 3>, 5> burst = {
            {{0x7A, 0x20, 0x7A}, {0x7B, 0x0A, 0x7B}, {0x7F, 0x03, 0x7F}, {0x7D, 0x02, 0x7D}, {0x7E, 0x01, 0x7E}}};
        Bytes want;
        for (const auto& cmd : burst) {
            port.m_nWriteLength = 3;
            port.QueueWrite(cmd.data());
            want.insert(want.end(), cmd.begin(), cmd.end());
        }
        // The far end reads only after the last write: a later command must
        // not cut off an earlier one that is still on its way.
        ASSERT_TRUE(PumpUntil([&] { return log.Snapshot().size() >= burst.size(); }));
        Bytes got;
        ASSERT_TRUE(CollectUntil(pty, got, want.size()));
        PumpFor(20);
        pty.Collect(got);
        EXPECT_EQ(got, want);

        const auto writes = log.Snapshot();
        ASSERT_EQ(writes.size(), burst.size());
        for (std::size_t i = 0; i < writes.size(); ++i) {
            EXPECT_EQ(writes[i].bytes, Bytes(burst[i].begin(), burst[i].end())) << i;
            if (i > 0) {
                EXPECT_GE(writes[i].begin - writes[i - 1].end, std::chrono::milliseconds(2)) << i;
            }
        }
    }
}

TEST_F(SerialPortTest, APollIsNotQueuedWhileAnEarlierOneStillWaits)
{
    Pty pty;
    PortEnv env(1, pty.Path());
    CSerialPort port;
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartMonitor());

    // The line is slow: the first poll is taken but held at the lock.
    {
        HeldLock held(port.m_csLock);
        EXPECT_TRUE(port.QueuePoll(kPoll));
        // A fast timer: polls are refused until the thread has taken the first.
        ASSERT_TRUE(PumpUntil([&] { return port.QueuePoll(kPoll) == TRUE; }));
        for (int i = 0; i < 9; ++i)
            EXPECT_FALSE(port.QueuePoll(kPoll)) << i;
        port.m_nWriteLength = 3;
        port.QueueWrite(kStop); // other commands still queue behind it
    }

    Bytes got;
    ASSERT_TRUE(CollectUntil(pty, got, 9))
        << got.size() << " bytes, alive " << port.m_bAlive.load() << " boxes " << boxes.shown.size();
    PumpFor(30);
    pty.Collect(got);
    EXPECT_EQ(got, (Bytes{0x7E, 0x02, 0x7E, 0x7E, 0x02, 0x7E, 0x7E, 0x03, 0x7E}));
    // Once gone out, the next poll queues again.
    EXPECT_TRUE(port.QueuePoll(kPoll));
    ASSERT_TRUE(CollectUntil(pty, got, 12));
}

TEST_F(SerialPortTest, DestructorReturnsAndClosesThePort)
{
    enum class Mode { Streaming, Idle, NeverStarted };
    for (Mode mode : {Mode::Streaming, Mode::Idle, Mode::NeverStarted}) {
        SCOPED_TRACE(static_cast<int>(mode));
        Pty pty;
        PortEnv env(1, pty.Path());
        RecordingWnd target;
        std::unique_ptr<Feeder> feeder;
        {
            auto port = std::make_unique<CSerialPort>();
            ASSERT_TRUE(port->OpenPort(&target, 1));
            if (mode != Mode::NeverStarted) {
                ASSERT_TRUE(port->StartMonitor());
            }
            if (mode == Mode::Streaming) {
                feeder = std::make_unique<Feeder>(pty);
                ASSERT_TRUE(PumpUntil([&] { return target.messages.size() > 1000; }));
                // Not pumping from here on: the thread is soon stuck in a
                // delivery that nobody serves.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            Watchdog dog("CSerialPort destructor");
            port.reset();
        }
        const auto delivered = target.messages.size();
        PumpFor(50);
        EXPECT_EQ(target.messages.size(), delivered); // nothing after the end
        if (feeder)
            feeder->Stop();
        CSerialPort again;
        EXPECT_TRUE(again.OpenPort(&owner, 1)); // the old one let go of it
        EXPECT_TRUE(boxes.shown.empty());
    }
}

TEST_F(SerialPortTest, ReopeningWaitsForTheOldThreadWhileItDelivers)
{
    Pty first;
    Pty second;
    PortEnv env1(1, first.Path());
    PortEnv env2(2, second.Path());
    CSerialPort port;
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartMonitor());
    Feeder feeder(first);
    ASSERT_TRUE(PumpUntil([&] { return owner.messages.size() > 1000; }));
    {
        // The old thread is likely blocked in a delivery right now.
        Watchdog dog("OpenPort while the old thread delivers");
        ASSERT_TRUE(port.OpenPort(&owner, 2));
    }
    EXPECT_FALSE(port.m_bAlive.load());
    feeder.Stop();
    const Bytes fromFirst = owner.Bytes(WM_SERIAL_BYTE, 1);
    EXPECT_TRUE(Consecutive(fromFirst));
    PumpFor(30);
    EXPECT_EQ(owner.Bytes(WM_SERIAL_BYTE, 1).size(), fromFirst.size()); // the old thread is gone

    CSerialPort other;
    RecordingWnd otherOwner;
    EXPECT_TRUE(other.OpenPort(&otherOwner, 1)); // the first port was let go
    ASSERT_TRUE(port.StartMonitor());
    second.Send({0x7E, 0x42});
    ASSERT_TRUE(PumpUntil([&] { return owner.Bytes(WM_SERIAL_BYTE, 2).size() == 2; }));
    EXPECT_EQ(owner.Bytes(WM_SERIAL_BYTE, 2), (Bytes{0x7E, 0x42}));
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(SerialPortTest, ReopeningFromInsideADeliveryDoesNotDeadlock)
{
    Pty first;
    Pty second;
    PortEnv env1(1, first.Path());
    PortEnv env2(2, second.Path());
    CSerialPort port;
    bool reopened = false;
    owner.onMessage = [&](UINT message, WPARAM, LPARAM port1) {
        if (message == WM_SERIAL_BYTE && port1 == 1 && !reopened) {
            reopened = true;
            Watchdog dog("OpenPort from a delivery");
            EXPECT_TRUE(port.OpenPort(&owner, 2));
        }
    };
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartMonitor());
    first.Send({1, 2, 3, 4, 5, 6, 7, 8});
    ASSERT_TRUE(PumpUntil([&] { return reopened; }));
    EXPECT_FALSE(port.m_bAlive.load());
    // The rest of the batch in flight was dropped with the old thread.
    EXPECT_EQ(owner.Bytes(WM_SERIAL_BYTE, 1), Bytes{1});
    ASSERT_TRUE(port.StartMonitor());
    second.Send({9});
    ASSERT_TRUE(PumpUntil([&] { return owner.Bytes(WM_SERIAL_BYTE, 2) == Bytes{9}; }));
}

TEST_F(SerialPortTest, ALostDeviceIsReportedOnceThenThePortCloses)
{
    for (bool streaming : {false, true}) {
        SCOPED_TRACE(streaming ? "while streaming" : "idle");
        Pty pty;
        PortEnv env(1, pty.Path());
        std::vector<std::string> log;
        BoxRecorder recorder;
        SetMessagePresenter(&recorder);
        RecordingWnd target;
        CSerialPort port;
        recorder.port = &port;
        recorder.log = &log;
        bool closedWhenTold = false;
        target.onMessage = [&](UINT message, WPARAM, LPARAM lParam) {
            if (message == WM_SERIAL_DEVICE_LOST) {
                log.push_back("lost " + std::to_string(lParam));
                closedWhenTold = port.m_hPort.load() == nullptr;
            }
        };
        ASSERT_TRUE(port.OpenPort(&target, 1));
        ASSERT_TRUE(port.StartMonitor());
        ASSERT_TRUE(PumpUntil([&] { return port.m_bAlive.load(); }));

        // An open line with its far end present is not lost, and waiting on it
        // costs next to nothing.
        const double cpuBefore = ProcessCpuSeconds();
        PumpFor(500);
        EXPECT_LT(ProcessCpuSeconds() - cpuBefore, 0.25);
        EXPECT_TRUE(log.empty());

        std::unique_ptr<Feeder> feeder;
        if (streaming) {
            feeder = std::make_unique<Feeder>(pty);
            ASSERT_TRUE(PumpUntil([&] { return target.messages.size() > 500; }));
            feeder->Stop();
        }
        pty.CloseMaster(); // the adapter is pulled
        ASSERT_TRUE(PumpUntil([&] { return target.Count(WM_SERIAL_DEVICE_LOST) == 1; }));
        ASSERT_TRUE(PumpUntil([&] { return !port.m_bAlive.load(); }));

        const double cpuAfter = ProcessCpuSeconds();
        PumpFor(300);
        EXPECT_LT(ProcessCpuSeconds() - cpuAfter, 0.2);

        EXPECT_EQ(log, (std::vector<std::string>{"box", "lost 1"}));
        ASSERT_EQ(recorder.shown.size(), 1u);
        EXPECT_EQ(recorder.shown[0].text, std::strerror(EIO));
        EXPECT_EQ(recorder.shown[0].caption, "Application Error");
        EXPECT_EQ(recorder.shown[0].type, MB_ICONERROR);
        EXPECT_EQ(recorder.threads[0], MainThread());
        EXPECT_EQ(recorder.portOpenWhileShown, std::vector<bool>{true}); // the thread waited for the box
        EXPECT_TRUE(closedWhenTold);
        EXPECT_EQ(port.m_hPort.load(), nullptr);
        if (streaming) {
            EXPECT_TRUE(Consecutive(target.Bytes(WM_SERIAL_BYTE, 1)));
        }
        SetMessagePresenter(&boxes);
    }
}

TEST_F(SerialPortTest, ALossNoticeIsDroppedWhenThePortWasReopenedMeanwhile)
{
    Pty lost;
    Pty next;
    PortEnv env1(1, lost.Path());
    PortEnv env2(2, next.Path());
    CSerialPort port;
    bool reopened = false;
    // The operator reopens from the error box, before the thread has ended.
    boxes.onShow = [&] {
        Watchdog dog("OpenPort from the error box");
        reopened = port.OpenPort(&owner, 2) == TRUE;
    };
    ASSERT_TRUE(port.OpenPort(&owner, 1));
    ASSERT_TRUE(port.StartMonitor());
    lost.CloseMaster();
    ASSERT_TRUE(PumpUntil([&] { return reopened; }));
    PumpFor(200);
    EXPECT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(owner.Count(WM_SERIAL_DEVICE_LOST), 0u);
    EXPECT_NE(port.m_hPort.load(), nullptr);
    ASSERT_TRUE(port.StartMonitor());
    next.Send({0x55});
    ASSERT_TRUE(PumpUntil([&] { return owner.Bytes(WM_SERIAL_BYTE, 2) == Bytes{0x55}; }));
}
