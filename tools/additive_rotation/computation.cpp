// SPDX-License-Identifier: MIT
// Selection snapshot, apply drag angle and apply panel angles: how the additive rotation tool reads
// the selection's rotations and keys them, plus an angle, at the current time.
#include "tools/additive_rotation/strova.h"

// The order of strova_item's envelope fields.
static const char *const strova_targets[3] = {"Rotation.H", "Rotation.P", "Rotation.B"};

void strova_snapshot(strova_instance *inst) {
    const host_item *selected = frame_selection();
    int32_t n = 0;
    while (selected[n]) ++n;

    // A table that cannot be resized counts as an empty selection.
    if (frame_resize_items(&inst->base, n, sizeof(strova_item)) == 0) return;

    strova_item *records = strova_items(inst);
    for (int32_t i = 0; i < n; ++i) {
        strova_item *rec = &records[i];
        frame_item_param(selected[i], HOST_ITEM_PARAM_ROTATION, rec->rotation);
        rec->item = selected[i];
        // Every snapshot finds the envelopes afresh; a channel the item lacks stays none.
        frame_find_envelopes(rec->item, strova_targets, 3, rec->env);
    }
}

void strova_apply_drag_angle(strova_instance *inst) {
    const int channel = strova_axis_channel(inst->base.axis);
    strova_item *records = strova_items(inst);
    const int32_t count = inst->base.item_count;
    for (int32_t i = 0; i < count; ++i) {
        strova_item *rec = &records[i];
        for (int c = 0; c < 3; ++c) rec->new_values[c] = rec->rotation[c] + inst->drag_angle;
        if (channel >= 0) frame_key_write(rec->env[channel], rec->new_values[channel]);
    }
}

void strova_apply_panel_angles(strova_instance *inst, double h, double p, double b) {
    strova_snapshot(inst);
    const double add[3] = {h * FRAME_DEG_TO_RAD, p * FRAME_DEG_TO_RAD, b * FRAME_DEG_TO_RAD};
    // A NaN angle counts as non-zero; the key write then skips the non-finite value.
    const bool keyed[3] = {h != 0.0, p != 0.0, b != 0.0};
    strova_item *records = strova_items(inst);
    const int32_t count = inst->base.item_count;
    for (int32_t i = 0; i < count; ++i) {
        strova_item *rec = &records[i];
        for (int c = 0; c < 3; ++c) rec->new_values[c] = rec->rotation[c] + add[c];
        for (int c = 0; c < 3; ++c) {
            if (keyed[c]) frame_key_write(rec->env[c], rec->new_values[c]);
        }
    }
}
