// SPDX-License-Identifier: MIT
// Handlers of the scene verbs (items, keys, selection, time, viewports) and of the host set-up
// verbs (missing services, forbidden calls, refused panels and allocations, panel limits, say).
#include "host/player/state.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "host/sim/alloc_hooks.h"

namespace sim {

using namespace play;

void Player::State::do_item(const Statement &st) {
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

void Player::State::do_key(const Statement &st) {
    const ItemId id = item_of(st.args[0]);
    const std::string &ch = st.args[1].text;
    if (!id || !has_channel(id, ch, nth_of(st)))
        return impossible("item " + quote(st.args[0].text) + " has no such channel " + quote(ch));
    host.add_key(id, ch, st.args[2].real, st.args[3].real, static_cast<int>(nth_of(st) - 1));
}

void Player::State::do_select(const Statement &st) {
    std::vector<ItemId> sel;
    for (const Value &v : st.args) {
        if (v.type == ValueType::Word) continue; // none
        const ItemId id = item_of(v);
        if (!id) return impossible("item " + quote(v.text) + " is not defined");
        sel.push_back(id);
    }
    host.select(sel);
}

void Player::State::do_time(const Statement &st) { host.set_time(st.args[0].real); }
void Player::State::do_viewport(const Statement &st) {
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

void Player::State::do_missing(const Statement &st) { host.set_missing(st.args[0].text, state_on(st, 1)); }
void Player::State::do_forbid(const Statement &st) { host.forbid(st.args[0].text, state_on(st, 1)); }
void Player::State::do_fail_panel_create(const Statement &st) { host.fail_panel_create(state_on(st, 0)); }
void Player::State::do_refuse_alloc(const Statement &st) {
    if (!alloc_hooks_available())
        return add(Finding::Kind::Impossible, violation_id::alloc_hooks_unavailable,
                   std::string("allocation refusals need the allocation hooks: ") + alloc_hooks_unavailable_reason());
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

void Player::State::do_allow_alloc(const Statement &) { alloc_fail_none(); }
void Player::State::do_limit_panel(const Statement &st) {
    host.limit_panel_size(as_int32(st.args[0].integer), as_int32(st.args[1].integer));
}

void Player::State::do_say(const Statement &st) {
    const std::string &text = st.args[0].text;
    if (options.narration) {
        std::fprintf(options.narration, "-- %s\n", text.c_str());
        std::fflush(options.narration);
    }
    if (host.tracing()) host.trace().add('~', "user: " + text);
}

} // namespace sim
