// SPDX-License-Identifier: MIT
// The activation frame common to the three tools: instance allocation, the remembered settings'
// first-activation defaults, service binding in the host's fixed order, the panel, the tool-callback
// table; and the release of an instance.
#include "frame/c_runtime.h"

#include "frame/host_helpers.h"

int32_t frame_settings_marker;

static const int32_t FRAME_MARKER_SET = 333;
static const int32_t FRAME_INITIAL_ITEMS = 2;

// Binds every service by name with mode 0, always in this order; nothing else is asked for.
static void frame_bind_services(host_global_fn global, int with_instance_update) {
    frame_host.info_messages = global(HOST_SERVICE_INFO_MESSAGES, 0);
    frame_host.panel = static_cast<host_panel_services_v2 *>(global(HOST_SERVICE_PANEL, 0));
    frame_host.command = global(HOST_SERVICE_COMMAND, 0);
    frame_host.viewport = static_cast<host_viewport_info_v5 *>(global(HOST_SERVICE_VIEWPORT, 0));
    frame_host.product = static_cast<int32_t>(reinterpret_cast<intptr_t>(global(HOST_SERVICE_PRODUCT, 0)));
    frame_host.interface_info = static_cast<host_interface_info_v7 *>(global(HOST_SERVICE_INTERFACE, 0));
    frame_host.item = static_cast<host_item_info_v6 *>(global(HOST_SERVICE_ITEM, 0));
    frame_host.time = static_cast<host_time_info *>(global(HOST_SERVICE_TIME, 0));
    frame_host.channel = static_cast<host_channel_info_v2 *>(global(HOST_SERVICE_CHANNEL, 0));
    frame_host.envelopes = static_cast<host_envelopes *>(global(HOST_SERVICE_ENVELOPES, 0));
    frame_host.instance_update = nullptr;
    if (with_instance_update) {
        frame_host.instance_update = reinterpret_cast<host_instance_update_fn>(global(HOST_SERVICE_INSTANCE_UPDATE, 0));
    }
}

// 1 when every service the tool relies on came back.
static int frame_services_present(unsigned needs) {
    if ((needs & FRAME_NEEDS_PANEL) && !frame_host.panel) return 0;
    if ((needs & FRAME_NEEDS_VIEWPORT) && !frame_host.viewport) return 0;
    if ((needs & FRAME_NEEDS_SCENE) && (!frame_host.interface_info || !frame_host.item || !frame_host.time ||
                                        !frame_host.channel || !frame_host.envelopes))
        return 0;
    if ((needs & FRAME_NEEDS_INSTANCE_UPDATE) && !frame_host.instance_update) return 0;
    return 1;
}

static void frame_free_instance(frame_instance *inst) {
    free(inst->items);
    free(inst);
}

static uint16_t HOST_CALL frame_panel_key(host_panel, void *, uint16_t key) { return key; }

extern "C" int32_t HOST_CALL frame_activate(int32_t, host_global_fn global, void *local_record, void *) {
    const frame_tool &tool = frame_tool_definition;
    host_local_record *local = static_cast<host_local_record *>(local_record);

    frame_instance *inst = static_cast<frame_instance *>(malloc(tool.instance_size));
    if (!inst) return 1;
    memset(inst, 0, tool.instance_size);
    inst->items = malloc(tool.item_size * FRAME_INITIAL_ITEMS);
    inst->item_capacity = inst->items ? FRAME_INITIAL_ITEMS : 0;
    inst->global = global;

    if (frame_settings_marker != FRAME_MARKER_SET) {
        for (int i = 0; i < 3; ++i) tool.settings[i] = tool.settings_default;
        frame_settings_marker = FRAME_MARKER_SET;
    }
    inst->axis = tool.start_axis;
    if (tool.init_instance) tool.init_instance(inst);

    frame_bind_services(global, (tool.needs & FRAME_NEEDS_INSTANCE_UPDATE) != 0);
    if (!frame_services_present(tool.needs)) {
        // The tool cannot work without them; report it like a panel that could not be made.
        local->instance = nullptr;
        frame_free_instance(inst);
        return 2;
    }
    local->instance = inst;

    frame_host.panel->global = global;
    inst->panel = tool.build_panel(inst);
    if (!inst->panel) {
        // The host calls no release callback for a failed activation: free everything here.
        local->instance = nullptr;
        frame_free_instance(inst);
        return 2;
    }
    frame_host.panel->open(inst->panel, 0);
    frame_host.panel->set(inst->panel, HOST_PANEL_KEY_CALLBACK, reinterpret_cast<void *>(frame_panel_key));

    // Slots 0 to 11; slot 12 stays as the host gave it.
    host_tool_callbacks *table = local->callbacks;
    const frame_viewport *view = tool.viewport;
    table->release = frame_release;
    table->draw = view->draw;
    table->tool_text = frame_tool_text;
    table->change_query = frame_change_query;
    table->handle_count = frame_handle_count;
    table->handle_position = frame_handle_position;
    table->drag_start = frame_drag_start;
    table->handle_adjust = frame_handle_adjust;
    table->mouse_down = frame_mouse_down;
    table->mouse_move = view->mouse_move;
    table->mouse_up = view->mouse_up;
    table->notify = frame_notify;
    return 0;
}

