// SPDX-License-Identifier: MIT
// The checks of the tool's life: service binding, activation, the simple callbacks, release,
// and activation without a panel or memory, each with its declaration beside its body.
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

CheckResult check_service_binding(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load_and_activate(c, p, &r)) return r;
    for (const Finding &f : p.findings())
        if (starts_with(f.id, "lookup-")) return CheckResult::fail(f.id, "during activation: " + one_line(f.message));
    for (const Lookup &l : p.host().lookups())
        if (l.mode != 0)
            return CheckResult::fail(violation_id::lookup_mode_nonzero,
                                     quote(l.name) + " looked up with mode " + std::to_string(l.mode) + ", expected 0");
    return CheckResult::pass();
}

constexpr CheckDef k_service_binding = CheckDef::in_worker(
    check_id::activation_service_binding, "Activation looks up every service by a name the host offers, with mode 0.",
    check_service_binding);

CheckResult check_callback_slots(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load_and_activate(c, p, &r)) return r;
    if (first_failure(p, 0, k_all, &r)) return r;
    Tool *t = p.tool();
    if (!t) return CheckResult::fail(violation_id::activation_answer, "activation did not make an active tool");
    if (!t->instance())
        return CheckResult::fail(violation_id::activation_instance_null, "activation left the instance slot null");
    std::string unfilled;
    for (int s = 0; s < 12; ++s)
        if (!t->slot_filled(s))
            unfilled += (unfilled.empty() ? "" : ", ") + std::to_string(s) + " (" + k_slot_names[s] + ")";
    if (!unfilled.empty())
        return CheckResult::fail(violation_id::tool_callback_unfilled,
                                 "activation left slot(s) " + unfilled +
                                     " as the host gave them; it must fill slots 0 to 11");
    if (t->slot(12) != Tool::sentinel(12))
        return CheckResult::fail(violation_id::tool_callback_reserved_written,
                                 "activation changed slot 12, which must stay as the host gave it");
    steps(p, "release");
    return verdict(p, 0, k_all);
}

constexpr CheckDef k_callback_slots = CheckDef::in_worker(
    check_id::activation_callback_slots,
    "Activation answers 0, stores an instance, fills callback slots 0-11 and leaves slot 12 untouched.",
    check_callback_slots);

CheckResult check_simple_callbacks(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load_and_activate(c, p, &r)) return r;
    if (!p.tool()) return CheckResult::skip(k_no_active_tool);
    const size_t from = p.findings().size();
    for (int vp = 0; vp < 4; ++vp) {
        const std::string at = " in " + std::to_string(vp) + " 320 240\n";
        steps(p, "tool-text" + at + "handle-count" + at);
        const Answer count = p.last_answer();
        const int32_t n = count.kind == Answer::Kind::Int ? count.value : 0;
        for (int32_t i = 0; i < n && i < 16; ++i) steps(p, "handle-position " + std::to_string(i) + at);
        if (n > 0) steps(p, "handle-adjust 0" + at);
    }
    steps(p, "change-query\nnotify 0\nnotify 1\nchange-query\nrelease\n");
    return verdict(p, from, k_all);
}

constexpr CheckDef k_simple_callbacks = CheckDef::in_worker(
    check_id::callbacks_simple,
    "Tool text, change query, handle count, position and adjust on sane input, and notify answer without a "
    "violation.",
    check_simple_callbacks);

CheckResult check_release_panel(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load_and_activate(c, p, &r)) return r;
    if (!p.tool()) return CheckResult::skip(k_no_active_tool);
    Panel *panel = p.panel();
    if (!panel) return CheckResult::skip("activation made no panel");
    if (!panel->open) return CheckResult::fail(violation_id::panel_not_open, "activation left its panel closed");
    steps(p, "release");
    if (first_failure(p, 0, k_violations, &r)) return r;
    if (panel->open)
        return CheckResult::fail(violation_id::release_panel_left_open, "the panel is still open after release");
    if (!panel->destroyed)
        return CheckResult::fail(violation_id::release_panel_not_destroyed,
                                 "the panel was closed but not destroyed at release");
    return CheckResult::pass();
}

constexpr CheckDef k_release_panel = CheckDef::in_worker(
    check_id::release_closes_panel,
    "Release closes the panel activation opened and destroys it, and frees every block.", check_release_panel);

CheckResult check_no_panel(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load_and_activate(c, p, &r, "fail-panel-create on\nactivate expect 2\n")) return r;
    return verdict(p, 0, k_violations | k_expectations);
}

constexpr CheckDef k_no_panel = CheckDef::in_worker(
    check_id::activation_no_panel, "Activation answers 2 when no panel can be created, and keeps no block allocated.",
    check_no_panel);

CheckResult check_no_memory(const CheckContext &c) {
    Player p(player_options(c));
    CheckResult r;
    if (!load(c, p, &r)) return r;
    if (!alloc_hooks_available())
        return CheckResult::skip(std::string("the allocation hooks are unavailable: ") +
                                 alloc_hooks_unavailable_reason());
    steps(p, k_scene);
    alloc_reset_counts();
    steps(p, "refuse-alloc next 1\nactivate expect 1\n");
    const AllocCounts counts = alloc_counts();
    alloc_fail_none();
    if (counts.failed_calls == 0) {
        if (p.tool()) return CheckResult::skip("activation allocates nothing, so no allocation could be refused");
        return CheckResult::fail(violation_id::activation_answer, "activation allocated nothing and still failed");
    }
    return verdict(p, 0, k_violations | k_expectations);
}

constexpr CheckDef k_no_memory = CheckDef::in_worker(
    check_id::activation_no_memory,
    "Activation answers 1 when its first allocation (the instance) is refused, and keeps no block allocated.",
    check_no_memory);

} // namespace

std::vector<CheckDef> lifecycle_checks() {
    return {k_service_binding, k_callback_slots, k_simple_callbacks, k_release_panel, k_no_panel, k_no_memory};
}

} // namespace sim
