#include <gtest/gtest.h>

#include "DecoderFixture.h"

namespace {

struct ChannelCase {
    const char* name;
    int width;
    int dataType;
    DWORD word;
    const char* angle;
    const char* code;
};

class ChannelDecoding : public ::testing::TestWithParam<ChannelCase> {};

TEST_P(ChannelDecoding, BothChannelsGiveTheSameTexts)
{
    const ChannelCase& c = GetParam();
    MeasureState s;
    RecordingSink sink;
    s.m_nBitWidth1 = s.m_nBitWidth2 = c.width;
    s.m_nDataType1 = s.m_nDataType2 = c.dataType;
    Synchronise(s, sink);
    ASSERT_EQ(Feed(s, sink, Frame(c.word, c.word)), 1);
    EXPECT_EQ(s.m_strAngle1, c.angle);
    EXPECT_EQ(s.m_strAngle2, c.angle);
    EXPECT_EQ(s.m_strRelAngle1, c.angle);
    EXPECT_EQ(s.m_strCode1, c.code);
    EXPECT_EQ(s.m_strCode2, c.code);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ChannelDecoding,
    ::testing::Values(
        ChannelCase{"zero", 26, 0, 0, "0.0000", "0"},
        ChannelCase{"mask10", 10, 0, 0x3FF, "360.0000", "1023"},
        ChannelCase{"mask13", 13, 0, 0x1FFF, "360.0000", "8191"},
        ChannelCase{"mask25", 25, 0, 0x01FFFFFF, "360.0000", "33554431"},
        ChannelCase{"mask26", 26, 0, 0x03FFFFFF, "360.0000", "67108863"},
        ChannelCase{"mask32", 32, 0, 0xFFFFFFFF, "360.0000", "4294967295"},
        ChannelCase{"half26", 26, 0, 0x02000000, "180.0000", "33554432"},
        ChannelCase{"upperBitsIgnored", 26, 0, 0xFE000000, "180.0000", "33554432"},
        ChannelCase{"width10upper", 10, 0, 0xFFFFFC00, "0.0000", "0"},
        // Gray conversion runs on the whole word before the mask.
        ChannelCase{"grayLowOnly", 13, 1, 0x00001000, "360.0000", "8191"},
        ChannelCase{"grayUpperBitsMatter", 13, 1, 0x00002000, "360.0000", "8191"},
        ChannelCase{"gray32", 32, 1, 0x80000000, "360.0000", "4294967295"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Decoder, WorkedFrame)
{
    MeasureState s;
    RecordingSink sink;
    s.m_nBitWidth1 = 13;
    s.m_nBitWidth2 = 26;
    s.m_bRecording = true;
    Synchronise(s, sink);
    ASSERT_EQ(Feed(s, sink, {0x7E, 0x00, 0x00, 0x10, 0x00, 0x00, 0x80, 0x00, 0x00, 0x7E}), 1);
    EXPECT_EQ(s.m_dwCode1, 4096u);
    EXPECT_EQ(s.m_dwCode2, 8388608u);
    EXPECT_NEAR(s.m_dAngle1, 180.0219753, 1e-7);
    EXPECT_NEAR(s.m_dAngle2, 45.0000007, 1e-7);
    EXPECT_EQ(s.m_strAngle1, "180.0220");
    EXPECT_EQ(s.m_strRelAngle1, "180.0220");
    EXPECT_EQ(s.m_strTotalAngle1, "180.0220");
    EXPECT_EQ(s.m_strCode1, "4096");
    EXPECT_EQ(s.m_strAngle2, "45.0000");
    EXPECT_EQ(s.m_strTotalAngle2, "45.0000");
    EXPECT_EQ(s.m_strCode2, "8388608");
    ASSERT_EQ(sink.lines.size(), 1u);
    EXPECT_EQ(sink.lines[0], "180.0220\t4096\t180.0220\t45.0000\t8388608\t45.0000");
    // Display order: gauges, then the record line, then the labels.
    EXPECT_EQ(sink.calls, (std::vector<std::string>{"gauges", "record", "labels"}));
    EXPECT_TRUE(s.m_arrFrame.IsEmpty());
    EXPECT_TRUE(s.m_arrChannel1.IsEmpty());
    EXPECT_TRUE(s.m_arrChannel2.IsEmpty());
    EXPECT_DOUBLE_EQ(s.m_dPrevAngle1, s.m_dAngle1);
    EXPECT_FALSE(s.m_bNoPrevSample);
}

TEST(Decoder, WorkedFrameGrayChannel1)
{
    MeasureState s;
    RecordingSink sink;
    s.m_nBitWidth1 = 13;
    s.m_nDataType1 = 1;
    Synchronise(s, sink);
    Feed(s, sink, Frame(0x00001000, 0x00800000));
    EXPECT_EQ(s.m_dwCode1, 0x1FFFu);
    EXPECT_EQ(s.m_strAngle1, "360.0000");
}

TEST(Decoder, NotRecordingSkipsOnlyTheRecordLine)
{
    MeasureState s;
    RecordingSink sink;
    Synchronise(s, sink);
    Feed(s, sink, Frame(1, 2));
    EXPECT_EQ(sink.calls, (std::vector<std::string>{"gauges", "labels"}));
}

TEST(Decoder, GrayToBinary)
{
    EXPECT_EQ(GrayToBinary(0), 0u);
    EXPECT_EQ(GrayToBinary(1), 1u);
    EXPECT_EQ(GrayToBinary(3), 2u);
    EXPECT_EQ(GrayToBinary(2), 3u);
    EXPECT_EQ(GrayToBinary(0x80000000u), 0xFFFFFFFFu);
    for (DWORD v : {0u, 1u, 12345u, 0x7FFFFFFFu, 0xDEADBEEFu, 0xFFFFFFFFu})
        EXPECT_EQ(GrayToBinary(v ^ (v >> 1)), v) << v;
}

// Turn counting compares the new absolute angle with the previous one.
struct TurnCase {
    const char* name;
    DWORD from;
    DWORD to;
    int turns;
};

class TurnCounting : public ::testing::TestWithParam<TurnCase> {};

// Width 10: angle = code / 1023 * 360.
TEST_P(TurnCounting, BothDirections)
{
    const TurnCase& c = GetParam();
    MeasureState s;
    RecordingSink sink;
    s.m_nBitWidth1 = s.m_nBitWidth2 = 10;
    Synchronise(s, sink);
    Feed(s, sink, Frame(c.from, c.from));
    Feed(s, sink, Frame(c.to, c.to));
    EXPECT_EQ(s.m_nTurns1, c.turns);
    EXPECT_EQ(s.m_nTurns2, c.turns);
}

// 355 deg ~ code 1009 (355.07), 3 deg ~ code 9 (3.17)
INSTANTIATE_TEST_SUITE_P(Table, TurnCounting,
                         ::testing::Values(TurnCase{"forwardWrap", 1009, 9, 1}, TurnCase{"backwardWrap", 9, 1009, -1},
                                           TurnCase{"smallStep", 500, 520, 0}, TurnCase{"fullScale", 0, 1023, -1},
                                           TurnCase{"fullScaleBack", 1023, 0, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Decoder, StepOfExactly350CountsNothing)
{
    // No two codes differ by exactly 350 degrees; set the previous angles instead.
    MeasureState s;
    RecordingSink sink;
    s.m_nBitWidth1 = s.m_nBitWidth2 = 32;
    Synchronise(s, sink);
    Feed(s, sink, Frame(0, 0));
    s.m_dPrevAngle1 = -350.0; // d = 0 - (-350) = 350
    s.m_dPrevAngle2 = 350.0;  // d = -350
    Feed(s, sink, Frame(0, 0));
    EXPECT_EQ(s.m_nTurns1, 0);
    EXPECT_EQ(s.m_nTurns2, 0);
    s.m_dPrevAngle1 = -350.0000001;
    s.m_dPrevAngle2 = 350.0000001;
    Feed(s, sink, Frame(0, 0));
    EXPECT_EQ(s.m_nTurns1, -1);
    EXPECT_EQ(s.m_nTurns2, 1);
}

TEST(Decoder, FirstFrameCountsNoTurnForEncoderAbove350)
{
    MeasureState s;
    RecordingSink sink;
    s.m_nBitWidth1 = s.m_nBitWidth2 = 10;
    Synchronise(s, sink);
    Feed(s, sink, Frame(1009, 1009)); // ~355 degrees at rest
    EXPECT_EQ(s.m_nTurns1, 0);
    EXPECT_EQ(s.m_nTurns2, 0);
    EXPECT_EQ(s.m_strTotalAngle1, s.m_strAngle1);
}

TEST(Decoder, ZeroPointAndWrap)
{
    MeasureState s;
    RecordingSink sink;
    s.m_nBitWidth1 = s.m_nBitWidth2 = 32;
    s.m_dZeroAngle1 = 20.0;
    s.m_nTurns1 = 2;
    Synchronise(s, sink);
    // 10 degrees = 0xFFFFFFFF / 36
    Feed(s, sink, Frame(0xFFFFFFFFu / 36, 0));
    EXPECT_NEAR(s.m_dAngle1, 10.0, 1e-6);
    EXPECT_EQ(s.m_strRelAngle1, "350.0000");
    EXPECT_EQ(s.m_strTotalAngle1, "710.0000"); // 2 * 360 - 10
    ASSERT_EQ(sink.gauges.size(), 1u);
    EXPECT_NEAR(sink.gauges[0].first, 350.0, 1e-6);
}

TEST(Decoder, NegativeTotalAndRelativeNeverReducedFromAbove)
{
    MeasureState s;
    RecordingSink sink;
    s.m_nBitWidth1 = s.m_nBitWidth2 = 32;
    s.m_nTurns1 = -1;
    Synchronise(s, sink);
    Feed(s, sink, Frame(0xFFFFFFFFu / 72 + 1, 0xFFFFFFFFu)); // ~5 degrees; 360 degrees
    EXPECT_EQ(s.m_strTotalAngle1, "-355.0000");
    EXPECT_EQ(s.m_strRelAngle2, "360.0000");
}

TEST(Decoder, OtherPortChangesNothing)
{
    MeasureState s;
    RecordingSink sink;
    Synchronise(s, sink);
    Feed(s, sink, {0x7E, 1, 2, 3});
    const auto frame = s.m_arrFrame.GetSize();
    const bool armed = s.m_bSyncArmed;
    const bool collecting = s.m_bCollecting;
    EXPECT_EQ(Feed(s, sink, Frame(5, 6), /*port*/ 2), 0);
    EXPECT_EQ(Feed(s, sink, {0x7E, 0x7E, 0x7E}, 3), 0);
    EXPECT_EQ(s.m_arrFrame.GetSize(), frame);
    EXPECT_EQ(s.m_bSyncArmed, armed);
    EXPECT_EQ(s.m_bCollecting, collecting);
    EXPECT_TRUE(sink.calls.empty());
}

TEST(Decoder, SelectedPortIndexDecidesWhichPortIsHeard)
{
    MeasureState s;
    RecordingSink sink;
    Feed(s, sink, {0x7E, 0x7E}, 3, 2);
    EXPECT_EQ(Feed(s, sink, Frame(1, 1), 3, 2), 1);
    EXPECT_EQ(Feed(s, sink, Frame(1, 1), 1, 2), 0);
}

TEST(Decoder, SynchronisingOnOpeningByteDecodesNextFrame)
{
    // Arming 0x7E is a frame's opening byte: its closing byte starts collection
    // exactly on the next frame's opening byte.
    MeasureState s;
    RecordingSink sink;
    std::vector<BYTE> stream;
    for (int i = 0; i < 3; ++i)
        for (BYTE b : Frame(100 + i, 200 + i))
            stream.push_back(b);
    EXPECT_EQ(Feed(s, sink, stream), 2);
    EXPECT_EQ(s.m_dwCode1, 102u);
}

TEST(Decoder, SynchronisingOnClosingByteResynchronises)
{
    // The stream starts with a frame's closing byte: the first collected ten
    // bytes are out of step and refused, then the collector finds its step.
    MeasureState s;
    RecordingSink sink;
    std::vector<BYTE> stream = {0x11, 0x7E};
    for (int i = 0; i < 5; ++i)
        for (BYTE b : Frame(0x01010101u * (i + 1), 0x02020202u))
            stream.push_back(b);
    EXPECT_EQ(Feed(s, sink, stream), 3);
    EXPECT_EQ(s.m_dwCode1 & 0x03FFFFFF, (0x01010101u * 5) & 0x03FFFFFF);
}

TEST(Decoder, RefusedFrameClearsAndSetsNoPrevSample)
{
    MeasureState s;
    RecordingSink sink;
    s.m_nBitWidth1 = s.m_nBitWidth2 = 10;
    Synchronise(s, sink);
    Feed(s, sink, Frame(1009, 1009));
    // Ten bytes with a bad closing byte.
    std::vector<BYTE> bad = Frame(1, 1);
    bad[9] = 0x55;
    EXPECT_EQ(Feed(s, sink, bad), 0);
    EXPECT_TRUE(s.m_bNoPrevSample);
    EXPECT_FALSE(s.m_bCollecting);
    EXPECT_FALSE(s.m_bSyncArmed);
    EXPECT_TRUE(s.m_arrFrame.IsEmpty());
    // Re-arm and decode a wrapped reading: no turn is counted after a refusal.
    Synchronise(s, sink);
    EXPECT_EQ(Feed(s, sink, Frame(9, 9)), 1);
    EXPECT_EQ(s.m_nTurns1, 0);
    EXPECT_EQ(s.m_nTurns2, 0);
}

TEST(Decoder, RefusedTenthByteThatIs7EArmsAgain)
{
    MeasureState s;
    RecordingSink sink;
    Synchronise(s, sink);
    std::vector<BYTE> bad = Frame(1, 1);
    bad[0] = 0x00; // opening byte wrong, closing 0x7E
    Feed(s, sink, bad);
    EXPECT_TRUE(s.m_bSyncArmed);
    EXPECT_FALSE(s.m_bCollecting);
}

TEST(Decoder, DelimiterInsideDataDoesNotDisturb)
{
    MeasureState s;
    RecordingSink sink;
    s.m_nBitWidth1 = s.m_nBitWidth2 = 32;
    Synchronise(s, sink);
    EXPECT_EQ(Feed(s, sink, Frame(0x7E7E7E7E, 0x007E0000)), 1);
    EXPECT_EQ(Feed(s, sink, Frame(0x12345678, 0x7E)), 1);
    EXPECT_EQ(s.m_dwCode1, 0x12345678u);
    EXPECT_EQ(s.m_dwCode2, 0x7Eu);
}

TEST(Decoder, SplitFrameRefusesWrongSizesAndDelimiters)
{
    FixedByteArray<10> frame;
    FixedByteArray<4> c1, c2;
    for (int i = 0; i < 9; ++i)
        frame.Add(0x7E);
    EXPECT_FALSE(SplitFrame(frame, c1, c2));
    frame.Add(0x7E);
    EXPECT_TRUE(SplitFrame(frame, c1, c2));
    EXPECT_EQ(c1.GetSize(), 4u);
    EXPECT_EQ(c2.GetSize(), 4u);
    FixedByteArray<10> bad;
    for (BYTE b : Frame(0, 0))
        bad.Add(b == 0x7E ? 0x7D : b);
    FixedByteArray<4> d1, d2;
    EXPECT_FALSE(SplitFrame(bad, d1, d2));
    EXPECT_TRUE(d1.IsEmpty());
}

TEST(Decoder, Masks)
{
    EXPECT_EQ(CodeMask(32), 0xFFFFFFFFu);
    EXPECT_EQ(CodeMask(26), 0x03FFFFFFu);
    EXPECT_EQ(CodeMask(25), 0x01FFFFFFu);
    EXPECT_EQ(CodeMask(13), 0x1FFFu);
    EXPECT_EQ(CodeMask(10), 0x3FFu);
}

} // namespace

namespace {

TEST(Protocol, CommandTablesInItemOrder)
{
    constexpr auto clock = protocol::ClockCommandTable();
    EXPECT_EQ(std::vector<BYTE>(clock.begin(), clock.end()),
              (std::vector<BYTE>{0x7F, 0x07, 0x7F, 0x7F, 0x06, 0x7F, 0x7F, 0x03, 0x7F, 0x7F, 0x04, 0x7F, 0x7F, 0x05,
                                 0x7F}));
    constexpr auto freq = protocol::FreqCommandTable();
    EXPECT_EQ(std::vector<BYTE>(freq.begin(), freq.end()),
              (std::vector<BYTE>{0x7D, 0x01, 0x7D, 0x7D, 0x02, 0x7D, 0x7D, 0x03, 0x7D, 0x7D, 0x04, 0x7D}));
    EXPECT_EQ(protocol::WidthCommand(1, 10), (protocol::Command{0x7A, 0x0A, 0x7A}));
    EXPECT_EQ(protocol::WidthCommand(2, 32), (protocol::Command{0x7B, 0x20, 0x7B}));
    EXPECT_EQ(protocol::OPEN_CMD, (std::array<BYTE, 6>{0x7F, 0x02, 0x7F, 0x7D, 0x02, 0x7D}));
}

} // namespace
