// SPDX-License-Identifier: MIT
// The module validator behind `zendro_host check`: a table of checks that any module of the
// LayoutTool class must pass, each run isolated in a worker process (host/isolate.h), and the
// command that runs them on module files and prints one line per check (docs/validator.md).
//
//   sim::register_check_workers();                        // in main, before anything else
//   sim::CheckOptions options;
//   std::string error;
//   if (sim::parse_check_options({"mod.so", "--only-failed"}, &options, &error) != cli::ParseStatus::Ok) ...
//   if (!sim::check_options_problem(options).empty()) ...
//   return sim::check_main(options, stdout, stderr);
//
// Adding a check is a function and its CheckDef beside it in the file of its area (an id in
// check_id, a one-line description, where it runs), listed in that area's table. Adding an
// option is one row in check_option_rules() and, when it carries a value, a field in CheckOptions.
#ifndef HOST_CHECK_H
#define HOST_CHECK_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host/base/option_table.h"
#include "host/isolate/record.h"

namespace sim {

class Module;

struct CheckOptions {
    std::vector<std::string> modules;
    bool only_failed = false;
    bool list = false;
    std::string filter;     // std::regex (ECMAScript) on the check id; empty: every check
    std::string server;     // the LayoutTool server to check; empty: the module's first
    double timeout = 120.0; // seconds for one worker
    // Random sessions (host/check/random_sessions.cpp): how many, the first seed, statements per session,
    // the channels a key write may go to (empty: the six position and rotation channels), and
    // where the shrunk script of a failing session is written (empty: nowhere).
    uint64_t sessions = 2000;
    uint64_t seed = 1;
    unsigned steps = 40;
    std::vector<std::string> channels;
    std::string save_shrunk;
    bool reload_each_session = false; // load the module afresh for every session instead of resetting it
    // Session workers running at once (0: one per processor), and whether the progress of the
    // sessions is shown on standard error when it is not a terminal too.
    unsigned jobs = 0;
    bool progress = false;
    std::string json; // --json FILE: every module's check results as JSON (empty: none)
    // The option words as given (not the module paths), handed to every worker so that it sees
    // the same options.
    std::vector<std::string> words;
};

struct CheckResult {
    enum class Outcome { Pass, Fail, Skip } outcome = Outcome::Pass;
    std::string id;      // Fail: the violation id
    std::string message; // Fail: what was wrong; Skip: why; Pass: an optional note ("143 runs")
    bool blocks = false; // the later checks of the module cannot run (it does not load or start)
    std::string details; // printed as it is after the check's line (a reproducer script)
    // Fail: more failures of the same check, another violation id each, printed as FAIL lines of
    // their own with their details; the check still counts once.
    std::vector<CheckResult> further;
    // "<warning-id>: <message>", each printed as a "warn" line after the check's lines; a warning
    // never changes the outcome.
    std::vector<std::string> warnings;
    // Fail of the random sessions: the seed of the first session that showed the id, and that
    // session shrunk to a script (for --json; `details` prints it with its comment lines).
    std::vector<uint64_t> seeds;
    std::string shrunk;

    static CheckResult pass(const std::string &note = std::string()) { return make(Outcome::Pass, "", note, false); }
    static CheckResult fail(const std::string &id, const std::string &message, bool blocks = false) {
        return make(Outcome::Fail, id, message, blocks);
    }
    static CheckResult skip(const std::string &why) { return make(Outcome::Skip, "", why, false); }

private:
    static CheckResult make(Outcome outcome, const std::string &id, const std::string &message, bool blocks) {
        CheckResult r;
        r.outcome = outcome;
        r.id = id;
        r.message = message;
        r.blocks = blocks;
        return r;
    }
};

struct CheckContext {
    const CheckOptions &options;
    const std::string &module; // the module file's path
};

// The check ids, as `check --list` prints them and docs/validator.md lists them.
namespace check_id {
constexpr char module_file_format[] = "module-file-format";
constexpr char module_exports_only_descriptor[] = "module-exports-only-descriptor";
constexpr char module_loads[] = "module-loads";
constexpr char descriptor_words[] = "descriptor-words";
constexpr char descriptor_server_table[] = "descriptor-server-table";
constexpr char module_startup[] = "module-startup";
constexpr char activation_service_binding[] = "activation-service-binding";
constexpr char activation_callback_slots[] = "activation-callback-slots";
constexpr char callbacks_simple[] = "callbacks-simple";
constexpr char release_closes_panel[] = "release-closes-panel";
constexpr char activation_no_panel[] = "activation-no-panel";
constexpr char activation_no_memory[] = "activation-no-memory";
constexpr char allocation_sweep[] = "allocation-sweep";
constexpr char session_random[] = "session-random";
} // namespace check_id

using CheckFn = CheckResult (*)(const CheckContext &);

struct CheckDef {
    // Where the check's function runs. Worker: in an isolated worker of its own; a crash there is
    // the check's FAIL with session-crash. Validator: in the validator itself, for a check made of
    // many isolated runs that starts its workers itself (the allocation sweep, the random sessions).
    enum class RunsIn { Worker, Validator };

