// SPDX-License-Identifier: MIT
// Random sessions, the worker side: the jobs the validator runs in isolated workers (a batch of
// sessions, one session, one replay, one shrinking) and the records they write (host/isolate/record.h).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/isolate/isolate.h"
#include "host/isolate/record.h"
#include "host/random/internal.h"

namespace sim {

namespace {

// How the session ended: verdict "pass" or "fail" with the first violation.
JobRecord session_outcome(const std::string &job, const SessionResult &r) {
    if (!r.failed) return JobRecord::outcome(job, "pass").with_count(r.impossible);
    return JobRecord::outcome(job, "fail")
        .with_id(r.id)
        .with_step(r.step)
        .with_count(r.impossible)
        .with_message(r.message);
}

} // namespace

uint64_t random_session_batch(const std::string &module_path, const RandomSessionOptions &options, uint64_t first,
                              uint64_t count, std::FILE *out, bool stop_at_failure) {
    uint64_t failed = 0;
    SessionSeries series(module_path, options);
    // One flush per session: a session's records and the next one's "begin" go together, so that
    // the "begin" of the session a crash strikes has reached the caller.
    if (count > 0) write_record(out, JobRecord::begin(std::to_string(options.seed + first)));
    for (uint64_t i = first; i < first + count; ++i) {
        const uint64_t seed = options.seed + i;
        const std::string job = std::to_string(seed);
        const uint64_t kept_blocks = series.kept_blocks();
        const SessionResult r = series.random(seed);
        for (const SessionFinding &f : r.failures)
            write_record_unflushed(out, JobRecord::found(job, "fail", f.id).with_step(f.step).with_message(f.message));
        for (const SessionFinding &f : r.warnings)
            write_record_unflushed(out, JobRecord::found(job, "warn", f.id).with_step(f.step).with_message(f.message));
        // How the sessions begin (known after the first), and each passing one that left a block.
        if (i == first)
            write_record_unflushed(out, JobRecord::make("note", job).with_id("loading").with_message(series.loading()));
        if (series.kept_blocks() != kept_blocks)
            write_record_unflushed(out, JobRecord::make("note", job).with_id("kept-block"));
        write_record_unflushed(out, session_outcome(job, r));
        failed += r.failed;
        if (i + 1 == first + count || (r.failed && (stop_at_failure || r.load_failed))) {
            std::fflush(out);
            break;
        }
        write_record(out, JobRecord::begin(std::to_string(seed + 1)));
    }
    return failed;
}

bool read_script_file(const std::string &path, std::vector<Statement> *out) {
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    ParseResult p = parse_script(text);
    if (!p.ok()) return false;
    *out = std::move(p.script.statements);
    return true;
}

bool write_script_file(const std::string &path, const std::vector<Statement> &s) {
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const std::string text = reproducer_script(s, std::string());
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

namespace {

// The words every session worker gets (session_worker_words): KIND MODULE SEED STEPS CHANNELS
// SERVER LOADING; the kind's own follow.
constexpr size_t k_own = 7;

bool read_options(const std::vector<std::string> &a, size_t need, RandomSessionOptions *o, std::FILE *out) {
    if (a.size() < k_own + need) {
        write_record(out, JobRecord::text("error", "wrong number of worker arguments"));
        return false;
    }
    o->seed = std::strtoull(a[2].c_str(), nullptr, 10);
    o->steps = static_cast<unsigned>(std::strtoul(a[3].c_str(), nullptr, 10));
    o->channels.clear();
    if (a[4] != "-") {
        size_t b = 0;
        while (b <= a[4].size()) {
            const size_t e = std::min(a[4].find(',', b), a[4].size());
            if (e > b) o->channels.push_back(a[4].substr(b, e - b));
            b = e + 1;
        }
    }
    o->server = a[5] == "-" ? std::string() : a[5];
    o->reload_each_session = a[6] == "reload";
    return true;
}

// sessions MODULE SEED STEPS CHANNELS SERVER LOADING FIRST COUNT
int batch_worker(const std::vector<std::string> &a, std::FILE *out) {
    RandomSessionOptions o;
    if (!read_options(a, 2, &o, out)) return 2;
    random_session_batch(a[1], o, std::strtoull(a[k_own].c_str(), nullptr, 10),
                         std::strtoull(a[k_own + 1].c_str(), nullptr, 10), out);
    return 0;
}

// session MODULE SEED STEPS CHANNELS SERVER LOADING: the session of that seed, statement by statement.
int session_worker(const std::vector<std::string> &a, std::FILE *out) {
    RandomSessionOptions o;
    if (!read_options(a, 0, &o, out)) return 2;
    write_record(out, session_outcome("", random_session(a[1], o.seed, o, out)));
    return 0;
}

// replay MODULE SEED STEPS CHANNELS SERVER LOADING SCRIPT
int replay_worker(const std::vector<std::string> &a, std::FILE *out) {
    RandomSessionOptions o;
    std::vector<Statement> s;
    if (!read_options(a, 1, &o, out)) return 2;
    if (!read_script_file(a[k_own], &s)) {
        // A candidate the script checker refuses (a statement uses an item whose definition was
        // dropped) is not a failure of the module.
        SessionResult r;
        r.failed = true;
        r.id = violation_id::script_invalid;
        r.message = "the script " + a[k_own] + " cannot be read or does not check";
        write_record(out, session_outcome("", r));
        return 0;
    }
    write_record(out, session_outcome("", replay_session(a[1], s, o, out)));
    return 0;
}

// shrink MODULE SEED STEPS CHANNELS SERVER LOADING SCRIPT ID: shrinks in this process (every candidate
// replayed here) and writes the shrunk session as a "script" record.
int shrink_worker(const std::vector<std::string> &a, std::FILE *out) {
    RandomSessionOptions o;
    std::vector<Statement> s;
    if (!read_options(a, 2, &o, out)) return 2;
    if (!read_script_file(a[k_own], &s)) {
        write_record(out, JobRecord::text("error", "cannot read " + a[k_own]));
        return 2;
    }
    SessionSeries series(a[1], o);
    const SessionRunner run = [&](const std::vector<Statement> &c) { return series.replay(c); };
    const std::vector<Statement> shrunk = shrink_session(s, a[k_own + 1], run);
    write_record(out, JobRecord::text("script", reproducer_script(shrunk, std::string())));
    return 0;
}

} // namespace

void register_random_session_workers() {
    register_worker("sessions", batch_worker);
    register_worker("session", session_worker);
    register_worker("replay", replay_worker);
    register_worker("shrink", shrink_worker);
}

} // namespace sim
