// One serial port and the worker thread that watches it. Every received byte
// goes to the owner window as WM_SERIAL_BYTE, synchronously and in arrival
// order, on the owner's user-interface thread; commands queued by the owner
// are written by the worker, each whole and in order.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/posix/Sync.h"
#include "platform/core/UiHandOver.h"
#include "platform/posix/WinTypes.h"
#include "platform/core/Wnd.h"

// wParam: the received byte; lParam: the port number.
constexpr UINT WM_SERIAL_BYTE = WM_USER + 7;
// Reserved: Linux serial devices have no event character, so it is never sent.
constexpr UINT WM_SERIAL_EVENTCHAR = WM_USER + 8;
// The device went away (adapter pulled, line hung up); the port is closed
// and its thread has ended. Posted after the error report is closed.
// wParam: 0; lParam: the port number.
constexpr UINT WM_SERIAL_DEVICE_LOST = WM_USER + 9;
// Sent after the last WM_SERIAL_BYTE of the bytes read together, so that an
// owner can show the outcome of a batch once instead of once per byte. Not
// sent when the delivery was cut short. wParam: the number of bytes
// delivered; lParam: the port number.
constexpr UINT WM_SERIAL_BATCH_DONE = WM_USER + 10;

constexpr DWORD EV_RXCHAR = 0x0001;
constexpr DWORD EV_RXFLAG = 0x0002;

class CSerialPort
{
public:
    CSerialPort();
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // (Re)opens port nPortNumber (1 to 4) for pOwner. Waits for a previous
    // thread to end first. FALSE, with nothing shown, when the device is
    // absent or held by another program. Call on the user-interface thread.
    BOOL OpenPort(CWnd* pOwner, UINT nPortNumber);
    // Starts MonitorProc on this port after a successful OpenPort. FALSE when
    // the port is not open or a thread already runs.
    BOOL StartMonitor();
    // Asks the thread to close the port and end; does not wait.
    void RequestStop();
    // Returns once every byte that had reached the port when it was called
    // has been delivered to the owner (or the thread has ended). Call on the
    // user-interface thread; the deliveries run while it waits. For an owner
    // that must see all input up to a moment, such as the end of a record.
    void DeliverPendingInput();

    // Sends the first m_nWriteLength bytes of pBytes as one command, after
    // every command queued before it.
    void QueueWrite(const BYTE* pBytes);
    // Queues a poll of nLength bytes unless an earlier poll has not gone out
    // yet; returns whether it was queued.
    BOOL QueuePoll(const BYTE* pBytes, int nLength = 3);

    // Commands queued and not yet written or given up. A stop request wins
    // over waiting writes, so an owner whose last command must reach the box
    // waits for 0 before it stops the thread.
    int PendingWrites() const { return m_nPendingWrites.load(); }

    // True on the user-interface thread while received bytes are being
    // delivered: a WM_SERIAL_BATCH_DONE follows unless the delivery is cut
    // short.
    bool IsDelivering() const { return *m_pDelivering > 0; }
    // While delivering: when the bytes being delivered were read.
    std::chrono::steady_clock::time_point DeliveryReadTime() const { return *m_pReadTime; }

    static UINT MonitorProc(void* pParam);
    void FlushWriteBuffer();
    void DrainInput();
    void ShowSystemError();

    std::atomic<HANDLE> m_hPort{nullptr};
    BYTE* m_pWriteBuf = nullptr;
    int m_nWriteLength = 3;
    CCriticalSection m_csLock;
    std::atomic<BOOL> m_bAlive{FALSE};
    HANDLE m_hStopEvent = nullptr;
    HANDLE m_hWriteEvent = nullptr;
    // [0] stop, [1] the port (input waiting or line failed), [2] write request.
    HANDLE m_hWaitEvents[3] = {nullptr, nullptr, nullptr};
    CWnd* m_pOwnerWnd = nullptr;
    UINT m_nPortNumber = 0;
    DWORD m_dwEventMask = 0;
    int m_nWriteBufSize = 0;

    // Shortest pause on the line between two commands.
    static constexpr std::chrono::milliseconds kCommandGap{2};
    // How long input is gathered before a hand-over, unless a write, a stop
    // or a delivery request comes first: at the box's fastest stream about
    // eight frames per hand-over, well under one picture of the window.
    static constexpr std::chrono::milliseconds kGatherTime{8};

private:
    struct Request {
        std::vector<BYTE> bytes;
        bool poll = false;
    };

    UINT Monitor();
    // What a receive pass reads: until the queue is empty, or only the bytes
    // queued when it begins (so that a stream that never pauses cannot hold
    // the caller).
    enum class Take { UntilEmpty, QueuedNow };
    // woken: the port said it was ready, so an empty queue may mean a hang-up.
    void Receive(bool woken, Take take);
    void ServeDeliverRequest();
    // Hands the bytes to the owner and waits until it has handled them; false
    // when the owner is going.
    // readTime: when the read that brought the batch returned.
    bool Deliver(const std::shared_ptr<std::vector<BYTE>>& batch, std::chrono::steady_clock::time_point readTime);
    BOOL Enqueue(const BYTE* pBytes, int nLength, bool poll);
    void WaitForThreadEnd();
    void ReportError(int err);
    void LoseDevice(int err);
    bool StopRequested() const;
    bool CountEmptyWakeup();

    unsigned m_nOpenings = 0; // user-interface thread, and the thread while it runs
    UiHandOver m_handOver;
    // Deliveries in progress (they nest when one waits for a reopened port),
    // shared with the delivery jobs.
    std::shared_ptr<std::atomic<int>> m_pDelivering = std::make_shared<std::atomic<int>>(0);
    // Written and read on the user-interface thread only, by the delivery jobs.
    std::shared_ptr<std::chrono::steady_clock::time_point> m_pReadTime =
        std::make_shared<std::chrono::steady_clock::time_point>();
    std::thread m_thread;

    std::mutex m_queueLock; // the request queue and the staging buffer
    std::deque<Request> m_writeQueue;
    bool m_bPollQueued = false;
    std::atomic<int> m_nPendingWrites{0}; // queued or being written

    // Delivery requests: the event wakes the thread; a request is done once
    // m_nDeliverDone has reached its number.
    HANDLE m_hDeliverEvent = nullptr;
    std::atomic<unsigned> m_nDeliverAsked{0};
    std::atomic<unsigned> m_nDeliverDone{0};

    // Worker thread only.
    bool m_bDeviceLost = false;
    int m_nEmptyWakeups = 0;
    std::chrono::steady_clock::time_point m_firstEmptyWakeup{};
    std::chrono::steady_clock::time_point m_lastWriteEnd{};
};
