// SPDX-License-Identifier: MIT
// The custom rotation tool in the viewports: the centre cross, the press that grabs the centre or
// starts a rotation, and the moves that rotate the selection live from the press.
#include "frame/c_runtime.h"

#include "tools/custom_rotation/kardel.h"

static const double KARDEL_FINE_STEP = 0.01; // degrees per unit of the first drag amount

static kardel_instance *kardel_cast(void *inst) { return static_cast<kardel_instance *>(inst); }

// The field that shows the angle about an axis: X in P, Y in H, Z in B.
static host_control *kardel_axis_field(int32_t axis) {
    const int32_t k = frame_axis_number(axis);
    return kardel_module.columns.left.field[k == 1 ? KARDEL_P : k == 2 ? KARDEL_H : KARDEL_B];
}

// The drag angle in the field of the axis and the centre in X, Y, Z, while the panel is open.
static void kardel_show_drag(kardel_instance *inst) {
    if (!frame_panel_open(inst->base.panel)) return;
    frame_set_float(kardel_axis_field(inst->base.axis), frame_single(inst->angle));
    kardel_show_point(inst->centre);
}

extern "C" void HOST_CALL kardel_draw(void *instance, const host_draw_record *draw) {
    kardel_instance *inst = kardel_cast(instance);
    frame_draw_marker(draw, inst->centre, inst->centre_grabbed);
}

static void kardel_press_gather(frame_instance *base) { kardel_gather(kardel_cast(base)); }

// A press grabs the centre when it lies on the cross around the pivot, where the centre stood at
// the last gather.
static int kardel_grab(frame_instance *base, const host_tool_event *e) {
    kardel_instance *inst = kardel_cast(base);
    inst->centre_grabbed = frame_marker_grabbed(e, inst->pivot);
    return inst->centre_grabbed;
}

extern "C" void HOST_CALL kardel_mouse_move(void *instance, const host_tool_event *e) {
    kardel_instance *inst = kardel_cast(instance);
    inst->angle = 0.0;
    if (inst->centre_grabbed) {
        // The centre moves in the plane through the pivot square to the axis.
        double p[3];
        frame_drag_point(e, frame_axis_number(inst->base.axis), inst->pivot, p);
        for (int i = 0; i < 3; ++i) inst->pivot[i] = inst->centre[i] = p[i];
        if (frame_panel_open(inst->base.panel)) kardel_show_point(inst->centre);
        return;
    }
    const double n = static_cast<double>(e->dx);
    inst->angle = (e->flags & HOST_TOOL_FLAG_ALT) ? n : n * KARDEL_FINE_STEP;
    kardel_show_drag(inst);
    kardel_rotate_about_axis(inst, inst->base.axis, inst->angle);
    inst->base.changed = 1;
}

extern "C" void HOST_CALL kardel_mouse_up(void *instance, const host_tool_event *) {
    kardel_show_drag(kardel_cast(instance));
}

// The axis code is the axis number alone.
const frame_viewport kardel_viewport = {
    0, kardel_press_gather, kardel_grab, kardel_draw, kardel_mouse_move, kardel_mouse_up,
};
