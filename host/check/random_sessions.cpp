// SPDX-License-Identifier: MIT
// The validator's random sessions (host/random/random.h) as the check "session-random", and its options.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "host/base/os.h"
#ifdef _WIN32
#include <io.h>
#endif
#include "host/check/check.h"
#include "host/check/internal.h"
#include "host/random/random.h"

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

std::string opt_reload_each_session(CheckOptions &o, const std::string &) {
    o.reload_each_session = true;
    return std::string();
}

std::string opt_jobs(CheckOptions &o, const std::string &v) {
    uint64_t n = 0;
    if (!read_number(v, 1, 1024, &n)) return bad_number("--jobs", v, "from 1 to 1024");
    o.jobs = static_cast<unsigned>(n);
    return std::string();
}

std::string opt_progress(CheckOptions &o, const std::string &) {
    o.progress = true;
    return std::string();
}

namespace {

bool stderr_is_terminal() {
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

// The progress line on standard error, rewritten in place; cleared by clear().
class ProgressLine {
public:
    void show(const RandomProgress &p) {
        std::string line = random_progress_line(p);
        if (line.empty()) return;
        line = "session-random: " + line;
        const size_t width = line.size();
        if (width < width_) line.append(width_ - width, ' '); // over the end of a longer line
        width_ = width;
        std::fprintf(stderr, "\r%s", line.c_str());
        std::fflush(stderr);
    }
    void clear() {
        if (width_ == 0) return;
        std::fprintf(stderr, "\r%s\r", std::string(width_, ' ').c_str());
        std::fflush(stderr);
        width_ = 0;
    }

private:
    size_t width_ = 0; // of the line shown, 0 when none is
};

// FILE for the first id's script; "<stem>-<id><extension>" beside it for each further one.
std::string shrunk_path(const std::string &file, size_t index, const std::string &id) {
    if (index == 0) return file;
    const size_t slash = file.find_last_of("/\\");
    const size_t dot = file.find_last_of('.');
    const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
    return has_ext ? file.substr(0, dot) + "-" + id + file.substr(dot) : file + "-" + id;
}

} // namespace

namespace {

// The warn lines: each warning id with its first seed and how many sessions showed it.
std::vector<std::string> warning_lines(const RandomSessions &r) {
    std::vector<std::string> warnings;
    for (const RandomFinding &w : r.warnings)
        warnings.push_back(w.id + ": seed " + std::to_string(w.seed) + ": " + w.message + " (" +
                           std::to_string(w.sessions) + " of " + std::to_string(r.sessions) + " sessions)");
    return warnings;
}

// Writes the shrunk script to `path` and says so (or that it could not) at the end of the line.
void save_shrunk_script(const std::string &path, const std::string &script, CheckResult *line) {
    std::FILE *out = std::fopen(path.c_str(), "wb");
    const bool ok = out && std::fwrite(script.data(), 1, script.size(), out) == script.size();
    if (out && std::fclose(out) != 0) line->message += "; the shrunk script could not be written";
    else if (!ok) line->message += "; the shrunk script could not be written to " + path;
    else line->message += "; shrunk script in " + path;
}

// The FAIL line of the i-th violation id: its first seed, message and count, the shrunk script
// (printed after the line, and saved with --save-shrunk).
CheckResult failure_line(const CheckContext &c, const RandomSessions &r, size_t i, const std::string &speed,
                         const std::string &suffix) {
    const RandomFinding &f = r.failures[i];
    const std::string command = "zendro_host check " + c.module + " --filter session-random --seed " +
                                std::to_string(f.seed) + " --sessions 1 --steps " + std::to_string(c.options.steps);
    std::string message = "seed " + std::to_string(f.seed) + ": " + f.message + " (" + std::to_string(f.sessions) +
                          " of " + speed + " failed; shrunk from " + std::to_string(f.original_length) + " to " +
                          std::to_string(f.shrunk.size()) + " statements)" + suffix;
    const std::string script = reproducer_script(f.shrunk, "random session seed " + std::to_string(f.seed) + ": " +
                                                               f.id + "\nagain: " + command);
    CheckResult line = CheckResult::fail(f.id, message);
    line.details = script;
    line.seeds = {f.seed};
    line.shrunk = reproducer_script(f.shrunk, std::string());
    if (!c.options.save_shrunk.empty()) save_shrunk_script(shrunk_path(c.options.save_shrunk, i, f.id), script, &line);
    return line;
}

// The FAIL lines of a run that failed: first why the sessions could not all run, if they could
// not, then one line and one shrunk script per violation id; the first line says how the module
// was loaded (`loading`).
CheckResult failure_lines(const CheckContext &c, const RandomSessions &r, const std::string &speed,
                          const std::string &loading) {
    std::vector<CheckResult> lines;
    if (!r.error.empty())
        lines.push_back(r.load_failed
                            ? CheckResult::fail(violation_id::module_load, r.error)
                            : CheckResult::fail(violation_id::session_error, r.error + " (after " + speed + ")"));
    else if (r.failures.empty())
        lines.push_back(CheckResult::fail(violation_id::session_error, std::to_string(r.failed_sessions) + " of " +
                                                                           speed + " failed without a violation id"));
    for (size_t i = 0; i < r.failures.size(); ++i)
        lines.push_back(failure_line(c, r, i, speed, lines.empty() ? loading : std::string()));
    CheckResult first = lines.front();
    first.further.assign(lines.begin() + 1, lines.end());
    return first;
}

} // namespace

CheckResult random_sessions_check(const CheckContext &c) {
    if (c.options.sessions == 0) return CheckResult::skip("--sessions 0");
    RandomSessionOptions o;
    o.seed = c.options.seed;
    o.sessions = c.options.sessions;
    o.steps = c.options.steps;
    o.channels = c.options.channels;
    o.server = c.options.server;
    o.reload_each_session = c.options.reload_each_session;
    RandomRunOptions run;
    run.jobs = c.options.jobs > 0 ? c.options.jobs : std::max(1u, std::thread::hardware_concurrency());
    ProgressLine progress;
    if (c.options.progress || stderr_is_terminal()) run.progress = [&](const RandomProgress &p) { progress.show(p); };
    const RandomSessions r = run_random_sessions(c.module, o, run);
    progress.clear();
    const std::string speed = r.speed();
    const std::string loading = r.loading_text().empty() ? std::string() : "; " + r.loading_text();
    const std::vector<std::string> warnings = warning_lines(r);
    if (r.error.empty() && !r.failed()) {
        CheckResult p = CheckResult::pass(std::string(speed) + ", seeds " + std::to_string(o.seed) + " to " +
                                          std::to_string(o.seed + o.sessions - 1) + loading);
        p.warnings = warnings;
        return p;
    }
    CheckResult first = failure_lines(c, r, speed, loading);
    first.warnings = warnings;
    return first;
}

CheckDef random_sessions_check_def() {
    return CheckDef::in_validator(check_id::session_random,
                                  "Seeded random sessions end without a crash or violation: keys only at the current "
                                  "time, on selected items, in the tool's channels, finite, and every block freed at "
                                  "release.",
                                  random_sessions_check);
}

} // namespace sim
