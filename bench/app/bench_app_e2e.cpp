// The whole tool against the simulated box, in this process and offscreen:
// the real main dialog opens 串口1 on telvar-boxsim, starts continuous
// acquisition with recording, and every record line is checked against the
// frames the simulator sent.
//
//  1. Burst: the simulator streams as fast as the tool takes the bytes
//     (faster than any baud rate), BENCH_FRAMES frames (500000).
//  2. The real 1 kHz stream for BENCH_SECONDS (10): CPU of the tool, and
//     side by side a raw capture of another 1 kHz stream with cat.
//  3. The 1 kHz stream at scale 1 and at QT_SCALE_FACTOR=2, side by side:
//     BENCH_SCALE_ROUNDS (2) alternating runs of BENCH_SCALE_SECONDS (10)
//     each, every run a fresh process of this program.
//
// Offscreen the screen is a 3840 x 2160 one, so that the dialog has its
// template size at either scale (the platform's default screen is smaller
// than the dialog, which would then be fitted to it).
//
// Prints figures; asserts nothing.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
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

// Runs the event loop (blocking in it like the application does) until
// done() holds, checking every stepMs, or until timeoutMs.
// Counts the record file's data lines as they are appended.
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
        return m_newlines > 0 ? m_newlines - 1 : 0; // the header line
    }

private:
    std::string m_path;
    int m_fd = -1;
    off_t m_offset = 0;
    long long m_newlines = 0;
};

// Counts the paints a widget gets.
class PaintCounter : public QObject
{
public:
    unsigned long paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

class Harness
{
public:
    explicit Harness(const std::string& home) : m_home(home)
    {
        ::setenv("HOME", home.c_str(), 1);
        for (int n = 2; n <= 4; ++n)
            ::setenv(("TELVAR_COM" + std::to_string(n)).c_str(), (home + "/no-such-device").c_str(), 1);
        SetMessagePresenter(&m_presenter);
        m_dlg = std::make_unique<CTelvarDlg>();
        m_dlg->Create();
    }
    ~Harness()
    {
        m_dlg.reset();
        SetMessagePresenter(nullptr);
    }

    std::string RecordPath() const { return m_home + "/Telvar-Record.dat"; }
    CTelvarDlg& Dlg() { return *m_dlg; }

    void Click(int id) { qobject_cast<QAbstractButton*>(m_dlg->GetDlgItem(id)->Widget())->click(); }
    void Choose(int id, int index)
    {
        auto* c = qobject_cast<QComboBox*>(m_dlg->GetDlgItem(id)->Widget());
        c->setCurrentIndex(index);
        emit c->activated(index);
    }
    std::string Text(int id) const { return m_dlg->GetDlgItemText(id); }

    // 串口1 on the device, the settings, then 开始 (the start sequence takes
    // its command gaps; the simulator streams once the start command is in).
    bool OpenAndStart(const std::string& device, int freqIndex)
    {
        ::setenv("TELVAR_COM1", device.c_str(), 1);
        Click(IDC_OPEN_PORT);
        if (Text(IDC_OPEN_PORT) != "关闭串口")
            return false;
        RunFor(100);               // the open-time command
        Choose(IDC_DATA_TYPE1, 1); // channel 1 Gray
        Choose(IDC_BIT_WIDTH1, 1); // channel 1 25 bits
        Choose(IDC_FREQUENCY, freqIndex);
        Click(IDC_START);
        return Text(IDC_START) == "停止";
    }

    void StopAndClose()
    {
        if (Text(IDC_START) == "停止")
            Click(IDC_START); // asks to save: the scripted answer is No
        if (Text(IDC_OPEN_PORT) == "关闭串口")
            Click(IDC_OPEN_PORT);
        RunFor(100);
    }

    ChannelSetup Setup() const
    {
        const MeasureState& s = m_dlg->State();
        return {s.m_nDataType1, s.m_nBitWidth1, s.m_nDataType2, s.m_nBitWidth2};
    }

