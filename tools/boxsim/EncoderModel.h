// One encoder turning at a constant speed.
#pragma once

#include <cstdint>

#include "tools/boxsim/SimTime.h"

namespace boxsim
{

class EncoderModel
{
public:
    EncoderModel(double startDeg = 0.0, double speedDegPerS = 0.0) : m_startDeg(startDeg), m_speed(speedDegPerS) {}

    // start + speed * t, wrapped into [0, 360).
    double AngleAt(SimTime t) const;
    // The code for the angle at the width: round(angle / 360 * (2^width - 1)),
    // the inverse of the tool's code / mask * 360. An angle just below 360 may
    // round to the mask itself, which the tool shows as 360.
    std::uint32_t CodeAt(SimTime t, int width) const;

    static double Wrap(double deg);
    static std::uint32_t Quantise(double deg, int width);

private:
    double m_startDeg;
    double m_speed;
};

} // namespace boxsim
