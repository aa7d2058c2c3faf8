// SPDX-License-Identifier: MIT
// A small module that exercises the simulator from the module's side of the interface, for the
// simulator's own tests: loading, activation, the callback table, panels, drawing, key writes and
// the allocation hooks across a run-time loaded library. Not a deliverable; never installed.
//
// Behaviour:
//   activation   allocates the instance (1 when that fails), binds every service, builds a panel
//                "Probe" of 100x40 with one FloatControl " V" (2 when create panel fails), opens it,
//                sets the key callback, fills slots 0 to 11
//   mouse_move   allocates and frees a block of dx bytes (at least 1); keys "Position.X" of every
//                selected item to dx at the current time
//   draw         sets white and draws one line from (1,2,0.01) to (3,4,0.01) in code 3; in
//                viewport 7 it also calls the drawing record's first unnamed routine
//   notify       code 2 calls "Instance Update"; codes 3 to 8 work one held block, for the
//                allocation hook tests: 3 held = malloc(40), 4 free(held) (held kept, so a second 4
//                frees it twice), 5 free of a static object's address (never allocated),
//                6 held = realloc(held, 4000) when that succeeds, 7 held = realloc(held, 0),
//                8 held = calloc(5, 8)
//   tool_text    "Probe"
#include <stdlib.h>
#include <string.h>

#include "interface/host_interface.h"
#include "tests/modules/test_module.h"

