// SPDX-License-Identifier: MIT
// Random sessions, the validator's side: batches of sessions in isolated workers, a crash pinned
// to its seed, and every distinct violation id's first session shrunk (host/random/random.h).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
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

// The words after the kind: MODULE SEED STEPS CHANNELS SERVER LOADING, then the kind's own.
std::vector<std::string> session_worker_words(const char *kind, const std::string &module,
                                              const RandomSessionOptions &o) {
    return {kind,
            module,
            std::to_string(o.seed),
            std::to_string(o.steps),
            join_channels(o.channels),
            o.server.empty() ? std::string("-") : o.server,
            o.reload_each_session ? "reload" : "reset"};
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
    static std::atomic<unsigned> counter{0}; // findings are shrunk side by side
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
constexpr double k_progress_after = 2.0; // seconds of a run before its progress is worth a line
// Sessions per worker: at most k_batch, at least k_min_batch (a worker's start is paid once per
// batch). Where the batches fall changes no result.
#ifdef _WIN32
constexpr uint64_t k_batch = 500;
constexpr uint64_t k_min_batch = 100;
constexpr size_t k_isolated_shrink_runs = 300; // a child process per candidate is slow under wine
#else
constexpr uint64_t k_batch = 2000;
constexpr uint64_t k_min_batch = 25;
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

// ---- Batches side by side --------------------------------------------------------------------

// A session of a batch that showed a finding, failed or did not end.
struct SessionEvent {
    uint64_t index = 0; // of the session in the run: its seed is options.seed + index
    bool failed = false;
    bool kept_block = false; // it passed and left a block of the module held
    enum class End { Outcome, Crashed, TimedOut } end = End::Outcome;
    std::vector<JobRecord> found; // its "found" records, in order
};

// What one batch of sessions showed: sessions first .. first+done-1 each ran (a crashed or hung one
// included, and the run of its batch went on after it); `events` holds those worth merging, in
// seed order. A batch stops early when the module does not load, a worker fails outside any
// session, or max_crashes of its own sessions crashed or hung (the run stops at or before that
// point whatever the other batches showed).
struct BatchResult {
    uint64_t first = 0, done = 0, failed = 0;
    std::vector<SessionEvent> events;
    std::string error; // why the batch stopped early, other than crashes
    bool load_failed = false;
    std::string loading; // how its worker's sessions began (SessionSeries::loading)
};

BatchResult run_batch(const std::string &module_path, const RandomSessionOptions &options, uint64_t first,
                      uint64_t count, uint64_t max_crashes, const std::function<bool()> &abandoned) {
    BatchResult b;
    b.first = first;
    uint64_t next = first, crashes = 0;
    const uint64_t end = first + count;
    while (next < end && crashes < max_crashes && !abandoned()) {
        std::vector<std::string> words = session_worker_words("sessions", module_path, options);
        words.push_back(std::to_string(next));
        words.push_back(std::to_string(end - next));
        const WorkerOutcome w = run_worker(words, k_worker_timeout);
        // The session that began and did not end is the one that crashed.
        bool open = false;
        SessionEvent current;
        for (const JobRecord &rec : read_records(w.output)) {
            if (rec.kind == "begin") {
                open = true;
                current = SessionEvent();
                current.index = std::strtoull(rec.job.c_str(), nullptr, 10) - options.seed;
            } else if (rec.kind == "found") {
                current.found.push_back(rec);
            } else if (rec.kind == "note" && rec.id == "loading") {
                if (b.loading.empty()) b.loading = rec.message;
            } else if (rec.kind == "note" && rec.id == "kept-block") {
                current.kept_block = true;
            } else if (rec.kind == "outcome") {
                open = false;
                ++b.done;
                current.failed = rec.verdict == "fail";
                b.failed += current.failed;
                if (current.failed || current.kept_block || !current.found.empty()) b.events.push_back(current);
                if (current.failed && rec.id == violation_id::module_load) {
                    b.load_failed = true;
                    b.error = "the module cannot be loaded in the session workers: " + spaced(rec.message);
                    return b;
                }
            }
        }
        if (w.status == WorkerOutcome::Status::Exited && w.exit_code == 0 && !open) break;
        if (!open) {
            // The worker failed before or after every session: nothing to pin it on.
            b.error = "the session worker " + w.describe();
            return b;
        }
        // A crash or a hang inside one session: pin it to its seed and go on after it.
        ++b.done;
        ++b.failed;
        ++crashes;
        current.failed = true;
        current.end =
            w.status == WorkerOutcome::Status::TimedOut ? SessionEvent::End::TimedOut : SessionEvent::End::Crashed;
        b.events.push_back(current);
        next = current.index + 1;
    }
    return b;
}

// Adds a batch to the run, the batches taken strictly in seed order. False when the run ends in
// it: at the max_crashes-th crashed or hung session (nothing after it counts), or at its error.
bool merge_batch(const BatchResult &b, const RandomSessionOptions &options, uint64_t max_crashes, uint64_t &crashes,
                 RandomSessions &rc) {
    if (rc.loading.empty()) rc.loading = b.loading;
    for (const SessionEvent &e : b.events) {
        const uint64_t seed = options.seed + e.index;
        for (const JobRecord &rec : e.found) {
            RandomFinding &f = finding_of(rec.verdict == "warn" ? rc.warnings : rc.failures, rec.id, seed);
            if (f.sessions++ == 0) f.message = spaced(rec.message);
        }
        rc.failed_sessions += e.failed;
        rc.kept_block_sessions += e.kept_block;
        if (e.end == SessionEvent::End::Outcome) continue;
        ++finding_of(rc.failures,
                     e.end == SessionEvent::End::TimedOut ? violation_id::session_timeout : violation_id::session_crash,
                     seed)
              .sessions;
        if (++crashes >= max_crashes) {
            rc.sessions += e.index - b.first + 1;
            return false;
        }
    }
    rc.sessions += b.done;
    if (b.error.empty()) return true;
    rc.error = b.error;
    rc.load_failed = b.load_failed;
    return false;
}

// The address sanitizer's allocator takes no lock around fork: a worker forked while another
// thread of the validator allocates would wait for that lock for ever. There one thread runs the
// workers and the progress line (which allocates) is not shown; C runtimes lock their allocator
// around fork.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool k_allocator_forks_unsafely = true;
#else
constexpr bool k_allocator_forks_unsafely = false;
#endif

unsigned fork_safe_jobs(unsigned jobs) { return k_allocator_forks_unsafely ? 1u : std::max(1u, jobs); }

// Calls task(i) for every i below count, on up to `jobs` threads (the caller's among them).
void for_each_parallel(size_t count, unsigned jobs, const std::function<void(size_t)> &task) {
    std::atomic<size_t> next{0};
    const auto loop = [&] {
        for (size_t i = next++; i < count; i = next++) task(i);
    };
    std::vector<std::thread> threads;
    for (size_t t = 1; t < std::min<size_t>(jobs, count); ++t) threads.emplace_back(loop);
    loop();
    for (std::thread &t : threads) t.join();
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

std::string RandomSessions::loading_text() const {
    if (loading == "reload") return "the module loaded afresh for each session (--reload-each-session)";
    if (loading.compare(0, 8, "reload: ") == 0)
        return "the module loaded afresh for each session: " + loading.substr(8);
    if (loading != "reset") return std::string();
    std::string text = "the module loaded once per worker and reset before each session";
    const std::string kept =
        "the " + std::to_string(kept_block_sessions) + " passing one(s) that left a block held or changed";
    if (failed_sessions != 0) text += ", loaded afresh after each failing one";
    if (kept_block_sessions != 0) text += (failed_sessions != 0 ? " and after " : ", loaded afresh after ") + kept;
    return text;
}

std::string random_progress_line(const RandomProgress &p) {
    if (p.seconds < k_progress_after) return std::string();
    const double rate = static_cast<double>(p.done) / p.seconds;
    char text[160];
    const int n = std::snprintf(
        text, sizeof text,
        rate >= 100.0 ? "%llu of %llu sessions, %.0f sessions/s, " : "%llu of %llu sessions, %.3g sessions/s, ",
        static_cast<unsigned long long>(p.done), static_cast<unsigned long long>(p.total), rate);
    char left[32] = "time left unknown";
    if (p.done > 0 && p.total >= p.done) {
        const double seconds = std::ceil(static_cast<double>(p.total - p.done) / rate);
        if (seconds < 120.0) std::snprintf(left, sizeof left, "%.0f s left", seconds);
        else std::snprintf(left, sizeof left, "%.0f min left", std::ceil(seconds / 60.0));
    }
    std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "%s, %llu failed", left,
                  static_cast<unsigned long long>(p.failed));
    return text;
}

RandomSessions run_random_sessions(const std::string &module_path, const RandomSessionOptions &options,
                                   const RandomRunOptions &run) {
    RandomSessions rc;
    const auto t0 = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); };
    const unsigned jobs = fork_safe_jobs(run.jobs);
    // Batches small enough that every worker has several even in a short run.
    const uint64_t size = std::min(k_batch, std::max(k_min_batch, options.sessions / (uint64_t(jobs) * 8)));
    const uint64_t batches = (options.sessions + size - 1) / size;

    // Batch i runs sessions i*size .. on whichever thread takes it; its result waits in `ready`
    // until every batch before it is merged. No batch at or after `stop` is started or merged, nor
    // one `window` or more batches past the first unmerged one (a batch held up by a hang must not
    // let the results waiting behind it grow without end).
    const uint64_t window = uint64_t(jobs) * 16;
    std::mutex m;
    std::condition_variable changed;
    std::map<uint64_t, BatchResult> ready;
    uint64_t next = 0, merged = 0, crashes = 0, done = 0, failed = 0;
    std::atomic<uint64_t> stop{run.max_crashes > 0 ? batches : 0};
    unsigned running = jobs;
    const auto work = [&] {
        for (;;) {
            std::unique_lock<std::mutex> lock(m);
            changed.wait(lock, [&] { return next >= stop || next < merged + window; });
            if (next >= stop) break;
            const uint64_t i = next++;
            lock.unlock();
            const uint64_t first = i * size;
            BatchResult b = run_batch(module_path, options, first, std::min(size, options.sessions - first),
                                      run.max_crashes, [&] { return i >= stop; });
            lock.lock();
            done += b.done;
            failed += b.failed;
            ready[i] = std::move(b);
            for (auto it = ready.find(merged); it != ready.end() && merged < stop; it = ready.find(merged)) {
                if (!merge_batch(it->second, options, run.max_crashes, crashes, rc)) stop = merged + 1;
                ready.erase(it);
                ++merged;
            }
            changed.notify_all();
        }
        const std::lock_guard<std::mutex> lock(m);
        --running;
        changed.notify_all();
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < jobs; ++t) threads.emplace_back(work);
    // This thread tells the progress, some five times a second, without holding up the workers.
    {
        std::unique_lock<std::mutex> lock(m);
        while (running > 0) { // the workers count themselves out under the lock
            changed.wait_for(lock, std::chrono::milliseconds(200));
            const RandomProgress now{std::min(done, options.sessions), options.sessions, failed, elapsed()};
            if (!run.progress || k_allocator_forks_unsafely) continue;
            lock.unlock();
            run.progress(now);
            lock.lock();
        }
    }
    for (std::thread &t : threads) t.join();
    rc.seconds = elapsed();
    // In the order the ids first showed (the merge made them so), each shrunk on its own.
    for_each_parallel(rc.failures.size(), jobs,
                      [&](size_t i) { shrink_finding(module_path, options, rc.failures[i]); });
    return rc;
}

} // namespace sim
