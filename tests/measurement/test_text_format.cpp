#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#include "measurement/TextFormat.h"

namespace {

std::string Printf4(double v)
{
    char b[FIXED4_BUFFER];
    std::snprintf(b, sizeof b, "%.4f", v);
    return b;
}

TEST(TextFormat, KnownValues)
{
    EXPECT_EQ(FormatFixed4(0.0), "0.0000");
    EXPECT_EQ(FormatFixed4(-0.0), "-0.0000");
    EXPECT_EQ(FormatFixed4(-0.00001), "-0.0000");
    EXPECT_EQ(FormatFixed4(180.0219753), "180.0220");
    EXPECT_EQ(FormatFixed4(360.0), "360.0000");
    EXPECT_EQ(FormatFixed4(-5.0), "-5.0000");
    EXPECT_EQ(FormatFixed4(725.5), "725.5000");
    // Exact ties round half to even, as printf does.
    EXPECT_EQ(FormatFixed4(1.03125), "1.0312");
    EXPECT_EQ(FormatFixed4(1.09375), "1.0938");
    EXPECT_EQ(FormatFixed4(0.00005), Printf4(0.00005));
}

TEST(TextFormat, EqualsPrintfEverywhere)
{
    std::mt19937_64 rng(12345);
    std::uniform_real_distribution<double> angle(-800.0, 800.0);
    std::uniform_int_distribution<int> exp(-60, 52);
    for (int i = 0; i < 200000; ++i) {
        double v;
        switch (i % 4) {
        case 0: v = angle(rng); break;
        case 1: v = std::ldexp(static_cast<double>(rng() >> 11), exp(rng) - 53) * ((rng() & 1) ? -1 : 1); break;
        case 2: v = static_cast<double>(static_cast<int>(rng() % 2000000) - 1000000) / 32.0; break; // ties
        default: v = std::bit_cast<double>(rng()); break; // any bit pattern
        }
        ASSERT_EQ(FormatFixed4(v), Printf4(v)) << std::hexfloat << v;
    }
}

TEST(TextFormat, EdgeValues)
{
    for (double v : {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                     std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::denorm_min(),
                     -std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::max(),
                     8.99999999e14, 9.0e14, -8.99999999e14, 0.99995, 0.99994999, 9.99995, 2147483647.0 * 360})
        EXPECT_EQ(FormatFixed4(v), Printf4(v)) << v;
}

TEST(TextFormat, Unsigned)
{
    std::string s;
    for (DWORD v : {0u, 7u, 10u, 4096u, 8388608u, 4294967295u}) {
        FormatUnsigned(v, s);
        EXPECT_EQ(s, std::to_string(v));
    }
}

} // namespace
