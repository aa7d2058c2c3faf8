// SPDX-License-Identifier: MIT
// The distance scaling tool in the viewports: the origin cross, the press that picks the origin or
// starts a scaling drag, and the moves that drag the origin or scale the selection live from the
// press.
#include "tools/distance_scaling/menlix.h"

static const double MENLIX_FINE_STEP = 0.01;  // factor per unit of a drag amount
static const double MENLIX_COARSE_STEP = 0.1; // the same with the alternative flag

static menlix_instance *menlix_cast(void *inst) { return static_cast<menlix_instance *>(inst); }

extern "C" void HOST_CALL menlix_draw(void *instance, const host_draw_record *draw) {
    menlix_instance *inst = menlix_cast(instance);
    frame_draw_marker(draw, inst->custom_origin, inst->origin_picked);
}

static void menlix_press_gather(frame_instance *base) { menlix_gather(menlix_cast(base)); }

// Only a custom origin can be picked; the centre of the selection follows the items.
static int menlix_grab(frame_instance *base, const host_tool_event *e) {
    menlix_instance *inst = menlix_cast(base);
    inst->origin_picked = inst->origin_mode == MENLIX_ORIGIN_CUSTOM && frame_marker_grabbed(e, inst->working_origin);
    return inst->origin_picked;
}

extern "C" void HOST_CALL menlix_mouse_move(void *instance, const host_tool_event *e) {
    menlix_instance *inst = menlix_cast(instance);
    inst->horizontal = 1.0;
    inst->vertical = 1.0;
    const int alt = (e->flags & HOST_TOOL_FLAG_ALT) != 0;

    if (inst->origin_picked) {
        // The origin moves in the viewing plane through the working origin.
        double p[3];
        frame_drag_point(e, menlix_view_axis(inst), inst->working_origin, p);
        for (int c = 0; c < 3; ++c) inst->working_origin[c] = inst->custom_origin[c] = p[c];
        return;
    }

    // Every move starts again from the press: the factors depend on the drag amounts alone.
    const double step = alt ? MENLIX_COARSE_STEP : MENLIX_FINE_STEP;
    inst->horizontal = 1.0 + static_cast<double>(e->dx) * step;
    inst->vertical = 1.0 + static_cast<double>(e->dy) * step;
    menlix_show_factors(inst);
    menlix_write_keys(inst);
    inst->base.changed = 1;
}

extern "C" void HOST_CALL menlix_mouse_up(void *instance, const host_tool_event *) {
    menlix_show_factors(menlix_cast(instance));
}

// The view axis code keeps the sign of the view's axis.
const frame_viewport menlix_viewport = {
    1, menlix_press_gather, menlix_grab, menlix_draw, menlix_mouse_move, menlix_mouse_up,
};
