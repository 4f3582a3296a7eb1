#include "serial/CSerialPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/MessageBox.h"
#include "platform/SerialDevice.h"

namespace
{

// One read() takes at most this many queued bytes; the whole batch is handed
// over to the user-interface thread in one wake-up.
constexpr std::size_t kReadBatch = 4096;
// Wake-ups within one second that found the port ready yet nothing to read.
// A line in that state is broken even if it does not say so.
constexpr int kMaxEmptyWakeups = 1000;
// How long a wake-up for input waits for more bytes before handing them over:
// well under one picture of the window, and at the box's fastest stream about
// eight frames per hand-over.
constexpr DWORD kGatherMs = 8;

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
    m_hWriteEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
    m_hStopEvent = CreateEvent(nullptr, TRUE, FALSE, nullptr);
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
    }
    m_lastWriteEnd = {};
    m_bDeviceLost = false;
    m_nEmptyWakeups = 0;

    int configError = 0;
    {
        std::lock_guard lock(m_csLock);
        if (HANDLE old = m_hPort.exchange(nullptr))
            CloseHandle(old);
        if (!m_hStopEvent || !m_hWriteEvent)
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

UINT CSerialPort::Monitor()
{
    m_bAlive = TRUE;
    while (!m_bDeviceLost) {
        const DWORD result = WaitForMultipleObjects(3, m_hWaitEvents, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0)
            break;
        if (result == WAIT_OBJECT_0 + 1) {
            // Let what is on its way arrive first: one hand-over then carries
            // several frames of a fast stream instead of one, which saves two
            // thread wake-ups per frame. The pause is shorter than one
            // picture of the window; a stop or a write ends it at once.
            const HANDLE others[2] = {m_hWaitEvents[0], m_hWaitEvents[2]};
            WaitForMultipleObjects(2, others, FALSE, kGatherMs);
            DrainInput();
        }
        else if (result == WAIT_OBJECT_0 + 2)
            FlushWriteBuffer();
        else
            LoseDevice(errno); // the port can no longer be waited on
    }

    {
        std::lock_guard lock(m_csLock);
        CloseHandle(m_hPort.exchange(nullptr));
    }
    {
        std::lock_guard lock(m_queueLock);
        m_writeQueue.clear();
        m_bPollQueued = false;
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
    HANDLE port = m_hPort.load();
    if (!port)
        return;
    // Once a stop is seen, only the bytes queued at that moment are still
    // delivered, so a device that never pauses cannot hold the stop off.
    long budget = -1;
    bool first = true;
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
        if (budget < 0 && StopRequested())
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

        CWnd* owner = m_pOwnerWnd;
        const UINT portNumber = m_nPortNumber;
        const bool delivered =
            m_handOver.Send([owner, portNumber, batch, delivering = m_pDelivering, readAt = m_pReadTime,
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
        if (!delivered)
            return; // the owner is going; the stop follows
    }
}

void CSerialPort::FlushWriteBuffer()
{
    ResetEvent(m_hWriteEvent);
    Request request;
    {
        std::lock_guard lock(m_queueLock);
        if (m_writeQueue.empty())
            return;
        request = std::move(m_writeQueue.front());
        m_writeQueue.pop_front();
        if (request.poll)
            m_bPollQueued = false;
        // One request per pass, so that a stop still comes first.
        if (!m_writeQueue.empty())
            SetEvent(m_hWriteEvent);
    }

    using Clock = std::chrono::steady_clock;
    if (m_lastWriteEnd != Clock::time_point{}) {
        const auto resume = m_lastWriteEnd + kCommandGap;
        for (auto now = Clock::now(); now < resume; now = Clock::now()) {
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(resume - now).count();
            if (WaitForSingleObject(m_hStopEvent, static_cast<DWORD>(ms)) == WAIT_OBJECT_0)
                return;
        }
    }

    HANDLE port = m_hPort.load();
    BOOL ok;
    int err = 0;
    {
        std::lock_guard lock(m_csLock);
        // Unread input is discarded before every command.
        PurgeSerialInput(port);
        ok = WriteSerial(port, request.bytes.data(), request.bytes.size(), m_hStopEvent);
        err = errno;
        m_lastWriteEnd = Clock::now();
    }
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
