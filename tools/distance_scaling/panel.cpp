// SPDX-License-Identifier: MIT
// The distance scaling tool's panel: origin and method choices, the Scale column of factors and the
// Origin column of coordinates with their drag buttons, and "Apply", which keys the typed factors.
#include "tools/distance_scaling/menlix.h"

static const char *const menlix_origin_items[] = {"Custom", "Center of Objs", nullptr};
static const char *const menlix_method_items[] = {"Stretch", "Stretch Flat", "Scale", nullptr};
static const frame_columns_texts menlix_texts = {
    "Zendro Menlix",
    menlix_origin_items,
    menlix_method_items,
    {"Scale", {" X", " Y", " Z"}},
    {"Origin", {" X", " Y", " Z"}},
};

static menlix_instance *menlix_cast(void *inst) { return static_cast<menlix_instance *>(inst); }

static void menlix_show(host_control *field, double value) { frame_set_float(field, frame_single(value)); }

void menlix_show_factors(menlix_instance *inst) {
    menlix_module_state &m = menlix_module;
    const double h = inst->horizontal, v = inst->vertical;
    double shown[3] = {h, h, h};
    if (inst->method == MENLIX_METHOD_STRETCH) {
        // Viewing along X the fields read horizontal, vertical in Y, Z, although the keys put the
        // horizontal factor on Z and the vertical one on Y.
        switch (menlix_view_axis(inst)) {
        case 1:
            shown[0] = 1.0;
            shown[1] = h;
            shown[2] = v;
            break;
        case 2:
            shown[0] = h;
            shown[1] = 1.0;
            shown[2] = v;
            break;
        default:
            shown[0] = h;
            shown[1] = v;
            shown[2] = 1.0;
            break;
        }
    }
    for (int c = 0; c < 3; ++c) menlix_show(m.columns.left.field[c], shown[c]);
    for (int c = 0; c < 3; ++c) menlix_show(m.columns.right.field[c], inst->custom_origin[c]);
}

// ---- Control event callbacks ----

static void HOST_CALL menlix_value_changed(host_control *control, void *data) {
    menlix_instance *inst = menlix_cast(data);
    menlix_module_state &m = menlix_module;
    const int row =
        frame_columns_changed(&m.columns, control, &inst->origin_mode, &inst->method, m.scale, inst->custom_origin);
    // A typed coordinate moves the cross and the origin of the next scaling at once.
    if (row >= 0 && row < 3) inst->working_origin[row] = inst->custom_origin[row];
    inst->base.changed = 1;
}

// Steps the Scale or Origin field beside the button, computed in double, kept in single precision.
static void HOST_CALL menlix_drag_button(host_control *control, void *data) {
    menlix_instance *inst = menlix_cast(data);
    menlix_module_state &m = menlix_module;
    frame_nudge_row rows[6];
    frame_column_rows(&m.columns.left, m.scale, nullptr, rows);
    // The working origin stays; in "Custom" mode the next gather takes the nudged point.
    frame_column_rows(&m.columns.right, nullptr, inst->custom_origin, rows + 3);
    if (frame_nudge_rows(&m.drag, control, rows, 6, FRAME_NUDGE_DOUBLE)) inst->base.changed = 1;
}

static void HOST_CALL menlix_apply(host_control *, void *data) { menlix_panel_apply(menlix_cast(data)); }

// ---- Build ----

host_panel menlix_build_panel(frame_instance *base) {
    menlix_instance *inst = reinterpret_cast<menlix_instance *>(base);
    menlix_module_state &m = menlix_module;
    host_panel panel = frame_columns_panel(&menlix_texts, &m.columns, inst->custom_origin);
    if (!panel) return nullptr;

    // A choice control can show only the items it lists. Every instance starts inside both ranges,
    // so this changes nothing today; it stays so that no start value the choices cannot show ever
    // reaches them, wherever the instance's settings come from.
    if (inst->origin_mode < 0 || inst->origin_mode > 1) inst->origin_mode = MENLIX_ORIGIN_CUSTOM;
    if (inst->method < 0 || inst->method > 2) inst->method = MENLIX_METHOD_STRETCH;

    // The Scale column under its heading, the Origin column under its own, "Apply" under Origin Z.
    frame_place_columns(&m.columns);
    host_control *const *sf = m.columns.left.field, *const *of = m.columns.right.field;

    // Start values: the choices from the instance, the remembered factors, the origin at 0.
    frame_set_int(m.columns.origin_choice, HOST_CTL_VALUE, inst->origin_mode);
    frame_set_int(m.columns.method_choice, HOST_CTL_VALUE, inst->method);
    for (int c = 0; c < 3; ++c) frame_set_float(sf[c], static_cast<double>(m.scale[c]));
    for (int c = 0; c < 3; ++c) menlix_show(of[c], inst->custom_origin[c]);

    frame_panel_fit(panel, m.columns.apply);

    frame_hook_up_columns(&m.columns, nullptr, inst, menlix_value_changed, menlix_drag_button, menlix_apply);

    inst->base.changed = 1;
    return panel;
}
