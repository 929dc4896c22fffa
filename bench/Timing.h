// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <chrono>
#include <cstdio>

// What every benchmark line needs: a clock, and a figure printed with its
// target and whether the target was met.
namespace zolt::bench {

using Clock = std::chrono::steady_clock;

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline const char* metOrNot(bool met) { return met ? "met" : "NOT met"; }

// "what: 0.012 s (target 1 s) met"
inline bool report(const char* what, double seconds, double target) {
    const bool met = seconds <= target;
    std::printf("%s: %.3f s (target %.3g s) %s\n", what, seconds, target, metOrNot(met));
    return met;
}

}  // namespace zolt::bench
