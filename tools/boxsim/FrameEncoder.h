// The box's sample frame: 0x7E, channel 1 word, channel 2 word (both
// big-endian), 0x7E; and the position words' coding.
#pragma once

#include <array>
#include <cstdint>

#include "measurement/Protocol.h"

namespace boxsim
{

using Frame = std::array<std::uint8_t, protocol::FRAME_LENGTH>;

// 0xFFFFFFFF >> (32 - width): the largest code a width can carry.
std::uint32_t WidthMask(int width);
std::uint32_t BinaryToGray(std::uint32_t code);
// The word the box sends for a code: the code masked to the width, Gray-coded
// when asked. Gray coding keeps the bits above the width at 0.
std::uint32_t EncodeWord(std::uint32_t code, int width, bool gray);
// Replaces bits 8 to 15 of the word by 0x7E, so every frame carries 0x7E as
// data (frame bytes 3 and 7). Those bytes are not next to a delimiter, so a
// collector searching for the boundary still finds the right one; a 0x7E next
// to a delimiter (a low byte of 0x7E) happens naturally as the encoders turn.
std::uint32_t Force7E(std::uint32_t word);
Frame EncodeFrame(std::uint32_t word1, std::uint32_t word2);

} // namespace boxsim
