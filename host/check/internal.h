// SPDX-License-Identifier: MIT
// What the checks of the validator share among their files (not for users of host/check/check.h).
#ifndef HOST_CHECK_INTERNAL_H
#define HOST_CHECK_INTERNAL_H

#include <cstdio>
#include <string>
#include <vector>

#include "host/check/check.h"
#include "host/player/player.h"

namespace sim {

// The checks of each area, in the order they run (file_checks.cpp, lifecycle_checks.cpp,
// sweep.cpp, random_sessions.cpp).
std::vector<CheckDef> file_checks();
std::vector<CheckDef> lifecycle_checks();
CheckDef allocation_sweep_check();
CheckDef random_sessions_check_def();

// Worker job "sweep MODULE FROM TO [OPTIONS]" (sweep.cpp).
int sweep_worker(const std::vector<std::string> &args, std::FILE *out);

namespace check_support {

// The text on one line: newlines as " / ", carriage returns dropped, no trailing separator.
std::string one_line(const std::string &s);
std::string quote(const std::string &s);
// "module-load: cannot load x: why" -> fail("module-load", "cannot load x: why")
CheckResult fail_from_error(const std::string &error, bool blocks);
bool starts_with(const std::string &s, const char *prefix);

// Where a worker writes a "step" record before each step, so that a crash is pinned to the step
// that began it; null in the validator itself.
extern std::FILE *g_step_log;
void step(Player &p, const Statement &s);
// Plays script text (statements that need nothing defined outside the text) on the player.
void steps(Player &p, const std::string &text);
// The statement a crashed worker was playing: " at `STATEMENT`", or empty.
std::string crashed_step(const std::string &output);

enum FindingFilter : unsigned {
    k_violations = 1,   // Violation and Error findings
    k_expectations = 2, // failed expect statements (and activation answers)
    k_impossible = 4,   // steps a user could not take
    k_all = 7,
};

bool counts(const Finding &f, unsigned filter);
// The first finding since `from` that the filter counts, as a failure; false when there is none.
bool first_failure(const Player &p, size_t from, unsigned filter, CheckResult *r);
// The first finding since `from` that the filter counts, as a failure; a pass when there is none.
CheckResult verdict(const Player &p, size_t from, unsigned filter);

PlayerOptions player_options(const CheckContext &c);
// Loads the module into the player; false with the load failure (blocking) in *r.
bool load(const CheckContext &c, Player &p, CheckResult *r);
// A small scene: three selected items with the six default channels, at time 0.
extern const char k_scene[];
// Loads the module, sets up the small scene and plays `activation` in it.
bool load_and_activate(const CheckContext &c, Player &p, CheckResult *r, const char *activation = "activate");

extern const char k_no_active_tool[];
extern const char *const k_slot_names[13];

} // namespace check_support
} // namespace sim

#endif // HOST_CHECK_INTERNAL_H
