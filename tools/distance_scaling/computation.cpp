// SPDX-License-Identifier: MIT
// Gather, write keys and panel apply: how the distance scaling tool reads the selection, settles
// the origin, and keys every gathered item's scaled position at the current time.
#include "frame/c_runtime.h"

#include "matrix/matrix.h"
#include "tools/distance_scaling/menlix.h"

static const char *const menlix_targets[3] = {"Position.X", "Position.Y", "Position.Z"};

// O + d (r f), in that order: the origin plus the unit direction times the scaled distance.
static inline double menlix_scaled(double origin, double direction, double distance, double factor) {
    return origin + direction * (distance * factor);
}

void menlix_gather(menlix_instance *inst) {
    // First pass: the centre of the selection (0 for an empty one).
    double centre[3];
    const int32_t n = frame_selection_mean(centre);

    // A table that cannot be resized holds no records to key from; the origin is settled all the
    // same, from the whole selection.
    const int32_t count = frame_resize_items(&inst->base, n, sizeof(menlix_item));

    if (inst->origin_mode == MENLIX_ORIGIN_CENTRE) {
        for (int c = 0; c < 3; ++c) inst->working_origin[c] = inst->custom_origin[c] = centre[c];
        for (int c = 0; c < 3; ++c) frame_set_float(menlix_module.columns.right.field[c], frame_single(centre[c]));
    } else {
        for (int c = 0; c < 3; ++c) inst->working_origin[c] = inst->custom_origin[c];
    }

    // Second pass: one record per item, its offset from the origin split into distance and
    // direction, its envelopes found by name (cleared first, so a missing channel keys nothing).
    const host_item *selected = frame_selection();
    menlix_item *records = menlix_items(inst);
    for (int32_t i = 0; i < count; ++i) {
        menlix_item *rec = &records[i];
        rec->item = selected[i];
        frame_item_param(rec->item, HOST_ITEM_PARAM_WORLD_POSITION, rec->position);
        Vector3d offset;
        for (int c = 0; c < 3; ++c) offset.v[c] = rec->position[c] - inst->working_origin[c];
        rec->distance = sqrt(offset.v[0] * offset.v[0] + offset.v[1] * offset.v[1] + offset.v[2] * offset.v[2]);
        vector3d_normalize(&offset); // a zero offset stays the zero vector
        for (int c = 0; c < 3; ++c) {
            rec->direction[c] = offset.v[c];
            rec->target[c] = rec->position[c];
        }
        frame_find_envelopes(rec->item, menlix_targets, 3, rec->envelope);
    }
}

int32_t menlix_write_keys(menlix_instance *inst) {
    const double *o = inst->working_origin;
    const double h = inst->horizontal, v = inst->vertical;
    const int32_t k = menlix_view_axis(inst);
    menlix_item *records = menlix_items(inst);
    const int32_t count = inst->base.item_count;
    for (int32_t i = 0; i < count; ++i) {
        menlix_item *rec = &records[i];
        const double *d = rec->direction, r = rec->distance;
        double *t = rec->target;
        if (inst->method == MENLIX_METHOD_STRETCH) {
            // The two in-plane coordinates, each by its own drag amount; the one along the view stays.
            switch (k) {
            case 1:
                t[2] = menlix_scaled(o[2], d[2], r, h);
                t[1] = menlix_scaled(o[1], d[1], r, v);
                break;
            case 2:
                t[0] = menlix_scaled(o[0], d[0], r, h);
                t[2] = menlix_scaled(o[2], d[2], r, v);
                break;
            case 3:
                t[0] = menlix_scaled(o[0], d[0], r, h);
                t[1] = menlix_scaled(o[1], d[1], r, v);
                break;
            default: break;
            }
        } else {
            for (int c = 0; c < 3; ++c) t[c] = menlix_scaled(o[c], d[c], r, h);
        }
        // "Scale" keys every axis; the stretches leave the axis the view looks along alone.
        for (int c = 0; c < 3; ++c) {
            if (inst->method == MENLIX_METHOD_SCALE || c + 1 != k) frame_key_write(rec->envelope[c], t[c]);
        }
    }
    return count;
}

void menlix_panel_apply(menlix_instance *inst) {
    menlix_module_state &m = menlix_module;
    inst->origin_mode = frame_get_int(m.columns.origin_choice, HOST_CTL_VALUE);
    frame_set_int(m.columns.method_choice, HOST_CTL_VALUE, MENLIX_METHOD_STRETCH);
    inst->method = MENLIX_METHOD_STRETCH;
    for (int c = 0; c < 3; ++c) m.scale[c] = static_cast<float>(frame_get_float(m.columns.left.field[c]));
    // The Origin fields are taken at full precision here, unlike a typed value.
    for (int c = 0; c < 3; ++c)
        inst->custom_origin[c] = inst->working_origin[c] = frame_get_float(m.columns.right.field[c]);
    const double f[3] = {static_cast<double>(m.scale[0]), static_cast<double>(m.scale[1]),
                         static_cast<double>(m.scale[2])};
    menlix_gather(inst);

    const double *o = inst->working_origin;
    menlix_item *records = menlix_items(inst);
    const int32_t count = inst->base.item_count;
    for (int32_t i = 0; i < count; ++i) {
        menlix_item *rec = &records[i];
        for (int c = 0; c < 3; ++c) rec->target[c] = menlix_scaled(o[c], rec->direction[c], rec->distance, f[c]);
        // A factor of exactly 1 leaves its axis alone.
        for (int c = 0; c < 3; ++c) {
            if (f[c] != 1.0) frame_key_write(rec->envelope[c], rec->target[c]);
        }
    }
}
