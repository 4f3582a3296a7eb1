// What the end-to-end tests share: the record file's shape, the simulator's
// sent log, a feeder that writes from its own thread, idle waits and the
// process's CPU time.
#pragma once

#include <QEventLoop>
#include <QTimer>

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "tests/app/TelvarFixture.h"
#include "measurement/RecordFile.h"

// One data line of the record file, split into its six fields.
using RecordLine = std::array<std::string, 6>;

struct RecordCheck {
    bool ok = false;
    std::string why; // what is wrong, when not ok
    std::vector<RecordLine> lines;
};

// The header, then only whole, well-formed lines: six TAB-separated fields,
// angles and totals with four decimals, codes as unsigned 32-bit decimals,
// every line ended by CR LF and no piece of a line after the last.
RecordCheck CheckRecord(const std::string& bytes);

// Sent-log words of the simulator, one pair per frame, in the order sent.
std::vector<std::pair<std::uint32_t, std::uint32_t>> ReadSentWords(const std::string& path);

// The process's CPU time so far (every thread), in seconds.
inline double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Runs the event loop without spinning: it sleeps until an event comes.
inline void IdleFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Writes bytes into the box's end from a thread of its own: the tool's UI
// thread is the test's thread, and a large write would otherwise wait on it.
class Feeder {
public:
    Feeder(PtyBox& box, Bytes bytes) : m_thread([&box, b = std::move(bytes), this] {
        box.Send(b);
        m_done = true;
    })
    {
    }
    ~Feeder() { Join(); }
    bool Done() const { return m_done; }
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

// Texts shown since index `from`.
inline std::vector<std::string> TextsSince(const ScriptedPresenter& p, std::size_t from)
{
    std::vector<std::string> t;
    for (std::size_t i = from; i < p.shown.size(); ++i)
        t.push_back(p.shown[i].text);
    return t;
}
