// SPDX-License-Identifier: MIT
// The distance scaling tool: multiplies each selected item's offset from an origin (a point the
// user places, or the centre of the selection) by factors, keying the items' position channels at
// the current time.
// instance.cpp: start values, remembered settings, the tool's definition · computation.cpp:
// gather, write keys, panel apply · viewport.cpp: origin cross and mouse callbacks · panel.cpp:
// the panel.
#ifndef TOOLS_DISTANCE_SCALING_MENLIX_H
#define TOOLS_DISTANCE_SCALING_MENLIX_H

#include "frame/host_helpers.h"

// Axes: 1 X, 2 Y, 3 Z; component order everywhere X, Y, Z.
enum { MENLIX_METHOD_STRETCH = 0, MENLIX_METHOD_STRETCH_FLAT = 1, MENLIX_METHOD_SCALE = 2 };
enum { MENLIX_ORIGIN_CUSTOM = 0, MENLIX_ORIGIN_CENTRE = 1 };

// One selected item, as the last gather found it.
struct menlix_item {
    double position[3];        // world position at the current time, when gathered
    double direction[3];       // unit vector from the working origin; zero for an item on the origin
    double distance;           // distance from the working origin, world units
    host_item item;            // the selected item
    double target[3];          // the position the last scaling keyed; starts as the gathered position
    host_envelope envelope[3]; // "Position.X", "Position.Y", "Position.Z"; none when missing
};

// One activation of the tool; owned by the module, freed by the release callback.
struct menlix_instance {
    frame_instance base;      // global function, changed flag, view axis (+-1 X, +-2 Y, +-3 Z; starts
                              // at 1), item count and records, panel
    int32_t method;           // MENLIX_METHOD_*
    int32_t origin_mode;      // MENLIX_ORIGIN_*
    int32_t origin_picked;    // 1 from a press on the cross until the next press
    double horizontal;        // factor from the first drag amount
    double vertical;          // factor from the second drag amount
    double working_origin[3]; // the origin of the last gather, world units
    double custom_origin[3];  // the user's origin: shown in the Origin fields, drawn as the cross
};

// Module-level state: shared by every instance of the loaded module.
struct menlix_module_state {
    float scale[3]; // the Scale X, Y, Z values as last typed, nudged or applied; seed a later panel
    // The panel's controls, replaced by every panel build.
    // Left, "Scale": the X, Y, Z factor fields and their drag buttons; right, "Origin": the X, Y, Z
    // fields of the custom origin and theirs.
    frame_columns_controls columns;
    frame_drag_memory drag; // never reset
};
extern menlix_module_state menlix_module;

inline menlix_item *menlix_items(menlix_instance *inst) { return static_cast<menlix_item *>(inst->base.items); }

// The magnitude of the view axis code: the axis number the view looks along.
inline int32_t menlix_view_axis(const menlix_instance *inst) { return frame_axis_number(inst->base.axis); }

// computation.cpp
void menlix_gather(menlix_instance *inst);
int32_t menlix_write_keys(menlix_instance *inst);
void menlix_panel_apply(menlix_instance *inst);

// panel.cpp
host_panel menlix_build_panel(frame_instance *inst);
// The drag factors in the Scale fields (by method and view axis) and the custom origin in the
// Origin fields, each rounded to single precision. The remembered Scale values stay.
void menlix_show_factors(menlix_instance *inst);

// viewport.cpp: the press, draw, mouse-move and mouse-up.
extern const frame_viewport menlix_viewport;

#endif // TOOLS_DISTANCE_SCALING_MENLIX_H