extern "C" void HOST_CALL frame_release(void *instance) {
    frame_instance *inst = static_cast<frame_instance *>(instance);
    if (frame_host.panel->poll(inst->panel, 0) >= 0) frame_host.panel->close(inst->panel);
    frame_host.panel->destroy(inst->panel);
    frame_free_instance(inst);
}

extern "C" const char *HOST_CALL frame_tool_text(void *, const host_tool_event *) {
    return frame_tool_definition.tool_text;
}

extern "C" int32_t HOST_CALL frame_change_query(void *instance) {
    return static_cast<frame_instance *>(instance)->changed ? HOST_CHANGE_QUERY_CHANGED : HOST_CHANGE_QUERY_UNCHANGED;
}

extern "C" int32_t HOST_CALL frame_handle_count(void *, const host_tool_event *) { return 0; }

extern "C" int32_t HOST_CALL frame_handle_position(void *, const host_tool_event *, int32_t index, double *) {
    // index + 1, wrapping at the top of the int32 range as two's complement does: the host may
    // pass any index, and a signed overflow would be undefined.
    return index == INT32_MAX ? INT32_MIN : index + 1;
}

extern "C" int32_t HOST_CALL frame_handle_adjust(void *instance, const host_tool_event *, int32_t) {
    static_cast<frame_instance *>(instance)->changed = 1;
    return 0;
}

extern "C" int32_t HOST_CALL frame_drag_start(void *instance, const host_tool_event *e) {
    frame_instance *inst = static_cast<frame_instance *>(instance);
    const frame_viewport *view = frame_tool_definition.viewport;
    inst->axis = frame_dominant_axis(e->axis, inst->axis, view->signed_axis);
    view->gather(inst);
    return 1;
}

extern "C" int32_t HOST_CALL frame_mouse_down(void *instance, const host_tool_event *e) {
    frame_instance *inst = static_cast<frame_instance *>(instance);
    const frame_viewport *view = frame_tool_definition.viewport;
    inst->axis = frame_dominant_axis(e->axis, 1, view->signed_axis);
    if (!view->grab || !view->grab(inst, e)) view->gather(inst);
    return 1;
}

extern "C" void HOST_CALL frame_notify(void *instance, int32_t code) {
    if (code == 1) static_cast<frame_instance *>(instance)->changed = 1;
}

int32_t frame_resize_items(frame_instance *inst, int32_t count, size_t item_size) {
    inst->item_count = 0;
    if (count <= 0) {
        // realloc to zero bytes may free the block and return null: free it explicitly instead.
        free(inst->items);
        inst->items = nullptr;
        inst->item_capacity = 0;
        return 0;
    }
    if (static_cast<size_t>(count) > static_cast<size_t>(-1) / item_size) return 0;
    void *grown = realloc(inst->items, static_cast<size_t>(count) * item_size);
    if (!grown) return 0; // the old table stays with the instance; nothing is keyed from it
    inst->items = grown;
    inst->item_capacity = count;
    inst->item_count = count;
    return count;
}
