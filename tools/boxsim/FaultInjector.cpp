#include "tools/boxsim/FaultInjector.h"

namespace boxsim
{

FaultInjector::FaultInjector(const FaultSettings& settings) : m_settings(settings), m_rng(settings.seed) {}

double FaultInjector::Uniform()
{
    return static_cast<double>(m_rng() >> 11) * 0x1.0p-53;
}

// A probability of 0 draws nothing: the sequence for a seed depends only on the
// faults that are on.
bool FaultInjector::Hit(double p)
{
    return p > 0.0 && Uniform() < p;
}

FaultReport FaultInjector::Append(const Frame& frame, std::vector<std::uint8_t>& out)
{
    FaultReport r;
    if (Hit(m_settings.insert7e)) {
        out.push_back(protocol::FRAME_DELIMITER);
        r.stray7e = true;
        ++m_stray;
    }
    for (std::size_t i = 0; i < frame.size(); ++i) {
        if (Hit(m_settings.drop)) {
            r.dropped.push_back(static_cast<int>(i));
            ++m_dropped;
            continue;
        }
        std::uint8_t b = frame[i];
        if (Hit(m_settings.noise)) {
            // Always a different value: a replacement by the same byte is no fault.
            b = static_cast<std::uint8_t>(b ^ static_cast<std::uint8_t>(1 + m_rng() % 255));
            r.noised.push_back(static_cast<int>(i));
            ++m_noised;
        }
        out.push_back(b);
    }
    return r;
}

} // namespace boxsim
