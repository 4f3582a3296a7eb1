#include "serial/CSerialPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/core/MessageBox.h"
#include "platform/posix/SerialDevice.h"

namespace
{

// One read() takes at most this many queued bytes; the whole batch is handed
// over to the user-interface thread in one wake-up.
constexpr std::size_t kReadBatch = 4096;
// Wake-ups within one second that found the port ready yet nothing to read.
// A line in that state is broken even if it does not say so.
constexpr int kMaxEmptyWakeups = 1000;
// Rounds of reading before a write, or for a delivery request, while input
// keeps coming; before a write, what comes after them is purged, as the
// write's purge means to.
constexpr int kPreWriteRounds = 4;

using Clock = std::chrono::steady_clock;

std::string ErrorText(int err)
{
    char buf[256];
    return strerror_r(err, buf, sizeof buf);
}

bool IsLineGone(int err)
{
    return err == EIO || err == ENXIO || err == ENODEV || err == EPIPE || err == EBADF;
}

} // namespace

CSerialPort::CSerialPort() = default;

CSerialPort::~CSerialPort()
{
    // The owner is going: its members declared after this one are gone
    // already, so nothing may be delivered to it from now on.
    m_handOver.Close();
    WaitForThreadEnd();
    // Opened but never watched: nobody else closes it.
    if (HANDLE port = m_hPort.exchange(nullptr))
        CloseHandle(port);
    CloseHandle(m_hStopEvent);
    CloseHandle(m_hWriteEvent);
    CloseHandle(m_hDeliverEvent);
    delete[] m_pWriteBuf;
}

void CSerialPort::WaitForThreadEnd()
{
    if (m_bAlive)
        SetEvent(m_hStopEvent);
    // Keeps the thread's deliveries flowing while waiting (unless closed).
    m_handOver.WaitUntil([this] { return !m_bAlive.load(); });
    if (m_thread.joinable())
        m_thread.join();
}

BOOL CSerialPort::OpenPort(CWnd* pOwner, UINT nPortNumber)
{
    m_handOver.Attach();
    WaitForThreadEnd();
    ++m_nOpenings;

    // Fresh events: whatever an earlier opening signalled stays behind.
    CloseHandle(m_hStopEvent);
    CloseHandle(m_hWriteEvent);
    CloseHandle(m_hDeliverEvent);
    m_hWriteEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    m_hStopEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    m_hDeliverEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    m_nDeliverDone = m_nDeliverAsked.load();
    m_hWaitEvents[0] = m_hStopEvent;
    m_hWaitEvents[1] = nullptr;
    m_hWaitEvents[2] = m_hWriteEvent;

    InitializeCriticalSection(&m_csLock);
    m_pOwnerWnd = pOwner;
    delete[] m_pWriteBuf;
    m_nWriteBufSize = 512;
    m_pWriteBuf = new BYTE[m_nWriteBufSize]();
    m_nPortNumber = nPortNumber;
    m_dwEventMask = EV_RXCHAR;
    {
        std::lock_guard lock(m_queueLock);
        m_writeQueue.clear();
        m_bPollQueued = false;
        m_nPendingWrites = 0;
    }
    m_lastWriteEnd = {};
    m_bDeviceLost = false;
    m_nEmptyWakeups = 0;

    int configError = 0;
    {
        std::lock_guard lock(m_csLock);
        if (HANDLE old = m_hPort.exchange(nullptr))
            CloseHandle(old);
        if (!m_hStopEvent || !m_hWriteEvent || !m_hDeliverEvent)
            return FALSE;
        HANDLE port = OpenSerialDevice(SerialPortDevice(nPortNumber));
        if (!port)
            return FALSE;
        if (!ConfigureSerialLine(port))
            configError = errno ? errno : EIO;
        PurgeSerial(port);
        m_hWaitEvents[1] = port;
        m_hPort = port;
    }
    // The device is open, so the open counts; the operator learns what failed.
    if (configError)
        ReportError(configError);
    return TRUE;
}

BOOL CSerialPort::StartMonitor()
{
    if (!m_hPort.load() || m_bAlive)
        return FALSE;
    if (m_thread.joinable())
        m_thread.join();
    // What came in before the watch begins is stale. Purged here rather than
    // by the thread, so that every byte arriving after this call is kept.
    {
        std::lock_guard lock(m_csLock);
        PurgeSerial(m_hPort.load());
    }
    // Alive from now, so that a following OpenPort waits for this thread even
    // before it has begun to run.
    m_bAlive = TRUE;
    m_thread = std::thread([this] { MonitorProc(this); });
    return TRUE;
}