namespace {

struct probe_instance {
    int32_t changed;
    host_panel panel;
    host_control *field;
};

host_panel_services_v2 *g_panel;
host_interface_info_v7 *g_interface;
host_item_info_v6 *g_item;
host_time_info *g_time;
host_channel_info_v2 *g_channel;
host_envelopes *g_envelopes;
host_instance_update_fn g_update;
// Where mouse_move parks its block, so the compiler cannot drop the allocation.
void *volatile g_block;
// The block notify works on, and an object no allocator handed out.
void *volatile g_held;
char g_not_a_block[16];
void *volatile g_foreign = g_not_a_block;

uint16_t HOST_CALL probe_key(host_panel, void *, uint16_t key) { return key; }

void HOST_CALL probe_field_event(host_control *, void *data) { static_cast<probe_instance *>(data)->changed = 1; }

void HOST_CALL probe_release(void *inst) {
    probe_instance *p = static_cast<probe_instance *>(inst);
    if (g_panel->poll(p->panel, 0) >= 0) g_panel->close(p->panel);
    g_panel->destroy(p->panel);
    free(p);
}

void HOST_CALL probe_draw(void *, const host_draw_record *d) {
    const float white[4] = {1.0f, 1.0f, 1.0f, 1.0f};
    const double a[3] = {1, 2, 0.01}, b[3] = {3, 4, 0.01};
    d->set_colour(d->display, white);
    d->draw_line(d->display, a, b, HOST_DRAW_WINDOW);
    if (d->viewport == 7) d->reserved_slots[0]();
}

const char *HOST_CALL probe_text(void *, const host_tool_event *) { return "Probe"; }
int32_t HOST_CALL probe_change(void *inst) { return static_cast<probe_instance *>(inst)->changed ? 3 : 0; }
int32_t HOST_CALL probe_zero(void *, const host_tool_event *) { return 0; }
int32_t HOST_CALL probe_handle_position(void *, const host_tool_event *, int32_t index, double *) { return index + 1; }
int32_t HOST_CALL probe_one(void *, const host_tool_event *) { return 1; }
int32_t HOST_CALL probe_adjust(void *, const host_tool_event *, int32_t) { return 0; }

void HOST_CALL probe_move(void *inst, const host_tool_event *e) {
    g_block = malloc(e->dx > 0 ? static_cast<size_t>(e->dx) : 1u);
    free(g_block);
    const double now = g_time->time;
    for (const host_item *it = g_interface->selected; *it; ++it) {
        host_group group = g_item->channel_group(*it);
        for (host_channel ch = g_channel->next_channel(group, nullptr); ch; ch = g_channel->next_channel(group, ch)) {
            if (strcmp(g_channel->channel_name(ch), "Position.X") != 0) continue;
            host_envelope env = g_channel->channel_envelope(ch);
            double value = e->dx;
            host_key key = g_envelopes->find_key(env, now);
            if (key) g_envelopes->set_key_value(env, key, HOST_KEY_VALUE, &value);
            else g_envelopes->create_key(env, now, value);
        }
    }
    static_cast<probe_instance *>(inst)->changed = 1;
}

void HOST_CALL probe_up(void *, const host_tool_event *) {}

void HOST_CALL probe_notify(void *inst, int32_t code) {
    switch (code) {
    case 2: g_update(HOST_CLASS_LAYOUT_TOOL, inst); break;
    case 3: g_held = malloc(40); break;
    case 4: free(g_held); break;
    case 5: free(g_foreign); break;
    case 6: {
        void *grown = realloc(g_held, 4000);
        if (grown) g_held = grown;
        break;
    }
    case 7: g_held = realloc(g_held, 0); break;
    case 8: g_held = calloc(5, 8); break;
    default: break;
    }
}

int32_t HOST_CALL probe_activate(int32_t, host_global_fn global, void *local_record, void *) {
    host_local_record *local = static_cast<host_local_record *>(local_record);
    probe_instance *p = static_cast<probe_instance *>(malloc(sizeof(probe_instance)));
    if (!p) return 1;
    memset(p, 0, sizeof *p);
    global(HOST_SERVICE_INFO_MESSAGES, 0);
    g_panel = static_cast<host_panel_services_v2 *>(global(HOST_SERVICE_PANEL, 0));
    global(HOST_SERVICE_COMMAND, 0);
    global(HOST_SERVICE_VIEWPORT, 0);
    global(HOST_SERVICE_PRODUCT, 0);
    g_interface = static_cast<host_interface_info_v7 *>(global(HOST_SERVICE_INTERFACE, 0));
    g_item = static_cast<host_item_info_v6 *>(global(HOST_SERVICE_ITEM, 0));
    g_time = static_cast<host_time_info *>(global(HOST_SERVICE_TIME, 0));
    g_channel = static_cast<host_channel_info_v2 *>(global(HOST_SERVICE_CHANNEL, 0));
    g_envelopes = static_cast<host_envelopes *>(global(HOST_SERVICE_ENVELOPES, 0));
    g_update = reinterpret_cast<host_instance_update_fn>(global(HOST_SERVICE_INSTANCE_UPDATE, 0));
    local->instance = p;
    g_panel->global = global;
    p->panel = g_panel->create("Probe", nullptr);
    if (!p->panel) {
        local->instance = nullptr;
        free(p);
        return 2;
    }
    host_control_desc desc;
    desc.plain.kind = HOST_CTL_FLOAT;
    int32_t size[2] = {100, 40}; // room for the field in its corner
    g_panel->set(p->panel, HOST_PANEL_W, &size[0]);
    g_panel->set(p->panel, HOST_PANEL_H, &size[1]);
    p->field = g_panel->add_control(p->panel, HOST_TYPE_FLOAT, &desc, " V");
    host_value_pointer v = {HOST_VALUE_INT, p};
    p->field->set(p->field, HOST_CTL_USER_DATA, &v);
    v.pointer = reinterpret_cast<void *>(probe_field_event);
    p->field->set(p->field, HOST_CTL_EVENT, &v);
    g_panel->open(p->panel, 0);
    g_panel->set(p->panel, HOST_PANEL_KEY_CALLBACK, reinterpret_cast<void *>(probe_key));

    host_tool_callbacks *t = local->callbacks;
    t->release = probe_release;
    t->draw = probe_draw;
    t->tool_text = probe_text;
    t->change_query = probe_change;
    t->handle_count = probe_zero;
    t->handle_position = probe_handle_position;
    t->drag_start = probe_one;
    t->handle_adjust = probe_adjust;
    t->mouse_down = probe_one;
    t->mouse_move = probe_move;
    t->mouse_up = probe_up;
    t->notify = probe_notify;
    return 0;
}

const host_server_record probe_servers[] = {
    {HOST_CLASS_LAYOUT_TOOL, "Zendro_Probe", probe_activate, nullptr},
    {nullptr, nullptr, nullptr, nullptr},
};

} // namespace

extern "C" HOST_EXPORT const host_module_descriptor _mod_descrip;
extern "C" const host_module_descriptor _mod_descrip =
    test_module_descriptor(HOST_MODULE_SYNC, test_module_startup, test_module_shutdown, probe_servers);
