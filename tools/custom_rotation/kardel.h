// SPDX-License-Identifier: MIT
// The custom rotation tool: rotates the selected items about a world axis through a centre, keying
// their position channels and, with "Rotate", the axis's rotation channel, at the current time.
// instance.cpp: start values, remembered settings, the tool's definition · computation.cpp:
// gather, rotate about axis, apply angles · viewport.cpp: centre cross and the viewport callbacks ·
// panel.cpp: the panel.
#ifndef TOOLS_CUSTOM_ROTATION_KARDEL_H
#define TOOLS_CUSTOM_ROTATION_KARDEL_H

#include "frame/host_helpers.h"

// Axes: 1 X, 2 Y, 3 Z. Channel order in the item record and the panel: X, Y, Z and H, P, B.
enum { KARDEL_H = 0, KARDEL_P = 1, KARDEL_B = 2 };
enum { KARDEL_METHOD_KEEP = 0, KARDEL_METHOD_ROTATE = 1 };
enum { KARDEL_ORIGIN_CUSTOM = 0, KARDEL_ORIGIN_AVERAGE = 1 };

// One selected item, as the last gather found it.
struct kardel_item {
    double position[3];            // world position at the current time, when gathered
    host_item item;                // the selected item
    double new_values[3];          // scratch: the values the current rotation keys
    double rotation[3];            // H, P, B in radians, when gathered
    host_envelope position_env[3]; // "Position.X", "Position.Y", "Position.Z"; none when missing
    host_envelope rotation_env[3]; // "Rotation.H", "Rotation.P", "Rotation.B"; none when missing
};

// One activation of the tool; owned by the module, freed by the release callback.
struct kardel_instance {
    frame_instance base;    // global function, changed flag, axis (1 X, 2 Y, 3 Z; starts at 1 so that a move
                            // before any press is defined), item count and records, panel
    int32_t method;         // KARDEL_METHOD_*
    int32_t origin;         // KARDEL_ORIGIN_*
    int32_t centre_grabbed; // 1 while a drag moves the centre instead of rotating
    double angle;           // degrees: the last move's (0 while the centre is dragged) or Apply's last rotation
    double pivot[3];        // hit-tested by a press; a centre drag keeps its coordinate along the axis
    double centre[3];       // the point items rotate about; drawn and shown in X, Y, Z
};

// Module-level state: shared by every instance of the loaded module.
struct kardel_module_state {
    float remembered[3]; // last H, P, B angles in degrees; shown again by a later panel
    // The panel's controls, replaced by every panel build.
    // Left, "Rotate": the H, P, B fields and their drag buttons; right, "Origin": the X, Y, Z
    // fields of the centre and theirs.
    frame_columns_controls columns;
    host_control *item_list;
    frame_drag_memory drag; // never reset
};
extern kardel_module_state kardel_module;

inline kardel_item *kardel_items(kardel_instance *inst) { return static_cast<kardel_item *>(inst->base.items); }

// What "Apply" takes from the panel, rounded to single precision where it comes from a field.
struct kardel_apply_values {
    int32_t origin;   // KARDEL_ORIGIN_*
    int32_t method;   // KARDEL_METHOD_*
    double angles[3]; // H, P, B in degrees
    double centre[3]; // X, Y, Z
};

// computation.cpp
void kardel_gather(kardel_instance *inst);
// Keys every gathered item rotated by `angle` degrees about world axis `axis` (1 X, 2 Y, 3 Z; the
// sign is ignored, any other axis keys nothing) through the centre.
void kardel_rotate_about_axis(kardel_instance *inst, int32_t axis, double angle);
// Takes the values as the instance's settings, gathers once, and rotates about Z, X and Y in turn
// for each non-zero angle; ends with "Instance Update".
void kardel_apply_angles(kardel_instance *inst, const kardel_apply_values *values);
// Shows the centre in the X, Y, Z fields, each rounded to single precision.
void kardel_show_point(const double point[3]);

// panel.cpp
host_panel kardel_build_panel(frame_instance *inst);

// viewport.cpp: the press, draw, mouse-move and mouse-up.
extern const frame_viewport kardel_viewport;

#endif // TOOLS_CUSTOM_ROTATION_KARDEL_H
