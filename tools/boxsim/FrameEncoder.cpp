#include "tools/boxsim/FrameEncoder.h"

namespace boxsim
{

std::uint32_t WidthMask(int width)
{
    if (width < protocol::MIN_BIT_WIDTH)
        width = protocol::MIN_BIT_WIDTH;
    if (width > protocol::MAX_BIT_WIDTH)
        width = protocol::MAX_BIT_WIDTH;
    return 0xFFFFFFFFu >> (32 - width);
}

std::uint32_t BinaryToGray(std::uint32_t code)
{
    return code ^ (code >> 1);
}

std::uint32_t EncodeWord(std::uint32_t code, int width, bool gray)
{
    const std::uint32_t masked = code & WidthMask(width);
    return gray ? BinaryToGray(masked) : masked;
}

std::uint32_t Force7E(std::uint32_t word)
{
    return (word & 0xFFFF00FFu) | (std::uint32_t{protocol::FRAME_DELIMITER} << 8);
}

Frame EncodeFrame(std::uint32_t word1, std::uint32_t word2)
{
    Frame f{};
    f[0] = protocol::FRAME_DELIMITER;
    for (std::size_t i = 0; i < protocol::FRAME_WORD_LENGTH; ++i) {
        const unsigned shift = static_cast<unsigned>(8 * (protocol::FRAME_WORD_LENGTH - 1 - i));
        f[protocol::FRAME_CH1_OFFSET + i] = static_cast<std::uint8_t>(word1 >> shift);
        f[protocol::FRAME_CH2_OFFSET + i] = static_cast<std::uint8_t>(word2 >> shift);
    }
    f[protocol::FRAME_LENGTH - 1] = protocol::FRAME_DELIMITER;
    return f;
}

} // namespace boxsim
