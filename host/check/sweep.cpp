// SPDX-License-Identifier: MIT
// The allocation sweep: the generic session played once per module allocation, the k-th refused
// in run k, in batches of isolated workers (docs/validator.md, "The allocation sweep").
//
// Worker job "sweep MODULE FROM TO [OPTIONS]": for every k from FROM to TO plays the generic
// session with the k-th module allocation refused (k = 0: none refused, and the count of
// allocations the session makes is noted). Records (host/isolate/record.h), the job named by K:
//   note allocations N | note hooks-unavailable REASON | begin K | outcome K pass | outcome K fail ID MESSAGE
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/check/internal.h"
#include "host/isolate/isolate.h"
#include "host/isolate/record.h"
#include "host/player/player.h"
#include "host/script/script.h"
#include "host/sim/alloc_hooks.h"
#include "host/sim/binary.h"
#include "host/sim/simulator.h"

namespace sim {

namespace {

using namespace check_support;

// ---- The generic session ----------------------------------------------------------------------
// What a user does with any tool in a few seconds: presses and drags in every viewport with and
// without the alternative step, the drawings, the handle callbacks, every panel control set as
// its type allows, the panel closed, release, and a second activation. It touches nothing
// particular to one tool, so every module of the class can be swept with it.

void viewport_round(Player &p, int vp) {
    const std::string v = std::to_string(vp);
    steps(p, "mouse-down " + v + " 320 240\nmouse-move 25 10\nmouse-move 250 -40 alt\nmouse-up\ndrag-start in " + v +
                 " 300 200\nmouse-move 30 0\nmouse-move -60 5 alt\nmouse-up\ndraw " + v + "\n");
}

void callback_round(Player &p) {
    steps(p, "tool-text\nchange-query\nhandle-count\nhandle-position 0\nhandle-adjust 0\nnotify 1\nnotify 0\n");
}

// Every control a user can set, by type: numbers typed, drag buttons dragged, every choice item
// chosen, the item list picked (an item and none), buttons pressed.
void panel_round(Player &p) {
    Panel *panel = p.panel();
    if (!panel || panel->destroyed) return;
    std::vector<Statement> list;
    int64_t n[8] = {};
    bool picked = false;
    for (const std::unique_ptr<Control> &c : panel->controls) {
        const int64_t i = ++n[static_cast<int>(c->type)];
        switch (c->type) {
        case ControlType::Float:
            list.push_back(statement("type", {Value::index(i), Value::number(0.5)}));
            list.push_back(statement("type", {Value::index(i), Value::number(-2)}));
            break;
        case ControlType::DragButton:
            list.push_back(
                statement("drag-button", {Value::index(i), Value::int32(1), Value::int32(3), Value::int32(-2)}));
            break;
        case ControlType::Choice:
            for (size_t k = c->items.size(); k-- > 0;)
                list.push_back(statement("choose", {Value::index(i), Value::text_of(std::to_string(k))}));
            break;
        case ControlType::List:
            if (!picked) {
                list.push_back(statement("pick", {Value::item("B")}));
                list.push_back(statement("pick", {Value::word("none")}));
                list.push_back(statement("pick", {Value::item("A")}));
                picked = true;
            }
            break;
        case ControlType::Button: list.push_back(statement("press", {Value::index(i)})); break;
        default: break;
        }
    }
    for (const Statement &s : list) step(p, s);
}

void generic_session(Player &p) {
    steps(p, k_scene);
    steps(p, "activate");
    for (int vp = 0; vp < 4; ++vp) viewport_round(p, vp);
    callback_round(p);
    panel_round(p);
    viewport_round(p, 2);
    if (p.panel() && p.panel()->open) steps(p, "close");
    steps(p, "release\nactivate\n");
    viewport_round(p, 1);
    callback_round(p);
    steps(p, "release");
}

const unsigned k_sweep_batch = 64;

struct Failure {
    unsigned k; // the run that failed (0: the run without refusals)
    std::string id, message;
};

// What the sweep's workers reported so far.
struct SweepTally {
    std::vector<Failure> failures;
    unsigned total = 0;   // the allocations of the session without refusals
    bool counted = false; // that run noted its count
    std::string hooks;    // why the allocation hooks are unavailable; empty when they are

