// The line-quality counters of the decoding state: accepted frames, frames
// the collector refused, and the times it found a frame boundary again after
// losing it (the first boundary found is synchronisation, not a fault).
#include <gtest/gtest.h>

#include <random>

#include "DecoderFixture.h"

namespace {

using Bytes = std::vector<BYTE>;

Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

const Bytes F = Frame(0x01020304, 0x05060708);
const Bytes G = Frame(0x00112233, 0x00445566);

Bytes Dropped(Bytes frame, std::size_t at)
{
    frame.erase(frame.begin() + static_cast<long>(at));
    return frame;
}

struct LineCase {
    const char* name;
    Bytes stream;
    std::uint64_t accepted;
    std::uint64_t refused;
    std::uint64_t resyncs;
};

class LineCounters : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineCounters, CountWhatTheCollectorDid)
{
    const LineCase& c = GetParam();
    MeasureState s;
    RecordingSink sink;
    const int returned = Feed(s, sink, c.stream);
    EXPECT_EQ(s.m_nAcceptedFrames, c.accepted);
    EXPECT_EQ(s.m_nRefusedFrames, c.refused);
    EXPECT_EQ(s.m_nResyncs, c.resyncs);
    // The accepted count is the frames the owner was shown.
    EXPECT_EQ(static_cast<std::uint64_t>(returned), c.accepted);
    EXPECT_EQ(sink.gauges.size(), c.accepted);
    // The last frame of every stream is G, decoded as usual.
    if (c.accepted > 0) {
        EXPECT_EQ(s.m_strCode2, "4478310");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineCounters,
    ::testing::Values(
        LineCase{"clean", Join({{0x7E, 0x7E}, F, F, G}), 3, 0, 0},
        // The first frame only brings the collector into step.
        LineCase{"unsynchronisedStart", Join({F, F, G}), 2, 0, 0},
        // A byte lost: the shortened frame plus the next opening 0x7E still
        // looks like a frame; the next ten bytes do not, and their tenth,
        // a 0x7E, arms the collector again.
        LineCase{"droppedByte", Join({{0x7E, 0x7E}, Dropped(F, 3), F, F, G}), 2, 1, 1},
        // A noise byte costs two refusals before the collector is in step.
        LineCase{"noiseByte", Join({{0x7E, 0x7E}, F, {0x55}, F, F, F, G}), 2, 2, 2},
        LineCase{"delimiterInData", Join({{0x7E, 0x7E}, Frame(0x7E7E7E7E, 0x017E0203), G}), 2, 0, 0},
        LineCase{"nothing", Bytes{}, 0, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LineCounters, OtherPortCountsNothing)
{
    MeasureState s;
    RecordingSink sink;
    Feed(s, sink, Join({{0x7E, 0x7E}, F, {0x55}, F, F}), 2);
    EXPECT_EQ(s.m_nAcceptedFrames, 0u);
    EXPECT_EQ(s.m_nRefusedFrames, 0u);
    EXPECT_EQ(s.m_nResyncs, 0u);
}

// Over a long stream with every kind of line fault, the refusals counted are
// exactly the tenth bytes that were not accepted, seen from outside.
TEST(LineCounters, RefusalsMatchWhatIsSeenOverAFaultyStream)
{
    std::mt19937 rng(17);
    MeasureState s;
    RecordingSink sink;
    std::uint64_t refusedSeen = 0;
    std::uint64_t acceptedSeen = 0;
    std::uint64_t resyncSeen = 0;
    bool synchronised = false;
    for (int i = 0; i < 20000; ++i) {
        Bytes f = Frame(rng(), rng());
        switch (rng() % 8) {
        case 0: f.erase(f.begin() + 1 + rng() % 8); break;             // dropped byte
        case 1: f.insert(f.begin() + rng() % 10, BYTE(rng())); break;  // noise
        case 2: f[1 + rng() % 8] = 0x7E; break;                         // delimiter in data
        default: break;
        }
        for (BYTE b : f) {
            const bool collecting = s.m_bCollecting;
            const bool tenth = collecting && s.m_arrFrame.GetSize() == 9;
            const bool armed = s.m_bSyncArmed && !s.m_bCollecting;
            const bool accepted = HandleReceivedByte(s, 0, b, 1, sink);
            acceptedSeen += accepted ? 1 : 0;
            refusedSeen += tenth && !accepted ? 1 : 0;
            // Every boundary found but the first.
            if (armed && b == 0x7E) {
                resyncSeen += synchronised ? 1 : 0;
                synchronised = true;
            }
            // A refused frame starts a fresh comparison, as before.
            if (tenth && !accepted) {
                ASSERT_TRUE(s.m_bNoPrevSample);
            }
        }
    }
    EXPECT_GT(refusedSeen, 1000u);
    EXPECT_EQ(s.m_nRefusedFrames, refusedSeen);
    EXPECT_EQ(s.m_nAcceptedFrames, acceptedSeen);
    EXPECT_EQ(s.m_nResyncs, resyncSeen);
    EXPECT_EQ(sink.gauges.size(), acceptedSeen);
}

} // namespace
