#include <gtest/gtest.h>

#include "measurement/NumberParse.h"

namespace {

struct ParseCase {
    const char* text;
    std::int64_t value;
};

class AtoiManner : public ::testing::TestWithParam<ParseCase> {};

TEST_P(AtoiManner, Parses)
{
    EXPECT_EQ(ParseAtoi(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(Table, AtoiManner,
                         ::testing::Values(ParseCase{"", 0}, ParseCase{"abc", 0}, ParseCase{"25", 25},
                                           ParseCase{" 25", 25}, ParseCase{"\t\n 25", 25}, ParseCase{"25ms", 25},
                                           ParseCase{"+7", 7}, ParseCase{"-7", -7}, ParseCase{"- 7", 0},
                                           ParseCase{"0", 0}, ParseCase{"2000", 2000}, ParseCase{"0032", 32},
                                           ParseCase{"1 2", 1}),
                         [](const auto& info) { return "case" + std::to_string(info.index); });

TEST(AtoiManner, OverflowStaysOutOfRange)
{
    // atoi would wrap these into range or be undefined; here they saturate.
    EXPECT_GT(ParseAtoi("99999999999"), 2000);
    EXPECT_GT(ParseAtoi("4294967306"), 32); // 2^32 + 10 would wrap to 10
    EXPECT_LT(ParseAtoi("-4294967306"), 1);
    EXPECT_GT(ParseAtoi(std::string(400, '9')), 2000);
}

} // namespace