void CSerialPort::RequestStop()
{
    if (m_hStopEvent)
        SetEvent(m_hStopEvent);
}

UINT CSerialPort::MonitorProc(void* pParam)
{
    return static_cast<CSerialPort*>(pParam)->Monitor();
}

void CSerialPort::DeliverPendingInput()
{
    if (!m_bAlive || !m_hDeliverEvent)
        return;
    const unsigned ticket = ++m_nDeliverAsked;
    SetEvent(m_hDeliverEvent);
    // Runs the deliveries meanwhile; ends with the thread too.
    m_handOver.WaitUntil([this, ticket] {
        return static_cast<int>(m_nDeliverDone.load() - ticket) >= 0 || !m_bAlive.load();
    });
}

void CSerialPort::ServeDeliverRequest()
{
    ResetEvent(m_hDeliverEvent);
    const unsigned asked = m_nDeliverAsked.load();
    // Bytes still on their way through the kernel are counted only once what
    // was queued before them has been read: a few more rounds take them in.
    for (int round = 0; round < kPreWriteRounds; ++round) {
        Receive(false, Take::QueuedNow);
        HANDLE port = m_hPort.load();
        if (!port || m_bDeviceLost)
            break;
        int queued;
        {
            std::lock_guard lock(m_csLock);
            queued = SerialInputQueued(port);
        }
        if (queued <= 0)
            break;
    }
    m_nDeliverDone = asked;
    m_handOver.Notify();
}

UINT CSerialPort::Monitor()
{
    m_bAlive = TRUE;
    constexpr auto kNever = Clock::time_point::max();
    // Input is gathered for a while before it is handed over (one hand-over
    // then carries several frames of a fast stream); the gathering ends early
    // for a write, which reads everything first, a stop or a delivery request.
    bool gathering = false;
    Clock::time_point gatherEnd{};
    while (!m_bDeviceLost) {
        bool writePending;
        {
            std::lock_guard lock(m_queueLock);
            writePending = !m_writeQueue.empty();
        }
        const Clock::time_point writeAt = writePending ? m_lastWriteEnd + kCommandGap : kNever;
        const Clock::time_point deadline = std::min(writeAt, gathering ? gatherEnd : kNever);

        // Stop first, then a delivery request, the port, a new write request.
        enum Slot { kStop, kDeliver, kPort, kWrite };
        HANDLE handles[4];
        Slot slots[4];
        DWORD count = 0;
        handles[count] = m_hWaitEvents[0];
        slots[count++] = kStop;
        handles[count] = m_hDeliverEvent;
        slots[count++] = kDeliver;
        // A due write reads all input first, so until then the input waits
        // in the port like gathered input: one wake-up fewer per poll.
        if (!gathering && !writePending) {
            handles[count] = m_hWaitEvents[1];
            slots[count++] = kPort;
        }
        if (!writePending) {
            handles[count] = m_hWaitEvents[2];
            slots[count++] = kWrite;
        }
        const DWORD result = WaitForMultipleObjectsUntil(count, handles, deadline);
        if (result == WAIT_TIMEOUT) {
            const Clock::time_point now = Clock::now();
            if (writePending && now >= writeAt) {
                gathering = false;
                FlushWriteBuffer(); // reads what has come before it purges
            }
            else if (gathering && now >= gatherEnd) {
                gathering = false;
                Receive(true, Take::UntilEmpty);
            }
            continue;
        }
        if (result >= count) {
            LoseDevice(errno); // the port can no longer be waited on
            continue;
        }
        switch (slots[result]) {
        case kStop:
            // What was gathered has reached the port before the stop.
            if (gathering)
                Receive(false, Take::QueuedNow);
            break;
        case kDeliver:
            gathering = false;
            ServeDeliverRequest();
            continue;
        case kPort:
            gathering = true;
            gatherEnd = Clock::now() + kGatherTime;
            continue;
        case kWrite:
            // Seen through the queue at the top; resetting before that
            // look loses no request.
            ResetEvent(m_hWaitEvents[2]);
            continue;
        }
        break;
    }

    {
        std::lock_guard lock(m_csLock);
        CloseHandle(m_hPort.exchange(nullptr));
    }
    {
        std::lock_guard lock(m_queueLock);
        m_writeQueue.clear();
        m_bPollQueued = false;
        m_nPendingWrites = 0;
    }
    if (m_bDeviceLost) {
        CWnd* owner = m_pOwnerWnd;
        const UINT port = m_nPortNumber;
        const unsigned opening = m_nOpenings;
        // Runs only while this object lives (its destructor closes the
        // hand-over first), and not at all once the port has been reopened.
        m_handOver.Post([this, owner, port, opening] {
            if (owner && m_nOpenings == opening)
                owner->WindowProc(WM_SERIAL_DEVICE_LOST, 0, static_cast<LPARAM>(port));
        });
    }
    // Only now: a following OpenPort must not race with the close above.
    m_nDeliverDone = m_nDeliverAsked.load();
    m_bAlive = FALSE;
    m_handOver.Notify();
    return 100;
}

