// Arbitrary streams and settings: the decoder's invariants hold after every byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "DecoderFixture.h"

namespace {

struct CountingSink : IFrameSink {
    long frames = 0;
    void ShowGauges(const MeasureState& s) override
    {
        ++frames;
        EXPECT_GE(s.m_dRelAngle1, 0.0);
        EXPECT_LE(s.m_dRelAngle1, 720.0);
    }
    void AppendRecord(MeasureState& s) override { BuildLine(s); }
    void ShowLabels(const MeasureState&) override {}
    static void BuildLine(MeasureState& s) { s.m_strRecordLine = s.m_strAngle1 + s.m_strCode1; }
};

long Iterations()
{
    // TELVAR_FUZZ_BYTES makes this a long run by hand.
    const char* env = std::getenv("TELVAR_FUZZ_BYTES");
    return env ? std::atol(env) : 2'000'000;
}

TEST(DecoderRandom, InvariantsHoldOverArbitraryStreams)
{
    std::mt19937 rng(20261210);
    MeasureState s;
    CountingSink sink;
    const long n = Iterations();
    for (long i = 0; i < n; ++i) {
        if (i % 4096 == 0) { // change the settings now and then, as the operator may
            s.m_nBitWidth1 = 10 + static_cast<int>(rng() % 23);
            s.m_nBitWidth2 = 10 + static_cast<int>(rng() % 23);
            s.m_nDataType1 = static_cast<int>(rng() % 3);
            s.m_nDataType2 = static_cast<int>(rng() % 3);
            s.m_bRecording = (rng() & 1) != 0;
            s.m_dZeroAngle1 = (rng() % 36000) / 100.0;
        }
        BYTE b;
        switch ((i / 1000) % 3) {
        case 0: b = static_cast<BYTE>(rng()); break;         // noise
        case 1: b = (rng() % 4 == 0) ? 0x7E : BYTE(rng()); break; // delimiter-heavy
        default: b = 0x7E; break;                            // 0x7E flood
        }
        const UINT port = (rng() % 16 == 0) ? 2 : 1;
        HandleReceivedByte(s, 0, b, port, sink);
        ASSERT_LE(s.m_arrFrame.GetSize(), 9u);
        ASSERT_TRUE(s.m_arrChannel1.IsEmpty());
        ASSERT_TRUE(s.m_arrChannel2.IsEmpty());
        ASSERT_TRUE(!s.m_bCollecting || s.m_bSyncArmed);
        ASSERT_GE(s.m_dAngle1, 0.0);
        ASSERT_LE(s.m_dAngle1, 360.0);
        ASSERT_GE(s.m_dAngle2, 0.0);
        ASSERT_LE(s.m_dAngle2, 360.0);
    }
    EXPECT_GT(sink.frames, 0);
}

TEST(DecoderRandom, AlignedFramesAfterNoiseAreAllDecoded)
{
    // Whatever came before, the collector finds its step within a few frames
    // (no delimiter inside the data here).
    std::mt19937 rng(7);
    for (int round = 0; round < 200; ++round) {
        MeasureState s;
        CountingSink sink;
        for (int i = 0; i < static_cast<int>(rng() % 50); ++i)
            HandleReceivedByte(s, 0, static_cast<BYTE>(rng()), 1, sink);
        std::vector<BYTE> stream;
        for (int f = 0; f < 20; ++f)
            for (BYTE b : Frame(rng() & 0x7D7D7D7D, rng() & 0x7D7D7D7D))
                stream.push_back(b);
        const int accepted = Feed(s, sink, stream);
        EXPECT_GE(accepted, 16) << round;
    }
}

} // namespace
