// SPDX-License-Identifier: MIT
// What the checks share: playing scripted steps with the step log a crash is pinned by, turning
// findings and loader errors into results, the small scene (host/check/internal.h).
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
namespace check_support {

std::string one_line(const std::string &s) {
    std::string out;
    for (char c : s) {
        if (c == '\n') out += " / ";
        else if (c != '\r') out.push_back(c);
    }
    while (out.size() >= 3 && out.compare(out.size() - 3, 3, " / ") == 0) out.resize(out.size() - 3);
    return out;
}

std::string quote(const std::string &s) { return "\"" + s + "\""; }

// "module-load: cannot load x: why" -> {"module-load", "cannot load x: why"}
CheckResult fail_from_error(const std::string &error, bool blocks) {
    const size_t colon = error.find(": ");
    if (colon == std::string::npos || error.find(' ') < colon)
        return CheckResult::fail(violation_id::module_error, error, blocks);
    return CheckResult::fail(error.substr(0, colon), error.substr(colon + 2), blocks);
}

bool starts_with(const std::string &s, const char *prefix) { return s.compare(0, std::strlen(prefix), prefix) == 0; }

// Where a worker writes "step STATEMENT" before each step, so that a crash is pinned to the step
// that began it; null in the validator itself.
std::FILE *g_step_log = nullptr;

void step(Player &p, const Statement &s) {
    if (g_step_log) write_record(g_step_log, JobRecord::text("step", print_statement(s)));
    p.step(s);
}

// Plays script text (statements that need nothing defined outside the text) on the player.
void steps(Player &p, const std::string &text) {
    const ParseResult parsed = parse_script(text);
    if (!parsed.ok()) throw std::logic_error("validator session: " + parsed.errors.front().message());
    for (const Statement &s : parsed.script.statements) step(p, s);
}

// The statement a crashed worker was playing: its last "step" record after its last "begin".
std::string crashed_step(const std::string &output) {
    std::string last;
    for (const JobRecord &r : read_records(output)) {
        if (r.kind == "step") last = r.message;
        else if (r.kind == "begin") last.clear();
    }
    return last.empty() ? std::string() : " at `" + last + "`";
}

bool counts(const Finding &f, unsigned filter) {
    switch (f.kind) {
    case Finding::Kind::Violation:
    case Finding::Kind::Error: return (filter & k_violations) != 0;
    case Finding::Kind::Expectation: return (filter & k_expectations) != 0;
    case Finding::Kind::Impossible: return (filter & k_impossible) != 0;
    case Finding::Kind::Warning: return false;
    }
    return false;
}

// The first finding since `from` that the filter counts, as a failure; nothing when there is none.
bool first_failure(const Player &p, size_t from, unsigned filter, CheckResult *r) {
    const std::vector<Finding> &all = p.findings();
    for (size_t i = from; i < all.size(); ++i) {
        const Finding &f = all[i];
        if (f.expected || !counts(f, filter)) continue;
        const std::string where = f.statement.empty() ? std::string("at the end") : "at `" + f.statement + "`";
        *r = CheckResult::fail(f.kind == Finding::Kind::Expectation ? violation_id::activation_answer : f.id,
                               where + ": " + one_line(f.message));
        return true;
    }
    return false;
}

PlayerOptions player_options(const CheckContext &c) {
    PlayerOptions o;
    o.server = c.options.server;
    return o;
}

bool load(const CheckContext &c, Player &p, CheckResult *r) {
    if (p.load(c.module)) return true;
    *r = fail_from_error(p.error(), true);
    return false;
}

// A small scene: three selected items with the six default channels, at time 0.
extern const char k_scene[] = "item A 1 0 0\n"
                              "item B 0 2 1 rot 0.5 0.25 0\n"
                              "item C -1 -1 2\n"
                              "select A B C\n"
                              "time 0\n";

// Loads the module into the player, sets up the small scene and plays `activation` in it; false,
// with the load failure in *r, when the module does not load.
bool load_and_activate(const CheckContext &c, Player &p, CheckResult *r, const char *activation) {
    if (!load(c, p, r)) return false;
    steps(p, k_scene);
    steps(p, activation);
    return true;
}

// The first finding since `from` that the filter counts, as a failure; a pass when there is none.
CheckResult verdict(const Player &p, size_t from, unsigned filter) {
    CheckResult r = CheckResult::pass();
    first_failure(p, from, filter, &r);
    return r;
}

extern const char k_no_active_tool[] = "activation did not make an active tool (activation-callback-slots)";

extern const char *const k_slot_names[13] = {
    "release",       "draw",       "tool text",  "change query", "handle count", "handle position", "drag start",
    "handle adjust", "mouse down", "mouse move", "mouse up",     "notify",       "reserved"};

} // namespace check_support
} // namespace sim