    const char *id = nullptr;
    const char *description = nullptr; // one sentence: what the module must do
    RunsIn runs_in = RunsIn::Worker;
    CheckFn run = nullptr;
    bool crash_blocks = false; // a crash of this check blocks the later checks (the module cannot start)

    static constexpr CheckDef in_worker(const char *id, const char *description, CheckFn run) {
        return make(id, description, RunsIn::Worker, run);
    }
    static constexpr CheckDef in_validator(const char *id, const char *description, CheckFn run) {
        return make(id, description, RunsIn::Validator, run);
    }
    constexpr CheckDef blocking_on_crash() const {
        CheckDef d = *this;
        d.crash_blocks = true;
        return d;
    }

private:
    static constexpr CheckDef make(const char *id, const char *description, RunsIn runs_in, CheckFn run) {
        CheckDef d;
        d.id = id;
        d.description = description;
        d.runs_in = runs_in;
        d.run = run;
        return d;
    }
};

// Every check, in the order they run and are listed.
std::vector<CheckDef> &check_table();
const CheckDef *find_check(const std::string &id);

// check's option table: the command line's parser reads it and its usage text shows it
// (apps/command_line.h).
using CheckOptionRule = cli::OptionRule<CheckOptions>;
const std::vector<CheckOptionRule> &check_option_rules();

// Reads the words after "check" through check_option_rules(): the modules into options->modules,
// the option words as given into options->words. Error with `error` set on a bad option.
cli::ParseStatus parse_check_options(const std::vector<std::string> &words, CheckOptions *options, std::string *error);
// What makes well-formed options a bad command line: no module (without --list), or a filter that
// matches no check id; empty when there is nothing.
std::string check_options_problem(const CheckOptions &options);

// The command, on options that parse_check_options read and check_options_problem passed. Exit
// status: 0 every check passed or was skipped, 1 a check failed, 2 the --json file cannot be written.
int check_main(const CheckOptions &options, std::FILE *out, std::FILE *err);

// The file inspection of the check module-file-format, made before a module is loaded (a file the
// loader cannot map may crash it): empty when the file is a shared library of this host's format,
// pointer width and machine; otherwise "<id>: <message>", the id one of the inspector's
// (binary-truncated, ...) or module-file-format, module-pointer-width, module-machine,
// module-not-shared-library.
std::string module_file_problem(const std::string &path);
// On a 64-bit host, "module-descriptor-alignment: ..." when the 4 bytes at offset 12 of the loaded
// module's descriptor are not zero; empty otherwise. The host does not read them, so the module
// still plays; the check descriptor-words fails.
std::string descriptor_alignment_problem(const Module &m);

// The random sessions check and its options (host/check/random_sessions.cpp).
CheckResult random_sessions_check(const CheckContext &c);
std::string opt_sessions(CheckOptions &o, const std::string &v);
std::string opt_seed(CheckOptions &o, const std::string &v);
std::string opt_steps(CheckOptions &o, const std::string &v);
std::string opt_channels(CheckOptions &o, const std::string &v);
std::string opt_save_shrunk(CheckOptions &o, const std::string &v);
std::string opt_reload_each_session(CheckOptions &o, const std::string &v);
std::string opt_jobs(CheckOptions &o, const std::string &v);
std::string opt_progress(CheckOptions &o, const std::string &v);

// One module's check as a JSON object (docs/validator.md, "JSON"): module, check, verdict,
// violation, message, seeds, shrunk, further (the same fields for each further violation id) and
// warnings.
std::string check_json(const std::string &module, const CheckDef &def, const CheckResult &r);
std::string opt_json(CheckOptions &o, const std::string &v);

// Registers the worker jobs the checks use ("check", "sweep"); call it in main before
// worker_main so that a child process started as `PROGRAM worker ...` knows them.
void register_check_workers();

// For a parent check: a check's result as the "check" worker writes it, an "outcome" record
// (host/isolate/record.h) with verdict pass, fail, fail-blocks or skip.
JobRecord outcome_record(const CheckResult &r);
// Reads the last outcome record of a worker's output, its message on one line; false when there
// is none.
bool read_outcome_record(const std::string &output, CheckResult *r);

} // namespace sim

#endif // HOST_CHECK_H
