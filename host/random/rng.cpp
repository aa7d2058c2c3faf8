// SPDX-License-Identifier: MIT
// Random sessions: splitmix64, and the values a generated statement draws (host/random/random.h).
#include <climits>
#include <cstdint>
#include <limits>

#include "host/random/internal.h"

namespace sim {

// ---- Random numbers ---------------------------------------------------------------------------

uint64_t Rng::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t Rng::below(uint64_t n) {
    if (n == 0) return 0;
    const uint64_t limit = UINT64_MAX - UINT64_MAX % n;
    uint64_t v;
    do v = next();
    while (v >= limit);
    return v % n;
}

int64_t Rng::range(int64_t lo, int64_t hi) {
    return lo + static_cast<int64_t>(below(static_cast<uint64_t>(hi - lo) + 1u));
}

namespace {

// ---- Values chosen to hurt ------------------------------------------------------------------

const double k_inf = std::numeric_limits<double>::infinity();
const double k_nan = std::numeric_limits<double>::quiet_NaN();

// Finite doubles that break arithmetic: huge, tiny, subnormal, beyond float's range, negative zero.
const double k_finite_hurt[] = {0.0,
                                -0.0,
                                1.0,
                                -1.0,
                                0.5,
                                90.0,
                                -360.0,
                                1e-300,
                                -1e-300,
                                5e-324,
                                1e300,
                                -1e300,
                                1.7976931348623157e308,
                                3.4028234663852886e38,
                                3.5e38,
                                -3.5e38,
                                1e-45,
                                16777217.0,
                                0.1};
const double k_non_finite[] = {k_nan, k_inf, -k_inf};
const int64_t k_int_hurt[] = {0, 1, -1, 2, 10, 100, 9000, -9000, INT32_MAX, INT32_MIN, INT32_MAX - 1, INT32_MIN + 1};

} // namespace

// A double: ordinary most of the time, a hurting one often, non-finite sometimes (when allowed).
double random_real(Rng &r, bool finite_only) {
    const uint64_t k = r.below(100);
    if (k < 45) return static_cast<double>(r.range(-4000, 4000)) / 8.0; // exact in binary, short in text
    if (k < 80 || finite_only) return k_finite_hurt[r.below(sizeof k_finite_hurt / sizeof k_finite_hurt[0])];
    return k_non_finite[r.below(3)];
}

int64_t random_int(Rng &r) {
    const uint64_t k = r.below(100);
    if (k < 55) return r.range(-3000, 3000);
    return k_int_hurt[r.below(sizeof k_int_hurt / sizeof k_int_hurt[0])];
}

} // namespace sim