    void PrintMessages()
    {
        for (const auto& m : m_presenter.shown)
            if (m.text != "是否保存历史数据")
                std::printf("  message box: %s\n", m.text.c_str());
        m_presenter.shown.clear();
    }

private:
    std::string m_home;
    ScriptedPresenter m_presenter;
    std::unique_ptr<CTelvarDlg> m_dlg;
};

const std::vector<std::string> kEncoders = {"--gray1", "--speed1", "7200", "--speed2", "-900"};

std::vector<std::string> With(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void Burst(Harness& h, const TempDir& dir, long frames)
{
    std::printf("1. Burst: %ld frames, continuous mode, recording on\n", frames);
    const std::string sentLog = dir.Path() + "/burst-sent.log";
    BoxSim box(With({"--burst", "--frames", std::to_string(frames), "--sent-log", sentLog}, kEncoders));
    if (!h.OpenAndStart(box.DevicePath(), 0)) {
        std::printf("  could not start\n");
        h.PrintMessages();
        return;
    }

    // The record file is watched from a thread of its own: a stream this
    // fast keeps the user-interface thread too busy for timers to be precise.
    struct Sample {
        double t;
        long long lines;
    };
    std::vector<Sample> samples;
    std::mutex lock;
    std::atomic<bool> stop{false};
    double samplerCpu = 0;
    const Clock::time_point begin = Clock::now();
    const rusage cpu0 = Usage(RUSAGE_SELF);
    std::thread sampler([&] {
        LineCounter counter(h.RecordPath());
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
        samplerCpu = CpuSeconds(Usage(RUSAGE_THREAD));
    });
    RunUntil(
        [&] {
            std::lock_guard<std::mutex> guard(lock);
            if (samples.empty())
                return false;
            const Sample last = samples.back();
            // Done when all frames but the synchronising one are in, or the
            // stream has stalled.
            return last.lines >= frames - 1 || (last.lines > 0 && Seconds(Clock::now() - begin) - last.t > 2.0);
        },
        static_cast<int>(frames / 100 + 60000), 20);
    stop = true;
    sampler.join();
    const rusage cpu1 = Usage(RUSAGE_SELF);
    const double busy = Seconds(Clock::now() - begin);
    RunFor(300); // anything still in flight
    h.StopAndClose();
    box.Stop();

    // From the first line to the last; and the slowest one-second stretch.
    std::size_t first = 0;
    while (first < samples.size() && samples[first].lines == 0)
        ++first;
    if (first >= samples.size()) {
        std::printf("  no line recorded\n");
        h.PrintMessages();
        return;
    }
    const Sample a = samples[first];
    const Sample z = samples.back();
    const double seconds = z.t - a.t;
    const double rate = seconds > 0 ? static_cast<double>(z.lines - a.lines) / seconds : 0;
    double slowest = rate;
    for (std::size_t i = first, j = first; i < samples.size(); ++i) {
        while (j < samples.size() && samples[j].t < samples[i].t + 1.0)
            ++j;
        if (j >= samples.size())
            break;
        slowest =
            std::min(slowest, static_cast<double>(samples[j].lines - samples[i].lines) / (samples[j].t - samples[i].t));
    }
    const double cpu = CpuSeconds(cpu1) - CpuSeconds(cpu0) - samplerCpu;
    std::printf("  sustained rate:          %.0f frames/s (%lld lines in %.2f s; goal >= 5000)\n", rate,
                z.lines - a.lines, seconds);
    std::printf("  slowest 1 s stretch:     %.0f frames/s\n", slowest);
    std::printf("  tool CPU while bursting: %.0f%% of one core (%.2f us per frame)\n", 100.0 * cpu / busy,
                z.lines > 0 ? cpu / static_cast<double>(z.lines) * 1e6 : 0.0);

    const RecordCheck check = CheckRecord(sentLog, h.RecordPath(), h.Setup());
    PrintCheck("record file", check);
    const bool complete = check.headerOk && check.aligned && check.mismatches == 0 && check.MissingAfterStart() == 0;
    std::printf("  record file complete and correct: %s\n", complete ? "yes, no frame lost" : "NO");
    h.PrintMessages();
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

void Realtime(Harness& h, const TempDir& dir, int seconds)
{
    std::printf("2. The 1 kHz stream for %d s, continuous mode, recording on\n", seconds);
    const std::string sentLog = dir.Path() + "/khz-sent.log";
    const std::string capture = dir.Path() + "/cat-capture.bin";

    // The alternative: a raw capture of its own 1 kHz stream, started first
    // so that it runs through the whole measured stretch.
    BoxSim catBox(With({"--rate", "1000"}, kEncoders));
    const int lineFd = StartRawStream(catBox.DevicePath());
    const Clock::time_point catBegin = Clock::now();
    Child cat({"/bin/cat", catBox.DevicePath()}, capture);

    BoxSim box(With({"--rate", "1000", "--sent-log", sentLog}, kEncoders));
    if (!h.OpenAndStart(box.DevicePath(), 0)) {
        std::printf("  could not start\n");
        h.PrintMessages();
        return;
    }
    RunFor(500); // the start sequence is out, the stream flows
    LineCounter counter(h.RecordPath());
    PaintCounter gaugePaints;
    h.Dlg().Meter1().installEventFilter(&gaugePaints);
    PaintCounter dialogPaints;
    h.Dlg().GetSafeHwnd()->installEventFilter(&dialogPaints);
    const long long lines0 = counter.Count();
    const rusage self0 = Usage(RUSAGE_SELF);
    const rusage ui0 = Usage(RUSAGE_THREAD);
    const Clock::time_point t0 = Clock::now();
    RunFor(seconds * 1000);
    const Clock::time_point t1 = Clock::now();
    const rusage self1 = Usage(RUSAGE_SELF);
    const rusage ui1 = Usage(RUSAGE_THREAD);
    const long long lines1 = counter.Count();
    const unsigned long paints = gaugePaints.paints;
    const std::string shownText = h.Text(IDC_REL_ANGLE1);
    const std::string lastText = h.Dlg().State().m_strRelAngle1;
    h.Dlg().Meter1().removeEventFilter(&gaugePaints);
    h.Dlg().GetSafeHwnd()->removeEventFilter(&dialogPaints);
    h.StopAndClose();
    box.Stop();

    const rusage catUsage = cat.Stop();
    const double catWall = Seconds(Clock::now() - catBegin);
    if (lineFd >= 0)
        ::close(lineFd);
    catBox.Stop();

    const double wall = Seconds(t1 - t0);
    const double cpu = CpuSeconds(self1) - CpuSeconds(self0);
    const double ui = CpuSeconds(ui1) - CpuSeconds(ui0);
    const long long frames = lines1 - lines0;
    const double perFrame = frames > 0 ? cpu / static_cast<double>(frames) : 0;
    std::printf("  frames recorded:         %lld in %.2f s (%.0f frames/s)\n", frames, wall,
                static_cast<double>(frames) / wall);
    std::printf("  tool CPU:                %.2f%% of one core (goal <= 10%%): UI thread %.2f%%, serial worker "
                "%.2f%%\n",
                100.0 * cpu / wall, 100.0 * ui / wall, 100.0 * (cpu - ui) / wall);
    std::printf("  tool CPU per frame:      %.2f us\n", perFrame * 1e6);
    std::printf("  repaints per second:     gauge 1 %.0f, dialog background %.0f; label 1004 shows '%s' (last "
                "frame '%s')\n",
                static_cast<double>(paints) / wall, static_cast<double>(dialogPaints.paints) / wall, shownText.c_str(),
                lastText.c_str());

    const long long catBytes = FileSize(capture);
    const double catCpu = CpuSeconds(catUsage);
    const double catFrames = static_cast<double>(catBytes) / 10.0;
    const double catPerFrame = catFrames > 0 ? catCpu / catFrames : 0;
    std::printf("  cat capture:             %lld bytes (%.0f frames) in %.2f s, CPU %.2f%% of one core, %.2f us "
                "per frame\n",
                catBytes, catFrames, catWall, 100.0 * catCpu / catWall, catPerFrame * 1e6);
    if (catPerFrame > 0)
        std::printf("  tool / cat CPU per frame: %.1f x\n", perFrame / catPerFrame);

    const RecordCheck check = CheckRecord(sentLog, h.RecordPath(), h.Setup());
    PrintCheck("record file", check);
    // The stream does not end by itself: the frames the stop cut off are not
    // missing. Everything recorded must be right and in one piece.
    std::printf("  record file correct: %s\n", check.headerOk && check.aligned && check.mismatches == 0 ? "yes" : "NO");
    h.PrintMessages();
}

// One run of the 1 kHz stretch in a child process at the given scale; the
// tool's CPU in per cent of one core, or a negative value when it failed.
double ChildCpuAtScale(const char* self, int scale, int seconds)
{
    if (scale == 1)
        ::unsetenv("QT_SCALE_FACTOR");
    else
        ::setenv("QT_SCALE_FACTOR", std::to_string(scale).c_str(), 1);
    ::setenv("BENCH_SCALE_CHILD", "1", 1);
    ::setenv("BENCH_SECONDS", std::to_string(seconds).c_str(), 1);
    double cpu = -1.0;
    if (FILE* child = ::popen(self, "r")) {
        char line[512];
        while (std::fgets(line, sizeof line, child)) {
            if (const char* at = std::strstr(line, "tool CPU:"))
                std::sscanf(at + 9, "%lf", &cpu);
        }
        ::pclose(child);
    }
    ::unsetenv("BENCH_SCALE_CHILD");
    ::unsetenv("QT_SCALE_FACTOR");
    return cpu;
}

void ScaleSideBySide(const char* self)
{
    const int rounds = static_cast<int>(EnvLong("BENCH_SCALE_ROUNDS", 2));
    const int seconds = static_cast<int>(EnvLong("BENCH_SCALE_SECONDS", 10));
    std::printf("3. The 1 kHz stream at scale 1 and 2, %d alternating runs of %d s each\n", rounds, seconds);
    std::vector<double> one, two;
    for (int r = 0; r < rounds; ++r) {
        one.push_back(ChildCpuAtScale(self, 1, seconds));
        two.push_back(ChildCpuAtScale(self, 2, seconds));
        std::printf("  round %d: scale 1 %.2f%%, scale 2 %.2f%% of one core\n", r + 1, one.back(), two.back());
    }
    auto mean = [](const std::vector<double>& v) {
        double sum = 0;
        for (double x : v)
            sum += x;
        return v.empty() ? 0.0 : sum / static_cast<double>(v.size());
    };
    const double m1 = mean(one), m2 = mean(two);
    std::printf("  tool CPU, mean:          scale 1 %.2f%%, scale 2 %.2f%% of one core; 2x / 1x = %.2f (goal <= 1.5)\n",
                m1, m2, m1 > 0 ? m2 / m1 : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    std::vector<char*> args(argv, argv + argc);
    static char platformOption[] = "-platform";
    std::string platform;
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen") {
        const std::string config = "/tmp/telvar-bench-screen-" + std::to_string(::getpid()) + ".json";
        if (FILE* f = std::fopen(config.c_str(), "w")) {
            std::fputs("{\"screens\":[{\"name\":\"bench\",\"x\":0,\"y\":0,\"width\":3840,\"height\":2160,"
                       "\"logicalDpi\":96,\"logicalBaseDpi\":96,\"dpr\":1}]}\n",
                       f);
            std::fclose(f);
            platform = "offscreen:configfile=" + config;
            args.push_back(platformOption);
            args.push_back(platform.data());
        }
    }
    int qtArgc = static_cast<int>(args.size());
    args.push_back(nullptr);
    QApplication app(qtArgc, args.data());
    if (!platform.empty())
        std::remove(platform.substr(std::strlen("offscreen:configfile=")).c_str()); // read while the app was made
    InstallFontSubstitutions();
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const long frames = EnvLong("BENCH_FRAMES", 500000);
    const int seconds = static_cast<int>(EnvLong("BENCH_SECONDS", 10));
    TempDir dir;
    if (EnvLong("BENCH_SCALE_CHILD", 0) != 0) {
        Harness h(dir.Path());
        Realtime(h, dir, seconds);
        return 0;
    }
    // A fresh dialog for each: the collector and the turn counters carry
    // over from one run to the next in one dialog.
    {
        Harness h(dir.Path());
        Burst(h, dir, frames);
    }
    {
        Harness h(dir.Path());
        Realtime(h, dir, seconds);
    }
    const rusage self = Usage(RUSAGE_SELF);
    std::printf("Peak memory of this process (tool and harness): %ld KiB\n", self.ru_maxrss);
    char program[4096] = {};
    if (::readlink("/proc/self/exe", program, sizeof program - 1) > 0)
        ScaleSideBySide(program);
    return 0;
}
