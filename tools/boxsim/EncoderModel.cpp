#include "tools/boxsim/EncoderModel.h"

#include <cmath>

#include "tools/boxsim/FrameEncoder.h"

namespace boxsim
{

double EncoderModel::Wrap(double deg)
{
    if (!std::isfinite(deg))
        return 0.0;
    double a = std::fmod(deg, 360.0);
    if (a < 0.0)
        a += 360.0;
    if (a >= 360.0) // -1e-20 + 360 rounds up to 360
        a = 0.0;
    return a;
}

std::uint32_t EncoderModel::Quantise(double deg, int width)
{
    const double mask = static_cast<double>(WidthMask(width));
    const double code = std::round(Wrap(deg) / 360.0 * mask);
    if (code >= mask)
        return WidthMask(width);
    return static_cast<std::uint32_t>(code);
}

double EncoderModel::AngleAt(SimTime t) const
{
    return Wrap(m_startDeg + m_speed * Seconds(t));
}

std::uint32_t EncoderModel::CodeAt(SimTime t, int width) const
{
    return Quantise(AngleAt(t), width);
}

} // namespace boxsim
