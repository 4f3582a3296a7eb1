// Sustained throughput of the serial link: bytes written into a
// pseudo-terminal as fast as it takes them, read by CSerialPort's thread and
// handed one by one to a handler on the Qt user-interface thread.
//
//   bench_serial_delivery [megabytes]     (default 8)
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pty.h>
#include <string>
#include <thread>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include "serial/CSerialPort.h"

namespace
{

double CpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Checks that every byte is the next of a counter mod 251 (a period that does
// not line up with any buffer size).
class CountingWnd : public CWnd
{
public:
    unsigned long received = 0;
    unsigned long outOfOrder = 0;
    unsigned long wrongPort = 0;
    unsigned long target = 0;

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message != WM_SERIAL_BYTE)
            return 0;
        if (lParam != 1)
            ++wrongPort;
        if (wParam != received % 251)
            ++outOfOrder;
        if (++received == target)
            QCoreApplication::quit();
        return 0;
    }
};

} // namespace

int main(int argc, char** argv)
{
    const unsigned long megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 8;
    const unsigned long total = megabytes * 1000UL * 1000UL;
    QCoreApplication app(argc, argv);

    int master = -1;
    int slave = -1;
    char name[128] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 2;
    }
    close(slave);
    setenv("TELVAR_COM1", name, 1);

    CountingWnd owner;
    owner.target = total;
    CSerialPort port;
    if (!port.OpenPort(&owner, 1) || !port.StartMonitor()) {
        std::fprintf(stderr, "cannot open %s\n", name);
        return 2;
    }

    std::atomic<bool> writerFailed{false};
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    std::thread writer([&] {
        unsigned char buf[4096];
        unsigned long sent = 0;
        unsigned counter = 0;
        while (sent < total) {
            const std::size_t n = std::min<unsigned long>(sizeof buf, total - sent);
            for (std::size_t i = 0; i < n; ++i) {
                buf[i] = static_cast<unsigned char>(counter);
                counter = (counter + 1) % 251;
            }
            std::size_t done = 0;
            while (done < n) {
                const ssize_t w = write(master, buf + done, n - done);
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0) {
                    writerFailed = true;
                    return;
                }
                done += static_cast<std::size_t>(w);
            }
            sent += n;
        }
    });

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &app, &QCoreApplication::quit);
    deadline.start(120000);
    app.exec();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = CpuSeconds() - cpuStart;

    port.RequestStop();
    close(master); // unblocks a writer stuck on a full line
    writer.join();

    const bool complete = owner.received == total && owner.outOfOrder == 0 && owner.wrongPort == 0 && !writerFailed;
    std::printf("bytes delivered          %lu of %lu\n", owner.received, total);
    std::printf("out of order / wrong port %lu / %lu\n", owner.outOfOrder, owner.wrongPort);
    std::printf("sustained                %.0f bytes/s\n", static_cast<double>(owner.received) / seconds);
    std::printf("CPU per million bytes    %.3f s\n", cpu / (static_cast<double>(owner.received) / 1e6));
    std::printf("result                   %s\n", complete ? "every byte, in order" : "FAILED");
    return complete ? 0 : 1;
}
