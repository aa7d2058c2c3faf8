// SPDX-License-Identifier: MIT
// What a verb looks up: the active tool, the panel as a user finds it, its controls by label or
// index, the drag button beside a field, the items and their channels.
#include "host/player/state.h"

#include <cmath>
#include <cstdlib>

namespace sim {

using namespace play;

Tool *Player::State::active_tool() {
    if (tool && tool->active()) return tool.get();
    impossible(tool && tool->released() ? "no tool is active (it was released; activate again)"
                                        : "no tool is active (activate first)");
    return nullptr;
}

// The panel as a user finds it: there and open; null (with the reason) otherwise.
Panel *Player::State::usable_panel() {
    Panel *p = panel();
    if (!p) impossible("there is no panel (no activation made one)");
    else if (p->destroyed) impossible("the panel was destroyed");
    else if (!p->open) impossible(p->closed_by_user ? "the panel is closed" : "the panel is not open");
    else return p;
    return nullptr;
}

Control *Player::State::control(ControlType type, const std::string &label, int64_t nth) {
    Panel *p = panel();
    if (!p) return nullptr;
    const std::string want = trim(label);
    for (auto &c : p->controls)
        if (c->type == type && trim(c->label) == want && --nth == 0) return c.get();
    return nullptr;
}

Control *Player::State::control_at(ControlType type, int64_t index) {
    Panel *p = panel();
    if (!p || index < 1) return nullptr;
    for (auto &c : p->controls)
        if (c->type == type && --index == 0) return c.get();
    return nullptr;
}

Control *Player::State::beside(const Control &f) {
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
std::string Player::State::inventory(ControlType type) {
    std::string out;
    size_t n = 0;
    if (Panel *p = panel())
        for (auto &c : p->controls)
            if (c->type == type) out += (n++ ? ", " : "") + quote(c->label);
    return n ? std::string(" (the panel has ") + type_name(type) + " " + out + ")"
             : std::string(" (the panel has no ") + type_name(type) + ")";
}

// The control a reference names; null with `why` set when there is none.
Control *Player::State::find(ControlType type, const Value &ref, const Statement &st, std::string *why) {
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
int64_t Player::State::choice_index(const Control &c, const std::string &item) {
    for (size_t i = 0; i < c.items.size(); ++i)
        if (trim(c.items[i]) == trim(item)) return static_cast<int64_t>(i);
    char *end = nullptr;
    const long long v = std::strtoll(item.c_str(), &end, 10);
    if (!item.empty() && end && *end == '\0' && v >= 0 && static_cast<size_t>(v) < c.items.size()) return v;
    return -1;
}

std::string Player::State::choice_items(const Control &c) {
    std::string out;
    for (size_t i = 0; i < c.items.size(); ++i) out += (i ? ", " : "") + c.items[i];
    return out;
}

// The channel exists on the item (the script checker says so for parsed scripts).
bool Player::State::has_channel(ItemId id, const std::string &channel, int64_t nth) {
    for (const ItemStart &i : items)
        if (i.id == id) {
            int64_t n = 0;
            for (const std::string &c : i.channels) n += c == channel;
            return n >= nth;
        }
    return false;
}

ItemId Player::State::item_of(const Value &v) {
    auto it = ids.find(v.text);
    return it == ids.end() ? 0 : it->second;
}

} // namespace sim
