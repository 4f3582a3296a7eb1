// telvar-record against the simulated box, beside the references it is held
// to, in one run:
//
//  1. Burst: the real main dialog (in this process, offscreen) and then
//     telvar-record each record BENCH_FRAMES frames (500000) that the
//     simulator sends as fast as they are taken; every line of both record
//     files is checked against the frames sent. Repeated BENCH_REPEAT (2)
//     times, alternating.
//  2. The real 1 kHz stream for BENCH_SECONDS (10): telvar-record recording
//     dat, and side by side cat capturing another 1 kHz stream into a file;
//     CPU of each over the same stretch.
//
// Prints figures; asserts nothing.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchLoop.h"
#include "BenchProcess.h"
#include "RecordCheck.h"
#include "app/CTelvarDlg.h"
#include "app/resource.h"
#include "measurement/Protocol.h"
#include "platform/draw/Fonts.h"
#include "platform/core/MessageBox.h"

using namespace bench;

namespace
{

// Counts the data lines of a record file as they are appended.
class LineCounter
{
public:
    explicit LineCounter(const std::string& path) : m_path(path) {}
    ~LineCounter()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    long long Count()
    {
        if (m_fd < 0)
            m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            return 0;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::pread(m_fd, buffer, sizeof buffer, m_offset);
            if (n <= 0)
                break;
            m_offset += n;
            m_newlines += std::count(buffer, buffer + n, '\n');
        }
        return m_newlines > 0 ? m_newlines - 1 : 0;
    }

private:
    std::string m_path;
    int m_fd = -1;
    off_t m_offset = 0;
    long long m_newlines = 0;
};

// Watches a record file from a thread of its own until the stream is in or
// has stalled; the sustained rate from the first line to the last.
struct BurstFigures {
    double rate = 0;
    double slowest = 0;
    long long lines = 0;
};

