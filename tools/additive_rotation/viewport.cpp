// SPDX-License-Identifier: MIT
// The additive rotation tool in the viewports: the press picks the channel from the view's axis
// and takes the snapshot; every move turns the first drag amount into an angle, shows the last
// drag angles in the info fields and keys the driven channel from the press snapshot.
#include "frame/c_runtime.h"

#include "tools/additive_rotation/strova.h"

static const double STROVA_FINE_STEP = 0.1; // degrees per unit of the first drag amount
// "%f" of the largest double needs 309 digits before the point; room for any double, sign and NUL.
static const size_t STROVA_TEXT_ROOM = 512;
// The length field of every info text: 10, the number the info fields are created with (panel.cpp),
// not the length of the text, which ends with its NUL.
static const int32_t STROVA_INFO_LENGTH = 10;

static strova_instance *strova_cast(void *inst) { return static_cast<strova_instance *>(inst); }

extern "C" void HOST_CALL strova_draw(void *, const host_draw_record *) {}

// Every press and drag start takes a snapshot: a tie at a press drives pitch (1), at a drag start
// it keeps the previous channel.
static void strova_press_snapshot(frame_instance *base) { strova_snapshot(strova_cast(base)); }

extern "C" void HOST_CALL strova_mouse_move(void *instance, const host_tool_event *e) {
    strova_instance *inst = strova_cast(instance);
    const double d = static_cast<double>(e->dx);
    inst->drag_angle = (e->flags & HOST_TOOL_FLAG_ALT) ? d * FRAME_DEG_TO_RAD : d * STROVA_FINE_STEP * FRAME_DEG_TO_RAD;
    const int channel = strova_axis_channel(inst->base.axis);
    if (channel >= 0) inst->last_drag[channel] = inst->drag_angle;

    for (int c = 0; c < 3; ++c) {
        char text[STROVA_TEXT_ROOM];
        snprintf(text, sizeof text, "%f", inst->last_drag[c] * FRAME_RAD_TO_DEG);
        frame_set_text(strova_module.info_field[c], text, STROVA_INFO_LENGTH);
    }
    strova_apply_drag_angle(inst);
    inst->base.changed = 1;
}

extern "C" void HOST_CALL strova_mouse_up(void *, const host_tool_event *) {}

// The axis code keeps the sign of the view's axis; there is no marker to grab.
const frame_viewport strova_viewport = {
    1, strova_press_snapshot, nullptr, strova_draw, strova_mouse_move, strova_mouse_up,
};
