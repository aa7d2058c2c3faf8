// SPDX-License-Identifier: MIT
// The session player: loading a module, playing a step through the verb's handler (the handlers
// are in verbs_*.cpp, their table in handlers.cpp), finishing, and what the session shows.
#include "host/player/player.h"

#include <exception>

#include "host/player/state.h"
#include "host/sim/alloc_hooks.h"

namespace sim {

using namespace play;

// ---- Player -----------------------------------------------------------------------------------

Player::Player(PlayerOptions options) : s_(std::make_unique<State>(std::move(options))) {}

Player::~Player() {
    if (!s_->finished) finish();
    alloc_fail_none();
}

bool Player::load(const std::string &path) {
    State &s = *s_;
    if (s.module || s.finished) {
        s.error = "a module is already loaded in this session";
        return false;
    }
    s.module = std::make_unique<Module>(path);
    if (!s.module->ok()) {
        s.error = s.module->error();
        s.module.reset();
        return false;
    }
    std::string listed;
    for (const host_server_record *r : s.module->servers()) {
        const std::string cls = r->class_name ? r->class_name : "(null)", name = r->server_name ? r->server_name : "";
        listed += (listed.empty() ? "" : ", ") + quote(name) + " of class " + quote(cls);
        if (cls == HOST_CLASS_LAYOUT_TOOL && !name.empty() && s.server_name.empty() &&
            (s.options.server.empty() || s.options.server == name))
            s.server_name = name;
    }
    if (s.server_name.empty()) {
        s.error = std::string(violation_id::module_server_missing) + ": the module lists no " +
                  (s.options.server.empty() ? std::string(HOST_CLASS_LAYOUT_TOOL " server")
                                            : HOST_CLASS_LAYOUT_TOOL " server named " + quote(s.options.server)) +
                  (listed.empty() ? std::string(" (its server table is empty)") : " (it lists " + listed + ")");
        s.module.reset();
        return false;
    }
    s.module->startup();
    s.loaded = true;
    return true;
}

const std::string &Player::error() const { return s_->error; }
const std::string &Player::server_name() const { return s_->server_name; }

StepResult Player::step(const Statement &st) {
    State &s = *s_;
    StepResult r;
    s.current = &st;
    s.result = &r;
    const size_t writes_before = s.host.writes().size();
    const bool action = is_action(st.verb);
    if (action) s.action_findings = s.findings.size();
    try {
        const std::string why = check_statement(st);
        const State::Handler h = why.empty() ? State::handler(st.verb) : nullptr;
        if (!why.empty()) s.add(Finding::Kind::Error, violation_id::statement_invalid, why);
        else if (!h) s.add(Finding::Kind::Error, violation_id::player_error, "no handler for " + quote(st.verb));
        else if (s.finished) s.impossible("the session is finished");
        else {
            // The calls that follow in the trace are this statement's.
            if (s.host.tracing())
                s.host.trace().add('#', "line " + std::to_string(st.line) + ": " + clip_echo(s.statement_text()));
            s.track_before();
            (s.*h)(st);
            s.track_after(writes_before);
            if (action && !s.options.pictures_dir.empty()) s.picture_set();
        }
    } catch (const std::exception &e) {
        s.add(Finding::Kind::Error, violation_id::player_error, e.what());
    }
    s.flush_violations();
    r.keys_written = s.host.writes().size() - writes_before;
    if (action) {
        s.writes_begin = writes_before;
        s.writes_end = s.host.writes().size();
    }
    s.current = nullptr;
    s.result = nullptr;
    if (s.observer) s.observer(st, r);
    return r;
}

StepResult Player::finish() {
    State &s = *s_;
    StepResult r;
    if (s.finished) return r;
    s.result = &r;
    try {
        if (s.host.tracing()) s.host.trace().add('#', "end of the script: release of a still-active tool, shut-down");
        if (s.tool && s.tool->active()) {
            s.tool->release();
            s.check_leaks_after_release();
        }
        alloc_fail_none();
        if (s.module && s.loaded) s.module->shutdown();
        s.tool.reset();
        s.module.reset();
    } catch (const std::exception &e) {
        s.add(Finding::Kind::Error, violation_id::player_error, e.what());
    }
    s.flush_violations();
    s.result = nullptr;
    s.finished = true;
    s.pointer.clear();
    return r;
}

bool Player::finished() const { return s_->finished; }
void Player::set_observer(Observer observer) { s_->observer = std::move(observer); }

Host &Player::host() { return s_->host; }
Module *Player::module() { return s_->module.get(); }
Tool *Player::tool() { return s_->tool && s_->tool->active() ? s_->tool.get() : nullptr; }
bool Player::pressing() const { return s_->pointer.pressing(); }
int32_t Player::press_viewport() const { return s_->pointer.press().viewport; }
Panel *Player::panel() { return s_->panel(); }
Control *Player::control(ControlType type, const std::string &label, int64_t nth) {
    return s_->control(type, label, nth);
}
Control *Player::control_at(ControlType type, int64_t index) { return s_->control_at(type, index); }
Control *Player::drag_button_beside(const Control &field) { return field.panel ? s_->beside(field) : nullptr; }

const std::vector<DrawOp> *Player::last_drawing(int32_t viewport) const {
    auto it = s_->drawings.find(viewport);
    return it == s_->drawings.end() ? nullptr : &it->second;
}

KeyWrites Player::last_writes() const {
    KeyWrites w;
    const std::vector<KeyWrite> &all = s_->host.writes();
    if (s_->writes_end <= all.size() && s_->writes_begin < s_->writes_end) {
        w.first = all.data() + s_->writes_begin;
        w.count = s_->writes_end - s_->writes_begin;
    }
    return w;
}

const Answer &Player::last_answer() const { return s_->answer; }
const std::vector<ItemStart> &Player::items() const { return s_->items; }

ItemId Player::item_id(const std::string &name) const {
    auto it = s_->ids.find(name);
    return it == s_->ids.end() ? 0 : it->second;
}

const std::vector<Vec3> &Player::path(ItemId item) const {
    static const std::vector<Vec3> none;
    for (size_t i = 0; i < s_->items.size(); ++i)
        if (s_->items[i].id == item) return s_->tracks[i].path;
    return none;
}

std::string Player::panel_picture(const std::string &caption) { return s_->panel_picture(caption); }
std::string Player::viewport_picture(int32_t viewport, const std::string &caption) {
    return s_->viewport_picture(viewport, caption);
}

const std::vector<Finding> &Player::findings() const { return s_->findings; }

size_t Player::failures() const {
    size_t n = 0;
    for (const Finding &f : s_->findings) n += !f.expected && f.kind != Finding::Kind::Warning;
    return n;
}

size_t Player::warnings() const {
    size_t n = 0;
    for (const Finding &f : s_->findings) n += f.kind == Finding::Kind::Warning;
    return n;
}

const PlayerOptions &Player::options() const { return s_->options; }

} // namespace sim
