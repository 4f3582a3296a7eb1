// Start-up of the real executable under the offscreen platform: from just
// before exec to the main dialog's first paint (reported by the executable
// when TELVAR_EXIT_AFTER_SHOWN=1), and the peak memory of the process.
// BENCH_STARTS runs (7). Prints figures; asserts nothing.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchProcess.h"

using namespace bench;

int main()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int runs = static_cast<int>(EnvLong("BENCH_STARTS", 7));
    TempDir home;
    std::vector<double> shown;
    std::vector<long> rss;
    for (int i = 0; i < runs; ++i) {
        std::vector<std::string> env = {"TELVAR_EXIT_AFTER_SHOWN=1", "HOME=" + home.Path()};
        if (const char* qpa = std::getenv("QT_QPA_PLATFORM"); !qpa || !*qpa)
            env.push_back("QT_QPA_PLATFORM=offscreen");
        for (int n = 1; n <= 4; ++n)
            env.push_back("TELVAR_COM" + std::to_string(n) + "=" + home.Path() + "/no-such-device");
        const double start = MonotonicNow();
        Child app({TELVAR_EXE_PATH}, "|", env);
        const std::string line = app.ReadLine();
        app.Wait();
        double at = 0;
        if (std::sscanf(line.c_str(), "shown %lf", &at) != 1) {
            std::printf("run %d: the executable did not report its dialog (got '%s')\n", i + 1, line.c_str());
            continue;
        }
        shown.push_back((at - start) * 1000.0);
        rss.push_back(app.Usage().ru_maxrss);
    }
    if (shown.empty())
        return 0;
    std::vector<double> sorted = shown;
    std::sort(sorted.begin(), sorted.end());
    std::printf("Start-up to the dialog shown (%zu runs, offscreen): median %.1f ms, min %.1f ms, max %.1f ms\n",
                sorted.size(), sorted[sorted.size() / 2], sorted.front(), sorted.back());
    std::printf("Peak memory of the executable (ru_maxrss): %.1f MiB (max over runs)\n",
                static_cast<double>(*std::max_element(rss.begin(), rss.end())) / 1024.0);
    return 0;
}
