// The clock and the units the load generator measures in.
#pragma once

#include <chrono>

namespace game501::load {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

inline constexpr double kNanosPerMilli = 1e6;
inline constexpr double kNanosPerSecond = 1e9;
inline constexpr double kBytesPerKib = 1024;
inline constexpr double kBytesPerMb = 1e6;
inline constexpr double kKibPerMib = 1024;

}  // namespace game501::load
