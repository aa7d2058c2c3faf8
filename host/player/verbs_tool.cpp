// SPDX-License-Identifier: MIT
// Handlers of the tool verbs: activation and release (with the leak check), the pointer's
// press-move-release, drawing, and the callbacks a tool answers.
#include "host/player/state.h"

#include "host/sim/alloc_hooks.h"

namespace sim {

using namespace play;

// ---- Events and answers -----------------------------------------------------------------------

// The event for a pointer at `at`, moved by (dx, dy), with the statement's overrides; the pointer
// is then where the event was sent. False (impossible) when the viewport does not exist.
bool Player::State::event(const Statement &st, PointerAt at, int32_t dx, int32_t dy, host_tool_event *e) {
    if (const Option *in = st.option("in"))
        at = {as_int32(in->values[0].integer), in->values[1].real, in->values[2].real};
    if (const Option *d = st.option("drag")) {
        dx = as_int32(d->values[0].integer);
        dy = as_int32(d->values[1].integer);
    }
    if (!host.has_viewport(at.viewport)) {
        impossible("viewport " + std::to_string(at.viewport) + " does not exist");
        return false;
    }
    *e = host.event_in(at.viewport, at.x, at.y, dx, dy, 0);
    if (const Option *p = st.option("point"))
        for (size_t i = 0; i < 3; ++i) e->point[i] = p->values[i].real;
    if (const Option *a = st.option("axis"))
        for (size_t i = 0; i < 3; ++i) e->axis[i] = a->values[i].real;
    if (const Option *f = st.option("flags")) e->flags = as_int32(f->values[0].integer);
    if (st.has("alt")) e->flags |= HOST_TOOL_FLAG_ALT;
    if (const Option *v = st.option("vp")) e->viewport = as_int32(v->values[0].integer);
    pointer.set_at(at);
    return true;
}

void Player::State::answer_int(int32_t v) {
    answer.kind = Answer::Kind::Int;
    answer.value = v;
    answer.text.clear();
}

// ---- Activation, release and the leak check ---------------------------------------------------

void Player::State::do_activate(const Statement &st) {
    if (!module) return impossible("no module is loaded");
    if (tool && tool->active()) return impossible("a tool is already active (release it first)");
    tool.reset();
    pointer.clear();
    tool = std::make_unique<Tool>(host, *module, server_name.c_str());
    const size_t panels_before = host.panel_count();
    live_before_activation = alloc_live_blocks();
    const int32_t r = tool->activate();
    panel_index = host.panel_count() > panels_before ? host.panel_count() - 1 : k_no_panel;
    answer_int(r);
    if (r != 0) check_leaks("activation answered " + std::to_string(r) + " and the host has no release to call");
    const Option *e = st.option("expect");
    const int64_t want = e ? e->values[0].integer : 0;
    if (r != want) failed("activation answered " + std::to_string(r) + ", expected " + std::to_string(want));
}

void Player::State::do_release(const Statement &) {
    Tool *t = active_tool();
    if (!t) return;
    t->release();
    pointer.clear();
    check_leaks_after_release();
}

// The module owns what it allocates from activation to release: once the release callback has
// run (or activation answered non-zero, so no release will come), it must hold no more blocks
// than before activation.
void Player::State::check_leaks(const std::string &when) {
    const size_t live = alloc_live_blocks();
    if (live > live_before_activation)
        host.violation(violation_id::memory_leak_at_release, "every block the module allocated since activation freed",
                       std::to_string(live - live_before_activation) + " block(s) still held after " + when,
                       "the release callback (or a failing activation) does not free the instance or its item table");
}

// ---- Press, move, release ---------------------------------------------------------------------

void Player::State::do_mouse_down(const Statement &st) {
    Tool *t = active_tool();
    host_tool_event e;
    const PointerAt at{as_int32(st.args[0].integer), st.args[1].real, st.args[2].real};
    if (!t || !event(st, at, 0, 0, &e)) return;
    pointer.begin_press();
    answer_int(t->mouse_down(e));
}

void Player::State::do_drag_start(const Statement &st) {
    Tool *t = active_tool();
    host_tool_event e;
    const bool pressing = pointer.pressing();
    if (!t || !(pressing ? event(st, pointer.press(), 0, 0, &e) : pointer_event(st, &e))) return;
    if (!pressing) pointer.begin_press();
    answer_int(t->drag_start(e));
}

// A move or a release comes only while a button is held: the host sends neither otherwise.
bool Player::State::held() {
    if (!pointer.pressing()) impossible("no button is held (mouse-down or drag-start first)");
    return pointer.pressing();
}

void Player::State::do_mouse_move(const Statement &st) {
    Tool *t = active_tool();
    if (!t || !held()) return;
    const int32_t dx = as_int32(st.args[0].integer), dy = as_int32(st.args[1].integer);
    const PointerAt press = pointer.press();
    host_tool_event e;
    if (!event(st, {press.viewport, press.x + dx / 10.0, press.y + dy / 10.0}, dx, dy, &e)) return;
    pointer.record_move(e.dx, e.dy);
    t->mouse_move(e);
}

void Player::State::do_mouse_up(const Statement &st) {
    Tool *t = active_tool();
    host_tool_event e;
    if (!t || !held()) return;
    int32_t dx = 0, dy = 0;
    const PointerAt at = pointer.release_at(&dx, &dy);
    if (!event(st, at, dx, dy, &e)) return;
    pointer.clear();
    t->mouse_up(e);
}

// ---- Drawing and the callbacks a tool answers -------------------------------------------------

void Player::State::do_draw(const Statement &st) {
    Tool *t = active_tool();
    if (!t) return;
    const int32_t vp = as_int32(st.args[0].integer);
    drawings[vp] = t->draw(vp);
}

void Player::State::do_tool_text(const Statement &st) {
    Tool *t = active_tool();
    host_tool_event e;
    if (!t || !pointer_event(st, &e)) return;
    const char *text = t->tool_text(e);
    answer.kind = text ? Answer::Kind::Text : Answer::Kind::Null;
    answer.text = text ? text : "";
}

void Player::State::do_change_query(const Statement &) {
    if (Tool *t = active_tool()) answer_int(t->change_query());
}

void Player::State::do_handle_count(const Statement &st) {
    Tool *t = active_tool();
    host_tool_event e;
    if (t && pointer_event(st, &e)) answer_int(t->handle_count(e));
}

void Player::State::do_handle_position(const Statement &st) {
    Tool *t = active_tool();
    host_tool_event e;
    if (!t || !pointer_event(st, &e)) return;
    double pos[3] = {0.0, 0.0, 0.0};
    answer_int(t->handle_position(e, as_int32(st.args[0].integer), pos));
    handle = {pos[0], pos[1], pos[2]};
    has_handle = true;
}

void Player::State::do_handle_adjust(const Statement &st) {
    Tool *t = active_tool();
    host_tool_event e;
    if (t && pointer_event(st, &e)) answer_int(t->handle_adjust(e, as_int32(st.args[0].integer)));
}

void Player::State::do_notify(const Statement &st) {
    if (Tool *t = active_tool()) t->notify(as_int32(st.args[0].integer));
}

} // namespace sim
