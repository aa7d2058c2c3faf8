// SPDX-License-Identifier: MIT
// The handler table: each verb of the script language (the schema, verbs() in host/script) and the
// handler that plays it. tests/session_test.cpp checks that the two list the same verbs, once each.
#include "host/player/state.h"

#include <unordered_map>
#include <vector>

namespace sim {

// In the schema's order: scene, viewports, host set-up, tool events, panel, pictures, expectations.
const std::vector<Player::State::Row> &Player::State::rows() {
    static const std::vector<Row> table = {
        {"item", &State::do_item},
        {"key", &State::do_key},
        {"select", &State::do_select},
        {"time", &State::do_time},
        {"viewport", &State::do_viewport},
        {"missing", &State::do_missing},
        {"forbid", &State::do_forbid},
        {"fail-panel-create", &State::do_fail_panel_create},
        {"refuse-alloc", &State::do_refuse_alloc},
        {"allow-alloc", &State::do_allow_alloc},
        {"limit-panel", &State::do_limit_panel},
        {"activate", &State::do_activate},
        {"release", &State::do_release},
        {"mouse-down", &State::do_mouse_down},
        {"drag-start", &State::do_drag_start},
        {"mouse-move", &State::do_mouse_move},
        {"mouse-up", &State::do_mouse_up},
        {"draw", &State::do_draw},
        {"tool-text", &State::do_tool_text},
        {"change-query", &State::do_change_query},
        {"handle-count", &State::do_handle_count},
        {"handle-position", &State::do_handle_position},
        {"handle-adjust", &State::do_handle_adjust},
        {"notify", &State::do_notify},
        {"type", &State::do_type},
        {"drag-button", &State::do_drag_button},
        {"choose", &State::do_choose},
        {"pick", &State::do_pick},
        {"press", &State::do_press},
        {"close", &State::do_close},
        {"panel-key", &State::do_panel_key},
        {"picture", &State::do_picture},
        {"say", &State::do_say},
        {"expect key", &State::do_expect_key},
        {"expect no-key", &State::do_expect_no_key},
        {"expect keys", &State::do_expect_keys},
        {"expect no-keys", &State::do_expect_no_keys},
        {"expect field", &State::do_expect_field},
        {"expect info", &State::do_expect_info},
        {"expect choice", &State::do_expect_choice},
        {"expect ops", &State::do_expect_ops},
        {"expect line", &State::do_expect_line},
        {"expect colour", &State::do_expect_colour},
        {"expect answer", &State::do_expect_answer},
        {"expect handle", &State::do_expect_handle},
        {"expect violation", &State::do_expect_violation},
    };
    return table;
}

Player::State::Handler Player::State::handler(const std::string &verb) {
    static const std::unordered_map<std::string, Handler> table = [] {
        std::unordered_map<std::string, Handler> t;
        for (const Row &r : rows()) t[r.verb] = r.run;
        return t;
    }();
    auto it = table.find(verb);
    return it == table.end() ? nullptr : it->second;
}

std::vector<std::string> Player::handled_verbs() {
    std::vector<std::string> out;
    for (const State::Row &r : State::rows()) out.push_back(r.verb);
    return out;
}

} // namespace sim
