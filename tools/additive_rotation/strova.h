// SPDX-License-Identifier: MIT
// The additive rotation tool: adds an angle to the heading, pitch or bank of every selected item,
// keying the result at the current time. The angle comes from a viewport drag (one channel, chosen
// by the view) or from the panel's three fields and "Apply".
// instance.cpp: start values, remembered settings, the tool's definition · computation.cpp: selection
// snapshot, apply drag angle, apply panel angles · viewport.cpp: mouse callbacks · panel.cpp: the panel.
#ifndef TOOLS_ADDITIVE_ROTATION_STROVA_H
#define TOOLS_ADDITIVE_ROTATION_STROVA_H

#include "frame/host_helpers.h"

// Channel order in the item record, the instance and the panel: heading, pitch, bank.
enum { STROVA_H = 0, STROVA_P = 1, STROVA_B = 2 };

// One selected item, as the last selection snapshot found it.
struct strova_item {
    double rotation[3];   // H, P, B in radians at the current time, when the snapshot was taken
    host_item item;       // the selected item
    double new_values[3]; // H, P, B in radians, computed by the last apply; scratch
    host_envelope env[3]; // "Rotation.H", "Rotation.P", "Rotation.B"; none when the item lacks one
};

// One activation of the tool; owned by the module, freed by the release callback.
struct strova_instance {
    // Global function, changed flag, item count and records, panel, and the axis code, which picks
    // the channel of the viewport drag by its magnitude: 1 pitch, 2 heading, 3 bank, signed like the
    // view's axis. It starts at 0, which names no channel, so that a move before any press writes
    // nothing.
    frame_instance base;
    double drag_angle;   // radians, derived afresh by every mouse move
    double last_drag[3]; // radians, the drag angle last applied to H, P, B; shown in the info fields
};

// Module-level state: shared by every instance of the loaded module.
struct strova_module_state {
    // H, P, B in degrees, single precision; 1.0 at the first activation of the loaded module, then
    // whatever the panel last stored. Never shown in a new panel.
    float remembered[3];
    // The panel's controls, replaced by every panel build.
    host_control *angle_field[3]; // H, P, B
    host_control *drag_button[3]; // H, P, B
    host_control *apply_button;
    host_control *info_field[3]; // H, P, B: last drag angles in degrees
    frame_drag_memory drag;      // drag buttons and info fields; never reset
};
extern strova_module_state strova_module;

// The channel an axis code names: magnitude 2 heading, 1 pitch, 3 bank; -1 for any other code.
inline int strova_axis_channel(int32_t axis) {
    switch (frame_axis_number(axis)) {
    case 1: return STROVA_P;
    case 2: return STROVA_H;
    case 3: return STROVA_B;
    default: return -1;
    }
}

inline strova_item *strova_items(strova_instance *inst) { return static_cast<strova_item *>(inst->base.items); }

// computation.cpp
// Retakes the item table from the selection: rotations and rotation envelopes per item.
void strova_snapshot(strova_instance *inst);
// Adds the drag angle to the channel the axis code names, for every item of the snapshot.
void strova_apply_drag_angle(strova_instance *inst);
// Takes a snapshot and adds each non-zero angle (degrees) to its channel for every item.
void strova_apply_panel_angles(strova_instance *inst, double h, double p, double b);

// panel.cpp
host_panel strova_build_panel(frame_instance *inst);

// viewport.cpp: the press, draw, mouse-move and mouse-up.
extern const frame_viewport strova_viewport;

#endif // TOOLS_ADDITIVE_ROTATION_STROVA_H
