// SPDX-License-Identifier: MIT
// Gather, rotate about axis and apply angles: how the custom rotation tool reads the selection,
// finds the centre, and keys every gathered item's rotated position at the current time.
#include "frame/c_runtime.h"

#include "matrix/matrix.h"
#include "tools/custom_rotation/kardel.h"

// Position targets first, then rotation targets: the order of kardel_item's envelope fields.
static const char *const kardel_targets[6] = {"Position.X", "Position.Y", "Position.Z",
                                              "Rotation.H", "Rotation.P", "Rotation.B"};

void kardel_show_point(const double point[3]) {
    for (int i = 0; i < 3; ++i) {
        frame_set_float(kardel_module.columns.right.field[i], frame_single(point[i]));
    }
}

void kardel_gather(kardel_instance *inst) {
    // First pass: the mean position of the selection.
    double mean[3];
    const int32_t n = frame_selection_mean(mean);

    // A table that cannot be resized counts as an empty selection: centre and fields stay.
    if (frame_resize_items(&inst->base, n, sizeof(kardel_item)) == 0) return;
    if (inst->origin == KARDEL_ORIGIN_AVERAGE) {
        for (int i = 0; i < 3; ++i) inst->centre[i] = mean[i];
    }
    for (int i = 0; i < 3; ++i) inst->pivot[i] = inst->centre[i];

    // Second pass: one record per item, its envelopes found by name.
    const host_item *selected = frame_selection();
    kardel_item *records = kardel_items(inst);
    for (int32_t i = 0; i < n; ++i) {
        kardel_item *rec = &records[i];
        rec->item = selected[i];
        frame_item_param(rec->item, HOST_ITEM_PARAM_WORLD_POSITION, rec->position);
        frame_item_param(rec->item, HOST_ITEM_PARAM_ROTATION, rec->rotation);
        host_envelope envelopes[6];
        frame_find_envelopes(rec->item, kardel_targets, 6, envelopes);
        for (int c = 0; c < 3; ++c) {
            rec->position_env[c] = envelopes[c];
            rec->rotation_env[c] = envelopes[3 + c];
        }
    }

    if (frame_panel_open(inst->base.panel)) kardel_show_point(inst->centre);
}

// The rotation by t radians about world axis k (1 X, 2 Y, 3 Z) for row vectors, built from cos(-t)
// and sin(-t).
static int kardel_rotation_matrix(int32_t k, double t, Matrix3d *m) {
    const double c = cos(-t), s = sin(-t);
    switch (k) {
    case 1: matrix3d_set(m, 1.0, 0.0, 0.0, 0.0, c, -s, 0.0, s, c); return 1;
    case 2: matrix3d_set(m, c, 0.0, s, 0.0, 1.0, 0.0, -s, 0.0, c); return 1;
    case 3: matrix3d_set(m, c, -s, 0.0, s, c, 0.0, 0.0, 0.0, 1.0); return 1;
    default: return 0;
    }
}

void kardel_rotate_about_axis(kardel_instance *inst, int32_t axis, double angle) {
    const double t = angle * FRAME_DEG_TO_RAD;
    const int32_t k = frame_axis_number(axis);
    Matrix3d m;
    if (!kardel_rotation_matrix(k, t, &m)) return;

    kardel_item *records = kardel_items(inst);
    const int32_t count = inst->base.item_count;
    for (int32_t i = 0; i < count; ++i) {
        kardel_item *rec = &records[i];
        Vector3d d, r;
        for (int c = 0; c < 3; ++c) d.v[c] = rec->position[c] - inst->centre[c];
        vector3d_mul_matrix3d(&d, &m, &r);
        for (int c = 0; c < 3; ++c) rec->new_values[c] = inst->centre[c] + r.v[c];

        // The coordinate along the axis is never keyed.
        if (k != 1) frame_key_write(rec->position_env[0], rec->new_values[0]);
        if (k != 2) frame_key_write(rec->position_env[1], rec->new_values[1]);
        if (k != 3) frame_key_write(rec->position_env[2], rec->new_values[2]);

        if (inst->method == KARDEL_METHOD_ROTATE) {
            for (int c = 0; c < 3; ++c) rec->new_values[c] = rec->rotation[c] + t;
            // Y turns the heading, X the pitch, Z the bank.
            if (k == 2) frame_key_write(rec->rotation_env[KARDEL_H], rec->new_values[KARDEL_H]);
            if (k == 1) frame_key_write(rec->rotation_env[KARDEL_P], rec->new_values[KARDEL_P]);
            if (k == 3) frame_key_write(rec->rotation_env[KARDEL_B], rec->new_values[KARDEL_B]);
        }
    }
}

void kardel_apply_angles(kardel_instance *inst, const kardel_apply_values *values) {
    inst->origin = values->origin;
    inst->method = values->method;
    float *remembered = kardel_module.remembered;
    for (int i = 0; i < 3; ++i) remembered[i] = static_cast<float>(values->angles[i]);
    for (int i = 0; i < 3; ++i) inst->centre[i] = inst->pivot[i] = values->centre[i];
    kardel_gather(inst);

    // Every rotation starts from the gathered positions; a channel two of them write keeps the later.
    // The last rotation stays the instance's axis and angle, as after a drag.
    static const int32_t axis_of[3] = {2, 1, 3}; // H about Y, P about X, B about Z
    static const int order[3] = {KARDEL_B, KARDEL_P, KARDEL_H};
    for (int which : order) {
        if (remembered[which] != 0.0f) {
            inst->base.axis = axis_of[which];
            inst->angle = static_cast<double>(remembered[which]);
            kardel_rotate_about_axis(inst, inst->base.axis, inst->angle);
        }
    }
    frame_host.instance_update(HOST_CLASS_LAYOUT_TOOL, inst);
}
