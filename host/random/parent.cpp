// SPDX-License-Identifier: MIT
// Random sessions, the validator's side: batches of sessions in isolated workers, a crash pinned
// to its seed, and every distinct violation id's first session shrunk (host/random/random.h).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "host/base/os.h"
#include "host/isolate/isolate.h"
#include "host/isolate/record.h"
#include "host/random/internal.h"

namespace sim {

namespace {

std::string join_channels(const std::vector<std::string> &c) {
    std::string out;
    for (const std::string &n : c) out += (out.empty() ? "" : ",") + n;
    return out.empty() ? std::string("-") : out;
}

} // namespace

// The words after the kind: MODULE SEED STEPS CHANNELS SERVER, then the kind's own.
std::vector<std::string> session_worker_words(const char *kind, const std::string &module,
                                              const RandomSessionOptions &o) {
    return {kind,
            module,
            std::to_string(o.seed),
            std::to_string(o.steps),
            join_channels(o.channels),
            o.server.empty() ? std::string("-") : o.server};
}

namespace {

// A message as the caller reports it: on one line, newlines as blanks, no leading blanks.
std::string spaced(std::string message) {
    std::replace(message.begin(), message.end(), '\n', ' ');
    return message.substr(std::min(message.find_first_not_of(' '), message.size()));
}

// A session that did not end: the worker crashed, hung or could not run it. The session failed
// at the last statement it began.
void session_did_not_end(const WorkerOutcome &w, bool worker_error, const std::string &last, SessionResult &r) {
    r.failed = true;
    // A sanitizer's report ends the process with an exit status; a fault with a signal or an
    // exception code. Either way the session did not end.
    if (worker_error || w.status == WorkerOutcome::Status::Failed) {
        r.id = violation_id::worker_error;
        if (!worker_error) r.message = w.describe();
    } else {
        r.id =
            w.status == WorkerOutcome::Status::TimedOut ? violation_id::session_timeout : violation_id::session_crash;
        r.message = w.status == WorkerOutcome::Status::Crashed ? "the module crashed (" + w.crash + ")"
                                                               : "the session " + w.describe();
        if (!last.empty()) r.message += " at `" + last + "`";
    }
    r.step = static_cast<int>(r.statements.size());
    r.failures.push_back({r.id, r.message, r.step});
}

// What a session worker's records tell of its session: the statements it began (as answered),
// the ids it showed and how it ended.
SessionResult session_from(const WorkerOutcome &w) {
    SessionResult r;
    std::vector<std::string> lines; // the statements begun, as answered
    bool have_outcome = false, worker_error = false;
    for (const JobRecord &rec : read_records(w.output)) {
        if (rec.kind == "step") lines.push_back(rec.message);
        else if (rec.kind == "answered" && !lines.empty()) lines.back() = rec.message;
        else if (rec.kind == "found")
            (rec.verdict == "fail" ? r.failures : r.warnings)
                .push_back({rec.id, spaced(rec.message), static_cast<int>(rec.step)});
        else if (rec.kind == "error") {
            worker_error = true;
            r.message = spaced(rec.message);
        } else if (rec.kind == "outcome") {
            have_outcome = true;
            r.failed = rec.verdict == "fail";
            r.id = rec.id;
            r.step = static_cast<int>(rec.step);
            r.impossible = static_cast<size_t>(rec.count);
            r.message = spaced(rec.message);
        }
    }
    std::string script;
    for (const std::string &l : lines) script += l + "\n";
    r.statements = std::move(parse_script(script).script.statements);
    if (!have_outcome) session_did_not_end(w, worker_error, lines.empty() ? std::string() : lines.back(), r);
    return r;
}

std::string temp_script_path() {
    static unsigned counter = 0;
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = ".";
#ifdef _WIN32
    const unsigned long pid = GetCurrentProcessId();
#else
    const unsigned long pid = static_cast<unsigned long>(getpid());
#endif
    return (dir / ("zendro-shrink-" + std::to_string(pid) + "-" + std::to_string(counter++) + ".session")).string();
}

constexpr double k_worker_timeout = 300.0;
#ifdef _WIN32
constexpr uint64_t k_batch = 500;
constexpr size_t k_isolated_shrink_runs = 300; // a child process per candidate is slow under wine
#else
constexpr uint64_t k_batch = 2000;
constexpr size_t k_isolated_shrink_runs = 2000;
#endif

RandomFinding &finding_of(std::vector<RandomFinding> &list, const std::string &id, uint64_t seed) {
    for (RandomFinding &f : list)
        if (f.id == id) return f;
    list.push_back(RandomFinding());
    list.back().id = id;
    list.back().seed = seed;
    return list.back();
}

// Shrinks the script at `path` in one worker, every candidate played in its process: fast
// everywhere. False when the worker gave no script (it crashed, say).
bool shrink_in_one_worker(const std::string &module_path, const RandomSessionOptions &one, const std::string &path,
                          RandomFinding &f) {
    std::vector<std::string> words = session_worker_words("shrink", module_path, one);
    words.push_back(path);
    words.push_back(f.id);
    const WorkerOutcome w = run_worker(words, k_worker_timeout);
    if (w.status != WorkerOutcome::Status::Exited) return false;
    bool shrunk = false;
    for (const JobRecord &rec : read_records(w.output)) {
        if (rec.kind != "script") continue;
        ParseResult p = parse_script(rec.message);
        if (p.ok() && !p.script.statements.empty()) {
            f.shrunk = std::move(p.script.statements);
            shrunk = true;
        }
    }
    return shrunk;
}

// Plays the first session that showed the finding's id again, statement by statement, and shrinks
// it to a script that still shows the id.
void shrink_finding(const std::string &module_path, const RandomSessionOptions &options, RandomFinding &f) {
    RandomSessionOptions one = options;
    one.seed = f.seed;
    const SessionResult first =
        session_from(run_worker(session_worker_words("session", module_path, one), k_worker_timeout));
    f.original_length = first.statements.size();
    f.shrunk = first.statements;
    const SessionFinding *hit = nullptr;
    for (const SessionFinding &x : first.failures)
        if (x.id == f.id) hit = &x;
    if (!hit) {
        // Not seen again (a hang that did not recur, say): what the session did show.
        if (first.failed) f.message = first.id + " when played again: " + first.message;
        return;
    }
    f.message = hit->message;
    if (hit->step > 0) f.shrunk.resize(std::min(f.shrunk.size(), static_cast<size_t>(hit->step)));
    if (f.shrunk.empty()) return;
    const std::string path = temp_script_path();
    // Each candidate in its own worker: a crash ends only that candidate.
    const SessionRunner isolated = [&](const std::vector<Statement> &c) {
        SessionResult r;
        if (!write_script_file(path, c)) {
            r.failed = true;
            r.id = violation_id::script_unwritable;
            return r;
        }
        std::vector<std::string> words = session_worker_words("replay", module_path, one);
        words.push_back(path);
        return session_from(run_worker(words, k_worker_timeout));
    };
    // A crash or a hang is shrunk candidate by candidate, each in a worker of its own.
    const bool shrunk = f.id != violation_id::session_crash && f.id != violation_id::session_timeout &&
                        write_script_file(path, f.shrunk) && shrink_in_one_worker(module_path, one, path, f);
    if (!shrunk) f.shrunk = shrink_session(f.shrunk, f.id, isolated, k_isolated_shrink_runs);
    // The message as the shrunk script gives it.
    const SessionResult again = isolated(f.shrunk);
    for (const SessionFinding &x : again.failures)
        if (x.id == f.id) {
            f.message = x.message;
            break;
        }
    std::remove(path.c_str());
}

// What a batch worker's records tell: sessions counted into `rc`, their findings by id, and the
// session that began without an outcome (it crashed or hung).
struct BatchRead {
    bool open = false;
    uint64_t began = 0;
    bool load_failed = false;
};

BatchRead read_batch(const WorkerOutcome &w, RandomSessions &rc) {
    BatchRead b;
    for (const JobRecord &rec : read_records(w.output)) {
        const uint64_t seed = std::strtoull(rec.job.c_str(), nullptr, 10);
        if (rec.kind == "begin") {
            b.open = true;
            b.began = seed;
        } else if (rec.kind == "found") {
            RandomFinding &f = finding_of(rec.verdict == "warn" ? rc.warnings : rc.failures, rec.id, seed);
            if (f.sessions++ == 0) f.message = spaced(rec.message);
        } else if (rec.kind == "outcome") {
            b.open = false;
            ++rc.sessions;
            rc.failed_sessions += rec.verdict == "fail";
            if (rec.verdict == "fail" && rec.id == violation_id::module_load) {
                b.load_failed = true;
                return b;
            }
        }
    }
    return b;
}

} // namespace

std::string RandomSessions::speed() const {
    const double rate = seconds > 0.0 ? static_cast<double>(sessions) / seconds : 0.0;
    char text[96];
    std::snprintf(text, sizeof text,
                  rate >= 100.0 ? "%llu sessions in %.1f s (%.0f sessions/s)"
                                : "%llu sessions in %.1f s (%.3g sessions/s)",
                  static_cast<unsigned long long>(sessions), seconds, rate);
    return text;
}

RandomSessions run_random_sessions(const std::string &module_path, const RandomSessionOptions &options,
                                   uint64_t max_crashes) {
    RandomSessions rc;
    const auto t0 = std::chrono::steady_clock::now();
    uint64_t next = 0, crashes = 0;
    while (next < options.sessions && crashes < max_crashes) {
        const uint64_t count = std::min<uint64_t>(k_batch, options.sessions - next);
        std::vector<std::string> words = session_worker_words("sessions", module_path, options);
        words.push_back(std::to_string(next));
        words.push_back(std::to_string(count));
        const WorkerOutcome w = run_worker(words, k_worker_timeout);
        // The session that began and did not end is the one that crashed.
        const BatchRead batch = read_batch(w, rc);
        if (batch.load_failed) {
            rc.error = "the module cannot be loaded";
            rc.failures.clear();
            break;
        }
        const bool open = batch.open;
        const uint64_t began = batch.began;
        if (w.status == WorkerOutcome::Status::Exited && w.exit_code == 0 && !open) {
            next += count;
            continue;
        }
        if (!open) {
            // The worker failed before or after every session: nothing to pin it on.
            rc.error = "the session worker " + w.describe();
            break;
        }
        // A crash or a hang inside one session: pin it to its seed and go on after it.
        ++rc.sessions;
        ++rc.failed_sessions;
        ++crashes;
        ++finding_of(rc.failures,
                     w.status == WorkerOutcome::Status::TimedOut ? violation_id::session_timeout
                                                                 : violation_id::session_crash,
                     began)
              .sessions;
        next = began - options.seed + 1;
    }
    rc.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // In the order the ids first showed, each shrunk on its own.
    std::stable_sort(rc.failures.begin(), rc.failures.end(),
                     [](const RandomFinding &a, const RandomFinding &b) { return a.seed < b.seed; });
    std::stable_sort(rc.warnings.begin(), rc.warnings.end(),
                     [](const RandomFinding &a, const RandomFinding &b) { return a.seed < b.seed; });
    for (RandomFinding &f : rc.failures) shrink_finding(module_path, options, f);
    return rc;
}

} // namespace sim
