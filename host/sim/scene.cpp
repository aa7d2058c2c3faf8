// SPDX-License-Identifier: MIT
// The host object: scene items, channels and keys, key evaluation, the selection, viewports and
// the violation list.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "host/sim/internal.h"

namespace sim {

namespace {
Host *g_current = nullptr;

const char *const k_default_channels[6] = {"Position.X", "Position.Y", "Position.Z",
                                           "Rotation.H", "Rotation.P", "Rotation.B"};

bool span_match(const std::string &name, const std::string &target) {
    return std::strspn(name.c_str(), target.c_str()) > 9;
}
} // namespace

Host::Host() {
    if (g_current) throw std::logic_error("sim::Host: another host exists; the services serve one host at a time");
    g_current = this;
    write_targets_ = default_channels();
    selection_list_.push_back(nullptr);
    selected_.push_back(0);
    interface_info_.selected = selection_list_.data();
    // Viewports 0 to 3: looking along X, Y, Z, and a second one along Z at another scale.
    viewports_.resize(4);
    viewports_[0].view_axis = 0;
    viewports_[1].view_axis = 1;
    viewports_[2].view_axis = 2;
    viewports_[3].view_axis = 2;
    viewports_[3].scale = 50.0;
    Services::install(*this);
    const char *echo = std::getenv("ZENDRO_TRACE");
    if (echo && *echo) trace_.echo_to(stderr);
}

Host::~Host() {
    if (g_current == this) g_current = nullptr;
}

Host *Host::current() { return g_current; }

// ---- Scene ------------------------------------------------------------------------------------

const std::vector<std::string> &Host::default_channels() {
    static const std::vector<std::string> names(k_default_channels, k_default_channels + 6);
    return names;
}

ItemId Host::add_item(const std::string &name, const Vec3 &position, const Vec3 &rotation) {
    return add_item(name, position, rotation, default_channels());
}

ItemId Host::add_item(const std::string &name, const Vec3 &position, const Vec3 &rotation,
                      const std::vector<std::string> &channels) {
    if (items_.size() + 1 >= HANDLE_INDEX_MASK) throw std::logic_error("sim::Host: too many items");
    ItemRec rec;
    rec.name = name;
    rec.base_pos = position;
    rec.base_rot = rotation;
    for (int &e : rec.eval) e = -1;
    const ItemId id = static_cast<ItemId>(items_.size() + 1);
    for (size_t i = 0; i < channels.size(); ++i) {
        ChannelRec ch;
        ch.item = id;
        ch.position = static_cast<uint32_t>(i);
        ch.name = channels[i];
        ch.occurrence = 0;
        for (size_t j = 0; j < i; ++j)
            if (channels[j] == channels[i]) ++ch.occurrence;
        ch.base_slot = -1;
        for (int s = 0; s < 6; ++s)
            if (ch.name == k_default_channels[s]) ch.base_slot = s;
        ch.target = false;
        for (const std::string &t : write_targets_)
            if (span_match(ch.name, t)) ch.target = true;
        const uint32_t index = static_cast<uint32_t>(channels_.size());
        if (ch.base_slot >= 0 && rec.eval[ch.base_slot] < 0) rec.eval[ch.base_slot] = static_cast<int>(index);
        channels_.push_back(std::move(ch));
        rec.channels.push_back(index);
    }
    items_.push_back(std::move(rec));
    selected_.push_back(0);
    return id;
}

const Host::ItemRec &Host::item_rec(ItemId id) const {
    if (id < 1 || static_cast<size_t>(id) > items_.size())
        throw std::logic_error(format("sim::Host: no item %d", static_cast<int>(id)));
    return items_[static_cast<size_t>(id - 1)];
}

const std::string &Host::item_name(ItemId id) const { return item_rec(id).name; }

uint32_t Host::channel_index(ItemId item, const std::string &channel, int occurrence) const {
    for (uint32_t c : item_rec(item).channels)
        if (channels_[c].name == channel && channels_[c].occurrence == occurrence) return c;
    throw std::logic_error(format("sim::Host: item %d has no channel \"%s\" (occurrence %d)", static_cast<int>(item),
                                  channel.c_str(), occurrence));
}

void Host::select(const std::vector<ItemId> &ids) {
    for (ItemId id : ids) item_rec(id); // throws on an unknown id
    selection_ = ids;
    rebuild_selection();
}

void Host::rebuild_selection() {
    std::fill(selected_.begin(), selected_.end(), 0);
    selection_list_.clear();
    for (ItemId id : selection_) {
        selection_list_.push_back(item_handle(id));
        selected_[static_cast<size_t>(id)] = 1;
    }
    selection_list_.push_back(nullptr);
    interface_info_.selected = selection_list_.data();
}

void Host::set_write_targets(const std::vector<std::string> &targets) {
    write_targets_ = targets;
    refresh_targets();
}

void Host::refresh_targets() {
    for (ChannelRec &ch : channels_) {
        ch.target = false;
        for (const std::string &t : write_targets_)
            if (span_match(ch.name, t)) ch.target = true;
    }
}

void Host::add_key(ItemId item, const std::string &channel, double time, double value, int occurrence) {
    const uint32_t c = channel_index(item, channel, occurrence);
    for (uint32_t k : channels_[c].keys)
        if (keys_[k].time == time) {
            keys_[k].value = value;
            return;
        }
    if (keys_.size() >= HANDLE_INDEX_MASK) throw std::logic_error("sim::Host: too many keys");
    channels_[c].keys.push_back(static_cast<uint32_t>(keys_.size()));
    keys_.push_back({c, time, value});
}

std::vector<Key> Host::keys(ItemId item, const std::string &channel, int occurrence) const {
    std::vector<Key> out;
    for (uint32_t k : channels_[channel_index(item, channel, occurrence)].keys)
        out.push_back({keys_[k].time, keys_[k].value});
    return out;
}

size_t Host::key_count(ItemId item, const std::string &channel, int occurrence) const {
    return channels_[channel_index(item, channel, occurrence)].keys.size();
}

std::optional<double> Host::key_at(ItemId item, const std::string &channel, double time, int occurrence) const {
    for (uint32_t k : channels_[channel_index(item, channel, occurrence)].keys)
        if (keys_[k].time == time) return keys_[k].value;
    return std::nullopt;
}

double Host::evaluate(uint32_t channel, double time) const {
    const ChannelRec &ch = channels_[channel];
    const KeyRec *before = nullptr, *earliest = nullptr;
    for (uint32_t k : ch.keys) {
        const KeyRec &key = keys_[k];
        if (key.time == time) return key.value;
        if (key.time < time && (!before || key.time > before->time)) before = &key;
        if (!earliest || key.time < earliest->time) earliest = &key;
    }
    if (before) return before->value;
    if (earliest) return earliest->value;
    if (ch.base_slot < 0) return 0.0;
    const ItemRec &item = items_[static_cast<size_t>(ch.item - 1)];
    return ch.base_slot < 3 ? item.base_pos[static_cast<size_t>(ch.base_slot)]
                            : item.base_rot[static_cast<size_t>(ch.base_slot - 3)];
}

double Host::value_at(ItemId item, const std::string &channel, double time, int occurrence) const {
    return evaluate(channel_index(item, channel, occurrence), time);
}

Vec3 Host::position_at(ItemId item, double time) const {
    const ItemRec &rec = item_rec(item);
    Vec3 out;
    for (size_t i = 0; i < 3; ++i)
        out[i] = rec.eval[i] >= 0 ? evaluate(static_cast<uint32_t>(rec.eval[i]), time) : rec.base_pos[i];
    return out;
}

Vec3 Host::rotation_at(ItemId item, double time) const {
    const ItemRec &rec = item_rec(item);
    Vec3 out;
    for (size_t i = 0; i < 3; ++i)
        out[i] = rec.eval[i + 3] >= 0 ? evaluate(static_cast<uint32_t>(rec.eval[i + 3]), time) : rec.base_rot[i];
    return out;
}

// ---- Services bookkeeping ---------------------------------------------------------------------

std::vector<std::string> Host::lookup_names() const {
    std::vector<std::string> out;
    for (const Lookup &l : lookups_) out.push_back(l.name);
    return out;
}

static void toggle(std::vector<std::string> &list, const std::string &name, bool on) {
    for (auto it = list.begin(); it != list.end(); ++it)
        if (*it == name) {
            if (!on) list.erase(it);
            return;
        }
    if (on) list.push_back(name);
}

void Host::set_missing(const std::string &service, bool missing) { toggle(missing_, service, missing); }
void Host::forbid(const std::string &service, bool forbidden) { toggle(forbidden_, service, forbidden); }

// ---- Viewports --------------------------------------------------------------------------------

bool project(const Viewport &vp, const Vec3 &world, Vec3 *out) {
    if (vp.fail) return false;
    const int a = vp.view_axis < 0 || vp.view_axis > 2 ? 2 : vp.view_axis;
    const size_t h = a == 0 ? 1 : 0; // horizontal world axis
    const size_t v = a == 2 ? 1 : 2; // vertical world axis
    (*out)[0] = vp.origin_x + vp.scale * world[h];
    (*out)[1] = vp.origin_y - vp.scale * world[v];
    (*out)[2] = world[static_cast<size_t>(a)];
    return true;
}

Vec3 unproject(const Viewport &vp, double win_x, double win_y, double along) {
    const int a = vp.view_axis < 0 || vp.view_axis > 2 ? 2 : vp.view_axis;
    const size_t h = a == 0 ? 1 : 0;
    const size_t v = a == 2 ? 1 : 2;
    Vec3 w{};
    w[h] = (win_x - vp.origin_x) / vp.scale;
    w[v] = (vp.origin_y - win_y) / vp.scale;
    w[static_cast<size_t>(a)] = along;
    return w;
}

Viewport &Host::viewport(int32_t index) {
    if (index < 0 || index > 255) throw std::logic_error("sim::Host: viewport index out of 0..255");
    if (static_cast<size_t>(index) >= viewports_.size()) viewports_.resize(static_cast<size_t>(index) + 1);
    return viewports_[static_cast<size_t>(index)];
}

bool Host::has_viewport(int32_t index) const { return index >= 0 && static_cast<size_t>(index) < viewports_.size(); }

bool Host::project(int32_t index, const Vec3 &world, Vec3 *out) const {
    if (!has_viewport(index)) throw std::logic_error("sim::Host: no such viewport");
    return sim::project(viewports_[static_cast<size_t>(index)], world, out);
}

Vec3 Host::world_at(int32_t index, double win_x, double win_y, double along) const {
    if (!has_viewport(index)) throw std::logic_error("sim::Host: no such viewport");
    return unproject(viewports_[static_cast<size_t>(index)], win_x, win_y, along);
}

Vec3 Host::axis_vector(int32_t index) const {
    if (!has_viewport(index)) throw std::logic_error("sim::Host: no such viewport");
    Vec3 a{};
    const int axis = viewports_[static_cast<size_t>(index)].view_axis;
    a[static_cast<size_t>(axis < 0 || axis > 2 ? 2 : axis)] = 1.0;
    return a;
}

host_tool_event Host::event_in(int32_t index, double win_x, double win_y, int32_t dx, int32_t dy, int32_t flags) const {
    return make_event(world_at(index, win_x, win_y), axis_vector(index), dx, dy, flags, index);
}

host_tool_event make_event(const Vec3 &point, const Vec3 &axis, int32_t dx, int32_t dy, int32_t flags,
                           int32_t viewport) {
    host_tool_event e;
    std::memset(&e, 0, sizeof e);
    for (size_t i = 0; i < 3; ++i) {
        e.point[i] = point[i];
        e.axis[i] = axis[i];
    }
    e.dx = dx;
    e.dy = dy;
    e.flags = flags;
    e.viewport = viewport;
    return e;
}

// ---- Violations -------------------------------------------------------------------------------

void Host::violation(const std::string &id, const std::string &message) {
    violations_.push_back({id, message});
    if (trace_.enabled()) trace_.add('x', id + ": " + message);
}

void Host::violation(const std::string &id, const std::string &expected, const std::string &got,
                     const std::string &cause) {
    violation(id, "expected " + expected + "; got " + got + "; likely cause: " + cause);
}

void Host::warning(const std::string &id, const std::string &message) {
    warnings_.push_back({id, message});
    if (trace_.enabled()) trace_.add('w', id + ": " + message);
}

bool Host::has_violation(const std::string &id) const { return violation_count(id) > 0; }

size_t Host::violation_count(const std::string &id) const {
    size_t n = 0;
    for (const Violation &v : violations_)
        if (v.id == id) ++n;
    return n;
}

std::string Host::report(size_t trace_lines) const {
    std::string out;
    if (violations_.empty()) {
        out = "no violations\n";
    } else {
        out = std::to_string(violations_.size()) + " violation(s), in the order they happened:\n";
        for (const Violation &v : violations_) out += "  " + v.id + ": " + v.message + "\n";
    }
    if (trace_lines > 0 && !trace_.lines().empty()) {
        out += "trace (last " + std::to_string(std::min(trace_lines, trace_.lines().size())) + " of " +
               std::to_string(trace_.lines().size()) + " lines):\n";
        out += trace_.tail(trace_lines);
    }
    return out;
}

// ---- Panels: lookup ---------------------------------------------------------------------------

Panel *Host::find_panel(host_panel handle) {
    const int64_t i = handle_index(handle, TAG_PANEL);
    if (i < 0 || static_cast<size_t>(i) >= panels_.size()) return nullptr;
    return panels_[static_cast<size_t>(i)].get();
}

Control *Host::find_control(host_control *handle) {
    auto it = controls_.find(handle);
    return it == controls_.end() ? nullptr : it->second;
}

Control *Panel::find(const std::string &type, const std::string &label_text, int occurrence) {
    for (auto &c : controls)
        if (c->type_name == type && c->label == label_text && occurrence-- == 0) return c.get();
    return nullptr;
}

namespace {
int32_t farthest_edge(const std::vector<std::unique_ptr<Control>> &controls, bool horizontal) {
    int64_t edge = 0;
    for (const auto &c : controls) edge = std::max(edge, horizontal ? int64_t{c->x} + c->w : int64_t{c->y} + c->h);
    return static_cast<int32_t>(std::min<int64_t>(edge, INT32_MAX));
}
} // namespace

int32_t Panel::shown_width() const { return width_sets ? width : farthest_edge(controls, true); }
int32_t Panel::shown_height() const { return height_sets ? height : farthest_edge(controls, false); }

size_t Panel::writes_while_user_closed() const {
    size_t n = 0;
    for (const auto &c : controls) n += c->writes_while_user_closed;
    return n;
}

} // namespace sim