bool CSerialPort::CountEmptyWakeup()
{
    const auto now = std::chrono::steady_clock::now();
    if (m_nEmptyWakeups == 0 || now - m_firstEmptyWakeup > std::chrono::seconds(1)) {
        m_nEmptyWakeups = 0;
        m_firstEmptyWakeup = now;
    }
    return ++m_nEmptyWakeups >= kMaxEmptyWakeups;
}

bool CSerialPort::StopRequested() const
{
    return WaitForSingleObject(m_hStopEvent, 0) == WAIT_OBJECT_0;
}

void CSerialPort::DrainInput()
{
    Receive(true, Take::UntilEmpty);
}

void CSerialPort::Receive(bool woken, Take take)
{
    HANDLE port = m_hPort.load();
    if (!port)
        return;
    // Once a stop is seen, only the bytes queued at that moment are still
    // delivered, so a device that never pauses cannot hold the stop off.
    long budget = -1;
    bool first = woken;
    for (;;) {
        int queued;
        int err = 0;
        {
            std::lock_guard lock(m_csLock);
            queued = SerialInputQueued(port);
            err = errno;
        }
        if (queued < 0) {
            LoseDevice(err);
            return;
        }
        if (budget < 0 && (take == Take::QueuedNow || StopRequested()))
            budget = queued;
        if (budget == 0 || (queued == 0 && !first))
            return;
        // Ready with nothing queued: one read tells a hang-up from a stray
        // wake-up.
        std::size_t want = queued > 0 ? std::min<std::size_t>(static_cast<std::size_t>(queued), kReadBatch) : 1;
        if (budget > 0)
            want = std::min<std::size_t>(want, static_cast<std::size_t>(budget));
        first = false;

        auto batch = std::make_shared<std::vector<BYTE>>(want);
        long n;
        bool broken = false;
        {
            std::lock_guard lock(m_csLock);
            n = ReadSerial(port, batch->data(), want);
            err = errno;
            if (n < 0 && (err == EAGAIN || err == EWOULDBLOCK))
                broken = SerialLineBroken(port);
        }
        if (n == 0) {
            LoseDevice(EIO); // end of file on a terminal: it has hung up
            return;
        }
        if (n < 0) {
            if (err != EAGAIN && err != EWOULDBLOCK)
                LoseDevice(err);
            else if (broken || CountEmptyWakeup())
                LoseDevice(EIO);
            return; // a failed read delivers nothing
        }
        m_nEmptyWakeups = 0;
        const auto readTime = std::chrono::steady_clock::now();
        batch->resize(static_cast<std::size_t>(n));
        if (budget > 0)
            budget -= n;

        if (!Deliver(batch, readTime))
            return; // the owner is going; the stop follows
    }
}

bool CSerialPort::Deliver(const std::shared_ptr<std::vector<BYTE>>& batch, Clock::time_point readTime)
{
    CWnd* owner = m_pOwnerWnd;
    const UINT portNumber = m_nPortNumber;
    return m_handOver.Send([owner, portNumber, batch, delivering = m_pDelivering, readAt = m_pReadTime,
                            readTime](const std::atomic<bool>& cancelled) {
        if (!owner)
            return;
        *readAt = readTime;
        ++*delivering;
        struct Done {
            std::atomic<int>& depth;
            ~Done() { --depth; }
        } done{*delivering};
        for (BYTE b : *batch) {
            if (cancelled.load(std::memory_order_relaxed))
                return;
            owner->WindowProc(WM_SERIAL_BYTE, b, static_cast<LPARAM>(portNumber));
        }
        if (!cancelled.load(std::memory_order_relaxed))
            owner->WindowProc(WM_SERIAL_BATCH_DONE, batch->size(), static_cast<LPARAM>(portNumber));
    });
}

