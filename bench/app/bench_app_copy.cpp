// The record export's copy (CSaveDialog::CopyRecordFile) of a large record
// file, BENCH_COPY_MB megabytes (400), side by side with the copy as it was
// before exports were made durable (the target truncated in place, 4096-byte
// blocks, nothing flushed) and with a plain 1 MiB-block copy for scale, in
// alternating runs. The source has just been written, so it is read from the
// page cache; CopyRecordFile ends with the copy on disk. Prints figures;
// asserts nothing.
#include <QApplication>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "BenchProcess.h"
#include "app/CSaveDialog.h"
#include "measurement/RecordFile.h"
#include "platform/core/MessageBox.h"

using namespace bench;

namespace
{

// A record file of about `bytes` bytes: the header, then lines of turning encoders.
void WriteRecordFile(const std::string& path, long long bytes)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::string block = RecordHeaderBytes();
    MeasureState s;
    long long written = 0;
    for (long i = 0; written < bytes; ++i) {
        s.m_strAngle1 = std::to_string((i * 7) % 3600000 / 10000.0);
        s.m_strCode1 = std::to_string((i * 12345) & 0x1FFFFFF);
        s.m_strTotalAngle1 = std::to_string(i * 0.7);
        s.m_strAngle2 = std::to_string((i * 3) % 3600000 / 10000.0);
        s.m_strCode2 = std::to_string((i * 54321) & 0x3FFFFFF);
        s.m_strTotalAngle2 = std::to_string(-i * 0.3);
        BuildRecordLine(s);
        block += s.m_strRecordLine;
        if (block.size() >= (1u << 20)) {
            written += ::write(fd, block.data(), block.size());
            block.clear();
        }
    }
    if (!block.empty())
        (void)!::write(fd, block.data(), block.size());
    ::close(fd);
}

// The export before it was made durable: the existing target truncated and
// written in place, block by block, left in the page cache.
bool InPlaceCopy(const std::string& from, const std::string& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char> buffer(COPY_BLOCK_SIZE);
    bool ok = in >= 0 && out >= 0;
    for (ssize_t n; ok && (n = ::read(in, buffer.data(), buffer.size())) > 0;)
        ok = ::write(out, buffer.data(), static_cast<std::size_t>(n)) == n;
    ::close(in);
    ::close(out);
    return ok;
}

bool PlainCopy(const std::string& from, const std::string& to)
{
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    std::vector<char> buffer(1 << 20);
    bool ok = in >= 0 && out >= 0;
    for (ssize_t n; ok && (n = ::read(in, buffer.data(), buffer.size())) > 0;)
        ok = ::write(out, buffer.data(), static_cast<std::size_t>(n)) == n;
    ::close(in);
    ::close(out);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv); // the copy reports failures in message boxes
    ScriptedPresenter presenter;
    SetMessagePresenter(&presenter);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const long long megabytes = EnvLong("BENCH_COPY_MB", 400);
    TempDir dir;
    const std::string source = dir.Path() + "/Telvar-Record.dat";
    const std::string target = dir.Path() + "/export.dat";
    WriteRecordFile(source, megabytes * 1000 * 1000);
    const double mb = static_cast<double>(FileSize(source)) / 1e6;
    std::printf("Record export copy of a %.0f MB record file (block %zu bytes), 5 alternating rounds:\n", mb,
                COPY_BLOCK_SIZE);

    struct Way {
        const char* name;
        std::function<bool()> copy;
        std::vector<double> seconds;
    };
    Way ways[] = {
        {"before: in place, 4096-byte blocks, not flushed", [&] { return InPlaceCopy(source, target); }, {}},
        {"CopyRecordFile: beside, replaced when on disk",
         [&] { return CSaveDialog::CopyRecordFile(source.c_str(), target.c_str()) == TRUE; }, {}},
    };
    for (int round = 1; round <= 5; ++round) {
        for (Way& way : ways) {
            // An existing target each time, as when an export is repeated.
            (void)PlainCopy(source, target);
            ::sync();
            const Clock::time_point t0 = Clock::now();
            const bool ok = way.copy();
            const double s = Seconds(Clock::now() - t0);
            way.seconds.push_back(s);
            const bool same = ok && FileSize(target) == FileSize(source);
            std::printf("  round %d, %s: %.2f s, %.0f MB/s%s\n", round, way.name, s, mb / s,
                        same ? "" : "  (COPY FAILED OR SHORT)");
        }
    }
    for (Way& way : ways) {
        std::sort(way.seconds.begin(), way.seconds.end());
        std::printf("  median, %s: %.2f s, %.0f MB/s\n", way.name, way.seconds[2], mb / way.seconds[2]);
    }
    std::printf("  ratio of the medians, durable / before: %.2f\n", ways[1].seconds[2] / ways[0].seconds[2]);
    ::unlink(target.c_str());
    ::sync();
    const Clock::time_point t0 = Clock::now();
    const bool ok = PlainCopy(source, target);
    const double s = Seconds(Clock::now() - t0);
    std::printf("  plain 1 MiB-block copy for scale: %.2f s, %.0f MB/s%s\n", s, mb / s, ok ? "" : " (FAILED)");
    for (const auto& m : presenter.shown)
        std::printf("  message box: %s\n", m.text.c_str());
    SetMessagePresenter(nullptr);
    return 0;
}
