// Finding commands in the bytes the tool writes, and resynchronising on garbage.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tools/boxsim/CommandParser.h"

using boxsim::CommandParser;
using boxsim::ParsedItem;

namespace
{

// "C7A1A7A" for a command, "G55" for a garbage byte.
std::vector<std::string> Parse(const std::vector<std::uint8_t>& bytes, bool flush = false)
{
    CommandParser parser;
    std::vector<ParsedItem> items;
    for (std::uint8_t b : bytes)
        parser.Feed(b, items);
    if (flush)
        parser.Flush(items);
    std::vector<std::string> out;
    char buf[16];
    for (const ParsedItem& i : items) {
        if (i.kind == ParsedItem::Kind::Command)
            std::snprintf(buf, sizeof buf, "C%02X%02X%02X", i.bytes[0], i.bytes[1], i.bytes[2]);
        else
            std::snprintf(buf, sizeof buf, "G%02X", i.bytes[0]);
        out.emplace_back(buf);
    }
    return out;
}

struct ParseCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::vector<std::string> expected;
};

void PrintTo(const ParseCase& c, std::ostream* os)
{
    *os << c.name;
}

class ParserTable : public ::testing::TestWithParam<ParseCase>
{
};

TEST_P(ParserTable, YieldsExpectedItems)
{
    EXPECT_EQ(Parse(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ParserTable,
    ::testing::Values(
        ParseCase{"Width10Ch1", {0x7A, 0x0A, 0x7A}, {"C7A0A7A"}},
        ParseCase{"Width32Ch2", {0x7B, 0x20, 0x7B}, {"C7B207B"}}, ParseCase{"Clock", {0x7F, 0x07, 0x7F}, {"C7F077F"}},
        ParseCase{"Frequency", {0x7D, 0x04, 0x7D}, {"C7D047D"}},
        ParseCase{"StartPollStop", {0x7E, 1, 0x7E, 0x7E, 2, 0x7E, 0x7E, 3, 0x7E}, {"C7E017E", "C7E027E", "C7E037E"}},
        ParseCase{"OpenTimeCommandIsTwo", {0x7F, 0x02, 0x7F, 0x7D, 0x02, 0x7D}, {"C7F027F", "C7D027D"}},
        // A parameter may equal a command byte.
        ParseCase{"ParameterIsCommandByte", {0x7E, 0x7E, 0x7E}, {"C7E7E7E"}},
        ParseCase{"LeadingGarbage", {0x55, 0x00, 0x7A, 0x1A, 0x7A}, {"G55", "G00", "C7A1A7A"}},
        // A stray command byte in front shifts the window by one.
        ParseCase{"StrayCommandByte", {0x7A, 0x7A, 0x1A, 0x7A}, {"G7A", "C7A1A7A"}},
        ParseCase{"StrayRunByteBeforeStart", {0x7E, 0x7E, 0x01, 0x7E}, {"G7E", "C7E017E"}},
        // Mismatched ends: the first byte is dropped, the rest looked at again.
        ParseCase{"MismatchedEnds", {0x7A, 0x1A, 0x7B, 0x7E, 0x02, 0x7E}, {"G7A", "G1A", "G7B", "C7E027E"}},
        ParseCase{"CutShortThenCommand", {0x7D, 0x02, 0x7E, 0x02, 0x7E}, {"G7D", "G02", "C7E027E"}},
        ParseCase{"UnknownCommandByteIsGarbage", {0x7C, 0x05, 0x7C}, {"G7C", "G05", "G7C"}},
        ParseCase{"Empty", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CommandParser, UnfinishedCommandIsHeldUntilFlushed)
{
    CommandParser parser;
    std::vector<ParsedItem> items;
    parser.Feed(0x7A, items);
    parser.Feed(0x1A, items);
    EXPECT_TRUE(items.empty());
    EXPECT_TRUE(parser.HasPending());
    parser.Flush(items);
    EXPECT_FALSE(parser.HasPending());
    EXPECT_EQ(Parse({0x7A, 0x1A}, true), (std::vector<std::string>{"G7A", "G1A"}));
    // After a flush the parser is in step again.
    parser.Feed(0x7E, items);
    parser.Feed(0x02, items);
    parser.Feed(0x7E, items);
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[2].kind, ParsedItem::Kind::Command);
}

TEST(CommandParser, EveryCommandSurvivesAnyGarbagePrefix)
{
    // Whatever single garbage byte precedes it, a command is still found and
    // every byte is accounted for once.
    for (int g = 0; g < 256; ++g) {
        const std::vector<std::uint8_t> bytes = {static_cast<std::uint8_t>(g), 0x7B, 0x0D, 0x7B};
        const auto items = Parse(bytes, true);
        ASSERT_FALSE(items.empty()) << g;
        EXPECT_EQ(items.back(), "C7B0D7B") << g;
        EXPECT_EQ(items.size(), 2u) << g;
    }
}

} // namespace
