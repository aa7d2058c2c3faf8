// SPDX-License-Identifier: MIT
// The session player: the state of one session (module, tool, pointer, panel, results) and one
// handler per verb of the script language.
#include "host/player/player.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <unordered_map>

#include "host/sim/alloc_hooks.h"
#include "host/picture/picture.h"

namespace sim {

namespace {

constexpr double k_default_tolerance = 1e-9;
constexpr size_t k_no_panel = static_cast<size_t>(-1);

std::string trim(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string quote(const std::string &s) { return "\"" + s + "\""; }

std::string ordinal(int64_t n) {
    const int64_t t = n % 100;
    const char *suffix = (t >= 11 && t <= 13) ? "th"
                         : n % 10 == 1        ? "st"
                         : n % 10 == 2        ? "nd"
                         : n % 10 == 3        ? "rd"
                                              : "th";
    return std::to_string(n) + suffix;
}

const char *type_name(ControlType t) {
    switch (t) {
    case ControlType::Choice: return HOST_TYPE_CHOICE;
    case ControlType::Text: return HOST_TYPE_TEXT;
    case ControlType::Float: return HOST_TYPE_FLOAT;
    case ControlType::DragButton: return HOST_TYPE_DRAG_BUTTON;
    case ControlType::Button: return HOST_TYPE_BUTTON;
    case ControlType::Info: return HOST_TYPE_INFO;
    case ControlType::List: return HOST_TYPE_ITEM_LIST;
    default: return "control";
    }
}

bool near(double got, double want, double tol) {
    if (std::isnan(want)) return std::isnan(got);
    if (std::isinf(want)) return got == want;
    return std::fabs(got - want) <= tol;
}

double tolerance(const Statement &st) {
    const Option *t = st.option("tol");
    return t ? t->values[0].real : k_default_tolerance;
}

int64_t nth_of(const Statement &st) {
    const Option *n = st.option("nth");
    return n ? n->values[0].integer : 1;
}

bool state_on(const Statement &st, size_t arg) { return st.args.size() <= arg || st.args[arg].text != "off"; }

int32_t as_int32(int64_t v) { return static_cast<int32_t>(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }

std::string vec_text(const Vec3 &v) {
    return "(" + format_real(v[0]) + ", " + format_real(v[1]) + ", " + format_real(v[2]) + ")";
}

} // namespace

// ---- Findings ---------------------------------------------------------------------------------

std::string Finding::text() const {
    std::string where = line > 0 ? "line " + std::to_string(line) : std::string("end");
    if (!statement.empty()) where += ": " + clip_echo(statement);
    return where + ": " + (kind == Kind::Warning ? "warning " : "") + id + ": " + clip_echo(message, 2 * k_echo_limit);
}

bool StepResult::ok() const {
    for (const Finding &f : findings)
        if (f.kind != Finding::Kind::Warning) return false;
    return true;
}

bool StepResult::impossible() const {
    for (const Finding &f : findings)
        if (f.kind == Finding::Kind::Impossible) return true;
    return false;
}

// ---- Session state ----------------------------------------------------------------------------

struct Player::State {
    explicit State(PlayerOptions o) : options(std::move(o)) {
        host.trace().enable(options.trace);
        if (!options.write_targets.empty()) host.set_write_targets(options.write_targets);
    }

    PlayerOptions options;
    Host host;
    std::unique_ptr<Module> module;
    std::unique_ptr<Tool> tool; // the latest activation
    std::string server_name, error;
    bool loaded = false, finished = false;
    Observer observer;

    std::unordered_map<std::string, ItemId> ids;
    std::vector<ItemStart> items;
    // Per item (as items): where it stood before the module first keyed it, and after each step
    // that keyed it.
    struct Track {
        Vec3 before, before_rot;
        std::vector<Vec3> path;
    };
    std::vector<Track> tracks;

    // The pointer: where the last event was; a press (mouse-down or drag-start) and the last move.
    int32_t pointer_vp = 2;
    double pointer_x = 320.0, pointer_y = 240.0;
    bool pressing = false, moved = false;
    int32_t press_vp = 2, move_vp = 2, move_dx = 0, move_dy = 0;
    double press_x = 0.0, press_y = 0.0, move_x = 0.0, move_y = 0.0;

    size_t panel_index = k_no_panel;
    std::map<int32_t, std::vector<DrawOp>> drawings;
    size_t writes_begin = 0, writes_end = 0;
    size_t action_findings = 0; // where the last action's findings begin in `findings`
    Answer answer;
    Vec3 handle{};
    bool has_handle = false;

    std::vector<Finding> findings;
    size_t violations_seen = 0, warnings_seen = 0;

    // The step under way.
    const Statement *current = nullptr;
    StepResult *result = nullptr;

    // ---- Findings
    std::string statement_text() const {
        if (!current) return std::string();
        return current->source.empty() ? print_statement(*current) : current->source;
    }
    void add(Finding::Kind kind, const std::string &id, const std::string &message) {
        flush_violations();
        Finding f{kind, current ? current->line : 0, statement_text(), id, message, false};
        if (result) result->findings.push_back(f);
        findings.push_back(std::move(f));
    }
    void flush_violations() {
        const std::vector<Violation> &v = host.violations();
        while (violations_seen < v.size()) {
            const Violation &x = v[violations_seen++];
            Finding f{Finding::Kind::Violation, current ? current->line : 0, statement_text(), x.id, x.message, false};
            if (result) result->findings.push_back(f);
            findings.push_back(std::move(f));
        }
        const std::vector<Violation> &w = host.warnings();
        while (warnings_seen < w.size()) {
            const Violation &x = w[warnings_seen++];
            Finding f{Finding::Kind::Warning, current ? current->line : 0, statement_text(), x.id, x.message, false};
            if (result) result->findings.push_back(f);
            findings.push_back(std::move(f));
        }
    }
    void impossible(const std::string &why) { add(Finding::Kind::Impossible, "step-impossible", why); }
    void failed(const std::string &why) { add(Finding::Kind::Expectation, "expect-failed", why); }

    // ---- Look-ups
    Tool *active_tool() {
        if (tool && tool->active()) return tool.get();
        impossible(tool && tool->released() ? "no tool is active (it was released; activate again)"
                                            : "no tool is active (activate first)");
        return nullptr;
    }
    Panel *panel() { return panel_index == k_no_panel ? nullptr : host.panel(panel_index); }
    // The panel as a user finds it: there and open; null (with the reason) otherwise.
    Panel *usable_panel() {
        Panel *p = panel();
        if (!p) impossible("there is no panel (no activation made one)");
        else if (p->destroyed) impossible("the panel was destroyed");
        else if (!p->open) impossible(p->closed_by_user ? "the panel is closed" : "the panel is not open");
        else return p;
        return nullptr;
    }
    Control *control(ControlType type, const std::string &label, int64_t nth) {
        Panel *p = panel();
        if (!p) return nullptr;
        const std::string want = trim(label);
        for (auto &c : p->controls)
            if (c->type == type && trim(c->label) == want && --nth == 0) return c.get();
        return nullptr;
    }
    Control *control_at(ControlType type, int64_t index) {
        Panel *p = panel();
        if (!p || index < 1) return nullptr;
        for (auto &c : p->controls)
            if (c->type == type && --index == 0) return c.get();
        return nullptr;
    }
    Control *beside(const Control &f) {
        Control *best = nullptr;
        double best_gap = 0.0;
        for (auto &c : f.panel->controls) {
            const Control &b = *c;
            if (b.type != ControlType::DragButton || b.x <= f.x) continue;
            if (!(b.y < f.y + f.h && f.y < b.y + b.h)) continue;
            const double gap = std::fabs(static_cast<double>(b.x) - (static_cast<double>(f.x) + f.w));
            if (!best || gap < best_gap) {
                best = c.get();
                best_gap = gap;
            }
        }
        return best;
    }
    // What the panel holds of a type, for a message: FloatControl " H", " P" (2).
    std::string inventory(ControlType type) {
        std::string out;
        size_t n = 0;
        if (Panel *p = panel())
            for (auto &c : p->controls)
                if (c->type == type) out += (n++ ? ", " : "") + quote(c->label);
        return n ? std::string(" (the panel has ") + type_name(type) + " " + out + ")"
                 : std::string(" (the panel has no ") + type_name(type) + ")";
    }
    // The control a reference names; null with `why` set when there is none.
    Control *find(ControlType type, const Value &ref, const Statement &st, std::string *why) {
        Control *c = ref.integer > 0 ? control_at(type, ref.integer) : control(type, ref.text, nth_of(st));
        if (!c) {
            if (ref.integer > 0) *why = std::string("no ") + type_name(type) + " #" + std::to_string(ref.integer);
            else
                *why = std::string("no ") + type_name(type) + " labelled " + quote(trim(ref.text)) +
                       (nth_of(st) > 1 ? " (" + ordinal(nth_of(st)) + " of them)" : std::string());
            *why += inventory(type);
        }
        return c;
    }
    // The index a choice item names (its text, else its index from 0), or -1.
    static int64_t choice_index(const Control &c, const std::string &item) {
        for (size_t i = 0; i < c.items.size(); ++i)
            if (trim(c.items[i]) == trim(item)) return static_cast<int64_t>(i);
        char *end = nullptr;
        const long long v = std::strtoll(item.c_str(), &end, 10);
        if (!item.empty() && end && *end == '\0' && v >= 0 && static_cast<size_t>(v) < c.items.size()) return v;
        return -1;
    }
    static std::string choice_items(const Control &c) {
        std::string out;
        for (size_t i = 0; i < c.items.size(); ++i) out += (i ? ", " : "") + c.items[i];
        return out;
    }
    // The channel exists on the item (the script checker says so for parsed scripts).
    bool has_channel(ItemId id, const std::string &channel, int64_t nth) {
        for (const ItemStart &i : items)
            if (i.id == id) {
                int64_t n = 0;
                for (const std::string &c : i.channels) n += c == channel;
                return n >= nth;
            }
        return false;
    }
    ItemId item_of(const Value &v) {
        auto it = ids.find(v.text);
        return it == ids.end() ? 0 : it->second;
    }

    // ---- Tool events
    // The event for a pointer in viewport `vp` at window (x, y), with the statement's overrides.
    bool event(const Statement &st, int32_t vp, double x, double y, int32_t dx, int32_t dy, host_tool_event *e) {
        if (const Option *in = st.option("in")) {
            vp = as_int32(in->values[0].integer);
            x = in->values[1].real;
            y = in->values[2].real;
        }
        if (const Option *d = st.option("drag")) {
            dx = as_int32(d->values[0].integer);
            dy = as_int32(d->values[1].integer);
        }
        if (!host.has_viewport(vp)) {
            impossible("viewport " + std::to_string(vp) + " does not exist");
            return false;
        }
        *e = host.event_in(vp, x, y, dx, dy, 0);
        if (const Option *p = st.option("point"))
            for (size_t i = 0; i < 3; ++i) e->point[i] = p->values[i].real;
        if (const Option *a = st.option("axis"))
            for (size_t i = 0; i < 3; ++i) e->axis[i] = a->values[i].real;
        if (const Option *f = st.option("flags")) e->flags = as_int32(f->values[0].integer);
        if (st.has("alt")) e->flags |= HOST_TOOL_FLAG_ALT;
        if (const Option *v = st.option("vp")) e->viewport = as_int32(v->values[0].integer);
        pointer_vp = vp;
        pointer_x = x;
        pointer_y = y;
        return true;
    }
    bool pointer_event(const Statement &st, host_tool_event *e) {
        return event(st, pointer_vp, pointer_x, pointer_y, 0, 0, e);
    }
    void answer_int(int32_t v) {
        answer.kind = Answer::Kind::Int;
        answer.value = v;
        answer.text.clear();
    }

    // ---- Handlers, one per verb (the table is handler() below)
    using Handler = void (State::*)(const Statement &);
    static Handler handler(const std::string &verb);

    void do_item(const Statement &st) {
        const std::string &name = st.args[0].text;
        if (ids.count(name)) return impossible("item " + quote(name) + " is already defined");
        const Vec3 pos = {st.args[1].real, st.args[2].real, st.args[3].real};
        Vec3 rot{};
        if (const Option *r = st.option("rot")) rot = {r->values[0].real, r->values[1].real, r->values[2].real};
        std::vector<std::string> channels = Host::default_channels();
        if (const Option *c = st.option("channels")) {
            channels.clear();
            for (const Value &v : c->values) channels.push_back(v.text);
        }
        const ItemId id = host.add_item(name, pos, rot, channels);
        ids[name] = id;
        items.push_back({name, id, pos, rot, channels});
        tracks.push_back({pos, rot, {}});
    }
    void do_key(const Statement &st) {
        const ItemId id = item_of(st.args[0]);
        const std::string &ch = st.args[1].text;
        if (!id || !has_channel(id, ch, nth_of(st)))
            return impossible("item " + quote(st.args[0].text) + " has no such channel " + quote(ch));
        host.add_key(id, ch, st.args[2].real, st.args[3].real, static_cast<int>(nth_of(st) - 1));
    }
    void do_select(const Statement &st) {
        std::vector<ItemId> sel;
        for (const Value &v : st.args) {
            if (v.type == ValueType::Word) continue; // none
            const ItemId id = item_of(v);
            if (!id) return impossible("item " + quote(v.text) + " is not defined");
            sel.push_back(id);
        }
        host.select(sel);
    }
    void do_time(const Statement &st) { host.set_time(st.args[0].real); }
    void do_viewport(const Statement &st) {
        Viewport &vp = host.viewport(as_int32(st.args[0].integer));
        if (const Option *o = st.option("along")) vp.view_axis = o->values[0].text[0] - 'x';
        if (const Option *o = st.option("scale")) vp.scale = o->values[0].real;
        if (const Option *o = st.option("origin")) {
            vp.origin_x = o->values[0].real;
            vp.origin_y = o->values[1].real;
        }
        if (const Option *o = st.option("grid")) vp.grid = o->values[0].real;
        if (const Option *o = st.option("fail")) vp.fail = o->values[0].text == "on";
    }
    void do_missing(const Statement &st) { host.set_missing(st.args[0].text, state_on(st, 1)); }
    void do_forbid(const Statement &st) { host.forbid(st.args[0].text, state_on(st, 1)); }
    void do_fail_panel_create(const Statement &st) { host.fail_panel_create(state_on(st, 0)); }
    void do_refuse_alloc(const Statement &st) {
        if (!alloc_hooks_available())
            return add(Finding::Kind::Impossible, "alloc-hooks-unavailable",
                       std::string("allocation refusals need the allocation hooks: ") +
                           alloc_hooks_unavailable_reason());
        const Option *m = st.option("min");
        const uint64_t bytes = m ? static_cast<uint64_t>(m->values[0].integer) : 0;
        const size_t min = static_cast<size_t>(std::min<uint64_t>(bytes, std::numeric_limits<size_t>::max()));
        const std::string &mode = st.args[0].text;
        if (mode == "all") return alloc_fail_all(min);
        const unsigned n = static_cast<unsigned>(st.args[1].integer);
        if (mode == "next") return alloc_fail_next(n, min);
        const Option *c = st.option("count");
        alloc_fail_after(n - 1, c ? static_cast<unsigned>(c->values[0].integer) : 1u, min);
    }
    void do_allow_alloc(const Statement &) { alloc_fail_none(); }
    void do_limit_panel(const Statement &st) {
        host.limit_panel_size(as_int32(st.args[0].integer), as_int32(st.args[1].integer));
    }

    void do_activate(const Statement &st) {
        if (!module) return impossible("no module is loaded");
        if (tool && tool->active()) return impossible("a tool is already active (release it first)");
        tool.reset();
        pressing = moved = false;
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
    void do_release(const Statement &) {
        Tool *t = active_tool();
        if (!t) return;
        t->release();
        pressing = moved = false;
        check_leaks_after_release();
    }
    // ---- Leak check ----
    // The module owns what it allocates from activation to release: once the release callback has
    // run (or activation answered non-zero, so no release will come), it must hold no more blocks
    // than before activation.
    size_t live_before_activation = 0;
    void check_leaks(const std::string &when) {
        const size_t live = alloc_live_blocks();
        if (live > live_before_activation)
            host.violation(
                "memory-leak-at-release", "every block the module allocated since activation freed",
                std::to_string(live - live_before_activation) + " block(s) still held after " + when,
                "the release callback (or a failing activation) does not free the instance or its item table");
    }
    void check_leaks_after_release() { check_leaks("the release callback"); }

    // A press begins at the pointer: the moves that follow are relative to where it began.
    void press_at_pointer() {
        pressing = true;
        moved = false;
        press_vp = pointer_vp;
        press_x = pointer_x;
        press_y = pointer_y;
    }
    void do_mouse_down(const Statement &st) {
        Tool *t = active_tool();
        host_tool_event e;
        if (!t || !event(st, as_int32(st.args[0].integer), st.args[1].real, st.args[2].real, 0, 0, &e)) return;
        press_at_pointer();
        answer_int(t->mouse_down(e));
    }
    void do_drag_start(const Statement &st) {
        Tool *t = active_tool();
        host_tool_event e;
        if (!t || !(pressing ? event(st, press_vp, press_x, press_y, 0, 0, &e) : pointer_event(st, &e))) return;
        if (!pressing) press_at_pointer();
        answer_int(t->drag_start(e));
    }
    // A move or a release comes only while a button is held: the host sends neither otherwise.
    bool held() {
        if (!pressing) impossible("no button is held (mouse-down or drag-start first)");
        return pressing;
    }
    void do_mouse_move(const Statement &st) {
        Tool *t = active_tool();
        if (!t || !held()) return;
        const int32_t dx = as_int32(st.args[0].integer), dy = as_int32(st.args[1].integer);
        host_tool_event e;
        if (!event(st, press_vp, press_x + dx / 10.0, press_y + dy / 10.0, dx, dy, &e)) return;
        moved = true;
        move_vp = pointer_vp;
        move_x = pointer_x;
        move_y = pointer_y;
        move_dx = e.dx;
        move_dy = e.dy;
        t->mouse_move(e);
    }
    void do_mouse_up(const Statement &st) {
        Tool *t = active_tool();
        host_tool_event e;
        if (!t || !held()) return;
        const bool ok = moved ? event(st, move_vp, move_x, move_y, move_dx, move_dy, &e)
                              : event(st, press_vp, press_x, press_y, 0, 0, &e);
        if (!ok) return;
        pressing = moved = false;
        t->mouse_up(e);
    }
    void do_draw(const Statement &st) {
        Tool *t = active_tool();
        if (!t) return;
        const int32_t vp = as_int32(st.args[0].integer);
        drawings[vp] = t->draw(vp);
    }
    void do_tool_text(const Statement &st) {
        Tool *t = active_tool();
        host_tool_event e;
        if (!t || !pointer_event(st, &e)) return;
        const char *text = t->tool_text(e);
        answer.kind = text ? Answer::Kind::Text : Answer::Kind::Null;
        answer.text = text ? text : "";
    }
    void do_change_query(const Statement &) {
        if (Tool *t = active_tool()) answer_int(t->change_query());
    }
    void do_handle_count(const Statement &st) {
        Tool *t = active_tool();
        host_tool_event e;
        if (t && pointer_event(st, &e)) answer_int(t->handle_count(e));
    }
    void do_handle_position(const Statement &st) {
        Tool *t = active_tool();
        host_tool_event e;
        if (!t || !pointer_event(st, &e)) return;
        double pos[3] = {0.0, 0.0, 0.0};
        answer_int(t->handle_position(e, as_int32(st.args[0].integer), pos));
        handle = {pos[0], pos[1], pos[2]};
        has_handle = true;
    }
    void do_handle_adjust(const Statement &st) {
        Tool *t = active_tool();
        host_tool_event e;
        if (t && pointer_event(st, &e)) answer_int(t->handle_adjust(e, as_int32(st.args[0].integer)));
    }
    void do_notify(const Statement &st) {
        if (Tool *t = active_tool()) t->notify(as_int32(st.args[0].integer));
    }

    // ---- Panel actions
    Control *user_control(ControlType type, const Statement &st) {
        if (!usable_panel()) return nullptr;
        std::string why;
        Control *c = find(type, st.args[0], st, &why);
        if (!c) impossible(why);
        return c;
    }
    void do_type(const Statement &st) {
        if (Control *c = user_control(ControlType::Float, st)) {
            host.user_set_value(*c, st.args[1].real);
            host.fire(*c);
        }
    }
    void do_drag_button(const Statement &st) {
        if (!usable_panel()) return;
        const Value &ref = st.args[0];
        Control *b = ref.integer > 0 ? control_at(ControlType::DragButton, ref.integer) : nullptr;
        if (!b && ref.integer == 0 && !trim(ref.text).empty())
            b = control(ControlType::DragButton, ref.text, nth_of(st));
        if (!b) {
            std::string why;
            Control *field = ref.integer > 0 ? nullptr : find(ControlType::Float, ref, st, &why);
            if (ref.integer > 0) why = "no " HOST_TYPE_DRAG_BUTTON " #" + std::to_string(ref.integer);
            if (field && !(b = beside(*field)))
                why = "no " HOST_TYPE_DRAG_BUTTON " beside " + field->type_name + " " + quote(field->label);
            if (!b) return impossible(why);
        }
        for (size_t i = 1; i < st.args.size(); ++i) {
            if (!usable_panel()) return;
            host.user_set_value(*b, as_int32(st.args[i].integer));
            host.fire(*b);
        }
    }
    void do_choose(const Statement &st) {
        Control *c = user_control(ControlType::Choice, st);
        if (!c) return;
        const int64_t i = choice_index(*c, st.args[1].text);
        if (i < 0)
            return impossible(quote(trim(c->label)) + " has no item " + quote(st.args[1].text) +
                              " (items: " + choice_items(*c) + ")");
        host.user_set_value(*c, static_cast<int32_t>(i));
        host.fire(*c);
    }
    void do_pick(const Statement &st) {
        if (!usable_panel()) return;
        Control *list = control_at(ControlType::List, 1);
        if (!list) return impossible(std::string("the panel has no ") + HOST_TYPE_ITEM_LIST);
        const ItemId id = st.args[0].type == ValueType::Word ? 0 : item_of(st.args[0]);
        if (st.args[0].type != ValueType::Word && !id)
            return impossible("item " + quote(st.args[0].text) + " is not defined");
        host.user_pick_item(*list, id);
        host.fire(*list);
    }
    void do_press(const Statement &st) {
        if (Control *c = user_control(ControlType::Button, st)) host.fire(*c);
    }
    void do_close(const Statement &) {
        if (Panel *p = usable_panel()) host.user_close(*p);
    }
    void do_panel_key(const Statement &st) {
        if (Panel *p = usable_panel()) answer_int(host.press_key(*p, static_cast<uint16_t>(st.args[0].integer)));
    }
    // ---- Pictures
    // Before a step: an item the module has not keyed yet stands where the scene has it now.
    void track_before() {
        for (size_t i = 0; i < items.size(); ++i)
            if (tracks[i].path.empty()) {
                tracks[i].before = host.position_at(items[i].id, host.time());
                tracks[i].before_rot = host.rotation_at(items[i].id, host.time());
            }
    }
    // After a step: each item it keyed has a new point on its path.
    void track_after(size_t writes_before) {
        const std::vector<KeyWrite> &all = host.writes();
        for (size_t i = 0; i < items.size(); ++i) {
            bool keyed = false;
            for (size_t w = writes_before; w < all.size() && !keyed; ++w) keyed = all[w].item == items[i].id;
            if (keyed) tracks[i].path.push_back(host.position_at(items[i].id, host.time()));
        }
    }
    std::string caption() const {
        std::string c = server_name.empty() ? std::string("no module") : server_name;
        c += ", time " + format_real(host.time());
        if (current) c += ", line " + std::to_string(current->line) + ": " + statement_text();
        return c;
    }
    std::string panel_picture(const std::string &caption_text) {
        Panel *p = panel();
        return p ? panel_svg(*p, host, caption_text) : std::string();
    }
    // `drawing`: what to show of the tool's drawing; null, the last drawing of that viewport.
    std::string viewport_picture(int32_t vp, const std::string &caption_text,
                                 const std::vector<DrawOp> *drawing = nullptr) {
        if (!host.has_viewport(vp)) return std::string();
        ViewportPicture pic;
        pic.index = vp;
        pic.view = host.viewport(vp);
        for (size_t i = 0; i < items.size(); ++i) {
            const ItemId id = items[i].id;
            const std::vector<ItemId> &sel = host.selection();
            pic.items.push_back({items[i].name, std::find(sel.begin(), sel.end(), id) != sel.end(), tracks[i].before,
                                 host.position_at(id, host.time()), tracks[i].before_rot,
                                 host.rotation_at(id, host.time()), tracks[i].path});
        }
        auto d = drawings.find(vp);
        pic.drawing = drawing ? drawing : d == drawings.end() ? nullptr : &d->second;
        pic.caption = caption_text;
        return viewport_svg(pic);
    }
    // Writes a picture; false (with the finding) when the file cannot be written.
    bool write_picture(const std::string &path, const std::string &svg) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        if (out) out << svg;
        if (out) out.close();
        if (out) return true;
        add(Finding::Kind::Impossible, "picture-unwritable", "cannot write the picture file " + quote(path));
        return false;
    }
    void do_picture(const Statement &st) {
        const std::string &file = st.args[0].text;
        if (const Option *v = st.option("viewport")) {
            const int32_t vp = as_int32(v->values[0].integer);
            if (!host.has_viewport(vp)) return impossible("viewport " + std::to_string(vp) + " does not exist");
            write_picture(file, viewport_picture(vp, caption()));
            return;
        }
        Panel *p = panel();
        if (!p) return impossible("there is no panel (no activation made one)");
        host.check_layout(*p);
        write_picture(file, panel_picture(caption()));
    }
    // The picture set of a step: the panel (checked) and every viewport. An active tool draws into
    // each viewport first, as the host has it draw before it shows one; that drawing is the
    // picture's alone (expect ops and the like still see the script's draw statements).
    void picture_set() {
        std::error_code ec;
        std::filesystem::create_directories(options.pictures_dir, ec);
        char stem[32];
        std::snprintf(stem, sizeof stem, "line-%04d", current ? current->line : 0);
        const std::string base = options.pictures_dir + "/" + stem;
        if (Panel *p = panel()) {
            host.check_layout(*p);
            if (!write_picture(base + "-panel.svg", panel_picture(caption()))) return;
        }
        const bool drawing = tool && tool->active();
        if (drawing && host.tracing()) host.trace().add('#', "pictures: the draw callback for each viewport");
        for (int32_t vp = 0; host.has_viewport(vp); ++vp) {
            const std::vector<DrawOp> drawn = drawing ? tool->draw(vp) : std::vector<DrawOp>();
            if (!write_picture(base + "-viewport-" + std::to_string(vp) + ".svg",
                               viewport_picture(vp, caption(), drawing ? &drawn : nullptr)))
                return;
        }
    }

    void do_say(const Statement &st) {
        const std::string &text = st.args[0].text;
        if (options.narration) {
            std::fprintf(options.narration, "-- %s\n", text.c_str());
            std::fflush(options.narration);
        }
        if (host.tracing()) host.trace().add('~', "user: " + text);
    }

    // ---- Expectations
    void do_expect_key(const Statement &st) {
        const ItemId id = item_of(st.args[0]);
        const std::string &ch = st.args[1].text;
        const int64_t nth = nth_of(st);
        const Option *at = st.option("time");
        const double t = at ? at->values[0].real : host.time();
        std::string where = st.args[0].text + " " + ch + (nth > 1 ? " (" + ordinal(nth) + ")" : std::string()) +
                            " at time " + format_real(t);
        if (!id || !has_channel(id, ch, nth)) return failed("no channel " + where);
        const int occ = static_cast<int>(nth - 1);
        const std::optional<double> got = host.key_at(id, ch, t, occ);
        if (!got) return failed("no key on " + where);
        const double want = st.args[2].real;
        if (!near(*got, want, tolerance(st)))
            return failed("the key on " + where + " is " + format_real(*got) + ", expected " + format_real(want));
        if (!st.has("created") && !st.has("replaced")) return;
        // The module's last write of the key says whether it was created or replaced.
        const std::vector<KeyWrite> &all = host.writes();
        for (size_t i = all.size(); i-- > 0;) {
            const KeyWrite &w = all[i];
            if (w.item == id && w.channel == ch && w.occurrence == occ && w.time == t) {
                if (w.created != st.has("created"))
                    failed("the module's last write " + std::string(w.created ? "created" : "replaced") +
                           " the key on " + where);
                return;
            }
        }
        failed("the module wrote no key on " + where);
    }
    // The module wrote no key on the channel at the time in the session so far; keys the scene
    // put there do not count.
    void do_expect_no_key(const Statement &st) {
        const ItemId id = item_of(st.args[0]);
        const std::string &ch = st.args[1].text;
        const int64_t nth = nth_of(st);
        const Option *at = st.option("time");
        const double t = at ? at->values[0].real : host.time();
        const std::string where = st.args[0].text + " " + ch + (nth > 1 ? " (" + ordinal(nth) + ")" : std::string()) +
                                  " at time " + format_real(t);
        if (!id || !has_channel(id, ch, nth)) return failed("no channel " + where);
        const int occ = static_cast<int>(nth - 1);
        for (const KeyWrite &w : host.writes())
            if (w.item == id && w.channel == ch && w.occurrence == occ && w.time == t)
                return failed("the module " + std::string(w.created ? "created" : "replaced") + " a key on " + where +
                              " (" + format_real(w.value) + ")");
    }
    void expect_count(size_t want) {
        const size_t got = writes_end - writes_begin;
        if (got == want) return;
        std::string list;
        for (size_t i = writes_begin; i < writes_end && i < writes_begin + 6; ++i) {
            const KeyWrite &w = host.writes()[i];
            list += std::string(list.empty() ? ": " : ", ") + host.item_name(w.item) + " " + w.channel + " " +
                    (w.created ? "+" : "=") + format_real(w.value);
        }
        failed("the last action wrote " + std::to_string(got) + " key(s), expected " + std::to_string(want) + list +
               (got > 6 ? ", ..." : ""));
    }
    void do_expect_keys(const Statement &st) { expect_count(static_cast<size_t>(st.args[0].integer)); }
    void do_expect_no_keys(const Statement &) { expect_count(0); }
    Control *expected_control(ControlType type, const Statement &st) {
        if (!panel()) {
            failed("there is no panel (no activation made one)");
            return nullptr;
        }
        std::string why;
        Control *c = find(type, st.args[0], st, &why);
        if (!c) failed(why);
        return c;
    }
    void do_expect_field(const Statement &st) {
        Control *c = expected_control(ControlType::Float, st);
        if (c && !near(c->float_value, st.args[1].real, tolerance(st)))
            failed(quote(trim(c->label)) + " shows " + format_real(c->float_value) + ", expected " +
                   format_real(st.args[1].real));
    }
    void do_expect_info(const Statement &st) {
        Control *c = expected_control(ControlType::Info, st);
        if (c && c->text_value != st.args[1].text)
            failed(quote(trim(c->label)) + " shows " + quote(c->text_value) + ", expected " + quote(st.args[1].text));
    }
    void do_expect_choice(const Statement &st) {
        Control *c = expected_control(ControlType::Choice, st);
        if (!c) return;
        const int64_t want = choice_index(*c, st.args[1].text);
        if (want < 0)
            return failed(quote(trim(c->label)) + " has no item " + quote(st.args[1].text) +
                          " (items: " + choice_items(*c) + ")");
        if (c->int_value != want) {
            const bool named = c->int_value >= 0 && static_cast<size_t>(c->int_value) < c->items.size();
            failed(quote(trim(c->label)) + " shows " +
                   (named ? quote(c->items[static_cast<size_t>(c->int_value)]) : std::string("index")) + " (" +
                   std::to_string(c->int_value) + "), expected " + quote(st.args[1].text));
        }
    }
    const std::vector<DrawOp> *drawing(const Statement &st) {
        auto it = drawings.find(as_int32(st.args[0].integer));
        if (it == drawings.end()) failed("no drawing of viewport " + std::to_string(st.args[0].integer) + " yet");
        return it == drawings.end() ? nullptr : &it->second;
    }
    // The k-th (from 1) operation of that kind, or null with the reason recorded.
    const DrawOp *draw_op(const Statement &st, DrawOp::Kind kind) {
        const std::vector<DrawOp> *ops = drawing(st);
        if (!ops) return nullptr;
        int64_t k = st.args[1].integer, count = 0;
        for (const DrawOp &op : *ops)
            if (op.kind == kind && (++count == k)) return &op;
        failed("the last drawing of viewport " + std::to_string(st.args[0].integer) + " has " + std::to_string(count) +
               (kind == DrawOp::Line ? " line(s)" : " colour(s)") + ", not " + std::to_string(k));
        return nullptr;
    }
    void do_expect_ops(const Statement &st) {
        const std::vector<DrawOp> *ops = drawing(st);
        if (ops && static_cast<int64_t>(ops->size()) != st.args[1].integer)
            failed("the last drawing of viewport " + std::to_string(st.args[0].integer) + " has " +
                   std::to_string(ops->size()) + " operation(s), expected " + std::to_string(st.args[1].integer));
    }
    void do_expect_line(const Statement &st) {
        const DrawOp *op = draw_op(st, DrawOp::Line);
        if (!op) return;
        const double tol = tolerance(st);
        bool ok = true;
        Vec3 from, to;
        for (size_t i = 0; i < 3; ++i) {
            from[i] = st.args[2 + i].real;
            to[i] = st.args[5 + i].real;
            ok = ok && near(op->from[i], from[i], tol) && near(op->to[i], to[i], tol);
        }
        if (!ok)
            failed("line " + std::to_string(st.args[1].integer) + " runs " + vec_text(op->from) + " to " +
                   vec_text(op->to) + ", expected " + vec_text(from) + " to " + vec_text(to));
    }
    void do_expect_colour(const Statement &st) {
        const DrawOp *op = draw_op(st, DrawOp::Colour);
        if (!op) return;
        bool ok = true;
        std::string got, want;
        for (size_t i = 0; i < 4; ++i) {
            ok = ok && near(op->rgba[i], st.args[2 + i].real, tolerance(st));
            got += (i ? ", " : "") + format_real(op->rgba[i]);
            want += (i ? ", " : "") + format_real(st.args[2 + i].real);
        }
        if (!ok) failed("colour " + std::to_string(st.args[1].integer) + " is (" + got + "), expected (" + want + ")");
    }
    void do_expect_answer(const Statement &st) {
        const Value &v = st.args[0];
        const bool want_null = v.type == ValueType::Word;
        switch (answer.kind) {
        case Answer::Kind::None: return failed("no callback has answered yet");
        case Answer::Kind::Null:
            if (!want_null) failed("the answer was null, expected " + quote(v.text));
            return;
        case Answer::Kind::Text:
            if (want_null || answer.text != v.text)
                failed("the answer was " + quote(answer.text) + ", expected " + (want_null ? "null" : quote(v.text)));
            return;
        case Answer::Kind::Int: {
            char *end = nullptr;
            const long long want = std::strtoll(v.text.c_str(), &end, 10);
            if (want_null || v.text.empty() || *end != '\0' || want != answer.value)
                failed("the answer was " + std::to_string(answer.value) + ", expected " +
                       (want_null ? "null" : v.text));
            return;
        }
        }
    }
    void do_expect_handle(const Statement &st) {
        if (!has_handle) return failed("no handle-position has answered yet");
        const Vec3 want = {st.args[0].real, st.args[1].real, st.args[2].real};
        for (size_t i = 0; i < 3; ++i)
            if (!near(handle[i], want[i], tolerance(st)))
                return failed("the handle position is " + vec_text(handle) + ", expected " + vec_text(want));
    }
    void do_expect_violation(const Statement &st) {
        const std::string &id = st.args[0].text;
        bool found = false;
        std::string seen;
        for (size_t i = action_findings; i < findings.size(); ++i) {
            Finding &f = findings[i];
            if (f.kind != Finding::Kind::Violation) continue;
            if (f.id == id) {
                f.expected = true;
                found = true;
            } else if (seen.find(f.id) == std::string::npos) {
                seen += (seen.empty() ? "" : ", ") + f.id;
            }
        }
        if (!found)
            failed("the last action recorded no violation " + id +
                   (seen.empty() ? std::string(" (it recorded none)") : " (it recorded " + seen + ")"));
    }
};

// ---- Dispatch ---------------------------------------------------------------------------------

Player::State::Handler Player::State::handler(const std::string &verb) {
    struct Row {
        const char *verb;
        Handler run;
    };
    static const Row rows[] = {
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
    static const std::unordered_map<std::string, Handler> table = [] {
        std::unordered_map<std::string, Handler> t;
        for (const Row &r : rows) t[r.verb] = r.run;
        return t;
    }();
    auto it = table.find(verb);
    return it == table.end() ? nullptr : it->second;
}

namespace {
bool is_action(const std::string &verb) { return verb != "say" && verb.compare(0, 7, "expect ") != 0; }
} // namespace

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
        s.error = std::string("module-server-missing: the module lists no ") +
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
        if (!why.empty()) s.add(Finding::Kind::Error, "statement-invalid", why);
        else if (!h) s.add(Finding::Kind::Error, "player-error", "no handler for " + quote(st.verb));
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
        s.add(Finding::Kind::Error, "player-error", e.what());
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
        s.add(Finding::Kind::Error, "player-error", e.what());
    }
    s.flush_violations();
    s.result = nullptr;
    s.finished = true;
    s.pressing = s.moved = false;
    return r;
}

bool Player::finished() const { return s_->finished; }
void Player::set_observer(Observer observer) { s_->observer = std::move(observer); }

Host &Player::host() { return s_->host; }
Module *Player::module() { return s_->module.get(); }
Tool *Player::tool() { return s_->tool && s_->tool->active() ? s_->tool.get() : nullptr; }
bool Player::pressing() const { return s_->pressing; }
int32_t Player::press_viewport() const { return s_->press_vp; }
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
