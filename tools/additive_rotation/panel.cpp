// SPDX-License-Identifier: MIT
// The additive rotation tool's panel: the H, P, B angle fields with their drag buttons, "Apply",
// and the three info fields that show the last drag angles.
#include "tools/additive_rotation/strova.h"

static const int32_t STROVA_PANEL_W = 200, STROVA_PANEL_H = 120; // pixels, set after the layout

static strova_instance *strova_cast(void *inst) { return static_cast<strova_instance *>(inst); }

// ---- Control event callbacks ----

static void HOST_CALL strova_angle_field(host_control *control, void *data) {
    strova_module_state &m = strova_module;
    for (int i = 0; i < 3; ++i) {
        if (control == m.angle_field[i]) m.remembered[i] = static_cast<float>(frame_get_float(control));
    }
    strova_cast(data)->base.changed = 1; // nothing reaches the scene until "Apply"
}

// Serves the drag buttons, which step their row's field, and the info fields, which only take
// their turn in the drag memory.
static void HOST_CALL strova_drag_button(host_control *control, void *data) {
    strova_module_state &m = strova_module;
    int row = -1;
    for (int i = 0; i < 3; ++i) {
        if (control == m.drag_button[i]) row = i;
    }
    const int32_t n = frame_get_int(control, HOST_CTL_VALUE);
    // The field is read only when this event can step it: not for a newly used control.
    if (!frame_nudge_accept(&m.drag, control, n) || row < 0) return;
    float stepped;
    if (!frame_nudge_step(&m.drag, n, frame_get_float(m.angle_field[row]), FRAME_NUDGE_DOUBLE, &stepped)) return;
    frame_set_float(m.angle_field[row], static_cast<double>(stepped));
    strova_cast(data)->base.changed = 1;
    m.remembered[row] = stepped;
}

// Adds the three fields' angles to the selection; neither marks a change nor touches the info fields.
static void HOST_CALL strova_apply(host_control *, void *data) {
    strova_module_state &m = strova_module;
    for (int i = 0; i < 3; ++i) m.remembered[i] = static_cast<float>(frame_get_float(m.angle_field[i]));
    strova_apply_panel_angles(strova_cast(data), static_cast<double>(m.remembered[STROVA_H]),
                              static_cast<double>(m.remembered[STROVA_P]), static_cast<double>(m.remembered[STROVA_B]));
}

// ---- Build ----

// Places `control` at x = the width of `x_from` times `x_times`, y = the y of `y_from`; reads in
// that order, then sets x and y.
static void strova_place_beside(host_control *control, host_control *x_from, int32_t x_times, host_control *y_from) {
    const int32_t x = x_times * frame_get_int(x_from, HOST_CTL_W);
    const int32_t y = frame_get_int(y_from, HOST_CTL_Y);
    frame_place(control, x, y);
}

// Places `control` at its own x, below `above`: y = above's y (when `with_y`) plus above's height.
static void strova_place_below(host_control *control, host_control *above, int with_y) {
    const int32_t x = frame_get_int(control, HOST_CTL_X);
    const int32_t y = (with_y ? frame_get_int(above, HOST_CTL_Y) : 0) + frame_get_int(above, HOST_CTL_H);
    frame_place(control, x, y);
}

host_panel strova_build_panel(frame_instance *base) {
    strova_module_state &m = strova_module;
    host_panel panel = frame_host.panel->create("Zendro Strova", nullptr);
    if (!panel) return nullptr;

    static const char *const field_labels[3] = {" H", " P", " B"};
    static const char *const info_labels[3] = {"H", "P", "B"};
    for (int i = 0; i < 3; ++i) m.angle_field[i] = frame_add_float(panel, field_labels[i]);
    for (int i = 0; i < 3; ++i) m.drag_button[i] = frame_add_drag_button(panel);
    m.apply_button = frame_add_button(panel, "Apply");
    host_control_desc info = {};
    info.pair = {HOST_CTL_INFO, 10, 0};
    for (int i = 0; i < 3; ++i)
        m.info_field[i] = frame_host.panel->add_control(panel, HOST_TYPE_INFO, &info, info_labels[i]);

    // Row by row: the drag button right of its field, the info field at four drag-button widths,
    // the next row's field below. The pitch row's y is the heading field's height alone.
    host_control *const *af = m.angle_field, *const *db = m.drag_button, *const *inf = m.info_field;
    strova_place_beside(db[STROVA_H], af[STROVA_H], 1, af[STROVA_H]);
    strova_place_below(af[STROVA_P], af[STROVA_H], 0);
    strova_place_beside(inf[STROVA_H], db[STROVA_H], 4, af[STROVA_H]);
    strova_place_beside(db[STROVA_P], af[STROVA_P], 1, af[STROVA_P]);
    strova_place_below(af[STROVA_B], af[STROVA_P], 1);
    strova_place_beside(inf[STROVA_P], db[STROVA_P], 4, af[STROVA_P]);
    strova_place_beside(db[STROVA_B], af[STROVA_B], 1, af[STROVA_B]);
    strova_place_below(m.apply_button, af[STROVA_B], 1);
    strova_place_beside(inf[STROVA_B], db[STROVA_B], 4, af[STROVA_B]);

    frame_panel_size(panel, STROVA_PANEL_W, STROVA_PANEL_H);

    // No start values: the fields keep the toolkit's own, the remembered angles are not shown.
    frame_hook_up(m.angle_field, 3, base, strova_angle_field);
    frame_hook_up(m.drag_button, 3, base, strova_drag_button);
    frame_hook_up(m.info_field, 3, base, strova_drag_button);
    frame_hook_up(&m.apply_button, 1, base, strova_apply);

    base->changed = 1;
    return panel;
}