void CSerialPort::FlushWriteBuffer()
{
    Request request;
    {
        std::lock_guard lock(m_queueLock);
        if (m_writeQueue.empty())
            return;
        request = std::move(m_writeQueue.front());
        m_writeQueue.pop_front();
        if (request.poll)
            m_bPollQueued = false;
        // The queue says what waits; a request queued from now on sets it again.
        ResetEvent(m_hWriteEvent);
    }

    // Counted as pending until written, dropped or given up.
    struct Taken {
        std::atomic<int>& pending;
        ~Taken() { --pending; }
    } taken{m_nPendingWrites};

    HANDLE port = m_hPort.load();
    auto before = std::make_shared<std::vector<BYTE>>();
    Clock::time_point beforeRead{};
    BOOL ok;
    int err;
    {
        std::lock_guard lock(m_csLock);
        // Everything that came before the write is read first and handed over
        // after it (the owner may be slow; the write need not wait for it):
        // the purge can then only take what came in the last instant. A
        // failed read is left for the write and the next wait to tell.
        for (int round = 0; round < kPreWriteRounds; ++round) {
            const int queued = SerialInputQueued(port);
            if (queued <= 0)
                break;
            const std::size_t had = before->size();
            before->resize(had + static_cast<std::size_t>(queued));
            const long n = ReadSerial(port, before->data() + had, static_cast<std::size_t>(queued));
            beforeRead = Clock::now();
            before->resize(had + static_cast<std::size_t>(std::max(n, 0L)));
            if (n <= 0)
                break;
        }
        PurgeSerialInput(port);
        ok = WriteSerial(port, request.bytes.data(), request.bytes.size(), m_hStopEvent);
        err = errno;
        m_lastWriteEnd = Clock::now();
    }
    if (!before->empty())
        Deliver(before, beforeRead);
    if (ok || err == ECANCELED)
        return;
    if (IsLineGone(err))
        LoseDevice(err);
    else
        ReportError(err); // the request is dropped
}

BOOL CSerialPort::Enqueue(const BYTE* pBytes, int nLength, bool poll)
{
    if (!pBytes || !m_pWriteBuf || !m_hPort.load() || nLength <= 0)
        return FALSE;
    nLength = std::min(nLength, m_nWriteBufSize);
    {
        std::lock_guard lock(m_queueLock);
        if (poll && m_bPollQueued)
            return FALSE;
        std::memset(m_pWriteBuf, 0, static_cast<std::size_t>(m_nWriteBufSize));
        std::memcpy(m_pWriteBuf, pBytes, static_cast<std::size_t>(nLength));
        m_writeQueue.push_back(Request{std::vector<BYTE>(m_pWriteBuf, m_pWriteBuf + nLength), poll});
        ++m_nPendingWrites;
        if (poll)
            m_bPollQueued = true;
    }
    SetEvent(m_hWriteEvent);
    return TRUE;
}

void CSerialPort::QueueWrite(const BYTE* pBytes)
{
    Enqueue(pBytes, m_nWriteLength, false);
}

BOOL CSerialPort::QueuePoll(const BYTE* pBytes, int nLength)
{
    return Enqueue(pBytes, nLength, true);
}

void CSerialPort::LoseDevice(int err)
{
    if (m_bDeviceLost)
        return;
    m_bDeviceLost = true;
    ReportError(err);
}

void CSerialPort::ShowSystemError()
{
    ReportError(errno);
}

void CSerialPort::ReportError(int err)
{
    const std::string text = ErrorText(err);
    auto show = [text] { MessageBoxA(nullptr, text, "Application Error", MB_ICONERROR); };
    if (m_handOver.OnUiThread()) {
        show();
        return;
    }
    // Shown by the user-interface thread; this thread waits until it is closed.
    m_handOver.Send([show](const std::atomic<bool>&) { show(); });
}