    // Reads a worker's lines; answers the run after the last one that began (0 when none did).
    unsigned read(const WorkerOutcome &o, unsigned from) {
        unsigned begun = 0;
        bool ended = true;
        for (const JobRecord &r : read_records(o.output)) read_record(r, &begun, &ended);
        if (o.status == WorkerOutcome::Status::Exited && o.exit_code == 0) return begun + 1;
        // A worker that did not end well: the run that began and did not end failed.
        const unsigned k = ended ? (begun ? begun + 1 : from) : begun;
        const std::string id = o.status == WorkerOutcome::Status::Crashed    ? violation_id::session_crash
                               : o.status == WorkerOutcome::Status::TimedOut ? violation_id::session_timeout
                                                                             : violation_id::worker_error;
        failures.push_back({k, id, "the worker " + o.describe() + crashed_step(o.output)});
        return k + 1;
    }

private:
    void read_record(const JobRecord &r, unsigned *begun, bool *ended) {
        const unsigned k = static_cast<unsigned>(std::strtoul(r.job.c_str(), nullptr, 10));
        if (r.kind == "note" && r.id == "allocations") {
            total = static_cast<unsigned>(std::strtoul(r.message.c_str(), nullptr, 10));
            counted = true;
        } else if (r.kind == "note" && r.id == "hooks-unavailable") hooks = r.message.empty() ? "unknown" : r.message;
        else if (r.kind == "begin") {
            *begun = k;
            *ended = false;
        } else if (r.kind == "outcome") {
            *ended = true;
            if (r.verdict == "fail") failures.push_back({k, r.id, one_line(r.message)});
        }
    }
};

// A worker playing runs `from` to `to` of the sweep.
WorkerOutcome sweep_job(const CheckContext &c, unsigned from, unsigned to) {
    std::vector<std::string> a = {"sweep", c.module, std::to_string(from), std::to_string(to)};
    a.insert(a.end(), c.options.words.begin(), c.options.words.end());
    return run_worker(a, c.options.timeout);
}

// The verdict once every run was played: the first failed run, or the count.
CheckResult sweep_verdict(const SweepTally &t) {
    if (!t.failures.empty()) {
        const Failure &f = t.failures.front();
        return CheckResult::fail(f.id, "run " + std::to_string(f.k) + " of " + std::to_string(t.total) +
                                           " (allocation " + std::to_string(f.k) + " refused): " + f.message + "; " +
                                           std::to_string(t.failures.size()) + " of " + std::to_string(t.total) +
                                           " runs failed");
    }
    return CheckResult::pass(std::to_string(t.total) + " runs, each refusing one of the session's " +
                             std::to_string(t.total) + " allocations");
}

CheckResult run_sweep(const CheckContext &c) {
    SweepTally t;
    t.read(sweep_job(c, 0, 0), 0);
    if (!t.hooks.empty()) return CheckResult::skip("the allocation hooks are unavailable: " + t.hooks);
    if (!t.counted) {
        const Failure f =
            t.failures.empty() ? Failure{0, violation_id::worker_error, "no allocation count"} : t.failures.front();
        return CheckResult::fail(f.id, "the session without refusals: " + f.message);
    }
    if (!t.failures.empty())
        return CheckResult::fail(t.failures.front().id, "the session without refusals: " + t.failures.front().message);
    for (unsigned from = 1; from <= t.total;) {
        const unsigned to = from + k_sweep_batch - 1 < t.total ? from + k_sweep_batch - 1 : t.total;
        const unsigned next = t.read(sweep_job(c, from, to), from);
        from = next > from ? next : from + 1;
    }
    return sweep_verdict(t);
}

constexpr CheckDef k_allocation_sweep = CheckDef::in_validator(
    check_id::allocation_sweep,
    "A generic session with its k-th allocation refused, for every k, ends without a crash or violation "
    "and with every block freed at release.",
    run_sweep);

} // namespace

namespace {

// Plays run k of the sweep, its result into `r`; false when the worker must stop (run 0 found no
// allocation hooks, and noted it).
bool sweep_run(const CheckContext &ctx, unsigned k, std::FILE *out, CheckResult *r) {
    try {
        Player p(player_options(ctx));
        alloc_reset_counts();
        if (k > 0) alloc_fail_after(k - 1, 1);
        if (!load(ctx, p, r)) return true;
        if (k == 0 && !alloc_hooks_available()) {
            write_record(
                out,
                JobRecord::make("note").with_id("hooks-unavailable").with_message(alloc_hooks_unavailable_reason()));
            return false;
        }
        generic_session(p);
        p.finish();
        if (k == 0)
            write_record(out, JobRecord::make("note")
                                  .with_id("allocations")
                                  .with_message(std::to_string(alloc_counts().allocations())));
        // A refused allocation may end the session early (activation answers 1), and a module may
        // lack a panel or a control: steps that became impossible and the activation answer are
        // not faults here.
        first_failure(p, 0, k_violations, r);
    } catch (const std::exception &e) {
        *r = CheckResult::fail(violation_id::player_error, e.what());
    }
    return true;
}

} // namespace

int sweep_worker(const std::vector<std::string> &args, std::FILE *out) {
    if (args.size() < 4) return 2;
    const std::string &module = args[1];
    const unsigned from = static_cast<unsigned>(std::strtoul(args[2].c_str(), nullptr, 10));
    const unsigned to = static_cast<unsigned>(std::strtoul(args[3].c_str(), nullptr, 10));
    CheckOptions options;
    std::string error;
    if (parse_check_options(std::vector<std::string>(args.begin() + 4, args.end()), &options, &error) !=
        cli::ParseStatus::Ok)
        return 2;
    const CheckContext ctx{options, module};
    g_step_log = out;
    for (unsigned k = from; k <= to; ++k) {
        write_record(out, JobRecord::begin(std::to_string(k)));
        CheckResult r = CheckResult::pass();
        if (!sweep_run(ctx, k, out, &r)) return 0;
        alloc_fail_none();
        const JobRecord end = JobRecord::outcome(std::to_string(k), "pass");
        write_record(out, r.outcome == CheckResult::Outcome::Fail
                              ? end.with_verdict("fail").with_id(r.id).with_message(r.message)
                              : end);
    }
    return 0;
}

CheckDef allocation_sweep_check() { return k_allocation_sweep; }

} // namespace sim
