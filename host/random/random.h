// SPDX-License-Identifier: MIT
// Random sessions: a seeded generator of session scripts that plays each statement as it makes it,
// a shrinker that cuts a failing session down to a short script failing the same way, and the
// batch worker the validator runs in a child process.
//
//   sim::RandomSessionOptions o;                                   // seed, sessions, steps, channels
//   sim::SessionResult r = sim::random_session(path, o.seed, o);
//   if (r.failed) {
//       sim::SessionRunner run = [&](const std::vector<sim::Statement> &s) { return sim::replay_session(path, s, o); };
//       std::vector<sim::Statement> shrunk = sim::shrink_session(r.statements, r.id, run);
//       std::puts(sim::reproducer_script(shrunk, "...").c_str());   // zendro_host play reproduces it
//   }
//
// Every statement the generator makes passes ScriptChecker in order, so a generated session is a
// valid script. The generator reads the session's state (the tool, the panel and its controls,
// the press) before each step and makes only steps a user could take; a step the player still
// calls impossible is the generator's fault and is counted apart, never as a module failure.
//
// Invariants after every step, as the player and the simulator report them: no crash (the caller
// isolates the process), no violation of the simulator (trap slots, keys at another time, writes
// into unselected items or other channels, non-finite keys, unknown handles ...), and every block
// freed at release (memory-leak-at-release).
//
// Determinism: the generator draws from splitmix64 and integer arithmetic only, so a seed gives
// the same session on every target and pointer width. Session i of a run with seed S has seed S+i.
#ifndef HOST_RANDOM_RANDOM_H
#define HOST_RANDOM_RANDOM_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/script/script.h"

namespace sim {

class ModuleKeeper; // host/sim/simulator.h

// splitmix64: a 64-bit state advanced by a constant and mixed; the same sequence everywhere.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next();
    // Uniform in [0, n) for n > 0 (by rejection, no modulo bias); 0 for n == 0.
    uint64_t below(uint64_t n);
    // True with probability percent/100.
    bool chance(unsigned percent) { return below(100) < percent; }
    int64_t range(int64_t lo, int64_t hi); // inclusive

private:
    uint64_t state_;
};

struct RandomSessionOptions {
    uint64_t seed = 1;
    uint64_t sessions = 200;
    unsigned steps = 40; // statements after the scene and the first activation
    // Channel names a key write must match; empty keeps the six position and rotation names.
    std::vector<std::string> channels;
    std::string server; // LayoutTool server name; empty: the module's first
    // Load the module file afresh for every session instead of resetting a loaded one (SessionSeries).
    bool reload_each_session = false;
};

// A violation or warning of one id, where a session first showed it.
struct SessionFinding {
    std::string id, message;
    int step = 0; // 1-based index of the statement it came from; 0 for the end of the session
};

// A session goes on after a violation (only a crash ends it early), so that one fault showing in
// every session does not hide the others.
struct SessionResult {
    bool failed = false;
    bool load_failed = false; // the module file could not be loaded; message says why
    std::string id;           // the first failure's violation id
    std::string message;
    int step = 0; // 1-based index of the statement it came from; 0 for the end of the session
    std::vector<SessionFinding>
        failures; // every distinct violation id, first occurrence, in order (the first as above)
    std::vector<SessionFinding> warnings; // every distinct warning id; message "at `<statement>`: ..."
    std::vector<Statement> statements;    // as played (activation answers recorded as "expect R")
    size_t impossible = 0;                // steps the player refused: the generator's fault, not the module's
    std::string first_impossible;         // the first of them, as the player reported it
    uint64_t keys = 0; // a digest (FNV-1a) of every key the module wrote, in order: item, channel, time, value
};

// Generates and plays one session with that seed against the module file.
// With `progress`, records (host/isolate/record.h) are written there as the session goes: "step"
// before each statement is played, "answered" after an activation with its answer as "expect",
// and "found" for each new violation ("fail") or warning ("warn") id as it shows, each flushed, so
// that a caller keeps the session up to a crash.
SessionResult random_session(const std::string &module_path, uint64_t seed, const RandomSessionOptions &options,
                             std::FILE *progress = nullptr);
// Plays the statements (none is generated) and reports the failures the same way. An
// activation's answer replaces the "expect" of its statement in the result's copy, so the
// statements a shrinker keeps stay a script that plays without failed expectations.
SessionResult replay_session(const std::string &module_path, const std::vector<Statement> &statements,
                             const RandomSessionOptions &options, std::FILE *progress = nullptr);

// ---- Many sessions in one process ---------------------------------------------------------------
// Sessions played one after another in this process. Unless options.reload_each_session, the
// module file stays loaded between them and is reset instead of reloaded (sim::ModuleKeeper,
// host/sim/simulator.h): much faster, and each session starts from exactly what a fresh load
// gives. After a session that failed or left a block of the module's held, the next one loads the
// file afresh; a module the keeper refuses (it allocated while
// loading) is loaded afresh for every session.
class SessionSeries {
public:
    SessionSeries(std::string module_path, const RandomSessionOptions &options);
    ~SessionSeries();
    SessionSeries(const SessionSeries &) = delete;
    SessionSeries &operator=(const SessionSeries &) = delete;

    SessionResult random(uint64_t seed, std::FILE *progress = nullptr);
    SessionResult replay(const std::vector<Statement> &statements, std::FILE *progress = nullptr);

