// SPDX-License-Identifier: MIT
// The custom rotation tool's panel: origin and method choices, the H, P, B angle column and the
// X, Y, Z centre column with their drag buttons, "Apply", and the item list that picks a centre.
#include "tools/custom_rotation/kardel.h"

static const char *const kardel_origin_items[] = {"Custom", "Average", nullptr};
static const char *const kardel_method_items[] = {"Keep", "Rotate", nullptr};
static const frame_columns_texts kardel_texts = {
    "Zendro Kardel",
    kardel_origin_items,
    kardel_method_items,
    {"Rotate", {" H", " P", " B"}},
    {"Origin", {" X", " Y", " Z"}},
};
static const int32_t KARDEL_LIST_GAP = 10; // pixels from the Method choice's width to the item list

static kardel_instance *kardel_cast(void *inst) { return static_cast<kardel_instance *>(inst); }

static void kardel_instance_update(kardel_instance *inst) { frame_host.instance_update(HOST_CLASS_LAYOUT_TOOL, inst); }

// ---- Control event callbacks ----

static void HOST_CALL kardel_field_changed(host_control *control, void *data) {
    kardel_instance *inst = kardel_cast(data);
    kardel_module_state &m = kardel_module;
    if (control == m.item_list) {
        const host_item item =
            reinterpret_cast<host_item>(static_cast<intptr_t>(frame_get_int(control, HOST_CTL_VALUE)));
        if (item) { // the list reports none when nothing is chosen: nothing to ask the host about
            double pos[3];
            frame_item_param(item, HOST_ITEM_PARAM_WORLD_POSITION, pos);
            for (int i = 0; i < 3; ++i) inst->pivot[i] = inst->centre[i] = pos[i];
            kardel_gather(inst);
            // The fields show the picked item even under "Average", where the gather has just moved
            // the centre to the selection's mean: the fields are the centre "Apply" takes once the
            // Origin choice is "Custom", and under "Average" every gather finds the mean afresh.
            kardel_show_point(pos);
        }
    } else {
        frame_columns_changed(&m.columns, control, &inst->origin, &inst->method, m.remembered, inst->centre);
    }
    inst->base.changed = 1;
    kardel_instance_update(inst);
}

// Steps the angle or centre field beside the button in single precision; no rotation, gather or
// "Instance Update" follows.
static void HOST_CALL kardel_drag_button(host_control *control, void *data) {
    kardel_instance *inst = kardel_cast(data);
    kardel_module_state &m = kardel_module;
    frame_nudge_row rows[6];
    frame_column_rows(&m.columns.left, m.remembered, nullptr, rows);
    frame_column_rows(&m.columns.right, nullptr, inst->centre, rows + 3); // the pivot stays where it was
    if (frame_nudge_rows(&m.drag, control, rows, 6, FRAME_NUDGE_SINGLE)) inst->base.changed = 1;
}

// Reads the choices, then the H, P, B and the X, Y, Z fields, in that order, and applies them.
static void HOST_CALL kardel_apply(host_control *, void *data) {
    kardel_module_state &m = kardel_module;
    kardel_apply_values v;
    v.origin = frame_get_int(m.columns.origin_choice, HOST_CTL_VALUE);
    v.method = frame_get_int(m.columns.method_choice, HOST_CTL_VALUE);
    for (int i = 0; i < 3; ++i) v.angles[i] = frame_single(frame_get_float(m.columns.left.field[i]));
    for (int i = 0; i < 3; ++i) v.centre[i] = frame_single(frame_get_float(m.columns.right.field[i]));
    kardel_apply_angles(kardel_cast(data), &v);
}

// ---- Build ----

host_panel kardel_build_panel(frame_instance *base) {
    kardel_instance *inst = reinterpret_cast<kardel_instance *>(base);
    kardel_module_state &m = kardel_module;
    host_panel panel = frame_columns_panel(&kardel_texts, &m.columns, inst->centre);
    if (!panel) return nullptr;
    host_control_desc list = {};
    list.item_list = {HOST_CTL_ITEM_LIST, base->global, HOST_ITEM_LIST_ITEM_TYPE, nullptr, 0, 0};
    m.item_list = frame_host.panel->add_control(panel, HOST_TYPE_ITEM_LIST, &list, "");

    // The angle column under "Rotate", the centre column under "Origin", "Apply" under the centre
    // column; the item list beside the Method choice.
    frame_place_columns(&m.columns);
    const int32_t list_y = frame_get_int(m.columns.method_choice, HOST_CTL_Y);
    frame_place(m.item_list, frame_get_int(m.columns.method_choice, HOST_CTL_W) + KARDEL_LIST_GAP, list_y);

    // Start values: the remembered angles, each in its own field; the centre at 0.
    frame_set_int(m.columns.origin_choice, HOST_CTL_VALUE, inst->origin);
    frame_set_int(m.columns.method_choice, HOST_CTL_VALUE, inst->method);
    for (int i = 0; i < 3; ++i) frame_set_float(m.columns.left.field[i], static_cast<double>(m.remembered[i]));
    kardel_show_point(inst->centre);

    frame_panel_fit(panel, m.columns.apply);

    frame_hook_up_columns(&m.columns, m.item_list, inst, kardel_field_changed, kardel_drag_button, kardel_apply);

    inst->base.changed = 1;
    return panel;
}
