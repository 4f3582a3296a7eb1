// Line faults: each does what it says, reproducibly for a seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "tools/boxsim/FaultInjector.h"

using namespace boxsim;

namespace
{

const Frame FRAME = EncodeFrame(0x00001000u, 0x00800000u);
constexpr int FRAMES = 20000;

struct Injected {
    std::vector<std::uint8_t> bytes;
    std::vector<FaultReport> reports;
};

Injected Inject(const FaultSettings& s)
{
    FaultInjector inj(s);
    Injected r;
    for (int i = 0; i < FRAMES; ++i)
        r.reports.push_back(inj.Append(FRAME, r.bytes));
    return r;
}

TEST(FaultInjector, NoFaultsPassesFramesUnchanged)
{
    const Injected r = Inject(FaultSettings{});
    ASSERT_EQ(r.bytes.size(), FRAMES * FRAME.size());
    for (int i = 0; i < FRAMES; ++i)
        ASSERT_TRUE(std::equal(FRAME.begin(), FRAME.end(), r.bytes.begin() + i * 10));
    for (const auto& rep : r.reports)
        ASSERT_TRUE(rep.Clean());
}

// Replays the reports over the clean frames: the bytes must be exactly what
// they say, and the fault rates must be near the probabilities.
void CheckAgainstReports(const Injected& r, const FaultSettings& s)
{
    std::size_t pos = 0;
    long stray = 0, dropped = 0, noised = 0;
    for (const FaultReport& rep : r.reports) {
        if (rep.stray7e) {
            ASSERT_LT(pos, r.bytes.size());
            EXPECT_EQ(r.bytes[pos++], 0x7E);
            ++stray;
        }
        for (int i = 0; i < 10; ++i) {
            if (std::find(rep.dropped.begin(), rep.dropped.end(), i) != rep.dropped.end()) {
                ++dropped;
                continue;
            }
            ASSERT_LT(pos, r.bytes.size());
            const bool noise = std::find(rep.noised.begin(), rep.noised.end(), i) != rep.noised.end();
            if (noise) {
                EXPECT_NE(r.bytes[pos], FRAME[i]);
                ++noised;
            } else {
                EXPECT_EQ(r.bytes[pos], FRAME[i]);
            }
            ++pos;
        }
    }
    EXPECT_EQ(pos, r.bytes.size());
    // Binomial counts; bounds of about six standard deviations.
    auto near = [](long count, double n, double p) {
        const double mean = n * p, sd = std::sqrt(n * p * (1 - p));
        EXPECT_NEAR(static_cast<double>(count), mean, 6 * sd + 1) << "p=" << p;
    };
    near(stray, FRAMES, s.insert7e);
    near(dropped, FRAMES * 10.0, s.drop);
    near(noised, (FRAMES * 10.0 - dropped), s.noise);
}

TEST(FaultInjector, EachFaultAloneMatchesItsReportAndRate)
{
    for (FaultSettings s : {FaultSettings{0.01, 0, 0, 7}, FaultSettings{0, 0.02, 0, 7}, FaultSettings{0, 0, 0.1, 7}}) {
        const Injected r = Inject(s);
        CheckAgainstReports(r, s);
    }
}

TEST(FaultInjector, AllFaultsTogether)
{
    const FaultSettings s{0.05, 0.05, 0.3, 42};
    CheckAgainstReports(Inject(s), s);
}

TEST(FaultInjector, CertainFaults)
{
    FaultSettings s;
    s.drop = 1.0;
    EXPECT_TRUE(Inject(s).bytes.empty());
    s = FaultSettings{};
    s.insert7e = 1.0;
    const Injected r = Inject(s);
    ASSERT_EQ(r.bytes.size(), FRAMES * 11u);
    EXPECT_EQ(r.bytes[0], 0x7E);
    EXPECT_EQ(r.bytes[11], 0x7E);
    s = FaultSettings{};
    s.noise = 1.0;
    const Injected n = Inject(s);
    for (std::size_t i = 0; i < n.bytes.size(); ++i)
        ASSERT_NE(n.bytes[i], FRAME[i % 10]);
}

TEST(FaultInjector, SameSeedSameFaultsOtherSeedOthers)
{
    const FaultSettings a{0.05, 0.05, 0.1, 1234};
    FaultSettings b = a;
    b.seed = 1235;
    EXPECT_EQ(Inject(a).bytes, Inject(a).bytes);
    EXPECT_NE(Inject(a).bytes, Inject(b).bytes);
}

} // namespace
