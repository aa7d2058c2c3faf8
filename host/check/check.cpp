// SPDX-License-Identifier: MIT
// The module validator (host/check/check.h, docs/validator.md): the check table assembled from
// the areas' files, the options, the check worker, and the command that runs the checks.
#include "host/check/check.h"
#include "host/check/internal.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <cstdlib>
#include <exception>
#include <memory>
#include <regex>

#include "host/sim/alloc_hooks.h"
#include "host/sim/binary.h"
#include "host/random/random.h"
#include "host/isolate/isolate.h"
#include "host/isolate/record.h"
#include "host/player/player.h"
#include "host/script/script.h"
#include "host/sim/simulator.h"

namespace sim {

namespace {

using namespace check_support;

// ---- Options ----------------------------------------------------------------------------------

std::string opt_only_failed(CheckOptions &o, const std::string &) {
    o.only_failed = true;
    return std::string();
}
std::string opt_list(CheckOptions &o, const std::string &) {
    o.list = true;
    return std::string();
}
std::string opt_filter(CheckOptions &o, const std::string &v) {
    try {
        std::regex re(v);
    } catch (const std::regex_error &e) {
        return "--filter: " + quote(v) + " is not a regular expression (" + e.what() + ")";
    }
    o.filter = v;
    return std::string();
}
std::string opt_server(CheckOptions &o, const std::string &v) {
    if (v.empty()) return "--server needs a name";
    o.server = v;
    return std::string();
}

// ---- Workers ----------------------------------------------------------------------------------

// Worker job "check ID MODULE [OPTIONS]": runs one check and prints its result line.
int check_worker(const std::vector<std::string> &args, std::FILE *out) {
    if (args.size() < 3) return 2;
    const CheckDef *def = find_check(args[1]);
    if (!def || def->runs_in != CheckDef::RunsIn::Worker) return 2;
    CheckOptions options;
    std::string error;
    std::vector<std::string> words(args.begin() + 3, args.end());
    if (parse_check_options(words, &options, &error) != cli::ParseStatus::Ok) {
        write_record(out, outcome_record(CheckResult::fail(violation_id::worker_error, error)));
        return 0;
    }
    const CheckContext ctx{options, args[2]};
    g_step_log = out;
    CheckResult r;
    try {
        r = def->run(ctx);
    } catch (const std::exception &e) {
        r = CheckResult::fail(violation_id::player_error, e.what());
    }
    write_record(out, outcome_record(r));
    return 0;
}

// Runs a check with a `run` function in a worker and turns how it ended into a result.
CheckResult run_in_worker(const CheckContext &c, const CheckDef &def) {
    std::vector<std::string> a = {"check", def.id, c.module};
    a.insert(a.end(), c.options.words.begin(), c.options.words.end());
    const WorkerOutcome o = run_worker(a, c.options.timeout);
    CheckResult r;
    switch (o.status) {
    case WorkerOutcome::Status::Crashed:
        return CheckResult::fail(violation_id::session_crash,
                                 "the module crashed (" + o.crash + ")" +
                                     (crashed_step(o.output).empty() ? " during the check" : crashed_step(o.output)),
                                 def.crash_blocks);
    case WorkerOutcome::Status::TimedOut:
        return CheckResult::fail(violation_id::session_timeout,
                                 "the check did not end within " + std::to_string(static_cast<int>(c.options.timeout)) +
                                     " s",
                                 def.crash_blocks);
    case WorkerOutcome::Status::Failed: return CheckResult::fail(violation_id::worker_error, o.error);
    case WorkerOutcome::Status::Exited:
        if (read_outcome_record(o.output, &r)) return r;
        return CheckResult::fail(violation_id::worker_error, "the check's worker " + o.describe() + " without a result",
                                 def.crash_blocks);
    }
    return CheckResult::fail(violation_id::worker_error, "unknown outcome");
}

} // namespace

std::vector<CheckDef> &check_table() {
    static std::vector<CheckDef> table = [] {
        std::vector<CheckDef> t = file_checks();
        for (const CheckDef &d : lifecycle_checks()) t.push_back(d);
        t.push_back(allocation_sweep_check());
        t.push_back(random_sessions_check_def());
        return t;
    }();
    return table;
}

const CheckDef *find_check(const std::string &id) {
    for (const CheckDef &d : check_table())
        if (id == d.id) return &d;
    return nullptr;
}

const std::vector<CheckOptionRule> &check_option_rules() {
    static const std::vector<CheckOptionRule> rules = {
        {"--only-failed", nullptr, "print only the FAIL lines and the summaries", opt_only_failed},
        {"--list", nullptr, "print every check id with what it demands, and exit", opt_list},
        {"--filter", "REGEX", "run only the checks whose id matches REGEX (ECMAScript syntax)", opt_filter},
        {"--server", "NAME", "check the LayoutTool server of that name (default: the module's first)", opt_server},
        {"--sessions", "N", "random sessions per module (default 2000; 0 skips them)", opt_sessions},
        {"--seed", "S", "seed of the first random session; session i has seed S+i (default 1)", opt_seed},
        {"--steps", "K", "statements per random session after the scene (default 40)", opt_steps},
        {"--channels", "A,B,...", "channels a key may be written to (default: the position and rotation six)",
         opt_channels},
        {"--save-shrunk", "FILE",
         "write the shrunk script of a failing random session to FILE (a further violation id's to FILE-ID)",
         opt_save_shrunk},
        {"--reload-each-session", nullptr,
         "load the module afresh for every random session (default: load it once per worker and reset it)",
         opt_reload_each_session},
        {"--jobs", "N", "random session workers running at once (default: one per processor)", opt_jobs},
        {"--progress", nullptr,
         "show the progress of the random sessions on standard error also when it is not a terminal", opt_progress},
        {"--json", "FILE", "also write every check's result to FILE as JSON, one object per module and check",
         opt_json},
    };
    return rules;
}

cli::ParseStatus parse_check_options(const std::vector<std::string> &words, CheckOptions *options, std::string *error) {
    return cli::parse_options(words, check_option_rules(), options, &options->modules, error, &options->words);
}

std::string check_options_problem(const CheckOptions &options) {
    if (options.list) return std::string();
    if (options.modules.empty()) return "check needs at least one MODULE";
    // A filter that selects nothing (a misspelt id) would pass every module without checking any.
    const std::regex filter(options.filter.empty() ? std::string(".*") : options.filter);
    for (const CheckDef &def : check_table())
        if (std::regex_search(def.id, filter)) return std::string();
    return "no check matches the filter " + quote(options.filter) + " (see --list)";
}

JobRecord outcome_record(const CheckResult &r) {
    switch (r.outcome) {
    case CheckResult::Outcome::Pass: return JobRecord::outcome("", "pass").with_message(r.message);
    case CheckResult::Outcome::Fail:
        return JobRecord::outcome("", r.blocks ? "fail-blocks" : "fail").with_id(r.id).with_message(r.message);
    case CheckResult::Outcome::Skip: return JobRecord::outcome("", "skip").with_message(r.message);
    }
    return JobRecord::outcome("", "fail").with_id(violation_id::worker_error).with_message("unknown outcome");
}

bool read_outcome_record(const std::string &output, CheckResult *r) {
    const std::vector<JobRecord> records = read_records(output);
    auto last = std::find_if(records.rbegin(), records.rend(), [](const JobRecord &x) { return x.kind == "outcome"; });
    if (last == records.rend()) return false;
    // The report gives a worker's message on one line.
    const std::string message = one_line(last->message);
    if (last->verdict == "fail" || last->verdict == "fail-blocks")
        *r = CheckResult::fail(last->id, message, last->verdict == "fail-blocks");
    else if (last->verdict == "pass") *r = CheckResult::pass(message);
    else if (last->verdict == "skip") *r = CheckResult::skip(message);
    else return false;
    return true;
}

void register_check_workers() {
    register_worker("check", check_worker);
    register_worker("sweep", sweep_worker);
    register_random_session_workers();
}

namespace {

struct Tally {
    size_t passed = 0, failed = 0, skipped = 0, warnings = 0;
};

void print_fail(std::FILE *out, const CheckDef &def, const std::string &module, const CheckResult &f) {
    std::fprintf(out, "FAIL  %s  %s: %s: %s\n", def.id, module.c_str(), f.id.c_str(), one_line(f.message).c_str());
    std::fputs(f.details.c_str(), out);
}

// The lines of one check's result: pass, FAIL (with its details, and each further violation),
// skip, then its warnings; --only-failed keeps the FAIL lines only.
void report(std::FILE *out, bool only_failed, const CheckDef &def, const std::string &module, const CheckResult &r,
            Tally &tally) {
    switch (r.outcome) {
    case CheckResult::Outcome::Pass:
        ++tally.passed;
        if (!only_failed)
            std::fprintf(out, "pass  %s  %s%s%s\n", def.id, module.c_str(), r.message.empty() ? "" : ": ",
                         r.message.c_str());
        break;
    case CheckResult::Outcome::Fail:
        ++tally.failed;
        print_fail(out, def, module, r);
        for (const CheckResult &more : r.further) print_fail(out, def, module, more);
        break;
    case CheckResult::Outcome::Skip:
        ++tally.skipped;
        if (!only_failed) std::fprintf(out, "skip  %s  %s: %s\n", def.id, module.c_str(), r.message.c_str());
        break;
    }
    tally.warnings += r.warnings.size();
    if (!only_failed)
        for (const std::string &w : r.warnings)
            std::fprintf(out, "warn  %s  %s: %s\n", def.id, module.c_str(), one_line(w).c_str());
}

} // namespace

namespace {

// Runs the checks the filter selects on one module and prints their lines and the module's
// summary; each result's JSON object is appended to `objects` when `json` is set.
Tally check_module(const CheckOptions &options, const std::string &module, const std::regex &filter, std::FILE *out,
                   bool json, std::string *objects) {
    const CheckContext ctx{options, module};
    Tally tally;
    std::string blocked;
    for (const CheckDef &def : check_table()) {
        if (!std::regex_search(def.id, filter)) continue;
        CheckResult r;
        if (!blocked.empty()) r = CheckResult::skip("the module cannot be used (" + blocked + ")");
        else if (def.runs_in == CheckDef::RunsIn::Validator) r = def.run(ctx);
        else r = run_in_worker(ctx, def);
        if (r.blocks && blocked.empty()) blocked = std::string(def.id) + ": " + r.id;
        report(out, options.only_failed, def, module, r, tally);
        std::fflush(out);
        if (json) *objects += (objects->empty() ? "[\n  " : ",\n  ") + check_json(module, def, r);
    }
    std::fprintf(out, "%s: %zu passed, %zu failed, %zu skipped", module.c_str(), tally.passed, tally.failed,
                 tally.skipped);
    if (tally.warnings) std::fprintf(out, ", %zu warning%s", tally.warnings, tally.warnings == 1 ? "" : "s");
    std::fprintf(out, "\n");
    return tally;
}

// Writes the JSON array of `objects` to `json` and closes it; false when that failed.
bool write_json(std::FILE *json, const std::string &objects) {
    const std::string text = objects.empty() ? std::string("[]\n") : objects + "\n]\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), json) == text.size();
    return std::fclose(json) == 0 && written;
}

} // namespace

int check_main(const CheckOptions &options, std::FILE *out, std::FILE *err) {
    if (options.list) {
        for (const CheckDef &d : check_table()) std::fprintf(out, "%-32s %s\n", d.id, d.description);
        return 0;
    }
    const std::regex filter(options.filter.empty() ? std::string(".*") : options.filter);
    std::FILE *json = options.json.empty() ? nullptr : std::fopen(options.json.c_str(), "wb");
    if (!options.json.empty() && !json) {
        std::fprintf(err, "zendro_host check: --json %s: cannot write the file\n", options.json.c_str());
        return 2;
    }
    std::string objects;
    size_t passed = 0, failed = 0, skipped = 0;
    for (const std::string &module : options.modules) {
        const Tally tally = check_module(options, module, filter, out, json != nullptr, &objects);
        passed += tally.passed;
        failed += tally.failed;
        skipped += tally.skipped;
    }
    std::fprintf(out, "%zu passed, %zu failed, %zu skipped\n", passed, failed, skipped);
    if (json && !write_json(json, objects)) {
        std::fprintf(err, "zendro_host check: --json %s: the file could not be written\n", options.json.c_str());
        return 2;
    }
    return failed ? 1 : 0;
}

} // namespace sim
