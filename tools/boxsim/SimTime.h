// Simulator time: nanoseconds since the simulator started, on the monotonic clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace boxsim
{

using SimTime = std::chrono::nanoseconds;

inline double Seconds(SimTime t)
{
    return std::chrono::duration<double>(t).count();
}
inline std::int64_t Microseconds(SimTime t)
{
    return std::chrono::duration_cast<std::chrono::microseconds>(t).count();
}

} // namespace boxsim