BurstFigures WatchBurst(const std::string& path, long frames, const std::function<bool(const std::function<bool()>&)>& wait)
{
    struct Sample {
        double t;
        long long lines;
    };
    std::vector<Sample> samples;
    std::mutex lock;
    std::atomic<bool> stop{false};
    const Clock::time_point begin = Clock::now();
    std::thread sampler([&] {
        LineCounter counter(path);
        while (!stop) {
            const long long n = counter.Count();
            const double t = Seconds(Clock::now() - begin);
            {
                std::lock_guard<std::mutex> guard(lock);
                if (samples.empty() || n != samples.back().lines)
                    samples.push_back({t, n});
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    wait([&] {
        std::lock_guard<std::mutex> guard(lock);
        if (samples.empty())
            return false;
        const Sample last = samples.back();
        return last.lines >= frames - 1 || (last.lines > 0 && Seconds(Clock::now() - begin) - last.t > 2.0);
    });
    stop = true;
    sampler.join();

    BurstFigures f;
    std::size_t first = 0;
    while (first < samples.size() && samples[first].lines == 0)
        ++first;
    if (first >= samples.size())
        return f;
    const auto a = samples[first];
    const auto z = samples.back();
    f.lines = z.lines;
    f.rate = z.t > a.t ? static_cast<double>(z.lines - a.lines) / (z.t - a.t) : 0;
    f.slowest = f.rate;
    for (std::size_t i = first, j = first; i < samples.size(); ++i) {
        while (j < samples.size() && samples[j].t < samples[i].t + 1.0)
            ++j;
        if (j >= samples.size())
            break;
        f.slowest = std::min(f.slowest, static_cast<double>(samples[j].lines - samples[i].lines)
                                            / (samples[j].t - samples[i].t));
    }
    return f;
}

const std::vector<std::string> kEncoders = {"--gray1", "--speed1", "7200", "--speed2", "-900"};
const ChannelSetup kSetup{1, 25, 0, 26}; // channel 1 Gray at 25 bits, channel 2 binary at 26

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

bool Complete(const RecordCheck& c)
{
    return c.headerOk && c.aligned && c.mismatches == 0 && c.MissingAfterStart() == 0;
}

// The dialog as bench_app_e2e drives it: 串口1, channel 1 Gray 25 bits,
// "1 kHz", 开始 in continuous mode.
double DialogBurst(const TempDir& dir, long frames, int round)
{
    const std::string home = dir.Path() + "/dialog" + std::to_string(round);
    ::mkdir(home.c_str(), 0755);
    ::setenv("HOME", home.c_str(), 1);
    for (int n = 2; n <= 4; ++n)
        ::setenv(("TELVAR_COM" + std::to_string(n)).c_str(), (home + "/no-such-device").c_str(), 1);
    ScriptedPresenter presenter;
    SetMessagePresenter(&presenter);
    auto dlg = std::make_unique<CTelvarDlg>();
    dlg->Create();
    auto click = [&](int id) { qobject_cast<QAbstractButton*>(dlg->GetDlgItem(id)->Widget())->click(); };
    auto choose = [&](int id, int index) {
        auto* c = qobject_cast<QComboBox*>(dlg->GetDlgItem(id)->Widget());
        c->setCurrentIndex(index);
        emit c->activated(index);
    };

    const std::string sentLog = home + "/sent.log";
    BoxSim box(With({"--burst", "--frames", std::to_string(frames), "--sent-log", sentLog}, kEncoders));
    ::setenv("TELVAR_COM1", box.DevicePath().c_str(), 1);
    click(IDC_OPEN_PORT);
    RunFor(100);
    choose(IDC_DATA_TYPE1, 1);
    choose(IDC_BIT_WIDTH1, 1);
    choose(IDC_FREQUENCY, 0);
    click(IDC_START);
    const std::string record = home + "/Telvar-Record.dat";
    const BurstFigures f = WatchBurst(record, frames, [&](const std::function<bool()>& done) {
        return RunUntil(done, static_cast<int>(frames / 100 + 60000), 20);
    });
    RunFor(300);
    if (dlg->GetDlgItemText(IDC_START) == "停止")
        click(IDC_START);
    click(IDC_OPEN_PORT);
    RunFor(100);
    box.Stop();
    dlg.reset();
    SetMessagePresenter(nullptr);

    const RecordCheck check = CheckRecord(sentLog, record, kSetup);
    std::printf("  dialog:        %7.0f frames/s sustained (slowest 1 s %7.0f), %lld lines, every line right: %s\n",
                f.rate, f.slowest, f.lines, Complete(check) ? "yes" : "NO");
    if (!Complete(check))
        PrintCheck("dialog record", check);
    return f.rate;
}

double RecorderBurst(const TempDir& dir, long frames, int round)
{
    const std::string base = dir.Path() + "/record" + std::to_string(round);
    const std::string sentLog = base + "-sent.log";
    const std::string out = base + ".dat";
    BoxSim box(With({"--burst", "--frames", std::to_string(frames), "--sent-log", sentLog}, kEncoders));
    Child rec({TELVAR_RECORD_PATH, "--device", box.DevicePath(), "--type1", "gray", "--width1", "25", "--rate", "1kHz",
               "--output", out, "--quiet"},
              "/dev/null");
    const BurstFigures f = WatchBurst(out, frames, [&](const std::function<bool()>& done) {
        const Clock::time_point limit = Clock::now() + std::chrono::milliseconds(frames / 100 + 60000);
        while (!done() && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return done();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(rec.Pid(), SIGINT);
    const int status = rec.Wait();
    box.Stop();

    const RecordCheck check = CheckRecord(sentLog, out, kSetup);
    std::printf("  telvar-record: %7.0f frames/s sustained (slowest 1 s %7.0f), %lld lines, every line right: %s, "
                "exit %d, CPU %.2f s\n",
                f.rate, f.slowest, f.lines, Complete(check) ? "yes" : "NO",
                WIFEXITED(status) ? WEXITSTATUS(status) : -1, CpuSeconds(rec.Usage()));
    if (!Complete(check))
        PrintCheck("telvar-record output", check);
    return f.rate;
}

// The box's end for cat: a 1 kHz stream started by hand on a raw line.
int StartRawStream(const std::string& device)
{
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    const protocol::Command freq = protocol::MakeCommand(protocol::CMD_FREQUENCY, protocol::FREQ_CODES[0]);
    if (::write(fd, freq.data(), freq.size()) < 0 || ::write(fd, protocol::START_CMD.data(), 3) < 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void Realtime(const TempDir& dir, int seconds)
{
    std::printf("2. The 1 kHz stream for %d s: telvar-record recording dat, cat capturing beside it\n", seconds);
    const std::string sentLog = dir.Path() + "/khz-sent.log";
    const std::string out = dir.Path() + "/khz.dat";
    const std::string capture = dir.Path() + "/cat-capture.bin";

    BoxSim catBox(With({"--rate", "1000"}, kEncoders));
    const int lineFd = StartRawStream(catBox.DevicePath());
    Child cat({"/bin/cat", catBox.DevicePath()}, capture);
    BoxSim box(With({"--rate", "1000", "--sent-log", sentLog}, kEncoders));
    Child rec({TELVAR_RECORD_PATH, "--device", box.DevicePath(), "--type1", "gray", "--width1", "25", "--rate", "1kHz",
               "--output", out, "--quiet"},
              "/dev/null");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000)); // start-up over, both streams flow

    LineCounter counter(out);
    const long long lines0 = counter.Count();
    const long long bytes0 = FileSize(capture);
    const double recCpu0 = ProcessCpu(rec.Pid());
    const double catCpu0 = ProcessCpu(cat.Pid());
    const Clock::time_point t0 = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Clock::time_point t1 = Clock::now();
    const double recCpu1 = ProcessCpu(rec.Pid());
    const double catCpu1 = ProcessCpu(cat.Pid());
    const long long lines1 = counter.Count();
    const long long bytes1 = FileSize(capture);

    ::kill(rec.Pid(), SIGINT);
    const int status = rec.Wait();
    box.Stop();
    cat.Stop();
    if (lineFd >= 0)
        ::close(lineFd);
    catBox.Stop();

    const double wall = Seconds(t1 - t0);
    const double recCpu = recCpu1 - recCpu0;
    const double catCpu = catCpu1 - catCpu0;
    const double recFrames = static_cast<double>(lines1 - lines0);
    const double catFrames = static_cast<double>(bytes1 - bytes0) / 10.0;
    std::printf("  telvar-record: %.0f frames in %.2f s, CPU %.2f%% of one core, %.2f us per frame\n", recFrames, wall,
                100.0 * recCpu / wall, recFrames > 0 ? recCpu / recFrames * 1e6 : 0.0);
    std::printf("  cat:           %.0f frames in %.2f s, CPU %.2f%% of one core, %.2f us per frame\n", catFrames, wall,
                100.0 * catCpu / wall, catFrames > 0 ? catCpu / catFrames * 1e6 : 0.0);
    if (catCpu > 0 && catFrames > 0 && recFrames > 0)
        std::printf("  telvar-record / cat: CPU %.2f x, CPU per frame %.2f x (goal <= 1.5)\n", recCpu / catCpu,
                    (recCpu / recFrames) / (catCpu / catFrames));
    const RecordCheck check = CheckRecord(sentLog, out, kSetup);
    std::printf("  record file correct: %s, exit %d\n",
                check.headerOk && check.aligned && check.mismatches == 0 ? "yes" : "NO",
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    if (!(check.headerOk && check.aligned && check.mismatches == 0))
        PrintCheck("telvar-record output", check);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    InstallFontSubstitutions();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const long frames = EnvLong("BENCH_FRAMES", 500000);
    const int seconds = static_cast<int>(EnvLong("BENCH_SECONDS", 10));
    const int repeat = static_cast<int>(EnvLong("BENCH_REPEAT", 2));
    TempDir dir;
    std::printf("1. Burst: %ld frames, continuous mode, recording dat\n", frames);
    double dialogBest = 0, recordBest = 0;
    for (int r = 0; r < repeat; ++r) {
        dialogBest = std::max(dialogBest, DialogBurst(dir, frames, r));
        recordBest = std::max(recordBest, RecorderBurst(dir, frames, r));
    }
    if (dialogBest > 0)
        std::printf("  best of each: telvar-record / dialog = %.2f x (goal >= 1)\n", recordBest / dialogBest);
    Realtime(dir, seconds);
    return 0;
}
