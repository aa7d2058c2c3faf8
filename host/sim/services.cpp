// SPDX-License-Identifier: MIT
// The scene services as the host hands them out: the global function, "LW Item Info 6",
// "Channel Info 2", "Animation Envelopes", "LW Viewport Info 5", "Instance Update" and the
// all-trap records. Every routine checks what it is given against the host's own objects.
#include <cmath>
#include <cstring>

#include "host/sim/internal.h"

namespace sim {

void Services::install(Host &h) {
    fill_with_traps(h.item_, TRAP_ITEM);
    h.item_.param = item_param;
    h.item_.channel_group = item_channel_group;

    fill_with_traps(h.channel_, TRAP_CHANNEL);
    h.channel_.next_channel = next_channel;
    h.channel_.channel_name = channel_name;
    h.channel_.channel_envelope = channel_envelope;

    fill_with_traps(h.envelopes_, TRAP_ENVELOPES);
    h.envelopes_.create_key = create_key;
    h.envelopes_.find_key = find_key;
    h.envelopes_.set_key_value = set_key_value;

    fill_with_traps(h.viewport_, TRAP_VIEWPORT);
    h.viewport_.project = project;
    h.viewport_.grid_size = grid_size;

    fill_with_traps(h.panel_, TRAP_PANEL);
    h.panel_.create = panel_create;
    h.panel_.destroy = panel_destroy;
    h.panel_.open = panel_open;
    h.panel_.poll = panel_poll;
    h.panel_.close = panel_close;
    h.panel_.set = panel_set;
    h.panel_.add_control = add_control;
    h.panel_.global = nullptr; // data: activation stores the global function here

    for (int i = 0; i < 16; ++i) {
        h.info_messages_[i] = trap(TRAP_INFO_MESSAGES, i);
        h.command_[i] = trap(TRAP_COMMAND, i);
    }
}

host_global_fn Host::global_function() const { return Services::global; }

void *Host::service(const std::string &name) {
    if (name == HOST_SERVICE_INFO_MESSAGES) return info_messages_;
    if (name == HOST_SERVICE_PANEL) return &panel_;
    if (name == HOST_SERVICE_COMMAND) return command_;
    if (name == HOST_SERVICE_VIEWPORT) return &viewport_;
    if (name == HOST_SERVICE_PRODUCT) return reinterpret_cast<void *>(product_info_value);
    if (name == HOST_SERVICE_INTERFACE) return &interface_info_;
    if (name == HOST_SERVICE_ITEM) return &item_;
    if (name == HOST_SERVICE_TIME) return &time_info_;
    if (name == HOST_SERVICE_CHANNEL) return &channel_;
    if (name == HOST_SERVICE_ENVELOPES) return &envelopes_;
    if (name == HOST_SERVICE_INSTANCE_UPDATE) return reinterpret_cast<void *>(Services::instance_update);
    return nullptr;
}

// ---- Global function and bare functions -------------------------------------------------------

void *HOST_CALL Services::global(const char *name, int32_t mode) {
    Host *h = Host::current();
    if (!h) return nullptr;
    if (!name) {
        h->violation(violation_id::lookup_name_null, "a service name", "null",
                     "the module passed an unset name to the global function");
        return nullptr;
    }
    if (mode != 0)
        h->violation(violation_id::lookup_mode_nonzero, "mode 0",
                     "mode " + std::to_string(mode) + " for " + quote(name),
                     "the module binds with a mode the tools never use");
    void *answer = nullptr;
    bool missing = false;
    for (const std::string &m : h->missing_)
        if (m == name) missing = true;
    if (!missing) {
        answer = h->service(name);
        if (!answer)
            h->violation(violation_id::lookup_unknown_service, "one of the host's service names", quote(name),
                         "a misspelt service name, or a service the tools do not use");
    }
    h->lookups_.push_back({name, mode, answer != nullptr});
    if (h->tracing())
        h->trace_.add('.', format("module->host global %s mode=%d -> %s", quote(name).c_str(), static_cast<int>(mode),
                                  missing ? "null (missing)" : hex(answer).c_str()));
    return answer;
}

int32_t HOST_CALL Services::instance_update(const char *class_name, void *instance) {
    Host *h = Host::current();
    if (!h) return 0;
    allowed(*h, HOST_SERVICE_INSTANCE_UPDATE, "call");
    if (!class_name || std::strcmp(class_name, HOST_CLASS_LAYOUT_TOOL) != 0)
        h->violation(violation_id::instance_update_class, quote(HOST_CLASS_LAYOUT_TOOL), quote(class_name),
                     "the module names another class than the one its server is registered under");
    if (!h->instance_live(instance))
        h->violation(violation_id::instance_update_instance, "the live tool instance", hex(instance),
                     "the module passed a stale, released or unrelated pointer");
    h->instance_updates_.push_back({class_name ? class_name : "", instance});
    if (h->tracing())
        h->trace_.add('.', format("module->host Instance Update class=%s instance=%s -> 1", quote(class_name).c_str(),
                                  hex(instance).c_str()));
    return 1;
}

bool Host::instance_live(void *instance) const {
    auto it = instances_.find(instance);
    return it != instances_.end() && it->second;
}

// ---- Shared checks ----------------------------------------------------------------------------

bool Services::allowed(Host &h, const char *service, const char *operation) {
    for (const std::string &f : h.forbidden_)
        if (f == service) {
            h.violation(violation_id::service_forbidden_called, std::string("no call of ") + service,
                        std::string(service) + "." + operation + " called",
                        "this tool must not use the service at all");
            return false;
        }
    return true;
}

bool Services::check_time(Host &h, double time, const char *operation) {
    if (time == h.time_info_.time) return true;
    h.violation(violation_id::time_mismatch, "the current time " + num(h.time_info_.time),
                num(time) + " in " + operation,
                "the module cached the time instead of reading \"LW Time Info\" at the moment of use");
    return false;
}

int64_t Services::check_item(Host &h, host_item item, const char *operation) {
    const uintptr_t v = reinterpret_cast<uintptr_t>(item);
    if (!item) {
        h.violation(violation_id::item_none, "an item identifier", std::string("none in ") + operation,
                    "the module used an empty selection entry or an item list that reported no item");
        return -1;
    }
    if (v > h.items_.size()) {
        h.violation(violation_id::item_unknown, "an item id 1.." + std::to_string(h.items_.size()),
                    hex(item) + " in " + operation, "a handle of another kind, or an item id the host never gave out");
        return -1;
    }
    return static_cast<int64_t>(v);
}

int64_t Services::check_envelope(Host &h, host_envelope env, const char *operation) {
    const int64_t i = handle_index(env, TAG_ENVELOPE);
    if (i < 0 || static_cast<size_t>(i) >= h.channels_.size()) {
        h.violation(violation_id::envelope_unknown, "an envelope from channel envelope", hex(env) + " in " + operation,
                    env ? "a handle of another kind (channel, key, item) passed as an envelope"
                        : "the item lacks the channel and the module keyed it anyway");
        return -1;
    }
    return i;
}

bool Services::check_write(Host &h, uint32_t channel, double value, const char *operation) {
    const Host::ChannelRec &ch = h.channels_[channel];
    bool ok = true;
    if (!std::isfinite(value)) {
        h.violation(violation_id::key_value_non_finite, "a finite value", num(value) + " in " + operation,
                    "a NaN or infinite angle or factor reached the key write");
        ok = false;
    }
    if (!h.selected_[static_cast<size_t>(ch.item)]) {
        h.violation(violation_id::envelope_write_unselected_item, "a write into a selected item's channel",
                    std::string(operation) + " on item " + quote(h.item_name(ch.item).c_str()) + " channel " +
                        quote(ch.name.c_str()),
                    "the module keyed from stale item records or another item's envelope");
        ok = false;
    }
    if (!ch.target) {
        h.violation(violation_id::envelope_write_non_target_channel, "a write into a target channel of this tool",
                    std::string(operation) + " on item " + quote(h.item_name(ch.item).c_str()) + " channel " +
                        quote(ch.name.c_str()),
                    "the channel name match picked the wrong channel, or the tool keys a channel it must not");
        ok = false;
    }
    return ok;
}

void Services::log_write(Host &h, uint32_t channel, double time, double value, bool created) {
    if (!h.write_log_) return;
    const Host::ChannelRec &ch = h.channels_[channel];
    h.writes_.push_back({ch.item, ch.name, ch.occurrence, time, value, created});
}

// ---- "LW Item Info 6" -------------------------------------------------------------------------

void HOST_CALL Services::item_param(host_item item, int32_t code, double time, double out[3]) {
    Host *h = Host::current();
    if (!h) return;
    allowed(*h, HOST_SERVICE_ITEM, "param");
    const int64_t id = check_item(*h, item, "LW Item Info 6.param");
    check_time(*h, time, "LW Item Info 6.param");
    const bool code_ok = code == HOST_ITEM_PARAM_WORLD_POSITION || code == HOST_ITEM_PARAM_ROTATION;
    if (!code_ok)
        h->violation(violation_id::item_param_code, "code 8 (world position) or 5 (rotation)",
                     "code " + std::to_string(code), "the module asks for a parameter the tools never read");
    if (!out)
        h->violation(violation_id::item_param_output_null, "an address of 3 doubles", "null",
                     "the module passed no output array");
    if (id > 0 && code_ok && out) {
        const ItemId i = static_cast<ItemId>(id);
        const Vec3 v = code == HOST_ITEM_PARAM_WORLD_POSITION ? h->position_at(i, time) : h->rotation_at(i, time);
        for (size_t k = 0; k < 3; ++k) out[k] = v[k];
    }
    if (h->tracing())
        h->trace_.add('.', format("module->host LW Item Info 6.param item=%s code=%d time=%s -> %s", hex(item).c_str(),
                                  static_cast<int>(code), num(time).c_str(),
                                  id > 0 && code_ok && out ? vec(out).c_str() : "(unwritten)"));
}

host_group HOST_CALL Services::item_channel_group(host_item item) {
    Host *h = Host::current();
    if (!h) return nullptr;
    allowed(*h, HOST_SERVICE_ITEM, "channel_group");
    const int64_t id = check_item(*h, item, "LW Item Info 6.channel_group");
    host_group g = id > 0 ? make_handle<host_group>(TAG_GROUP, static_cast<uint32_t>(id)) : nullptr;
    if (h->tracing())
        h->trace_.add(
            '.', format("module->host LW Item Info 6.channel_group item=%s -> %s", hex(item).c_str(), hex(g).c_str()));
    return g;
}

// ---- "Channel Info 2" -------------------------------------------------------------------------

host_channel HOST_CALL Services::next_channel(host_group group, host_channel previous) {
    Host *h = Host::current();
    if (!h) return nullptr;
    allowed(*h, HOST_SERVICE_CHANNEL, "next_channel");
    const int64_t g = handle_index(group, TAG_GROUP);
    host_channel answer = nullptr;
    if (g < 1 || static_cast<size_t>(g) > h->items_.size()) {
        h->violation(violation_id::group_unknown, "a group from item channel group query",
                     hex(group) + " in Channel Info 2.next_channel", "a handle of another kind passed as a group");
    } else {
        const Host::ItemRec &item = h->items_[static_cast<size_t>(g - 1)];
        size_t next = 0;
        bool ok = true;
        if (previous) {
            const int64_t c = handle_index(previous, TAG_CHANNEL);
            if (c < 0 || static_cast<size_t>(c) >= h->channels_.size()) {
                h->violation(violation_id::channel_unknown, "none or a channel of the group",
                             hex(previous) + " as the previous channel",
                             "a handle of another kind passed as a channel");
                ok = false;
            } else if (h->channels_[static_cast<size_t>(c)].item != static_cast<ItemId>(g)) {
                h->violation(violation_id::channel_foreign, "a channel of the walked group",
                             "a channel of item " +
                                 quote(h->item_name(h->channels_[static_cast<size_t>(c)].item).c_str()) +
                                 " while walking item " + quote(item.name.c_str()),
                             "the walk mixes up two items' groups");
                ok = false;
            } else {
                next = h->channels_[static_cast<size_t>(c)].position + 1;
            }
        }
        if (ok && next < item.channels.size()) answer = make_handle<host_channel>(TAG_CHANNEL, item.channels[next]);
    }
    if (h->tracing())
        h->trace_.add('.', format("module->host Channel Info 2.next_channel group=%s previous=%s -> %s",
                                  hex(group).c_str(), hex(previous).c_str(), hex(answer).c_str()));
    return answer;
}

const char *HOST_CALL Services::channel_name(host_channel channel) {
    Host *h = Host::current();
    if (!h) return nullptr;
    allowed(*h, HOST_SERVICE_CHANNEL, "channel_name");
    const int64_t c = handle_index(channel, TAG_CHANNEL);
    const char *name = nullptr;
    if (c < 0 || static_cast<size_t>(c) >= h->channels_.size())
        h->violation(violation_id::channel_unknown, "a channel from next channel",
                     hex(channel) + " in Channel Info 2.channel_name", "a handle of another kind passed as a channel");
    else name = h->channels_[static_cast<size_t>(c)].name.c_str();
    if (h->tracing())
        h->trace_.add('.', format("module->host Channel Info 2.channel_name channel=%s -> %s", hex(channel).c_str(),
                                  quote(name).c_str()));
    return name;
}

host_envelope HOST_CALL Services::channel_envelope(host_channel channel) {
    Host *h = Host::current();
    if (!h) return nullptr;
    allowed(*h, HOST_SERVICE_CHANNEL, "channel_envelope");
    const int64_t c = handle_index(channel, TAG_CHANNEL);
    host_envelope env = nullptr;
    if (c < 0 || static_cast<size_t>(c) >= h->channels_.size())
        h->violation(violation_id::channel_unknown, "a channel from next channel",
                     hex(channel) + " in Channel Info 2.channel_envelope",
                     "a handle of another kind passed as a channel");
    else env = make_handle<host_envelope>(TAG_ENVELOPE, static_cast<uint32_t>(c));
    if (h->tracing())
        h->trace_.add('.', format("module->host Channel Info 2.channel_envelope channel=%s -> %s", hex(channel).c_str(),
                                  hex(env).c_str()));
    return env;
}

// ---- "Animation Envelopes" --------------------------------------------------------------------
// Writes refused by a check (unknown handles, foreign key, attribute, null or non-finite value, a
// channel outside the write rule) change nothing; a write at another time than the current one is
// recorded as a violation and made at the time given.

host_key HOST_CALL Services::find_key(host_envelope env, double time) {
    Host *h = Host::current();
    if (!h) return nullptr;
    ++h->find_key_calls_;
    allowed(*h, HOST_SERVICE_ENVELOPES, "find_key");
    const int64_t e = check_envelope(*h, env, "Animation Envelopes.find_key");
    check_time(*h, time, "Animation Envelopes.find_key");
    host_key key = nullptr;
    if (e >= 0)
        for (uint32_t k : h->channels_[static_cast<size_t>(e)].keys)
            if (h->keys_[k].time == time) key = make_handle<host_key>(TAG_KEY, k);
    if (h->tracing())
        h->trace_.add('.', format("module->host Animation Envelopes.find_key env=%s time=%s -> %s", hex(env).c_str(),
                                  num(time).c_str(), hex(key).c_str()));
    return key;
}

host_key HOST_CALL Services::create_key(host_envelope env, double time, double value) {
    Host *h = Host::current();
    if (!h) return nullptr;
    ++h->create_key_calls_;
    allowed(*h, HOST_SERVICE_ENVELOPES, "create_key");
    const int64_t e = check_envelope(*h, env, "Animation Envelopes.create_key");
    check_time(*h, time, "Animation Envelopes.create_key");
    host_key key = nullptr;
    if (e >= 0 && check_write(*h, static_cast<uint32_t>(e), value, "create key")) {
        Host::ChannelRec &ch = h->channels_[static_cast<size_t>(e)];
        for (uint32_t k : ch.keys)
            if (h->keys_[k].time == time) key = make_handle<host_key>(TAG_KEY, k);
        if (key) {
            h->violation(violation_id::key_create_duplicate, "create key only where find key found none",
                         "a second key at time " + num(time) + " on channel " + quote(ch.name.c_str()),
                         "the module did not look for the existing key first; the existing key takes the value");
            h->keys_[static_cast<uint32_t>(handle_index(key, TAG_KEY))].value = value;
        } else {
            const uint32_t k = static_cast<uint32_t>(h->keys_.size());
            h->keys_.push_back({static_cast<uint32_t>(e), time, value});
            ch.keys.push_back(k);
            key = make_handle<host_key>(TAG_KEY, k);
        }
        log_write(*h, static_cast<uint32_t>(e), time, value, true);
    }
    if (h->tracing())
        h->trace_.add('.', format("module->host Animation Envelopes.create_key env=%s time=%s value=%s -> %s",
                                  hex(env).c_str(), num(time).c_str(), num(value).c_str(), hex(key).c_str()));
    return key;
}

// The key is one find key answered, of the envelope it is set through (`envelope` < 0: an
// envelope already found unknown).
bool Services::key_of_envelope(Host &h, int64_t envelope, int64_t k, host_key key) {
    if (k < 0 || static_cast<size_t>(k) >= h.keys_.size()) {
        h.violation(
            violation_id::key_unknown, "a key from find key", hex(key) + " in Animation Envelopes.set_key_value",
            key ? "a handle of another kind passed as a key" : "set key value called although no key was found");
        return false;
    }
    if (envelope >= 0 && h.keys_[static_cast<size_t>(k)].channel != static_cast<uint32_t>(envelope)) {
        h.violation(violation_id::key_foreign_envelope, "a key of the envelope it is set in",
                    "a key of channel " + quote(h.channels_[h.keys_[static_cast<size_t>(k)].channel].name.c_str()) +
                        " set through channel " + quote(h.channels_[static_cast<size_t>(envelope)].name.c_str()),
                    "the key was found in one envelope and set in another");
        return false;
    }
    return true;
}

// Attribute 0 (the key's value), and the address of a double.
bool Services::key_value_argument(Host &h, int32_t attr, const void *value) {
    bool ok = true;
    if (attr != HOST_KEY_VALUE) {
        h.violation(violation_id::key_set_attribute, "attribute 0 (the key's value)",
                    "attribute " + std::to_string(attr), "the module sets another key attribute than its value");
        ok = false;
    }
    if (!value) {
        h.violation(violation_id::key_set_value_null, "the address of a double", "null", "the module passed no value");
        ok = false;
    }
    return ok;
}

int32_t HOST_CALL Services::set_key_value(host_envelope env, host_key key, int32_t attr, void *value) {
    Host *h = Host::current();
    if (!h) return 0;
    ++h->set_key_calls_;
    allowed(*h, HOST_SERVICE_ENVELOPES, "set_key_value");
    const int64_t e = check_envelope(*h, env, "Animation Envelopes.set_key_value");
    const int64_t k = handle_index(key, TAG_KEY);
    const bool key_ok = key_of_envelope(*h, e, k, key);
    bool ok = key_value_argument(*h, attr, value) && key_ok && e >= 0;
    double v = 0.0;
    if (value) std::memcpy(&v, value, sizeof v);
    if (ok && check_write(*h, static_cast<uint32_t>(e), v, "set key value")) {
        Host::KeyRec &rec = h->keys_[static_cast<size_t>(k)];
        if (rec.time != h->time_info_.time)
            h->violation(violation_id::time_mismatch, "a key at the current time " + num(h->time_info_.time),
                         "set key value on a key at " + num(rec.time), "the module set a key found at another time");
        rec.value = v;
        log_write(*h, static_cast<uint32_t>(e), rec.time, v, false);
    } else {
        ok = false;
    }
    if (h->tracing())
        h->trace_.add('.', format("module->host Animation Envelopes.set_key_value env=%s key=%s attr=%d value=%s -> %d",
                                  hex(env).c_str(), hex(key).c_str(), static_cast<int>(attr),
                                  value ? num(v).c_str() : "null", ok ? 1 : 0));
    return ok ? 1 : 0;
}

// ---- "LW Viewport Info 5" ---------------------------------------------------------------------

int32_t HOST_CALL Services::project(int32_t viewport, const double world[3], double *x, double *y, double *z) {
    Host *h = Host::current();
    if (!h) return 0;
    allowed(*h, HOST_SERVICE_VIEWPORT, "project");
    int32_t result = 0;
    Vec3 out{};
    if (!h->has_viewport(viewport)) {
        h->violation(violation_id::viewport_unknown, "a viewport index the host reported", std::to_string(viewport),
                     "the module took the viewport index from somewhere other than the tool event or drawing record");
    } else if (!world || !x || !y || !z) {
        h->violation(violation_id::viewport_argument_null, "a world point and three output addresses",
                     std::string("a null ") + (!world ? "world point" : "output"),
                     "the module passed an unset pointer");
    } else if (sim::project(h->viewports_[static_cast<size_t>(viewport)], {world[0], world[1], world[2]}, &out)) {
        *x = out[0];
        *y = out[1];
        *z = out[2];
        result = 1;
    }
    if (h->tracing())
        h->trace_.add('.', format("module->host LW Viewport Info 5.project viewport=%d world=%s -> %d %s",
                                  static_cast<int>(viewport), vec(world).c_str(), static_cast<int>(result),
                                  result ? vec(out.data()).c_str() : "(unwritten)"));
    return result;
}

double HOST_CALL Services::grid_size(int32_t viewport) {
    Host *h = Host::current();
    if (!h) return 0.0;
    allowed(*h, HOST_SERVICE_VIEWPORT, "grid_size");
    double g = 0.0;
    if (!h->has_viewport(viewport))
        h->violation(violation_id::viewport_unknown, "a viewport index the host reported", std::to_string(viewport),
                     "the module took the viewport index from somewhere other than the tool event");
    else g = h->viewports_[static_cast<size_t>(viewport)].grid;
    if (h->tracing())
        h->trace_.add('.', format("module->host LW Viewport Info 5.grid_size viewport=%d -> %s",
                                  static_cast<int>(viewport), num(g).c_str()));
    return g;
}

} // namespace sim