    // How each session began: "reset" (the module kept loaded), "reload" (--reload-each-session)
    // or "reload: " and why the module cannot be kept. Empty before the first session.
    const std::string &loading() const { return loading_; }
    // Passing sessions after which the module was loaded afresh: it still held a block, or changed
    // one allocated while it loaded (host/sim/simulator.h, ModuleKeeper).
    uint64_t kept_blocks() const { return kept_blocks_; }

private:
    template <typename Play> SessionResult play(Play session);

    std::string module_;
    RandomSessionOptions options_;
    std::unique_ptr<ModuleKeeper> keeper_;
    std::string loading_;
    uint64_t kept_blocks_ = 0;
};

// Plays the statements and reports the failures; may run in another process.
using SessionRunner = std::function<SessionResult(const std::vector<Statement> &)>;

// Shrinks a failing session: drops chunks of statements, then single ones, then simplifies values
// (toward 0 and 1, smaller magnitude, fewer selected items, fewer options) while the session still
// shows violation `id` (first or after another one) and has no impossible step; the script ends at
// the statement that showed it. At most `max_runs` calls of `run`.
std::vector<Statement> shrink_session(std::vector<Statement> statements, const std::string &id,
                                      const SessionRunner &run, size_t max_runs = 3000);

// The statements as a session script, preceded by `comment` lines (each prefixed "# ").
std::string reproducer_script(const std::vector<Statement> &statements, const std::string &comment);

// ---- Batch worker ----------------------------------------------------------------------------
// Runs sessions first .. first+count-1 (seeds options.seed + index) and writes records
// (host/isolate/record.h) per session, the job named by its seed, flushed once a session (with
// the next session's "begin"):
//   begin                                  before the session
//   found fail|warn, id, step, message     one per distinct violation or warning id
//   outcome pass | fail, id, step, message the first violation
// A crash leaves a "begin" without its "outcome"; the caller pins it to that seed and goes on from
// the next one. Stops after the first failing session when `stop_at_failure` is set.
// Returns the number of sessions that failed.
uint64_t random_session_batch(const std::string &module_path, const RandomSessionOptions &options, uint64_t first,
                              uint64_t count, std::FILE *out, bool stop_at_failure = false);

// ---- Isolated runs ----------------------------------------------------------------------------
// The random sessions of the validator: batches of sessions in isolated workers (host/isolate/isolate.h),
// a crash pinned to its seed and the run going on from the next, and for every distinct violation
// id the first session that showed it shrunk to a script.

// Registers the workers "sessions", "session", "replay" and "shrink"; every process that runs
// run_random_sessions calls it at start-up (a Windows worker is the program started anew).
void register_random_session_workers();

// One violation (or warning) id over the whole run.
struct RandomFinding {
    std::string id;                // violation id ("session-crash", "session-timeout" for a worker that ended)
    uint64_t seed = 0;             // the first session that showed it (--seed SEED --sessions 1 plays it)
    uint64_t sessions = 0;         // sessions that showed it
    std::string message;           // as the shrunk script gives it (a warning: as its first session gave it)
    size_t original_length = 0;    // statements of the first session, as generated
    std::vector<Statement> shrunk; // that session shrunk (warnings are not shrunk)
};

struct RandomSessions {
    uint64_t sessions = 0;               // sessions run (a crashed one included)
    uint64_t failed_sessions = 0;        // sessions that failed or crashed
    double seconds = 0.0;                // wall time of the sessions, without the shrinking
    std::vector<RandomFinding> failures; // every distinct violation id, by its first seed
    std::vector<RandomFinding> warnings; // every distinct warning id, by its first seed
    std::string error;                   // the sessions could not all be run (module not loadable, worker failed): why
    bool load_failed = false;            // the error is that the module did not load in a session worker
    std::string loading;                 // how the sessions began, as SessionSeries::loading() tells
    uint64_t kept_block_sessions = 0;    // passing sessions after which the module was loaded afresh
    bool failed() const { return failed_sessions != 0; }
    // "2000 sessions in 0.8 s (2476 sessions/s)": the rate whole from 100 up, with three
    // significant digits below ("0.51 sessions/s").
    std::string speed() const;
    // How the module was loaded for the sessions, for the validator's report: "the module loaded
    // once per worker and reset before each session", or why it was loaded afresh for each.
    std::string loading_text() const;
};

// How far a run of sessions is: sessions done of the total (in whatever order the workers ran
// them), the failed ones among them, and the seconds since it began.
struct RandomProgress {
    uint64_t done = 0, total = 0, failed = 0;
    double seconds = 0.0;
};
// The progress as one line for a terminal: "5200 of 20000 sessions, 2480 sessions/s, 6 s left,
// 0 failed"; empty in the first 2 seconds of a run, which a short run is not worth a line for.
std::string random_progress_line(const RandomProgress &p);

// How run_random_sessions runs the sessions; none of it changes a result.
struct RandomRunOptions {
    unsigned jobs = 1;         // session workers running at once
    uint64_t max_crashes = 20; // the run stops at this many sessions that crashed or hung, in seed order
    // Called on the calling thread about five times a second while the sessions run.
    std::function<void(const RandomProgress &)> progress;
};

// Runs options.sessions sessions against the module file in isolated batches, `jobs` of them at
// once. Stops early after `max_crashes` sessions that crashed or hung (each ends a worker; another
// fault stops nothing). Whatever `jobs` is, the result is the same: the sessions, the findings
// with their first seeds and counts, the point where the run stopped and the shrunk scripts.
RandomSessions run_random_sessions(const std::string &module_path, const RandomSessionOptions &options,
                                   const RandomRunOptions &run = RandomRunOptions());

} // namespace sim

#endif // HOST_RANDOM_RANDOM_H
