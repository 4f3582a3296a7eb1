// Line faults on the frames the box sends: bytes replaced by noise, bytes
// dropped, stray 0x7E bytes between frames. Reproducible for a given seed.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "tools/boxsim/FrameEncoder.h"

namespace boxsim
{

struct FaultSettings {
    double noise = 0.0;    // per byte: replaced by a different random byte
    double drop = 0.0;     // per byte: not sent
    double insert7e = 0.0; // per frame: a stray 0x7E sent just before it
    std::uint64_t seed = 1;

    bool Any() const { return noise > 0.0 || drop > 0.0 || insert7e > 0.0; }
};

// What happened to one frame; byte indexes are 0 to 9 within the frame.
struct FaultReport {
    bool stray7e = false;
    std::vector<int> dropped;
    std::vector<int> noised;

    bool Clean() const { return !stray7e && dropped.empty() && noised.empty(); }
};

class FaultInjector
{
public:
    explicit FaultInjector(const FaultSettings& settings);

    // Appends the frame's bytes to out as the faulty line delivers them.
    FaultReport Append(const Frame& frame, std::vector<std::uint8_t>& out);

    std::uint64_t BytesDropped() const { return m_dropped; }
    std::uint64_t BytesNoised() const { return m_noised; }
    std::uint64_t Stray7E() const { return m_stray; }

private:
    // Uniform in [0, 1) from the engine's bits, the same on every library.
    double Uniform();
    bool Hit(double p);

    FaultSettings m_settings;
    std::mt19937_64 m_rng;
    std::uint64_t m_dropped = 0;
    std::uint64_t m_noised = 0;
    std::uint64_t m_stray = 0;
};

} // namespace boxsim
