// Frame layout, word coding and the encoders' positions, checked against the
// tool's own decoder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "measurement/SampleDecoder.h"
#include "tools/boxsim/EncoderModel.h"
#include "tools/boxsim/FrameEncoder.h"

using namespace boxsim;
using namespace std::chrono_literals;

namespace
{

TEST(FrameEncoder, LayoutIsDelimitedBigEndian)
{
    const Frame f = EncodeFrame(0x01020304u, 0xA0B0C0D0u);
    const Frame expected = {0x7E, 0x01, 0x02, 0x03, 0x04, 0xA0, 0xB0, 0xC0, 0xD0, 0x7E};
    EXPECT_EQ(f, expected);
}

TEST(FrameEncoder, MasksPerWidth)
{
    struct {
        int width;
        std::uint32_t mask;
    } cases[] = {{10, 0x3FFu}, {13, 0x1FFFu}, {25, 0x01FFFFFFu}, {26, 0x03FFFFFFu}, {32, 0xFFFFFFFFu}};
    for (const auto& c : cases) {
        EXPECT_EQ(WidthMask(c.width), c.mask) << c.width;
        EXPECT_EQ(WidthMask(c.width), CodeMask(c.width)) << c.width;
        EXPECT_EQ(EncodeWord(0xFFFFFFFFu, c.width, false), c.mask) << c.width;
    }
}

TEST(FrameEncoder, GrayCodingRoundTripsThroughTheToolsDecoder)
{
    EXPECT_EQ(BinaryToGray(0u), 0u);
    EXPECT_EQ(BinaryToGray(1u), 1u);
    EXPECT_EQ(BinaryToGray(2u), 3u);
    EXPECT_EQ(BinaryToGray(0x1FFFu), 0x1000u);
    for (int width : {10, 13, 26, 32}) {
        const std::uint32_t mask = WidthMask(width);
        for (std::uint32_t code : {0u, 1u, 0x155u, mask / 2, mask - 1, mask}) {
            const std::uint32_t word = EncodeWord(code, width, true);
            EXPECT_EQ(word & ~mask, 0u) << "bits above the width stay 0";
            EXPECT_EQ(GrayToBinary(word) & mask, code) << width << " " << code;
            // Neighbouring codes differ in one bit of the Gray word.
            if (code < mask) {
                EXPECT_EQ(__builtin_popcount(word ^ EncodeWord(code + 1, width, true)), 1);
            }
        }
    }
}

TEST(FrameEncoder, Force7EPutsTheDelimiterIntoTheData)
{
    EXPECT_EQ(Force7E(0x12345678u), 0x12347E78u);
    const Frame f = EncodeFrame(Force7E(0x00001000u), Force7E(0));
    EXPECT_EQ(f[3], 0x7E);
    EXPECT_EQ(f[7], 0x7E);
    EXPECT_EQ(std::count(f.begin(), f.end(), 0x7E), 4);
}

TEST(EncoderModel, AngleWrapsBothWays)
{
    EXPECT_DOUBLE_EQ(EncoderModel(10.0, 30.0).AngleAt(2s), 70.0);
    EXPECT_DOUBLE_EQ(EncoderModel(350.0, 30.0).AngleAt(1s), 20.0);
    EXPECT_DOUBLE_EQ(EncoderModel(10.0, -12.0).AngleAt(1s), 358.0);
    EXPECT_DOUBLE_EQ(EncoderModel(0.0, -360.0).AngleAt(5s), 0.0);
    EXPECT_DOUBLE_EQ(EncoderModel(725.0, 0.0).AngleAt(0s), 5.0);
    EXPECT_DOUBLE_EQ(EncoderModel::Wrap(-1e-20), 0.0); // rounds to 360, which is 0
}

TEST(EncoderModel, QuantisesWithTheMaskAsDivisor)
{
    // code = round(angle / 360 * mask): the tool's code / mask * 360 gives the angle back.
    EXPECT_EQ(EncoderModel::Quantise(0.0, 13), 0u);
    EXPECT_EQ(EncoderModel::Quantise(180.0, 13), 4096u); // 4095.5 rounds up
    EXPECT_EQ(EncoderModel::Quantise(45.0, 26), 8388608u);
    EXPECT_EQ(EncoderModel::Quantise(359.9999, 10), 1023u);
    EXPECT_EQ(EncoderModel::Quantise(359.99999999, 32), 0xFFFFFFFFu);
    for (int width : {10, 13, 26, 32}) {
        const double mask = WidthMask(width);
        for (double angle : {0.0, 0.7, 45.0, 123.456, 300.0, 359.5}) {
            const double back = EncoderModel::Quantise(angle, width) / mask * 360.0;
            EXPECT_NEAR(back, angle, 360.0 / mask) << width << " " << angle;
        }
    }
}

} // namespace
