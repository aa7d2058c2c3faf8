// SPDX-License-Identifier: MIT
// A small LayoutTool module built once per deliberate fault, for the validator's tests: the random
// sessions of `zendro_host check` must find each fault, name its violation and shrink it to a
// script that `zendro_host play` reproduces. Built as zendro_test_<fault> with the macro
// TEST_FAULT_<FAULT> defined to 1, and as zendro_test_control with none (tests/modules/CMakeLists.txt).
// Not deliverables; never installed.
//
// The tool (the control, which must pass): a panel "Nudge" with one float field
// " Step" (default 0.01). A press or drag start gathers the selected items and their world
// positions into an item table; each move keys Position.X of every gathered item to its start
// X + dx * step at the current time. Non-finite values are not keyed. Release frees everything.
//
//   TIME        keys one time unit after the current time
//   LEAK        the item table is not freed at release
//   TRAP        the release of a press calls an unnamed slot of "LW Item Info 6"
//   CRASH_MOVE  the third move of an instance writes through a null pointer
//   NONFINITE   keys a non-finite value as it is (a NaN step, an overflowing position)
//   UNSELECTED  gathers at the first press only, so later drags key items no longer selected
//   TWOFOLD     two independent faults: a panel too low for its field (at every activation) and
//               the keys of TIME, one time unit late
//   SLOW        no fault: each activation sleeps 10 ms, so that a run of sessions lasts without
//               keeping a processor busy
//
// Not faults, but modules the validator must not reset between sessions (it loads them afresh):
//   LOAD_ALLOC  allocates a counter while loading and counts its activations there; from the 50th
//               on it keys one time unit late, which a fresh load per session never reaches
//   KEEP_BLOCK  allocates a block at start-up and keeps it, never freed, across sessions
#include <stdlib.h>
#include <string.h>

#include "interface/host_interface.h"
#include "tests/modules/test_module.h"

#if TEST_FAULT_SLOW
#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif
#endif

// The fault of this build: at most one of these is 1 (none in the control).
#ifndef TEST_FAULT_TIME
#define TEST_FAULT_TIME 0
#endif
#ifndef TEST_FAULT_LEAK
#define TEST_FAULT_LEAK 0
#endif
#ifndef TEST_FAULT_TRAP
#define TEST_FAULT_TRAP 0
#endif
#ifndef TEST_FAULT_CRASH_MOVE
#define TEST_FAULT_CRASH_MOVE 0
#endif
#ifndef TEST_FAULT_NONFINITE
#define TEST_FAULT_NONFINITE 0
#endif
#ifndef TEST_FAULT_UNSELECTED
#define TEST_FAULT_UNSELECTED 0
#endif
#ifndef TEST_FAULT_TWOFOLD
#define TEST_FAULT_TWOFOLD 0
#endif
#ifndef TEST_FAULT_SLOW
#define TEST_FAULT_SLOW 0
#endif
#ifndef TEST_FAULT_LOAD_ALLOC
#define TEST_FAULT_LOAD_ALLOC 0
#endif
#ifndef TEST_FAULT_KEEP_BLOCK
#define TEST_FAULT_KEEP_BLOCK 0
#endif
static_assert(TEST_FAULT_TIME + TEST_FAULT_LEAK + TEST_FAULT_TRAP + TEST_FAULT_CRASH_MOVE + TEST_FAULT_NONFINITE +
                      TEST_FAULT_UNSELECTED + TEST_FAULT_TWOFOLD + TEST_FAULT_SLOW + TEST_FAULT_LOAD_ALLOC +
                      TEST_FAULT_KEEP_BLOCK <=
                  1,
              "define at most one TEST_FAULT_<FAULT> to 1");

