// SPDX-License-Identifier: MIT
#include "apps/sessions.h"

#include <cstdio>
#include <map>
#include <utility>

namespace demo {
namespace {

// Viewports of the simulated host: 0 looks along X, 1 along Y, 2 along Z.
constexpr int32_t kAlongY = 1, kAlongZ = 2;

void say(sim::Host &host, const char *what) {
    std::printf("-- %s\n", what);
    if (host.tracing()) host.trace().add('~', std::string("user: ") + what);
}

sim::Control *control(sim::Host &host, const char *type, const char *label, int occurrence = 0) {
    sim::Panel *p = host.last_panel();
    return p ? p->find(type, label, occurrence) : nullptr;
}

void type_value(sim::Host &host, const char *type, const char *label, double value, int occurrence = 0) {
    if (sim::Control *c = control(host, type, label, occurrence)) {
        host.user_set_value(*c, value);
        host.fire(*c);
    }
}

void choose(sim::Host &host, const char *label, int32_t value) {
    if (sim::Control *c = control(host, HOST_TYPE_CHOICE, label)) {
        host.user_set_value(*c, value);
        host.fire(*c);
    }
}

void press_apply(sim::Host &host) {
    if (sim::Control *c = control(host, HOST_TYPE_BUTTON, "Apply")) host.fire(*c);
}

// A press away from any cross, moves with growing drag amounts, and the release.
void drag(sim::Host &host, sim::Tool &tool, int32_t viewport,
          std::initializer_list<std::pair<int32_t, int32_t>> moves) {
    tool.mouse_down(host.event_in(viewport, 40, 40));
    int32_t dx = 0, dy = 0;
    for (const auto &m : moves) {
        dx = m.first;
        dy = m.second;
        tool.mouse_move(host.event_in(viewport, 40 + dx / 10.0, 40 + dy / 10.0, dx, dy));
    }
    tool.mouse_up(host.event_in(viewport, 40 + dx / 10.0, 40 + dy / 10.0, dx, dy));
    tool.draw(viewport);
}

void play_custom_rotation(sim::Host &host, sim::Tool &tool) {
    say(host, "rotating drag about Y: 15, 45, then 90 degrees");
    drag(host, tool, kAlongY, {{1500, 0}, {4500, 0}, {9000, 0}});
    say(host, "panel: H 30, B 15, Method Rotate, Apply");
    type_value(host, HOST_TYPE_FLOAT, " H", 30.0);
    type_value(host, HOST_TYPE_FLOAT, " B", 15.0);
    choose(host, "Method", 1);
    press_apply(host);
}

void play_additive_rotation(sim::Host &host, sim::Tool &tool) {
    say(host, "heading drag: 10, then 25 degrees");
    drag(host, tool, kAlongY, {{100, 0}, {250, 0}});
    say(host, "panel: H 10, P 5, Apply");
    type_value(host, HOST_TYPE_FLOAT, " H", 10.0);
    type_value(host, HOST_TYPE_FLOAT, " P", 5.0);
    press_apply(host);
}

void play_distance_scaling(sim::Host &host, sim::Tool &tool) {
    static const char *const methods[3] = {"Stretch", "Stretch Flat", "Scale"};
    for (int32_t m = 0; m < 3; ++m) {
        say(host, (std::string("scaling drag, method ") + methods[m] + ": dx 50, dy -20").c_str());
        choose(host, "Method", m);
        drag(host, tool, kAlongZ, {{20, -10}, {50, -20}});
    }
    say(host, "panel: Scale Y 2, Apply");
    type_value(host, HOST_TYPE_FLOAT, " Y", 2.0);
    press_apply(host);
}

const Session kSessions[] = {
    {"Zendro_Kardel", "custom rotation", play_custom_rotation},
    {"Zendro_Strova", "additive rotation", play_additive_rotation},
    {"Zendro_Menlix", "distance scaling", play_distance_scaling},
};

} // namespace

const Session *find_session(const std::string &server) {
    for (const Session &s : kSessions)
        if (server == s.server) return &s;
    return nullptr;
}

void build_scene(sim::Host &host) {
    host.set_time(1.0);
    const sim::ItemId cube = host.add_item("Cube", {1, 0, 0});
    const sim::ItemId cone = host.add_item("Cone", {0, 2, 1}, {0.5, 0, 0});
    host.add_item("Lamp", {-1, 3, 0});
    host.add_key(cone, "Position.X", 1.0, 0.0);
    host.select({cube, cone});
}

void print_keys(const sim::Host &host) {
    std::printf("\n-- keys written (item, channel: value at time; + created, = replaced)\n");
    std::map<std::pair<sim::ItemId, std::string>, std::vector<const sim::KeyWrite *>> by_channel;
    for (const sim::KeyWrite &w : host.writes()) by_channel[{w.item, w.channel}].push_back(&w);
    for (const auto &entry : by_channel) {
        std::printf("%-5s %-11s", host.item_name(entry.first.first).c_str(), entry.first.second.c_str());
        for (const sim::KeyWrite *w : entry.second)
            std::printf(" %c%.17g@%g", w->created ? '+' : '=', w->value, w->time);
        std::printf("\n");
    }
}

} // namespace demo
