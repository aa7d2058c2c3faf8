// SPDX-License-Identifier: MIT
// The validator's random sessions (host/explore.h) as the check "session-random", and its options.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/check.h"
#include "host/explore.h"

namespace sim {

namespace {

// A decimal number within [lo, hi]; false when the text is not one.
bool read_number(const std::string &v, uint64_t lo, uint64_t hi, uint64_t *out) {
    if (v.empty() || v[0] == '-' || v[0] == '+') return false;
    for (char c : v)
        if (c < '0' || c > '9') return false;
    errno = 0;
    char *end = nullptr;
    const unsigned long long n = std::strtoull(v.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || n < lo || n > hi) return false;
    *out = n;
    return true;
}

std::string bad_number(const char *option, const std::string &v, const char *range) {
    return std::string(option) + ": \"" + v + "\" is not a whole number " + range;
}

} // namespace

std::string opt_sessions(CheckOptions &o, const std::string &v) {
    if (!read_number(v, 0, 1000000000ull, &o.sessions)) return bad_number("--sessions", v, "from 0 to 1000000000");
    return std::string();
}

std::string opt_seed(CheckOptions &o, const std::string &v) {
    if (!read_number(v, 0, UINT64_MAX / 2, &o.seed)) return bad_number("--seed", v, "from 0 to 2^63-1");
    return std::string();
}

std::string opt_steps(CheckOptions &o, const std::string &v) {
    uint64_t n = 0;
    if (!read_number(v, 1, 100000, &n)) return bad_number("--steps", v, "from 1 to 100000");
    o.steps = static_cast<unsigned>(n);
    return std::string();
}

std::string opt_channels(CheckOptions &o, const std::string &v) {
    o.channels.clear();
    size_t b = 0;
    while (b <= v.size()) {
        const size_t e = std::min(v.find(',', b), v.size());
        if (e == b) return "--channels: an empty channel name in \"" + v + "\"";
        o.channels.push_back(v.substr(b, e - b));
        b = e + 1;
    }
    return std::string();
}

std::string opt_save_shrunk(CheckOptions &o, const std::string &v) {
    if (v.empty()) return "--save-shrunk needs a file name";
    o.save_shrunk = v;
    return std::string();
}

CheckResult random_sessions_check(const CheckContext &c, const CheckDef &) {
    if (c.options.sessions == 0) return CheckResult::skip("--sessions 0");
    ExploreOptions o;
    o.seed = c.options.seed;
    o.sessions = c.options.sessions;
    o.steps = c.options.steps;
    o.channels = c.options.channels;
    o.server = c.options.server;
    const RandomCheck r = run_random_sessions(c.module, o);
    const std::string speed = r.speed();
    if (!r.error.empty() && !r.failed()) return CheckResult::fail("session-error", r.error);
    if (!r.failed())
        return CheckResult::pass(std::string(speed) + ", seeds " + std::to_string(o.seed) + " to " +
                                 std::to_string(o.seed + o.sessions - 1));
    const std::string command = "zendro_host check " + c.module + " --filter session-random --seed " +
                                std::to_string(r.seed) + " --sessions 1 --steps " + std::to_string(o.steps);
    std::string message = "seed " + std::to_string(r.seed) + ": " + r.message + " (" +
                          std::to_string(r.failed_sessions) + " of " + speed + " failed; shrunk from " +
                          std::to_string(r.original_length) + " to " + std::to_string(r.shrunk.size()) + " statements)";
    const std::string script = reproducer_script(r.shrunk, "random session seed " + std::to_string(r.seed) + ": " +
                                                               r.id + "\nagain: " + command);
    CheckResult f = CheckResult::fail(r.id, message);
    f.details = script;
    if (!c.options.save_shrunk.empty()) {
        std::FILE *out = std::fopen(c.options.save_shrunk.c_str(), "wb");
        const bool ok = out && std::fwrite(script.data(), 1, script.size(), out) == script.size();
        if (out && std::fclose(out) != 0) f.message += "; the shrunk script could not be written";
        else if (!ok) f.message += "; the shrunk script could not be written to " + c.options.save_shrunk;
        else f.message += "; shrunk script in " + c.options.save_shrunk;
    }
    return f;
}

} // namespace sim