namespace {

struct fault_item {
    host_item item;
    double start_x;
};

struct fault_instance {
    host_panel panel;
    host_control *step_field;
    fault_item *items; // owned; may be null
    int32_t count;
    int32_t gathered; // presses that gathered
    int32_t moves;
    int32_t changed;
};

struct fault_services {
    host_panel_services_v2 *panel;
    host_interface_info_v7 *interface_info;
    host_item_info_v6 *item;
    host_time_info *time;
    host_channel_info_v2 *channel;
    host_envelopes *envelopes;
} g_host;

float g_step = 0.01f; // remembered across activations of the loaded module

#if TEST_FAULT_LOAD_ALLOC
// Activations since the module was loaded, in a block allocated while loading. Volatile: an
// optimiser may otherwise turn a block only this pointer ever holds into a global of its own.
int32_t *volatile g_activations = nullptr;
__attribute__((constructor)) void count_from_load() {
    g_activations = static_cast<int32_t *>(calloc(1, sizeof(int32_t)));
}
bool late() { return g_activations && *g_activations >= 50; }
#else
bool late() { return false; }
#endif

#if TEST_FAULT_KEEP_BLOCK
void *volatile g_cache = nullptr; // at the first start-up of the loaded module, never freed (volatile: kept)
void *HOST_CALL keep_block_startup(void) {
    if (!g_cache) g_cache = malloc(64);
    return test_module_startup();
}
#define FAULT_STARTUP keep_block_startup
#else
#define FAULT_STARTUP test_module_startup
#endif

void gather(fault_instance *p) {
    if (TEST_FAULT_UNSELECTED && p->gathered > 0) return;
    ++p->gathered;
    int32_t n = 0;
    while (g_host.interface_info->selected[n]) ++n;
    if (n == 0) {
        free(p->items);
        p->items = nullptr;
        p->count = 0;
        return;
    }
    fault_item *grown = static_cast<fault_item *>(realloc(p->items, sizeof(fault_item) * static_cast<size_t>(n)));
    if (!grown) {
        p->count = 0; // the old table stays owned; nothing to key from
        return;
    }
    p->items = grown;
    p->count = n;
    for (int32_t i = 0; i < n; ++i) {
        double pos[3] = {0.0, 0.0, 0.0};
        p->items[i].item = g_host.interface_info->selected[i];
        g_host.item->param(p->items[i].item, HOST_ITEM_PARAM_WORLD_POSITION, g_host.time->time, pos);
        p->items[i].start_x = pos[0];
    }
}

// x - x is 0 for every finite x and NaN for NaN and the infinities (no library routine, whose
// out-of-line copy a debug build would export).
bool finite(double x) { return x - x == 0.0; }

void key_x(host_item item, double value) {
    if (!TEST_FAULT_NONFINITE && !finite(value)) return;
    const double now = TEST_FAULT_TIME || TEST_FAULT_TWOFOLD || late() ? g_host.time->time + 1.0 : g_host.time->time;
    host_group group = g_host.item->channel_group(item);
    for (host_channel ch = g_host.channel->next_channel(group, nullptr); ch;
         ch = g_host.channel->next_channel(group, ch)) {
        if (strcmp(g_host.channel->channel_name(ch), "Position.X") != 0) continue;
        host_envelope env = g_host.channel->channel_envelope(ch);
        host_key key = g_host.envelopes->find_key(env, now);
        if (key) g_host.envelopes->set_key_value(env, key, HOST_KEY_VALUE, &value);
        else g_host.envelopes->create_key(env, now, value);
        return;
    }
}

void HOST_CALL fault_step_event(host_control *c, void *data) {
    host_value_float v = {HOST_VALUE_FLOAT, 0, 0.0};
    c->get(c, HOST_CTL_VALUE, &v);
    g_step = static_cast<float>(v.value);
    static_cast<fault_instance *>(data)->changed = 1;
}

void HOST_CALL fault_release(void *inst) {
    fault_instance *p = static_cast<fault_instance *>(inst);
    if (g_host.panel->poll(p->panel, 0) >= 0) g_host.panel->close(p->panel);
    g_host.panel->destroy(p->panel);
    if (!TEST_FAULT_LEAK) free(p->items);
    free(p);
}

uint16_t HOST_CALL fault_key(host_panel, void *, uint16_t key) { return key; }

void HOST_CALL fault_draw(void *, const host_draw_record *) {}
const char *HOST_CALL fault_text(void *, const host_tool_event *) { return "Nudge"; }
int32_t HOST_CALL fault_change(void *inst) {
    return static_cast<fault_instance *>(inst)->changed ? HOST_CHANGE_QUERY_CHANGED : HOST_CHANGE_QUERY_UNCHANGED;
}
int32_t HOST_CALL fault_zero(void *, const host_tool_event *) { return 0; }
int32_t HOST_CALL fault_handle_position(void *, const host_tool_event *, int32_t, double *) { return 0; }
int32_t HOST_CALL fault_adjust(void *, const host_tool_event *, int32_t) { return 0; }

int32_t HOST_CALL fault_press(void *inst, const host_tool_event *) {
    fault_instance *p = static_cast<fault_instance *>(inst);
    gather(p);
    return 1;
}

void HOST_CALL fault_move(void *inst, const host_tool_event *e) {
    fault_instance *p = static_cast<fault_instance *>(inst);
    if (TEST_FAULT_CRASH_MOVE && ++p->moves == 3) {
        volatile int32_t *volatile nowhere = nullptr;
        *nowhere = 1;
    }
    for (int32_t i = 0; i < p->count; ++i) key_x(p->items[i].item, p->items[i].start_x + e->dx * g_step);
    p->changed = 1;
}

void HOST_CALL fault_up(void *, const host_tool_event *) {
    if (TEST_FAULT_TRAP) g_host.item->reserved0[0]();
}

void HOST_CALL fault_notify(void *inst, int32_t code) {
    if (code == 1) static_cast<fault_instance *>(inst)->changed = 1;
}

int32_t HOST_CALL fault_activate(int32_t, host_global_fn global, void *local_record, void *) {
#if TEST_FAULT_SLOW
#ifdef _WIN32
    Sleep(10);
#else
    const struct timespec pause = {0, 10 * 1000 * 1000};
    nanosleep(&pause, nullptr);
#endif
#endif
    host_local_record *local = static_cast<host_local_record *>(local_record);
    g_host.panel = static_cast<host_panel_services_v2 *>(global(HOST_SERVICE_PANEL, 0));
    g_host.interface_info = static_cast<host_interface_info_v7 *>(global(HOST_SERVICE_INTERFACE, 0));
    g_host.item = static_cast<host_item_info_v6 *>(global(HOST_SERVICE_ITEM, 0));
    g_host.time = static_cast<host_time_info *>(global(HOST_SERVICE_TIME, 0));
    g_host.channel = static_cast<host_channel_info_v2 *>(global(HOST_SERVICE_CHANNEL, 0));
    g_host.envelopes = static_cast<host_envelopes *>(global(HOST_SERVICE_ENVELOPES, 0));
    if (!g_host.panel || !g_host.interface_info || !g_host.item || !g_host.time || !g_host.channel || !g_host.envelopes)
        return 2;
#if TEST_FAULT_LOAD_ALLOC
    if (g_activations) ++*g_activations;
#endif
    fault_instance *p = static_cast<fault_instance *>(calloc(1, sizeof(fault_instance)));
    if (!p) return 1;
    g_host.panel->global = global;
    p->panel = g_host.panel->create("Nudge", nullptr);
    if (!p->panel) {
        free(p);
        return 2;
    }
    host_control_desc desc;
    desc.plain.kind = HOST_CTL_FLOAT;
    int32_t size[2] = {100, TEST_FAULT_TWOFOLD ? 10 : 40};
    g_host.panel->set(p->panel, HOST_PANEL_W, &size[0]);
    g_host.panel->set(p->panel, HOST_PANEL_H, &size[1]);
    p->step_field = g_host.panel->add_control(p->panel, HOST_TYPE_FLOAT, &desc, " Step");
    host_value_float value = {HOST_VALUE_FLOAT, 0, g_step};
    p->step_field->set(p->step_field, HOST_CTL_VALUE, &value);
    host_value_pointer v = {HOST_VALUE_INT, p};
    p->step_field->set(p->step_field, HOST_CTL_USER_DATA, &v);
    v.pointer = reinterpret_cast<void *>(fault_step_event);
    p->step_field->set(p->step_field, HOST_CTL_EVENT, &v);
    g_host.panel->open(p->panel, 0);
    g_host.panel->set(p->panel, HOST_PANEL_KEY_CALLBACK, reinterpret_cast<void *>(fault_key));

    local->instance = p;
    host_tool_callbacks *t = local->callbacks;
    t->release = fault_release;
    t->draw = fault_draw;
    t->tool_text = fault_text;
    t->change_query = fault_change;
    t->handle_count = fault_zero;
    t->handle_position = fault_handle_position;
    t->drag_start = fault_press;
    t->handle_adjust = fault_adjust;
    t->mouse_down = fault_press;
    t->mouse_move = fault_move;
    t->mouse_up = fault_up;
    t->notify = fault_notify;
    return 0;
}

const host_server_record fault_servers[] = {
    {HOST_CLASS_LAYOUT_TOOL, "Zendro_Nudge", fault_activate, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

} // namespace

extern "C" HOST_EXPORT const host_module_descriptor _mod_descrip;
extern "C" const host_module_descriptor _mod_descrip =
    test_module_descriptor(HOST_MODULE_SYNC, FAULT_STARTUP, test_module_shutdown, fault_servers);
