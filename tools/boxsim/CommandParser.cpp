#include "tools/boxsim/CommandParser.h"

#include "measurement/Protocol.h"

namespace boxsim
{

bool CommandParser::IsCommandByte(std::uint8_t b)
{
    return b == protocol::CMD_WIDTH_CH1 || b == protocol::CMD_WIDTH_CH2 || b == protocol::CMD_CLOCK ||
           b == protocol::CMD_FREQUENCY || b == protocol::CMD_RUN;
}

void CommandParser::DropFirst(std::vector<ParsedItem>& out)
{
    ParsedItem g;
    g.kind = ParsedItem::Kind::Garbage;
    g.bytes[0] = m_window[0];
    out.push_back(g);
    m_window[0] = m_window[1];
    m_window[1] = m_window[2];
    --m_count;
}

void CommandParser::Feed(std::uint8_t b, std::vector<ParsedItem>& out)
{
    m_window[m_count++] = b;
    // A command can only start on a command byte; anything else is garbage at once.
    while (m_count > 0 && !IsCommandByte(m_window[0]))
        DropFirst(out);
    if (m_count < 3)
        return;
    if (m_window[0] == m_window[2]) {
        ParsedItem c;
        c.kind = ParsedItem::Kind::Command;
        c.bytes = m_window;
        out.push_back(c);
        m_count = 0;
        return;
    }
    // Out of step: the first byte cannot begin a command; try again one byte on.
    DropFirst(out);
    while (m_count > 0 && !IsCommandByte(m_window[0]))
        DropFirst(out);
}

void CommandParser::Flush(std::vector<ParsedItem>& out)
{
    while (m_count > 0)
        DropFirst(out);
}

} // namespace boxsim
