// Finds the box's three-byte commands (command byte, parameter, command byte) in
// the bytes the tool writes, and resynchronises on anything else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace boxsim
{

struct ParsedItem {
    enum class Kind { Command, Garbage };
    Kind kind = Kind::Garbage;
    // Command: command, parameter, command. Garbage: bytes[0] only.
    std::array<std::uint8_t, 3> bytes{};

    std::uint8_t Code() const { return bytes[0]; }
    std::uint8_t Parameter() const { return bytes[1]; }
    bool operator==(const ParsedItem&) const = default;
};

class CommandParser
{
public:
    static bool IsCommandByte(std::uint8_t b);

    // Appends what the byte completes: nothing, one command, or garbage bytes
    // that can no longer start a command.
    void Feed(std::uint8_t b, std::vector<ParsedItem>& out);
    // The bytes of an unfinished command become garbage (used after a quiet spell
    // and at exit, so a stray byte is reported rather than held forever).
    void Flush(std::vector<ParsedItem>& out);
    bool HasPending() const { return m_count > 0; }

private:
    void DropFirst(std::vector<ParsedItem>& out);

    std::array<std::uint8_t, 3> m_window{};
    std::size_t m_count = 0;
};

} // namespace boxsim
